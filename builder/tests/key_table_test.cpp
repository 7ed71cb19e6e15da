// The configuration reader, driven by the key table: every key reaches the ids the launcher reads, the
// named form of a payload builds the same payload again, and mistakes are found where they are.
#include "config.h"
#include "key_table.h"
#include "named_form.h"
#include "zip.h"

#include "morix/config_ids.h"
#include "morix/text_encoding.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>

using namespace morix::builder;
namespace fs = std::filesystem;

namespace {

constexpr const char* kJarContent = "PK runtime jar";

// Reads a configuration held in memory; included files are looked up in `files` by source path.
Configuration read(const std::string& text, std::map<std::string, std::string> files = {}) {
    ReadOptions options;
    options.runtimeJar = fs::path("runtime/morix-runtime.jar");
    files["runtime/morix-runtime.jar"] = kJarContent;
    options.readFile = [files](const fs::path& path) -> std::optional<std::string> {
        auto it = files.find(path.generic_string());
        return it == files.end() ? std::nullopt : std::optional(it->second);
    };
    options.fileExists = [files](const fs::path& path) { return files.count(path.generic_string()) != 0; };
    return readConfiguration("app.toml", text, options);
}

std::string narrow(const morix::payload::Payload& p, int32_t id) {
    const std::string* value = p.findString(id);
    return value ? morix::payload::cp1252ToUtf8(*value) : "<absent>";
}

std::string wide(const morix::payload::Payload& p, int32_t id) {
    const std::u16string* value = p.findWideString(id);
    return value ? morix::payload::utf16ToUtf8(*value) : "<absent>";
}

std::string errors(const Configuration& c) {
    std::string text;
    for (const Diagnostic& d : c.errors) {
        text += formatDiagnostic(d, false) + "\n";
    }
    return text;
}

// Builds, prints the named form, builds that again: the payloads must match byte for byte.
void expectRoundTrip(const morix::payload::Payload& original) {
    NamedForm form = namedForm(original, std::string(kJarContent));
    std::map<std::string, std::string> files;
    for (const auto& file : original.files) {
        std::string name = morix::payload::cp1252ToUtf8(file.name);
        std::replace(name.begin(), name.end(), '\\', '/');
        files[name] = file.content;
    }
    Configuration again = read(form.text, files);
    ASSERT_TRUE(again.payload) << errors(again) << form.text;
    EXPECT_TRUE(form.exact) << form.text;
    EXPECT_EQ(morix::payload::serialize(*again.payload), morix::payload::serialize(original)) << form.text;
}

} // namespace

TEST(KeyTable, EveryKeysExampleSetsTheIdsTheLauncherReads) {
    for (const Key& key : keyTable()) {
        if (key.exampleIds.empty()) {
            continue;
        }
        SCOPED_TRACE(key.dotted());
        const std::string setting = std::string(key.name) + " = " + std::string(key.example) + "\n";
        const bool application = key.section == "application";
        Configuration c = read("[messages]\ndefaults = false\n[application]\ninclude_runtime_jar = false\n" +
                               (application ? setting : "[" + std::string(key.section) + "]\n" + setting));
        ASSERT_TRUE(c.payload) << errors(c);
        std::istringstream expected{std::string(key.exampleIds)};
        std::string line;
        size_t count = 0;
        while (std::getline(expected, line)) {
            const bool isWide = line[0] == 'w';
            const size_t equals = line.find('=');
            const int32_t id = std::stoi(line.substr(isWide ? 1 : 0, equals));
            EXPECT_TRUE(key.sets(id)) << "the table does not list id " << id;
            EXPECT_EQ(isWide ? wide(*c.payload, id) : narrow(*c.payload, id), line.substr(equals + 1)) << id;
            ++count;
        }
        // Nothing beyond what the example documents (the module form of main_class sets 133 as well).
        EXPECT_EQ(c.payload->strings.size() + c.payload->wideStrings.size(), count);
    }
}

