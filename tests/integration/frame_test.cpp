// The entry point: help, command words, fatal messages by executable type, localized messages and the
// removal of the launcher's temporary directory on a fatal exit.
#include "launcher_fixture.h"

#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <type_traits>

using namespace morix::test;
using morix::payload::Payload;

namespace {

Payload withType(const char* executableType) {
    Payload p;
    p.strings = {{107, executableType}};
    p.wideStrings = {{1000, u"App"}, {1009, u"Internal failure {0} ({0})."}};
    return p;
}

} // namespace

class FrameTest : public LauncherTest {};

TEST_F(FrameTest, HelpInEveryFormPrintsTheUsageWithTheProgramsBaseName) {
    std::wstring launcher = makeLauncher(withType("0"), L"My App.exe");
    for (const wchar_t* help : {L"/help", L"-help", L"--help", L"/?", L"/-help"}) {
        ProcessResult result = run(launcher, help);
        EXPECT_EQ(result.exitCode, 0u) << narrow(help);
        EXPECT_EQ(
            result.output,
            "Usage: My App.exe /install | /uninstall | /stop | /start | /status | /run | /run-redirect\n");
    }
}

TEST_F(FrameTest, MessageBoxTypesTakeTheDialogPathAndOthersPrintToTheConsole) {
    for (const char* type : {"1", "5"}) {
        std::wstring probe = makeProbe(withType(type), L"dialog" + wide(type) + L".exe");
        ProcessResult result = run(probe, L"fatal 1009 7");
        EXPECT_EQ(result.exitCode, 1u);
        std::string logText = log();
        EXPECT_TRUE(contains(logText, "showing message box: Internal failure 7 ({0}).")) << logText;
        // Without a desktop the box cannot appear: the text still reaches the console.
        EXPECT_TRUE(contains(result.output, "Internal failure 7 ({0}).")) << result.output;
        clearLogs();
    }
    for (const char* type : {"0", "2", "4"}) {
        std::wstring probe = makeProbe(withType(type), L"console" + wide(type) + L".exe");
        ProcessResult result = run(probe, L"fatal 1009 7", {{L"MORIX_LOG", std::nullopt}});
        EXPECT_EQ(result.exitCode, 1u);
        EXPECT_EQ(result.output, "Internal failure 7 ({0}).\n") << type;
    }
}

// Needs a display: ctest runs it once more on a virtual one (FrameTest.MessageBoxOnAVirtualDisplay);
// everywhere else it skips. A box that was shown and answered leaves nothing on the console.
TEST_F(FrameTest, OnADisplayTheMessageBoxAppearsAndItsAnswerEndsTheRun) {
    if (GetEnvironmentVariableW(L"DISPLAY", nullptr, 0) == 0) {
        GTEST_SKIP() << "no display";
    }
    std::wstring probe = makeProbe(withType("1"), L"dialog.exe");
    ProcessOptions options;
    options.environment = {{L"TMP", tmp_}, {L"TEMP", tmp_}, {L"MORIX_LOG", L"yes"}};
    RunningProcess shown(quoteArgument(probe) + L" fatal 1009 7", options);
    HWND box = nullptr;
    ASSERT_TRUE(waitUntil(20000, [&] { return (box = FindWindowW(L"#32770", L"App")) != nullptr; }));
    // The box's own OK button, as a user would press it.
    PostMessageW(box, WM_COMMAND, IDOK, 0);
    ProcessResult result = shown.wait(20000);
    EXPECT_EQ(result.exitCode, 1u);
    EXPECT_EQ(result.output, "");
    EXPECT_TRUE(contains(log(), "showing message box: Internal failure 7 ({0}).")) << log();
    EXPECT_FALSE(contains(log(), "message box could not be shown")) << log();
}

TEST_F(FrameTest, FatalMessagesNameTheLogFileWhenTheLogIsOn) {
    std::wstring probe = makeProbe(withType("0"));
    ProcessResult result = run(probe, L"fatal 1009 16");
    EXPECT_EQ(result.exitCode, 1u);
    EXPECT_EQ(result.output, "Internal failure 16 ({0}).\n\nLog: " + narrow(tmp_) + "\\vrk_nlog_1.log\n");
    ProcessResult quiet = run(probe, L"fatal 1009 16", {{L"MORIX_LOG", std::nullopt}});
    EXPECT_EQ(quiet.output, "Internal failure 16 ({0}).\n");
}

