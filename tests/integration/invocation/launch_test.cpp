// Creating the VM and calling main: the arguments of main, the failures a launch can end in, and the
// steps that only some applications use (splash settings, the installer flavour).
#include "invocation_fixture.h"

using namespace morix::test;
namespace payload = morix::payload;

class LaunchTest : public InvocationTest {};

namespace {

// A launcher name that no single-byte ANSI code page holds: the VM option carries its short form.
const wchar_t* const kBeyondCodePage = L"\u03a9\u4e2d.exe";

// The text in the ANSI code page, as the VM reads its options; none where the code page cannot hold it.
std::optional<std::string> ansiText(const std::wstring& text) {
    if (GetACP() == CP_UTF8) {
        return narrow(text);
    }
    BOOL lossy = FALSE;
    const int length = static_cast<int>(text.size());
    const int size =
        WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, text.c_str(), length, nullptr, 0, nullptr, &lossy);
    std::string result(static_cast<size_t>(size > 0 ? size : 0), '\0');
    WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, text.c_str(), length, result.data(), size, nullptr,
                        &lossy);
    return lossy ? std::nullopt : std::optional(result);
}

} // namespace

TEST_F(LaunchTest, MainReceivesTheConfiguredArgumentsInTheirOrder) {
    recordingRuntime().addJavaw(); // executable type 1 runs javaw.exe
    payload::Payload p = application({{107, "1"},
                                      {122, "app.mod/com.example.Main"},
                                      {133, "1"},
                                      {102, "1"},
                                      {103, "${launcher:sys.tempDir}out.txt"},
                                      {104, "1"},
                                      {105, "${NO_SUCH_VARIABLE}\\err.txt"},
                                      {106, "1"},
                                      {124, "first \"second third\""},
                                      {125, "1"}});
    p.wideStrings.push_back({1000, u"App"});
    launch(p, L"/run -J-Xmx1g arg1 -Dsun.locale.formatasdefault=true \"arg 2\"");
    std::vector<std::string> arguments = mainArguments();
    ASSERT_EQ(arguments.size(), 10u) << readFile(transcript_);
    EXPECT_EQ(arguments[0], "true");
    EXPECT_EQ(arguments[1], "/app.mod/com.example.Main");
    EXPECT_EQ(arguments[2], narrow(tmp_) + "\\out.txt"); // the temporary root, made absolute
    EXPECT_EQ(arguments[3], "${NO_SUCH_VARIABLE}\\err.txt");
    EXPECT_EQ(arguments[4], "true");
    EXPECT_EQ(arguments[5], narrow(launcher_));
    EXPECT_EQ(arguments[6], "first");
    EXPECT_EQ(arguments[7], "second third");
    EXPECT_EQ(arguments[8], "arg1");
    EXPECT_EQ(arguments[9], "arg 2");

    // Without id 125, -J arguments are the application's.
    clearTranscript();
    launch(application({}), L"/run -J-Xmx1g");
    EXPECT_EQ(mainArguments().back(), "-J-Xmx1g");
    const std::vector<std::string> all = options();
    EXPECT_EQ(std::count(all.begin(), all.end(), "-Xmx1g"), 0);
}

TEST_F(LaunchTest, TheLaunchEndsClearlyWhenTheVmOrTheLauncherClassFails) {
    recordingRuntime();
    ProcessResult result = launch(application({}), L"/run", "create-fails");
    EXPECT_EQ(result.exitCode, 1u);
    EXPECT_TRUE(contains(log(), "ERROR: could not initialize JVM")) << log();

    result = launch(application({}), L"/run", "missing-class=com/morix/runtime/WinLauncher");
    EXPECT_EQ(result.exitCode, 1u);
    EXPECT_TRUE(contains(result.output, "no launcher class")) << result.output;

    result = launch(application({}), L"/run", "missing-method=main");
    EXPECT_EQ(result.exitCode, 1u);
    EXPECT_TRUE(contains(result.output, "no main method")) << result.output;
}

