// [service]: the Windows service's name, display name, description, account, start type, dependencies,
// the system's recovery and the stop timeout.
#include "key_converters.h"
#include "key_sections.h"

#include "morix/config_ids.h"
#include "morix/config_values.h"

#include <algorithm>
#include <cctype>

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
    if (*text != "demand" && *text != "auto" && *text != "delayed-auto") {
        out.error(value.source(), key.dotted(),
                  "expected \"demand\", \"auto\" or \"delayed-auto\", found \"" + *text + "\"");
        return;
    }
    out.executableType.autoStart = *text != "demand";
    out.executableType.at = &value;
    if (*text == "delayed-auto") {
        out.set(ids::kServiceDelayedStart, "1", key.dotted(), value.source());
    }
}

std::optional<std::string> decodeServiceStart(const Key& key, Decoder& in) {
    const std::string* delayed = in.narrow(ids::kServiceDelayedStart);
    if (delayed && *delayed != "1") {
        return std::nullopt;
    }
    std::optional<std::string> start = decodeExecutableType(key, in);
    if (start && delayed) {
        in.take(ids::kServiceDelayedStart);
        return "\"delayed-auto\"";
    }
    return start;
}

// The built-in accounts by their short names, or DOMAIN\user: the launcher passes it on as written.
void encodeAccount(const Key& key, const toml::node& value, Encoder& out) {
    std::optional<std::string> text = out.string(value, key.dotted());
    if (!text) {
        return;
    }
    const std::vector<std::string> builtIn = {service_account::kLocalSystem, service_account::kLocalService,
                                              service_account::kNetworkService};
    const size_t slash = text->find('\\');
    const bool userForm = slash != std::string::npos && slash > 0 && slash + 1 < text->size() &&
                          text->find('\\', slash + 1) == std::string::npos;
    const bool printable = std::none_of(text->begin(), text->end(), [](char c) {
        return static_cast<unsigned char>(c) < 0x20 || c == '"' || c == '@';
    });
    const bool known = std::any_of(builtIn.begin(), builtIn.end(), [&](const std::string& name) {
        return std::equal(name.begin(), name.end(), text->begin(), text->end(),
                          [](char a, char b) { return std::tolower(a) == std::tolower(b); });
    });
    if (!known && (!userForm || !printable)) {
        std::string nearest = nearestName(*text, builtIn);
        out.error(value.source(), key.dotted(),
                  "expected \"LocalSystem\", \"LocalService\", \"NetworkService\" or a user account as "
                  "DOMAIN\\\\user, found \"" +
                      *text + "\"",
                  nearest.empty() ? "write an account of this machine as \".\\\\user\""
                                  : "did you mean \"" + nearest + "\"?");
        return;
    }
    encodeWideText(key, value, out);
}

// The system's recovery, as one table: restart after the delay, the number of restarts, and the period
// without failures after which the system counts from the start again.
void encodeRecovery(const Key& key, const toml::node& value, Encoder& out) {
    const toml::table* table = out.table(value, key.dotted());
    if (!table || !out.onlyKeys(*table, key.dotted(), {"restart_delay", "restarts", "reset_after"})) {
        return;
    }
    struct Part {
        const char* name;
        int32_t id;
        int64_t min, max, fallback;
    };
    const Part parts[] = {
        {"restart_delay", ids::kServiceRecoveryDelay, 0, service_recovery::kMaxDelaySeconds,
         service_recovery::kDefaultDelaySeconds},
        {"reset_after", ids::kServiceRecoveryReset, 0, service_recovery::kMaxResetSeconds,
         service_recovery::kDefaultResetSeconds},
        {"restarts", ids::kServiceRecoveryRestarts, 1, service_recovery::kMaxRestarts, -1},
    };
    for (const Part& part : parts) {
        const toml::node* node = table->get(part.name);
        std::optional<int64_t> number =
            node ? out.integer(*node, key.dotted() + "." + part.name, part.min, part.max) : std::nullopt;
        if (node && !number) {
            continue;
        }
        if (number || part.fallback >= 0) {
            out.set(part.id, std::to_string(number.value_or(part.fallback)), key.dotted(), value.source());
        }
    }
}

