// [service]: the Windows service's name, description, start type, dependencies and stop timeout.
#include "key_converters.h"
#include "key_sections.h"

#include "morix/config_ids.h"

namespace morix::builder {
namespace {

void encodeServiceName(const Key& key, const toml::node& value, Encoder& out) {
    std::optional<std::string> text = readText(key, value, out);
    if (!text) {
        return;
    }
    // The service manager refuses such names at install time; the launcher would still run.
    if (text->empty() || text->size() > 256 || text->find_first_of("/\\") != std::string::npos) {
        out.warning(value.source(), key.dotted(),
                    "Windows accepts service names of 1 to 256 characters without '/' or '\\'; /install "
                    "will fail with this one");
    }
    out.set(key.id(), *text, key.dotted(), value.source());
}

void encodeServiceStart(const Key& key, const toml::node& value, Encoder& out) {
    std::optional<std::string> text = out.string(value, key.dotted());
    if (!text) {
        return;
    }
    if (*text != "demand" && *text != "auto") {
        out.error(value.source(), key.dotted(), "expected \"demand\" or \"auto\", found \"" + *text + "\"");
        return;
    }
    out.executableType.autoStart = *text == "auto";
    out.executableType.at = &value;
}

// The stop timeout is an option of the Java side, behind the configured JVM options (id 123).
void encodeStopTimeout(const Key& key, const toml::node& value, Encoder& out) {
    if (std::optional<int64_t> seconds = out.integer(value, key.dotted(), payload::kMinStopTimeoutSeconds,
                                                     payload::kMaxStopTimeoutSeconds)) {
        out.stopTimeoutOption = std::string(kStopTimeoutOption) + std::to_string(*seconds);
        if (!out.jvmOptionsAt) {
            out.jvmOptionsAt = value.source();
        }
        if (!out.owners.count(key.id())) {
            out.owners[key.id()] = {key.dotted(), value.source()};
        }
    }
}

std::optional<std::string> decodeStopTimeout(const Key& key, Decoder& in) {
    if (!in.stopTimeout) {
        return std::nullopt;
    }
    in.take(key.id());
    return std::to_string(*in.stopTimeout);
}

// The rows, in the order of the reference.
const Key kRows[] = {
    {.section = "service",
     .name = "name",
     .type = "string",
     .defaultText = "none",
     .meaning = "The service name (also its display name); a name after a service command "
                "replaces it.",
     .example = "\"MyService\"",
     .exampleSets = {{ids::kServiceName, "MyService"}},
     .ids = {ids::kServiceName},
     .encode = encodeServiceName,
     .decode = decodeText},
    {.section = "service",
     .name = "description",
     .type = "string",
     .defaultText = "none",
     .meaning = "The description that install registers (any Unicode text).",
     .example = "\"Runs My Application\"",
     .exampleSets = {{ids::kServiceDescription, "Runs My Application"}},
     .ids = {ids::kServiceDescription},
     .encode = encodeWideText,
     .decode = decodeWideText,
     .wide = true},
    {.section = "service",
     .name = "start",
     .type = "\"demand\" or \"auto\"",
     .defaultText = "\"demand\"",
     .meaning = "\"auto\" makes the plain /install register automatic start (id 107 = 4); "
                "/install-auto and /install-demand choose for themselves. Excludes "
                "launcher.type = \"gui\" and launcher.error_dialogs.",
     .example = "\"auto\"",
     .exampleSets = {{ids::kExecutableType, "4"}},
     .ids = {ids::kExecutableType},
     .encode = encodeServiceStart,
     .decode = decodeExecutableType},
    {.section = "service",
     .name = "dependencies",
     .type = "list of strings",
     .defaultText = "none",
     .meaning = "The services that this service depends on.",
     .example = "[\"Tcpip\", \"Afd\"]",
     .exampleSets = {{ids::kServiceDependencies, "Tcpip,Afd"}},
     .ids = {ids::kServiceDependencies},
     .encode = [](const Key& k, const toml::node& v,
                  Encoder& o) { encodeJoinedList(k, v, o, kDependencySeparator, false); },
     .decode = [](const Key& k, Decoder& d) { return decodeJoinedList(k, d, kDependencySeparator, false); }},
    {.section = "service",
     .name = "stop_timeout",
     .type = "integer (seconds, 1 to 3600)",
     .defaultText = "the Java side's own (20)",
     .meaning = "How long the Java side waits for the application to end after a stop request; "
                "adds -Dmorix.stopTimeout=N after the JVM options. The service host ends a child "
                "that is still running 10 s after that.",
     .example = "30",
     .exampleSets = {{ids::kVmOptions, "-Dmorix.stopTimeout=30"}},
     .ids = {ids::kVmOptions},
     .encode = encodeStopTimeout,
     .decode = decodeStopTimeout},
};

} // namespace

std::vector<Key> serviceKeys() {
    return {std::begin(kRows), std::end(kRows)};
}

} // namespace morix::builder
