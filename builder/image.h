// `morix-build image`: an application folder ready to zip or install. The launcher built from the
// configuration, the application's archives in lib/, optionally a Java runtime at the place the
// configuration's search names, other files the caller places, and a reproducible zip of the folder.
// Everything is checked before anything is written: the class path against lib/, the main class against
// the archives, the runtime against what the launcher loads.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace morix::builder {

struct ImageOptions {
    std::filesystem::path templateFile;
    std::filesystem::path configFile;
    std::filesystem::path output; // the image directory
    // The zip; by default the image directory's path followed by ".zip". `noZip` writes none.
    std::optional<std::filesystem::path> zip;
    bool noZip = false;
    // The launcher's name without ".exe"; by default the configuration file's name without extension.
    std::string name;
    std::vector<std::string> libs;  // "[NAME=]FILE": an archive for lib/
    std::vector<std::string> files; // "NAME=FILE": a file at NAME, relative to the image directory
    std::optional<std::filesystem::path> runtime;
    std::optional<std::filesystem::path> runtimeJar; // the default morix-runtime.jar
    // Used where the configuration leaves them open: the main class, and the application's version,
    // which becomes the launcher's file and product version.
    std::string mainClass;
    std::string version;
    // The time of the zip's entries, seconds since 1970; by default SOURCE_DATE_EPOCH, else 1980-01-01.
    std::optional<int64_t> timestamp;
};

// Builds the image; findings go to the standard error, the summary to the standard output. Returns the
// exit code: 0, or 2 when nothing (or, for a failure while writing, no complete image) was written.
int buildImage(const ImageOptions& options);

} // namespace morix::builder
