// [application]: what to run, its class path and module path, its arguments and directories.
#include "key_converters.h"
#include "key_sections.h"

#include "morix/config_ids.h"

#include <algorithm>

namespace morix::builder {
namespace {

bool isIdentifierChar(unsigned char c, bool first) {
    if (c >= 0x80 || c == '_' || c == '$' || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z')) {
        return true;
    }
    return !first && c >= '0' && c <= '9';
}

bool isDottedName(std::string_view name) {
    if (name.empty()) {
        return false;
    }
    for (const std::string& part : splitAt(name, '.')) {
        if (part.empty() || !isIdentifierChar(static_cast<unsigned char>(part[0]), true)) {
            return false;
        }
        for (char c : part) {
            if (!isIdentifierChar(static_cast<unsigned char>(c), false)) {
                return false;
            }
        }
    }
    return true;
}

void encodeMainClass(const Key& key, const toml::node& value, Encoder& out) {
    std::optional<std::string> text = readText(key, value, out);
    if (!text) {
        return;
    }
    const size_t slash = text->find('/');
    const std::string moduleName = slash == std::string::npos ? "" : text->substr(0, slash);
    const std::string className = slash == std::string::npos ? *text : text->substr(slash + 1);
    // A file name here is a mix-up with the class path, even where it would parse as a class name.
    const bool fileName = text->ends_with(".jar") || text->ends_with(".class") || text->ends_with(".java");
    const bool ok =
        !fileName && isDottedName(className) && (slash == std::string::npos || isDottedName(moduleName));
    if (!ok) {
        std::string suggestion = "write the binary name of the class, identifiers joined by dots";
        if (text->ends_with(".class") || text->ends_with(".java")) {
            suggestion = "leave out the file extension";
        } else if (text->ends_with(".jar")) {
            suggestion = "name the main class here; the jar belongs in application.class_path";
        } else if (std::count(text->begin(), text->end(), '/') > 1 || text->find('\\') != std::string::npos) {
            suggestion = "separate packages with dots; one '/' may only follow a module name";
        }
        out.error(value.source(), key.dotted(),
                  "expected a Java class name such as com.example.Main (or module/class, such as "
                  "app.mod/com.example.Main), found \"" +
                      utf8(*text) + "\"",
                  suggestion);
        return;
    }
    out.set(key.id(), *text, key.dotted(), value.source());
    if (slash != std::string::npos) {
        out.set(ids::kMainClassInModule, "1", key.dotted(), value.source());
    }
}

std::optional<std::string> decodeMainClass(const Key& key, Decoder& in) {
    const std::string* value = in.narrow(key.id());
    const std::string* module = in.narrow(ids::kMainClassInModule);
    if (!value) {
        return std::nullopt;
    }
    const bool hasSlash = value->find('/') != std::string::npos;
    // The named form writes the module flag exactly when the name holds a module.
    if (hasSlash != (module && *module == "1") || (module && *module != "1")) {
        return std::nullopt;
    }
    in.take(key.id());
    if (module) {
        in.take(ids::kMainClassInModule);
    }
    return tomlString(utf8(*value));
}

// One entry table of a class path or module path: its kind letter, required flag and name, or none
// after a finding. A finding about the entry's flags clears `ok` but still gives the entry.
std::optional<std::string> pathEntry(const Key& key, const toml::node& element, Encoder& out, bool& ok) {
    const toml::table* entry = element.as_table();
    if (!entry) {
        out.error(element.source(), key.dotted(), "expected an entry table, found a plain value",
                  "write { archive = \"lib/app.jar\" }, { directory = \"lib\", scan = true } or "
                  "{ environment = \"EXTRA_CP\" }");
        return std::nullopt;
    }
    if (!out.onlyKeys(*entry, key.dotted(), {"archive", "directory", "environment", "scan", "required"})) {
        return std::nullopt;
    }
    const int kinds = (entry->contains("archive") ? 1 : 0) + (entry->contains("directory") ? 1 : 0) +
                      (entry->contains("environment") ? 1 : 0);
    if (kinds != 1) {
        out.error(element.source(), key.dotted(),
                  "an entry names exactly one of archive, directory or environment");
        return std::nullopt;
    }
    bool scan = false;
    bool required = false;
    if (const toml::node* node = entry->get("scan")) {
        scan = out.flag(*node, key.dotted() + ".scan").value_or(false);
        if (!entry->contains("directory")) {
            out.error(node->source(), key.dotted(), "scan applies to a directory entry only");
            ok = false;
        }
    }
    if (const toml::node* node = entry->get("required")) {
        required = out.flag(*node, key.dotted() + ".required").value_or(false);
    }
    const char* kindName = entry->contains("archive")     ? "archive"
                           : entry->contains("directory") ? "directory"
                                                          : "environment";
    std::optional<std::string> name =
        entryName(key, *entry, kindName, out, "expected one non-empty name without ';'",
                  "give each entry a table of its own");
    if (!name) {
        return std::nullopt;
    }
    char letter = path_entry::kEnvironment;
    if (kindName != std::string_view("environment")) {
        *name = toBackslashes(*name);
        letter = kindName == std::string_view("archive") ? path_entry::kArchive
                 : scan                                  ? path_entry::kScanDirectory
                                                         : path_entry::kDirectory;
        if (required && name->find("${") == std::string::npos) {
            out.requiredArchives.emplace_back(*name, entry->get(kindName)->source());
        }
    }
    return std::string(1, letter) + (required ? path_entry::kRequired : path_entry::kOptional) + *name;
}

void encodePathEntries(const Key& key, const toml::node& value, Encoder& out) {
    const toml::array* list = out.array(value, key.dotted());
    if (!list) {
        return;
    }
    std::vector<std::string> entries;
    bool ok = true;
    for (const toml::node& element : *list) {
        if (std::optional<std::string> entry = pathEntry(key, element, out, ok)) {
            entries.push_back(*entry);
        } else {
            ok = false;
        }
    }
    const std::string text = join(entries, std::string(1, kListSeparator));
    if (text.size() > key.limit) {
        out.error(value.source(), key.dotted(),
                  "is " + std::to_string(text.size()) +
                      " characters long written out; the launcher reads at most " + std::to_string(key.limit),
                  "scan a directory instead of naming each archive");
        return;
    }
    if (ok) {
        out.set(key.id(), text, key.dotted(), value.source());
    }
}

std::optional<std::string> decodePathEntries(const Key& key, Decoder& in) {
    const std::string* value = in.narrow(key.id());
    if (!value || value->empty()) {
        return std::nullopt;
    }
    std::vector<std::string> tables;
    for (const std::string& entry : splitAt(*value, kListSeparator)) {
        if (entry.size() <= path_entry::kNameOffset ||
            (entry[1] != path_entry::kOptional && entry[1] != path_entry::kRequired)) {
            return std::nullopt;
        }
        const std::string name = entry.substr(path_entry::kNameOffset);
        const std::string required = entry[1] == path_entry::kRequired ? ", required = true" : "";
        std::optional<std::string> path = pathText(name);
        switch (entry[0]) {
        case path_entry::kArchive:
        case path_entry::kDirectory:
        case path_entry::kScanDirectory:
            if (!path) {
                return std::nullopt;
            }
            tables.push_back(
                std::string("{ ") + (entry[0] == path_entry::kArchive ? "archive" : "directory") + " = " +
                tomlString(*path) + (entry[0] == path_entry::kScanDirectory ? ", scan = true" : "") +
                required + " }");
            break;
        case path_entry::kEnvironment:
            tables.push_back("{ environment = " + tomlString(utf8(name)) + required + " }");
            break;
        default:
            return std::nullopt;
        }
    }
    in.take(key.id());
    return tomlTableList(tables);
}

// The rows, in the order of the reference.
const Key kRows[] = {
    {.section = "application",
     .name = "main_class",
     .type = "string",
     .defaultText = "none",
     .meaning = "The application's main class, a Java binary name. For a class in a named module "
                "write module/class; that also sets id 133 (the class is loaded from the module path).",
     .example = "\"com.example.Main\"",
     .exampleSets = {{ids::kMainClass, "com.example.Main"}},
     .ids = {ids::kMainClass, ids::kMainClassInModule},
     .encode = encodeMainClass,
     .decode = decodeMainClass},
    {.section = "application",
     .name = "class_path",
     .type = "list of entry tables",
     .defaultText = "empty",
     .meaning = "Class path entries, resolved against the launcher's directory: "
                "{ archive = \"lib/app.jar\" } a file, { directory = \"classes\" } a directory, "
                "{ directory = \"lib\", scan = true } every .jar and then every .zip in it, "
                "{ environment = \"EXTRA_CP\" } the value of a variable. required = true ends "
                "the launch with message missing_file (or missing_variable) when the entry "
                "finds nothing. Included .jar files at the top of the temporary directory "
                "(such as morix-runtime.jar) are added by the launcher itself.",
     .example = "[{ archive = \"lib/app.jar\", required = true }, { directory = \"lib/ext\", scan = true }]",
     .exampleSets = {{ids::kClassPath, "A1lib\\app.jar;S0lib\\ext"}},
     .ids = {ids::kClassPath},
     .encode = encodePathEntries,
     .decode = decodePathEntries},
    {.section = "application",
     .name = "module_path",
     .type = "list of entry tables",
     .defaultText = "empty",
     .meaning = "Module path entries, in the form of class_path; a scanned directory is put on "
                "the module path as a whole. With a module path, included archives go to the "
                "module path and the runtime module is added to --add-modules.",
     .example = "[{ directory = \"mods\", scan = true }]",
     .exampleSets = {{ids::kModulePath, "S0mods"}},
     .ids = {ids::kModulePath},
     .encode = encodePathEntries,
     .decode = decodePathEntries},
    {.section = "application",
     .name = "arguments",
     .type = "list of strings",
     .defaultText = "none",
     .meaning = "Arguments that the application's main method receives before those of the "
                "command line. Variables such as ${launcher:sys.tempDir} are expanded.",
     .example = "[\"--mode\", \"fast lane\"]",
     .exampleSets = {{ids::kProgramArguments, "--mode \"fast lane\""}},
     .ids = {ids::kProgramArguments},
     .encode = encodeCommandLine,
     .decode = decodeCommandLine,
     .limit = kArgumentsCapacity - 1},
    {.section = "application",
     .name = "working_directory",
     .type = "path",
     .defaultText = "unchanged",
     .meaning = "The working directory the launcher changes to, relative to its own directory; "
                "variables are expanded.",
     .example = "\"data\"",
     .exampleSets = {{ids::kWorkingDirectory, "data"}},
     .ids = {ids::kWorkingDirectory},
     .encode = encodePath,
     .decode = decodePath},
    {.section = "application",
     .name = "installation_directory",
     .type = "path",
     .defaultText = "the launcher's directory",
     .meaning = "The application's installation directory, relative to the launcher's directory; "
                "the location files .vantarock/pref_jre.cfg and inst_jre.cfg are read below it.",
     .example = "\"..\"",
     .exampleSets = {{ids::kInstallationDirectory, ".."}},
     .ids = {ids::kInstallationDirectory},
     .encode = encodePath,
     .decode = decodePath},
    {.section = "application",
     .name = "library_path",
     .type = "list of paths",
     .defaultText = "none",
     .meaning = "Directories of the application's native libraries, put in front of PATH (and "
                "so into java.library.path); relative to the launcher's directory.",
     .example = "[\"native\", \"lib/win32\"]",
     .exampleSets = {{ids::kNativeLibraryDirectories, "native;lib\\win32"}},
     .ids = {ids::kNativeLibraryDirectories},
     .encode = [](const Key& k, const toml::node& v,
                  Encoder& o) { encodeJoinedList(k, v, o, kListSeparator, true); },
     .decode = [](const Key& k, Decoder& d) { return decodeJoinedList(k, d, kListSeparator, true); }},
    {.section = "application",
     .name = "include_runtime_jar",
     .type = "boolean",
     .defaultText = "true",
     .meaning = "Include morix-runtime.jar (the Java side every launcher needs) as the first "
                "included file, so that it is on the class path (or module path) without an "
                "entry of its own. The jar is taken from runtime_jar, or else from the "
                "directory of morix-build itself.",
     .example = "false",
     .ids = {ids::kIncludedFileCount, ids::kIncludedFileNames},
     .encode = [](const Key& k, const toml::node& v,
                  Encoder& o) { o.includeRuntimeJar = o.flag(v, k.dotted()).value_or(o.includeRuntimeJar); }},
    {.section = "application",
     .name = "runtime_jar",
     .type = "path",
     .defaultText = "morix-runtime.jar beside morix-build",
     .meaning = "The morix-runtime.jar to include, relative to the configuration file.",
     .example = "\"../build/host/bin/morix-runtime.jar\"",
     .ids = {ids::kIncludedFileCount, ids::kIncludedFileNames},
     .encode =
         [](const Key& k, const toml::node& v, Encoder& o) {
             if (std::optional<std::string> path = o.string(v, k.dotted())) {
                 o.runtimeJarPath = {{*path, v.source()}};
             }
         }},
};

} // namespace

std::vector<Key> applicationKeys() {
    return {std::begin(kRows), std::end(kRows)};
}

} // namespace morix::builder
