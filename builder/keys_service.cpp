// [service]: the Windows service's name, display name, description, account, start type, dependencies,
// the system's recovery and the stop timeout, and the service host's restart policy, child environment
// and output logs.
#include "key_converters.h"
#include "key_sections.h"

#include "morix/config_ids.h"
#include "morix/config_values.h"

#include <algorithm>
#include <cctype>

#include "morix/text_encoding.h"

#include <algorithm>
#include <cctype>
#include <map>

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

// --- the service host ---------------------------------------------------------------------------------

namespace host = morix::service_host;

struct RestartField {
    const char* name;
    int32_t id;
    int64_t fallback;
    int64_t min;
    int64_t max;
};

const RestartField kRestartFields[] = {
    {"delay", ids::kServiceRestartDelay, host::kDefaultRestartDelaySeconds, 0, host::kMaxRestartDelaySeconds},
    {"max_delay", ids::kServiceRestartMaxDelay, host::kDefaultRestartMaxDelaySeconds, 0,
     host::kMaxRestartDelaySeconds},
    {"limit", ids::kServiceRestartLimit, host::kDefaultRestartLimit, 0, host::kMaxRestartLimit},
    {"window", ids::kServiceRestartWindow, host::kDefaultRestartWindowSeconds, 1,
     host::kMaxRestartWindowSeconds},
};

std::optional<std::string> readSuccessCodes(const Key& key, const toml::table& table, Encoder& out) {
    const toml::node* node = table.get("success_codes");
    if (!node) {
        return "0";
    }
    const std::string where = key.dotted() + ".success_codes";
    const toml::array* codes = out.array(*node, where);
    if (!codes) {
        return std::nullopt;
    }
    if (codes->size() > host::kMaxSuccessCodes) {
        out.error(node->source(), where,
                  "expected at most " + std::to_string(host::kMaxSuccessCodes) + " codes");
        return std::nullopt;
    }
    std::vector<std::string> texts;
    for (const toml::node& code : *codes) {
        std::optional<int64_t> number = out.integer(code, where, 0, kInt32Max);
        if (!number) {
            return std::nullopt;
        }
        texts.push_back(std::to_string(*number));
    }
    return join(texts, std::string(1, host::kExitCodeSeparator));
}

// restart = { delay, max_delay, limit, window, success_codes }: every id is written, the ones left out
// with their defaults, so that the launcher reads one complete policy.
void encodeRestart(const Key& key, const toml::node& value, Encoder& out) {
    const toml::table* table = out.table(value, key.dotted());
    if (!table ||
        !out.onlyKeys(*table, key.dotted(), {"delay", "max_delay", "limit", "window", "success_codes"})) {
        return;
    }
    std::map<int32_t, int64_t> numbers;
    for (const RestartField& field : kRestartFields) {
        const toml::node* node = table->get(field.name);
        std::optional<int64_t> number =
            node ? out.integer(*node, key.dotted() + "." + field.name, field.min, field.max) : field.fallback;
        if (!number) {
            return;
        }
        numbers[field.id] = *number;
    }
    if (!table->get("max_delay")) {
        numbers[ids::kServiceRestartMaxDelay] =
            std::max(numbers[ids::kServiceRestartMaxDelay], numbers[ids::kServiceRestartDelay]);
    }
    if (numbers[ids::kServiceRestartMaxDelay] < numbers[ids::kServiceRestartDelay]) {
        out.error(value.source(), key.dotted(), "max_delay is shorter than delay",
                  "the delay grows from delay up to max_delay");
        return;
    }
    std::optional<std::string> codes = readSuccessCodes(key, *table, out);
    if (!codes) {
        return;
    }
    for (const auto& [id, number] : numbers) {
        out.set(id, std::to_string(number), key.dotted(), value.source());
    }
    out.set(ids::kServiceRestartSuccessCodes, *codes, key.dotted(), value.source());
}

