// The service host with real service starts: the probe is registered as the service, hosts itself, and
// its child follows a script and records what the host gave it.
#include "service_fixture.h"

#include "morix/config_ids.h"

#include <algorithm>
#include <cstdlib>

using namespace morix::test;
using morix::payload::Payload;

namespace {

Payload named(const std::wstring& name) {
    Payload p;
    p.strings = {{101, narrow(name)}};
    return p;
}

} // namespace

class ServiceHostTest : public ServiceTest {
protected:
    // Installs and starts the probe as the service and waits until its child runs.
    void installAndStart(const std::wstring& probe, const std::wstring& startArguments = L"") {
        ASSERT_EQ(run(probe, L"/install").exitCode, 0u);
        ASSERT_EQ(run(probe, L"/start" + startArguments).exitCode, 0u);
        ASSERT_NE(awaitChildFile(probe, L"child-started.txt"), "");
    }

    DWORD exitCodeOfHost(HANDLE host) {
        DWORD code = 99;
        EXPECT_EQ(WaitForSingleObject(host, 20000), WAIT_OBJECT_0);
        GetExitCodeProcess(host, &code);
        return code;
    }
};

TEST_F(ServiceHostTest, CommandsAgainstARunningServicePrintTheirProgress) {
    const std::wstring name = uniqueName();
    const std::string n = narrow(name);
    const std::wstring probe = makeServiceProbe(named(name));
    ASSERT_EQ(run(probe, L"/install").output, "Installed service '" + n + "'.\n");
    ProcessResult start = run(probe, L"/start");
    EXPECT_EQ(start.output, "Starting service '" + n + "'.\n");
    EXPECT_EQ(start.exitCode, 0u);
    ASSERT_NE(awaitChildFile(probe, L"child-started.txt"), "");

    // The record as the host reports it (Wine's manager shows the registered type, not the reported one).
    SERVICE_STATUS_PROCESS reported = queryStatus(name);
    EXPECT_EQ(reported.dwControlsAccepted, 5u);
    EXPECT_EQ(reported.dwWaitHint, 50000u);
    ProcessResult status = run(probe, L"/status");
    EXPECT_EQ(status.output, "Running.\n");
    EXPECT_EQ(status.exitCode, 0u);
    EXPECT_EQ(run(probe, L"/start").output, "Service is already running.\n");

    forgetChildFiles(probe);
    ProcessResult restart = run(probe, L"/restart");
    EXPECT_EQ(restart.output,
              "Stopping service '" + n + "'.\nService stopped\nStarting service '" + n + "'.\n");
    ASSERT_NE(awaitChildFile(probe, L"child-started.txt"), "");

    ProcessResult reinstall = run(probe, L"/install");
    EXPECT_EQ(reinstall.output,
              "Stopping service '" + n + "'.\nService stopped\nInstalled service '" + n + "'.\n");
    EXPECT_EQ(reinstall.exitCode, 0u);
    EXPECT_EQ(run(probe, L"/status").output, "Not running.\n");

    forgetChildFiles(probe);
    ProcessResult installAndStart = run(probe, L"/install-and-start");
    EXPECT_EQ(installAndStart.output,
              "Service is already stopped.\nInstalled service '" + n + "'.\nStarting service '" + n + "'.\n");
    ASSERT_NE(awaitChildFile(probe, L"child-started.txt"), "");
    ProcessResult stop = run(probe, L"/stop");
    EXPECT_EQ(stop.output, "Stopping service '" + n + "'.\nService stopped\n");
    EXPECT_EQ(stop.exitCode, 0u);
    EXPECT_EQ(run(probe, L"/status").output, "Not running.\n");
}

