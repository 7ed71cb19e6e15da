// The single-instance guard: numbered semaphores per running copy, or one instance that a second start
// hands over to. Each test uses launchers at paths of its own, so tests never see each other's instances.
#include "launcher_fixture.h"

#include <memory>
#include <optional>

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
        c = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    }
    return key;
}

std::string semaphoreBase(const std::string& prefix, const std::wstring& launcher) {
    std::string name = prefix;
    for (char c : instanceKeyOf(launcher)) {
        name += c == '\\' || c == ' ' ? '_' : c;
    }
    return name;
}

std::optional<DWORD> recordedPid(const std::string& key) {
    DWORD pid = 0;
    DWORD size = sizeof pid;
    LONG status =
        RegGetValueA(HKEY_CURRENT_USER, kPidKey, key.c_str(), RRF_RT_REG_DWORD, nullptr, &pid, &size);
    return status == ERROR_SUCCESS ? std::optional<DWORD>(pid) : std::nullopt;
}

} // namespace

class InstanceTest : public LauncherTest {
protected:
    ~InstanceTest() override {
        for (const std::string& key : keys_) {
            RegDeleteKeyValueA(HKEY_CURRENT_USER, kPidKey, key.c_str());
        }
    }

    std::wstring makeGuardProbe(const Payload& payload, const std::wstring& name) {
        std::wstring probe = makeProbe(payload, name);
        keys_.push_back(instanceKeyOf(probe));
        return probe;
    }

    // Each process gets a temporary root (and so a log) of its own: dir_\<tmp>.
    ProcessOptions optionsFor(const std::wstring& tmp) {
        createDirectory(dir_.file(tmp));
        ProcessOptions options;
        options.environment = {{L"TMP", dir_.file(tmp)}, {L"TEMP", dir_.file(tmp)}, {L"MORIX_LOG", L"yes"}};
        options.timeoutMs = 30000;
        return options;
    }

    // A first instance that holds its semaphore until it is killed; returns once its guard has run.
    std::unique_ptr<RunningProcess> startFirst(const std::wstring& probe, const std::wstring& extra = L"") {
        const std::wstring ready = dir_.file(L"ready");
        DeleteFileW(ready.c_str());
        auto process = std::make_unique<RunningProcess>(
            quoteArgument(probe) + L" guard 60000 " + quoteArgument(ready) + extra, optionsFor(L"t1"));
        EXPECT_TRUE(waitUntil(30000, [&] { return pathExists(ready); }));
        return process;
    }

    ProcessResult runSecond(const std::wstring& probe, const std::wstring& tmp) {
        return runProcess(quoteArgument(probe) + L" guard 0", optionsFor(tmp));
    }

    std::vector<std::string> keys_;
};

TEST_F(InstanceTest, NormalModeNumbersTheRunningInstancesInTheirNamespace) {
    std::wstring probe = makeGuardProbe(guardPayload({}), L"My Probe.exe");
    const std::string base = semaphoreBase("Local\\", probe);
    std::unique_ptr<RunningProcess> first = startFirst(probe);
    EXPECT_EQ(readFile(dir_.file(L"ready")), base + "0");
    ProcessResult second = runSecond(probe, L"t2");
    EXPECT_EQ(outputField(second.output, "semaphore"), base + "1");
    EXPECT_TRUE(contains(readLog(dir_.file(L"t2")), "semaphore name " + base + "1, code 0, value "));
    // Once the first has ended its number is free again.
    first.reset();
    EXPECT_EQ(outputField(runSecond(probe, L"t3").output, "semaphore"), base + "0");

    std::wstring global = makeGuardProbe(guardPayload({{158, "1"}}), L"global.exe");
    first = startFirst(global);
    EXPECT_EQ(readFile(dir_.file(L"ready")), semaphoreBase("Global\\", global) + "0");
    EXPECT_EQ(outputField(runSecond(global, L"t4").output, "semaphore"),
              semaphoreBase("Global\\", global) + "1");
}

TEST_F(InstanceTest, ASecondSingleInstanceHandsOverToTheFirstAndEnds) {
    std::wstring probe = makeGuardProbe(guardPayload({{10005, "1"}}), L"single.exe");
    std::unique_ptr<RunningProcess> first = startFirst(probe);
    EXPECT_EQ(readFile(dir_.file(L"ready")), semaphoreBase("Local\\", probe));
    EXPECT_EQ(recordedPid(instanceKeyOf(probe)), first->pid());

    ProcessResult second = runSecond(probe, L"t2");
    EXPECT_EQ(second.exitCode, 0u);
    // It ended inside the guard: nothing after it ran, and its own temporary directory and marker are gone.
    EXPECT_EQ(second.output, "");
    EXPECT_EQ(listDirectory(dir_.file(L"t2")), std::vector<std::wstring>{L"vrk_nlog_1.log"});
    std::string logText = readLog(dir_.file(L"t2"));
    EXPECT_TRUE(contains(logText, "other pid " + std::to_string(first->pid()) + "\n")) << logText;
    EXPECT_TRUE(contains(logText, "exiting")) << logText;

    // Without the first's pid a second waits about five seconds for it, then ends all the same.
    RegDeleteKeyValueA(HKEY_CURRENT_USER, kPidKey, instanceKeyOf(probe).c_str());
    const ULONGLONG start = GetTickCount64();
    EXPECT_EQ(runSecond(probe, L"t3").exitCode, 0u);
    EXPECT_GE(GetTickCount64() - start, 4500u);
    EXPECT_TRUE(contains(readLog(dir_.file(L"t3")), "other pid 0\n")) << readLog(dir_.file(L"t3"));

    // Another copy of the same program in another directory is another program.
    createDirectory(dir_.file(L"b"));
    std::wstring copy = makeGuardProbe(guardPayload({{10005, "1"}}), L"b\\single.exe");
    EXPECT_EQ(outputField(runSecond(copy, L"t4").output, "semaphore"), semaphoreBase("Local\\", copy));
}

// Needs a display: ctest runs it once more on a virtual one (InstanceTest.WindowsOnAVirtualDisplay);
// everywhere else it skips.
TEST_F(InstanceTest, ASecondSingleInstanceRestoresAndRaisesTheFirstsWindows) {
    if (GetEnvironmentVariableW(L"DISPLAY", nullptr, 0) == 0) {
        GTEST_SKIP() << "no display";
    }
    std::wstring probe = makeGuardProbe(guardPayload({{10005, "1"}, {10008, "1"}}), L"windows.exe");
    std::unique_ptr<RunningProcess> first = startFirst(probe, L" window");
    HWND window = FindWindowW(L"MorixProbeWindow", L"probe");
    ASSERT_NE(window, nullptr);
    ASSERT_TRUE(waitUntil(10000, [&] { return IsIconic(window) != FALSE; }));

    EXPECT_EQ(runSecond(probe, L"t2").exitCode, 0u);
    std::string logText = readLog(dir_.file(L"t2"));
    for (const char* step : {"found window ", "restore", "foreground", "popup", "done", "exiting"}) {
        EXPECT_TRUE(contains(logText, step)) << step << "\n" << logText;
    }
    EXPECT_TRUE(waitUntil(10000, [&] { return IsIconic(window) == FALSE; }));
}