TEST_F(LaunchTest, AnExceptionFromMainEndsTheProcessWithCode1AndItsStackTrace) {
    recordingRuntime();
    ProcessResult result = launch(application({}), L"/run", "main-throws");
    EXPECT_EQ(result.exitCode, 1u);
    EXPECT_TRUE(contains(result.errors, "java.lang.IllegalStateException: thrown by the stand-in main"))
        << result.errors;
    const std::string text = log();
    EXPECT_TRUE(contains(text, "ERROR: an exception occurred")) << text;
    EXPECT_TRUE(contains(text, "ERROR: java.lang.IllegalStateException: thrown by the stand-in main"))
        << text;
    EXPECT_TRUE(contains(text, "ERROR: could not call main")) << text;
    EXPECT_TRUE(recorded("DestroyJavaVM").empty());
}

TEST_F(LaunchTest, SystemExitGivesItsCodeAndAFailedArgumentArrayNeverReachesMain) {
    recordingRuntime();
    EXPECT_EQ(launch(application({}), L"/run", "main-exits=7").exitCode, 7u);
    clearTranscript();
    ProcessResult result = launch(application({}), L"/run", "array-fails");
    EXPECT_EQ(result.exitCode, 1u);
    EXPECT_TRUE(recorded("call com/morix/runtime/WinLauncher.main").empty());
    EXPECT_TRUE(contains(log(), "could not create the arguments of main")) << log();
}

TEST_F(LaunchTest, TheLaunchersPropertiesAndTheExactModuleName) {
    recordingRuntime();
    launch(application({}), L"/run", "", {{L"MANPATH", std::nullopt}}, L"caf\u00e9.exe");
    std::vector<std::string> all = options();
    EXPECT_NE(std::find_if(all.begin(), all.end(),
                           [](const std::string& o) { return o.starts_with("-Dmorix.consoleCodepage=cp"); }),
              all.end());
    // The code page holds this name: the option carries it exactly, and no property call replaces it.
    const std::optional<std::string> inCodePage = ansiText(launcher_);
    ASSERT_TRUE(inCodePage);
    EXPECT_NE(std::find(all.begin(), all.end(), "-Dmorix.moduleName=" + *inCodePage), all.end());
    EXPECT_TRUE(recorded("setProperty ").empty());

    clearTranscript();
    launch(application({}), L"/run", "", {{L"MANPATH", L""}});
    all = options();
    EXPECT_EQ(std::find_if(all.begin(), all.end(),
                           [](const std::string& o) { return o.starts_with("-Dmorix.consoleCodepage="); }),
              all.end());

    clearTranscript();
    launch(application({}), L"/run", "", {}, kBeyondCodePage);
    if (ansiText(launcher_)) {
        GTEST_SKIP() << "the ANSI code page holds every name";
    }
    EXPECT_EQ(recorded("setProperty "), std::vector<std::string>{"morix.moduleName=" + narrow(launcher_)});
}

TEST_F(LaunchTest, SplashSettingsGoToTheMorixLauncherClass) {
    recordingRuntime();
    launch(application({{108, "1"},
                        {163, "1"},
                        {10111, "Loading"},
                        {10109, "10"},
                        {10110, "20"},
                        {10121, "Done"},
                        {10122, "-5"}}),
           L"/run");
    EXPECT_EQ(
        recorded("call com/morix/runtime/WinLauncher.initAwtSplashConfig "),
        std::vector<std::string>{"true, true, \"Loading\", 10, 20, \"\", 0, 0, \"\", 0, 0, \"Done\", 0, -5"});
    EXPECT_EQ(recorded("call com/morix/runtime/WinLauncher.main").size(), 1u);

    // A missing splash class does not stop the launch.
    clearTranscript();
    ProcessResult result = launch(application({{108, "1"}}), L"/run", "missing-method=initAwtSplashConfig");
    EXPECT_EQ(result.exitCode, 0u);
    EXPECT_TRUE(contains(log(), "could not find method for splash properties")) << log();
    EXPECT_EQ(recorded("call com/morix/runtime/WinLauncher.main").size(), 1u);
}

