// The payload that the build tool appends to a copy of the launcher template: configuration strings by
// integer id (narrow and wide), localized message sets, and the records of the included files.
// Portable code: used by the builder on any host and by the Windows tests to make launchers.
#pragma once

#include "morix/config_ids.h"
#include "morix/payload_format.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace morix::payload {

struct MessageSet {
    std::string locale; // a locale prefix such as "de" or "pt_BR"; empty matches every locale
    std::vector<std::pair<int32_t, std::u16string>> texts;
};

struct IncludedFile {
    std::string name;    // relative to the launcher's temporary directory, at most one directory level
    std::string content; // plain bytes; masked when written
};

struct Payload {
    int32_t reserved1 = 0;
    int32_t reserved2 = 0;
    int64_t reserved3 = 0;
    // In file order; a repeated id is written twice and the launcher keeps the later value.
    std::vector<std::pair<int32_t, std::string>> strings;
    std::vector<std::pair<int32_t, std::u16string>> wideStrings;
    std::vector<MessageSet> messageSets;
    std::vector<IncludedFile> files;

    // Replaces every entry of the id by one entry with this value (appended when absent).
    void setString(int32_t id, std::string value);
    void setWideString(int32_t id, std::u16string value);
    // The value the launcher would see for the id (the last entry), or none.
    const std::string* findString(int32_t id) const;
    const std::u16string* findWideString(int32_t id) const;
    // Sets the count and the ";"-separated names of the included files from `files`.
    void describeIncludedFiles();
};

// The payload's bytes: header, configuration, message sets, then the included-file records.
std::string serialize(const Payload& payload);

struct ParseResult {
    std::optional<Payload> payload;
    // On failure, the launcher's own name for the read that failed: "magic", "readInt", "readString",
    // "readWString" or "readLong".
    std::string error;
    size_t filesOffset = 0; // offset of the first included-file record, relative to the payload start
    size_t end = 0;         // offset just after the last record that was read
    // On failure: the offset up to which the bytes could be read, and what was being read there.
    size_t stoppedAt = 0;
    std::string where;
};

// Reads a payload the way the launcher does; the included-file records are found through the count and
// the names of the included files (ids::kIncludedFileCount, ids::kIncludedFileNames).
ParseResult parse(std::string_view bytes);

} // namespace morix::payload
