#include "morix/payload.h"

#include "little_endian.h"

#include "morix/config_values.h"

#include <limits>

namespace morix::payload {
namespace {

void putString(std::string& out, std::string_view value) {
    appendU32(out, static_cast<uint32_t>(value.size()));
    out.append(value);
}

void putWString(std::string& out, std::u16string_view value) {
    appendU32(out, static_cast<uint32_t>(value.size() * 2));
    for (char16_t c : value) {
        appendU16(out, static_cast<uint16_t>(c));
    }
}

// Reads little-endian fields and fails the way the launcher's read primitives do.
class Reader {
public:
    explicit Reader(std::string_view bytes) : bytes_(bytes) {}

    bool int32(int32_t& value) {
        if (remaining() < 4) {
            return false;
        }
        value = static_cast<int32_t>(readU32(bytes_, pos_));
        pos_ += 4;
        return true;
    }

    bool int64(int64_t& value) {
        if (remaining() < 8) {
            return false;
        }
        value = static_cast<int64_t>(readU64(bytes_, pos_));
        pos_ += 8;
        return true;
    }

    bool bytes(size_t count, std::string_view& out) {
        if (remaining() < count) {
            return false;
        }
        out = bytes_.substr(pos_, count);
        pos_ += count;
        return true;
    }

    size_t position() const { return pos_; }
    size_t remaining() const { return bytes_.size() - pos_; }

private:
    std::string_view bytes_;
    size_t pos_ = 0;
};

std::u16string decodeUtf16le(std::string_view body) {
    std::u16string text(body.size() / 2, u'\0');
    for (size_t i = 0; i < text.size(); ++i) {
        text[i] = static_cast<char16_t>(readU16(body, 2 * i));
    }
    return text;
}

// The C runtime's atoi, as the launcher reads integer settings.
int32_t atoiLike(std::string_view text) {
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) {
        ++i;
    }
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    int64_t value = 0;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
        value = value * 10 + (text[i] - '0');
        if (value > std::numeric_limits<int32_t>::max()) {
            value = std::numeric_limits<int32_t>::max();
        }
        ++i;
    }
    return static_cast<int32_t>(negative ? -value : value);
}

// Reads the payload section by section; every failure records what was being read and how far the
// bytes carried.
class PayloadReader {
public:
    explicit PayloadReader(std::string_view bytes) : in_(bytes) {}

    ParseResult read() {
        auto narrow = [this](int32_t id, std::string_view body) {
            payload_.strings.emplace_back(id, std::string(body));
        };
        auto wide = [this](int32_t id, std::string_view body) {
            payload_.wideStrings.emplace_back(id, decodeUtf16le(body));
        };
        if (header() && idStrings("narrow string", "readString", narrow) &&
            idStrings("wide string", "readWString", wide) && messageSets()) {
            result_.filesOffset = in_.position();
            if (includedFiles()) {
                result_.end = in_.position();
                result_.payload = std::move(payload_);
            }
        }
        return std::move(result_);
    }

private:
    // `error` is the launcher's name for the failed read; none when a string read has set it already.
    bool stop(const char* error) {
        if (error) {
            result_.error = error;
        }
        result_.stoppedAt = in_.position();
        result_.where = where_;
        return false;
    }

    // A string field: its int32 length failing reads as "readInt", a negative or short body as `what`.
    bool lengthPrefixed(std::string_view& body, const char* what) {
        int32_t length = 0;
        if (!in_.int32(length)) {
            return stop("readInt");
        }
        if (length < 0 || !in_.bytes(static_cast<size_t>(length), body)) {
            return stop(what);
        }
        return true;
    }

    bool header() {
        where_ = "the magic number";
        int32_t magic = 0;
        if (!in_.int32(magic)) {
            return stop("readInt");
        }
        if (static_cast<uint32_t>(magic) != kMagic) {
            return stop("magic");
        }
        where_ = "the header";
        if (!in_.int32(payload_.reserved1) || !in_.int32(payload_.reserved2)) {
            return stop("readInt");
        }
        if (!in_.int64(payload_.reserved3)) {
            return stop("readLong");
        }
        return true;
    }

    // A count, then as many ids with a string each.
    template <typename Store>
    bool idStrings(const std::string& kind, const char* stringError, Store store) {
        where_ = "the number of " + kind + "s";
        int32_t count = 0;
        if (!in_.int32(count)) {
            return stop("readInt");
        }
        for (int32_t i = 0; i < count; ++i) {
            where_ = kind + " " + std::to_string(i + 1) + " of " + std::to_string(count);
            int32_t id = 0;
            if (!in_.int32(id)) {
                return stop("readInt");
            }
            where_ += " (id " + std::to_string(id) + ")";
            std::string_view body;
            if (!lengthPrefixed(body, stringError)) {
                return false;
            }
            store(id, body);
        }
        return true;
    }

