#include "config.h"
#include "fake_template.h"

#include "morix/pe_image.h"
#include "morix/pe_resources.h"

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;

namespace {

class BuilderTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ =
            fs::temp_directory_path() /
            ("morix-builder-" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) +
             "-" + std::to_string(::getpid()));
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        write("template.exe", fakeTemplate());
    }
    void TearDown() override { fs::remove_all(dir_); }

    static std::string fakeTemplate(bool signed_ = false) { return morix::test::fakeTemplate(signed_); }

    // An .ico file with square 32-bit bitmaps of these sizes.
    static std::string icoFile(std::initializer_list<uint8_t> sizes) {
        std::string directory(6, '\0'), images;
        directory[2] = 1;
        directory[4] = static_cast<char>(sizes.size());
        for (uint8_t size : sizes) {
            std::string bitmap(40 + size * size * 5, '\x7F');
            const uint32_t header[3] = {40, size, 2u * size};
            std::memcpy(&bitmap[0], header, 12);
            const uint32_t entry[4] = {uint32_t{size} * 0x101u, 1u | 32u << 16,
                                       static_cast<uint32_t>(bitmap.size()),
                                       static_cast<uint32_t>(6 + 16 * sizes.size() + images.size())};
            directory.append(reinterpret_cast<const char*>(entry), 16);
            images += bitmap;
        }
        return directory + images;
    }

    void write(const std::string& name, const std::string& content) {
        std::ofstream(dir_ / name, std::ios::binary) << content;
    }

    std::string read(const std::string& name) {
        std::ifstream in(dir_ / name, std::ios::binary);
        std::ostringstream s;
        s << in.rdbuf();
        return s.str();
    }

    // Runs morix-build with the arguments; returns its exit code, with stdout and stderr in out_/err_.
    int run(const std::string& arguments) {
        std::string command = std::string(MORIX_BUILD_EXE) + " " + arguments + " >" +
                              (dir_ / "out.txt").string() + " 2>" + (dir_ / "err.txt").string();
        int status = std::system(command.c_str());
        out_ = read("out.txt");
        err_ = read("err.txt");
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    std::string path(const std::string& name) const { return (dir_ / name).string(); }

    std::string build(const std::string& config, const std::string& output) {
        return "build --template " + path("template.exe") + " --config " + config + " -o " + path(output);
    }

    // The payload of a launcher the builder wrote from the fake template.
    static morix::payload::Payload payloadOf(const std::string& launcher) {
        morix::payload::ParseResult parsed = morix::payload::parse(std::string_view(launcher).substr(0x500));
        EXPECT_TRUE(parsed.payload) << parsed.error;
        return parsed.payload.value_or(morix::payload::Payload{});
    }

    fs::path dir_;
    std::string out_;
    std::string err_;
};

} // namespace

TEST_F(BuilderTest, BuildsALauncherWhosePayloadStartsWhereTheLauncherLooks) {
    write("lib.jar", "jar bytes");
    write("app.toml", R"(
[strings]
101 = "MySvc"
107 = 4
[wide]
20017 = "Läuft"
[[messages]]
locale = "de"
texts = { 1016 = "Keine Laufzeit" }
[[files]]
name = "lib\\lib.jar"
source = "lib.jar"
)");
    ASSERT_EQ(run(build(path("app.toml"), "app.exe")), 0) << err_;
    std::string launcher = read("app.exe");
    std::string error;
    ASSERT_EQ(morix::payload::findPayloadStart(launcher, &error), 0x500u);
    EXPECT_EQ(launcher.substr(0, 0x500), fakeTemplate().substr(0, 0x500)); // the symbol table is cut
    morix::payload::Payload p = payloadOf(launcher);
    EXPECT_EQ(*p.findString(107), "4");
    // The Java side comes first, from beside the builder; then the configuration's own files.
    EXPECT_EQ(*p.findString(2002), "2");
    EXPECT_EQ(*p.findString(2003), "morix-runtime.jar;lib\\lib.jar");
    std::ifstream jar(fs::path(MORIX_BUILD_EXE).parent_path() / "morix-runtime.jar", std::ios::binary);
    std::ostringstream jarBytes;
    jarBytes << jar.rdbuf();
    EXPECT_EQ(p.files.at(0).content, jarBytes.str());
    EXPECT_EQ(p.files.at(1).content, "jar bytes");

    ASSERT_EQ(run("inspect " + path("app.exe")), 0) << err_;
    EXPECT_NE(out_.find("101 = \"MySvc\""), std::string::npos) << out_;
    EXPECT_NE(out_.find("20017 = \"Läuft\""), std::string::npos) << out_;
    EXPECT_NE(out_.find("\"de\" (1 texts)"), std::string::npos) << out_;
    EXPECT_NE(out_.find("1016 = \"Keine Laufzeit\""), std::string::npos) << out_;
    EXPECT_NE(out_.find("lib\\lib.jar (9 bytes)"), std::string::npos) << out_;
    EXPECT_NE(out_.find("1009 = \"An internal error occurred (code {0})."), std::string::npos) << out_;
}

