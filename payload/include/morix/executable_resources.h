// The resources that make a launcher look like the application's own program: its icon (from an .ico
// file), its version information and its application manifest. Portable code, no Windows headers.
#pragma once

#include "morix/pe_resources.h"

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace morix::payload {

// One image of an .ico file, with the fields of its directory entry.
struct IconImage {
    uint8_t width = 0;  // 0 stands for 256
    uint8_t height = 0; // 0 stands for 256
    uint8_t colorCount = 0;
    uint16_t planes = 0;
    uint16_t bitCount = 0;
    std::string data; // a BMP without file header, or a PNG

    bool operator==(const IconImage&) const = default;
};

// The images of an .ico file, or none with a one-line reason when it is not one.
std::optional<std::vector<IconImage>> parseIcoFile(std::string_view file, std::string* error);
// An .ico file holding these images, which parseIcoFile gives back.
std::string buildIcoFile(const std::vector<IconImage>& images);
// The images of the group icon 1 that setIcon writes, or none when the resources hold no such icon.
std::optional<std::vector<IconImage>> iconOf(const std::vector<Resource>& resources);

using VersionNumber = std::array<uint16_t, 4>;

// "1.2.3.4": four numbers from 0 to 65535; none for anything else.
std::optional<VersionNumber> parseVersionNumber(std::string_view text);
std::string formatVersionNumber(const VersionNumber& version);

struct VersionInfo {
    VersionNumber fileVersion{};
    VersionNumber productVersion{};
    // The string table (language 0409, Unicode): keys such as "CompanyName", in this order.
    std::vector<std::pair<std::u16string, std::u16string>> strings;
};

// A VS_VERSIONINFO resource, and back. Parsing gives none when the block is malformed.
std::string buildVersionResource(const VersionInfo& info);
std::optional<VersionInfo> parseVersionResource(std::string_view data);

enum class ExecutionLevel { asInvoker, requireAdministrator, highestAvailable };
enum class DpiAwareness { unaware, system, perMonitor, perMonitorV2 };

std::optional<ExecutionLevel> parseExecutionLevel(std::string_view text);
const char* executionLevelName(ExecutionLevel level);
std::optional<DpiAwareness> parseDpiAwareness(std::string_view text);
const char* dpiAwarenessName(DpiAwareness dpi);

// The launcher's application manifest: assembly identity "vudoz", Common Controls 6.0, the supported
// Windows versions, with the processor architecture of the image's machine (X86 or amd64).
std::string buildManifest(uint16_t machine, ExecutionLevel level, DpiAwareness dpi);

// The resource edits, each replacing what the image held of its kind.
void setIcon(std::vector<Resource>& resources, const std::vector<IconImage>& images);
void setVersionInfo(std::vector<Resource>& resources, const VersionInfo& info);
void setManifest(std::vector<Resource>& resources, const std::string& manifest);

} // namespace morix::payload
