// libFuzzer target for the builder's configuration reader, through its public entry only: each input
// is a configuration file in a directory of its own that holds the files the seeds include.
#include "config.h"

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

namespace {

const std::filesystem::path& workDirectory() {
    static const std::filesystem::path directory = [] {
        char pattern[] = "/tmp/morix-config-fuzz-XXXXXX";
        if (!mkdtemp(pattern)) {
            std::abort();
        }
        std::filesystem::path made(pattern);
        std::ofstream(made / "app.jar") << "PK a jar";
        std::filesystem::create_directory(made / "build");
        std::ofstream(made / "build" / "lib.jar") << "PK a library";
        return made;
    }();
    return directory;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::filesystem::path file = workDirectory() / "app.toml";
    {
        std::ofstream out(file, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    std::string error;
    std::optional<morix::payload::Payload> payload = morix::builder::loadConfig(file, error);
    if (payload) {
        morix::builder::addDefaultMessages(*payload);
    } else if (error.empty()) {
        std::abort(); // a refused configuration always says why
    }
    return 0;
}