TEST_F(BuilderTest, TheDemoConfigurationComesBackFromInspectAsTheSamePayload) {
    const std::string demo = std::string(MORIX_SOURCE_DIR) + "/examples/hello/hello.toml";
    ASSERT_EQ(run(build(demo, "hello.exe")), 0) << err_;
    fs::create_directories(dir_ / "again");
    ASSERT_EQ(run("inspect --format toml --extract-to " + path("again") + " " + path("hello.exe")), 0)
        << err_;
    EXPECT_EQ(err_, "");
    write("again/hello.toml", out_);
    EXPECT_NE(out_.find("class_path = [\n    { archive = \"lib/hello.jar\", required = true },"),
              std::string::npos)
        << out_;
    ASSERT_EQ(run(build(path("again/hello.toml"), "again.exe")), 0) << err_;
    // The payload comes back byte for byte; the demo's icon and version information live in the
    // resources, which the configuration's [executable] table sets and the payload does not carry.
    const auto payloadOf = [this](const std::string& name) {
        const std::string image = read(name);
        const std::optional<uint64_t> start = morix::payload::findPayloadStart(image, nullptr);
        return start ? image.substr(*start) : std::string();
    };
    EXPECT_FALSE(payloadOf("hello.exe").empty());
    EXPECT_EQ(payloadOf("again.exe"), payloadOf("hello.exe"));
}

TEST_F(BuilderTest, AFailedBuildSaysWhereAndWritesNothing) {
    write("unknown.toml", "[application]\nmain_clas = \"a.B\"\n");
    write("syntax.toml", "[strings\n");
    write("missing.toml", "[[files]]\nname = \"a.txt\"\nsource = \"gone.txt\"\n");
    write("cjk.toml", "[strings]\n101 = \"\xE4\xB8\xAD\"\n");
    write("ok.toml", "[application]\nmain_class = \"a.B\"\n[runtime]\nsearch = [\"path\"]\n");
    write("notpe.exe", "just text");
    write("app.exe", "an earlier launcher");

    EXPECT_EQ(run(build(path("unknown.toml"), "x.exe")), 2);
    EXPECT_EQ(err_, "morix-build: " + path("unknown.toml") +
                        ":2:1: error: application.main_clas: unknown key; did you mean 'main_class'?\n");
    EXPECT_EQ(run(build(path("syntax.toml"), "x.exe")), 2);
    EXPECT_NE(err_.find(path("syntax.toml") + ":1:9: error: "), std::string::npos) << err_;
    EXPECT_EQ(run(build(path("missing.toml"), "x.exe")), 2);
    EXPECT_NE(err_.find(":3:10: error: files.source: cannot read the included file"), std::string::npos)
        << err_;
    EXPECT_EQ(run(build(path("cjk.toml"), "x.exe")), 2);
    EXPECT_NE(err_.find("Windows-1252"), std::string::npos) << err_;
    EXPECT_EQ(run(build(path("absent.toml"), "x.exe")), 2);
    EXPECT_EQ(err_, "morix-build: " + path("absent.toml") + ": error: cannot read the file\n");
    EXPECT_EQ(run("build --config " + path("ok.toml") + " --template " + path("notpe.exe") + " -o " +
                  path("x.exe")),
              2);
    EXPECT_EQ(err_, "morix-build: " + path("notpe.exe") + ": not a PE file (no MZ header)\n");
    EXPECT_EQ(run("build --config " + path("ok.toml")), 2); // missing options
    EXPECT_EQ(std::count(err_.begin(), err_.end(), '\n'), 1) << err_;
    // An existing launcher is left as it was.
    EXPECT_EQ(run(build(path("unknown.toml"), "app.exe")), 2);
    EXPECT_EQ(read("app.exe"), "an earlier launcher");
    for (const auto& entry : fs::directory_iterator(dir_)) {
        EXPECT_NE(entry.path().filename(), "x.exe");
        EXPECT_NE(entry.path().extension(), ".part") << entry.path();
    }
}