TEST(KeyTable, ListsEntryTablesVersionLinesAndMessageSetsReachTheirIds) {
    Configuration c = read(R"(
[application]
main_class = "app.mod/com.example.Main"
module_path = [{ environment = "MODS", required = true }, { directory = "mods" }]
[runtime]
search = [{ directory = "C:/java/jre", fallback = true }, { environment = "APP_JAVA" }, "path"]
[jvm]
options = ["-Dquote='x'", "-Dboth=a \"b\"", ""]
version_options = [{ pattern = "1.8*", options = ["-Xss1m"] }, { min = 11, max = 17 }]
[service]
stop_timeout = 5
start = "auto"
name = "Svc"
dependencies = ["Tcpip", "Afd"]
[messages]
include = ["de"]
caption = "My App"
[messages.de]
caption = "Meine App"
[messages.pt_BR]
no_runtime = "Nenhum Java"
1003 = "raw"
)");
    ASSERT_TRUE(c.payload) << errors(c);
    const auto& p = *c.payload;
    EXPECT_EQ(narrow(p, 122), "app.mod/com.example.Main");
    EXPECT_EQ(narrow(p, 133), "1");
    EXPECT_EQ(narrow(p, 132), "E1MODS;D0mods");
    EXPECT_EQ(narrow(p, 128), "BC:\\java\\jre;EAPP_JAVA;S");
    EXPECT_EQ(narrow(p, 123), "\"-Dquote='x'\" '-Dboth=a \"b\"' \"\" -Dmorix.stopTimeout=5");
    EXPECT_EQ(narrow(p, 10200), "2");
    EXPECT_EQ(narrow(p, 10201), "*1.8*");
    EXPECT_EQ(narrow(p, 10202), "-Xss1m");
    EXPECT_EQ(narrow(p, 10203), "11-17");
    EXPECT_EQ(narrow(p, 10204), "");
    EXPECT_EQ(narrow(p, 107), "4");
    EXPECT_EQ(narrow(p, 149), "Tcpip,Afd");
    EXPECT_EQ(narrow(p, 2002), "1");
    EXPECT_EQ(narrow(p, 2003), "morix-runtime.jar");
    EXPECT_EQ(p.files.at(0).content, kJarContent);
    EXPECT_EQ(wide(p, 1000), "My App");
    EXPECT_NE(wide(p, 1016).find("the directory C:\\java\\jre, the directory named by the variable APP_JAVA, "
                                 "java.exe on PATH, MORIX_JAVA_HOME"),
              std::string::npos)
        << wide(p, 1016);
    // Sets in name order, so that a longer locale overrides its prefix; the shipped German texts with
    // the configuration's own over them.
    ASSERT_EQ(p.messageSets.size(), 2u);
    EXPECT_EQ(p.messageSets[0].locale, "de");
    EXPECT_EQ(p.messageSets[0].texts.size(), 11u);
    EXPECT_EQ(p.messageSets[0].texts.front(), (std::pair<int32_t, std::u16string>{1000, u"Meine App"}));
    EXPECT_EQ(p.messageSets[1].locale, "pt_BR");
    EXPECT_EQ(p.messageSets[1].texts,
              (std::vector<std::pair<int32_t, std::u16string>>{{1003, u"raw"}, {1016, u"Nenhum Java"}}));
}

TEST(KeyTable, NamedFormOfAConfigurationThatSetsEveryKeyBuildsTheSamePayload) {
    // Every key with its example, except the two that share id 107 with launcher.type.
    std::string text = "[messages]\ninclude = [\"de\"]\nmissing_file = \"Fehlt: "
                       "{0}\"\n[messages.fr]\ncaption = \"Erreur\"\n";
    for (const std::string& section : sectionNames()) {
        text += "[" + section + "]\n";
        for (const Key& key : keyTable()) {
            if (key.section == section && key.name != "error_dialogs" && key.name != "start" &&
                key.name != "include_runtime_jar" && key.name != "runtime_jar") {
                text += std::string(key.name) + " = " + std::string(key.example) + "\n";
            }
        }
    }
    text += "[[files]]\nname = \"conf/app.properties\"\nsource = \"app.properties\"\n";
    Configuration c = read(text, {{"app.properties", "x=1"}});
    ASSERT_TRUE(c.payload) << errors(c);
    expectRoundTrip(*c.payload);
    NamedForm form = namedForm(*c.payload, std::string(kJarContent));
    EXPECT_EQ(form.text.find("[ids]"), std::string::npos) << form.text; // everything has a name
}

