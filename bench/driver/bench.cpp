// The start-up and service figures of the benchmark suite, measured from inside Wine: every program runs
// as a Windows process of this one, timed from CreateProcessW to its end, with its output discarded.
// usage: morix-bench.exe WORK_DIRECTORY PAIRS [applications | compare COMMAND_A COMMAND_B]
// (bench/run lays out the directory and runs this; "applications" measures only the real applications,
// "compare" two command lines of one's own, run in the work directory, for finding where time goes)
#include "common/handles.h"
#include "figures.h"
#include "harness/loopback.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <windows.h>

#include <psapi.h>
#include <tlhelp32.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

using namespace morix;
using namespace morix::bench;
using morix::test::freeLoopbackPort;
using morix::test::loopbackAccepts;

namespace {

constexpr DWORD kProcessTimeoutMs = 120000;
constexpr DWORD kServiceTimeoutMs = 60000;
constexpr const wchar_t* kVersionCacheKey = L"Software\\quarrystone\\morix\\jvms";
constexpr const wchar_t* kFloorService = L"MorixBenchFloor";
constexpr const wchar_t* kLauncherService = L"MorixBenchService";

std::wstring work;
int pairCount = 0;

double nowMs() {
    static LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
}

std::wstring path(const std::wstring& name) {
    return work + L"\\" + name;
}

bool exists(const std::wstring& file) {
    return GetFileAttributesW(file.c_str()) != INVALID_FILE_ATTRIBUTES;
}

struct Run {
    bool ok = false;
    double ms = 0;
    DWORD exitCode = 0;
};

struct Started {
    UniqueHandle process;
    UniqueHandle thread;
    double start = 0;
};

// Starts the command line with its standard handles on NUL.
std::optional<Started> start(std::wstring commandLine) {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    UniqueHandle nul(CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                 &inherit, OPEN_EXISTING, 0, nullptr));
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = startup.hStdOutput = startup.hStdError = nul.get();
    PROCESS_INFORMATION info{};
    Started started;
    started.start = nowMs();
    if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr, work.c_str(),
                        &startup, &info)) {
        std::printf("  could not start %ls (error %lu)\n", commandLine.c_str(), GetLastError());
        return std::nullopt;
    }
    started.process.reset(info.hProcess);
    started.thread.reset(info.hThread);
    return started;
}

// Waits for the end of a started program (at most two minutes; then it is ended).
bool finish(Started& started, const std::wstring& commandLine, DWORD pollMs = kProcessTimeoutMs,
            const std::function<void()>& onPoll = {}) {
    const ULONGLONG end = GetTickCount64() + kProcessTimeoutMs;
    for (;;) {
        const DWORD wait = WaitForSingleObject(started.process.get(), pollMs);
        if (wait == WAIT_OBJECT_0) {
            return true;
        }
        if (wait != WAIT_TIMEOUT || GetTickCount64() >= end) {
            TerminateProcess(started.process.get(), 1);
            WaitForSingleObject(started.process.get(), 5000);
            std::printf("  %ls did not end in time\n", commandLine.c_str());
            return false;
        }
        if (onPoll) {
            onPoll();
        }
    }
}

Run runTimed(const std::wstring& commandLine) {
    Run run;
    std::optional<Started> started = start(commandLine);
    if (!started || !finish(*started, commandLine)) {
        return run;
    }
    run.ms = nowMs() - started->start;
    GetExitCodeProcess(started->process.get(), &run.exitCode);
    run.ok = true;
    return run;
}

// The peak working set in MB, as the process reports it while it runs (an ended process reports nothing
// under Wine): sampled every two milliseconds, in runs of its own that are not timed.
double peakWorkingSetMb(const std::wstring& commandLine) {
    std::optional<Started> started = start(commandLine);
    SIZE_T peak = 0;
    if (started) {
        finish(*started, commandLine, 2, [&] {
            PROCESS_MEMORY_COUNTERS memory{};
            memory.cb = sizeof memory;
            if (GetProcessMemoryInfo(started->process.get(), &memory, sizeof memory)) {
                peak = std::max(peak, memory.PeakWorkingSetSize);
            }
        });
    }
    return static_cast<double>(peak) / (1024.0 * 1024.0);
}

