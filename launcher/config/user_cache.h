// The per-user cache: files that must keep one path from run to run (a class-data archive records the
// class path it was made with, and so needs the included archives at a stable place), kept under
// %LOCALAPPDATA%\Morix\cache, in directories only this account, SYSTEM and the administrators may enter.
// Every file in it is checked by size and content checksum before use; what is written goes in under a
// temporary name and is renamed into place, so that no reader ever sees half of it. The cache is bounded:
// at most kMaxCachedArchives class-data archives and kMaxCachedCopies archive copies, the oldest going
// first, trimmed only when something new is written.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace morix {

inline constexpr size_t kMaxCachedArchives = 8;
inline constexpr size_t kMaxCachedCopies = 16;
// A temporary file of the cache that is older than this belongs to a run that ended before renaming it.
inline constexpr uint64_t kCacheLeftoverAgeMs = 10ULL * 60 * 1000;

struct FileDigest {
    uint64_t size = 0;
    uint64_t checksum = 0;
    bool operator==(const FileDigest&) const = default;
};

// The 64-bit content checksum of the cache (xxHash64 with the given seed).
uint64_t contentChecksum(const void* data, size_t size, uint64_t seed = 0);
// The size and checksum of a file's content; none when it cannot be opened or read.
std::optional<FileDigest> digestFile(const std::wstring& path);
// Sixteen lower-case hexadecimal digits.
std::wstring hex64(uint64_t value);

// The cache directory, created when missing; empty (logged) when LOCALAPPDATA is unset, not an absolute
// path, or the directory cannot be made or is a link.
std::wstring userCacheDirectory();

// The copy of an archive at a path that depends only on its content: <cache>\jars\<checksum>\<name>.
// An existing copy is used when its size and checksum match; a damaged one is replaced. Empty (logged)
// when no copy can be made.
std::wstring stableCopyOf(const std::wstring& file, const std::wstring& name);

// Deletes a file of the cache; the VM writes its archives read-only. False (GetLastError tells why) when
// it stays, as an archive that a running VM has mapped does.
bool deleteCacheFile(const std::wstring& path);

// Deletes, of the entries in `directory` that match `pattern`, the oldest until at most `keep` remain
// (a directory entry with the files directly in it), and temporary ".tmp" files of ended runs. At most
// 1,000 entries are looked at.
void trimCacheDirectory(const std::wstring& directory, const std::wstring& pattern, size_t keep);

} // namespace morix
