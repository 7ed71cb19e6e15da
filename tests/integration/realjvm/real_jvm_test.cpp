// Real Java applications started by real launchers: the bridged runtime runs the Linux OpenJDK inside the
// launcher's process, and morix-runtime.jar calls the application's main.
#include "../launcher_fixture.h"
#include "harness/bridged_runtime.h"

#include "morix/config_ids.h"

#include <chrono>
#include <cstdio>

using namespace morix::test;
namespace payload = morix::payload;

namespace {

class RealJvmTest : public LauncherTest {
protected:
    RealJvmTest() {
        installBridgedRuntime(dir_.file(L"jre"));
        createDirectory(dir_.file(L"lib"));
        for (const wchar_t* jar : {L"morix-runtime.jar", L"launcher-test-app.jar", L"app.mod.jar"}) {
            CopyFileW(binFile(jar).c_str(), dir_.file(std::wstring(L"lib\\") + jar).c_str(), FALSE);
        }
    }

    payload::Payload application(std::vector<std::pair<int32_t, std::string>> strings) {
        payload::Payload p;
        p.strings = {{128, "A" + narrow(dir_.file(L"jre"))},
                     {121, "A1lib\\morix-runtime.jar;A1lib\\launcher-test-app.jar"},
                     {122, "com.morix.launchertest.ProbeApp"}};
        for (auto& entry : strings) {
            p.setString(entry.first, entry.second);
        }
        p.wideStrings = {{1009, u"internal error {0}"}, {1016, u"no runtime"}, {1019, u"runtime {0} failed"}};
        return p;
    }

    ProcessResult launch(const payload::Payload& p, const std::wstring& arguments, DWORD timeoutMs = 120000) {
        return run(makeLauncher(p), arguments, {}, timeoutMs);
    }

    // The line "key=value" of the application's output.
    static std::string value(const std::string& output, const std::string& key) {
        size_t at = output.find(key + "=");
        if (at == std::string::npos) {
            return "<missing>";
        }
        at += key.size() + 1;
        return output.substr(at, output.find('\n', at) - at);
    }
};

} // namespace

TEST_F(RealJvmTest, RunStartsARealApplicationWithItsConfiguredOptions) {
    writeFile(dir_.file(L"app.vmoptions"), "-Dprobe.property=from the options file\n");
    // The JDK's own argument file syntax: quotes keep the spaces.
    writeFile(dir_.file(L"args.txt"), "-Dfrom.argfile=\"expanded by the real jli\"\n");
    ProcessResult result =
        launch(application({{123, "-Xmx96m @" + narrow(dir_.file(L"args.txt"))}, {166, "1"}}),
               L"/run print \"two words\"");
    EXPECT_EQ(result.exitCode, 0u) << result.errors << log();
    EXPECT_EQ(value(result.output, "args"), "print|two words");
    EXPECT_EQ(value(result.output, "probe.property"), "from the options file");
    EXPECT_EQ(value(result.output, "from.argfile"), "expanded by the real jli");
    const int maxMemory = std::stoi(value(result.output, "maxMemoryMB"));
    EXPECT_GE(maxMemory, 80);
    EXPECT_LE(maxMemory, 96);
    EXPECT_TRUE(contains(value(result.output, "classpath"), "launcher-test-app.jar")) << result.output;
    EXPECT_EQ(value(result.output, "service"), "null");
    EXPECT_TRUE(contains(result.output, "main done\n"));
}

TEST_F(RealJvmTest, RunRedirectSendsTheOutputToTheConfiguredFile) {
    payload::Payload p = application({{102, "1"}, {103, "logs\\out.txt"}});
    ProcessResult redirected = launch(p, L"/run-redirect print");
    EXPECT_EQ(redirected.exitCode, 0u) << redirected.errors << log();
    EXPECT_FALSE(contains(redirected.output, "main done")) << redirected.output;
    EXPECT_TRUE(contains(readFile(dir_.file(L"logs\\out.txt")), "main done")) << log();

    // The run command keeps the output on the console.
    DeleteFileW(dir_.file(L"logs\\out.txt").c_str());
    ProcessResult plain = launch(p, L"/run print");
    EXPECT_TRUE(contains(plain.output, "main done")) << plain.output;
    EXPECT_FALSE(pathExists(dir_.file(L"logs\\out.txt")));
}