TEST_F(FrameTest, AFatalExitRemovesTheLaunchersTemporaryDirectory) {
    std::wstring appTemp = dir_.file(L"mrx1.tmp_dir42");
    createDirectory(appTemp);
    writeFile(appTemp + L"\\a.jar", "a");
    createDirectory(appTemp + L"\\lib");
    writeFile(appTemp + L"\\lib\\b.jar", "b");
    std::wstring probe = makeProbe(withType("0"));
    ProcessResult result = run(probe, L"fatal-cleanup " + quoteArgument(appTemp) + L" 1009");
    EXPECT_EQ(result.exitCode, 1u);
    EXPECT_FALSE(pathExists(appTemp));
    EXPECT_TRUE(contains(log(), "attempting to delete ")) << log();
}

// Wine takes the user interface language from LC_ALL when a process tree starts, so ctest runs this
// test once per language with LC_ALL and MORIX_TEST_LOCALE set; run plainly it checks English.
TEST_F(FrameTest, TheUsersLanguageSelectsTheMessageSetsInFileOrder) {
    Payload p = withType("0");
    p.messageSets = {{"de", {{1009, u"Interner Fehler {0}."}, {1000, u"Anwendung"}}},
                     {"de_CH", {{1009, u"Interner Fehler {0} (Schweiz)."}}},
                     {"fr", {{1009, u"Erreur interne {0}."}}}};
    const std::map<std::string, std::string> expected = {{"de_DE", "Interner Fehler x.\n"},
                                                         {"de_CH", "Interner Fehler x (Schweiz).\n"},
                                                         {"fr_FR", "Erreur interne x.\n"},
                                                         {"", "Internal failure x ({0}).\n"}};
    const char* locale = std::getenv("MORIX_TEST_LOCALE");
    const std::string key = locale ? locale : "";
    ASSERT_TRUE(expected.count(key)) << key;
    ProcessResult result = run(makeProbe(p), L"show-message 1009 x");
    EXPECT_TRUE(result.output.starts_with(expected.at(key) + "\nLog: ")) << result.output;
    EXPECT_TRUE(contains(log(), "language/country is " + (key.empty() ? std::string("en_US") : key)))
        << log();
}

TEST_F(FrameTest, ALauncherInADirectoryTheCodePageCannotNameHasAUsableNarrowPath) {
    const std::wstring directory = dir_.file(L"\u4E2D\u6587 app");
    createDirectory(directory);
    const std::wstring probe = directory + L"\\probe.exe";
    writeLauncher(probe, withType("0"), binFile(L"morix-probe.exe"));
    ProcessResult result = run(probe, L"paths");
    ASSERT_EQ(result.exitCode, 0u) << result.output;
    const std::string narrowPath = result.output.substr(7, result.output.find('\n') - 7); // after "narrow="
    EXPECT_EQ(narrowPath.find('?'), std::string::npos) << narrowPath;
    EXPECT_TRUE(narrowPath.ends_with(".exe") || narrowPath.ends_with(".EXE")) << narrowPath;
    // The narrow form names the same file for the ANSI file functions.
    EXPECT_NE(GetFileAttributesA(narrowPath.c_str()), INVALID_FILE_ATTRIBUTES) << narrowPath;
    EXPECT_TRUE(contains(result.output, "wide=" + narrow(probe) + "\n")) << result.output;
}

// The template's manifest names the processor architecture of its own build (X86 for the 32-bit product),
// and its PE header agrees.
TEST(TemplateTest, TheManifestAndTheHeaderNameTheBuildsProcessorArchitecture) {
    const std::wstring launcher = binFile(L"morix-launcher.exe");
    std::unique_ptr<std::remove_pointer_t<HMODULE>, decltype(&FreeLibrary)> module(
        LoadLibraryExW(launcher.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE),
        &FreeLibrary);
    ASSERT_TRUE(module) << GetLastError();
    HRSRC resource = FindResourceW(module.get(), MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24));
    ASSERT_NE(resource, nullptr) << GetLastError();
    HGLOBAL loaded = LoadResource(module.get(), resource);
    ASSERT_NE(loaded, nullptr);
    const std::string manifest(static_cast<const char*>(LockResource(loaded)),
                               SizeofResource(module.get(), resource));
    const std::string architecture = sizeof(void*) == 8 ? "amd64" : "X86";
    EXPECT_TRUE(contains(manifest, "version=\"1.0.0.0\" processorArchitecture=\"" + architecture + "\""))
        << manifest;

    const std::string image = readFile(launcher);
    ASSERT_GT(image.size(), 0x40u);
    uint32_t peHeader = 0;
    std::memcpy(&peHeader, image.data() + 0x3c, sizeof peHeader);
    ASSERT_LT(peHeader + 6u, image.size());
    uint16_t machine = 0;
    std::memcpy(&machine, image.data() + peHeader + 4, sizeof machine);
    EXPECT_EQ(machine, sizeof(void*) == 8 ? IMAGE_FILE_MACHINE_AMD64 : IMAGE_FILE_MACHINE_I386);
}
