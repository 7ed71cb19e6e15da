// Start-up: the flavour, PATH cut down to the Windows directory, the JVM option variables removed for
// the process and its children, the configured working directory; and the variables of configured
// texts as a freshly started launcher sees them.
#include "launcher_fixture.h"

#include <algorithm>

using namespace morix::test;
using morix::payload::Payload;

namespace {

Payload withStrings(std::vector<std::pair<int32_t, std::string>> strings) {
    Payload p;
    p.strings = std::move(strings);
    return p;
}

} // namespace

class StartupTest : public LauncherTest {};

TEST_F(StartupTest, TheEnvironmentIsPreparedAsConfigured) {
    const std::wstring path = L"C:\\windows\\system32;D:\\tools;C:\\windows";
    const Environment environment = {{L"PATH", path},
                                     {L"_JAVA_OPTIONS", L"-Da"},
                                     {L"JDK_JAVA_OPTIONS", L"-Db"},
                                     {L"JAVA_TOOL_OPTIONS", L"-Dc"},
                                     {L"MORIX_CONTROL", L"kept"}};
    const std::string names[] = {"_JAVA_OPTIONS", "JDK_JAVA_OPTIONS", "JAVA_TOOL_OPTIONS"};

    std::wstring configured = makeProbe(withStrings({{2001, "ex"}, {10010, "1"}, {10012, "1"}}), L"on.exe");
    ProcessResult state = run(configured, L"startup-state", environment);
    EXPECT_EQ(outputField(state.output, "flavour"), std::to_string('e'));
    EXPECT_EQ(outputField(state.output, "PATH"), "C:\\windows\\system32;C:\\windows");
    EXPECT_TRUE(contains(log(), "reducing PATH 10 40 " + narrow(path))) << log();
    // The variables are gone for getenv, for the process environment and for a child.
    ProcessResult child = run(configured, L"child-env", environment);
    EXPECT_TRUE(contains("\n" + child.output, "\nMORIX_CONTROL=kept")) << child.output;
    for (const std::string& name : names) {
        EXPECT_TRUE(contains(state.output, name + " process=unset crt=unset")) << state.output;
        EXPECT_FALSE(contains("\n" + child.output, "\n" + name + "=")) << child.output;
    }

    // Nothing under the Windows directory: PATH stays as it was rather than becoming empty.
    ProcessResult noWindows = run(configured, L"startup-state", {{L"PATH", L"D:\\tools;E:\\bin"}});
    EXPECT_EQ(outputField(noWindows.output, "PATH"), "D:\\tools;E:\\bin");

    ProcessResult plain = run(makeProbe(withStrings({}), L"off.exe"), L"startup-state", environment);
    EXPECT_EQ(outputField(plain.output, "flavour"), "0");
    EXPECT_EQ(outputField(plain.output, "PATH"), narrow(path));
    for (const std::string& name : names) {
        EXPECT_TRUE(contains(plain.output, name + " process=set crt=set")) << plain.output;
    }
}

TEST_F(StartupTest, TheWorkingDirectoryIsTakenAgainstTheLaunchersDirectory) {
    for (const wchar_t* name : {L"app", L"app\\work", L"caller", L"caller\\work", L"up"}) {
        createDirectory(dir_.file(name));
    }
    auto cwd = [&](std::vector<std::pair<int32_t, std::string>> strings) {
        ProcessOptions options;
        options.environment = {{L"TMP", tmp_}, {L"TEMP", tmp_}, {L"MORIX_LOG", L"yes"}};
        options.workingDirectory = dir_.file(L"caller");
        std::wstring probe = makeProbe(withStrings(std::move(strings)), L"app\\probe.exe");
        return outputField(runProcess(quoteArgument(probe) + L" startup-state", options).output, "cwd");
    };
    EXPECT_EQ(cwd({{146, "work"}}), narrow(dir_.file(L"app\\work")));
    EXPECT_EQ(cwd({{146, "%MORIX_EXEDIR%..\\up"}}), narrow(dir_.file(L"up")));
    EXPECT_EQ(cwd({}), narrow(dir_.file(L"caller")));
    // A directory that does not exist leaves the inherited one, and the log says why.
    EXPECT_EQ(cwd({{146, "missing"}}), narrow(dir_.file(L"caller")));
    EXPECT_TRUE(contains(log(4), "change working directory to " + narrow(dir_.file(L"app\\missing"))))
        << log(4);
    EXPECT_TRUE(contains(log(4), "ERROR: SetCurrentDirectoryW error 2")) << log(4);
}

TEST_F(StartupTest, VariablesSeeTheProcessEnvironmentAndTheLaunchersPaths) {
    // The exact name and its upper-case form match; other spellings and the percent form do not.
    std::wstring probe = makeProbe(withStrings({}));
    ProcessResult result =
        run(probe, L"expand wide ${Path}|${PATH}|${path}|%PATH%", {{L"Path", L"C:\\windows"}});
    EXPECT_EQ(result.output, "C:\\windows|C:\\windows|${path}|%PATH%\n");

    // Under a directory name outside the code page, narrowSafe gives the narrow (short) path.
    const std::wstring directory = dir_.file(L"\u0416 app");
    createDirectory(directory);
    std::wstring foreign = makeProbe(withStrings({}), L"\u0416 app\\probe.exe");
    EXPECT_EQ(run(foreign, L"expand wide ${MORIX_EXEDIR}").output, narrow(directory) + "\\\n");
    const std::string narrowSafe = run(foreign, L"expand narrowsafe ${MORIX_EXEDIR}").output;
    EXPECT_TRUE(narrowSafe.ends_with("\\\n") && narrowSafe.size() > 3) << narrowSafe;
    EXPECT_TRUE(std::all_of(narrowSafe.begin(), narrowSafe.end(), [](char c) { return c > 0; }))
        << narrowSafe;
}
