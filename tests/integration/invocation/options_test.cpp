// The VM option list: every source in its order, version-specific lines, options files, module option
// joining and argument files.
#include "invocation_fixture.h"

using namespace morix::test;
namespace payload = morix::payload;

class OptionsTest : public InvocationTest {};

TEST_F(OptionsTest, EverySourceContributesInItsOrder) {
    FakeRuntime& jre = recordingRuntime({"11.0.5"});
    writeFile(dir_.file(L"args.txt"),
              "# an argument file\n-Dfrom.argfile=1\n--add-modules\njdk.unsupported\n");
    writeFile(dir_.file(L"app.vmoptions"), "-Dfrom.file=a b\n  # indented comment\n\n   -include-options "
                                           "more.vmoptions  \n-classpath/a C:\\extra.jar\n");
    writeFile(dir_.file(L"more.vmoptions"), "-Dfrom.include=1\n");
    createDirectory(dir_.file(L"lib"));
    writeFile(dir_.file(L"lib\\a.jar"), "jar");
    createDirectory(dir_.file(L"mods"));
    payload::Payload p = application({
        {123, "-Xmx256m \"-Dconf=a b\" --add-opens java.base/java.lang=ALL-UNNAMED @" + path(L"args.txt")},
        {10200, "2"},
        {10201, "1-8"},
        {10202, "-Dold=1"},
        {10203, "9-99"},
        {10204, "-Dnew=1"},
        {166, "1"},
        {125, "1"},
        {121, "A1lib\\a.jar"},
        {132, "A0mods"},
    });
    ProcessResult result = launch(p, L"/run -J-Dfrom.j=1 -Dsun.locale.formatasdefault=false hello");
    ASSERT_EQ(result.exitCode, 0u) << result.output << log();

    const std::string exe = narrow(launcher_);
    std::string key = exe;
    for (char& c : key) {
        c = c == '\\' || c == ' ' ? '_' : static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    const std::vector<std::string> expected = {
        "-Dmorix.semaphoreName=Local\\" + key + "0",
        "-Dmorix.moduleName=" + exe,
        "-Dsun.java.command=" + exe,
        "-Dmorix.tempDir=",
        "-Dmorix.unextractedPosition=0",
        "-Djava.library.path=" + narrow(jre.home()) + "\\bin;C:\\windows\\system32;C:\\windows",
        "-Xmx256m",
        "-Dconf=a b",
        "--add-opens=java.base/java.lang=ALL-UNNAMED",
        "-Dfrom.argfile=1",
        "--add-modules=jdk.unsupported",
        "-Dnew=1",
        "-Dsun.locale.formatasdefault=false",
        "-Duser.language=en",
        "-Duser.country=US",
        "-Dfrom.file=a b",
        "-Dfrom.include=1",
        "-Dfrom.j=1",
        "-Djava.class.path=" + path(L"lib\\a.jar") + ";C:\\extra.jar",
        "--module-path=" + path(L"mods"),
        "--add-modules=com.morix.runtime",
        "-Dvantarock.noRedir=true",
    };
    EXPECT_EQ(options(), expected);
    EXPECT_EQ(recorded("create "),
              std::vector<std::string>{"version=0x10002 options=22 ignoreUnrecognized=1"});
    // After the texts, the exit hook that removes the temporary directory at the end of System.exit.
    EXPECT_EQ(recorded("hook "), std::vector<std::string>{"exit"});
    EXPECT_EQ(mainArguments(), (std::vector<std::string>{"false", "", "", "", "false", exe, "hello"}));
    EXPECT_EQ(recorded("DestroyJavaVM").size(), 1u);
}

TEST_F(OptionsTest, TheFirstMatchingVersionLineApplies) {
    recordingRuntime({"1.8.0_231"});
    payload::Payload p = application({{10200, "4"},
                                      {10201, "nodash"},
                                      {10202, "-Dbad=1"},
                                      {10203, "1-8"},
                                      {10204, "-Dold=1"},
                                      {10205, "9-99"},
                                      {10206, "-Dnew=1"},
                                      {10207, "*1.8*"},
                                      {10208, "-Dpattern=1"}});
    launch(p, L"/run");
    EXPECT_EQ(configuredOptions(),
              (std::vector<std::string>{"-Dold=1", "-Djava.class.path=", "-Dvantarock.noRedir=true"}));
    EXPECT_TRUE(contains(log(), "ERROR: expected dash")) << log();
    EXPECT_TRUE(contains(log(), "checking min 1 max 8 with 8")) << log();

    clearTranscript();
    p.setString(10201, "*1.8.0_2?1");
    p.setString(10202, "-Dpattern=1");
    launch(p, L"/run");
    EXPECT_EQ(configuredOptions()[0], "-Dpattern=1");
}

TEST_F(OptionsTest, OnlyTheLastClassPathDirectiveOfAKindWins) {
    recordingRuntime();
    writeFile(dir_.file(L"app.vmoptions"), "-classpath/a C:\\first.jar\n-classpath/a C:\\second.jar\n"
                                           "-classpath/p C:\\front.jar\n");
    launch(application({{166, "1"}, {121, "A0lib\\app.jar"}}), L"/run");
    EXPECT_EQ(configuredOptions()[0],
              "-Djava.class.path=C:\\front.jar;" + path(L"lib\\app.jar") + ";C:\\second.jar");

    clearTranscript();
    writeFile(dir_.file(L"app.vmoptions"), "-classpath C:\\replaced.jar\n-classpath/a C:\\after.jar\n");
    launch(application({{166, "1"}, {121, "A0lib\\app.jar"}}), L"/run");
    EXPECT_EQ(configuredOptions()[0], "-Djava.class.path=C:\\replaced.jar;C:\\after.jar");

    clearTranscript();
    writeFile(dir_.file(L"app.vmoptions"), "-classpath/a C:\\only.jar\n");
    launch(application({{166, "1"}}), L"/run");
    EXPECT_EQ(configuredOptions()[0], "-Djava.class.path=;C:\\only.jar");
}

TEST_F(OptionsTest, IncludedFilesResolveAgainstTheirOwnDirectoryAndNeverLoop) {
    recordingRuntime();
    createDirectory(dir_.file(L"conf"));
    createDirectory(dir_.file(L"conf\\deeper"));
    writeFile(dir_.file(L"app.vmoptions"), "-include-options conf\\a.vmoptions\n-Dafter=1\n");
    writeFile(dir_.file(L"conf\\a.vmoptions"), "-Da=1\n-include-options deeper\\b.vmoptions\n");
    // b includes a (in other letters), which includes b again: the chain is read once.
    writeFile(dir_.file(L"conf\\deeper\\b.vmoptions"), "-Db=1\n-include-options ..\\A.VMOptions\n");
    ProcessResult result = launch(application({{166, "1"}}), L"/run");
    EXPECT_EQ(result.exitCode, 0u);
    EXPECT_EQ(configuredOptions(),
              (std::vector<std::string>{"-Da=1", "-Db=1", "-Dafter=1",
                                        "-Djava.class.path=", "-Dvantarock.noRedir=true"}));
    EXPECT_TRUE(contains(log(), "not read again: it includes itself")) << log();

    // A file that includes itself directly.
    clearTranscript();
    writeFile(dir_.file(L"app.vmoptions"), "-Dself=1\n-include-options app.vmoptions\n");
    result = launch(application({{166, "1"}}), L"/run");
    EXPECT_EQ(result.exitCode, 0u);
    EXPECT_EQ(configuredOptions()[0], "-Dself=1");
    EXPECT_EQ(configuredOptions()[1], "-Djava.class.path=");
}

TEST_F(OptionsTest, DeepIncludeChainsStopAtTheLimit) {
    recordingRuntime();
    writeFile(dir_.file(L"app.vmoptions"), "-include-options level1.vmoptions\n");
    for (int level = 1; level <= 20; ++level) {
        writeFile(dir_.file(L"level" + std::to_wstring(level) + L".vmoptions"),
                  "-Dlevel" + std::to_string(level) + "=1\n-include-options level" +
                      std::to_string(level + 1) + ".vmoptions\n");
    }
    launch(application({{166, "1"}}), L"/run");
    std::vector<std::string> levels;
    for (const std::string& option : configuredOptions()) {
        if (option.starts_with("-Dlevel")) {
            levels.push_back(option);
        }
    }
    EXPECT_EQ(levels.size(), 15u); // the default file and 15 includes make 16 open files
    EXPECT_TRUE(contains(log(), "level16.vmoptions not read: includes nest deeper than 16 files")) << log();
}

TEST_F(OptionsTest, ServiceChildrenGetXrsOnceAndTheServiceProperty) {
    recordingRuntime();
    launch(application({{123, "-Xrs -Xrs:x"}}), L"MySvc extra __vrk_restart");
    std::vector<std::string> all = options();
    EXPECT_EQ(std::count(all.begin(), all.end(), "-Xrs"), 1);
    EXPECT_NE(std::find(all.begin(), all.end(), "-Dmorix.isService=true"), all.end());
    EXPECT_EQ(std::find(all.begin(), all.end(), "-Dvantarock.noRedir=true"), all.end());
    EXPECT_TRUE(contains(log(), "registering ConsoleCtrlHandler")) << log();
    EXPECT_EQ(mainArguments(), (std::vector<std::string>{"false", "", "", "", "false", "MySvc", "extra"}));

    clearTranscript();
    launch(application({{123, "-Xrs:x"}}), L"MySvc __vrk_restart");
    all = options();
    EXPECT_EQ(std::count(all.begin(), all.end(), "-Xrs"), 1);
    EXPECT_TRUE(contains(log(), "service: adding -Xrs")) << log();
}

// Wine reserves at least 1 MB for a thread stack, so smaller sizes show only in the launcher's request.
TEST_F(OptionsTest, TheStackOfTheVmThreadFollowsTheLastValidXss) {
    recordingRuntime();
    const std::pair<const char*, size_t> cases[] = {{"", 0},
                                                    {"-Xss512k", 524288},
                                                    {"-Xss1m -Xss2m", 2097152},
                                                    {"-Xss100", 65536},
                                                    {"-Xss3m -Xss1mb -Xssabc", 3145728}};
    for (const auto& [configured, bytes] : cases) {
        clearTranscript();
        clearLogs();
        launch(application({{123, configured}}), L"/run");
        EXPECT_TRUE(contains(log(), "used stack size " + std::to_string(bytes) + "\n")) << configured;
        std::vector<std::string> reserved = recorded("stack ");
        ASSERT_EQ(reserved.size(), 1u);
        EXPECT_GE(std::stoull(reserved[0]), bytes) << configured;
        if (bytes >= 2097152) {
            EXPECT_EQ(std::stoull(reserved[0]), bytes) << configured; // above Wine's minimum: exactly
        }
    }
}

// -Xss gives its low 32 bits. No thread of a 32-bit process can reserve 3 GB of its 2 GB address space:
// the VM then runs on the launcher's own thread, and the application runs all the same.
TEST_F(OptionsTest, AStackBeyondTheAddressSpaceRunsTheVmOnTheLaunchersThread) {
    recordingRuntime();
    ProcessResult result = launch(application({{123, "-Xss3g"}}), L"/run");
    EXPECT_EQ(result.exitCode, 0u) << result.output << log();
    EXPECT_TRUE(contains(log(), "used stack size -1073741824\n")) << log();
    std::vector<std::string> reserved = recorded("stack ");
    ASSERT_EQ(reserved.size(), 1u);
    if (sizeof(void*) == 8) {
        EXPECT_EQ(std::stoull(reserved[0]), 3221225472u);
    } else {
        EXPECT_LT(std::stoull(reserved[0]), 2147483648u);
    }
    EXPECT_EQ(recorded("DestroyJavaVM").size(), 1u);

    clearTranscript();
    clearLogs();
    launch(application({{123, "-Xss1m -Xss4g"}}), L"/run");
    EXPECT_TRUE(contains(log(), "used stack size 0\n")) << log(); // 4 GB has no low bits: the default stack
}

TEST_F(OptionsTest, WithoutAnArgumentFileLibraryTheOptionStays) {
    FakeRuntime& jre = recordingRuntime();
    DeleteFileW((jre.home() + L"\\bin\\jli.dll").c_str());
    writeFile(dir_.file(L"args.txt"), "-Dexpanded=1\n");
    launch(application({{123, "@" + path(L"args.txt")}}), L"/run");
    EXPECT_EQ(configuredOptions()[0], "@" + path(L"args.txt"));
    EXPECT_TRUE(contains(log(), "did not find " + narrow(jre.home()) + "\\bin\\jli.dll")) << log();
}

TEST_F(OptionsTest, CharactersOfTheCodePageReachTheVmAsTheyWereWritten) {
    recordingRuntime();
    // Euro sign, s with caron, e with acute accent in Windows-1252.
    writeFile(dir_.file(L"app.vmoptions"), "-Dfile=\x80\x9A\xE9\n");
    launch(application({{123, "-Dconfigured=\x80\x9A\xE9"}, {166, "1"}}), L"/run");
    const std::vector<std::string> options = configuredOptions();
    EXPECT_NE(std::find(options.begin(), options.end(), "-Dconfigured=\x80\x9A\xE9"), options.end());
    EXPECT_NE(std::find(options.begin(), options.end(), "-Dfile=\x80\x9A\xE9"), options.end()) << log();
}
