// The real launcher as a service that runs a real Java application: the bridged runtime beside it, the
// Java-side runtime and a test application on its class path. Wine's service manager starts services
// with an environment of its own, which no test can change, so everything the launcher needs comes from
// its payload: the runtime as a directory beside it, the application's trace directory as an argument.
// What happened shows in the service's status, the application's traces and the processes left.
#include "service_fixture.h"

#include "common/handles.h"
#include "harness/bridged_runtime.h"
#include "harness/fake_runtime.h"

#include "morix/config_ids.h"

#include <tlhelp32.h>

#include <cstdio>

using namespace morix::test;
using morix::UniqueHandle;
using morix::UniqueServiceHandle;
using morix::payload::Payload;

namespace {

constexpr const char* kPidKey = "SOFTWARE\\quarrystone\\morix\\pids";

std::wstring imageOf(HANDLE process) {
    std::wstring image(MAX_PATH * 4, L'\0');
    DWORD size = static_cast<DWORD>(image.size());
    if (!process || !QueryFullProcessImageNameW(process, 0, image.data(), &size)) {
        return {};
    }
    image.resize(size);
    return image;
}

std::wstring imageOf(DWORD pid) {
    UniqueHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
    return imageOf(process.get());
}

bool samePath(const std::wstring& a, const std::wstring& b) {
    return CompareStringOrdinal(a.c_str(), -1, b.c_str(), -1, TRUE) == CSTR_EQUAL;
}

// The running processes whose program is `image`, with their parents.
std::vector<PROCESSENTRY32W> processesOf(const std::wstring& image) {
    std::vector<PROCESSENTRY32W> found;
    UniqueHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot) {
        return found;
    }
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot.get(), &entry); more;
         more = Process32NextW(snapshot.get(), &entry)) {
        if (samePath(imageOf(entry.th32ProcessID), image)) {
            found.push_back(entry);
        }
    }
    return found;
}

std::vector<DWORD> pidsOf(const std::vector<PROCESSENTRY32W>& processes) {
    std::vector<DWORD> pids;
    for (const PROCESSENTRY32W& process : processes) {
        pids.push_back(process.th32ProcessID);
    }
    return pids;
}

// The exit code of a process that ends within the time limit, or none.
std::optional<DWORD> exitCodeWithin(const UniqueHandle& process, DWORD timeoutMs) {
    DWORD code = 0;
    if (WaitForSingleObject(process.get(), timeoutMs) != WAIT_OBJECT_0 ||
        !GetExitCodeProcess(process.get(), &code)) {
        return std::nullopt;
    }
    return code;
}

bool serviceExists(const std::wstring& name) {
    UniqueServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    UniqueServiceHandle service(manager ? OpenServiceW(manager.get(), name.c_str(), SERVICE_QUERY_STATUS)
                                        : nullptr);
    return static_cast<bool>(service);
}

} // namespace

class JavaServiceTest : public ServiceTest {
protected:
    // The installed application: "My App\app.exe", its runtime in jre, the jars in lib.
    JavaServiceTest()
        : app_(dir_.file(L"My App")), traces_(app_ + L"\\traces"), launcher_(app_ + L"\\app.exe") {
        createDirectory(app_);
        createDirectory(traces_);
        createDirectory(app_ + L"\\lib");
        installBridgedRuntime(app_ + L"\\jre");
        for (auto [built, installed] : {std::pair{L"morix-runtime.jar", L"morix-runtime.jar"},
                                        std::pair{L"service-test-app.jar", L"service-app.jar"}}) {
            EXPECT_TRUE(CopyFileW(binFile(built).c_str(), (app_ + L"\\lib\\" + installed).c_str(), FALSE));
        }
    }

