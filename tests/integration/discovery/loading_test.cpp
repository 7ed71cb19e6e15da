// Loading jvm.dll for a validated runtime: the VM subdirectories in order, the JDK's private runtime,
// PATH while trying and after, and the message the user sees by the kind of source.
#include "discovery_fixture.h"

using namespace morix::test;

class LoadingTest : public DiscoveryTest {
protected:
    std::map<std::string, std::string> loadDll(std::vector<std::pair<int32_t, std::string>> strings,
                                               Environment environment = {}, ProcessResult* whole = nullptr,
                                               const std::wstring& arguments = L"load-dll") {
        return probe(configuration(std::move(strings)), arguments, std::move(environment), whole);
    }
};

TEST_F(LoadingTest, ClientIsTriedBeforeServerAndTheConfiguredVmFirst) {
    FakeRuntime& jre = runtime(L"jre");
    auto loaded = loadDll({{128, "A" + narrow(jre.home())}});
    EXPECT_EQ(loaded["result"], "1");
    EXPECT_EQ(loaded["createJavaVM"], "1");
    EXPECT_EQ(loaded["jvmBinDirectory"], narrow(jre.home()) + "\\bin");
    EXPECT_EQ(loaded["jvmHome"], narrow(jre.home()) + "\\bin\\..");
    std::string text = log();
    size_t client = text.find("Trying " + narrow(jre.home()) + "\\bin\\client\\jvm.dll (exists 0)");
    size_t server = text.find("Trying " + narrow(jre.home()) + "\\bin\\server\\jvm.dll (exists 1)");
    ASSERT_NE(client, std::string::npos) << text;
    ASSERT_NE(server, std::string::npos) << text;
    EXPECT_LT(client, server);
    EXPECT_TRUE(contains(text, "Loading of JVM-DLL successful"));

    jre.addJvm(L"bin", L"client");
    clearLogs();
    loadDll({{128, "A" + narrow(jre.home())}, {152, "server"}});
    text = log();
    EXPECT_TRUE(contains(text, "server\\jvm.dll (exists 1)")) << text;
    EXPECT_FALSE(contains(text, "client\\jvm.dll")) << text;
}

TEST_F(LoadingTest, AJdkWithoutItsOwnVmLoadsThePrivateRuntimes) {
    FakeRuntime& jdk = runtime(L"jdk");
    jdk.removeJvm(L"bin", L"server").addJvm(L"jre\\bin", L"server");
    auto loaded = loadDll({{128, "A" + narrow(jdk.home())}});
    EXPECT_EQ(loaded["result"], "1");
    EXPECT_EQ(loaded["jvmBinDirectory"], narrow(jdk.home()) + "\\bin\\..\\jre\\bin");
    EXPECT_EQ(loaded["jvmHome"], narrow(jdk.home()) + "\\bin\\..");
}

TEST_F(LoadingTest, PathIsRestoredExactlyWhenNoVmLoadsAndLeadsWithTheRuntimeWhenOneDoes) {
    FakeRuntime& empty = runtime(L"empty");
    empty.removeJvm(L"bin", L"server");
    const std::wstring original = L"C:\\windows\\system32;C:\\windows;" + dir_.file(L"tools");
    auto failed =
        loadDll({}, {{L"PATH", original}}, nullptr, L"load-from-bin " + quoteArgument(empty.javaExe()));
    EXPECT_EQ(failed["loaded"], "0");
    EXPECT_EQ(failed["PATH"], narrow(original));

    FakeRuntime& jre = runtime(L"jre");
    auto loaded = loadDll({{128, "A" + narrow(jre.home())}, {10004, "native1;;native2"}},
                          {{L"PATH", original}}, nullptr, L"load-dll native");
    EXPECT_EQ(loaded["PATH"], narrow(jre.home()) + "\\bin;" + path(L"native1") + ";" + path(L"native2") +
                                  ";" + narrow(original));
}

