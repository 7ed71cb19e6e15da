// Without a command the launcher becomes the service dispatcher. Started from a console rather than by
// the service control manager, the dispatcher fails at once and the process still ends with 0.
#include "launcher_fixture.h"

using namespace morix::test;
using morix::payload::Payload;

class DispatcherTest : public LauncherTest {};

TEST_F(DispatcherTest, NoCommandOrAnUnknownOneStartsTheDispatcher) {
    Payload p;
    p.strings = {{101, "DispatchSvc"}};
    const std::wstring launcher = makeLauncher(p);
    // Command words are case-sensitive: /Help is not help.
    for (const wchar_t* arguments : {L"", L"plain-word", L"/Help", L"/bogus other"}) {
        ProcessResult result = run(launcher, arguments);
        EXPECT_EQ(result.exitCode, 0u) << narrow(arguments);
        EXPECT_EQ(result.output, "") << narrow(arguments);
        const std::string text = log();
        EXPECT_TRUE(contains(text, "] calling StartServiceCtrlDispatcher\n")) << text;
        EXPECT_TRUE(contains(text, "] ERROR: StartServiceCtrlDispatcher failed with error 1063\n")) << text;
        EXPECT_TRUE(contains(text, "] StartServiceCtrlDispatcher returned\n")) << text;
        DeleteFileW((tmp_ + L"\\vrk_nlog_1.log").c_str());
    }
}
