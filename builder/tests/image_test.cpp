// `morix-build image`: the folder, the zip, the checks that refuse an image whose launcher could not
// start, and the rule that turns an application's version into a Windows version.
#include "fake_template.h"
#include "windows_version.h"
#include "zip.h"

#include "morix/payload.h"
#include "morix/pe_image.h"

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;

namespace {

std::string windowsVersion(const std::string& version) {
    std::string problem;
    std::optional<morix::payload::VersionNumber> number = morix::builder::windowsVersionOf(version, problem);
    return number ? morix::payload::formatVersionNumber(*number) : "error: " + problem;
}

TEST(WindowsVersionTest, MavenVersionsBecomeFourNumbersByTheDocumentedRule) {
    EXPECT_EQ(windowsVersion("1.4.0-SNAPSHOT"), "1.4.0.0");
    EXPECT_EQ(windowsVersion("1.4.0"), "1.4.0.0");
    EXPECT_EQ(windowsVersion("2"), "2.0.0.0");
    EXPECT_EQ(windowsVersion("1.4-3"), "1.4.0.3"); // a build number is the fourth number
    EXPECT_EQ(windowsVersion("1.4.0-12"), "1.4.0.12");
    EXPECT_EQ(windowsVersion("1.2.3.4"), "1.2.3.4");
    EXPECT_EQ(windowsVersion("1.2.3.4-5"), "1.2.3.4"); // no room left for the build number
    EXPECT_EQ(windowsVersion("1.0-beta-2"), "1.0.0.0");
    EXPECT_EQ(windowsVersion("1.4.0.Final"), "1.4.0.0");
    EXPECT_EQ(windowsVersion("1.4.0-20260101.120000-3"), "1.4.0.0"); // a resolved snapshot
    EXPECT_EQ(windowsVersion("007.08"), "7.8.0.0");
    EXPECT_EQ(windowsVersion("65535.0.0.65535"), "65535.0.0.65535");

    EXPECT_EQ(windowsVersion("LATEST"), "error: the version 'LATEST' does not start with a number");
    EXPECT_EQ(windowsVersion(""), "error: the version '' does not start with a number");
    EXPECT_EQ(windowsVersion("1.2.3.4.5"),
              "error: the version '1.2.3.4.5' has more than the four numbers of a Windows version");
    EXPECT_EQ(
        windowsVersion("20260101"),
        "error: the version '20260101' has a number above 65535, the largest part of a Windows version");
    EXPECT_EQ(
        windowsVersion("1.0-70000"),
        "error: the version '1.0-70000' has a number above 65535, the largest part of a Windows version");
}

class ImageTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ =
            fs::temp_directory_path() /
            ("morix-image-" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) +
             "-" + std::to_string(::getpid()));
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        write("template.exe", morix::test::fakeTemplate());
        write("Main.class", "class bytes");
        jar("app.jar", {"META-INF/", "com/example/Main.class"});
        jar("dep.jar", {"org/dep/Util.class"});
        runtime("jre32", 0x14C);
    }
    void TearDown() override { fs::remove_all(dir_); }

    void write(const std::string& name, const std::string& content) {
        fs::create_directories((dir_ / name).parent_path());
        std::ofstream(dir_ / name, std::ios::binary) << content;
    }
    std::string read(const std::string& name) const {
        std::ifstream in(dir_ / name, std::ios::binary);
        std::ostringstream content;
        content << in.rdbuf();
        return content.str();
    }
    std::string path(const std::string& name) const { return (dir_ / name).string(); }

    // A jar whose entries are directories or copies of Main.class.
    void jar(const std::string& name, const std::vector<std::string>& entries) {
        std::vector<morix::builder::ZipEntry> zipped;
        for (const std::string& entry : entries) {
            zipped.push_back({entry, entry.ends_with("/") ? fs::path() : dir_ / "Main.class"});
        }
        std::string problem;
        ASSERT_TRUE(morix::builder::writeZip(dir_ / name, zipped, 0, problem)) << problem;
    }

    // A runtime home whose jvm.dll is a PE header of this machine.
    void runtime(const std::string& name, uint16_t machine) {
        std::string dll(0x50, '\0');
        dll[0] = 'M';
        dll[1] = 'Z';
        dll[0x3C] = 0x40;
        std::memcpy(&dll[0x40], "PE\0\0", 4);
        std::memcpy(&dll[0x44], &machine, 2);
        write(name + "/bin/java.exe", "MZ");
        write(name + "/bin/server/jvm.dll", dll);
        write(name + "/lib/modules", std::string(5000, 'm'));
    }

    // Runs morix-build with the arguments; returns its exit code, with its output in out_ and err_.
    int run(const std::string& arguments) {
        const std::string command =
            std::string(MORIX_BUILD_EXE) + " " + arguments + " >" + path("out.txt") + " 2>" + path("err.txt");
        const int status = std::system(command.c_str());
        out_ = read("out.txt");
        err_ = read("err.txt");
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    std::string image(const std::string& config, const std::string& output, const std::string& more) {
        return "image --template " + path("template.exe") + " --config " + path(config) + " -o " +
               path(output) + " " + more;
    }

    std::vector<std::string> zipNames(const std::string& name) const {
        std::ifstream in(dir_ / name, std::ios::binary);
        return morix::builder::zipEntryNames(in).value_or(std::vector<std::string>{});
    }

    fs::path dir_;
    std::string out_;
    std::string err_;
};