std::vector<double> peaksOf(const std::wstring& commandLine) {
    std::vector<double> peaks;
    for (int i = 0; i < std::min(pairCount, 5); ++i) {
        if (double peak = peakWorkingSetMb(commandLine); peak > 0) {
            peaks.push_back(peak);
        }
    }
    return peaks;
}

std::wstring quoted(const std::wstring& text) {
    return L"\"" + text + L"\"";
}

void forgetVersions() {
    RegDeleteTreeW(HKEY_CURRENT_USER, kVersionCacheKey);
}

using Runner = std::function<Run(const std::wstring&)>;

// Runs A and B alternately, pairCount times after one unmeasured round, each preceded by its set-up.
Pairs measurePairs(const std::wstring& a, const std::wstring& b, const std::function<void()>& setUpA = {},
                   const std::function<void()>& setUpB = {}, const Runner& run = runTimed) {
    Pairs pairs;
    for (int i = -1; i < pairCount; ++i) {
        if (setUpA) {
            setUpA();
        }
        const Run runA = run(a);
        if (setUpB) {
            setUpB();
        }
        const Run runB = run(b);
        if (i < 0 || !runA.ok || !runB.ok) {
            continue;
        }
        pairs.add(runA.ms, runB.ms);
    }
    return pairs;
}

std::string readText(const std::wstring& file) {
    std::ifstream in(std::filesystem::path(file), std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

size_t occurrences(const std::string& text, const std::string& what) {
    size_t count = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + what.size())) {
        ++count;
    }
    return count;
}

// One logged run in a log directory of its own: how often the launcher ran java.exe -version.
size_t javaExeRuns(const std::wstring& commandLine, const std::wstring& logDirectory) {
    CreateDirectoryW(logDirectory.c_str(), nullptr);
    const std::wstring logFile = logDirectory + L"\\vrk_nlog_1.log";
    DeleteFileW(logFile.c_str());
    SetEnvironmentVariableW(L"MORIX_LOG", L"yes");
    SetEnvironmentVariableW(L"TMP", logDirectory.c_str());
    SetEnvironmentVariableW(L"TEMP", logDirectory.c_str());
    runTimed(commandLine);
    SetEnvironmentVariableW(L"MORIX_LOG", nullptr);
    SetEnvironmentVariableW(L"TMP", path(L"tmp").c_str());
    SetEnvironmentVariableW(L"TEMP", path(L"tmp").c_str());
    return occurrences(readText(logFile), "got version from execution");
}

// The JVM inside the bridged runtime is Linux's: options that name files take Unix paths. The work
// directory is on drive Z:, the root of the Unix file system.
std::wstring unixPath(const std::wstring& windowsPath) {
    std::wstring text =
        windowsPath.size() >= 2 && windowsPath[1] == L':' ? windowsPath.substr(2) : windowsPath;
    for (wchar_t& c : text) {
        if (c == L'\\') {
            c = L'/';
        }
    }
    return text;
}

std::wstring floorJvm(const std::wstring& options, const std::wstring& classPath,
                      const std::wstring& mainClass) {
    return quoted(path(L"floor-jvm.exe")) + L" " + options + (options.empty() ? L"" : L" ") +
           quoted(path(L"jre\\bin\\server\\jvm.dll")) + L" " + quoted(classPath) + L" " + mainClass;
}

// --- classes loaded before main ---

// The classes a run loads before the first line of com.morix.bench.FirstLine's main: the lines of its
// class-load log before the one of the class that main loads first. -1 when the log has no such line.
long classesBeforeMain(const std::wstring& commandLine, const std::wstring& logFile) {
    DeleteFileW(logFile.c_str());
    runTimed(commandLine);
    std::istringstream log(readText(logFile));
    long count = 0;
    for (std::string line; std::getline(log, line); ++count) {
        if (line.find(" com.morix.bench.FirstLine$Reached ") != std::string::npos) {
            return count;
        }
    }
    return -1;
}