TEST(KeyTable, ServiceAccountDisplayNameDelayedStartAndRecoveryReachTheirIds) {
    Configuration c = read(R"(
[service]
name = "Svc"
display_name = "Mein Dienst Ω"
account = ".\\appuser"
start = "delayed-auto"
recovery = { restart_delay = 30, restarts = 2 }
)");
    ASSERT_TRUE(c.payload) << errors(c);
    const auto& p = *c.payload;
    EXPECT_EQ(wide(p, 30101), "Mein Dienst Ω");
    EXPECT_EQ(wide(p, 30100), ".\\appuser");
    EXPECT_EQ(narrow(p, 107), "4");
    EXPECT_EQ(narrow(p, 30102), "1");
    EXPECT_EQ(narrow(p, 30103), "30");
    EXPECT_EQ(narrow(p, 30104), "86400") << "the reset period has its default";
    EXPECT_EQ(narrow(p, 30105), "2");
    expectRoundTrip(p);
    NamedForm form = namedForm(p, std::string(kJarContent));
    EXPECT_NE(form.text.find("start = \"delayed-auto\""), std::string::npos) << form.text;
    EXPECT_NE(form.text.find("recovery = { restart_delay = 30, reset_after = 86400, restarts = 2 }"),
              std::string::npos)
        << form.text;

    // Without restarts the system restarts on every failure: no count is written.
    Configuration every = read("[service]\nname = \"Svc\"\nrecovery = {}\nstart = \"auto\"\n");
    ASSERT_TRUE(every.payload) << errors(every);
    EXPECT_EQ(narrow(*every.payload, 30103), "60");
    EXPECT_EQ(narrow(*every.payload, 30105), "<absent>");
    EXPECT_EQ(narrow(*every.payload, 30102), "<absent>");
    expectRoundTrip(*every.payload);
}

TEST(KeyTable, NamedFormKeepsWhatNoKeyGivesBackAsRawIds) {
    // The numeric form can write what no named key does: an A entry, an empty entry, a path with a
    // slash, an executable type of its own, no English defaults, and an empty message set.
    Configuration c = read(R"(
default_messages = false
[application]
include_runtime_jar = false
[strings]
128 = "Ajre;;Y"
121 = "A1lib/app.jar"
107 = 7
122 = "com.example.Main"
123 = "a  b"
[wide]
1016 = "none"
[[messages]]
locale = "fr"
)");
    ASSERT_TRUE(c.payload) << errors(c);
    expectRoundTrip(*c.payload);
    NamedForm form = namedForm(*c.payload, std::nullopt);
    EXPECT_NE(form.text.find("[ids]"), std::string::npos);
    EXPECT_NE(form.text.find("128 = \"Ajre;;Y\""), std::string::npos) << form.text;
    EXPECT_NE(form.text.find("main_class = \"com.example.Main\""), std::string::npos) << form.text;
    EXPECT_NE(form.text.find("defaults = false"), std::string::npos) << form.text;

    // A payload written by another tool: repeated ids and sets out of order are reported, not hidden.
    morix::payload::Payload foreign = *c.payload;
    foreign.strings.emplace_back(122, "com.example.Other");
    EXPECT_FALSE(namedForm(foreign, std::nullopt).exact);
}