TEST_F(LaunchTest, TheInstallerFlavourRegistersItsNativesAndUsesItsOwnLauncherClass) {
    recordingRuntime();
    createDirectory(dir_.file(L".vantarock"));
    CopyFileW(binFile(L"fake-vrkinst.dll").c_str(), dir_.file(L".vantarock\\vrkinst.dll").c_str(), FALSE);
    ProcessResult result = launch(application({{2001, "i"}, {108, "1"}}), L"/run");
    EXPECT_EQ(result.exitCode, 0u) << log();
    std::vector<std::string> all = options();
    EXPECT_NE(std::find(all.begin(), all.end(), "-Dmorix.isVantarock=true"), all.end());
    EXPECT_EQ(recorded("call com/vantarock/runtime/launcher/WinLauncher.main").size(), 1u);
    EXPECT_EQ(recorded("call com/morix/runtime/WinLauncher.initAwtSplashConfig ").size(), 1u);
    EXPECT_EQ(recorded("call com/vantarock/runtime/installer/platform/win32/Common.initFromLauncher "),
              std::vector<std::string>{"true"});
    EXPECT_EQ(recorded("registerNatives ").size(), 1u);
    EXPECT_TRUE(contains(log(), "ERROR: registerNatives reports 42 through the launcher")) << log();

    // A failed registration tells the Java side so.
    clearTranscript();
    launch(application({{2001, "i"}}), L"/run", "", {{L"MORIX_VRKINST_RESULT", L"0"}});
    EXPECT_EQ(recorded("call com/vantarock/runtime/installer/platform/win32/Common.initFromLauncher "),
              (std::vector<std::string>{"true", "false"}));
    EXPECT_TRUE(contains(log(), "registering helper dll failed")) << log();
}

// Splash settings, the installer's initialisation and the module name property are optional: the
// launch goes on without them, and what went wrong is in the log.
TEST_F(LaunchTest, OptionalStepsLogTheExceptionsTheyGoOnWithout) {
    recordingRuntime();
    createDirectory(dir_.file(L".vantarock"));
    CopyFileW(binFile(L"fake-vrkinst.dll").c_str(), dir_.file(L".vantarock\\vrkinst.dll").c_str(), FALSE);
    // A name beyond the code page, so that the module name property is set through a call.
    ProcessResult result =
        launch(application({{2001, "i"}, {108, "1"}}), L"/run",
               "throws=initAwtSplashConfig;throws=initFromLauncher;throws=setProperty", {}, kBeyondCodePage);
    EXPECT_EQ(result.exitCode, 0u) << log();
    EXPECT_EQ(recorded("call com/vantarock/runtime/launcher/WinLauncher.main").size(), 1u);
    std::string text = log();
    for (const std::string method : {"initAwtSplashConfig", "initFromLauncher", "setProperty"}) {
        EXPECT_TRUE(contains(text, "ERROR: java.lang.RuntimeException: thrown by " + method)) << text;
    }

    clearLogs();
    result = launch(application({}), L"/run", "missing-class=java/lang/System", {}, kBeyondCodePage);
    EXPECT_EQ(result.exitCode, 0u);
    text = log();
    EXPECT_TRUE(contains(text, "ERROR: could not get system class")) << text;
    EXPECT_TRUE(contains(text, "ERROR: java.lang.NoClassDefFoundError: java/lang/System")) << text;
}

TEST_F(LaunchTest, ALongPathReachesTheLibraryPathWhole) {
    FakeRuntime& jre = recordingRuntime();
    std::wstring longPath = L"C:\\windows\\system32;C:\\windows";
    for (int i = 0; longPath.size() < 20000; ++i) {
        longPath += L";C:\\tools\\directory-number-" + std::to_wstring(i);
    }
    ProcessResult result = launch(application({}), L"/run", "", {{L"PATH", longPath}});
    EXPECT_EQ(result.exitCode, 0u) << log();
    const std::vector<std::string> all = options();
    const std::string expected = "-Djava.library.path=" + narrow(jre.home()) + "\\bin;" + narrow(longPath);
    EXPECT_NE(std::find(all.begin(), all.end(), expected), all.end());
}
