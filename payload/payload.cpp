#include "morix/payload.h"

#include <cstring>
#include <limits>

namespace morix::payload {
namespace {

void putInt32(std::string& out, int32_t value) {
    auto v = static_cast<uint32_t>(value);
    for (int i = 0; i < 4; ++i) {
        out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
    }
}

void putInt64(std::string& out, int64_t value) {
    auto v = static_cast<uint64_t>(value);
    for (int i = 0; i < 8; ++i) {
        out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
    }
}

void putString(std::string& out, std::string_view value) {
    putInt32(out, static_cast<int32_t>(value.size()));
    out.append(value);
}

void putWString(std::string& out, std::u16string_view value) {
    putInt32(out, static_cast<int32_t>(value.size() * 2));
    for (char16_t c : value) {
        out.push_back(static_cast<char>(c & 0xFF));
        out.push_back(static_cast<char>(c >> 8));
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
        uint32_t v = 0;
        for (int i = 0; i < 4; ++i) {
            v |= static_cast<uint32_t>(static_cast<uint8_t>(bytes_[pos_ + i])) << (8 * i);
        }
        pos_ += 4;
        value = static_cast<int32_t>(v);
        return true;
    }

    bool int64(int64_t& value) {
        if (remaining() < 8) {
            return false;
        }
        uint64_t v = 0;
        for (int i = 0; i < 8; ++i) {
            v |= static_cast<uint64_t>(static_cast<uint8_t>(bytes_[pos_ + i])) << (8 * i);
        }
        pos_ += 8;
        value = static_cast<int64_t>(v);
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

// A string field: its int32 length failing reads as "readInt", a negative or short body as `what`.
bool readLengthPrefixed(Reader& in, std::string_view& body, std::string& error, const char* what) {
    int32_t length = 0;
    if (!in.int32(length)) {
        error = "readInt";
        return false;
    }
    if (length < 0 || !in.bytes(static_cast<size_t>(length), body)) {
        error = what;
        return false;
    }
    return true;
}

std::u16string decodeUtf16le(std::string_view body) {
    std::u16string text(body.size() / 2, u'\0');
    for (size_t i = 0; i < text.size(); ++i) {
        text[i] = static_cast<char16_t>(static_cast<uint8_t>(body[2 * i]) |
                                        (static_cast<uint8_t>(body[2 * i + 1]) << 8));
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
            names += ';';
        }
        names += file.name;
    }
    setString(kIncludedFileCountId, std::to_string(files.size()));
    setString(kIncludedFileNamesId, names);
}

std::string serialize(const Payload& payload) {
    std::string out;
    putInt32(out, static_cast<int32_t>(kMagic));
    putInt32(out, payload.reserved1);
    putInt32(out, payload.reserved2);
    putInt64(out, payload.reserved3);
    putInt32(out, static_cast<int32_t>(payload.strings.size()));
    for (const auto& [id, value] : payload.strings) {
        putInt32(out, id);
        putString(out, value);
    }
    putInt32(out, static_cast<int32_t>(payload.wideStrings.size()));
    for (const auto& [id, value] : payload.wideStrings) {
        putInt32(out, id);
        putWString(out, value);
    }
    putInt32(out, static_cast<int32_t>(payload.messageSets.size()));
    for (const MessageSet& set : payload.messageSets) {
        putString(out, set.locale);
        putInt32(out, static_cast<int32_t>(set.texts.size()));
        for (const auto& [id, text] : set.texts) {
            putInt32(out, id);
            putWString(out, text);
        }
    }
    for (const IncludedFile& file : payload.files) {
        putInt64(out, static_cast<int64_t>(file.content.size()));
        for (char c : file.content) {
            out.push_back(static_cast<char>(static_cast<uint8_t>(c) ^ kFileMask));
        }
    }
    return out;
}

ParseResult parse(std::string_view bytes) {
    ParseResult result;
    Reader in(bytes);
    Payload payload;
    std::string where = "the magic number";
    // Every failure records what was being read and how far the bytes carried.
    auto stop = [&](const char* error) {
        if (error) {
            result.error = error;
        }
        result.stoppedAt = in.position();
        result.where = where;
        return result;
    };

    int32_t magic = 0;
    if (!in.int32(magic)) {
        return stop("readInt");
    }
    if (static_cast<uint32_t>(magic) != kMagic) {
        return stop("magic");
    }
    where = "the header";
    if (!in.int32(payload.reserved1) || !in.int32(payload.reserved2)) {
        return stop("readInt");
    }
    if (!in.int64(payload.reserved3)) {
        return stop("readLong");
    }

    int32_t count = 0;
    std::string_view body;
    where = "the number of narrow strings";
    if (!in.int32(count)) {
        return stop("readInt");
    }
    for (int32_t i = 0; i < count; ++i) {
        int32_t id = 0;
        where = "narrow string " + std::to_string(i + 1) + " of " + std::to_string(count);
        if (!in.int32(id)) {
            return stop("readInt");
        }
        where += " (id " + std::to_string(id) + ")";
        if (!readLengthPrefixed(in, body, result.error, "readString")) {
            return stop(nullptr);
        }
        payload.strings.emplace_back(id, std::string(body));
    }

    where = "the number of wide strings";
    if (!in.int32(count)) {
        return stop("readInt");
    }
    for (int32_t i = 0; i < count; ++i) {
        int32_t id = 0;
        where = "wide string " + std::to_string(i + 1) + " of " + std::to_string(count);
        if (!in.int32(id)) {
            return stop("readInt");
        }
        where += " (id " + std::to_string(id) + ")";
        if (!readLengthPrefixed(in, body, result.error, "readWString")) {
            return stop(nullptr);
        }
        payload.wideStrings.emplace_back(id, decodeUtf16le(body));
    }

    where = "the number of message sets";
    if (!in.int32(count)) {
        return stop("readInt");
    }
    for (int32_t i = 0; i < count; ++i) {
        MessageSet set;
        where = "the name of message set " + std::to_string(i + 1) + " of " + std::to_string(count);
        if (!readLengthPrefixed(in, body, result.error, "readString")) {
            return stop(nullptr);
        }
        set.locale = std::string(body);
        where = "message set " + std::to_string(i + 1) + " of " + std::to_string(count);
        int32_t texts = 0;
        if (!in.int32(texts)) {
            return stop("readInt");
        }
        for (int32_t j = 0; j < texts; ++j) {
            int32_t id = 0;
            where = "text " + std::to_string(j + 1) + " of " + std::to_string(texts) + " of message set " +
                    std::to_string(i + 1) + " of " + std::to_string(count);
            if (!in.int32(id)) {
                return stop("readInt");
            }
            if (!readLengthPrefixed(in, body, result.error, "readWString")) {
                return stop(nullptr);
            }
            set.texts.emplace_back(id, decodeUtf16le(body));
        }
        payload.messageSets.push_back(std::move(set));
    }
    result.filesOffset = in.position();

    // The records follow the names of id 2003, at most as many as id 2002 counts.
    const std::string* countText = payload.findString(kIncludedFileCountId);
    const std::string* namesText = payload.findString(kIncludedFileNamesId);
    int32_t fileCount = countText ? atoiLike(*countText) : 0;
    std::string_view names = namesText ? std::string_view(*namesText) : std::string_view();
    while (!names.empty() && static_cast<int32_t>(payload.files.size()) < fileCount) {
        size_t separator = names.find(';');
        std::string_view name = names.substr(0, separator);
        names = separator == std::string_view::npos ? std::string_view() : names.substr(separator + 1);
        if (name.empty()) {
            continue;
        }
        where = "the included file " + std::string(name);
        int64_t size = 0;
        if (!in.int64(size)) {
            return stop("readLong");
        }
        IncludedFile file{std::string(name), {}};
        if (size > 0) {
            if (static_cast<uint64_t>(size) > in.remaining() || !in.bytes(static_cast<size_t>(size), body)) {
                return stop("readFile");
            }
            file.content.assign(body);
            for (char& c : file.content) {
                c = static_cast<char>(static_cast<uint8_t>(c) ^ kFileMask);
            }
        }
        payload.files.push_back(std::move(file));
    }
    result.end = in.position();
    result.payload = std::move(payload);
    return result;
}

} // namespace morix::payload