TEST_F(BuilderTest, InspectSaysWhereADamagedPayloadStops) {
    EXPECT_EQ(run("inspect " + path("template.exe")), 2);
    EXPECT_NE(err_.find("no valid payload"), std::string::npos) << err_; // the symbol table is no payload
    write("bare.exe", fakeTemplate().substr(0, 0x500));
    EXPECT_EQ(run("inspect " + path("bare.exe")), 2);
    EXPECT_EQ(err_,
              "morix-build: " + path("bare.exe") + ": no payload: nothing follows the executable image\n");
    write("notpe.exe", "text");
    EXPECT_EQ(run("inspect " + path("notpe.exe")), 2);

    write("app.toml", "[application]\nmain_class = \"a.B\"\ninclude_runtime_jar = false\n");
    ASSERT_EQ(run(build(path("app.toml"), "app.exe")), 0) << err_;
    const std::string launcher = read("app.exe");
    // Cut inside the value of the first narrow string: 20 header bytes, count, id, length, 2 bytes.
    write("cut.exe", launcher.substr(0, 0x500 + 20 + 4 + 4 + 4 + 2));
    EXPECT_EQ(run("inspect --format toml " + path("cut.exe")), 2);
    EXPECT_EQ(err_,
              "morix-build: " + path("cut.exe") +
                  ": no valid payload: it stops at offset 32 of the payload (file offset 1312, 34 payload "
                  "bytes), in narrow string 1 of 1 (id 122); the launcher would fail with \"Internal "
                  "Error: readString\"\n");
    EXPECT_EQ(out_, "");
}

TEST_F(BuilderTest, InitWritesAStarterThatBuildsAndNeverOverwrites) {
    ASSERT_EQ(run("init --main-class com.example.Main --jar lib/app.jar -o " + path("app.toml")), 0) << err_;
    const std::string starter = read("app.toml");
    EXPECT_NE(starter.find("main_class = \"com.example.Main\""), std::string::npos) << starter;
    ASSERT_EQ(run(build(path("app.toml"), "app.exe")), 0) << err_;
    EXPECT_NE(err_.find("warning: application.class_path: the required entry lib\\app.jar"),
              std::string::npos)
        << err_;
    morix::payload::Payload p = payloadOf(read("app.exe"));
    EXPECT_EQ(*p.findString(121), "A1lib\\app.jar");
    EXPECT_EQ(*p.findString(128), "Rjre;Y;S");

    EXPECT_EQ(run("init --main-class com.example.Other --jar x.jar -o " + path("app.toml")), 2);
    EXPECT_EQ(read("app.toml"), starter);
    EXPECT_EQ(run("init --main-class com.example.Main.class --jar x.jar -o " + path("bad.toml")), 2);
    EXPECT_FALSE(fs::exists(dir_ / "bad.toml"));

    // The starter's build line names the configuration as written and a launcher of its name.
    ASSERT_EQ(run("init --main-class com.example.Main --jar x.jar -o " + path("tool.toml")), 0) << err_;
    EXPECT_NE(
        read("tool.toml").find("--config " + fs::path(path("tool.toml")).generic_string() + " -o tool.exe\n"),
        std::string::npos)
        << read("tool.toml");
}

TEST_F(BuilderTest, TheReferenceInDocsIsTheOneTheKeyTableGives) {
    ASSERT_EQ(run("reference"), 0) << err_;
    std::ifstream in(std::string(MORIX_SOURCE_DIR) + "/docs/configuration.md", std::ios::binary);
    std::ostringstream docs;
    docs << in.rdbuf();
    EXPECT_TRUE(docs.str() == out_) << "docs/configuration.md is out of date: regenerate it with "
                                       "build/host/bin/morix-build reference >docs/configuration.md";
}