void classCountFigures() {
    const std::wstring classPath = path(L"lib\\morix-runtime.jar") + L";" + path(L"lib\\bench.jar");
    auto logOption = [](const wchar_t* name) { return L"-J-Xlog:class+load:file=" + unixPath(path(name)); };
    const long direct =
        classesBeforeMain(floorJvm(logOption(L"classes-direct.log"), classPath, L"com/morix/bench/FirstLine"),
                          path(L"classes-direct.log"));
    const long javaSide = classesBeforeMain(
        floorJvm(
            logOption(L"classes-java-side.log"), classPath,
            L"com/morix/runtime/WinLauncher false com.morix.bench.FirstLine \"\" \"\" false floor-jvm.exe"),
        path(L"classes-java-side.log"));
    // firstline.exe logs to classes-launcher.log by its own configuration.
    const long launcher =
        classesBeforeMain(quoted(path(L"firstline.exe")) + L" /run", path(L"classes-launcher.log"));
    auto more = [direct](long count) {
        return std::to_string(count) + " (" + (count >= direct ? "+" : "") + std::to_string(count - direct) +
               ")";
    };
    printNote("classes loaded before main: direct call " + std::to_string(direct) +
              ", through the Java side " + more(javaSide) + ", launcher /run " + more(launcher));
}

// --- the real applications ---

// Ends a server and waits until its port is closed: under Wine the process can be reported ended while
// the Linux JVM inside still listens, and the next run would find the port open at once.
void endServer(Started& server, int port) {
    TerminateProcess(server.process.get(), 0);
    WaitForSingleObject(server.process.get(), 5000);
    const ULONGLONG end = GetTickCount64() + 10000;
    while (loopbackAccepts(port) && GetTickCount64() < end) {
        Sleep(5);
    }
}

// Times a server from its start until its port accepts a connection, then ends it. Its end is not timed.
Run runUntilListening(const std::wstring& commandLine, int port) {
    Run run;
    std::optional<Started> started = start(commandLine);
    if (!started) {
        return run;
    }
    const ULONGLONG end = GetTickCount64() + kProcessTimeoutMs;
    while (!loopbackAccepts(port)) {
        if (WaitForSingleObject(started->process.get(), 2) == WAIT_OBJECT_0 || GetTickCount64() >= end) {
            std::printf("  %ls ended or did not listen in time\n", commandLine.c_str());
            endServer(*started, port);
            return run;
        }
    }
    run.ms = nowMs() - started->start;
    run.ok = true;
    endServer(*started, port);
    return run;
}

std::string megabytes(const std::wstring& file) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExW(file.c_str(), GetFileExInfoStandard, &data)) {
        return "missing";
    }
    const double size =
        static_cast<double>((static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow);
    char text[32];
    std::snprintf(text, sizeof text, "%.1f MB", size / (1024.0 * 1024.0));
    return text;
}

// Runs an H2 server until it listens, then ends it through its own shutdown command, so that its VM ends
// normally and writes the class-data archive it was asked for.
void runH2ToItsShutdown(const std::wstring& commandLine, const std::wstring& h2Jar, int port) {
    std::optional<Started> dumping = start(commandLine);
    if (!dumping) {
        return;
    }
    const ULONGLONG end = GetTickCount64() + kProcessTimeoutMs;
    while (!loopbackAccepts(port) && GetTickCount64() < end &&
           WaitForSingleObject(dumping->process.get(), 5) == WAIT_TIMEOUT) {
    }
    runTimed(floorJvm(L"", h2Jar,
                      L"org/h2/tools/Server -tcpShutdown tcp://localhost:" + std::to_wstring(port) +
                          L" -tcpPassword bench"));
    finish(*dumping, L"the H2 server that dumps its archive");
}

// The launchers with [jvm] class_data_sharing: the first run makes the archive in the user's cache, the
// measured ones use it. Against the floor program without an archive (the target), and against the same
// launcher without the key.
void launcherClassDataFigures(const std::wstring& floorRhino, const std::wstring& rhino,
                              const std::wstring& floorH2, const std::wstring& h2Arguments, int port,
                              const Runner& untilListening) {
    const std::wstring rhinoShared = quoted(path(L"rhino-cds.exe")) + L" /run script.js";
    runTimed(rhinoShared);
    runTimed(rhinoShared);
    printPairs("Rhino script: launcher with CDS key vs floor jvm", measurePairs(floorRhino, rhinoShared));
    printPairs("Rhino script: launcher with CDS key vs without", measurePairs(rhino, rhinoShared));

    const std::wstring h2 = quoted(path(L"h2.exe")) + L" /run" + h2Arguments;
    const std::wstring h2Shared = quoted(path(L"h2-cds.exe")) + L" /run" + h2Arguments;
    runH2ToItsShutdown(h2Shared, path(L"lib\\h2.jar"), port);
    printPairs("H2 server: launcher with CDS key vs floor jvm",
               measurePairs(floorH2, h2Shared, {}, {}, untilListening));
    printPairs("H2 server: launcher with CDS key vs without",
               measurePairs(h2, h2Shared, {}, {}, untilListening));
}