TEST_F(ServiceHostTest, TheChildsCommandLineCarriesNameArgumentsAndMarkerSoThatItReadsThemBack) {
    const std::wstring spaced = uniqueName(L" spaced");
    const std::wstring inSpaces = makeServiceProbe(named(spaced), L"My App");
    installAndStart(inSpaces);
    EXPECT_EQ(awaitChildFile(inSpaces, L"child-command-line.txt"),
              narrow(L"\"" + inSpaces + L"\" \"" + spaced + L"\" __vrk_restart"));

    // Start parameters are quoted by the C runtime's rules: a space or a quote needs quotes, an
    // apostrophe none, a backslash only before a quote or at the end of a quoted argument.
    const std::wstring plain = uniqueName(L"-plain");
    const std::wstring probe = makeServiceProbe(named(plain), L"plain");
    installAndStart(probe, L" " + plain + LR"( a "b c" don't "say \"hi\"" "C:\x y\\")");
    EXPECT_EQ(awaitChildFile(probe, L"child-command-line.txt"),
              narrow(probe + L" " + plain + LR"( a "b c" don't "say \"hi\"" "C:\x y\\" __vrk_restart)"));
}

TEST_F(ServiceHostTest, AStopSendsZeroAndLineFeedThenEndOfInputAndStopsWhateverTheExitCode) {
    const std::wstring name = uniqueName();
    const std::wstring probe = makeServiceProbe(named(name));
    writeScript(probe, "until=eof\nexit=7\n");
    installAndStart(probe);
    HANDLE host =
        OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, queryStatus(name).dwProcessId);
    ASSERT_NE(host, nullptr);
    ProcessResult stop = run(probe, L"/stop");
    EXPECT_EQ(stop.output, "Stopping service '" + narrow(name) + "'.\nService stopped\n");
    EXPECT_EQ(awaitChildFile(probe, L"child-finished.txt"), "input-ended=1\nexit=7\n");
    // The stopped report lets the dispatcher return on the host's main thread; the host still ends
    // without running its exit handlers.
    EXPECT_EQ(exitCodeOfHost(host), 0u);
    CloseHandle(host);
    EXPECT_FALSE(pathExists(dir_.file(L"host-exit-handlers.txt")));
    EXPECT_EQ(readFile(dir_.file(L"child-input.bin")), "0\n");
    SERVICE_STATUS_PROCESS status = queryStatus(name);
    EXPECT_EQ(status.dwCurrentState, static_cast<DWORD>(SERVICE_STOPPED));
    EXPECT_EQ(status.dwWin32ExitCode, 0u);
    std::string log = hostLogs();
    for (const char* line :
         {"] service name is '", "] control handler request 1\n", "] sending shutdown1 0\n",
          "] shutdown sent\n", "] process terminated with exit code 7\n", "] service stopped set\n",
          "] exiting\n"}) {
        EXPECT_TRUE(contains(log, line)) << line << "\n" << log;
    }
    EXPECT_FALSE(contains(log, "sending shutdown failed")) << log;
}

TEST_F(ServiceHostTest, AChildEndingByItselfStopsTheServiceOnlyWithExitCodeZero) {
    for (int exitCode : {0, 3}) {
        const std::wstring name = uniqueName(L"-" + std::to_wstring(exitCode));
        const std::wstring probe = makeServiceProbe(named(name), L"exit" + std::to_wstring(exitCode));
        writeScript(probe, "until=release\nexit=" + std::to_string(exitCode) + "\n");
        installAndStart(probe);
        HANDLE host = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE,
                                  queryStatus(name).dwProcessId);
        ASSERT_NE(host, nullptr);
        writeFile(dir_.file(L"exit" + std::to_wstring(exitCode) + L"\\child-release"), "");
        EXPECT_EQ(exitCodeOfHost(host), 0u) << exitCode;
        CloseHandle(host);
        EXPECT_FALSE(pathExists(dir_.file(L"exit" + std::to_wstring(exitCode) + L"\\host-exit-handlers.txt")))
            << exitCode;
        if (exitCode == 0) {
            EXPECT_TRUE(waitForState(name, SERVICE_STOPPED));
        }
    }
    // The host reports nothing for a child that failed by itself: the manager only sees the process end.
    std::string log = hostLogContaining("] process terminated with exit code 3\n");
    EXPECT_TRUE(contains(log, "] exiting\n")) << log;
    EXPECT_FALSE(contains(log, "service stopped set")) << log;
}