std::optional<std::string> decodeRecovery(const Key& key, Decoder& in) {
    const std::string* delay = in.narrow(ids::kServiceRecoveryDelay);
    const std::string* reset = in.narrow(ids::kServiceRecoveryReset);
    const std::string* restarts = in.narrow(ids::kServiceRecoveryRestarts);
    std::optional<int64_t> d = delay ? canonicalInteger(*delay) : std::nullopt;
    std::optional<int64_t> r = reset ? canonicalInteger(*reset) : std::nullopt;
    std::optional<int64_t> n = restarts ? canonicalInteger(*restarts) : std::nullopt;
    if (!d || !r || (restarts && !n)) {
        return std::nullopt;
    }
    in.take(key.id());
    in.take(ids::kServiceRecoveryReset);
    std::string text = "{ restart_delay = " + std::to_string(*d) + ", reset_after = " + std::to_string(*r);
    if (n) {
        in.take(ids::kServiceRecoveryRestarts);
        text += ", restarts = " + std::to_string(*n);
    }
    return text + " }";
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
     .meaning = "The service name (also its display name unless display_name is set); a name after a "
                "service command replaces it.",
     .example = "\"MyService\"",
     .exampleSets = {{ids::kServiceName, "MyService"}},
     .ids = {ids::kServiceName},
     .encode = encodeServiceName,
     .decode = decodeText},
    {.section = "service",
     .name = "display_name",
     .type = "string (at most 256 characters)",
     .defaultText = "the service name",
     .meaning = "The name that the Services console and the event log show (any Unicode text).",
     .example = "\"My Application Server\"",
     .exampleSets = {{ids::kServiceDisplayName, "My Application Server"}},
     .ids = {ids::kServiceDisplayName},
     .encode = encodeWideText,
     .decode = decodeWideText,
     .limit = service_account::kMaxNameLength,
     .wide = true},
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
     .name = "account",
     .type = "\"LocalSystem\", \"LocalService\", \"NetworkService\" or \"DOMAIN\\\\user\"",
     .defaultText = "\"LocalSystem\"",
     .meaning = "The account the service runs as; \".\\\\user\" is an account of the machine itself. A user "
                "account's password is never configured: /install reads it from MORIX_SERVICE_PASSWORD or "
                "asks for it on the console, and gives the account the right to log on as a service.",
     .example = "\"NetworkService\"",
     .exampleSets = {{ids::kServiceAccount, "NetworkService"}},
     .ids = {ids::kServiceAccount},
     .encode = encodeAccount,
     .decode = decodeWideText,
     .limit = service_account::kMaxNameLength,
     .wide = true},
    {.section = "service",
     .name = "start",
     .type = "\"demand\", \"auto\" or \"delayed-auto\"",
     .defaultText = "\"demand\"",
     .meaning = "\"auto\" makes the plain /install register automatic start (id 107 = 4); "
                "\"delayed-auto\" also delays that start until shortly after the system's start "
                "(also for /install-auto). /install-auto and /install-demand choose for themselves. "
                "Excludes launcher.type = \"gui\" and launcher.error_dialogs.",
     .example = "\"auto\"",
     .exampleSets = {{ids::kExecutableType, "4"}},
     .ids = {ids::kExecutableType, ids::kServiceDelayedStart},
     .encode = encodeServiceStart,
     .decode = decodeServiceStart},
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
     .name = "recovery",
     .type = "table: restart_delay (seconds, 0 to 86400, default 60), restarts (1 to 100, default "
             "every failure), reset_after (seconds, default 86400)",
     .defaultText = "none: the system does not restart the service",
     .meaning = "The system's recovery that /install registers: Windows restarts the service after "
                "restart_delay when its process dies or it stops with an error, up to restarts times "
                "until it has run reset_after seconds without a failure.",
     .example = "{ restart_delay = 60, reset_after = 86400, restarts = 3 }",
     .exampleSets = {{ids::kServiceRecoveryDelay, "60"},
                     {ids::kServiceRecoveryReset, "86400"},
                     {ids::kServiceRecoveryRestarts, "3"}},
     .ids = {ids::kServiceRecoveryDelay, ids::kServiceRecoveryReset, ids::kServiceRecoveryRestarts},
     .encode = encodeRecovery,
     .decode = decodeRecovery},
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
