// [launcher]: the launcher process, its type, variant and the environment it prepares.
#include "key_converters.h"
#include "key_sections.h"

#include "morix/config_ids.h"

namespace morix::builder {
namespace {

std::string typeValue(int type) {
    return std::to_string(type);
}

void encodeFlavour(const Key& key, const toml::node& value, Encoder& out) {
    std::optional<std::string> text = out.string(value, key.dotted());
    if (!text) {
        return;
    }
    if (*text != "morix" && *text != "vantarock") {
        out.error(value.source(), key.dotted(),
                  "expected \"morix\" or \"vantarock\", found \"" + *text + "\"");
        return;
    }
    out.set(key.id(), std::string(1, *text == "morix" ? flavour::kMorix : flavour::kVantarock), key.dotted(),
            value.source());
}

std::optional<std::string> decodeFlavour(const Key& key, Decoder& in) {
    const std::string* value = in.narrow(key.id());
    if (!value || value->size() != 1 ||
        ((*value)[0] != flavour::kMorix && (*value)[0] != flavour::kVantarock)) {
        return std::nullopt;
    }
    in.take(key.id());
    return (*value)[0] == flavour::kMorix ? "\"morix\"" : "\"vantarock\"";
}

void encodeLauncherType(const Key& key, const toml::node& value, Encoder& out) {
    std::optional<std::string> text = out.string(value, key.dotted());
    if (!text) {
        return;
    }
    if (*text != "console" && *text != "gui") {
        out.error(value.source(), key.dotted(), "expected \"console\" or \"gui\", found \"" + *text + "\"");
        return;
    }
    out.executableType.gui = *text == "gui";
    out.executableType.at = &value;
}

void encodeErrorDialogs(const Key& key, const toml::node& value, Encoder& out) {
    if (std::optional<bool> b = out.flag(value, key.dotted())) {
        out.executableType.errorDialogs = *b;
        out.executableType.at = &value;
    }
}

} // namespace

// Id 107 holds one of the executable types: console, GUI (javaw.exe, message boxes), console with
// automatic service start, console with message boxes.
std::optional<std::string> decodeExecutableType(const Key& key, Decoder& in) {
    const std::string* value = in.narrow(ids::kExecutableType);
    if (!value) {
        return std::nullopt;
    }
    std::optional<std::string> result;
    if (key.name == "type" &&
        (*value == typeValue(executable_type::kConsole) || *value == typeValue(executable_type::kGui))) {
        result = *value == typeValue(executable_type::kConsole) ? "\"console\"" : "\"gui\"";
    } else if (key.name == "error_dialogs" && *value == typeValue(executable_type::kConsoleWithDialogs)) {
        result = "true";
    } else if (key.name == "start" && *value == typeValue(executable_type::kAutoStartService)) {
        result = "\"auto\"";
    }
    if (result) {
        in.take(ids::kExecutableType);
    }
    return result;
}

void finishExecutableType(Encoder& out) {
    const ExecutableTypeParts& type = out.executableType;
    if (!type.at) {
        return;
    }
    const bool gui = type.gui.value_or(false);
    const bool autoStart = type.autoStart.value_or(false);
    const bool dialogs = type.errorDialogs.value_or(gui);
    const char* problem = nullptr;
    if (gui && autoStart) {
        problem = "launcher.type = \"gui\" and service.start = \"auto\" exclude each other";
    } else if (gui && !dialogs) {
        problem = "a GUI launcher always shows fatal errors in a message box";
    } else if (autoStart && dialogs) {
        problem = "launcher.error_dialogs and service.start = \"auto\" exclude each other";
    }
    if (problem) {
        out.error(type.at->source(), "launcher.type",
                  std::string(problem) + ": the launcher reads one executable type (id " +
                      std::to_string(ids::kExecutableType) + ")",
                  "/install-auto registers automatic start for any type");
        return;
    }
    const int value = gui         ? executable_type::kGui
                      : autoStart ? executable_type::kAutoStartService
                      : dialogs   ? executable_type::kConsoleWithDialogs
                                  : executable_type::kConsole;
    out.narrowIds[ids::kExecutableType] = typeValue(value);
    out.owners[ids::kExecutableType] = {"launcher.type", type.at->source()};
}

namespace {

// The rows, in the order of the reference.
const Key kRows[] = {
    {.section = "launcher",
     .name = "type",
     .type = "\"console\" or \"gui\"",
     .defaultText = "\"console\"",
     .meaning = "\"gui\" makes the launcher use javaw.exe, show fatal errors in a message box and "
                "tell the Java side it is a GUI program (id 107 = 1).",
     .example = "\"gui\"",
     .exampleSets = {{ids::kExecutableType, "1"}},
     .ids = {ids::kExecutableType},
     .encode = encodeLauncherType,
     .decode = decodeExecutableType},
    {.section = "launcher",
     .name = "error_dialogs",
     .type = "boolean",
     .defaultText = "false",
     .meaning = "A console launcher that shows fatal errors in a message box (id 107 = 5). Id 107 "
                "holds one type, so this excludes service.start = \"auto\".",
     .example = "true",
     .exampleSets = {{ids::kExecutableType, "5"}},
     .ids = {ids::kExecutableType},
     .encode = encodeErrorDialogs,
     .decode = decodeExecutableType},
    {.section = "launcher",
     .name = "flavour",
     .type = "\"morix\" or \"vantarock\"",
     .defaultText = "unset (behaves as morix)",
     .meaning = "The launcher variant: \"vantarock\" selects the com.vantarock.runtime Java side and "
                "the installer runtime below the installation directory.",
     .example = "\"morix\"",
     .exampleSets = {{ids::kLauncherFlavour, "e"}},
     .ids = {ids::kLauncherFlavour},
     .encode = encodeFlavour,
     .decode = decodeFlavour},
    flagKey("launcher", "reduce_path", ids::kReducePath,
            "Cut PATH down to its entries below the Windows directory before anything runs."),
    flagKey("launcher", "ignore_java_option_variables", ids::kRemoveJavaOptionVariables,
            "Remove _JAVA_OPTIONS, JDK_JAVA_OPTIONS and JAVA_TOOL_OPTIONS, so that the user's "
            "environment cannot add JVM options."),
    flagKey("launcher", "long_temp_path", ids::kLongTempPath,
            "Use the long form of the temporary directory's path instead of its 8.3 form."),
    flagKey("launcher", "run_without_command", ids::kRunWithoutCommand,
            "A console tool: a command line that does not start with a command word such as /run runs "
            "the application in process with all its arguments, and so does an empty one unless the "
            "service control manager started the process. Without it, such a command line gets a "
            "one-line hint and exit code 1."),
};

} // namespace

std::vector<Key> launcherKeys() {
    return {std::begin(kRows), std::end(kRows)};
}

} // namespace morix::builder
