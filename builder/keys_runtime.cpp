// [runtime]: which Java runtime is accepted and where it is looked for.
#include "key_converters.h"
#include "key_sections.h"

#include "morix/config_ids.h"

namespace morix::builder {
namespace {

// The launcher's test of an absolute home: a drive letter or a leading pair of backslashes.
bool isAbsoluteHome(const std::string& home) {
    return home.size() > 1 && (home[1] == ':' || (home[0] == '\\' && home[1] == '\\'));
}

// A search entry given as a word: "path" or "registry"; none after a finding.
std::optional<std::string> searchWord(const Key& key, const toml::node& element, const std::string& word,
                                      Encoder& out) {
    if (word == "path" || word == "registry") {
        return std::string(1, word == "path" ? search_entry::kSearchPath : search_entry::kRegistry);
    }
    std::string suggestion = "known entries: \"path\", \"registry\", { directory = \"jre\" } and "
                             "{ environment = \"MY_JAVA_HOME\" }";
    if (word == "previous-installations" || word == "previous_installations") {
        suggestion = "earlier installations are always searched after the sequence; set "
                     "runtime.previous_installations to the application id";
    } else if (std::string nearest = nearestName(word, {"path", "registry"}); !nearest.empty()) {
        suggestion = "did you mean \"" + nearest + "\"?";
    }
    out.error(element.source(), key.dotted(), "unknown search entry \"" + word + "\"", suggestion);
    return std::nullopt;
}

// A search entry given as a table: a directory (with its fallback) or an environment variable. A finding
// about the fallback clears `ok` but still gives the entry.
std::optional<std::string> searchTable(const Key& key, const toml::node& element, Encoder& out, bool& ok) {
    const toml::table* entry = element.as_table();
    if (!entry) {
        out.error(element.source(), key.dotted(), "expected a search entry (a string or a table)");
        return std::nullopt;
    }
    if (!out.onlyKeys(*entry, key.dotted(), {"directory", "environment", "fallback"})) {
        return std::nullopt;
    }
    const bool directory = entry->contains("directory");
    if (directory == entry->contains("environment")) {
        out.error(element.source(), key.dotted(),
                  "a search entry names either a directory or an environment variable");
        return std::nullopt;
    }
    std::optional<std::string> name = entryName(key, *entry, directory ? "directory" : "environment", out,
                                                "expected a non-empty name without ';'", "");
    if (!name) {
        return std::nullopt;
    }
    std::optional<bool> fallback;
    if (const toml::node* node = entry->get("fallback")) {
        fallback = out.flag(*node, key.dotted() + ".fallback");
        if (!directory) {
            out.error(node->source(), key.dotted(), "fallback applies to a directory entry only");
            ok = false;
        }
    }
    if (!directory) {
        return search_entry::kEnvironment + *name;
    }
    const std::string home = toBackslashes(*name);
    if (!fallback && !isAbsoluteHome(home)) {
        out.relativeSearchAt.push_back(element.source());
    }
    // Without the key, a relative home is tried again whatever its version and an absolute one is not;
    // fallback = false holds a relative one to the bounds too.
    const char letter = !fallback              ? search_entry::kDirectory
                        : *fallback            ? search_entry::kDirectoryWithFallback
                        : isAbsoluteHome(home) ? search_entry::kDirectory
                                               : search_entry::kDirectoryWithoutFallback;
    return letter + home;
}

void encodeSearch(const Key& key, const toml::node& value, Encoder& out) {
    const toml::array* list = out.array(value, key.dotted());
    if (!list) {
        return;
    }
    out.searchAt = value.source();
    std::vector<std::string> entries;
    bool ok = true;
    for (const toml::node& element : *list) {
        auto word = element.value_exact<std::string>();
        std::optional<std::string> entry =
            word ? searchWord(key, element, *word, out) : searchTable(key, element, out, ok);
        if (entry) {
            entries.push_back(*entry);
        } else {
            ok = false;
        }
    }
    const std::string text = join(entries, std::string(1, kListSeparator));
    if (text.size() > key.limit) {
        tooLong(out, value, key.dotted(), key.limit);
        return;
    }
    if (ok && !entries.empty()) {
        out.set(key.id(), text, key.dotted(), value.source());
    }
}

std::optional<std::string> decodeSearch(const Key& key, Decoder& in) {
    const std::string* value = in.narrow(key.id());
    if (!value || value->empty()) {
        return std::nullopt;
    }
    std::vector<std::string> entries;
    for (const std::string& entry : splitAt(*value, kListSeparator)) {
        const char letter = entry.empty() ? '\0' : entry[0];
        const std::string text = entry.empty() ? "" : entry.substr(1);
        if (entry.size() == 1 && (letter == search_entry::kSearchPath || letter == search_entry::kRegistry)) {
            entries.push_back(letter == search_entry::kSearchPath ? "\"path\"" : "\"registry\"");
        } else if (entry.size() > 1 &&
                   (letter == search_entry::kDirectory || letter == search_entry::kDirectoryWithFallback ||
                    (letter == search_entry::kDirectoryWithoutFallback && !isAbsoluteHome(text))) &&
                   pathText(text)) {
            const char* fallback = letter == search_entry::kDirectoryWithFallback      ? ", fallback = true"
                                   : letter == search_entry::kDirectoryWithoutFallback ? ", fallback = false"
                                                                                       : "";
            entries.push_back("{ directory = " + tomlString(*pathText(text)) + fallback + " }");
        } else if (entry.size() > 1 && letter == search_entry::kEnvironment) {
            entries.push_back("{ environment = " + tomlString(utf8(text)) + " }");
        } else {
            return std::nullopt;
        }
    }
    in.take(key.id());
    return tomlList(entries);
}

// The VM subdirectory: read into a small buffer of its own.
Key preferredVm() {
    Key key =
        withId(plainKey("runtime", "preferred_vm", "string", "none",
                        "The VM subdirectory of the runtime's bin directory tried first (before client, "
                        "server, j9vm, hotspot, jrockit).",
                        "\"server\"", encodeText, decodeText),
               ids::kPreferredVm, "server");
    key.limit = kPreferredVmCapacity - 1;
    return key;
}

// The rows, in the order of the reference.
const Key kRows[] = {
    {.section = "runtime",
     .name = "min_version",
     .type = "version",
     .defaultText = "no lower bound",
     .meaning = "The oldest Java runtime accepted, inclusive, compared over its own components "
                "(1.8 accepts 1.8.0_231).",
     .example = "\"11\"",
     .exampleSets = {{ids::kMinVersion, "11"}},
     .ids = {ids::kMinVersion},
     .encode = encodeVersion,
     .decode = decodeText},
    {.section = "runtime",
     .name = "max_version",
     .type = "version",
     .defaultText = "no upper bound",
     .meaning = "The newest Java runtime accepted, inclusive (1.8 accepts every 1.8 update).",
     .example = "\"17.0.99\"",
     .exampleSets = {{ids::kMaxVersion, "17.0.99"}},
     .ids = {ids::kMaxVersion},
     .encode = encodeVersion,
     .decode = decodeText},
    {.section = "runtime",
     .name = "search",
     .type = "list of search entries",
     .defaultText = "empty",
     .meaning = "Where the launcher looks for a runtime, in order: { directory = \"jre\" } a "
                "runtime home (relative to the launcher; when no entry qualifies, relative "
                "directories are tried once more and taken whatever their runtime's version; "
                "fallback = true does that for an absolute one too, fallback = false holds a "
                "relative one to the version bounds), { environment = "
                "\"MY_JAVA_HOME\" } a variable holding a home, "
                "\"path\" java.exe on PATH, \"registry\" the JavaSoft keys and located runtimes. "
                "Before the sequence the preferred location file is read; after it the installer "
                "location file, earlier installations, MORIX_JAVA_HOME and VANTAROCK_JAVA_HOME.",
     .example = "[{ directory = \"jre\" }, { environment = \"MY_JAVA_HOME\" }, \"path\", \"registry\"]",
     .exampleSets = {{ids::kSearchSequence, "Rjre;EMY_JAVA_HOME;S;Y"}},
     .ids = {ids::kSearchSequence},
     .encode = encodeSearch,
     .decode = decodeSearch},
    flagKey("runtime", "allow_beta", ids::kAllowBeta,
            "Accept runtimes whose version holds beta, -ea or -rc everywhere."),
    flagKey("runtime", "require_jdk", ids::kRequireJdk,
            "Accept only a JDK: a home qualifies when it has lib/tools.jar, and the JRE keys "
            "of the registry are skipped."),
    withId(
        plainKey("runtime", "previous_installations", "string", "none (no lookup)",
                 "The application id under which earlier installations are recorded in the registry; their "
                 "jre directories are searched after the sequence.",
                 "\"com.example.app\"", encodeText, decodeText),
        ids::kPreviousInstallationsAppId, "com.example.app"),
    flagKey("runtime", "bundled_only", ids::kBundledRuntimesOnly,
            "The registry entry uses only located runtimes whose path contains vrk_jres (the "
            "runtimes that installers bundle) and skips the JavaSoft keys."),
    preferredVm(),
    flagKey("runtime", "add_dll_directories", ids::kAddDllDirectories,
            "Also register the runtime's bin directory with AddDllDirectory while jvm.dll loads."),
};

} // namespace

std::vector<Key> runtimeKeys() {
    return {std::begin(kRows), std::end(kRows)};
}

} // namespace morix::builder
