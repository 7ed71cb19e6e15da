// The single-instance guard: numbered semaphores per running copy, or one instance that a second start
// hands over to. Each test uses launchers at paths of its own, so tests never see each other's instances.
#include "launcher_fixture.h"

#include <memory>
#include <optional>
#include <regex>

using namespace morix::test;
using morix::payload::Payload;

namespace {

constexpr const char* kPidKey = "SOFTWARE\\quarrystone\\morix\\pids";

Payload guardPayload(std::vector<std::pair<int32_t, std::string>> strings) {
    Payload p;
    p.strings = std::move(strings);
    p.files = {{"a.txt", "a"}};
    p.describeIncludedFiles();
    return p;
}

// The identity of a launcher: its full path in lower case (the test paths are plain ASCII).
std::string instanceKeyOf(const std::wstring& launcher) {
    std::string key = narrow(launcher);
    for (char& c : key) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return key;
}

std::string mangled(std::string key) {
    for (char& c : key) {
        if (c == '\\' || c == ' ') {
            c = '_';
        }
    }
    return key;
}

std::optional<DWORD> recordedPid(const std::string& key) {
    DWORD pid = 0;
    DWORD size = sizeof pid;
    if (RegGetValueA(HKEY_CURRENT_USER, kPidKey, key.c_str(), RRF_RT_REG_DWORD, nullptr, &pid, &size) !=
        ERROR_SUCCESS) {
        return std::nullopt;
    }
    return pid;
}

void deleteRecordedPid(const std::string& key) {
    RegDeleteKeyValueA(HKEY_CURRENT_USER, kPidKey, key.c_str());
}

std::string field(const std::string& output, const std::string& name) {
    std::smatch match;
    return std::regex_search(output, match, std::regex("(^|\n)" + name + "=([^\n]*)")) ? match[2].str() : "";
}

} // namespace

class InstanceTest : public LauncherTest {
protected:
    ~InstanceTest() override {
        for (const std::string& key : keys_) {
            deleteRecordedPid(key);
        }
    }

    std::wstring makeGuardProbe(const Payload& payload, const std::wstring& name) {
        std::wstring probe = makeProbe(payload, name);
        keys_.push_back(instanceKeyOf(probe));
        deleteRecordedPid(keys_.back());
        return probe;
    }

    // Options of one process: its own temporary root (and so its own log) under this test's directory.
    ProcessOptions optionsFor(const std::wstring& tmp) {
        createDirectory(tmp);
        ProcessOptions options;
        options.environment = {{L"TMP", tmp}, {L"TEMP", tmp}, {L"MORIX_LOG", L"yes"}};
        options.timeoutMs = 30000;
        return options;
    }

    // A first instance that holds its semaphore until it is killed; returns once the guard has run.
    std::unique_ptr<RunningProcess> startFirst(const std::wstring& probe, const std::wstring& tmp) {
        const std::wstring ready = tmp + L"-ready";
        auto process = std::make_unique<RunningProcess>(
            quoteArgument(probe) + L" guard 60000 " + quoteArgument(ready), optionsFor(tmp));
        EXPECT_TRUE(waitUntil(30000, [&] { return pathExists(ready); }));
        return process;
    }

    ProcessResult runSecond(const std::wstring& probe, const std::wstring& tmp) {
        return runProcess(quoteArgument(probe) + L" guard 0", optionsFor(tmp));
    }

    std::vector<std::string> keys_;
};

TEST_F(InstanceTest, NormalModeNumbersTheRunningInstances) {
    std::wstring probe = makeGuardProbe(guardPayload({}), L"My Probe.exe");
    const std::string base = "Local\\" + mangled(instanceKeyOf(probe));

    std::unique_ptr<RunningProcess> first = startFirst(probe, dir_.file(L"t1"));
    ProcessResult second = runSecond(probe, dir_.file(L"t2"));
    EXPECT_EQ(second.exitCode, 0u);
    EXPECT_EQ(field(second.output, "semaphore"), base + "1");
    EXPECT_EQ(readFile(dir_.file(L"t1-ready")), base + "0");
    EXPECT_TRUE(contains(readLog(dir_.file(L"t2")), "semaphore name " + base + "1, code 0, value "))
        << readLog(dir_.file(L"t2"));

    // Once the first has ended its number is free again.
    first.reset();
    ProcessResult third = runSecond(probe, dir_.file(L"t3"));
    EXPECT_EQ(field(third.output, "semaphore"), base + "0");
}

TEST_F(InstanceTest, TheGlobalNamespaceAppliesToEveryNumber) {
    std::wstring probe = makeGuardProbe(guardPayload({{158, "1"}}), L"global.exe");
    const std::string base = "Global\\" + mangled(instanceKeyOf(probe));
    std::unique_ptr<RunningProcess> first = startFirst(probe, dir_.file(L"t1"));
    EXPECT_EQ(readFile(dir_.file(L"t1-ready")), base + "0");
    EXPECT_EQ(field(runSecond(probe, dir_.file(L"t2")).output, "semaphore"), base + "1");
}