TEST(KeyTable, MistakesAreFoundAtTheirLineAndColumnWithWhatWasExpected) {
    struct Case {
        const char* text;
        const char* finding;
    };
    const Case cases[] = {
        {"[application]\nmain_clas = \"a.B\"\n",
         "app.toml:2:1: error: application.main_clas: unknown key; did you mean 'main_class'?"},
        {"[aplication]\n", "app.toml:1:2: error: aplication: unknown section; did you mean 'application'?"},
        {"[runtime]\nmain_class = \"a.B\"\n",
         "app.toml:2:1: error: runtime.main_class: unknown key; it belongs in [application]"},
        {"[jvm]\nread_vmoptions = 1\n",
         "app.toml:2:18: error: jvm.read_vmoptions: expected true or false, found an integer"},
        {"[runtime]\nmin_version = \"1.8.x\"\n", "app.toml:2:15: error: runtime.min_version: expected a "
                                                 "version such as 1.8, 11 or 17.0.2, found \"1.8.x\""},
        {"[runtime]\nsearch = [\"registy\"]\n", "app.toml:2:11: error: runtime.search: unknown search entry "
                                                "\"registy\"; did you mean \"registry\"?"},
        {"[application]\nmain_class = \"lib/app.jar\"\n",
         "app.toml:2:14: error: application.main_class: expected a Java class name such as com.example.Main"},
        {"[[files]]\nname = \"a.txt\"\nsource = \"missing.txt\"\n",
         "app.toml:3:10: error: files.source: cannot read the included file missing.txt"},
        {"[application]\nmain_class = \"a.B\"\n[ids]\n122 = \"c.D\"\n",
         "app.toml:4:7: error: 122: id 122 is also set by application.main_class (line 2)"},
        {"[messages]\nno_runtime = \"x\"\n[ids.wide]\n1016 = \"y\"\n",
         "app.toml:2:1: error: messages.no_runtime: message 1016 is also set as a raw id"},
        {"[application]\nclass_path = [{ archiv = \"x.jar\" }]\n",
         "app.toml:2:17: error: application.class_path: unknown key 'archiv'; did you mean 'archive'?"},
        {"[service]\nstop_timeout = 0\n",
         "app.toml:2:16: error: service.stop_timeout: expected a whole number from 1"},
        // The Java side honours at most an hour: a longer limit would silently become its default.
        {"[service]\nstop_timeout = 7200\n",
         "app.toml:2:16: error: service.stop_timeout: expected a whole number from 1 to 3600"},
        {"[launcher]\ntype = \"gui\"\n[service]\nstart = \"auto\"\n", "exclude each other"},
        {"[messages]\ninclude = [\"fr\"]\n",
         "app.toml:2:12: error: messages.include: the builder ships no message set \"fr\""},
        {"[service]\nname = \"Dienst \xE4\xB8\xAD\"\n",
         "app.toml:2:8: error: service.name: holds a character that the launcher's ANSI code page"},
        {"[service]\naccount = \"LocalSytem\"\n",
         "app.toml:2:11: error: service.account: expected \"LocalSystem\", \"LocalService\", "
         "\"NetworkService\" or a "
         "user account as DOMAIN\\\\user, found \"LocalSytem\"; did you mean \"LocalSystem\"?"},
        {"[service]\naccount = \"user@corp.example\"\n", "service.account: expected \"LocalSystem\""},
        {"[service]\naccount = \"appuser\"\n", "write an account of this machine as \".\\\\user\""},
        {"[service]\nstart = \"delayed\"\n",
         "service.start: expected \"demand\", \"auto\" or \"delayed-auto\", found \"delayed\""},
        {"[service]\nrecovery = { restart_delay = 60, resets = 3 }\n",
         "app.toml:2:34: error: service.recovery: unknown key 'resets'; known keys: restart_delay, restarts, "
         "reset_after"},
        {"[service]\nrecovery = { restart_delay = 90000 }\n",
         "service.recovery.restart_delay: expected a whole number from 0 to 86400, found 90000"},
        {"[service]\nrecovery = { restarts = 0 }\n",
         "service.recovery.restarts: expected a whole number from 1 to 100, found 0"},
        {"[service]\nrecovery = 60\n", "service.recovery: expected a table"},
        {"[application\n", "app.toml:1:13: error: "},
    };
    for (const Case& c : cases) {
        Configuration config = read(c.text);
        EXPECT_FALSE(config.payload) << c.text;
        EXPECT_NE(errors(config).find(c.finding), std::string::npos) << c.text << "\n" << errors(config);
    }
}

