// The builder's configuration file: TOML with named keys (the key table), the numeric form of the
// launcher's ids ([strings], [wide]) and raw ids ([ids]) as an escape hatch. Reading collects every
// finding; a configuration with errors gives no payload.
#pragma once

#include "diagnostic.h"
#include "executable_settings.h"

#include "morix/payload.h"

#include <toml++/toml.h>

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace morix::builder {

// The name under which the Java side's jar is included.
inline constexpr std::string_view kRuntimeJarName = "morix-runtime.jar";

struct ReadOptions {
    // The directory that relative paths of the configuration are taken from.
    std::filesystem::path base;
    // Reads an included file; none when it cannot be read.
    std::function<std::optional<std::string>(const std::filesystem::path&)> readFile;
    std::function<bool(const std::filesystem::path&)> fileExists;
    // The default morix-runtime.jar (beside the builder), when there is one.
    std::optional<std::filesystem::path> runtimeJar;
    // The application's version (morix-build image --version): the launcher's file and product version
    // wherever [executable.version] leaves them open.
    std::optional<payload::VersionNumber> applicationVersion;
};

struct Configuration {
    std::optional<payload::Payload> payload; // none when there are errors
    std::vector<Diagnostic> errors;
    std::vector<Diagnostic> warnings;
    // The [executable] table: what the builder writes into the launcher's resources.
    ExecutableSettings executable;
    // [executable.version] gives both the file and the product version: no application version is needed.
    bool versionsGiven = false;
};

// Reads a configuration from its text; `fileName` only names it in findings. Files are read through
// `options`, so the reader also runs on text held in memory.
Configuration readConfiguration(std::string_view fileName, std::string_view text, const ReadOptions& options);

// Reads the configuration file and the files it names from disk.
Configuration loadConfiguration(const std::filesystem::path& file,
                                const std::optional<std::filesystem::path>& runtimeJar);

ReadOptions diskReadOptions(const std::filesystem::path& base,
                            const std::optional<std::filesystem::path>& runtimeJar);

} // namespace morix::builder