TEST_F(RealJvmTest, SystemExitGivesTheExitCode) {
    ProcessResult result = launch(application({}), L"/run exit=7");
    EXPECT_EQ(result.exitCode, 7u) << result.errors << log();
}

TEST_F(RealJvmTest, AnUncaughtExceptionEndsTheProcessAtOnceWhileAnotherThreadRuns) {
    const auto start = std::chrono::steady_clock::now();
    ProcessResult result = launch(application({}), L"/run throw-while-busy");
    const auto seconds =
        std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - start);
    EXPECT_EQ(result.exitCode, 1u) << result.errors << log();
    EXPECT_LT(seconds.count(), 60); // the busy thread would hold the process for two minutes
    EXPECT_TRUE(contains(result.errors, "java.lang.IllegalStateException: thrown by the probe application"))
        << result.errors;
    EXPECT_TRUE(contains(result.errors, "at com.morix.launchertest.ProbeApp.main")) << result.errors;
    EXPECT_TRUE(contains(log(), "ERROR: could not call main")) << log();
}

TEST_F(RealJvmTest, TheVmIsDestroyedOnlyWhenItsLastNonDaemonThreadEnds) {
    // Java resolves the relative file against the working directory, which the launcher sets (id 146).
    ProcessResult result = launch(application({{146, "."}}), L"/run late-marker=1500:late.txt");
    EXPECT_EQ(result.exitCode, 0u) << result.errors << log();
    EXPECT_EQ(readFile(dir_.file(L"late.txt")), "written after main");
    const std::string text = log();
    EXPECT_LT(text.find("main returned"), text.find("launch done")) << text;
}

TEST_F(RealJvmTest, IncludedJarsAreOnTheClassPath) {
    payload::Payload p = application({});
    p.files = {{"launcher-test-lib.jar", readFile(binFile(L"launcher-test-lib.jar"))}};
    p.describeIncludedFiles();
    ProcessResult result = launch(p, L"/run greet");
    EXPECT_EQ(result.exitCode, 0u) << result.errors << log();
    EXPECT_EQ(value(result.output, "greeting"), "hello from an included jar");
}

TEST_F(RealJvmTest, AModularApplicationRunsFromTheModulePath) {
    ProcessResult result = launch(application({{133, "1"},
                                               {122, "app.mod/com.example.modapp.Main"},
                                               {132, "A1lib\\app.mod.jar;A1lib\\morix-runtime.jar"},
                                               {121, ""}}),
                                  L"/run x");
    EXPECT_EQ(result.exitCode, 0u) << result.errors << log();
    EXPECT_EQ(value(result.output, "module"), "app.mod");
    EXPECT_EQ(value(result.output, "runtime module"), "com.morix.runtime");
    EXPECT_EQ(value(result.output, "args"), "x");
    const std::string text = log();
    EXPECT_TRUE(contains(text, "--add-opens=app.mod/com.example.modapp=com.morix.runtime")) << text;
    EXPECT_TRUE(contains(text, "--add-modules=app.mod,com.morix.runtime")) << text;
}