    // Every instance of the application returns from main once the release file exists; whatever runs
    // after that is ended. Then the state the runs left in the registry goes.
    ~JavaServiceTest() override {
        writeFile(traces_ + L"\\release", "");
        waitUntil(20000, [&] { return processesOf(launcher_).empty(); });
        for (const PROCESSENTRY32W& left : processesOf(launcher_)) {
            UniqueHandle process(
                OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE,
                            left.th32ProcessID));
            // Checked again through the handle: a process that ended since the snapshot gave its id away.
            if (process && samePath(imageOf(process.get()), launcher_)) {
                TerminateProcess(process.get(), 1);
                WaitForSingleObject(process.get(), 5000);
            }
        }
        deleteRegistryTree(HKEY_CURRENT_USER, versionCacheKey(app_ + L"\\jre\\bin\\java.exe"));
        std::string instanceKey = narrow(launcher_);
        for (char& c : instanceKey) {
            c = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
        }
        RegDeleteKeyValueA(HKEY_CURRENT_USER, kPidKey, instanceKey.c_str());
    }

    // The application's launcher as the service `name`, with the configuration `more` added.
    void makeApplication(const std::wstring& name, std::vector<std::pair<int32_t, std::string>> more = {}) {
        Payload p;
        p.strings = {{101, narrow(name)},
                     {128, "Rjre"},
                     {121, "D1lib\\morix-runtime.jar;D1lib\\service-app.jar"},
                     {122, "com.morix.servicetest.ServiceApp"},
                     {124, "\"" + narrow(unixPath(traces_)) + "\""}};
        p.strings.insert(p.strings.end(), more.begin(), more.end());
        p.files = {{"conf\\settings.txt", "included"}};
        p.describeIncludedFiles();
        writeLauncher(launcher_, p);
    }

    // A trace of the application, once it exists (empty after the time limit).
    std::string awaitTrace(const std::wstring& name, DWORD timeoutMs = 60000) {
        const std::wstring path = traces_ + L"\\" + name;
        waitUntil(timeoutMs, [&] { return pathExists(path); });
        return readFile(path);
    }

    // The service's child: the process of the launcher that is not the host; 0 unless there are just the two.
    DWORD childOf(const std::wstring& name) {
        const DWORD hostPid = queryStatus(name).dwProcessId;
        std::vector<PROCESSENTRY32W> running = processesOf(launcher_);
        if (running.size() != 2) {
            return 0;
        }
        return running[0].th32ProcessID == hostPid ? running[1].th32ProcessID : running[0].th32ProcessID;
    }

    std::wstring app_;
    std::wstring traces_;
    std::wstring launcher_;
};

