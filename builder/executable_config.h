// The [executable] table of the builder's configuration: the launcher's icon, version information and
// manifest settings, read into settings, written into the template's resources, and shown by inspect.
#pragma once

#include "morix/executable_resources.h"

#include <toml++/toml.h>

#include <filesystem>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>

namespace morix::builder {

struct ExecutableVersion {
    payload::VersionNumber fileVersion{};
    payload::VersionNumber productVersion{};
    // The string table entries the configuration sets, by their Windows key ("CompanyName", ...).
    std::vector<std::pair<std::u16string, std::u16string>> strings;
};

struct ExecutableSettings {
    bool present = false; // the configuration has an [executable] table
    std::vector<payload::IconImage> icon;
    payload::ExecutionLevel executionLevel = payload::ExecutionLevel::asInvoker;
    payload::DpiAwareness dpiAwareness = payload::DpiAwareness::unaware;
    std::optional<ExecutableVersion> version;
};

// Reads the [executable] table; the icon file is read now (relative to `base`), so that a bad one stops
// the build before anything is written. On failure returns false with a one-line reason in `error`.
bool readExecutableSettings(const toml::table& table, const std::filesystem::path& base,
                            ExecutableSettings& out, std::string& error);

// The template image with the settings written into its resources. The original file name defaults to
// the launcher's file name, the internal name to its stem.
std::optional<std::string> applyExecutableSettings(const ExecutableSettings& settings, std::string_view image,
                                                   const std::filesystem::path& output, std::string& error);

// The template as a launcher is built from it: a signed one refused unless `dropSignature` allows to drop
// the signature (a new payload or new resources void it), the settings written into its resources.
std::optional<std::string> prepareTemplate(std::string image, const ExecutableSettings& settings,
                                           const std::filesystem::path& output, bool dropSignature,
                                           std::string& error);

// What `inspect` shows of a launcher besides its payload: signature, icons, version information, manifest.
void printExecutable(std::ostream& out, std::string_view image);

} // namespace morix::builder
