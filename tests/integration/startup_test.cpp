// Start-up: the flavour, PATH cut down to the Windows directory, the JVM option variables removed for
// the process and its children, the configured working directory; and the variables of configured
// texts as a freshly started launcher sees them.
#include "launcher_fixture.h"

#include <algorithm>
#include <regex>

using namespace morix::test;
using morix::payload::Payload;

namespace {

Payload withStrings(std::vector<std::pair<int32_t, std::string>> strings) {
    Payload p;
    p.strings = std::move(strings);
    return p;
}

std::string field(const std::string& output, const std::string& name) {
    std::smatch match;
    return std::regex_search(output, match, std::regex("(^|\n)" + name + "=([^\n]*)")) ? match[2].str() : "";
}

bool hasLine(const std::string& output, const std::string& prefix) {
    return std::regex_search(output, std::regex("(^|\n)" + prefix));
}

} // namespace

class StartupTest : public LauncherTest {};

TEST_F(StartupTest, TheFlavourIsTheFirstCharacterOfItsSetting) {
    ProcessResult morix = run(makeProbe(withStrings({{2001, "ex"}}), L"e.exe"), L"startup-state");
    EXPECT_EQ(field(morix.output, "flavour"), std::to_string('e'));
    EXPECT_TRUE(contains(log(), "ERROR: config string 2001 truncated (2 2)")) << log();
    ProcessResult none = run(makeProbe(withStrings({}), L"none.exe"), L"startup-state");
    EXPECT_EQ(field(none.output, "flavour"), "0");
}

TEST_F(StartupTest, PathKeepsOnlyTheWindowsDirectoryWhenConfigured) {
    std::wstring reducing = makeProbe(withStrings({{10010, "1"}}), L"reducing.exe");
    const std::wstring path = L"C:\\windows\\system32;D:\\tools;C:\\windows";
    ProcessResult reduced = run(reducing, L"startup-state", {{L"PATH", path}});
    EXPECT_EQ(field(reduced.output, "PATH"), "C:\\windows\\system32;C:\\windows");
    std::string logText = log();
    EXPECT_TRUE(contains(logText, "reducing PATH 10 " + std::to_string(path.size() + 1) + " " + narrow(path)))
        << logText;
    EXPECT_TRUE(contains(logText, "reduced PATH 30 to C:\\windows\\system32;C:\\windows")) << logText;

    // Nothing under the Windows directory: PATH stays as it was rather than becoming empty.
    ProcessResult unchanged = run(reducing, L"startup-state", {{L"PATH", L"D:\\tools;E:\\bin"}});
    EXPECT_EQ(field(unchanged.output, "PATH"), "D:\\tools;E:\\bin");
    EXPECT_TRUE(contains(log(2), "reduced PATH 0 to ")) << log(2);

    ProcessResult notConfigured =
        run(makeProbe(withStrings({}), L"plain.exe"), L"startup-state", {{L"PATH", path}});
    EXPECT_EQ(field(notConfigured.output, "PATH"), narrow(path));
}

TEST_F(StartupTest, JavaOptionVariablesAreGoneForTheProcessAndItsChildrenWhenConfigured) {
    const Environment environment = {{L"_JAVA_OPTIONS", L"-Da"},
                                     {L"JDK_JAVA_OPTIONS", L"-Db"},
                                     {L"JAVA_TOOL_OPTIONS", L"-Dc"},
                                     {L"MORIX_CONTROL", L"kept"}};
    const char* names[] = {"_JAVA_OPTIONS", "JDK_JAVA_OPTIONS", "JAVA_TOOL_OPTIONS"};

    std::wstring ignoring = makeProbe(withStrings({{10012, "1"}}), L"ignoring.exe");
    ProcessResult state = run(ignoring, L"startup-state", environment);
    ProcessResult child = run(ignoring, L"child-env", environment);
    ASSERT_EQ(child.exitCode, 0u) << child.output;
    EXPECT_TRUE(hasLine(child.output, "MORIX_CONTROL=kept")) << child.output;
    for (const char* name : names) {
        EXPECT_TRUE(contains(state.output, std::string(name) + " process=unset crt=unset")) << state.output;
        EXPECT_FALSE(hasLine(child.output, std::string(name) + "=")) << child.output;
    }
    EXPECT_TRUE(contains(log(), "ignoring java options environment variables")) << log();

    std::wstring keeping = makeProbe(withStrings({}), L"keeping.exe");
    ProcessResult kept = run(keeping, L"startup-state", environment);
    ProcessResult keptChild = run(keeping, L"child-env", environment);
    for (const char* name : names) {
        EXPECT_TRUE(contains(kept.output, std::string(name) + " process=set crt=set")) << kept.output;
        EXPECT_TRUE(hasLine(keptChild.output, std::string(name) + "=")) << keptChild.output;
    }
}