TEST_F(JavaServiceTest, TheServiceRunsTheApplicationAndAStopRunsItsShutdownHooksLeavingNothingBehind) {
    const std::wstring name = uniqueName();
    const std::string n = narrow(name);
    makeApplication(name);
    ProcessResult install = run(launcher_, L"/install");
    ASSERT_EQ(install.output, "Installed service '" + n + "'.\n");

    // Start parameters travel through the manager, the host and the child's command line to main.
    ProcessResult start = run(launcher_, L"/start " + name + L" x \"y z\"");
    ASSERT_EQ(start.output, "Starting service '" + n + "'.\n");
    ASSERT_EQ(awaitTrace(L"service-started.txt"), "args=[x, y z]\n");
    const std::wstring tempDir = wide(awaitTrace(L"service-temp.txt"));
    const std::wstring marker = tempDir.substr(0, tempDir.rfind(L"_dir"));
    EXPECT_TRUE(pathExists(tempDir + L"\\conf\\settings.txt")) << narrow(tempDir);
    EXPECT_TRUE(pathExists(marker)) << narrow(marker);
    ProcessResult status = run(launcher_, L"/status");
    EXPECT_EQ(status.output, "Running.\n");
    EXPECT_EQ(status.exitCode, 0u);

    // Two processes of the launcher: the host that the manager started and the child that runs Java.
    const DWORD hostPid = queryStatus(name).dwProcessId;
    std::vector<PROCESSENTRY32W> running = processesOf(launcher_);
    ASSERT_EQ(running.size(), 2u);
    const PROCESSENTRY32W& child = running[0].th32ProcessID == hostPid ? running[1] : running[0];
    EXPECT_EQ(child.th32ParentProcessID, hostPid);
    UniqueHandle host(OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, hostPid));
    UniqueHandle javaChild(
        OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, child.th32ProcessID));
    ASSERT_TRUE(host && javaChild);

    ProcessResult stop = run(launcher_, L"/stop");
    EXPECT_EQ(stop.output, "Stopping service '" + n + "'.\nService stopped\n");
    EXPECT_EQ(stop.exitCode, 0u);
    EXPECT_EQ(awaitTrace(L"service-stopped.txt", 20000), "shutdown hook ran\n");
    EXPECT_EQ(exitCodeWithin(javaChild, 20000), std::optional<DWORD>(0));
    EXPECT_EQ(exitCodeWithin(host, 20000), std::optional<DWORD>(0));
    EXPECT_TRUE(waitUntil(10000, [&] { return !pathExists(tempDir) && !pathExists(marker); }));
    status = run(launcher_, L"/status");
    EXPECT_EQ(status.output, "Not running.\n");
    EXPECT_EQ(status.exitCode, 3u);

    ProcessResult uninstall = run(launcher_, L"/uninstall");
    EXPECT_EQ(uninstall.output, "Service is already stopped.\nUninstalled service '" + n + "'.\n");
    EXPECT_EQ(uninstall.exitCode, 0u);
    EXPECT_TRUE(waitUntil(10000, [&] { return !serviceExists(name); }));
    EXPECT_TRUE(processesOf(launcher_).empty());
}

// Global\ as a real installation needs it: on Windows a service runs in a session of its own, apart from
// the users' Local\ namespaces (Wine runs both in one session).
TEST_F(JavaServiceTest, ASingleInstanceServiceStopsAtOnceWhileAnotherInstanceRuns) {
    const std::wstring name = uniqueName();
    makeApplication(name, {{10005, "1"}, {158, "1"}});
    ProcessOptions options;
    options.environment = {{L"TMP", tmp_}, {L"TEMP", tmp_}, {L"MORIX_LOG", L"yes"}};
    RunningProcess first(quoteArgument(launcher_) + L" /run first", options);
    ASSERT_EQ(awaitTrace(L"run-started.txt"), "args=[first]\n");

    ASSERT_EQ(run(launcher_, L"/install").exitCode, 0u);
    ASSERT_EQ(run(launcher_, L"/start").exitCode, 0u);
    // The host reports stopped by itself only for a child that ended with 0: no stop was asked for.
    ASSERT_TRUE(waitForState(name, SERVICE_STOPPED));
    SERVICE_STATUS_PROCESS status = queryStatus(name);
    EXPECT_EQ(status.dwWin32ExitCode, 0u);
    EXPECT_EQ(status.dwServiceSpecificExitCode, 0u);
    EXPECT_TRUE(
        waitUntil(10000, [&] { return pidsOf(processesOf(launcher_)) == std::vector<DWORD>{first.pid()}; }));
    EXPECT_FALSE(pathExists(traces_ + L"\\service-started.txt"));
    EXPECT_EQ(run(launcher_, L"/status").output, "Not running.\n");

    // Alone, the same service runs the application.
    writeFile(traces_ + L"\\release", "");
    EXPECT_EQ(first.wait(30000).exitCode, 0u);
    DeleteFileW((traces_ + L"\\release").c_str());
    ASSERT_EQ(run(launcher_, L"/start").exitCode, 0u);
    EXPECT_EQ(awaitTrace(L"service-started.txt"), "args=[]\n");
    EXPECT_EQ(run(launcher_, L"/stop").output, "Stopping service '" + narrow(name) + "'.\nService stopped\n");
    EXPECT_EQ(awaitTrace(L"service-stopped.txt", 20000), "shutdown hook ran\n");
}