const char* kConfig = R"([application]
include_runtime_jar = false
[runtime]
search = [{ directory = "../shared-jre" }, { directory = "jre" }, "registry"]
[executable.version]
company = "Example"
)";

TEST_F(ImageTest, PlacesTheLauncherTheArchivesAndTheRuntimeAndZipsThemTheSameEveryTime) {
    write("hello.toml", kConfig);
    write("conf.properties", "a=b\n");
    const std::string more = "--main-class com.example.Main --version 1.4.0-SNAPSHOT --lib " +
                             path("app.jar") + " --lib dep-1.0.jar=" + path("dep.jar") +
                             " --file conf/app.properties=" + path("conf.properties") + " --runtime " +
                             path("jre32") + " --timestamp 1767225600";
    ASSERT_EQ(run(image("hello.toml", "out/hello-1.4", more)), 0) << err_;
    EXPECT_EQ(err_, "");
    EXPECT_NE(out_.find("wrote " + path("out/hello-1.4.zip")), std::string::npos) << out_;
    for (const char* file : {"hello.exe", "lib/app.jar", "lib/dep-1.0.jar", "conf/app.properties",
                             "jre/bin/java.exe", "jre/bin/server/jvm.dll", "jre/lib/modules"}) {
        EXPECT_TRUE(fs::is_regular_file(dir_ / "out/hello-1.4" / file)) << file;
    }
    EXPECT_EQ(read("out/hello-1.4/lib/dep-1.0.jar"), read("dep.jar"));

    // Without a class path of its own, the archives form it, in the order given; the main class and the
    // version come from the command line; the runtime went to the first search directory inside the image.
    const std::string launcher = read("out/hello-1.4/hello.exe");
    const std::optional<uint64_t> start = morix::payload::findPayloadStart(launcher, nullptr);
    ASSERT_TRUE(start);
    const morix::payload::ParseResult parsed =
        morix::payload::parse(std::string_view(launcher).substr(*start));
    ASSERT_TRUE(parsed.payload);
    EXPECT_EQ(*parsed.payload->findString(121), "A1lib\\app.jar;A1lib\\dep-1.0.jar");
    EXPECT_EQ(*parsed.payload->findString(122), "com.example.Main");
    ASSERT_EQ(run("inspect " + path("out/hello-1.4/hello.exe")), 0) << err_;
    EXPECT_NE(out_.find("file version 1.4.0.0, product version 1.4.0.0"), std::string::npos) << out_;
    EXPECT_NE(out_.find("CompanyName = \"Example\""), std::string::npos) << out_;

    const std::vector<std::string> expected = {"hello-1.4/",
                                               "hello-1.4/conf/",
                                               "hello-1.4/conf/app.properties",
                                               "hello-1.4/hello.exe",
                                               "hello-1.4/jre/",
                                               "hello-1.4/jre/bin/",
                                               "hello-1.4/jre/bin/java.exe",
                                               "hello-1.4/jre/bin/server/",
                                               "hello-1.4/jre/bin/server/jvm.dll",
                                               "hello-1.4/jre/lib/",
                                               "hello-1.4/jre/lib/modules",
                                               "hello-1.4/lib/",
                                               "hello-1.4/lib/app.jar",
                                               "hello-1.4/lib/dep-1.0.jar"};
    EXPECT_EQ(zipNames("out/hello-1.4.zip"), expected);
    const std::string first = read("out/hello-1.4.zip");
    if (fs::exists("/usr/bin/unzip")) {
        EXPECT_EQ(std::system(("unzip -tq " + path("out/hello-1.4.zip") + " >/dev/null").c_str()), 0);
    }

    // Again over the image it wrote, with the sources touched: the same bytes.
    fs::last_write_time(dir_ / "dep.jar", fs::file_time_type::clock::now());
    ASSERT_EQ(run(image("hello.toml", "out/hello-1.4", more)), 0) << err_;
    EXPECT_EQ(read("out/hello-1.4.zip"), first);
    EXPECT_FALSE(fs::exists(dir_ / "out/hello-1.4.part"));
    EXPECT_FALSE(fs::exists(dir_ / "out/hello-1.4.old"));

    // The entries carry the time given, 2026-01-01 00:00.
    EXPECT_EQ(morix::builder::dosTime(1767225600).date, (2026 - 1980) << 9 | 1 << 5 | 1);
    EXPECT_EQ(morix::builder::dosTime(1767225600).time, 0);
    EXPECT_EQ(morix::builder::dosTime(0).date, 1 << 5 | 1); // before 1980: 1980-01-01
    EXPECT_EQ(morix::builder::dosTime(1767268799).time, 11 << 11 | 59 << 5 | 29);
}