// The program the host starts its child from is the one the service manager started it from. An
// operator who renames or replaces the launcher while the service runs (an update, say) leaves the host
// nothing to start at its next restart: it tries again as its policy says, and when it gives up, the
// service stops with the code of a child that cannot start, as it would at the first start.
TEST_F(ServiceHostTest, AChildThatCannotStartStopsTheServiceWithTheServiceSpecificCode) {
    // The system's code for the failed start: a missing file; a directory in its place is one more
    // file Wine does not find, where Windows refuses access.
    struct Cause {
        const wchar_t* tag;
        bool directory;
        std::vector<DWORD> errors;
    };
    for (const Cause& cause : {Cause{L"renamed", false, {ERROR_FILE_NOT_FOUND}},
                               Cause{L"replaced", true, {ERROR_FILE_NOT_FOUND, ERROR_ACCESS_DENIED}}}) {
        const std::wstring name = uniqueName(std::wstring(L"-") + cause.tag);
        const std::wstring directory = cause.tag;
        Payload p = named(name);
        p.strings.emplace_back(morix::ids::kServiceRestartDelay, "0");
        p.strings.emplace_back(morix::ids::kServiceRestartLimit, "2");
        const std::wstring probe = makeServiceProbe(p, directory);
        writeScript(probe, "until=release\nexit=3\n");
        installAndStart(probe);

        const std::wstring moved = dir_.file(directory + L"\\probe-old.exe");
        ASSERT_TRUE(MoveFileW(probe.c_str(), moved.c_str())) << GetLastError();
        if (cause.directory) {
            createDirectory(probe);
        }
        writeFile(dir_.file(directory + L"\\child-release"), "");
        ASSERT_TRUE(waitForState(name, SERVICE_STOPPED)) << narrow(cause.tag) << "\n" << hostLogs();
        SERVICE_STATUS_PROCESS status = queryStatus(name);
        EXPECT_EQ(status.dwWin32ExitCode, static_cast<DWORD>(ERROR_SERVICE_SPECIFIC_ERROR))
            << narrow(cause.tag);
        EXPECT_EQ(status.dwServiceSpecificExitCode, 5000u) << narrow(cause.tag);
        const std::string log = hostLogContaining("service name is '" + narrow(name) + "'");
        const std::string lines[] = {
            "] the child ended without a stop request (exit code 3): restart 1 in 0 ms\n",
            "] ERROR: could not start process " + narrow(probe),
            "] the child could not be started: restart 2 in 0 ms\n",
            "] ERROR: the child failed again after 2 restarts within 600 s: giving up\n",
            "] service stopped: the child could not be started (service-specific code 5000)\n"};
        for (const std::string& line : lines) {
            EXPECT_TRUE(contains(log, line)) << line << "\n" << log;
        }
        EXPECT_TRUE(std::any_of(cause.errors.begin(), cause.errors.end(), [&](DWORD error) {
            return contains(log, " __vrk_restart (" + std::to_string(error) + ")\n");
        })) << log;
    }
}

// An update that puts the launcher back before the next attempt: the host starts it again and serves on.
TEST_F(ServiceHostTest, AChildThatCouldNotStartIsStartedAgainOnceItsLauncherIsBack) {
    const std::wstring name = uniqueName();
    Payload p = named(name);
    p.strings.emplace_back(morix::ids::kServiceRestartDelay, "1");
    p.strings.emplace_back(morix::ids::kServiceRestartLimit, "3");
    const std::wstring probe = makeServiceProbe(p);
    writeScript(probe, "until=release\nexit=3\n");
    installAndStart(probe);
    const std::wstring moved = dir_.file(L"probe-old.exe");
    ASSERT_TRUE(MoveFileW(probe.c_str(), moved.c_str())) << GetLastError();
    writeFile(dir_.file(L"child-release"), "");
    const std::string failed = "] the child could not be started: restart 2 in 2000 ms\n";
    ASSERT_TRUE(waitUntil(20000, [&] { return !hostLogContaining(failed).empty(); })) << hostLogs();

    forgetChildFiles(probe);
    writeScript(probe, "until=eof\n");
    ASSERT_TRUE(MoveFileW(moved.c_str(), probe.c_str())) << GetLastError();
    ASSERT_NE(awaitChildFile(probe, L"child-started.txt"), "") << hostLogs();
    EXPECT_TRUE(waitUntil(10000, [&] {
        return contains(hostLogContaining(failed), "] restarted the child (restart 2)\n");
    })) << hostLogs();
    EXPECT_EQ(queryStatus(name).dwCurrentState, static_cast<DWORD>(SERVICE_RUNNING));
    EXPECT_EQ(run(probe, L"/stop").output, "Stopping service '" + narrow(name) + "'.\nService stopped\n");
}

