// morix-build for Windows makes a working launcher from the real template.
#include "launcher_fixture.h"

#include <cstdlib>
#include <vector>

using namespace morix::test;

class BuilderOnWindowsTest : public LauncherTest {
protected:
    ProcessResult builder(const std::wstring& arguments) {
        return runProcess(quoteArgument(binFile(L"morix-build.exe")) + L" " + arguments);
    }
    ProcessResult build(const std::wstring& config, const std::wstring& output) {
        return builder(L"build --template " + quoteArgument(binFile(L"morix-launcher.exe")) + L" --config " +
                       quoteArgument(config) + L" -o " + quoteArgument(output));
    }
};

TEST_F(BuilderOnWindowsTest, BuildsInspectsAndRebuildsALauncherFromANamedConfiguration) {
    writeFile(dir_.file(L"data.txt"), "included");
    writeFile(dir_.file(L"app.toml"), "[service]\nname = \"BuiltSvc\"\ndescription = \"Built\"\n"
                                      "[runtime]\nsearch = [\"registry\"]\n"
                                      "[[files]]\nname = \"sub/data.txt\"\nsource = \"data.txt\"\n");
    ProcessResult built = build(dir_.file(L"app.toml"), dir_.file(L"built.exe"));
    ASSERT_EQ(built.exitCode, 0u) << built.errors;

    ProcessResult help = run(dir_.file(L"built.exe"), L"/help");
    EXPECT_EQ(help.exitCode, 0u);
    EXPECT_TRUE(contains(help.output, "Usage: built.exe")) << help.output;

    ProcessResult inspected = builder(L"inspect " + quoteArgument(dir_.file(L"built.exe")));
    EXPECT_EQ(inspected.exitCode, 0u) << inspected.errors;
    EXPECT_TRUE(contains(inspected.output, "101 = \"BuiltSvc\"")) << inspected.output;
    EXPECT_TRUE(contains(inspected.output, "20017 = \"Built\"")) << inspected.output;
    EXPECT_TRUE(contains(inspected.output, "sub\\data.txt (8 bytes)")) << inspected.output;
    // The Windows builder finds the Java side beside itself, too.
    EXPECT_TRUE(contains(inspected.output, "morix-runtime.jar (")) << inspected.output;

    createDirectory(dir_.file(L"again"));
    ProcessResult named =
        builder(L"inspect --format toml --extract-to " + quoteArgument(dir_.file(L"again")) + L" " +
                quoteArgument(dir_.file(L"built.exe")));
    ASSERT_EQ(named.exitCode, 0u) << named.errors;
    writeFile(dir_.file(L"again\\app.toml"), named.output);
    ProcessResult rebuilt = build(dir_.file(L"again\\app.toml"), dir_.file(L"again.exe"));
    ASSERT_EQ(rebuilt.exitCode, 0u) << rebuilt.errors << named.output;
    EXPECT_EQ(readFile(dir_.file(L"again.exe")), readFile(dir_.file(L"built.exe"))) << named.output;

    ProcessResult bare = builder(L"inspect " + quoteArgument(binFile(L"morix-launcher.exe")));
    EXPECT_EQ(bare.exitCode, 2u);
    EXPECT_TRUE(contains(bare.errors, "no payload")) << bare.errors;
}

TEST_F(BuilderOnWindowsTest, TheIncludedGermanTextsReachGermanUsers) {
    // No runtime can qualify, so the launcher shows its "no runtime" message, which names the bound.
    writeFile(dir_.file(L"app.toml"), "[application]\nmain_class = \"a.B\"\n"
                                      "[runtime]\nmin_version = \"99\"\n"
                                      "search = [{ environment = \"MORIX_TEST_NO_SUCH_RUNTIME\" }]\n"
                                      "[messages]\ninclude = [\"de\"]\n");
    ProcessResult built = build(dir_.file(L"app.toml"), dir_.file(L"app.exe"));
    ASSERT_EQ(built.exitCode, 0u) << built.errors;
    const char* locale = std::getenv("MORIX_TEST_LOCALE");
    const bool german = locale && std::string(locale).starts_with("de");
    ProcessResult result = run(dir_.file(L"app.exe"), L"/run");
    EXPECT_EQ(result.exitCode, 1u);
    // The launcher names its own bitness in the insert.
    const std::string bits = std::to_string(sizeof(void*) * 8);
    const std::string expected =
        german
            ? "Es wurde keine passende " + bits +
                  "-Bit-Java-Laufzeit gefunden (Version 99 oder neuer). Der Starter hat gesucht in: das "
                  "Verzeichnis aus der Variablen MORIX_TEST_NO_SUCH_RUNTIME, MORIX_JAVA_HOME."
            : "No suitable " + bits +
                  "-bit Java runtime was found (version 99 or later). The launcher looked in the directory "
                  "named by the variable MORIX_TEST_NO_SUCH_RUNTIME, MORIX_JAVA_HOME.";
    EXPECT_TRUE(contains(result.output, expected)) << result.output;
}

TEST_F(BuilderOnWindowsTest, TheWindowsBuilderWritesVersionInformationThatWindowsReads) {
    writeFile(dir_.file(L"version.toml"), "[strings]\n101 = \"V\"\n[executable]\nexecution_level = "
                                          "\"highestAvailable\"\n[executable.version]\nfile_version = "
                                          "\"4.3.2.1\"\nproduct_name = \"Pr\xC3\xBC"
                                          "fung\"\n");
    ProcessResult built = runProcess(quoteArgument(binFile(L"morix-build.exe")) + L" build --template " +
                                     quoteArgument(binFile(L"morix-launcher.exe")) + L" --config " +
                                     quoteArgument(dir_.file(L"version.toml")) + L" -o " +
                                     quoteArgument(dir_.file(L"versioned.exe")));
    ASSERT_EQ(built.exitCode, 0u) << built.errors;

    const std::wstring launcher = dir_.file(L"versioned.exe");
    DWORD ignored = 0;
    std::vector<char> block(GetFileVersionInfoSizeW(launcher.c_str(), &ignored));
    ASSERT_FALSE(block.empty()) << GetLastError();
    ASSERT_TRUE(GetFileVersionInfoW(launcher.c_str(), 0, static_cast<DWORD>(block.size()), block.data()));
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
    EXPECT_EQ(fixed->dwFileVersionMS, 0x00040003u);
    EXPECT_EQ(fixed->dwFileVersionLS, 0x00020001u);
    wchar_t* product = nullptr;
    ASSERT_TRUE(VerQueryValueW(block.data(), L"\\StringFileInfo\\040904B0\\ProductName",
                               reinterpret_cast<void**>(&product), &length));
    EXPECT_EQ(std::wstring(product), L"Pr\u00FCfung");

    EXPECT_EQ(run(launcher, L"/help").exitCode, 0u); // the payload still follows the last section
}