TEST_F(JavaServiceTest, AStopWhoseShutdownHookNeverReturnsEndsWithinTheBoundAndTheServiceIsStopped) {
    const std::wstring name = uniqueName();
    makeApplication(name,
                    {{123, "-Dmorix.stopTimeout=3"}, {104, "1"}, {105, narrow(traces_ + L"\\err.txt")}});
    ASSERT_EQ(run(launcher_, L"/install").exitCode, 0u);
    ASSERT_EQ(run(launcher_, L"/start " + name + L" hang-hook").exitCode, 0u);
    ASSERT_EQ(awaitTrace(L"service-started.txt"), "args=[hang-hook]\n");
    const std::wstring tempDir = wide(awaitTrace(L"service-temp.txt"));
    UniqueHandle javaChild(
        OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, childOf(name)));
    ASSERT_TRUE(javaChild);

    const ULONGLONG start = GetTickCount64();
    ProcessResult stop = run(launcher_, L"/stop");
    const ULONGLONG milliseconds = GetTickCount64() - start;
    const ULONGLONG seconds = milliseconds / 1000;
    std::printf("the stop with a hanging hook took %llu ms (bound 3 s)\n", milliseconds);
    EXPECT_EQ(stop.output, "Stopping service '" + narrow(name) + "'.\nService stopped\n");
    EXPECT_GE(seconds, 2u);
    EXPECT_LE(seconds, 3u + 5u); // the bound and a margin for the polling and the halt
    EXPECT_EQ(queryStatus(name).dwCurrentState, static_cast<DWORD>(SERVICE_STOPPED));
    EXPECT_EQ(awaitTrace(L"service-stopped.txt", 1000), "shutdown hook ran\n");
    EXPECT_EQ(exitCodeWithin(javaChild, 5000), std::optional<DWORD>(124));
    const std::string errors = readFile(traces_ + L"\\err.txt");
    EXPECT_TRUE(contains(errors, "did not end within 3 s of the stop request; halting with exit code 124"))
        << errors;
    EXPECT_TRUE(contains(errors, "\"service-app-hook\"")) << errors;
    EXPECT_TRUE(contains(errors, "com.morix.servicetest.ServiceApp.sleep(")) << errors;
    // The halt ends the process through the same exit path: its directory goes too.
    EXPECT_TRUE(waitUntil(10000, [&] { return !pathExists(tempDir); })) << narrow(tempDir);
}

// The end of the host's pipe is a stop too: a child whose host was killed ends and leaves nothing.
TEST_F(JavaServiceTest, AChildWhoseHostIsKilledStopsAndRemovesItsTemporaryDirectory) {
    const std::wstring name = uniqueName();
    makeApplication(name);
    ASSERT_EQ(run(launcher_, L"/install").exitCode, 0u);
    ASSERT_EQ(run(launcher_, L"/start").exitCode, 0u);
    ASSERT_EQ(awaitTrace(L"service-started.txt"), "args=[]\n");
    const std::wstring tempDir = wide(awaitTrace(L"service-temp.txt"));
    const DWORD hostPid = queryStatus(name).dwProcessId;
    UniqueHandle javaChild(
        OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, childOf(name)));
    UniqueHandle host(OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, hostPid));
    ASSERT_TRUE(javaChild && host);

    ASSERT_TRUE(TerminateProcess(host.get(), 1));
    EXPECT_EQ(exitCodeWithin(javaChild, 20000), std::optional<DWORD>(0));
    EXPECT_EQ(awaitTrace(L"service-stopped.txt", 5000), "shutdown hook ran\n");
    EXPECT_TRUE(waitUntil(10000, [&] { return !pathExists(tempDir); })) << narrow(tempDir);
}

