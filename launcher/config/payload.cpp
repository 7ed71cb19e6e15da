#include "config/payload.h"

#include "config/locale.h"
#include "config/paths.h"
#include "frame/fatal.h"
#include "frame/log.h"

#include "morix/config_ids.h"
#include "morix/config_values.h"
#include "morix/payload_format.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace morix {

ConfigStrings configStrings;
ConfigWideStrings configWideStrings;
uint32_t includedFilesOffset = 0;

namespace {

// A failed seek leaves the file at its end, so that the read that follows fails as a short read.
void seekTo(HANDLE file, int64_t offset) {
    LARGE_INTEGER distance;
    distance.QuadPart = offset;
    if (offset < 0 || !SetFilePointerEx(file, distance, nullptr, FILE_BEGIN)) {
        distance.QuadPart = 0;
        SetFilePointerEx(file, distance, nullptr, FILE_END);
    }
}

int64_t currentPosition(HANDLE file) {
    LARGE_INTEGER zero{};
    LARGE_INTEGER position{};
    SetFilePointerEx(file, zero, &position, FILE_CURRENT);
    return position.QuadPart;
}

int64_t fileSize(HANDLE file) {
    LARGE_INTEGER size{};
    return GetFileSizeEx(file, &size) ? size.QuadPart : 0;
}

// The file itself as a source of fields: one read per field.
class DirectSource {
public:
    explicit DirectSource(HANDLE file) : file_(file) {}

    // Exactly `size` bytes; false on a failed or short read, with the count actually read.
    bool read(void* buffer, DWORD size, DWORD& bytesRead) {
        bytesRead = 0;
        return ReadFile(file_, buffer, size, &bytesRead, nullptr) && bytesRead == size;
    }
    int64_t remaining() const { return fileSize(file_) - currentPosition(file_); }

private:
    HANDLE file_;
};

// The configuration part is many small fields, and each read of the file is a system call: it is read
// in chunks. The file's own position runs ahead of the fields; `position` is where they have got to.
class BufferedSource {
public:
    explicit BufferedSource(HANDLE file)
        : file_(file), position_(currentPosition(file)), size_(fileSize(file)) {}

    bool read(void* buffer, DWORD size, DWORD& bytesRead) {
        auto* target = static_cast<char*>(buffer);
        bytesRead = 0;
        while (bytesRead < size) {
            if (next_ == chunk_.size() && !refill()) {
                return false;
            }
            const size_t count = std::min<size_t>(size - bytesRead, chunk_.size() - next_);
            std::memcpy(target + bytesRead, chunk_.data() + next_, count);
            next_ += count;
            bytesRead += static_cast<DWORD>(count);
            position_ += static_cast<int64_t>(count);
        }
        return true;
    }
    int64_t remaining() const { return size_ - position_; }
    int64_t position() const { return position_; }

private:
    static constexpr DWORD kChunkSize = 64 * 1024;

    bool refill() {
        chunk_.resize(kChunkSize);
        next_ = 0;
        DWORD count = 0;
        if (!ReadFile(file_, chunk_.data(), kChunkSize, &count, nullptr)) {
            count = 0;
        }
        chunk_.resize(count);
        return count > 0;
    }

    HANDLE file_;
    std::vector<char> chunk_;
    size_t next_ = 0;
    int64_t position_;
    int64_t size_;
};

// A length field that the rest of the file cannot hold is damage, never an allocation request.
template <typename Source>
bool lengthFits(const Source& source, int32_t length) {
    return length >= 0 && length <= source.remaining();
}

template <typename Value, typename Source>
Value readValue(Source& source, const wchar_t* failure) {
    Value value = 0;
    DWORD bytesRead = 0;
    if (!source.read(&value, sizeof value, bytesRead)) {
        logMessage(L"error %d %d\n", static_cast<int>(GetLastError()), static_cast<int>(bytesRead));
        fatalError(failure);
    }
    return value;
}

template <typename Source>
int32_t readIntFrom(Source& source) {
    return readValue<int32_t>(source, L"Internal Error: readInt");
}

template <typename Source>
std::string readStringFrom(Source& source) {
    const int32_t length = readIntFrom(source);
    if (!lengthFits(source, length)) {
        fatalError(L"Internal Error: readString");
    }
    std::string value(static_cast<size_t>(length), '\0');
    DWORD bytesRead = 0;
    if (length > 0 && !source.read(value.data(), static_cast<DWORD>(length), bytesRead)) {
        fatalError(L"Internal Error: readString");
    }
    return value;
}

template <typename Source>
std::wstring readWStringFrom(Source& source) {
    const int32_t length = readIntFrom(source);
    if (!lengthFits(source, length)) {
        fatalError(L"Internal Error: readWString");
    }
    std::string bytes(static_cast<size_t>(length), '\0');
    DWORD bytesRead = 0;
    if (length > 0 && !source.read(bytes.data(), static_cast<DWORD>(length), bytesRead)) {
        fatalError(L"Internal Error: readWString");
    }
    // An odd byte count keeps length / 2 characters.
    std::wstring value(bytes.size() / 2, L'\0');
    for (size_t i = 0; i < value.size(); ++i) {
        value[i] = static_cast<wchar_t>(static_cast<unsigned char>(bytes[2 * i]) |
                                        (static_cast<unsigned char>(bytes[2 * i + 1]) << 8));
    }
    return value;
}

} // namespace

