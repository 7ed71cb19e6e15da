// [executable] and [executable.version]: the launcher's icon, manifest settings and version information.
// These keys set no ids: they fill the settings that the builder writes into the launcher's resources,
// and inspect reads them back from there.
#include "key_converters.h"
#include "key_sections.h"

#include "morix/text_encoding.h"

#include <algorithm>

namespace morix::builder {
namespace {

// Each block of the version resource has a 16-bit length: this keeps all of them together well inside it.
constexpr size_t kMaxVersionText = 1000;

ExecutableVersion& version(Encoder& out) {
    return out.executable.version ? *out.executable.version : out.executable.version.emplace();
}

const ExecutableVersion* version(const Decoder& in) {
    return in.executable && in.executable->version ? &*in.executable->version : nullptr;
}

std::u16string windowsKey(const Key& key) {
    return std::u16string(key.resource.begin(), key.resource.end());
}

// One of a list of names, with the nearest one suggested.
template <typename Parse>
void encodeChoice(const Key& key, const toml::node& value, Encoder& out,
                  const std::vector<std::string>& names, Parse parse) {
    std::optional<std::string> text = out.string(value, key.dotted());
    if (!text) {
        return;
    }
    if (parse(*text)) {
        return;
    }
    std::string expected;
    for (size_t i = 0; i < names.size(); ++i) {
        expected += (i == 0 ? "\"" : i + 1 == names.size() ? " or \"" : ", \"") + names[i] + "\"";
    }
    const std::string nearest = nearestName(*text, names);
    out.error(value.source(), key.dotted(), "expected " + expected + ", found \"" + *text + "\"",
              nearest.empty() ? "" : "did you mean \"" + nearest + "\"?");
}

void encodeIcon(const Key& key, const toml::node& value, Encoder& out) {
    std::optional<std::string> text = out.string(value, key.dotted());
    if (text && text->empty()) {
        out.error(value.source(), key.dotted(), "expected a path, found an empty string",
                  "leave the key out to keep the template's icon");
    } else if (text) {
        out.executable.iconFile = *text;
        out.iconAt = value.source();
    }
}

std::optional<std::string> decodeIcon(const Key&, Decoder& in) {
    if (!in.executable || in.executable->icon.empty()) {
        return std::nullopt;
    }
    return tomlString(in.executable->iconFile);
}

void encodeExecutionLevel(const Key& key, const toml::node& value, Encoder& out) {
    encodeChoice(key, value, out, {"asInvoker", "requireAdministrator", "highestAvailable"},
                 [&](const std::string& text) {
                     std::optional<payload::ExecutionLevel> level = payload::parseExecutionLevel(text);
                     out.executable.executionLevel = level.value_or(out.executable.executionLevel);
                     return level.has_value();
                 });
}

// The manifest is written whenever the table is there, so its level is always given back.
std::optional<std::string> decodeExecutionLevel(const Key&, Decoder& in) {
    if (!in.executable) {
        return std::nullopt;
    }
    return tomlString(payload::executionLevelName(in.executable->executionLevel));
}

void encodeDpiAwareness(const Key& key, const toml::node& value, Encoder& out) {
    encodeChoice(key, value, out, {"unaware", "system", "per-monitor", "per-monitor-v2"},
                 [&](const std::string& text) {
                     std::optional<payload::DpiAwareness> dpi = payload::parseDpiAwareness(text);
                     out.executable.dpiAwareness = dpi.value_or(out.executable.dpiAwareness);
                     return dpi.has_value();
                 });
}

std::optional<std::string> decodeDpiAwareness(const Key&, Decoder& in) {
    if (!in.executable || in.executable->dpiAwareness == payload::DpiAwareness::unaware) {
        return std::nullopt;
    }
    return tomlString(payload::dpiAwarenessName(in.executable->dpiAwareness));
}

std::optional<payload::VersionNumber> readVersionNumber(const Key& key, const toml::node& value,
                                                        Encoder& out) {
    std::optional<std::string> text = out.string(value, key.dotted());
    if (!text) {
        return std::nullopt;
    }
    std::optional<payload::VersionNumber> number = payload::parseVersionNumber(*text);
    if (!number) {
        out.error(value.source(), key.dotted(),
                  "expected four numbers from 0 to 65535 separated by dots (such as 1.2.0.0), found \"" +
                      *text + "\"");
    }
    return number;
}

void encodeFileVersion(const Key& key, const toml::node& value, Encoder& out) {
    out.fileVersionGiven = true;
    if (std::optional<payload::VersionNumber> number = readVersionNumber(key, value, out)) {
        version(out).fileVersion = *number;
    }
}

std::optional<std::string> decodeFileVersion(const Key&, Decoder& in) {
    const ExecutableVersion* v = version(in);
    return v ? std::optional(tomlString(payload::formatVersionNumber(v->fileVersion))) : std::nullopt;
}

void encodeProductVersion(const Key& key, const toml::node& value, Encoder& out) {
    out.productVersionGiven = true;
    if (std::optional<payload::VersionNumber> number = readVersionNumber(key, value, out)) {
        version(out).productVersion = *number;
    }
}

std::optional<std::string> decodeProductVersion(const Key&, Decoder& in) {
    const ExecutableVersion* v = version(in);
    if (!v || v->productVersion == v->fileVersion) {
        return std::nullopt;
    }
    return tomlString(payload::formatVersionNumber(v->productVersion));
}

void encodeVersionText(const Key& key, const toml::node& value, Encoder& out) {
    std::optional<std::string> text = out.string(value, key.dotted());
    std::optional<std::u16string> wide = text ? payload::utf8ToUtf16(*text) : std::nullopt;
    if (!wide) {
        return;
    }
    if (wide->size() > key.limit) {
        out.error(value.source(), key.dotted(),
                  "is longer than the " + std::to_string(key.limit) + " characters a version text may hold");
        return;
    }
    version(out).strings.emplace_back(windowsKey(key), *wide);
}

std::optional<std::string> decodeVersionText(const Key& key, Decoder& in) {
    const ExecutableVersion* v = version(in);
    if (!v) {
        return std::nullopt;
    }
    for (const auto& [name, text] : v->strings) {
        if (name == windowsKey(key)) {
            return tomlString(payload::utf16ToUtf8(text));
        }
    }
    return std::nullopt;
}

Key versionText(std::string_view name, std::string_view windowsName, std::string_view defaultText,
                std::string_view meaning, std::string_view example) {
    Key key = plainKey("executable.version", name, "string", defaultText, meaning, example, encodeVersionText,
                       decodeVersionText);
    key.limit = kMaxVersionText;
    key.resource = windowsName;
    return key;
}

} // namespace

void finishExecutableVersion(Encoder& out) {
    const toml::source_region* at = out.sectionAt("executable.version");
    if (!at && !out.applicationVersion) {
        return;
    }
    out.executable.present = true;
    ExecutableVersion& v = version(out);
    if (!out.fileVersionGiven) {
        if (out.applicationVersion) {
            v.fileVersion = *out.applicationVersion;
        } else {
            out.error(*at, "executable.version", "needs a file_version", "write file_version = \"1.0.0.0\"");
        }
    }
    if (!out.productVersionGiven) {
        v.productVersion = out.applicationVersion ? *out.applicationVersion : v.fileVersion;
    }
    // The string table in the order of the key table, which is the order Windows' own tools write.
    std::vector<std::u16string> order;
    for (const Key& key : executableKeyTable()) {
        order.push_back(windowsKey(key));
    }
    std::stable_sort(v.strings.begin(), v.strings.end(), [&](const auto& a, const auto& b) {
        return std::find(order.begin(), order.end(), a.first) <
               std::find(order.begin(), order.end(), b.first);
    });
}

namespace {

// The rows, in the order of the reference.
const Key kRows[] = {
    {.section = "executable",
     .name = "icon",
     .type = "path",
     .defaultText = "the template's (none)",
     .meaning = "An .ico file, relative to the configuration file: all of its images (several "
                "sizes, bitmaps or PNG) become the launcher's icon.",
     .example = "\"app.ico\"",
     .encode = encodeIcon,
     .decode = decodeIcon,
     .resource = "group icon 1 (which Explorer shows) and its images"},
    {.section = "executable",
     .name = "execution_level",
     .type = "\"asInvoker\", \"requireAdministrator\" or \"highestAvailable\"",
     .defaultText = "\"asInvoker\"",
     .meaning = "The execution level the launcher asks for. Launchers whose users install "
                "services ask for requireAdministrator or highestAvailable.",
     .example = "\"requireAdministrator\"",
     .encode = encodeExecutionLevel,
     .decode = decodeExecutionLevel,
     .resource = "the manifest's requestedExecutionLevel (UI access is always false)"},
    {.section = "executable",
     .name = "dpi_awareness",
     .type = "\"unaware\", \"system\", \"per-monitor\" or \"per-monitor-v2\"",
     .defaultText = "\"unaware\"",
     .meaning = "system writes dpiAware true, per-monitor adds dpiAwareness PerMonitor, "
                "per-monitor-v2 PerMonitorV2 with PerMonitor as the fallback.",
     .example = "\"per-monitor-v2\"",
     .encode = encodeDpiAwareness,
     .decode = decodeDpiAwareness,
     .resource = "the manifest's dpiAware and dpiAwareness"},
    {.section = "executable.version",
     .name = "file_version",
     .type = "four numbers",
     .defaultText = "required in this table",
     .meaning = "The file version, four numbers from 0 to 65535; also written as the text "
                "FileVersion.",
     .example = "\"1.2.0.0\"",
     .encode = encodeFileVersion,
     .decode = decodeFileVersion,
     .resource = "the fixed file version and FileVersion"},
    {.section = "executable.version",
     .name = "product_version",
     .type = "four numbers",
     .defaultText = "file_version",
     .meaning = "The product version; also written as the text ProductVersion.",
     .example = "\"1.2.0.0\"",
     .encode = encodeProductVersion,
     .decode = decodeProductVersion,
     .resource = "the fixed product version and ProductVersion"},
    versionText("company", "CompanyName", "none", "The company that makes the application.",
                "\"Example Ltd\""),
    versionText("file_description", "FileDescription", "none",
                "What the program is; Explorer and Task Manager show it.", "\"Example service\""),
    versionText("product_name", "ProductName", "none", "The product the launcher belongs to.", "\"Example\""),
    versionText("copyright", "LegalCopyright", "none", "The copyright notice.", "\"© 2026 Example Ltd\""),
    versionText("original_filename", "OriginalFilename", "the launcher's file name",
                "The file name the launcher was built as.", "\"example.exe\""),
    versionText("internal_name", "InternalName", "the launcher's name without extension",
                "The program's internal name.", "\"example\""),
};

} // namespace

std::vector<Key> executableKeys() {
    return {std::begin(kRows), std::end(kRows)};
}

} // namespace morix::builder