// Rhino's shell running a small script, and the H2 server until its port accepts a connection: through
// the launcher and through the floor program calling the same main class. Then the floor program with
// and without a dynamic class-data archive of the application, made by one run of its own, and the
// launcher with its own archive.
void realApplicationFigures() {
    const std::wstring rhinoMain = L"org/mozilla/javascript/tools/shell/Main script.js";
    const std::wstring rhinoArchive = unixPath(path(L"rhino.jsa"));
    const std::wstring floorRhino = floorJvm(L"", path(L"lib\\js.jar"), rhinoMain);
    const std::wstring rhino = quoted(path(L"rhino.exe")) + L" /run script.js";
    runTimed(rhino);
    printPairs("Rhino script: launcher /run vs floor jvm program", measurePairs(floorRhino, rhino));

    const int port = freeLoopbackPort();
    const std::wstring h2Arguments =
        L" -tcp -tcpPort " + std::to_wstring(port) + L" -tcpPassword bench -baseDir ./data";
    const Runner untilListening = [port](const std::wstring& commandLine) {
        return runUntilListening(commandLine, port);
    };
    const std::wstring floorH2 = floorJvm(L"", path(L"lib\\h2.jar"), L"org/h2/tools/Server" + h2Arguments);
    const std::wstring h2 = quoted(path(L"h2.exe")) + L" /run" + h2Arguments;
    printPairs("H2 server listening: launcher /run vs floor jvm",
               measurePairs(floorH2, h2, {}, {}, untilListening));

    // Class-data sharing: the archive is dumped at the end of one run, so the H2 server is stopped
    // through its own shutdown command for it.
    runTimed(floorJvm(L"-J-XX:ArchiveClassesAtExit=" + rhinoArchive, path(L"lib\\js.jar"), rhinoMain));
    const std::wstring h2Archive = unixPath(path(L"h2.jsa"));
    runH2ToItsShutdown(floorJvm(L"-J-XX:ArchiveClassesAtExit=" + h2Archive, path(L"lib\\h2.jar"),
                                L"org/h2/tools/Server" + h2Arguments),
                       path(L"lib\\h2.jar"), port);
    printNote("application class-data archives: Rhino " + megabytes(path(L"rhino.jsa")) + ", H2 " +
              megabytes(path(L"h2.jsa")));
    printPairs("Rhino script, floor jvm: app CDS archive vs none",
               measurePairs(floorRhino, floorJvm(L"-J-XX:SharedArchiveFile=" + rhinoArchive,
                                                 path(L"lib\\js.jar"), rhinoMain)));
    printPairs("H2 server, floor jvm: app CDS archive vs none",
               measurePairs(floorH2,
                            floorJvm(L"-J-XX:SharedArchiveFile=" + h2Archive, path(L"lib\\h2.jar"),
                                     L"org/h2/tools/Server" + h2Arguments),
                            {}, {}, untilListening));
    launcherClassDataFigures(floorRhino, rhino, floorH2, h2Arguments, port, untilListening);
}