TEST(KeyTable, WarningsNameWhatWouldFailAtRunTime) {
    Configuration c = read("[application]\nclass_path = [{ archive = \"lib/app.jar\", required = true }, "
                           "{ archive = \"lib/there.jar\", required = true }]\n[service]\nstart = \"auto\"\n",
                           {{"lib/there.jar", ""}});
    ASSERT_TRUE(c.payload) << errors(c);
    std::string warnings;
    for (const Diagnostic& d : c.warnings) {
        warnings += formatDiagnostic(d, true) + "\n";
    }
    EXPECT_NE(
        warnings.find("app.toml:2:27: warning: application.class_path: the required entry lib\\app.jar"),
        std::string::npos)
        << warnings;
    EXPECT_EQ(warnings.find("there.jar"), std::string::npos) << warnings;
    EXPECT_NE(warnings.find("service.name: a service configuration without a service name"),
              std::string::npos);
    EXPECT_NE(warnings.find("runtime.search: no search entry could find a Java runtime"), std::string::npos);
    EXPECT_EQ(c.warnings.size(), 3u) << warnings;
}

TEST(KeyTable, TheExecutableTableGivesTheLauncherResourcesAndNoIds) {
    // An .ico of one 16x16 bitmap: the directory, its entry, and a bitmap header with its pixels.
    std::string bitmap(40 + 16 * 16 * 4, '\x7F');
    const uint32_t header[3] = {40, 16, 32};
    std::memcpy(&bitmap[0], header, sizeof header);
    std::string ico("\0\0\1\0\1\0", 6);
    const uint32_t entry[4] = {0x1010, 1u | 32u << 16, static_cast<uint32_t>(bitmap.size()), 22};
    ico.append(reinterpret_cast<const char*>(entry), sizeof entry);
    Configuration c = read("[executable]\nicon = \"app.ico\"\nexecution_level = \"highestAvailable\"\n"
                           "[executable.version]\nproduct_name = \"My App\"\ncompany = \"Me\"\n"
                           "file_version = \"1.2.3.4\"\n[runtime]\nsearch = [\"path\"]\n",
                           {{"app.ico", ico + bitmap}});
    ASSERT_TRUE(c.payload) << errors(c);
    ASSERT_TRUE(c.executable.present);
    ASSERT_EQ(c.executable.icon.size(), 1u);
    EXPECT_EQ(c.executable.icon[0].width, 16);
    EXPECT_EQ(c.executable.icon[0].data, bitmap);
    EXPECT_EQ(c.executable.executionLevel, morix::payload::ExecutionLevel::highestAvailable);
    ASSERT_TRUE(c.executable.version);
    EXPECT_EQ(c.executable.version->productVersion, (morix::payload::VersionNumber{1, 2, 3, 4}));
    // The string table in the key table's order, whatever the file's.
    EXPECT_EQ(c.executable.version->strings, (std::vector<std::pair<std::u16string, std::u16string>>{
                                                 {u"CompanyName", u"Me"}, {u"ProductName", u"My App"}}));
    EXPECT_EQ(narrow(*c.payload, 128), "S");  // and nothing of it reaches the payload
    EXPECT_EQ(c.payload->strings.size(), 3u); // 128, 2002, 2003
}

