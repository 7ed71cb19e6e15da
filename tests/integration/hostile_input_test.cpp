// Hostile command lines and environment: very long and very many arguments, unbalanced quotes, huge
// service names, options files with a 1 MB line or NUL bytes, a huge PATH and a huge variable in a
// configured text. Each run ends with a clear message or runs; none crashes or hangs.
#include "invocation/invocation_fixture.h"

using namespace morix::test;

namespace {

// A run that works, or that stops with exit code 1 and says why on the console.
::testing::AssertionResult endsClearly(const ProcessResult& result) {
    if (result.timedOut) {
        return ::testing::AssertionFailure() << "hang";
    }
    // A message on either output: the hint for a missing command word goes to the error output.
    if (result.exitCode == 0 ||
        (result.exitCode == 1 && (!result.output.empty() || !result.errors.empty()))) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure()
           << "exit code " << result.exitCode << ", output: " << result.output << result.errors;
}

} // namespace

class HostileInputTest : public InvocationTest {
protected:
    ~HostileInputTest() override {
        // A long name that the service manager accepted must not outlive the test.
        if (SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS)) {
            if (SC_HANDLE service = OpenServiceW(manager, serviceName_.c_str(), SERVICE_ALL_ACCESS)) {
                SERVICE_STATUS status{};
                ControlService(service, SERVICE_CONTROL_STOP, &status);
                DeleteService(service);
                CloseServiceHandle(service);
            }
            CloseServiceHandle(manager);
        }
    }

    std::wstring serviceName_ =
        L"MorixHostile" + std::to_wstring(GetCurrentProcessId()) + std::wstring(6000, L's');
};

TEST_F(HostileInputTest, LongManyAndHalfQuotedArgumentsRunOrEndClearly) {
    recordingRuntime();
    const std::wstring six(6000, L'a');
    ProcessResult result = launch(application({}), L"/run " + six);
    EXPECT_TRUE(endsClearly(result));
    EXPECT_EQ(mainArguments().back(), narrow(six));

    clearTranscript();
    EXPECT_TRUE(endsClearly(launch(application({}), L"/run " + std::wstring(32000, L'b'))));

    clearTranscript();
    std::wstring many = L"/run";
    for (int i = 0; i < 3000; ++i) {
        many += L" a" + std::to_wstring(i);
    }
    EXPECT_TRUE(endsClearly(launch(application({}), many)));
    EXPECT_EQ(mainArguments().back(), "a2999");

    for (const wchar_t* line :
         {L"/run \"unclosed", L"/run a\"b \"c", L"\"/run", L"/run \\\"", L"\"", L"/run \"\"\""}) {
        clearTranscript();
        EXPECT_TRUE(endsClearly(launch(application({}), line))) << narrow(line);
    }
}

TEST_F(HostileInputTest, A6000CharacterServiceNameEndsEveryServiceCommandClearly) {
    const std::wstring launcher = makeLauncher(configuration({{101, "MorixHostile"}}));
    for (const wchar_t* command :
         {L"/status", L"/stop", L"/start", L"/restart", L"/uninstall", L"/install", L"/install-auto",
          L"/install-demand", L"/install-and-start", L"/uninstall"}) {
        EXPECT_TRUE(endsClearly(run(launcher, std::wstring(command) + L" " + serviceName_, {}, 60000)))
            << narrow(command);
    }
}

TEST_F(HostileInputTest, OptionsFilesWithAMegabyteLineOrNulBytesAreRead) {
    recordingRuntime();
    writeFile(dir_.file(L"app.vmoptions"), "-Dbig=" + std::string(1 << 20, 'x') + "\r\n-Dafter=1\r\n");
    ProcessResult result = launch(application({{166, "1"}}), L"/run");
    EXPECT_TRUE(endsClearly(result));
    std::vector<std::string> all = options();
    EXPECT_NE(std::find(all.begin(), all.end(), "-Dafter=1"), all.end()) << log();

    clearTranscript();
    writeFile(dir_.file(L"app.vmoptions"), std::string("-Dbefore=1\n-Dnul=a\0b\n\0\0\0\n-Dafter=2\n", 35));
    result = launch(application({{166, "1"}}), L"/run");
    EXPECT_TRUE(endsClearly(result));
    all = options();
    EXPECT_NE(std::find(all.begin(), all.end(), "-Dbefore=1"), all.end());
    EXPECT_NE(std::find(all.begin(), all.end(), "-Dafter=2"), all.end());
}

TEST_F(HostileInputTest, AHugePathAndAHugeVariableInAConfiguredTextRun) {
    recordingRuntime();
    std::wstring path = L"C:\\windows\\system32;C:\\windows";
    for (int i = 0; path.size() < 40000; ++i) {
        path += L";C:\\hostile\\directory-" + std::to_wstring(i);
    }
    EXPECT_TRUE(endsClearly(launch(application({}), L"/run", "", {{L"PATH", path}})));

    clearTranscript();
    ProcessResult result =
        launch(application({{123, "-Dhuge=${MORIX_HUGE} -Dnext=1"}, {124, "${MORIX_HUGE}"}}), L"/run", "",
               {{L"MORIX_HUGE", std::wstring(32 * 1024, L'h')}});
    EXPECT_TRUE(endsClearly(result));
    EXPECT_EQ(recorded("call com/morix/runtime/WinLauncher.main").size(), 1u) << log();
}
