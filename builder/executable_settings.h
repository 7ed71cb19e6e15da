// What the [executable] table of the builder's configuration gives a launcher: its icon, version
// information and manifest settings. The key table reads them; executable_config.h writes them into
// the template's resources and reads them back from a launcher's.
#pragma once

#include "morix/executable_resources.h"

#include <string>
#include <utility>
#include <vector>

namespace morix::builder {

struct ExecutableVersion {
    payload::VersionNumber fileVersion{};
    payload::VersionNumber productVersion{};
    // The string table entries the configuration sets, by their Windows key ("CompanyName", ...), in
    // the order of the key table.
    std::vector<std::pair<std::u16string, std::u16string>> strings;

    bool operator==(const ExecutableVersion&) const = default;
};

struct ExecutableSettings {
    bool present = false; // the configuration has an [executable] table
    std::string iconFile; // the icon's path as the configuration gives it (UTF-8)
    std::vector<payload::IconImage> icon;
    payload::ExecutionLevel executionLevel = payload::ExecutionLevel::asInvoker;
    payload::DpiAwareness dpiAwareness = payload::DpiAwareness::unaware;
    std::optional<ExecutableVersion> version;

    bool operator==(const ExecutableSettings&) const = default;
};

} // namespace morix::builder
