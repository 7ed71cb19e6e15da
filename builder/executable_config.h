// The launcher's own look: the [executable] settings written into the template's resources, shown by
// inspect, and read back from a launcher's resources for `inspect --format toml`.
#pragma once

#include "executable_settings.h"

#include <filesystem>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace morix::builder {

// The template image with the settings written into its resources. The original file name defaults to
// the launcher's file name, the internal name to its stem.
std::optional<std::string> applyExecutableSettings(const ExecutableSettings& settings, std::string_view image,
                                                   const std::filesystem::path& output, std::string& error);

// The template as a launcher is built from it: a signed one refused unless `dropSignature` allows to drop
// the signature (a new payload or new resources void it), the settings written into its resources.
std::optional<std::string> prepareTemplate(std::string image, const ExecutableSettings& settings,
                                           const std::filesystem::path& output, bool dropSignature,
                                           std::string& error);

// The settings that gave a launcher (file name `name`) its resources, the icon under the name
// `iconFile`: none when the builder did not write its resources (they are the template's own). `notes`
// says what does not come back exactly.
std::optional<ExecutableSettings> executableSettingsOf(std::string_view launcher,
                                                       const std::filesystem::path& name,
                                                       const std::string& iconFile,
                                                       std::vector<std::string>& notes);

// What `inspect` shows of a launcher besides its payload: signature, icons, version information, manifest.
void printExecutable(std::ostream& out, std::string_view image);

} // namespace morix::builder
