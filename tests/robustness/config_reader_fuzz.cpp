// libFuzzer target for the builder's configuration reader, through its public entry only: each input is
// the text of a configuration; the files it names read as a small fixed content and always exist.
#include "config.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const morix::builder::ReadOptions options = [] {
        morix::builder::ReadOptions o;
        o.base = "/nonexistent/config";
        o.readFile = [](const std::filesystem::path&) { return std::optional<std::string>("PK a jar"); };
        o.fileExists = [](const std::filesystem::path&) { return true; };
        o.runtimeJar = std::filesystem::path("/nonexistent/morix-runtime.jar");
        return o;
    }();
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const morix::builder::Configuration config = morix::builder::readConfiguration("app.toml", text, options);
    // A configuration is either built or refused with at least one finding that says why.
    if (config.payload.has_value() == !config.errors.empty()) {
        std::abort();
    }
    return 0;
}