std::optional<std::string> decodeRestart(const Key&, Decoder& in) {
    std::string text = "{ ";
    for (const RestartField& field : kRestartFields) {
        const std::string* number = in.narrow(field.id);
        std::optional<int64_t> parsed = number ? canonicalInteger(*number) : std::nullopt;
        if (!parsed || *parsed < field.min || *parsed > field.max) {
            return std::nullopt;
        }
        text += std::string(field.name) + " = " + *number + ", ";
    }
    const std::string* codes = in.narrow(ids::kServiceRestartSuccessCodes);
    if (!codes) {
        return std::nullopt;
    }
    std::vector<std::string> list =
        codes->empty() ? std::vector<std::string>{} : splitAt(*codes, host::kExitCodeSeparator);
    for (const std::string& code : list) {
        if (!canonicalInteger(code) || *canonicalInteger(code) < 0) {
            return std::nullopt;
        }
    }
    for (const RestartField& field : kRestartFields) {
        in.take(field.id);
    }
    in.take(ids::kServiceRestartSuccessCodes);
    return text + "success_codes = " + tomlList(list) + " }";
}

bool isBareName(std::string_view name) {
    return !name.empty() && std::all_of(name.begin(), name.end(), [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '-';
    });
}

// environment = { NAME = "value" }: one "NAME=value" line each, in the table's (sorted) order.
void encodeEnvironment(const Key& key, const toml::node& value, Encoder& out) {
    const toml::table* table = out.table(value, key.dotted());
    if (!table) {
        return;
    }
    if (table->size() > host::kMaxEnvironmentEntries) {
        out.error(value.source(), key.dotted(),
                  "expected at most " + std::to_string(host::kMaxEnvironmentEntries) + " variables");
        return;
    }
    std::string lines;
    for (auto&& [name, node] : *table) {
        const std::string where = key.dotted() + "." + std::string(name.str());
        std::optional<std::string> text = out.string(node, where);
        if (!text) {
            return;
        }
        // Windows keeps names with a leading "=" for itself; a line end would split the entry.
        if (name.str().empty() || name.str().find_first_of("=\n\r") != std::string_view::npos ||
            text->find_first_of("\n\r") != std::string::npos || text->find('\0') != std::string::npos ||
            name.str().find('\0') != std::string_view::npos) {
            out.error(node.source(), where, "a variable's name holds no '=' and neither holds a line end",
                      "give each variable a name of letters, digits and '_'");
            return;
        }
        lines += (lines.empty() ? "" : std::string(1, host::kEnvironmentSeparator)) +
                 std::string(name.str()) + "=" + *text;
    }
    std::optional<std::u16string> wide = payload::utf8ToUtf16(lines);
    if (!wide || wide->size() > key.limit) {
        tooLong(out, value, key.dotted(), key.limit);
        return;
    }
    out.setWide(key.id(), *wide, key.dotted(), value.source());
}

std::optional<std::string> decodeEnvironment(const Key& key, Decoder& in) {
    const std::u16string* value = in.wide(key.id());
    if (!value || value->empty()) {
        return std::nullopt;
    }
    std::vector<std::string> entries;
    std::string previous;
    for (const std::string& line : splitAt(payload::utf16ToUtf8(*value), host::kEnvironmentSeparator)) {
        const size_t equals = line.find('=');
        const std::string name = line.substr(0, equals);
        // Only the table's own sorted, distinct names give the same value back.
        if (equals == std::string::npos || equals == 0 || (!previous.empty() && name <= previous) ||
            line.find('\r') != std::string::npos) {
            return std::nullopt;
        }
        previous = name;
        entries.push_back((isBareName(name) ? name : tomlString(name)) + " = " +
                          tomlString(line.substr(equals + 1)));
    }
    in.take(key.id());
    return "{ " + join(entries, ", ") + " }";
}

template <int32_t Id, int64_t Min, int64_t Max>
void encodeBoundedInteger(const Key& key, const toml::node& value, Encoder& out) {
    if (std::optional<int64_t> number = out.integer(value, key.dotted(), Min, Max)) {
        out.set(Id, std::to_string(*number), key.dotted(), value.source());
    }
}