TEST_F(ImageTest, TheClassPathAndTheArchivesMustAgree) {
    write("named.toml", R"([application]
include_runtime_jar = false
main_class = "com.example.Main"
class_path = [{ archive = "lib/app.jar" }, { archive = "lib/gone.jar" }]
[runtime]
search = ["registry"]
)");
    const std::string libs = "--lib " + path("app.jar") + " --lib " + path("dep.jar");
    EXPECT_EQ(run(image("named.toml", "out", libs)), 2);
    EXPECT_EQ(err_,
              "morix-build: " + path("named.toml") +
                  ": error: application.class_path: names lib/gone.jar, which the image does not hold; place "
                  "it with --lib (the Maven plugin places the project's artifact and its runtime "
                  "dependencies), or remove the entry\n");
    EXPECT_FALSE(fs::exists(dir_ / "out"));
    EXPECT_FALSE(fs::exists(dir_ / "out.zip"));

    // An archive in lib/ that nothing names is only a warning.
    write("named.toml", R"([application]
include_runtime_jar = false
main_class = "com.example.Main"
class_path = [{ archive = "lib/app.jar" }]
[runtime]
search = ["registry"]
)");
    EXPECT_EQ(run(image("named.toml", "out", libs + " --no-zip")), 0) << err_;
    EXPECT_NE(err_.find("warning: application.class_path: lib/dep.jar is in the image, but no class path or "
                        "module path entry names it"),
              std::string::npos)
        << err_;
    EXPECT_TRUE(fs::exists(dir_ / "out/lib/dep.jar"));
    EXPECT_FALSE(fs::exists(dir_ / "out.zip"));

    // A scanned directory names every archive in it.
    write("scan.toml", R"([application]
include_runtime_jar = false
main_class = "com.example.Main"
class_path = [{ directory = "lib", scan = true }]
)");
    EXPECT_EQ(run(image("scan.toml", "scanned", libs)), 0) << err_;
    EXPECT_EQ(err_.find("warning: application.class_path"), std::string::npos) << err_;
}

