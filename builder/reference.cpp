// The configuration reference, generated from the key table so that it cannot drift from the code.
#include "config.h"
#include "key_table.h"
#include "message_keys.h"
#include "messages.h"

#include "morix/config_ids.h"
#include "morix/text_encoding.h"

#include <sstream>

namespace morix::builder {
namespace {

const char* sectionIntro(std::string_view section) {
    if (section == "application") {
        return "What to run: the main class, its class path and module path, its arguments and directories.";
    }
    if (section == "launcher") {
        return "The launcher process: its type, variant and the environment it prepares.";
    }
    if (section == "output") {
        return "Where the Java side sends System.out and System.err (not for the run command, which keeps "
               "the console).";
    }
    if (section == "runtime") {
        return "Which Java runtime is accepted and where it is looked for.";
    }
    if (section == "jvm") {
        return "The options of the Java VM. The launcher adds its own system properties before them and the "
               "class path and module path after them.";
    }
    if (section == "splash") {
        return "Splash-screen text settings that the Java side receives before main.";
    }
    if (section == "service") {
        return "The Windows service. Its priority is not configured here: the service host reads it from "
               "the registry value named like the service under "
               "HKEY_LOCAL_MACHINE\\SOFTWARE\\quarrystone\\morix\\priority (a 4-byte priority class such "
               "as 0x20 normal, 0x40 idle, 0x80 high).";
    }
    if (section == "instance") {
        return "How many instances may run at once.";
    }
    return "";
}

// Table cells hold no "|" and no line breaks.
std::string cell(std::string_view text) {
    std::string out;
    for (char c : text) {
        if (c == '|') {
            out += "\\|";
        } else if (c == '\n') {
            out += "<br>";
        } else {
            out += c;
        }
    }
    return out;
}

const char* executableSectionIntro(std::string_view section) {
    if (section == "executable") {
        return "Whenever the configuration has an `[executable]` table, the launcher's manifest is written "
               "afresh: assembly identity \"vudoz\" version 1.0.0.0, the dependency on "
               "Microsoft.Windows.Common-Controls 6.0.0.0, the supportedOS entries for Windows Vista, 7, 8, "
               "8.1 "
               "and 10, and a processor architecture matching the template (X86 for the 32-bit product, "
               "amd64 "
               "for the 64-bit build), with the execution level and DPI awareness below. Without the table "
               "the "
               "template's resources are left exactly as they are.";
    }
    return "The version resource (language 0409, Unicode). Without this table the template's version "
           "information (none) stays. The fixed file and product versions come from `file_version` and "
           "`product_version`; the string table holds the texts given, any Unicode text of at most 1000 "
           "characters each, in the order below, together with `FileVersion` and `ProductVersion` written as "
           "the four numbers.";
}

// What the builder says about a configuration, as the reference shows it: its first error.
std::string exampleFinding(std::string_view configuration) {
    ReadOptions options;
    options.runtimeJar = std::filesystem::path(std::string(kRuntimeJarName));
    options.readFile = [](const std::filesystem::path& path) -> std::optional<std::string> {
        return path.filename() == "logo.png" ? std::optional<std::string>("\x89PNG\r\n\x1A\n")
                                             : std::string();
    };
    Configuration config = readConfiguration("app.toml", configuration, options);
    return config.errors.empty() ? "" : formatDiagnostic(config.errors.front(), false);
}

// The tables of the sections' keys: the ids they set, or for [executable] what they set in the launcher's
// resources.
void keySections(std::ostream& out, const std::vector<Key>& table, const std::vector<std::string>& sections,
                 const char* (*intro)(std::string_view)) {
    for (const std::string& section : sections) {
        const bool resources = isExecutableSection(section);
        out << "## [" << section << "]\n\n" << intro(section) << "\n\n";
        out << (resources
                    ? "| key | type | default | sets | meaning |\n|---|---|---|---|---|\n"
                    : "| key | type | default | ids | meaning | example |\n|---|---|---|---|---|---|\n");
        for (const Key& key : table) {
            if (key.section != section) {
                continue;
            }
            out << "| `" << key.name << "` | " << cell(key.type) << " | " << cell(key.defaultText) << " | "
                << (resources ? cell(key.resource) : cell(key.idsText())) << " | " << cell(key.meaning)
                << " |";
            out << (resources ? "" : " `" + cell(key.example) + "` |") << "\n";
        }
        out << "\n";
    }
}

void messagesSection(std::ostream& out) {
    out << "## [messages]\n\n"
           "The texts that the launcher shows. The builder adds English texts, each naming the cause and "
           "what the user can do, for every message that the configuration leaves open (the text for "
           "`no_runtime` names the configured version bounds and search). `{0}` stands for the insert.\n\n"
           "| key | type | default | meaning |\n|---|---|---|---|\n"
           "| `defaults` | boolean | true | Add the English texts for the messages left open. |\n"
           "| `include` | list of strings | none | Message sets shipped with the builder, applied for "
           "users whose language matches: ";
    for (const std::string& name : includedMessageSetNames()) {
        out << "`\"" << name << "\"` ";
    }
    out << "(German). |\n\n"
           "Messages, by name; each may be given in `[messages]` (the text for every language) and in a "
           "message set `[messages.<locale>]`, whose name is a locale prefix (\"de\" matches de_DE and "
           "de_CH; "
           "sets are applied in name order, so \"de_CH\" overrides \"de\"). A set may also give raw message "
           "ids (`1003 = \"...\"`).\n\n"
           "| key | id | shown when | insert | English default |\n|---|---|---|---|---|\n";
    const MessageTexts defaults = defaultMessages({});
    for (const MessageKey& key : messageKeys()) {
        std::string text;
        for (const auto& [id, value] : defaults) {
            if (id == key.id) {
                text = payload::utf16ToUtf8(value);
            }
        }
        out << "| `" << key.name << "` | " << key.id << " | " << cell(key.meaning) << " | "
            << cell(key.insert) << " | " << cell(text) << " |\n";
    }
}

// The [executable] tables as a configuration writes them, with every key's example.
void exampleTables(std::ostream& out) {
    for (const std::string& section : executableSectionNames()) {
        out << (section == executableSectionNames().front() ? "" : "\n") << "[" << section << "]\n";
        for (const Key& key : executableKeyTable()) {
            if (key.section == section) {
                out << key.name << " = " << key.example << "\n";
            }
        }
    }
    out << "```\n\n";
}

// What the builder says about mistakes in [executable]: its own findings for a few.
void errorExamples(std::ostream& out) {
    out << "## Errors\n\n"
           "Mistakes in these tables are found like those of every other section: each error names the file, "
           "line and column, the key, what was expected and, where there is one, a suggestion; then the exit "
           "code is 2 and nothing is written. An icon is read before anything is written, so that a bad one "
           "stops the build too. For example:\n\n";
    for (const char* example :
         {"[executable.version]\nfile_version = \"1.2\"\n", "[executable]\nicon = \"logo.png\"\n",
          "[executable]\nexecution_level = \"admin\"\n", "[executable]\nicons = \"app.ico\"\n"}) {
        out << "    morix-build: " << exampleFinding(example) << "\n";
    }
}

} // namespace

std::string referenceMarkdown() {
    std::ostringstream out;
    out << "# Configuration reference\n\n"
           "<!-- Generated by `morix-build reference` from the builder's key table; a test compares the two. "
           "-->\n\n"
           "A launcher configuration is a TOML file. Sections group the keys as a Java developer thinks of "
           "them; "
           "each key sets one or more of the launcher's configuration ids, which `morix-build inspect` "
           "shows. "
           "Paths may use forward slashes; they are written with backslashes. Relative paths are taken "
           "against the launcher's directory at run time, except the `source` of an included file and "
           "`application.runtime_jar`, which are relative to the configuration file.\n\n"
           "`morix-build build` checks the file before it writes anything. Every error names the file, line "
           "and "
           "column, the key, what was expected and, where there is one, a suggestion; the builder then exits "
           "with code 2 and writes no launcher. Warnings name what would fail when the launcher runs.\n\n";
    keySections(out, keyTable(), sectionNames(), sectionIntro);
    messagesSection(out);
    out << "\n## [[files]]\n\n"
           "Files included in the launcher and extracted into its temporary directory at each start; .jar "
           "and "
           ".zip files at the top of that directory are put on the class path by the launcher.\n\n"
           "| key | type | meaning |\n|---|---|---|\n"
           "| `name` | string | The name below the temporary directory, at most one directory level "
           "(`lib/app.jar`). |\n"
           "| `source` | path | The file to include, relative to the configuration file. |\n\n"
           "`morix-runtime.jar` is included first unless `application.include_runtime_jar = false`. Ids "
        << ids::kIncludedFileCount << " and " << ids::kIncludedFileNames
        << " (the count and names of the included files) are set from this list.\n\n"
           "## [ids] and the numeric form\n\n"
           "`[ids]` sets raw narrow ids (`122 = \"com.example.Main\"`), `[ids.wide]` raw wide ids; numbers "
           "and "
           "booleans are stored as text (true as 1). A raw id that a named key also sets is an error. The "
           "numeric form of earlier versions keeps working: `[strings]` and `[wide]` hold raw ids, "
           "`[[messages]]` entries a `locale` and `texts = { 1016 = \"...\" }`, and `default_messages = "
           "false` "
           "turns the English texts off.\n\n"
           "## [executable]\n\n"
           "The launcher's resources: its icon, version information and manifest settings (execution "
           "level, DPI awareness), written into the launcher by the builder. Its keys are described in "
           "[executable.md](executable.md).\n\n"
           "## Round trip\n\n"
           "`morix-build inspect --format toml app.exe` prints the named configuration of a launcher; with "
           "`--extract-to DIR` it also writes the included files (and the icon of `[executable]`) into DIR, "
           "under the names the configuration reads, so that the configuration saved in DIR builds the same "
           "launcher byte for byte from the same template. Values that no named key gives back exactly are "
           "written under `[ids]`.\n";
    return out.str();
}

std::string executableReferenceMarkdown() {
    std::ostringstream out;
    out << "# The launcher's own look: icon, version information, manifest\n\n"
           "<!-- Generated by `morix-build reference executable` from the builder's key table; a test "
           "compares "
           "the two. -->\n\n"
           "Every launcher is a copy of the launcher template, so without more it shows the template's "
           "generic "
           "look: no icon, no version information in Explorer's properties, the template's manifest. The "
           "`[executable]` table of the builder's configuration gives a launcher the application's own. "
           "`morix-build` writes these resources itself, on Linux and on Windows alike, without any Windows "
           "tool; `morix-build inspect` shows them.\n\n```toml\n";
    exampleTables(out);
    keySections(out, executableKeyTable(), executableSectionNames(), executableSectionIntro);
    errorExamples(out);
    out << "\n## Round trip\n\n"
           "`morix-build inspect --format toml app.exe` prints the `[executable]` table back from the "
           "launcher's resources when the builder wrote them (a launcher built without the table keeps the "
           "template's resources, and the printed configuration has none either); with `--extract-to DIR` "
           "the "
           "icon is written there as an .ico file named after the launcher. Building the printed "
           "configuration "
           "from the same template gives the same launcher byte for byte. Version texts that the builder "
           "added as defaults (the file names) are left out when they follow the texts that were given.\n\n"
           "## Where the resources go\n\n"
           "The launcher finds its payload right after the raw data of the last section header. The "
           "template's "
           "last section is `.reloc` (the base relocations), right after `.rsrc`. The builder starts from "
           "the "
           "template's own resource tree (keeping whatever it holds besides the kinds it replaces), writes "
           "the "
           "new tree in place when it fits, and otherwise grows `.rsrc` and moves `.reloc` behind it "
           "(nothing "
           "refers to the relocations' own place, only the relocation directory, which is updated). A "
           "template "
           "without resources gets a new `.rsrc` section before its relocations, if its section table has "
           "room. The section table, the image size, the resource and relocation directories and the "
           "checksum "
           "(when the template sets one; it covers the payload too) are kept consistent. Other sections "
           "behind "
           "the resources are not moved: the builder refuses such a template.\n\n"
           "## Signing\n\n"
           "Sign a launcher after building it, never before: a new payload or new resources void a "
           "signature.\n\n"
           "    morix-build build --template morix-launcher.exe --config app.toml -o app.exe\n"
           "    osslsigncode sign -certs cert.pem -key key.pem -n \"My Application\" -in app.exe -out "
           "app-signed.exe\n\n"
           "(`signtool sign` on Windows does the same.) The signature's certificate table goes behind the "
           "payload; the launcher still reads its payload, and `inspect` reads a signed launcher and says "
           "that "
           "it is signed. `morix-build build` refuses a signed template or launcher, since the launcher it "
           "would "
           "write carries no valid signature. `--drop-signature` says that this is meant: the signature is "
           "removed and the new launcher must be signed again.\n";
    return out.str();
}

} // namespace morix::builder