TEST_F(InstanceTest, ASecondSingleInstanceHandsOverToTheFirstAndEnds) {
    std::wstring probe = makeGuardProbe(guardPayload({{10005, "1"}}), L"single.exe");
    const std::string key = instanceKeyOf(probe);
    std::unique_ptr<RunningProcess> first = startFirst(probe, dir_.file(L"t1"));
    EXPECT_EQ(readFile(dir_.file(L"t1-ready")), "Local\\" + mangled(key));
    EXPECT_EQ(recordedPid(key), first->pid());

    ProcessResult second = runSecond(probe, dir_.file(L"t2"));
    EXPECT_EQ(second.exitCode, 0u);
    // It ended inside the guard: nothing after it ran, and its own temporary directory is gone.
    EXPECT_EQ(second.output, "");
    EXPECT_EQ(listDirectory(dir_.file(L"t2")).size(), 2u); // the log and the marker file
    std::string logText = readLog(dir_.file(L"t2"));
    EXPECT_TRUE(contains(logText, "single instance mode")) << logText;
    EXPECT_TRUE(contains(logText, "code 183")) << logText;
    EXPECT_TRUE(contains(logText, "other pid " + std::to_string(first->pid()))) << logText;
    EXPECT_TRUE(contains(logText, "exiting")) << logText;
    EXPECT_FALSE(contains(logText, "found window")) << logText;
}

TEST_F(InstanceTest, AMissingPidIsAwaitedForAboutFiveSeconds) {
    std::wstring probe = makeGuardProbe(guardPayload({{10005, "1"}, {10008, "1"}}), L"nopid.exe");
    std::unique_ptr<RunningProcess> first = startFirst(probe, dir_.file(L"t1"));
    deleteRecordedPid(instanceKeyOf(probe));

    const ULONGLONG start = GetTickCount64();
    ProcessResult second = runSecond(probe, dir_.file(L"t2"));
    const ULONGLONG elapsed = GetTickCount64() - start;
    EXPECT_EQ(second.exitCode, 0u);
    EXPECT_GE(elapsed, 4500u);
    std::string logText = readLog(dir_.file(L"t2"));
    EXPECT_TRUE(contains(logText, "other pid 0")) << logText;
    EXPECT_TRUE(contains(logText, "exiting")) << logText;
}

TEST_F(InstanceTest, CopiesInDifferentDirectoriesAreDifferentPrograms) {
    createDirectory(dir_.file(L"a"));
    createDirectory(dir_.file(L"b"));
    const Payload single = guardPayload({{10005, "1"}});
    std::wstring inA = makeGuardProbe(single, L"a\\app.exe");
    std::wstring inB = makeGuardProbe(single, L"b\\app.exe");
    std::unique_ptr<RunningProcess> first = startFirst(inA, dir_.file(L"t1"));
    ProcessResult other = runSecond(inB, dir_.file(L"t2"));
    EXPECT_EQ(other.exitCode, 0u);
    EXPECT_EQ(field(other.output, "semaphore"), "Local\\" + mangled(instanceKeyOf(inB)));
    EXPECT_EQ(recordedPid(instanceKeyOf(inA)), first->pid());
}

// Needs a display: ctest runs it once more on a virtual one (InstanceWindowTest.OnAVirtualDisplay);
// everywhere else it skips.
TEST_F(InstanceTest, ASecondSingleInstanceRestoresAndRaisesTheFirstsWindows) {
    if (GetEnvironmentVariableW(L"DISPLAY", nullptr, 0) == 0) {
        GTEST_SKIP() << "no display";
    }
    std::wstring probe = makeGuardProbe(guardPayload({{10005, "1"}, {10008, "1"}}), L"windows.exe");
    const std::wstring ready = dir_.file(L"t1-ready");
    RunningProcess first(quoteArgument(probe) + L" guard 60000 " + quoteArgument(ready) + L" window",
                         optionsFor(dir_.file(L"t1")));
    ASSERT_TRUE(waitUntil(30000, [&] { return pathExists(ready); }));
    HWND window = FindWindowW(L"MorixProbeWindow", L"probe");
    ASSERT_NE(window, nullptr);
    ASSERT_TRUE(waitUntil(10000, [&] { return IsIconic(window) != FALSE; }));

    ProcessResult second = runSecond(probe, dir_.file(L"t2"));
    EXPECT_EQ(second.exitCode, 0u);
    std::string logText = readLog(dir_.file(L"t2"));
    EXPECT_TRUE(contains(logText, "other pid " + std::to_string(first.pid()))) << logText;
    for (const char* step : {"found window ", "restore", "foreground", "popup", "done", "exiting"}) {
        EXPECT_TRUE(contains(logText, step)) << step << "\n" << logText;
    }
    EXPECT_TRUE(waitUntil(10000, [&] { return IsIconic(window) == FALSE; }));
}