// Cutting the line would drop arguments or the marker and run a command nobody gave: the service fails
// to start instead, visibly.
TEST_F(ServiceHostTest, ACommandLineBeyondTheLimitIsRefusedNeverCut) {
    const std::wstring name = uniqueName();
    const std::wstring probe = makeServiceProbe(named(name));
    ASSERT_EQ(run(probe, L"/install").exitCode, 0u);
    // The line is the probe's path, the name and the parameter, each after a space, and the marker.
    const size_t fixed = probe.size() + 1 + name.size() + 1 + std::wstring(L" __vrk_restart").size();
    const std::wstring longest(11999 - fixed, L'x');
    ASSERT_EQ(run(probe, L"/start " + name + L" " + longest).exitCode, 0u);
    EXPECT_EQ(awaitChildFile(probe, L"child-command-line.txt").size(), 11999u);
    run(probe, L"/stop");
    forgetChildFiles(probe);

    ASSERT_EQ(run(probe, L"/start " + name + L" " + longest + L"x").exitCode, 0u);
    ASSERT_TRUE(waitForState(name, SERVICE_STOPPED));
    EXPECT_EQ(queryStatus(name).dwWin32ExitCode, static_cast<DWORD>(ERROR_SERVICE_SPECIFIC_ERROR));
    EXPECT_EQ(queryStatus(name).dwServiceSpecificExitCode, 5000u);
    EXPECT_FALSE(pathExists(dir_.file(L"child-started.txt")));
    EXPECT_TRUE(contains(hostLogs(),
                         "] ERROR: the child's command line of 12000 characters exceeds the limit of "
                         "11999\n"))
        << hostLogs();
}

TEST_F(ServiceHostTest, AChildWritingMegabytesNeverBlocks) {
    const std::wstring probe = makeServiceProbe(named(uniqueName()));
    writeScript(probe, "stdout-mb=8\nstderr-mb=8\n");
    installAndStart(probe);
    EXPECT_EQ(awaitChildFile(probe, L"child-wrote.txt", 30000), "stdout=8388608\nstderr=8388608\n");
    EXPECT_EQ(run(probe, L"/stop").exitCode, 0u);
    EXPECT_EQ(awaitChildFile(probe, L"child-finished.txt"), "input-ended=1\nexit=0\n");
}

// Wine ignores the priority class among the creation flags (its child runs at normal priority whatever
// the flags say), so the host's log shows what it passed; the other values are unit-tested.
TEST_F(ServiceHostTest, TheChildsPriorityComesFromTheRegistry) {
    const std::wstring name = uniqueName();
    const DWORD idle = IDLE_PRIORITY_CLASS;
    setPriorityValue(name, REG_DWORD, std::string(reinterpret_cast<const char*>(&idle), 4));
    installAndStart(makeServiceProbe(named(name)));
    EXPECT_TRUE(contains(hostLogs(), "] using priority 64\n")) << hostLogs();
}