    bool messageSets() {
        where_ = "the number of message sets";
        int32_t count = 0;
        if (!in_.int32(count)) {
            return stop("readInt");
        }
        for (int32_t i = 0; i < count; ++i) {
            const std::string ofSets = std::to_string(i + 1) + " of " + std::to_string(count);
            MessageSet set;
            where_ = "the name of message set " + ofSets;
            std::string_view body;
            if (!lengthPrefixed(body, "readString")) {
                return false;
            }
            set.locale = std::string(body);
            where_ = "message set " + ofSets;
            int32_t texts = 0;
            if (!in_.int32(texts)) {
                return stop("readInt");
            }
            for (int32_t j = 0; j < texts; ++j) {
                where_ = "text " + std::to_string(j + 1) + " of " + std::to_string(texts) +
                         " of message set " + ofSets;
                int32_t id = 0;
                if (!in_.int32(id)) {
                    return stop("readInt");
                }
                if (!lengthPrefixed(body, "readWString")) {
                    return false;
                }
                set.texts.emplace_back(id, decodeUtf16le(body));
            }
            payload_.messageSets.push_back(std::move(set));
        }
        return true;
    }

    // The records follow the included files' names, at most as many as their count says.
    bool includedFiles() {
        const std::string* countText = payload_.findString(ids::kIncludedFileCount);
        const std::string* namesText = payload_.findString(ids::kIncludedFileNames);
        const int32_t fileCount = countText ? atoiLike(*countText) : 0;
        std::string_view names = namesText ? std::string_view(*namesText) : std::string_view();
        while (!names.empty() && static_cast<int32_t>(payload_.files.size()) < fileCount) {
            const size_t separator = names.find(kListSeparator);
            const std::string_view name = names.substr(0, separator);
            names = separator == std::string_view::npos ? std::string_view() : names.substr(separator + 1);
            if (name.empty()) {
                continue;
            }
            where_ = "the included file " + std::string(name);
            int64_t size = 0;
            if (!in_.int64(size)) {
                return stop("readLong");
            }
            IncludedFile file{std::string(name), {}};
            std::string_view body;
            if (size > 0) {
                if (static_cast<uint64_t>(size) > in_.remaining() ||
                    !in_.bytes(static_cast<size_t>(size), body)) {
                    return stop("readFile");
                }
                file.content.assign(body);
                for (char& c : file.content) {
                    c = static_cast<char>(static_cast<uint8_t>(c) ^ kFileMask);
                }
            }
            payload_.files.push_back(std::move(file));
        }
        return true;
    }

    Reader in_;
    Payload payload_;
    ParseResult result_;
    std::string where_;
};

} // namespace

void Payload::setString(int32_t id, std::string value) {
    std::erase_if(strings, [id](const auto& entry) { return entry.first == id; });
    strings.emplace_back(id, std::move(value));
}

void Payload::setWideString(int32_t id, std::u16string value) {
    std::erase_if(wideStrings, [id](const auto& entry) { return entry.first == id; });
    wideStrings.emplace_back(id, std::move(value));
}

const std::string* Payload::findString(int32_t id) const {
    const std::string* found = nullptr;
    for (const auto& [key, value] : strings) {
        if (key == id) {
            found = &value;
        }
    }
    return found;
}

const std::u16string* Payload::findWideString(int32_t id) const {
    const std::u16string* found = nullptr;
    for (const auto& [key, value] : wideStrings) {
        if (key == id) {
            found = &value;
        }
    }
    return found;
}

void Payload::describeIncludedFiles() {
    std::string names;
    for (const IncludedFile& file : files) {
        if (!names.empty()) {
            names += kListSeparator;
        }
        names += file.name;
    }
    setString(ids::kIncludedFileCount, std::to_string(files.size()));
    setString(ids::kIncludedFileNames, names);
}

std::string serialize(const Payload& payload) {
    std::string out;
    appendU32(out, kMagic);
    appendU32(out, static_cast<uint32_t>(payload.reserved1));
    appendU32(out, static_cast<uint32_t>(payload.reserved2));
    appendU64(out, static_cast<uint64_t>(payload.reserved3));
    appendU32(out, static_cast<uint32_t>(payload.strings.size()));
    for (const auto& [id, value] : payload.strings) {
        appendU32(out, static_cast<uint32_t>(id));
        putString(out, value);
    }
    appendU32(out, static_cast<uint32_t>(payload.wideStrings.size()));
    for (const auto& [id, value] : payload.wideStrings) {
        appendU32(out, static_cast<uint32_t>(id));
        putWString(out, value);
    }
    appendU32(out, static_cast<uint32_t>(payload.messageSets.size()));
    for (const MessageSet& set : payload.messageSets) {
        putString(out, set.locale);
        appendU32(out, static_cast<uint32_t>(set.texts.size()));
        for (const auto& [id, text] : set.texts) {
            appendU32(out, static_cast<uint32_t>(id));
            putWString(out, text);
        }
    }
    for (const IncludedFile& file : payload.files) {
        appendU64(out, file.content.size());
        for (char c : file.content) {
            out.push_back(static_cast<char>(static_cast<uint8_t>(c) ^ kFileMask));
        }
    }
    return out;
}

ParseResult parse(std::string_view bytes) {
    return PayloadReader(bytes).read();
}

} // namespace morix::payload
