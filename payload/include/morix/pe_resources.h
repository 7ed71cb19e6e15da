// The resources of a PE image (icons, version information, manifest): reading the resource tree of an
// image, and writing a new one into it while the launcher's payload rule keeps holding (the payload
// follows the raw data of the last section header). Portable code: the builder runs on any host.
#pragma once

#include "morix/pe_image.h"

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

    bool operator==(const Resource&) const = default;
};

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