TEST(KeyTable, TheServiceHostsRestartEnvironmentAndLogKeysReachTheirIdsInBothTableForms) {
    using namespace morix::ids;
    // A [service.restart] table that leaves fields out gets the defaults; max_delay follows a long delay.
    Configuration c = read(R"(
[service]
log = "var/logs"
log_max_size = 4096
log_keep = 0
[service.restart]
delay = 90
limit = 2
success_codes = [0, 3]
[service.environment]
MORIX_LOG = "yes"
"APP HOME" = "%MORIX_EXEDIR%\\app"
)");
    ASSERT_TRUE(c.payload) << errors(c);
    const auto& p = *c.payload;
    EXPECT_EQ(narrow(p, kServiceRestartDelay), "90");
    EXPECT_EQ(narrow(p, kServiceRestartMaxDelay), "90");
    EXPECT_EQ(narrow(p, kServiceRestartLimit), "2");
    EXPECT_EQ(narrow(p, kServiceRestartWindow), "600");
    EXPECT_EQ(narrow(p, kServiceRestartSuccessCodes), "0,3");
    EXPECT_EQ(wide(p, kServiceEnvironment), "APP HOME=%MORIX_EXEDIR%\\app\nMORIX_LOG=yes");
    EXPECT_EQ(narrow(p, kServiceLogDirectory), "var\\logs");
    EXPECT_EQ(narrow(p, kServiceLogMaxSize), "4096");
    EXPECT_EQ(narrow(p, kServiceLogKeep), "0");
    EXPECT_EQ(narrow(p, kServiceLogDaily), "<absent>");
    expectRoundTrip(p);
    NamedForm form = namedForm(p, std::string(kJarContent));
    EXPECT_NE(
        form.text.find("restart = { delay = 90, max_delay = 90, limit = 2, window = 600, success_codes = "
                       "[0, 3] }"),
        std::string::npos)
        << form.text;
    EXPECT_NE(form.text.find("environment = { \"APP HOME\" = "), std::string::npos) << form.text;

    // The same policy inline, and an empty list: every exit code then counts as a failure.
    Configuration inline_ = read("[service]\nrestart = { delay = 1, success_codes = [] }\n");
    ASSERT_TRUE(inline_.payload) << errors(inline_);
    EXPECT_EQ(narrow(*inline_.payload, kServiceRestartMaxDelay), "60");
    EXPECT_EQ(narrow(*inline_.payload, kServiceRestartSuccessCodes), "");
    expectRoundTrip(*inline_.payload);

    // A launcher without these keys carries none of their ids.
    Configuration none = read("[service]\nname = \"Svc\"\n");
    ASSERT_TRUE(none.payload) << errors(none);
    for (int32_t id = 30150; id < 30200; ++id) {
        EXPECT_EQ(narrow(*none.payload, id), "<absent>") << id;
    }
}

TEST(KeyTable, TheServiceHostsKeysRefuseWhatTheHostCouldNotHoldTo) {
    const std::pair<const char*, const char*> cases[] = {
        {"[service]\nrestart = { delay = 30, max_delay = 10 }\n",
         "service.restart: max_delay is shorter than delay"},
        {"[service]\nrestart = { dealy = 3 }\n", "unknown key 'dealy'; did you mean 'delay'?"},
        {"[service]\nrestart = { delay = 7200 }\n",
         "service.restart.delay: expected a whole number from 0 to 3600"},
        {"[service]\nrestart = { success_codes = [-1] }\n",
         "service.restart.success_codes: expected a whole number"},
        {"[service]\nrestart = 5\n", "service.restart: expected a table"},
        {"[service.environment]\nA = 1\n", "service.environment.A: expected a string"},
        {"[service.environment]\n\"A=B\" = \"x\"\n", "a variable's name holds no '='"},
        {"[service.environment]\nA = \"two\\nlines\"\n", "neither holds a line end"},
        {"[service]\nlog_max_size = 10\n", "service.log_max_size: expected a whole number from 1024"},
        {"[service]\nlog_keep = 101\n", "service.log_keep: expected a whole number from 0 to 100"},
        {"[service]\nlog = \"\"\n", "service.log: expected a path"},
    };
    for (const auto& [text, finding] : cases) {
        Configuration config = read(text);
        EXPECT_FALSE(config.payload) << text;
        EXPECT_NE(errors(config).find(finding), std::string::npos) << text << "\n" << errors(config);
    }
}

// The launcher expands variables before it splits, so an element whose value may bring a space is quoted
// whatever it holds when written.
TEST(KeyTable, ElementsThatHoldVariablesTabsOrQuotesAreQuotedAndBothQuotesAreALocatedError) {
    Configuration c = read(R"([application]
arguments = ["--temp", "${launcher:sys.tempDir}", "%APPDATA%\\x", "tab	in", "plain"]
[jvm]
options = ["-Dhome=${launcher:sys.launcherDirectory}", "-Xmx64m"]
)");
    ASSERT_TRUE(c.payload) << errors(c);
    EXPECT_EQ(narrow(*c.payload, morix::ids::kProgramArguments),
              "--temp \"${launcher:sys.tempDir}\" \"%APPDATA%\\x\" \"tab\tin\" plain");
    EXPECT_EQ(narrow(*c.payload, morix::ids::kVmOptions),
              "\"-Dhome=${launcher:sys.launcherDirectory}\" -Xmx64m");
    expectRoundTrip(*c.payload);

    Configuration both =
        read("[application]\nmain_class = \"a.B\"\narguments = [\"ok\", \"it's \\\"x\\\"\"]\n");
    EXPECT_FALSE(both.payload);
    EXPECT_NE(
        errors(both).find("app.toml:3:20: error: application.arguments: holds both a double and a single "
                          "quote"),
        std::string::npos)
        << errors(both);
}

