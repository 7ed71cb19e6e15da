// The headers of a PE image, read by one walk: where the image ends (and so where a launcher's payload
// starts, at the end of the raw data of the last section header, which is where the launcher looks for
// it at every start), its section table, its data directories, its signature and its checksum.
#pragma once

#include "morix/payload.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace morix::payload {

// What the headers say about an image, as far as resources and the payload care.
struct PeLayout {
    uint16_t machine = 0;
    bool pe32Plus = false;
    uint64_t optionalHeader = 0; // file offset of the optional header
    uint64_t sectionTable = 0;   // file offset of the first section header
    uint16_t sections = 0;
    uint32_t fileAlignment = 0;
    uint32_t sectionAlignment = 0;
    uint32_t sizeOfHeaders = 0;
    uint32_t checksum = 0;
    uint32_t numberOfDirectories = 0;
    uint64_t imageEnd = 0; // the end of the last section's raw data: where the payload starts
};

// The payload offset of a PE image, or none with a one-line reason in `error`. Refuses files that are
// not PE images and images whose last section header does not end the image (a payload written there
// would overwrite the image).
std::optional<uint64_t> findPayloadStart(std::string_view image, std::string* error);

// The same walk, and the optional header besides; none with a reason when that is unusable too.
std::optional<PeLayout> readPeLayout(std::string_view image, std::string* error);

inline constexpr size_t kSectionHeaderSize = 40;

struct SectionHeader {
    std::string name; // up to 8 bytes, NULs trimmed
    uint32_t virtualSize = 0;
    uint32_t virtualAddress = 0;
    uint32_t rawSize = 0;
    uint32_t rawOffset = 0;
    std::string rest; // relocation and line number fields, characteristics: kept as they are

    uint32_t span() const { return virtualSize != 0 ? virtualSize : rawSize; }
    bool holds(uint32_t rva) const { return rva >= virtualAddress && rva - virtualAddress < span(); }
};

// The section table of an image that readPeLayout accepted, and one header written back into it.
std::vector<SectionHeader> readSectionHeaders(std::string_view image, const PeLayout& layout);
void writeSectionHeader(std::string& image, const PeLayout& layout, size_t index,
                        const SectionHeader& section);

inline constexpr uint32_t kResourceDirectory = 2;
inline constexpr uint32_t kCertificateDirectory = 4;
inline constexpr uint32_t kRelocationDirectory = 5;

// A data directory entry; zeros when absent.
struct DataDirectory {
    uint32_t address = 0; // an RVA, except for certificates, where it is a file offset
    uint32_t size = 0;
};
DataDirectory dataDirectory(std::string_view image, const PeLayout& layout, uint32_t index);
// Writes an entry the image has room for; an index beyond its directories is left alone.
void setDataDirectory(std::string& image, const PeLayout& layout, uint32_t index, DataDirectory entry);

// An Authenticode signature: the certificate table named by data directory 4.
bool isSigned(std::string_view image);
// Clears the certificate table entry (the table itself sits behind the image and goes with the old
// payload), so that the image is an unsigned one again.
void dropSignature(std::string& image);

// The PE checksum of a whole file, computed with its own checksum field taken as zero.
uint32_t peChecksum(std::string_view file, const PeLayout& layout);
// Writes a fresh checksum into a file whose checksum field is set; a zero field stays zero.
void refreshChecksum(std::string& file);

// A launcher: the template cut at its payload offset (dropping a symbol table or an earlier payload),
// followed by the payload. None with a reason when the template is unusable.
std::optional<std::string> attachPayload(std::string_view templateImage, const Payload& payload,
                                         std::string* error);

} // namespace morix::payload