TEST_F(BuilderTest, TheExecutableReferenceInDocsIsTheOneTheKeyTableGives) {
    ASSERT_EQ(run("reference executable"), 0) << err_;
    std::ifstream in(std::string(MORIX_SOURCE_DIR) + "/docs/executable.md", std::ios::binary);
    std::ostringstream docs;
    docs << in.rdbuf();
    EXPECT_TRUE(docs.str() == out_) << "docs/executable.md is out of date: regenerate it with "
                                       "build/host/bin/morix-build reference executable >docs/executable.md";
}

TEST_F(BuilderTest, TheExecutableTableGivesTheLauncherIconVersionAndManifestThatInspectShows) {
    write("app.ico", icoFile({16, 32, 48}));
    write("app.toml", R"(
[strings]
101 = "Svc"
[executable]
icon = "app.ico"
execution_level = "requireAdministrator"
dpi_awareness = "per-monitor-v2"
[executable.version]
file_version = "1.2.3.4"
product_version = "5.6.7.8"
company = "Bücher & Söhne"
product_name = "Hello"
file_description = "Grüße an alle"
copyright = "© 2026"
original_filename = "hello.exe"
)");
    ASSERT_EQ(run("build --template " + path("template.exe") + " --config " + path("app.toml") + " -o " +
                  path("app.exe")),
              0)
        << err_;
    std::string launcher = read("app.exe");
    std::optional<uint64_t> start = morix::payload::findPayloadStart(launcher, nullptr);
    ASSERT_TRUE(start);
    EXPECT_TRUE(morix::payload::parse(std::string_view(launcher).substr(*start)).payload);

    ASSERT_EQ(run("inspect " + path("app.exe")), 0) << err_;
    for (const char* line :
         {"executable: 32-bit (X86), not signed\n", "icon: 16x16 (32-bit), 32x32 (32-bit), 48x48 (32-bit)\n",
          "version information: file version 1.2.3.4, product version 5.6.7.8\n",
          "  CompanyName = \"Bücher & Söhne\"\n", "  FileDescription = \"Grüße an alle\"\n",
          "  ProductName = \"Hello\"\n", "  LegalCopyright = \"© 2026\"\n",
          "  OriginalFilename = \"hello.exe\"\n", "  InternalName = \"app\"\n",
          "  FileVersion = \"1.2.3.4\"\n", "  ProductVersion = \"5.6.7.8\"\n",
          "manifest (execution level requireAdministrator):\n", "processorArchitecture=\"X86\"",
          "PerMonitorV2, PerMonitor", "101 = \"Svc\""}) {
        EXPECT_NE(out_.find(line), std::string::npos) << line << "\n" << out_;
    }
}

TEST_F(BuilderTest, ALauncherWithIconVersionAndManifestComesBackFromInspectByteForByte) {
    write("app.ico", icoFile({16, 32}));
    write("lib.jar", "jar bytes");
    // internal_name without original_filename: the builder adds the file name behind it.
    write("app.toml", R"(
[application]
main_class = "com.example.Main"
[runtime]
search = ["path"]
[executable]
icon = "app.ico"
execution_level = "requireAdministrator"
dpi_awareness = "system"
[executable.version]
file_version = "2.1.0.7"
product_version = "2.1.0.0"
company = "Bücher & Söhne"
internal_name = "tool"
product_name = "Tool"
[[files]]
name = "lib/lib.jar"
source = "lib.jar"
)");
    ASSERT_EQ(run(build(path("app.toml"), "app.exe")), 0) << err_;
    fs::create_directories(dir_ / "again");
    ASSERT_EQ(run("inspect --format toml --extract-to " + path("again") + " " + path("app.exe")), 0) << err_;
    EXPECT_EQ(err_, "");
    for (const char* line :
         {"\n[executable]\nicon = \"app.ico\"\nexecution_level = \"requireAdministrator\"\n"
          "dpi_awareness = \"system\"\n",
          "\n[executable.version]\nfile_version = \"2.1.0.7\"\nproduct_version = \"2.1.0.0\"\n"
          "company = \"Bücher & Söhne\"\nproduct_name = \"Tool\"\ninternal_name = \"tool\"\n"}) {
        EXPECT_NE(out_.find(line), std::string::npos) << out_;
    }
    write("again/app.toml", out_);
    ASSERT_EQ(run(build(path("again/app.toml"), "again/app.exe")), 0) << err_;
    EXPECT_TRUE(read("again/app.exe") == read("app.exe"));

    // Without the table the launcher keeps the template's resources, and so does the named form.
    write("plain.toml", "[application]\nmain_class = \"com.example.Main\"\n[runtime]\nsearch = [\"path\"]\n");
    ASSERT_EQ(run(build(path("plain.toml"), "plain.exe")), 0) << err_;
    ASSERT_EQ(run("inspect --format toml " + path("plain.exe")), 0) << err_;
    EXPECT_EQ(out_.find("[executable"), std::string::npos) << out_;
}

