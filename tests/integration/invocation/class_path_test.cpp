// Class path and module path entries: required and optional files, environment variables, archive
// directories, included archives and modular applications.
#include "invocation_fixture.h"

using namespace morix::test;
namespace payload = morix::payload;

class ClassPathTest : public InvocationTest {
protected:
    // The class path of the last launch.
    std::string classPath() const {
        std::string last = "<none>";
        for (const std::string& option : options()) {
            if (option.starts_with("-Djava.class.path=")) {
                last = option.substr(18);
            }
        }
        return last;
    }
};

TEST_F(ClassPathTest, RequiredEntriesMustExistAndOptionalOnesAreAddedAnyway) {
    recordingRuntime();
    launch(application({{121, "D0lib\\app.jar"}}), L"/run");
    EXPECT_EQ(classPath(), path(L"lib\\app.jar"));

    ProcessResult result = launch(application({{121, "D1lib\\app.jar"}}), L"/run");
    EXPECT_EQ(result.exitCode, 1u);
    EXPECT_TRUE(contains(result.output, "missing file lib\\app.jar")) << result.output;

    result = launch(application({{121, "E1MY_CLASSES"}}), L"/run");
    EXPECT_EQ(result.exitCode, 1u);
    EXPECT_TRUE(contains(result.output, "missing variable MY_CLASSES")) << result.output;
    // An empty variable is no class path entry, and a required one counts as missing.
    result = launch(application({{121, "E1MY_CLASSES"}}), L"/run", "", {{L"MY_CLASSES", L""}});
    EXPECT_EQ(result.exitCode, 1u);
    // An entry of no known kind adds nothing: optional it is passed over, required it is missing.
    launch(application({{121, "X0lib\\app.jar"}}), L"/run");
    EXPECT_EQ(classPath(), "");
    result = launch(application({{121, "X1lib\\app.jar"}}), L"/run");
    EXPECT_EQ(result.exitCode, 1u);
    EXPECT_TRUE(contains(result.output, "missing file lib\\app.jar")) << result.output;
}

TEST_F(ClassPathTest, EnvironmentEntriesLoseTheirQuotesAndDirectoriesListJarsBeforeZips) {
    recordingRuntime();
    createDirectory(dir_.file(L"lib"));
    for (const wchar_t* name : {L"b.jar", L"a.zip", L"c.jar", L"notes.txt"}) {
        writeFile(dir_.file(std::wstring(L"lib\\") + name), "x");
    }
    launch(application({{121, "E0CP;S1lib"}}), L"/run", "", {{L"CP", L"\"x;y\""}});
    EXPECT_EQ(classPath(),
              "x;y;" + path(L"lib\\b.jar") + ";" + path(L"lib\\c.jar") + ";" + path(L"lib\\a.zip"));
}

TEST_F(ClassPathTest, IncludedArchivesJoinTheClassPath) {
    recordingRuntime();
    payload::Payload p = application({{121, "A0lib\\app.jar"}});
    p.files = {
        {"included.jar", "jar"}, {"extra.zip", "zip"}, {"user\\mine.jar", "user"}, {"notes.txt", "txt"}};
    p.describeIncludedFiles();
    launch(p, L"/run");
    std::vector<std::string> all = options();
    std::string tempDir;
    for (const std::string& option : all) {
        if (option.starts_with("-Dmorix.tempDir=")) {
            tempDir = option.substr(16);
        }
    }
    ASSERT_FALSE(tempDir.empty());
    EXPECT_EQ(classPath(), tempDir + "\\included.jar;" + tempDir + "\\extra.zip;" + tempDir +
                               "\\user\\mine.jar;" + path(L"lib\\app.jar"));
}

TEST_F(ClassPathTest, AModularApplicationGetsItsModulePathOpensAndModules) {
    recordingRuntime();
    createDirectory(dir_.file(L"mods"));
    launch(application({{133, "1"}, {122, "app.mod/com.x.Main"}, {132, "S1mods"}, {121, "A0lib\\other.jar"}}),
           L"/run");
    std::vector<std::string> all = configuredOptions();
    EXPECT_EQ(all, (std::vector<std::string>{
                       "-Djava.class.path=" + path(L"lib\\other.jar"), "--module-path=" + path(L"mods"),
                       "--add-opens=app.mod/com.x=com.morix.runtime",
                       "--add-modules=app.mod,com.morix.runtime", "-Dvantarock.noRedir=true"}));
    EXPECT_EQ(mainArguments().at(1), "/app.mod/com.x.Main");
}

TEST_F(ClassPathTest, ASecondSingleInstanceEndsBeforeAnyRuntimeSearch) {
    recordingRuntime();
    payload::Payload p = application({{10005, "1"}});
    std::wstring launcher = makeLauncher(p, L"single.exe");
    ProcessOptions first;
    first.environment = {{L"TMP", tmp_},
                         {L"TEMP", tmp_},
                         {L"MORIX_LOG", L"yes"},
                         {L"MORIX_TRANSCRIPT", transcript_},
                         {L"MORIX_RECORDING_JVM", L"main-sleeps=4000"}};
    RunningProcess running(quoteArgument(launcher) + L" /run", first);
    ASSERT_TRUE(
        waitUntil(20000, [&] { return !recorded("call com/morix/runtime/WinLauncher.main").empty(); }));
    ProcessResult second = run(launcher, L"/run");
    EXPECT_EQ(second.exitCode, 0u);
    EXPECT_EQ(running.wait(30000).exitCode, 0u);
    EXPECT_EQ(recorded("call com/morix/runtime/WinLauncher.main").size(), 1u);
    std::string secondLog = log(2);
    EXPECT_TRUE(contains(secondLog, "other pid " + std::to_string(running.pid()))) << secondLog;
    EXPECT_FALSE(contains(secondLog, "Searching for a JVM")) << secondLog;
}
