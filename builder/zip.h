// Zip archives: a reproducible writer for application images (entries in name order, one fixed time,
// fixed attributes, so that the same files give the same bytes) and a reader of the entry names of jars.
#pragma once

#include <cstdint>
#include <filesystem>
#include <istream>
#include <optional>
#include <string>
#include <vector>

namespace morix::builder {

// 1980-01-01 00:00:00 UTC, the earliest time a zip entry can carry.
inline constexpr int64_t kEarliestZipTime = 315532800;

struct ZipEntry {
    std::string name;             // UTF-8, "/" between the parts; a directory's name ends with "/"
    std::filesystem::path source; // the file whose content the entry holds; empty for a directory
};

// The MS-DOS date and time of a zip entry for seconds since 1970 (UTC); earlier than 1980 gives 1980.
struct DosTime {
    uint16_t time = 0;
    uint16_t date = 0;
};
DosTime dosTime(int64_t secondsSinceEpoch);

// Writes the entries, sorted by name, compressed, all with the one time given. The archive has no zip64
// records: more than 65535 entries or more than 4 GB is refused. False with a one-line reason.
bool writeZip(const std::filesystem::path& file, std::vector<ZipEntry> entries, int64_t secondsSinceEpoch,
              std::string& problem);

// The entry names in the central directory of a zip (or jar) file; none when it is not one this reader
// understands (zip64 archives included).
std::optional<std::vector<std::string>> zipEntryNames(std::istream& in);

} // namespace morix::builder