TEST_F(BuilderTest, BadExecutableSettingsAreFoundWhereTheyAreWithExitCode2AndNothingWritten) {
    write("app.ico", icoFile({16}));
    write("text.ico", "not an icon at all");
    const std::pair<const char*, const char*> cases[] = {
        {"[executable]\nicon = \"text.ico\"\n", ":2:8: error: executable.icon: "},
        {"[executable]\nicon = \"missing.ico\"\n", ":2:8: error: executable.icon: cannot read"},
        {"[executable.version]\nfile_version = \"1.2.3\"\n",
         ":2:16: error: executable.version.file_version: expected four numbers from 0 to 65535"},
        {"[executable.version]\nfile_version = \"1.2.3.4\"\nproduct_version = \"1.2.3.70000\"\n",
         ":3:19: error: executable.version.product_version: expected four numbers from 0 to 65535 separated "
         "by "
         "dots (such as 1.2.0.0), found \"1.2.3.70000\""},
        {"[executable]\nexecution_level = \"admin\"\n",
         ":2:19: error: executable.execution_level: expected \"asInvoker\", \"requireAdministrator\" or "
         "\"highestAvailable\", found \"admin\""},
        {"[executable]\ndpi_awareness = \"maybe\"\n",
         ":2:17: error: executable.dpi_awareness: expected \"unaware\", \"system\", \"per-monitor\" or"},
        {"[executable]\nicons = \"app.ico\"\n",
         ":2:1: error: executable.icons: unknown key; did you mean 'icon'?"},
        {"[executable.version]\ncompany = \"x\"\n", ":1:1: error: executable.version: needs a file_version"},
    };
    for (const auto& [config, finding] : cases) {
        write("bad.toml", config);
        EXPECT_EQ(run("build --template " + path("template.exe") + " --config " + path("bad.toml") + " -o " +
                      path("x.exe")),
                  2)
            << config;
        EXPECT_EQ(err_.rfind("morix-build: " + path("bad.toml") + finding, 0), 0u) << err_;
        EXPECT_EQ(std::count(err_.begin(), err_.end(), '\n'), 1) << err_;
        EXPECT_FALSE(fs::exists(dir_ / "x.exe")) << config;
    }
    write("bad.toml", "[executable]\nicon = \"text.ico\"\n");
    EXPECT_EQ(run(build(path("bad.toml"), "x.exe")), 2);
    EXPECT_NE(err_.find("text.ico is not an icon file (no icon directory)"), std::string::npos) << err_;
}

TEST_F(BuilderTest, ASignedTemplateIsRebuiltOnlyWhenTheSignatureMayBeDropped) {
    write("signed.exe", fakeTemplate(true));
    write("app.toml", "[strings]\n101 = \"x\"\n128 = \"Rjre\"\n");
    const std::string args =
        "build --template " + path("signed.exe") + " --config " + path("app.toml") + " -o " + path("x.exe");
    EXPECT_EQ(run(args), 2);
    EXPECT_EQ(err_,
              "morix-build: " + path("signed.exe") +
                  ": is signed; a launcher built from it loses the signature (pass --drop-signature, then "
                  "sign the new launcher)\n");
    EXPECT_FALSE(fs::exists(dir_ / "x.exe"));
    ASSERT_EQ(run(args + " --drop-signature"), 0) << err_;
    EXPECT_FALSE(morix::payload::isSigned(read("x.exe")));
    ASSERT_EQ(run("inspect " + path("x.exe")), 0) << err_;
    EXPECT_NE(out_.find("not signed"), std::string::npos) << out_;
}