void startUpFigures() {
    const std::wstring hello = quoted(path(L"hello.exe"));
    const std::wstring console = quoted(path(L"floor-console.exe"));
    const bool haveJava = exists(path(L"jre\\bin\\server\\jvm.dll"));

    printPairs("/help: launcher vs minimal console", measurePairs(console, hello + L" /help"));
    printPairs("/status (stopped service): launcher vs minimal console",
               measurePairs(console, quoted(path(L"service.exe")) + L" /status"));
    printSpread("peak working set: minimal console program", peaksOf(console), "MB");
    printSpread("peak working set: launcher /help", peaksOf(hello + L" /help"), "MB");
    if (!haveJava) {
        printNote("no bridged runtime in this build: the Java figures are left out");
        return;
    }
    const std::wstring floor = floorJvm(L"", path(L"lib\\bench.jar"), L"com/morix/bench/Hello");
    runTimed(hello + L" /run"); // fills the version cache
    printPairs("hello world: launcher /run vs floor jvm program", measurePairs(floor, hello + L" /run"));
    const std::wstring classPath = path(L"lib\\morix-runtime.jar") + L";" + path(L"lib\\bench.jar");
    printPairs("hello world: Java side in the payload vs beside",
               measurePairs(hello + L" /run", quoted(path(L"hello-included.exe")) + L" /run"));
    printPairs(
        "hello world, floor jvm: Java side vs direct call",
        measurePairs(floorJvm(L"", classPath, L"com/morix/bench/Hello"),
                     floorJvm(L"", classPath,
                              L"com/morix/runtime/WinLauncher false com.morix.bench.Hello \"\" \"\" false "
                              L"floor-jvm.exe")));
    classCountFigures();
    printPairs("hello world: version cache cold vs warm",
               measurePairs(hello + L" /run", hello + L" /run", {}, forgetVersions));
    runTimed(hello + L" /run");
    const size_t warm = javaExeRuns(hello + L" /run", path(L"log-warm"));
    forgetVersions();
    const size_t cold = javaExeRuns(hello + L" /run", path(L"log-cold"));
    printNote("java.exe -version runs: warm " + std::to_string(warm) + ", cold " + std::to_string(cold));
    printSpread("peak working set: floor jvm program", peaksOf(floor), "MB");
    printSpread("peak working set: launcher /run hello", peaksOf(hello + L" /run"), "MB");
    realApplicationFigures();
}

// --- the service ---

struct ServiceTimes {
    bool ok = false;
    double startToRunning = 0;
    double stopToStopped = 0;
    double childEndToStopped = -1; // no child: the floor service
};

std::optional<SERVICE_STATUS_PROCESS> statusOf(SC_HANDLE service) {
    SERVICE_STATUS_PROCESS status{};
    DWORD needed = 0;
    if (!QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status),
                              sizeof status, &needed)) {
        return std::nullopt;
    }
    return status;
}

// Polls the state every millisecond; false when it has not come within the service time limit.
bool awaitState(SC_HANDLE service, DWORD state) {
    const ULONGLONG end = GetTickCount64() + kServiceTimeoutMs;
    while (GetTickCount64() < end) {
        std::optional<SERVICE_STATUS_PROCESS> status = statusOf(service);
        if (status && status->dwCurrentState == state) {
            return true;
        }
        Sleep(1);
    }
    return false;
}

bool awaitFile(const std::wstring& file) {
    const ULONGLONG end = GetTickCount64() + kServiceTimeoutMs;
    while (GetTickCount64() < end) {
        if (exists(file)) {
            return true;
        }
        Sleep(5);
    }
    return false;
}

DWORD childOf(DWORD parent) {
    UniqueHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = snapshot ? Process32FirstW(snapshot.get(), &entry) : FALSE; more;
         more = Process32NextW(snapshot.get(), &entry)) {
        if (entry.th32ParentProcessID == parent) {
            return entry.th32ProcessID;
        }
    }
    return 0;
}

// One start and stop. With a ready file, the stop waits until the application has written it, and the
// child's end is timed as well.
ServiceTimes startAndStop(SC_HANDLE service, const std::wstring& readyFile) {
    ServiceTimes times;
    if (!readyFile.empty()) {
        DeleteFileW(readyFile.c_str());
    }
    double start = nowMs();
    if (!StartServiceW(service, 0, nullptr) || !awaitState(service, SERVICE_RUNNING)) {
        std::printf("  service did not start (error %lu)\n", GetLastError());
        return times;
    }
    times.startToRunning = nowMs() - start;
    std::optional<SERVICE_STATUS_PROCESS> status = statusOf(service);
    UniqueHandle host(OpenProcess(SYNCHRONIZE, FALSE, status ? status->dwProcessId : 0));
    UniqueHandle child;
    if (!readyFile.empty()) {
        if (!awaitFile(readyFile)) {
            std::printf("  the service's application did not start\n");
        }
        child.reset(OpenProcess(SYNCHRONIZE, FALSE, childOf(status ? status->dwProcessId : 0)));
    }
    SERVICE_STATUS stopStatus{};
    start = nowMs();
    if (!ControlService(service, SERVICE_CONTROL_STOP, &stopStatus)) {
        std::printf("  stop request failed (error %lu)\n", GetLastError());
    }
    double childEnd = 0;
    if (child) {
        WaitForSingleObject(child.get(), kServiceTimeoutMs);
        childEnd = nowMs();
    }
    if (!awaitState(service, SERVICE_STOPPED)) {
        std::printf("  service did not stop\n");
        return times;
    }
    const double stopped = nowMs();
    times.stopToStopped = stopped - start;
    if (child) {
        times.childEndToStopped = stopped - childEnd;
    }
    // The next start must not meet this process still ending.
    if (host) {
        WaitForSingleObject(host.get(), kServiceTimeoutMs);
    }
    times.ok = true;
    return times;
}