TEST_F(RealJvmTest, ALauncherBuiltFromANamedConfigurationRunsWithOnlyTheApplicationsJarBesideIt) {
    // morix-build.exe under Wine; the Java side comes from beside it into the payload.
    const std::wstring app = dir_.file(L"named");
    createDirectory(app);
    createDirectory(app + L"\\lib");
    CopyFileW(binFile(L"launcher-test-app.jar").c_str(), (app + L"\\lib\\launcher-test-app.jar").c_str(),
              FALSE);
    writeFile(app + L"\\app.toml", R"(
[application]
main_class = "com.morix.launchertest.ProbeApp"
class_path = [{ archive = "lib/launcher-test-app.jar", required = true }]
[runtime]
min_version = "11"
search = [{ directory = "../jre", fallback = true }]
[jvm]
options = ["-Dprobe.property=from the named form", "-Xmx64m"]
)");
    ProcessResult built =
        runProcess(quoteArgument(binFile(L"morix-build.exe")) + L" build --template " +
                   quoteArgument(binFile(L"morix-launcher.exe")) + L" --config " +
                   quoteArgument(app + L"\\app.toml") + L" -o " + quoteArgument(app + L"\\app.exe"));
    ASSERT_EQ(built.exitCode, 0u) << built.errors;
    EXPECT_EQ(built.errors, "");

    ProcessResult result = run(app + L"\\app.exe", L"/run print", {}, 120000);
    EXPECT_EQ(result.exitCode, 0u) << result.errors << log();
    EXPECT_EQ(value(result.output, "probe.property"), "from the named form");
    const std::string classPath = value(result.output, "classpath");
    EXPECT_TRUE(contains(classPath, "morix-runtime.jar")) << classPath; // extracted from the payload
    EXPECT_TRUE(contains(classPath, "lib/launcher-test-app.jar")) << classPath;
    EXPECT_TRUE(contains(result.output, "main done\n"));
}

// Written as cmd, ProcessBuilder or Python quote them: main gets each argument exactly.
TEST_F(RealJvmTest, AwkwardArgumentsReachMainAsTheCallerWroteThem) {
    ProcessResult result = launch(application({}), L"/run print -e print('hi') don't \"say \\\"hi\\\"\" "
                                                   L"\"C:\\Program Files\\\\\" \"\" \"tab\there\" a\\\\b");
    EXPECT_EQ(result.exitCode, 0u) << result.errors << log();
    EXPECT_EQ(value(result.output, "args"),
              "print|-e|print('hi')|don't|say \"hi\"|C:\\Program Files\\||tab\there|a\\\\b");
}

TEST_F(RealJvmTest, AMissingMainClassIsNamedWithTheClassPathAndItsTraceGoesToTheLogOnly) {
    ProcessResult result = launch(application({{morix::ids::kMainClass, "com.example.Missing"}}), L"/run");
    EXPECT_EQ(result.exitCode, 1u) << result.errors << log();
    EXPECT_TRUE(
        contains(result.errors, "The main class com.example.Missing was not found. The class path was: "))
        << result.errors;
    EXPECT_TRUE(contains(result.errors, "launcher-test-app.jar")) << result.errors;
    EXPECT_FALSE(contains(result.errors, "\tat ")) << result.errors;
    EXPECT_FALSE(contains(result.errors, "Exception")) << result.errors;
    const std::string text = log();
    EXPECT_TRUE(
        contains(text, "ERROR: com.morix.runtime.MissingMainClass: The main class com.example.Missing"))
        << text;
    EXPECT_TRUE(contains(text, "Caused by: java.lang.ClassNotFoundException: com.example.Missing")) << text;
}

namespace {

// A launcher built by morix-build.exe under Wine from the configuration text, in `directory`.
ProcessResult buildLauncher(const std::wstring& directory, const std::string& configuration) {
    writeFile(directory + L"\\app.toml", configuration);
    return runProcess(quoteArgument(binFile(L"morix-build.exe")) + L" build --template " +
                      quoteArgument(binFile(L"morix-launcher.exe")) + L" --config " +
                      quoteArgument(directory + L"\\app.toml") + L" -o " +
                      quoteArgument(directory + L"\\app.exe"));
}

} // namespace