namespace {

// A jar's bytes holding the named entries.
std::string jarHolding(const std::vector<std::string>& names) {
    static int made = 0;
    const fs::path dir =
        fs::temp_directory_path() /
        ("morix-key-table-" + std::to_string(std::hash<std::string>{}(fs::current_path().string())) + "-" +
         std::to_string(++made));
    fs::create_directories(dir);
    { std::ofstream(dir / "Entry.class") << "cafebabe"; }
    std::vector<morix::builder::ZipEntry> entries;
    for (const std::string& name : names) {
        entries.push_back({name, dir / "Entry.class"});
    }
    std::string problem;
    EXPECT_TRUE(writeZip(dir / "app.jar", entries, 0, problem)) << problem;
    std::ifstream in(dir / "app.jar", std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    in.close();
    fs::remove_all(dir);
    return bytes.str();
}

std::string warningsOf(const Configuration& c) {
    std::string text;
    for (const Diagnostic& d : c.warnings) {
        text += formatDiagnostic(d, true) + "\n";
    }
    return text;
}

} // namespace

TEST(KeyTable, WarnsOfARelativeRuntimeTakenWhateverItsVersionAndOfAMainClassThatNoListedArchiveHolds) {
    Configuration c = read(R"([application]
main_class = "com.example.Main"
class_path = [{ archive = "lib/app.jar" }]
[runtime]
min_version = "11"
search = [{ directory = "C:/java" }, { directory = "jre" }, "registry"]
)",
                           {{"lib/app.jar", jarHolding({"com/example/Other.class"})}});
    ASSERT_TRUE(c.payload) << errors(c);
    const std::string warnings = warningsOf(c);
    EXPECT_NE(warnings.find("app.toml:6:38: warning: runtime.search: a relative directory is taken whatever "
                            "its runtime's version"),
              std::string::npos)
        << warnings;
    EXPECT_NE(warnings.find("app.toml:2:14: warning: application.main_class: com.example.Main is in none of "
                            "the listed archives (lib/app.jar)"),
              std::string::npos)
        << warnings;
    EXPECT_EQ(c.warnings.size(), 2u) << warnings;

    // A fallback said either way silences the first; false is kept for a relative directory.
    Configuration said = read(R"([application]
main_class = "com.example.Main"
class_path = [{ archive = "lib/app.jar" }]
[runtime]
min_version = "11"
search = [{ directory = "jre", fallback = false }, { directory = "old", fallback = true },
          { directory = "C:/java", fallback = false }]
)",
                              {{"lib/app.jar", jarHolding({"com/example/Main.class"})}});
    ASSERT_TRUE(said.payload) << errors(said);
    EXPECT_EQ(said.warnings.size(), 0u) << warningsOf(said);
    EXPECT_EQ(narrow(*said.payload, morix::ids::kSearchSequence), "Njre;Bold;RC:\\java");
    expectRoundTrip(*said.payload);

    // Without bounds any runtime qualifies: nothing to warn of; with an archive that is not there, the
    // main class is not looked for.
    Configuration open = read("[application]\nmain_class = \"com.example.Main\"\nclass_path = [{ archive = "
                              "\"lib/gone.jar\" }]\n[runtime]\nsearch = [{ directory = \"jre\" }]\n");
    ASSERT_TRUE(open.payload) << errors(open);
    EXPECT_EQ(open.warnings.size(), 0u) << warningsOf(open);
}
