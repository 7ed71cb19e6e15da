#include "config/payload.h"

#include "config/locale.h"
#include "config/paths.h"
#include "frame/fatal.h"
#include "frame/log.h"

#include "morix/config_ids.h"
#include "morix/config_values.h"
#include "morix/payload_format.h"

#include <cstdlib>

namespace morix {

ConfigStrings configStrings;
ConfigWideStrings configWideStrings;
uint32_t includedFilesOffset = 0;

namespace {

// Reads exactly `size` bytes; false on a failed or short read, with the count actually read.
bool readExactly(HANDLE file, void* buffer, DWORD size, DWORD& bytesRead) {
    bytesRead = 0;
    return ReadFile(file, buffer, size, &bytesRead, nullptr) && bytesRead == size;
}

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

// A length field that the rest of the file cannot hold is damage, never an allocation request.
bool lengthFits(HANDLE file, int32_t length) {
    LARGE_INTEGER size{};
    return length >= 0 && GetFileSizeEx(file, &size) && length <= size.QuadPart - currentPosition(file);
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
    int16_t value = 0;
    DWORD bytesRead = 0;
    if (!readExactly(file, &value, sizeof value, bytesRead)) {
        logMessage(L"error %d\n", static_cast<int>(GetLastError()));
        fatalError(L"Internal Error: readShort");
    }
    return value;
}

int32_t readInt(HANDLE file) {
    int32_t value = 0;
    DWORD bytesRead = 0;
    if (!readExactly(file, &value, sizeof value, bytesRead)) {
        logMessage(L"error %d %d\n", static_cast<int>(GetLastError()), static_cast<int>(bytesRead));
        fatalError(L"Internal Error: readInt");
    }
    return value;
}

int64_t readLong(HANDLE file) {
    int64_t value = 0;
    DWORD bytesRead = 0;
    if (!readExactly(file, &value, sizeof value, bytesRead)) {
        logMessage(L"error %d\n", static_cast<int>(GetLastError()));
        fatalError(L"Internal Error: readLong");
    }
    return value;
}

std::string readString(HANDLE file) {
    int32_t length = readInt(file);
    std::string value;
    DWORD bytesRead = 0;
    if (!lengthFits(file, length)) {
        fatalError(L"Internal Error: readString");
    }
    value.resize(static_cast<size_t>(length));
    if (length > 0 && !readExactly(file, value.data(), static_cast<DWORD>(length), bytesRead)) {
        fatalError(L"Internal Error: readString");
    }
    return value;
}

std::wstring readWString(HANDLE file) {
    int32_t length = readInt(file);
    if (!lengthFits(file, length)) {
        fatalError(L"Internal Error: readWString");
    }
    std::string bytes(static_cast<size_t>(length), '\0');
    DWORD bytesRead = 0;
    if (length > 0 && !readExactly(file, bytes.data(), static_cast<DWORD>(length), bytesRead)) {
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
    if (static_cast<uint32_t>(readInt(file)) != payload::kMagic) {
        fatalError(L"Internal Error: magic");
    }
    readInt(file);
    readInt(file);
    readLong(file);

    const int32_t narrowCount = readInt(file);
    for (int32_t i = 0; i < narrowCount; ++i) {
        const int32_t id = readInt(file);
        configStrings[id] = readString(file);
    }
    const int32_t wideCount = readInt(file);
    for (int32_t i = 0; i < wideCount; ++i) {
        const int32_t id = readInt(file);
        configWideStrings[id] = readWString(file);
    }

    const std::string locale = selectLocale();
    setLocaleParts(locale);

    // Sets apply in file order: a later matching set overlays an earlier one ("de", then "de_CH").
    const int32_t setCount = readInt(file);
    for (int32_t i = 0; i < setCount; ++i) {
        const std::string setName = readString(file);
        const bool matches =
            locale.compare(0, setName.size(), setName) == 0 && setName.size() <= locale.size();
        const int32_t textCount = readInt(file);
        for (int32_t j = 0; j < textCount; ++j) {
            const int32_t id = readInt(file);
            std::wstring text = readWString(file);
            if (matches) {
                configWideStrings[id] = std::move(text);
            }
        }
    }
    includedFilesOffset = static_cast<uint32_t>(currentPosition(file));
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
