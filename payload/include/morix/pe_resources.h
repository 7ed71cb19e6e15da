// The resources of a PE image (icons, version information, manifest): reading the resource tree of an
// image, and writing a new one into it while the launcher's payload rule keeps holding (the payload
// follows the raw data of the last section header). Portable code: the builder runs on any host.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace morix::payload {

inline constexpr uint16_t kRtIcon = 3;
inline constexpr uint16_t kRtGroupIcon = 14;
inline constexpr uint16_t kRtVersion = 16;
inline constexpr uint16_t kRtManifest = 24;
inline constexpr uint16_t kLanguageEnglishUs = 0x0409;

// A resource type or name: an integer id, or a name (then `id` is unused).
struct ResourceKey {
    uint16_t id = 0;
    std::u16string name;
    bool isName() const { return !name.empty(); }
    bool operator==(const ResourceKey&) const = default;
};

struct Resource {
    ResourceKey type;
    ResourceKey name;
    uint16_t language = 0;
    uint32_t codePage = 0;
    std::string data;
};

// What the section headers say about an image, as far as resources and the payload care.
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

std::optional<PeLayout> readPeLayout(std::string_view image, std::string* error);

// A data directory entry (2: resources, 4: certificates, 5: base relocations); zeros when absent.
struct DataDirectory {
    uint32_t address = 0; // an RVA, except for certificates, where it is a file offset
    uint32_t size = 0;
};
DataDirectory dataDirectory(std::string_view image, const PeLayout& layout, uint32_t index);

// An Authenticode signature: the certificate table named by data directory 4.
bool isSigned(std::string_view image);
// Clears the certificate table entry (the table itself sits behind the image and goes with the old
// payload), so that the image is an unsigned one again.
void dropSignature(std::string& image);

// The PE checksum of a whole file, computed with its own checksum field taken as zero.
uint32_t peChecksum(std::string_view file, const PeLayout& layout);
// Writes a fresh checksum into a file whose checksum field is set; a zero field stays zero.
void refreshChecksum(std::string& file);

// The image's resources in tree order; an image without a resource directory has none. None with a
// one-line reason when the tree is malformed.
std::optional<std::vector<Resource>> readResources(std::string_view image, std::string* error);

// The bytes of a resource section that holds these resources, placed at the RVA `sectionRva`.
std::string buildResourceSection(std::vector<Resource> resources, uint32_t sectionRva);

// The image (without anything behind its last section) with its resource section replaced by one
// holding `resources`: in place when the tree fits, otherwise grown with the base relocations that
// follow it moved behind it, or added before them when the image has no resource section. The section
// table, the image size, the resource and relocation directories and a set checksum are updated.
std::optional<std::string> replaceResources(std::string_view image, const std::vector<Resource>& resources,
                                            std::string* error);

} // namespace morix::payload