void deleteService(SC_HANDLE manager, const wchar_t* name) {
    UniqueServiceHandle service(OpenServiceW(manager, name, SERVICE_ALL_ACCESS));
    if (!service) {
        return;
    }
    SERVICE_STATUS status{};
    ControlService(service.get(), SERVICE_CONTROL_STOP, &status);
    awaitState(service.get(), SERVICE_STOPPED);
    DeleteService(service.get());
}

UniqueServiceHandle createService(SC_HANDLE manager, const wchar_t* name, const std::wstring& program) {
    deleteService(manager, name);
    return UniqueServiceHandle(CreateServiceW(
        manager, name, name, SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START,
        SERVICE_ERROR_NORMAL, quoted(program).c_str(), nullptr, nullptr, nullptr, nullptr, nullptr));
}

// The launcher's service (registered for the whole run: the status query asks about it) against the
// floor service, started and stopped alternately.
void serviceFigures(SC_HANDLE manager, SC_HANDLE launcher) {
    if (!exists(path(L"jre\\bin\\server\\jvm.dll"))) {
        return;
    }
    UniqueServiceHandle floor = createService(manager, kFloorService, path(L"floor-service.exe"));
    if (!floor || launcher == nullptr) {
        std::printf("  could not register the services (error %lu)\n", GetLastError());
        return;
    }
    Pairs start;
    Pairs stop;
    std::vector<double> childEnd;
    for (int i = -1; i < pairCount; ++i) {
        const ServiceTimes a = startAndStop(floor.get(), L"");
        const ServiceTimes b = startAndStop(launcher, path(L"idle-ready"));
        if (i < 0 || !a.ok || !b.ok) {
            continue;
        }
        start.add(a.startToRunning, b.startToRunning);
        stop.add(a.stopToStopped, b.stopToStopped);
        if (b.childEndToStopped >= 0) {
            childEnd.push_back(b.childEndToStopped);
        }
    }
    printPairs("service start to RUNNING: launcher vs floor", start);
    printPairs("service stop to STOPPED: launcher vs floor", stop);
    printSpread("service: child ended to STOPPED (launcher)", childEnd, "ms");
    floor.reset();
    deleteService(manager, kFloorService);
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    const bool applicationsOnly = argc == 4 && std::wstring(argv[3]) == L"applications";
    const bool compare = argc == 6 && std::wstring(argv[3]) == L"compare";
    if (argc != 3 && !applicationsOnly && !compare) {
        std::fprintf(stderr, "usage: morix-bench.exe WORK_DIRECTORY PAIRS [applications | compare COMMAND_A "
                             "COMMAND_B]\n");
        return 2;
    }
    work = argv[1];
    pairCount = std::max(1, _wtoi(argv[2]));
    WSADATA winsock{};
    WSAStartup(MAKEWORD(2, 2), &winsock);
    CreateDirectoryW(path(L"tmp").c_str(), nullptr);
    SetEnvironmentVariableW(L"TMP", path(L"tmp").c_str());
    SetEnvironmentVariableW(L"TEMP", path(L"tmp").c_str());
    SetEnvironmentVariableW(L"MORIX_LOG", nullptr);
    SetEnvironmentVariableW(L"VANTAROCK_LOG", nullptr);
    if (compare) {
        printHeader();
        printPairs("command B vs command A", measurePairs(argv[4], argv[5]));
        return 0;
    }
    UniqueServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    UniqueServiceHandle launcher = createService(manager.get(), kLauncherService, path(L"service.exe"));
    printHeader();
    if (applicationsOnly) {
        if (exists(path(L"jre\\bin\\server\\jvm.dll"))) {
            runTimed(quoted(path(L"hello.exe")) + L" /run"); // fills the version cache
            realApplicationFigures();
        }
        deleteService(manager.get(), kLauncherService);
        return 0;
    }
    startUpFigures();
    serviceFigures(manager.get(), launcher.get());
    launcher.reset();
    deleteService(manager.get(), kLauncherService);
    return 0;
}
