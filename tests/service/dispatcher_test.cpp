// Without a command word, started from a console rather than by the service control manager, the launcher
// says what it is and ends with 1: the dispatcher, which would fail, is never called.
#include "launcher_fixture.h"

#include "morix/config_ids.h"

#include <chrono>
#include <cstdio>

using namespace morix::test;
using morix::payload::Payload;

class DispatcherTest : public LauncherTest {};

TEST_F(DispatcherTest, NoCommandOrAnUnknownOneFromAConsoleExplainsItselfAndEndsWith1) {
    Payload p;
    p.strings = {{morix::ids::kServiceName, "DispatchSvc"}};
    const std::wstring launcher = makeLauncher(p);
    // Command words are case-sensitive: /Help is not help.
    for (const wchar_t* arguments : {L"", L"plain-word", L"/Help", L"/bogus other"}) {
        const auto start = std::chrono::steady_clock::now();
        ProcessResult result = run(launcher, arguments);
        const auto ms =
            std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
        std::printf("no command word (%s): %lld ms\n", narrow(arguments).c_str(),
                    static_cast<long long>(ms.count()));
        EXPECT_EQ(result.exitCode, 1u) << narrow(arguments);
        EXPECT_EQ(result.output, "") << narrow(arguments);
        EXPECT_EQ(result.errors,
                  "app.exe is a Windows service: run it from the command line with \"app.exe /run "
                  "[arguments]\", or see \"app.exe /help\" for its commands.\n")
            << narrow(arguments);
        const std::string text = log();
        EXPECT_TRUE(contains(text, ": not started by the service control manager\n")) << text;
        EXPECT_FALSE(contains(text, "calling StartServiceCtrlDispatcher")) << text;
        DeleteFileW((tmp_ + L"\\vrk_nlog_1.log").c_str());
    }
}