// The Java side's own limit needs a Java side that still reads the stop line; this child reads nothing.
// The host ends it at the stop timeout plus its margin, and says so in the status and the log.
TEST_F(ServiceHostTest, AChildThatIgnoresTheStopIsEndedAtTheBoundAndTheServiceSaysWhy) {
    const std::wstring name = uniqueName();
    Payload p = named(name);
    p.strings.push_back({123, "-Xmx64m -Dmorix.stopTimeout=1"});
    const std::wstring probe = makeServiceProbe(p);
    writeScript(probe, "until=release\ntimeout-ms=120000\n");
    installAndStart(probe);
    const std::string started = awaitChildFile(probe, L"child-started.txt");
    const DWORD childPid =
        static_cast<DWORD>(std::strtoul(started.c_str() + started.find("pid=") + 4, nullptr, 10));
    HANDLE child = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, childPid);
    ASSERT_NE(child, nullptr);

    const ULONGLONG begin = GetTickCount64();
    ProcessResult stop = run(probe, L"/stop", {}, 120000);
    const ULONGLONG seconds = (GetTickCount64() - begin) / 1000;
    EXPECT_EQ(stop.output, "Stopping service '" + narrow(name) + "'.\nService stopped\n");
    EXPECT_GE(seconds, 10u);
    EXPECT_LE(seconds, 11u + 8u); // the bound, and the polling of the stop command
    SERVICE_STATUS_PROCESS status = queryStatus(name);
    EXPECT_EQ(status.dwCurrentState, static_cast<DWORD>(SERVICE_STOPPED));
    EXPECT_EQ(status.dwWin32ExitCode, static_cast<DWORD>(ERROR_SERVICE_SPECIFIC_ERROR));
    EXPECT_EQ(status.dwServiceSpecificExitCode, 5001u);
    EXPECT_EQ(exitCodeOfHost(child), 5001u);
    CloseHandle(child);
    EXPECT_FALSE(pathExists(dir_.file(L"child-finished.txt")));
    const std::string log = hostLogContaining("did not end within");
    for (const char* line :
         {"] the stop bound is 11 s: the stop timeout of 1 s and a margin of 10 s\n",
          "] ERROR: the child did not end within 11 s of the stop request; ending it\n",
          "] process terminated with exit code 5001\n",
          "] service stopped: the host ended the child after the stop bound (service-specific code 5001)\n",
          "] exiting\n"}) {
        EXPECT_TRUE(contains(log, line)) << line << "\n" << log;
    }
}

TEST_F(ServiceHostTest, AStopDuringTheRestartDelayEndsTheServiceAtOnceAndStartsNoOtherChild) {
    const std::wstring name = uniqueName();
    Payload p = named(name);
    p.strings.emplace_back(morix::ids::kServiceRestartDelay, "60");
    const std::wstring probe = makeServiceProbe(p);
    writeScript(probe, "until=none\nexit=3\n");
    installAndStart(probe);
    const std::string waiting = "the child ended without a stop request (exit code 3): restart 1 in 60000 ms";
    ASSERT_TRUE(waitUntil(20000, [&] { return !hostLogContaining(waiting).empty(); })) << hostLogs();
    forgetChildFiles(probe);
    // Running while it waits: the manager passes the stop on.
    EXPECT_EQ(queryStatus(name).dwCurrentState, static_cast<DWORD>(SERVICE_RUNNING));
    HANDLE host =
        OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, queryStatus(name).dwProcessId);
    ASSERT_NE(host, nullptr);
    const ULONGLONG before = GetTickCount64();
    EXPECT_EQ(run(probe, L"/stop").exitCode, 0u);
    EXPECT_TRUE(waitForState(name, SERVICE_STOPPED, 10000));
    EXPECT_EQ(exitCodeOfHost(host), 0u);
    CloseHandle(host);
    EXPECT_LT(GetTickCount64() - before, 15000u);
    const std::string log = hostLogContaining(waiting);
    EXPECT_TRUE(contains(log, "] a stop came during the restart delay: no restart\n")) << log;
    EXPECT_TRUE(contains(log, "] service stopped set\n")) << log;
    EXPECT_TRUE(contains(log, "] no child is running: the shutdown goes to none\n")) << log;
    EXPECT_FALSE(contains(log, "ERROR")) << log;
    EXPECT_FALSE(pathExists(dir_.file(L"child-started.txt")));
}
