#include "config/user_cache.h"

#include "common/handles.h"
#include "common/text.h"
#include "config/extract.h"
#include "frame/log.h"

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <vector>

namespace morix {
namespace {

constexpr uint64_t kPrime1 = 0x9E3779B185EBCA87ULL;
constexpr uint64_t kPrime2 = 0xC2B2AE3D27D4EB4FULL;
constexpr uint64_t kPrime3 = 0x165667B19E3779F9ULL;
constexpr uint64_t kPrime4 = 0x85EBCA77C2B2AE63ULL;
constexpr uint64_t kPrime5 = 0x27D4EB2F165667C5ULL;
// Files are read through views of this size, so that a 32-bit process finds the address space for one.
constexpr uint64_t kViewSize = 64ULL * 1024 * 1024;
// Nothing larger is cached: a class-data archive is some megabytes, an application's archive rarely more.
constexpr uint64_t kMaxDigestSize = 4ULL * 1024 * 1024 * 1024;
// LOCALAPPDATA longer than this is not used: the cache's own names must still fit into a path.
constexpr DWORD kMaxBaseLength = 1000;
constexpr size_t kMaxListedEntries = 1000;

uint64_t rotateLeft(uint64_t value, int bits) {
    return (value << bits) | (value >> (64 - bits));
}

uint64_t read64(const uint8_t* at) {
    uint64_t value = 0;
    std::memcpy(&value, at, sizeof value);
    return value;
}

uint32_t read32(const uint8_t* at) {
    uint32_t value = 0;
    std::memcpy(&value, at, sizeof value);
    return value;
}

uint64_t mixRound(uint64_t accumulator, uint64_t input) {
    accumulator += input * kPrime2;
    return rotateLeft(accumulator, 31) * kPrime1;
}

uint64_t mergeRound(uint64_t hash, uint64_t lane) {
    hash ^= mixRound(0, lane);
    return hash * kPrime1 + kPrime4;
}

uint64_t stripes(const uint8_t*& at, const uint8_t* end, uint64_t seed) {
    uint64_t lanes[4] = {seed + kPrime1 + kPrime2, seed + kPrime2, seed, seed - kPrime1};
    while (end - at >= 32) {
        for (uint64_t& lane : lanes) {
            lane = mixRound(lane, read64(at));
            at += 8;
        }
    }
    uint64_t hash = rotateLeft(lanes[0], 1) + rotateLeft(lanes[1], 7) + rotateLeft(lanes[2], 12) +
                    rotateLeft(lanes[3], 18);
    for (uint64_t lane : lanes) {
        hash = mergeRound(hash, lane);
    }
    return hash;
}

bool isDirectory(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
           (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0;
}

// A directory of the cache: made private when missing; a link or a file in its place is not used.
bool ensureDirectory(const std::wstring& path) {
    if (isDirectory(path)) {
        return true;
    }
    if (!createPrivateDirectoryWide(path)) {
        const DWORD error = GetLastError();
        if (error != ERROR_ALREADY_EXISTS || !isDirectory(path)) {
            logError(L"CreateDirectoryW of %s failed with error %lu", path.c_str(), error);
            return false;
        }
    }
    logMessage(L"cache: made %s", path.c_str());
    return true;
}

std::optional<std::wstring> cacheBase() {
    std::vector<wchar_t> value(kMaxBaseLength + 1, L'\0');
    const DWORD length = GetEnvironmentVariableW(L"LOCALAPPDATA", value.data(), kMaxBaseLength + 1);
    if (length == 0 || length > kMaxBaseLength) {
        logMessage(L"no per-user cache: LOCALAPPDATA is unset or longer than %lu", kMaxBaseLength);
        return std::nullopt;
    }
    std::wstring base(value.data(), length);
    const bool drive = base.size() >= 3 && base[1] == L':' && base[2] == L'\\';
    if (!drive && !base.starts_with(L"\\\\")) {
        logMessage(L"no per-user cache: LOCALAPPDATA %s is not an absolute path", base.c_str());
        return std::nullopt;
    }
    while (base.size() > 3 && base.back() == L'\\') {
        base.pop_back();
    }
    return base;
}

uint64_t fileTimeMs(const FILETIME& time) {
    return ((static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime) / 10000;
}

uint64_t nowMs() {
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    return fileTimeMs(now);
}

// Removes a directory of the cache with the files directly in it; a link inside is left, and so is the
// directory then.
void removeCacheDirectory(const std::wstring& directory) {
    WIN32_FIND_DATAW entry;
    UniqueFindHandle find(FindFirstFileW((directory + L"\\*").c_str(), &entry));
    size_t listed = 0;
    if (find) {
        do {
            const std::wstring name = entry.cFileName;
            if ((entry.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) == 0) {
                deleteCacheFile(directory + L"\\" + name);
            }
        } while (++listed < kMaxListedEntries && FindNextFileW(find.get(), &entry));
    }
    find.reset();
    if (!RemoveDirectoryW(directory.c_str())) {
        logMessage(L"cache: %s stays (error %lu)", directory.c_str(), GetLastError());
    }
}

struct CacheEntry {
    std::wstring name;
    uint64_t writtenMs = 0;
    bool directory = false;
};

std::vector<CacheEntry> listEntries(const std::wstring& directory, const std::wstring& pattern) {
    std::vector<CacheEntry> entries;
    WIN32_FIND_DATAW entry;
    UniqueFindHandle find(FindFirstFileW((directory + L"\\" + pattern).c_str(), &entry));
    if (!find) {
        return entries;
    }
    do {
        const std::wstring name = entry.cFileName;
        if (name != L"." && name != L".." && (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
            entries.push_back({name, fileTimeMs(entry.ftLastWriteTime),
                               (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0});
        }
    } while (entries.size() < kMaxListedEntries && FindNextFileW(find.get(), &entry));
    return entries;
}

void removeEntry(const std::wstring& directory, const CacheEntry& entry) {
    const std::wstring path = directory + L"\\" + entry.name;
    logMessage(L"cache: removing %s", path.c_str());
    if (entry.directory) {
        removeCacheDirectory(path);
    } else if (!deleteCacheFile(path)) {
        // An archive that a running VM has mapped cannot go; a later trim takes it.
        logMessage(L"cache: %s stays (error %lu)", path.c_str(), GetLastError());
    }
}

bool sameDigest(const std::wstring& path, const FileDigest& expected) {
    const std::optional<FileDigest> found = digestFile(path);
    return found && *found == expected;
}

} // namespace

uint64_t contentChecksum(const void* data, size_t size, uint64_t seed) {
    const auto* at = static_cast<const uint8_t*>(data);
    const uint8_t* end = at + size;
    uint64_t hash = size >= 32 ? stripes(at, end, seed) : seed + kPrime5;
    hash += static_cast<uint64_t>(size);
    for (; end - at >= 8; at += 8) {
        hash ^= mixRound(0, read64(at));
        hash = rotateLeft(hash, 27) * kPrime1 + kPrime4;
    }
    if (end - at >= 4) {
        hash ^= static_cast<uint64_t>(read32(at)) * kPrime1;
        hash = rotateLeft(hash, 23) * kPrime2 + kPrime3;
        at += 4;
    }
    for (; at < end; ++at) {
        hash ^= *at * kPrime5;
        hash = rotateLeft(hash, 11) * kPrime1;
    }
    hash ^= hash >> 33;
    hash *= kPrime2;
    hash ^= hash >> 29;
    hash *= kPrime3;
    hash ^= hash >> 32;
    return hash;
}

std::optional<FileDigest> digestFile(const std::wstring& path) {
    UniqueHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    LARGE_INTEGER size{};
    if (!file || !GetFileSizeEx(file.get(), &size) || size.QuadPart < 0 ||
        static_cast<uint64_t>(size.QuadPart) > kMaxDigestSize) {
        return std::nullopt;
    }
    FileDigest digest{static_cast<uint64_t>(size.QuadPart), 0};
    if (digest.size == 0) {
        digest.checksum = contentChecksum(nullptr, 0);
        return digest;
    }
    UniqueHandle mapping(CreateFileMappingW(file.get(), nullptr, PAGE_READONLY, 0, 0, nullptr));
    if (!mapping) {
        logError(L"CreateFileMappingW of %s failed with error %lu", path.c_str(), GetLastError());
        return std::nullopt;
    }
    // Views one after another, each checksum the seed of the next.
    for (uint64_t offset = 0; offset < digest.size; offset += kViewSize) {
        const size_t length = static_cast<size_t>(std::min(kViewSize, digest.size - offset));
        UniqueMappedView view(MapViewOfFile(mapping.get(), FILE_MAP_READ, static_cast<DWORD>(offset >> 32),
                                            static_cast<DWORD>(offset & 0xFFFFFFFF), length));
        if (!view) {
            logError(L"MapViewOfFile of %s failed with error %lu", path.c_str(), GetLastError());
            return std::nullopt;
        }
        digest.checksum = contentChecksum(view.get(), length, digest.checksum);
    }
    return digest;
}

bool deleteCacheFile(const std::wstring& path) {
    SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    return DeleteFileW(path.c_str()) != FALSE;
}

std::wstring hex64(uint64_t value) {
    return formatWide(L"%08lx%08lx", static_cast<unsigned long>(value >> 32),
                      static_cast<unsigned long>(value & 0xFFFFFFFF));
}

std::wstring userCacheDirectory() {
    const std::optional<std::wstring> base = cacheBase();
    if (!base) {
        return {};
    }
    const std::wstring morix = *base + L"\\Morix";
    const std::wstring cache = morix + L"\\cache";
    if (!ensureDirectory(morix) || !ensureDirectory(cache)) {
        return {};
    }
    return cache;
}

std::wstring stableCopyOf(const std::wstring& file, const std::wstring& name) {
    const std::wstring cache = userCacheDirectory();
    const std::optional<FileDigest> digest = digestFile(file);
    if (cache.empty() || !digest || name.empty() || name.find_first_of(L"\\/:") != std::wstring::npos) {
        logMessage(L"cache: no stable copy of %s", file.c_str());
        return {};
    }
    const std::wstring jars = cache + L"\\jars";
    const std::wstring directory = jars + L"\\" + hex64(digest->checksum);
    const std::wstring target = directory + L"\\" + name;
    if (sameDigest(target, *digest)) {
        return target;
    }
    if (!ensureDirectory(jars)) {
        return {};
    }
    if (!isDirectory(directory)) {
        trimCacheDirectory(jars, L"*", kMaxCachedCopies - 1);
    }
    if (!ensureDirectory(directory)) {
        return {};
    }
    trimCacheDirectory(directory, L"*.tmp", SIZE_MAX);
    if (GetFileAttributesW(target.c_str()) != INVALID_FILE_ATTRIBUTES) {
        logMessage(L"cache: %s is damaged, replacing it", target.c_str());
        deleteCacheFile(target);
    }
    const std::wstring temporary = formatWide(L"%s.%lu.tmp", target.c_str(), GetCurrentProcessId());
    if (!CopyFileW(file.c_str(), temporary.c_str(), FALSE)) {
        logError(L"CopyFileW to %s failed with error %lu", temporary.c_str(), GetLastError());
        return {};
    }
    if (!MoveFileExW(temporary.c_str(), target.c_str(), 0)) {
        // Another start may have put the same copy in place first.
        DeleteFileW(temporary.c_str());
    }
    if (!sameDigest(target, *digest)) {
        logError(L"cache: the copy %s does not match its source", target.c_str());
        return {};
    }
    logMessage(L"cache: copied %s to %s", file.c_str(), target.c_str());
    return target;
}

void trimCacheDirectory(const std::wstring& directory, const std::wstring& pattern, size_t keep) {
    std::vector<CacheEntry> entries = listEntries(directory, pattern);
    const uint64_t now = nowMs();
    std::erase_if(entries, [&](const CacheEntry& entry) {
        if (entry.directory || !endsWithNoCase(wideToUtf8(entry.name), ".tmp")) {
            return false;
        }
        if (now > entry.writtenMs && now - entry.writtenMs > kCacheLeftoverAgeMs) {
            removeEntry(directory, entry);
        }
        return true;
    });
    if (entries.size() <= keep) {
        return;
    }
    std::sort(entries.begin(), entries.end(),
              [](const CacheEntry& a, const CacheEntry& b) { return a.writtenMs < b.writtenMs; });
    for (size_t i = 0; i < entries.size() - keep; ++i) {
        removeEntry(directory, entries[i]);
    }
}

} // namespace morix