TEST_F(ImageTest, AnImageWhoseLauncherCouldNotStartIsRefusedWithTheReason) {
    write("hello.toml", kConfig);
    // The configuration's version table gives no file_version: the application's version fills it in.
    const std::string jar = "--lib " + path("app.jar") + " ";
    const std::string lib = jar + "--version 1.0 ";
    struct Case {
        std::string arguments;
        std::string message;
    };
    runtime("jre64", 0x8664);
    write("nojvm/bin/java.exe", "MZ");
    write("nojava/bin/server/jvm.dll", "MZ");
    write("elsewhere.toml",
          "[application]\nmain_class = \"com.example.Main\"\n[runtime]\nsearch = [\"registry\"]\n");
    const std::vector<Case> cases = {
        {lib, "error: application.main_class: is not set, so the image's launcher has no class to run; set "
              "application.main_class, or give --main-class (the Maven plugin's mainClass)"},
        {lib + "--main-class com.example.Nope",
         "error: application.main_class: com.example.Nope is in none of the archives on the class path "
         "(lib/app.jar)"},
        {lib + "--main-class com.example",
         ": error: application.main_class: com.example is in none of the archives"},
        {lib + "--main-class 'com example'",
         "--main-class: error: application.main_class: expected a Java class "
         "name"},
        {lib + "--main-class com.example.Main --runtime " + path("jre64"),
         "error: the runtime " + path("jre64") +
             ": bin/server/jvm.dll is 64-bit (x64), and the 32-bit (x86) launcher loads only a jvm.dll of "
             "its own "
             "bitness; give a 32-bit (x86) Java runtime, or build the launcher from the other template"},
        {lib + "--main-class com.example.Main --runtime " + path("nojvm"),
         "error: the runtime " + path("nojvm") +
             " has no jvm.dll (looked for bin/client/jvm.dll, "
             "bin/server/jvm.dll, bin/j9vm/jvm.dll"},
        {lib + "--main-class com.example.Main --runtime " + path("nojava"),
         "has no bin/java.exe, which the launcher runs to learn its version"},
        {jar + "--main-class com.example.Main --version LATEST",
         "error: executable.version: --version: the version 'LATEST' does not start with a number"},
        {lib + "--lib app.jar=" + path("dep.jar") + " --main-class com.example.Main",
         "error: lib/app.jar would be placed twice: by --lib " + path("app.jar") + " and by --lib app.jar="},
        {lib + "--lib 'a:b.jar=" + path("dep.jar") + "' --main-class com.example.Main",
         "the name has the character ':', which Windows file names cannot hold"},
        {lib + "--file ../x=" + path("dep.jar") + " --main-class com.example.Main",
         "error: --file ../x=" + path("dep.jar") + ": ../x is not a place inside the image"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(run(image("hello.toml", "out", c.arguments)), 2) << c.arguments;
        EXPECT_NE(err_.find(c.message), std::string::npos) << c.arguments << "\n" << err_;
        EXPECT_FALSE(fs::exists(dir_ / "out")) << c.arguments;
    }
    EXPECT_EQ(run(image("elsewhere.toml", "out", lib + "--runtime " + path("jre32"))), 2);
    EXPECT_NE(err_.find("error: runtime.search: names no directory inside the image"), std::string::npos)
        << err_;

    // A directory that is not an earlier image is never replaced.
    write("mine/notes.txt", "keep");
    EXPECT_EQ(run(image("hello.toml", "mine", lib + "--main-class com.example.Main")), 2);
    EXPECT_NE(err_.find("mine exists and is not an image that morix-build image wrote (it has no launcher "
                        "hello.exe); remove it or choose another directory"),
              std::string::npos)
        << err_;
    EXPECT_EQ(read("mine/notes.txt"), "keep");
}

} // namespace