TEST_F(StartupTest, TheWorkingDirectoryIsTakenAgainstTheLaunchersDirectory) {
    createDirectory(dir_.file(L"app"));
    createDirectory(dir_.file(L"app\\work"));
    createDirectory(dir_.file(L"caller"));
    createDirectory(dir_.file(L"caller\\work"));
    createDirectory(dir_.file(L"up"));
    auto cwd = [&](const char* configured) {
        Payload p = configured ? withStrings({{146, configured}}) : withStrings({});
        std::wstring probe = makeProbe(p, L"app\\probe.exe");
        ProcessOptions options;
        options.environment = {{L"TMP", tmp_}, {L"TEMP", tmp_}, {L"MORIX_LOG", L"yes"}};
        options.workingDirectory = dir_.file(L"caller");
        ProcessResult result = runProcess(quoteArgument(probe) + L" startup-state", options);
        return field(result.output, "cwd");
    };
    EXPECT_EQ(cwd("work"), narrow(dir_.file(L"app\\work")));
    EXPECT_EQ(cwd("%MORIX_EXEDIR%..\\up"), narrow(dir_.file(L"up")));
    EXPECT_EQ(cwd(nullptr), narrow(dir_.file(L"caller")));
    EXPECT_TRUE(contains(log(3), "working directory unchanged")) << log(3);

    // A directory that does not exist leaves the inherited one, and the log says why.
    EXPECT_EQ(cwd("missing"), narrow(dir_.file(L"caller")));
    std::string logText = log(4);
    EXPECT_TRUE(contains(logText, "change working directory to " + narrow(dir_.file(L"app\\missing"))))
        << logText;
    EXPECT_TRUE(contains(logText, "ERROR: SetCurrentDirectoryW error 2")) << logText;
}

TEST_F(StartupTest, VariablesSeeTheEnvironmentOfTheProcess) {
    std::wstring probe = makeProbe(withStrings({}));
    // The exact name and its upper-case form match; other spellings and the percent form do not.
    ProcessResult result =
        run(probe, L"expand wide ${Path}|${PATH}|${path}|%PATH%", {{L"Path", L"C:\\windows"}});
    EXPECT_EQ(result.output, "C:\\windows|C:\\windows|${path}|%PATH%\n");
    ProcessResult narrowResult =
        run(probe, L"expand narrow ${MORIX_TEST_X}:${MORIX_EXEDIR}", {{L"MORIX_TEST_X", L"x"}});
    EXPECT_EQ(narrowResult.output, "x:" + narrow(dir_.path()) + "\\\n");
}

TEST_F(StartupTest, NarrowSafeVariablesUseTheNarrowPathOfTheLauncher) {
    // A directory name outside the code page: the narrow path is made of short names.
    const std::wstring directory = dir_.file(L"\u0416 app");
    createDirectory(directory);
    std::wstring probe = makeProbe(withStrings({}), L"\u0416 app\\probe.exe");
    ProcessResult wideResult = run(probe, L"expand wide ${MORIX_EXEDIR}");
    EXPECT_EQ(wideResult.output, narrow(directory) + "\\\n");
    ProcessResult narrowSafe = run(probe, L"expand narrowsafe ${MORIX_EXEDIR}");
    EXPECT_NE(narrowSafe.output, wideResult.output);
    EXPECT_TRUE(narrowSafe.output.ends_with("\\\n")) << narrowSafe.output;
    EXPECT_TRUE(std::all_of(narrowSafe.output.begin(), narrowSafe.output.end(), [](char c) {
        return static_cast<unsigned char>(c) < 0x80;
    })) << narrowSafe.output;
}