// The launcher expands the variable before it splits the options: the builder's quotes keep the
// directory's spaces inside the one option.
TEST_F(RealJvmTest, AnOptionHoldingTheLaunchersDirectoryStaysWholeUnderADirectoryWithSpaces) {
    const std::wstring app = dir_.file(L"Program Files\\My App");
    createDirectory(dir_.file(L"Program Files"));
    createDirectory(app);
    createDirectory(app + L"\\lib");
    CopyFileW(binFile(L"launcher-test-app.jar").c_str(), (app + L"\\lib\\launcher-test-app.jar").c_str(),
              FALSE);
    ProcessResult built = buildLauncher(app, R"(
[application]
main_class = "com.morix.launchertest.ProbeApp"
class_path = [{ archive = "lib/launcher-test-app.jar", required = true }]
arguments = ["${launcher:sys.launcherDirectory}"]
[runtime]
search = [{ directory = "../../jre" }]
[jvm]
options = ["-Dprobe.property=${launcher:sys.launcherDirectory}", "-Xmx64m"]
)");
    ASSERT_EQ(built.exitCode, 0u) << built.errors;

    ProcessResult result = run(app + L"\\app.exe", L"/run print", {}, 120000);
    EXPECT_EQ(result.exitCode, 0u) << result.errors << log();
    // The variable's value ends with a backslash.
    EXPECT_EQ(value(result.output, "probe.property"), narrow(app) + "\\") << result.output;
    EXPECT_EQ(value(result.output, "args"), narrow(app) + "\\|print") << result.output;
}

// Rhino's shell, a console tool: without a command word it explains itself, unless it is built to run so.
TEST_F(RealJvmTest, AConsoleToolRunsWithoutACommandWordOnlyWhenBuiltToAndExplainsItselfOtherwise) {
    const std::wstring tool = dir_.file(L"rhino");
    createDirectory(tool);
    createDirectory(tool + L"\\lib");
    ASSERT_TRUE(CopyFileW(L"Z:\\usr\\share\\java\\js.jar", (tool + L"\\lib\\js.jar").c_str(), FALSE));
    writeFile(tool + L"\\hello.js", "print('hello');\n");
    const std::string configuration = R"(
[application]
main_class = "org.mozilla.javascript.tools.shell.Main"
class_path = [{ archive = "lib/js.jar", required = true }]
[runtime]
search = [{ directory = "../jre" }]
[jvm]
options = ["-Xmx64m"]
)";
    ASSERT_EQ(buildLauncher(tool, configuration).exitCode, 0u);
    ProcessResult plain = run(tool + L"\\app.exe", quoteArgument(tool + L"\\hello.js"));
    EXPECT_EQ(plain.exitCode, 1u) << plain.errors;
    EXPECT_EQ(plain.output, "");
    EXPECT_EQ(plain.errors, "app.exe is a Windows service: run it from the command line with \"app.exe /run "
                            "[arguments]\", or see \"app.exe /help\" for its commands.\n");
    EXPECT_FALSE(contains(log(), "calling StartServiceCtrlDispatcher")) << log();

    ASSERT_EQ(buildLauncher(tool, configuration + "[launcher]\nrun_without_command = true\n").exitCode, 0u);
    ProcessResult script = run(tool + L"\\app.exe", L"-e \"print('hello ' + 'a b')\"");
    EXPECT_EQ(script.exitCode, 0u) << script.errors << log();
    EXPECT_EQ(script.output, "hello a b\n");
    // An option of the tool's own is no command word: it reaches the tool.
    ProcessResult expression = run(tool + L"\\app.exe", L"-e \"print(\\\"it's \\\" + 6*7)\"");
    EXPECT_EQ(expression.exitCode, 0u) << expression.errors;
    EXPECT_EQ(expression.output, "it's 42\n");
    // The command words keep their meaning.
    EXPECT_EQ(run(tool + L"\\app.exe", L"/help").output.substr(0, 14), "Usage: app.exe");

    // The start without a command word against /run, in turns (a figure, not asserted).
    long long withoutWord = 0;
    long long withRun = 0;
    for (int i = 0; i < 3; ++i) {
        for (bool word : {false, true}) {
            const auto start = std::chrono::steady_clock::now();
            run(tool + L"\\app.exe", std::wstring(word ? L"/run " : L"") + L"-e \"print(1)\"");
            const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                std::chrono::steady_clock::now() - start);
            (word ? withRun : withoutWord) += ms.count();
        }
    }
    std::printf("Rhino -e, 3 runs each: without a command word %lld ms, with /run %lld ms\n", withoutWord,
                withRun);
}
