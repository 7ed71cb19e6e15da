// [jvm]: the options of the Java VM, version-specific option lines and the .vmoptions file.
#include "key_converters.h"
#include "key_sections.h"

#include "command_line.h"

#include "morix/config_ids.h"

namespace morix::builder {
namespace {

// The builder writes at most this many version-specific option lines.
constexpr int32_t kMostVersionLines = 100;

std::vector<int32_t> versionLineIds() {
    std::vector<int32_t> lineIds = {ids::kVersionLineCount};
    for (int32_t line = 0; line < kMostVersionLines; ++line) {
        lineIds.push_back(ids::versionLineCondition(line));
        lineIds.push_back(ids::versionLineOptions(line));
    }
    return lineIds;
}

void encodeJvmOptions(const Key& key, const toml::node& value, Encoder& out) {
    if (std::optional<std::vector<std::string>> tokens = readTokens(key, value, out)) {
        out.jvmOptions = *tokens;
        out.jvmOptionsAt = value.source();
        out.owners[ids::kVmOptions] = {key.dotted(), value.source()};
    }
}

std::optional<std::string> decodeJvmOptions(const Key&, Decoder& in) {
    if (!in.jvmOptions || in.jvmOptions->empty()) {
        return std::nullopt;
    }
    in.take(ids::kVmOptions);
    return tomlStringList(*in.jvmOptions);
}

// A line's condition: the pattern mark and a pattern, or the feature versions min to max.
std::optional<std::string> versionCondition(const Key& key, const toml::node& element,
                                            const toml::table& line, Encoder& out) {
    if (const toml::node* pattern = line.get("pattern")) {
        std::optional<std::string> text = out.narrowString(*pattern, key.dotted() + ".pattern", key.limit);
        if (!text || text->empty() || line.contains("min") || line.contains("max")) {
            if (text) {
                out.error(element.source(), key.dotted(),
                          "a line matches either a non-empty version pattern or a range min to max");
            }
            return std::nullopt;
        }
        return version_line::kPatternMark + *text;
    }
    const toml::node* min = line.get("min");
    const toml::node* max = line.get("max");
    if (!min || !max) {
        out.error(element.source(), key.dotted(),
                  "a line needs min and max (feature versions such as 8 or 17) or a pattern",
                  "write { min = 9, max = 99, options = [...] }");
        return std::nullopt;
    }
    std::optional<int64_t> low = out.integer(*min, key.dotted() + ".min", 0, kInt32Max);
    std::optional<int64_t> high = out.integer(*max, key.dotted() + ".max", 0, kInt32Max);
    if (!low || !high) {
        return std::nullopt;
    }
    if (*low > *high) {
        out.error(max->source(), key.dotted() + ".max", "is below min, so the line never applies");
        return std::nullopt;
    }
    return std::to_string(*low) + version_line::kRangeSeparator + std::to_string(*high);
}

// A line's options, joined the way the launcher splits them; none after a finding.
std::optional<std::string> lineOptions(const Key& key, const toml::table& line, Encoder& out) {
    const toml::node* optionsNode = line.get("options");
    if (!optionsNode) {
        return std::string();
    }
    std::optional<std::vector<std::string>> tokens = readTokens(key, *optionsNode, out);
    if (!tokens) {
        return std::nullopt;
    }
    std::string options = *joinCommandLine(*tokens);
    if (options.size() > key.limit) {
        tooLong(out, *optionsNode, key.dotted() + ".options", key.limit);
        return std::nullopt;
    }
    return options;
}

void encodeVersionOptions(const Key& key, const toml::node& value, Encoder& out) {
    const toml::array* list = out.array(value, key.dotted());
    if (!list) {
        return;
    }
    if (static_cast<int64_t>(list->size()) > kMostVersionLines) {
        out.error(value.source(), key.dotted(),
                  "holds more than " + std::to_string(kMostVersionLines) + " lines");
        return;
    }
    std::vector<std::pair<std::string, std::string>> lines;
    bool ok = true;
    for (const toml::node& element : *list) {
        const toml::table* line = out.table(element, key.dotted());
        if (!line || !out.onlyKeys(*line, key.dotted(), {"min", "max", "pattern", "options"})) {
            ok = false;
            continue;
        }
        std::optional<std::string> condition = versionCondition(key, element, *line, out);
        std::optional<std::string> options = condition ? lineOptions(key, *line, out) : std::nullopt;
        if (!options) {
            ok = false;
            continue;
        }
        lines.emplace_back(*condition, *options);
    }
    if (!ok || lines.empty()) {
        return;
    }
    out.set(ids::kVersionLineCount, std::to_string(lines.size()), key.dotted(), value.source());
    for (size_t i = 0; i < lines.size(); ++i) {
        const auto line = static_cast<int32_t>(i);
        out.set(ids::versionLineCondition(line), lines[i].first, key.dotted(), value.source());
        out.set(ids::versionLineOptions(line), lines[i].second, key.dotted(), value.source());
    }
}

// One line of the named form, from its condition and options; none when they would not come back.
std::optional<std::string> decodeVersionLine(const std::string& condition, const std::string& options) {
    std::string line = "{ ";
    if (condition.size() > 1 && condition[0] == version_line::kPatternMark) {
        line += "pattern = " + tomlString(utf8(condition.substr(1)));
    } else {
        const size_t dash = condition.find(version_line::kRangeSeparator);
        std::optional<int64_t> low =
            dash == std::string::npos ? std::nullopt : canonicalInteger(condition.substr(0, dash));
        std::optional<int64_t> high =
            dash == std::string::npos ? std::nullopt : canonicalInteger(condition.substr(dash + 1));
        if (!low || !high || *low > *high) {
            return std::nullopt;
        }
        line += "min = " + std::to_string(*low) + ", max = " + std::to_string(*high);
    }
    if (!options.empty()) {
        std::optional<std::vector<std::string>> tokens = tokensOf(options);
        if (!tokens) {
            return std::nullopt;
        }
        line += ", options = " + tomlStringList(*tokens);
    }
    return line + " }";
}

std::optional<std::string> decodeVersionOptions(const Key&, Decoder& in) {
    const std::string* countText = in.narrow(ids::kVersionLineCount);
    std::optional<int64_t> count = countText ? canonicalInteger(*countText) : std::nullopt;
    if (!count || *count < 1 || *count > kMostVersionLines) {
        return std::nullopt;
    }
    std::vector<std::string> lines;
    for (int32_t i = 0; i < *count; ++i) {
        const std::string* condition = in.narrow(ids::versionLineCondition(i));
        const std::string* options = in.narrow(ids::versionLineOptions(i));
        std::optional<std::string> line =
            condition && options ? decodeVersionLine(*condition, *options) : std::nullopt;
        if (!line) {
            return std::nullopt;
        }
        lines.push_back(*line);
    }
    in.take(ids::kVersionLineCount);
    for (int32_t i = 0; i < *count; ++i) {
        in.take(ids::versionLineCondition(i));
        in.take(ids::versionLineOptions(i));
    }
    return tomlTableList(lines);
}

} // namespace

void finishJvmOptions(Encoder& out) {
    std::vector<std::string> options = out.jvmOptions;
    if (out.stopTimeoutOption) {
        options.push_back(*out.stopTimeoutOption);
    }
    if (options.empty()) {
        return;
    }
    const std::string text = *joinCommandLine(options);
    const size_t limit = kValueCapacity - 1;
    if (text.size() > limit) {
        out.error(*out.jvmOptionsAt, "jvm.options",
                  "is " + std::to_string(text.size()) +
                      " characters long written out; the launcher reads at most " + std::to_string(limit),
                  "move options into the .vmoptions file (jvm.read_vmoptions)");
    } else {
        out.narrowIds[ids::kVmOptions] = text;
    }
}

void splitJvmOptions(Decoder& in) {
    const std::string* options = in.narrow(ids::kVmOptions);
    if (!options) {
        return;
    }
    in.jvmOptions = tokensOf(*options);
    if (in.jvmOptions && !in.jvmOptions->empty()) {
        const std::string& last = in.jvmOptions->back();
        if (last.starts_with(kStopTimeoutOption)) {
            std::optional<int64_t> seconds = canonicalInteger(last.substr(kStopTimeoutOption.size()));
            if (seconds && *seconds >= payload::kMinStopTimeoutSeconds &&
                *seconds <= payload::kMaxStopTimeoutSeconds) {
                in.stopTimeout = seconds;
                in.jvmOptions->pop_back();
            }
        }
    }
}

namespace {

// The rows, in the order of the reference.
const Key kRows[] = {
    {.section = "jvm",
     .name = "options",
     .type = "list of strings",
     .defaultText = "none",
     .meaning = "JVM options, one per element (an element with spaces stays one option). "
                "Variables are expanded; \"-include-options\" followed by a file reads more.",
     .example = "[\"-Xmx512m\", \"-Dapp.title=My App\"]",
     .exampleSets = {{ids::kVmOptions, "-Xmx512m \"-Dapp.title=My App\""}},
     .ids = {ids::kVmOptions},
     .encode = encodeJvmOptions,
     .decode = decodeJvmOptions},
    {.section = "jvm",
     .name = "version_options",
     .type = "list of tables",
     .defaultText = "none",
     .meaning = "Options for some runtime versions: { min = 9, max = 99, options = [...] } applies "
                "to feature versions min to max (1.8 counts as 8), { pattern = \"1.8*\", "
                "options = [...] } to versions that match (* and ?). Only the first matching "
                "line is used.",
     .example = "[{ min = 9, max = 99, options = [\"--add-opens\", \"java.base/java.lang=ALL-UNNAMED\"] }]",
     .exampleSets = {{ids::kVersionLineCount, "1"},
                     {ids::versionLineCondition(0), "9-99"},
                     {ids::versionLineOptions(0), "--add-opens java.base/java.lang=ALL-UNNAMED"}},
     .ids = versionLineIds(),
     .encode = encodeVersionOptions,
     .decode = decodeVersionOptions},
    flagKey("jvm", "read_vmoptions", ids::kReadVmOptionsFile,
            "Read the .vmoptions file beside the launcher (app.vmoptions or app.exe.vmoptions): "
            "one option per line, # comments."),
    flagKey("jvm", "pass_j_arguments", ids::kJArgumentsAreVmOptions,
            "Command-line arguments beginning with -J become JVM options (without the -J) "
            "and are not passed to the application."),
    flagKey("jvm", "class_data_sharing", ids::kClassDataSharing,
            "Application class-data sharing (runtimes 13 and later): the first run makes an archive of the "
            "application's classes in the user's cache (%LOCALAPPDATA%\\Morix\\cache), later runs start "
            "from it. Included archives are used from a copy in that cache. See docs/class-data-sharing.md."),
};

} // namespace

std::vector<Key> jvmKeys() {
    return {std::begin(kRows), std::end(kRows)};
}

} // namespace morix::builder