template <int32_t Id, int64_t Min, int64_t Max>
std::optional<std::string> decodeBoundedInteger(const Key&, Decoder& in) {
    const std::string* text = in.narrow(Id);
    std::optional<int64_t> number = text ? canonicalInteger(*text) : std::nullopt;
    if (!number || *number < Min || *number > Max) {
        return std::nullopt;
    }
    in.take(Id);
    return *text;
}

Key integerKey(std::string_view name, std::string_view type, std::string_view defaultText,
               std::string_view meaning, std::string_view example, int32_t id, EncodeFn encode,
               DecodeFn decode) {
    return withId(plainKey("service", name, type, defaultText, meaning, example, encode, decode), id,
                  example);
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
    {.section = "service",
     .name = "restart",
     .type = "table: delay, max_delay, limit, window (seconds and a count), success_codes (list of integers)",
     .defaultText = "none: a child that ends ends the service",
     .meaning = "The service host restarts a child that ends without a stop request: after delay seconds, "
                "doubled on each further failure up to max_delay (defaults 5 and 60), at most limit times "
                "within window seconds (defaults 5 and 600); then it gives up and ends as a failed child "
                "ends, for the system's recovery. An exit code in success_codes (default [0]) ends the "
                "service. Also written as a [service.restart] table.",
     .example = "{ delay = 5, max_delay = 60, limit = 5, window = 600, success_codes = [0] }",
     .exampleSets = {{ids::kServiceRestartDelay, "5"},
                     {ids::kServiceRestartMaxDelay, "60"},
                     {ids::kServiceRestartLimit, "5"},
                     {ids::kServiceRestartWindow, "600"},
                     {ids::kServiceRestartSuccessCodes, "0"}},
     .ids = {ids::kServiceRestartDelay, ids::kServiceRestartMaxDelay, ids::kServiceRestartLimit,
             ids::kServiceRestartWindow, ids::kServiceRestartSuccessCodes},
     .encode = encodeRestart,
     .decode = decodeRestart},
    {.section = "service",
     .name = "environment",
     .type = "table of names to strings",
     .defaultText = "none",
     .meaning = "Variables that the service host sets for itself and the child, launcher variables "
                "(%MORIX_EXEDIR%, ${name}) expanded; MORIX_LOG = \"yes\" switches on the diagnostic log of "
                "both. Also written as a [service.environment] table.",
     .example = "{ MORIX_LOG = \"yes\" }",
     .exampleSets = {{ids::kServiceEnvironment, "MORIX_LOG=yes"}},
     .ids = {ids::kServiceEnvironment},
     .encode = encodeEnvironment,
     .decode = decodeEnvironment,
     .wide = true},
    withId(plainKey("service", "log", "path (a directory)", "none: the child's output is discarded",
                    "The service host writes the child's standard output and error (JVM messages, native "
                    "output) to service.log in this directory, relative to the launcher; created when "
                    "missing.",
                    "\"logs\"", encodePath, decodePath),
           ids::kServiceLogDirectory, "logs"),
    integerKey("log_max_size", "integer (bytes, 1024 to 2147483647)", "10485760",
               "service.log is rotated to service.1.log (and older ones moved up) once it reaches this size.",
               "1048576", ids::kServiceLogMaxSize,
               encodeBoundedInteger<ids::kServiceLogMaxSize, host::kMinLogMaxSize, host::kMaxLogMaxSize>,
               decodeBoundedInteger<ids::kServiceLogMaxSize, host::kMinLogMaxSize, host::kMaxLogMaxSize>),
    integerKey("log_keep", "integer (0 to 100)", "5",
               "How many rotated files are kept (service.1.log is the newest); 0 keeps none.", "3",
               ids::kServiceLogKeep, encodeBoundedInteger<ids::kServiceLogKeep, 0, host::kMaxLogKeep>,
               decodeBoundedInteger<ids::kServiceLogKeep, 0, host::kMaxLogKeep>),
    flagKey("service", "log_daily", ids::kServiceLogDaily,
            "service.log is also rotated at the first write of each new day (local time)."),
};

} // namespace

std::vector<Key> serviceKeys() {
    return {std::begin(kRows), std::end(kRows)};
}

} // namespace morix::builder