UniqueHandle openOwnExecutable() {
    const std::wstring& path = getExecutablePathWide();
    UniqueHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        logError(L"Could not open %p %d %s", file.get(), static_cast<int>(GetLastError()), path.c_str());
        fatalError(L"Error opening media file.");
    }
    return file;
}

int16_t readShort(HANDLE file) {
    DirectSource source(file);
    return readValue<int16_t>(source, L"Internal Error: readShort");
}

int32_t readInt(HANDLE file) {
    DirectSource source(file);
    return readIntFrom(source);
}

int64_t readLong(HANDLE file) {
    DirectSource source(file);
    return readValue<int64_t>(source, L"Internal Error: readLong");
}

std::string readString(HANDLE file) {
    DirectSource source(file);
    return readStringFrom(source);
}

std::wstring readWString(HANDLE file) {
    DirectSource source(file);
    return readWStringFrom(source);
}

void seekPayloadStart(HANDLE file) {
    seekTo(file, 60);
    const int64_t peHeader = readInt(file);
    seekTo(file, peHeader + 6);
    const int64_t sections = static_cast<uint16_t>(readShort(file));
    logMessage(L"number of sections: %d", static_cast<int>(sections));
    seekTo(file, peHeader + 20);
    const int64_t optionalHeaderSize = static_cast<uint16_t>(readShort(file));
    logMessage(L"size of optional headers: %d", static_cast<int>(optionalHeaderSize));
    // The last 40-byte section header starts at H - 16; its SizeOfRawData is at H, PointerToRawData at H + 4.
    const int64_t h = peHeader + optionalHeaderSize + 40 * sections;
    logMessage(L"resSectionTableStart: %d", static_cast<int>(h - 16));
    seekTo(file, h);
    const uint32_t rawDataSize = static_cast<uint32_t>(readInt(file));
    seekTo(file, h + 4);
    const uint32_t rawDataOffset = static_cast<uint32_t>(readInt(file));
    logMessage(L"rawDataSize: %d, rawDataOffset: %d", static_cast<int>(rawDataSize),
               static_cast<int>(rawDataOffset));
    seekTo(file, static_cast<int64_t>(rawDataOffset) + rawDataSize);
}

void loadPayloadFrom(HANDLE file) {
    BufferedSource source(file);
    if (static_cast<uint32_t>(readIntFrom(source)) != payload::kMagic) {
        fatalError(L"Internal Error: magic");
    }
    readIntFrom(source);
    readIntFrom(source);
    readValue<int64_t>(source, L"Internal Error: readLong");

    const int32_t narrowCount = readIntFrom(source);
    for (int32_t i = 0; i < narrowCount; ++i) {
        const int32_t id = readIntFrom(source);
        configStrings[id] = readStringFrom(source);
    }
    const int32_t wideCount = readIntFrom(source);
    for (int32_t i = 0; i < wideCount; ++i) {
        const int32_t id = readIntFrom(source);
        configWideStrings[id] = readWStringFrom(source);
    }

    const std::string locale = selectLocale();
    setLocaleParts(locale);

    // Sets apply in file order: a later matching set overlays an earlier one ("de", then "de_CH").
    const int32_t setCount = readIntFrom(source);
    for (int32_t i = 0; i < setCount; ++i) {
        const std::string setName = readStringFrom(source);
        const bool matches =
            locale.compare(0, setName.size(), setName) == 0 && setName.size() <= locale.size();
        const int32_t textCount = readIntFrom(source);
        for (int32_t j = 0; j < textCount; ++j) {
            const int32_t id = readIntFrom(source);
            std::wstring text = readWStringFrom(source);
            if (matches) {
                configWideStrings[id] = std::move(text);
            }
        }
    }
    includedFilesOffset = static_cast<uint32_t>(source.position());
    seekTo(file, source.position());
}

void loadPayload() {
    {
        UniqueHandle file = openOwnExecutable();
        seekPayloadStart(file.get());
        loadPayloadFrom(file.get());
    }
    const int executableType = getConfigInt(ids::kExecutableType);
    if (executableType != executable_type::kGui && executableType != executable_type::kConsoleWithDialogs) {
        errorDialogMode = false;
    }
}

std::string getConfigString(int32_t id, size_t capacity) {
    auto entry = configStrings.find(id);
    if (entry == configStrings.end()) {
        return {};
    }
    const std::string& value = entry->second;
    if (value.size() >= capacity) {
        logMessage(L"ERROR: config string %d truncated (%d %d)", static_cast<int>(id),
                   static_cast<int>(capacity), static_cast<int>(value.size()));
    }
    return cutToCapacity(value, capacity);
}

std::wstring getConfigStringWide(int32_t id, size_t capacity) {
    return narrowToWide(getConfigString(id, capacity));
}

std::wstring getConfigWideString(int32_t id, size_t capacity) {
    auto entry = configWideStrings.find(id);
    if (entry == configWideStrings.end()) {
        return {};
    }
    const std::wstring& value = entry->second;
    if (value.size() >= capacity) {
        logMessage(L"ERROR: config wide string %d truncated (%d %d)", static_cast<int>(id),
                   static_cast<int>(capacity), static_cast<int>(value.size()));
    }
    return cutToCapacity(value, capacity);
}

std::string getConfigStringCopy(int32_t id) {
    auto entry = configStrings.find(id);
    return entry == configStrings.end() ? std::string() : entry->second;
}

int getConfigInt(int32_t id) {
    return std::atoi(getConfigString(id).c_str());
}

std::wstring getMessageText(int32_t id) {
    std::wstring text = getConfigWideString(id);
    return text.empty() ? getConfigStringWide(id) : text;
}

} // namespace morix