// A VM that no longer reads the stop line never starts its own time limit: the host's bound ends it.
TEST_F(JavaServiceTest, AnApplicationThatNoLongerReadsTheStopLineIsEndedAtTheHostsBound) {
    const std::wstring name = uniqueName();
    makeApplication(name, {{123, "-Dmorix.stopTimeout=2"}});
    ASSERT_EQ(run(launcher_, L"/install").exitCode, 0u);
    ASSERT_EQ(run(launcher_, L"/start " + name + L" deaf").exitCode, 0u);
    ASSERT_EQ(awaitTrace(L"service-started.txt"), "args=[deaf]\n");
    const std::wstring tempDir = wide(awaitTrace(L"service-temp.txt"));
    UniqueHandle javaChild(
        OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, childOf(name)));
    ASSERT_TRUE(javaChild);

    const ULONGLONG start = GetTickCount64();
    ProcessResult stop = run(launcher_, L"/stop", {}, 120000);
    const ULONGLONG milliseconds = GetTickCount64() - start;
    std::printf("the stop of an application deaf to it took %llu ms (bound 2 s + 10 s)\n", milliseconds);
    EXPECT_EQ(stop.output, "Stopping service '" + narrow(name) + "'.\nService stopped\n");
    EXPECT_GE(milliseconds, 11000u);
    EXPECT_LE(milliseconds, 12000u + 8000u);
    SERVICE_STATUS_PROCESS status = queryStatus(name);
    EXPECT_EQ(status.dwCurrentState, static_cast<DWORD>(SERVICE_STOPPED));
    EXPECT_EQ(status.dwWin32ExitCode, static_cast<DWORD>(ERROR_SERVICE_SPECIFIC_ERROR));
    EXPECT_EQ(status.dwServiceSpecificExitCode, 5001u);
    EXPECT_EQ(exitCodeWithin(javaChild, 5000), std::optional<DWORD>(5001));
    EXPECT_FALSE(pathExists(traces_ + L"\\service-stopped.txt")); // ended from outside: no hook ran
    // The host removes what the ended child could not.
    EXPECT_TRUE(waitUntil(10000, [&] { return !pathExists(tempDir); })) << narrow(tempDir);
}

// The same launcher as a console tool and as the service: from a console, arguments without a command
// word run the application in process; the manager's start still makes it the service, and the start
// parameters reach main exactly, whatever quoting they need.
TEST_F(JavaServiceTest, AConsoleToolLauncherStillServesAndAwkwardStartParametersReachMainUnchanged) {
    const std::wstring name = uniqueName();
    makeApplication(name, {{morix::ids::kRunWithoutCommand, "1"}});
    writeFile(traces_ + L"\\release", "");
    ProcessResult direct = run(launcher_, L"plain \"two words\"", {}, 120000);
    EXPECT_EQ(direct.exitCode, 0u) << direct.errors;
    EXPECT_EQ(awaitTrace(L"run-started.txt", 1000), "args=[plain, two words]\n");
    DeleteFileW((traces_ + L"\\release").c_str());

    ASSERT_EQ(run(launcher_, L"/install").exitCode, 0u);
    // No empty parameter: Wine's service manager passes the parameters as a list that an empty one ends
    // (the child's line carries one, as the unit test of the host's quoting shows).
    ProcessResult start = run(launcher_, L"/start " + name +
                                             L" \"C:\\dir\\\\\" \"say \\\"hi\\\"\" don't \"tab\there\" "
                                             L"gr\u00fc\u00df \"a\\\\\\\"b\"");
    ASSERT_EQ(start.exitCode, 0u) << start.output;
    EXPECT_EQ(awaitTrace(L"service-started.txt"),
              "args=[C:\\dir\\, say \"hi\", don't, tab\there, gr\xC3\xBC\xC3\x9F, a\\\"b]\n");
    EXPECT_EQ(run(launcher_, L"/stop").output, "Stopping service '" + narrow(name) + "'.\nService stopped\n");
    EXPECT_EQ(awaitTrace(L"service-stopped.txt", 20000), "shutdown hook ran\n");
    EXPECT_EQ(run(launcher_, L"/uninstall").exitCode, 0u);
}