TEST_F(LoadingTest, TheMessageNamesTheSourceOfTheLastValidatedRuntime) {
    FakeRuntime& broken = runtime(L"broken");
    broken.removeJvm(L"bin", L"server").addJvm(L"bin", L"server", false);
    ProcessResult whole;
    EXPECT_EQ(loadDll({{128, "A" + narrow(broken.home())}}, {}, &whole)["result"], "0");
    EXPECT_TRUE(contains(whole.output, "directory " + narrow(broken.home()) + " failed")) << whole.output;
    EXPECT_TRUE(contains(log(), "ERROR: Could not load functions")) << log();

    FakeRuntime& empty = runtime(L"empty");
    empty.removeJvm(L"bin", L"server");
    loadDll({{128, "EMY_RUNTIME"}}, {{L"MY_RUNTIME", empty.home()}}, &whole);
    EXPECT_TRUE(contains(whole.output, "variable MY_RUNTIME failed")) << whole.output;

    empty.registerLocated(HKEY_CURRENT_USER);
    loadDll({{128, "Y"}}, {}, &whole);
    EXPECT_TRUE(contains(whole.output, "registry runtime failed")) << whole.output;

    loadDll({{128, "S"}}, {{L"PATH", empty.home() + L"\\bin;C:\\windows\\system32"}}, &whole);
    EXPECT_TRUE(contains(whole.output, noRuntimeText())) << whole.output;

    loadDll({{128, "Anowhere"}}, {}, &whole);
    EXPECT_TRUE(contains(whole.output, noRuntimeText())) << whole.output;
}

// A 64-bit runtime for the 32-bit product (and a 32-bit one for the 64-bit build) passes validation, since
// its java.exe runs, but its jvm.dll cannot be loaded into the launcher's process.
TEST_F(LoadingTest, ARuntimeOfTheOtherBitnessIsRefusedWithItsLoadError) {
    FakeRuntime& other = runtime(L"other");
    other.addBuiltFile(L"bin\\server\\jvm.dll", L"fake-jvm-other-bitness.dll");
    auto p = configuration({{128, "A" + narrow(other.home())}});
    ProcessResult result = run(makeLauncher(p), L"/run");
    EXPECT_EQ(result.exitCode, 1u) << result.output;
    EXPECT_TRUE(contains(result.output, "directory " + narrow(other.home()) + " failed")) << result.output;
    const std::string text = log();
    EXPECT_TRUE(contains(text, "Trying " + narrow(other.home()) + "\\bin\\server\\jvm.dll (exists 1)"))
        << text;
    EXPECT_TRUE(contains(text, "Failed with error code " + std::to_string(ERROR_BAD_EXE_FORMAT) + "\n"))
        << text;
    EXPECT_FALSE(contains(text, "Loading of JVM-DLL successful")) << text;
    // The user reads which bitness each side has.
    const int own = static_cast<int>(sizeof(void*) * 8);
    const int others = own == 64 ? 32 : 64;
    EXPECT_TRUE(contains(result.output, "It is a " + std::to_string(others) +
                                            "-bit Java runtime, and this launcher is " + std::to_string(own) +
                                            "-bit: install a " + std::to_string(own) +
                                            "-bit Java runtime there"))
        << result.output;

    // Without a runtime of its own bitness anywhere, the launcher says which bitness it needs.
    result = run(makeLauncher(configuration({{128, "Anowhere"}}), L"none.exe"), L"/run");
    EXPECT_EQ(result.exitCode, 1u) << result.output;
    EXPECT_TRUE(contains(result.output, noRuntimeText())) << result.output;
}

TEST_F(LoadingTest, UcrtbaseIsPreloadedOnlyBeforeWindows10) {
    FakeRuntime& jre = runtime(L"jre");
    CopyFileW(binFile(L"fake-jvm.dll").c_str(), (jre.home() + L"\\bin\\ucrtbase.dll").c_str(), FALSE);
    const std::wstring bin = quoteArgument(jre.home() + L"\\bin");
    probe(configuration({}), L"preload-ucrtbase " + bin, {}, nullptr, L"win7.exe");
    EXPECT_TRUE(contains(log(), "Preloading ucrtbase.dll 4")) << log();

    // Wine reports Windows 7 in a default prefix; a per-program setting makes it Windows 10.
    const std::wstring appDefaults = L"Software\\Wine\\AppDefaults\\win10.exe";
    setRegistryString(HKEY_CURRENT_USER, appDefaults, L"Version", L"win10");
    clearLogs();
    probe(configuration({}), L"preload-ucrtbase " + bin, {}, nullptr, L"win10.exe");
    deleteRegistryTree(HKEY_CURRENT_USER, appDefaults);
    EXPECT_FALSE(contains(log(), "Preloading ucrtbase.dll")) << log();
}
