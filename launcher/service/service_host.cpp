#include "service/service_host.h"

#include "common/process.h"
#include "common/text.h"
#include "config/temp_cleanup.h"
#include "frame/log.h"
#include "frame/process_state.h"
#include "service/restart_policy.h"
#include "service/service_environment.h"
#include "service/service_log.h"
#include "windows/vm_options.h"

#include "morix/stop_timeout.h"

#include <algorithm>
#include <charconv>
#include <cwchar>

namespace morix {

SERVICE_STATUS serviceStatus{};
SERVICE_STATUS_HANDLE serviceStatusHandle = nullptr;
ShutdownChannel shutdownPipe;

namespace {

// The service-specific code that a service which could not start its child ends with.
constexpr DWORD kChildStartFailure = 5000;

// The service thread ends the process within milliseconds of its stopped report; this only bounds the
// main thread's wait should it not.
constexpr DWORD kHostEndGraceMs = 10000;
// While a stop is pending the host reports progress this often (well within the wait hint), so that
// whoever waits for the stop keeps waiting while the child is within its bound.
constexpr DWORD kStopProgressMs = 10000;
// A child ended through its handle is waited for this long before the service is reported stopped anyway.
constexpr DWORD kTerminateWaitMs = 5000;

SRWLOCK statusLock = SRWLOCK_INIT;
std::atomic<bool> hostEnding{false};

class StatusLock {
public:
    StatusLock() { AcquireSRWLockExclusive(&statusLock); }
    ~StatusLock() { ReleaseSRWLockExclusive(&statusLock); }
    StatusLock(const StatusLock&) = delete;
    StatusLock& operator=(const StatusLock&) = delete;
};

// Changes the record and sends it as it then stands; false, with the error code kept, when the report
// failed.
template <typename Change>
bool reportStatus(Change change) {
    StatusLock lock;
    change(serviceStatus);
    return SetServiceStatus(serviceStatusHandle, &serviceStatus) != FALSE;
}

bool reportState(DWORD state) {
    return reportStatus([state](SERVICE_STATUS& status) { status.dwCurrentState = state; });
}

DWORD currentState() {
    StatusLock lock;
    return serviceStatus.dwCurrentState;
}

void resetStatus() {
    StatusLock lock;
    serviceStatus.dwServiceType = SERVICE_WIN32;
    serviceStatus.dwCurrentState = SERVICE_RUNNING;
    serviceStatus.dwControlsAccepted = SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN;
    serviceStatus.dwWin32ExitCode = 0;
    serviceStatus.dwServiceSpecificExitCode = 0;
    serviceStatus.dwCheckPoint = 0;
    serviceStatus.dwWaitHint = 50000;
}

// A service whose child cannot run is reported stopped with a service-specific code, so that the
// manager and the administrator see the failure instead of a service that runs nothing.
bool reportChildStartFailure() {
    return reportStatus([](SERVICE_STATUS& status) {
        status.dwCurrentState = SERVICE_STOPPED;
        status.dwWin32ExitCode = ERROR_SERVICE_SPECIFIC_ERROR;
        status.dwServiceSpecificExitCode = kChildStartFailure;
    });
}

std::wstring chooseServiceName(DWORD argc, LPWSTR* argv) {
    if (argc >= 1 && argv != nullptr && argv[0] != nullptr) {
        const size_t length = wcsnlen(argv[0], kBufferSize);
        if (length >= 1 && length < kBufferSize) {
            return std::wstring(argv[0], length);
        }
    }
    return L"unknown";
}

// Appends an argument so that the child's C-runtime split gives it back unchanged; the program name is
// written as such, since the runtime reads it by rules of its own.
void appendArgument(std::wstring& line, const std::wstring& argument, bool program = false) {
    if (!line.empty()) {
        line += L' ';
    }
    line += program ? quoteProgramName(argument) : quoteProcessArgument(argument);
}

// The child's output log, when one is configured; the output consumers write to it.
ServiceLog* outputLog = nullptr;

// The host's pipes to the child: the child writes into output and reads input. The ends the host keeps
// are not inheritable; the write end of the child's input goes to shutdownPipe.
struct ChildPipes {
    Pipe output;
    Pipe input;
};

bool createChildPipes(ChildPipes& pipes, bool outputKept) {
    if (SystemError error =
            createPipe(pipes.output, ChildEnd::Write, outputKept ? kLoggedOutputPipeSize : 0)) {
        logError(L"%S error (%d)", error.call, static_cast<int>(error.code));
        return false;
    }
    if (SystemError error = createPipe(pipes.input, ChildEnd::Read)) {
        logError(L"%S error 2 (%d)", error.call, static_cast<int>(error.code));
        return false;
    }
    shutdownPipe.open(std::move(pipes.input.write));
    return true;
}

ChildProcess startChild(const std::wstring& commandLine, const ChildPipes& pipes) {
    ProcessStart start;
    start.commandLine = commandLine;
    start.inheritHandles = true;
    start.creationFlags = readServicePriority() | DETACHED_PROCESS;
    start.standardHandles = true;
    start.input = pipes.input.read.get();
    start.output = pipes.output.write.get();
    start.error = pipes.output.write.get();
    SystemError error;
    ChildProcess child = startProcess(start, error);
    if (!child) {
        logError(L"could not start process %s (%d)", commandLine.c_str(), static_cast<int>(error.code));
    }
    return child;
}

// The output consumer owns the read end; if it cannot run, the read end is closed here, so the child's
// writes fail instead of blocking on a full pipe.
void startOutputConsumer(UniqueHandle outputRead) {
    UniqueHandle thread(CreateThread(nullptr, 0, consumeOutput, outputRead.get(), 0, nullptr));
    if (thread) {
        outputRead.release();
    } else {
        logError(L"could not start the output consumer (%d)", static_cast<int>(GetLastError()));
    }
}

// Ends the host at once with 0: no exit handler or static destructor may run while another thread of
// the host is still at work.
[[noreturn]] void endHost() {
    TerminateProcess(GetCurrentProcess(), 0);
    ExitProcess(0); // not reached: the process ends in the call above
}

// Set by the control handler once it has sent a stop or shutdown line: from then on the child's time is
// bounded.
HANDLE stopRequested() {
    static UniqueHandle* event = new UniqueHandle(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    return event->get();
}

// The child's stop bound: its Java side's own limit, as the child's options set it, and the margin.
DWORD childStopBoundMs(const ArgumentList& ownArguments, const std::vector<std::wstring>& startParameters) {
    ArgumentList childArguments(ownArguments.begin() + (ownArguments.empty() ? 0 : 1), ownArguments.end());
    childArguments.insert(childArguments.end(), startParameters.begin(), startParameters.end());
    const int seconds = childStopTimeoutSeconds(assembleConfiguredVmOptions(childArguments));
    logMessage(L"the stop bound is %d s: the stop timeout of %d s and a margin of %d s",
               seconds + static_cast<int>(kStopBoundMarginMs / 1000), seconds,
               static_cast<int>(kStopBoundMarginMs / 1000));
    return static_cast<DWORD>(seconds) * 1000 + kStopBoundMarginMs;
}

// Ends a child that outlived its bound: through its handle, since the child no longer listens.
void endChild(HANDLE process) {
    if (!TerminateProcess(process, kStopBoundExceeded)) {
        logError(L"TerminateProcess of the child failed with error %lu", GetLastError());
    }
    const DWORD waited = WaitForSingleObject(process, kTerminateWaitMs);
    if (waited != WAIT_OBJECT_0) {
        logError(L"the child has not ended %lu ms after TerminateProcess (wait result %lu, error %lu)",
                 kTerminateWaitMs, waited, GetLastError());
    }
    // What the ended child had no chance to remove: its directory, whose owner files it no longer holds.
    removeStaleTempDirs();
}

// Waits for the child: without a limit while it serves, and from the stop request on within its bound,
// past which the host ends it. True when the child ended by itself.
bool awaitChild(HANDLE process, DWORD stopBoundMs) {
    // The child is the service: until a stop is asked for, it runs as long as the service does.
    const HANDLE events[] = {process, stopRequested()};
    const DWORD first = WaitForMultipleObjects(2, events, FALSE, INFINITE);
    if (first == WAIT_OBJECT_0) {
        return true;
    }
    if (first == WAIT_FAILED) {
        logError(L"WaitForMultipleObjects for the child failed with error %lu", GetLastError());
    }
    logMessage(L"waiting at most %lu ms for the child to end", stopBoundMs);
    const ULONGLONG deadline = GetTickCount64() + stopBoundMs;
    for (ULONGLONG now = GetTickCount64(); now < deadline; now = GetTickCount64()) {
        const DWORD slice = static_cast<DWORD>(std::min<ULONGLONG>(deadline - now, kStopProgressMs));
        const DWORD waited = WaitForSingleObject(process, slice);
        if (waited == WAIT_OBJECT_0) {
            return true;
        }
        if (waited == WAIT_FAILED) {
            logError(L"WaitForSingleObject for the child failed with error %lu", GetLastError());
            Sleep(slice);
        }
        if (!reportStatus([](SERVICE_STATUS& status) {
                if (status.dwCurrentState == SERVICE_STOP_PENDING) {
                    ++status.dwCheckPoint;
                }
            })) {
            logError(L"SetServiceStatus 11 failed %d", static_cast<int>(GetLastError()));
        }
    }
    logError(L"the child did not end within %lu s of the stop request; ending it", stopBoundMs / 1000);
    endChild(process);
    return false;
}

// Starts the child with fresh pipes and a consumer for its output; an empty owner (logged) on failure.
ChildProcess launchChild(const std::wstring& commandLine) {
    ChildPipes pipes;
    ChildProcess child;
    if (createChildPipes(pipes, outputLog != nullptr)) {
        child = startChild(commandLine, pipes);
    }
    if (!child) {
        return child;
    }
    // The child holds its own copies now; the host's would keep the output pipe from ever ending.
    pipes.output.write.reset();
    pipes.input.read.reset();
    startOutputConsumer(std::move(pipes.output.read));
    return child;
}

bool stopWasRequested() {
    return WaitForSingleObject(stopRequested(), 0) == WAIT_OBJECT_0;
}

// Waits out the delay before a restart; false when a stop came meanwhile. The service stays running
// throughout, so that the manager passes a stop on at once (it refuses one to a service start pending).
bool awaitRestartDelay(DWORD delayMs) {
    return WaitForSingleObject(stopRequested(), delayMs) == WAIT_TIMEOUT;
}

// How the service ends, as its last report says.
enum class ServiceEnd {
    // Asked for, or the child's exit code counts as success: reported stopped.
    Stopped,
    // The child failed: no stopped report, so that the manager sees a failed service.
    Failed,
    // The host ended the child at the stop bound: reported stopped with its own code.
    ChildEndedByHost,
    // The host gave up on a child it could not start: reported stopped with the start failure's code.
    ChildNotStarted,
};

// Replaces a child that failed, as the policy says: true with the new child in `child`, false with how
// the service is to end (a success code, the policy's limit, a stop during the delay).
bool restartChild(RestartTracker& restarts, DWORD exitCode, const std::wstring& commandLine,
                  ChildProcess& child, ServiceEnd& end) {
    // The last child ended with exitCode; after a failed start there is none, and no code of its own.
    bool started = true;
    for (;;) {
        const ULONGLONG now = GetTickCount64();
        const RestartDecision decision =
            started ? restarts.childEnded(exitCode, now) : restarts.childFailed(now);
        if (decision.action == ChildEndAction::EndService) {
            logMessage(L"exit code %lu counts as success: the service ends", exitCode);
            end = ServiceEnd::Stopped;
            return false;
        }
        if (decision.action == ChildEndAction::GiveUp) {
            logError(L"the child failed again after %d restarts within %lu s: giving up",
                     static_cast<int>(decision.attempt),
                     static_cast<unsigned long>(restarts.policy().windowMs / 1000));
            if (started) {
                end = ServiceEnd::Failed;
            } else {
                // A stop asked for while the last start failed ends the service as asked.
                end = stopWasRequested() ? ServiceEnd::Stopped : ServiceEnd::ChildNotStarted;
            }
            return false;
        }
        shutdownPipe.close();
        if (started) {
            logMessage(L"the child ended without a stop request (exit code %lu): restart %d in %lu ms",
                       exitCode, static_cast<int>(decision.attempt), decision.delayMs);
        } else {
            logMessage(L"the child could not be started: restart %d in %lu ms",
                       static_cast<int>(decision.attempt), decision.delayMs);
        }
        if (!awaitRestartDelay(decision.delayMs)) {
            logMessage(L"a stop came during the restart delay: no restart");
            end = ServiceEnd::Stopped;
            return false;
        }
        // What the ended child left in the temporary root goes before the new one starts.
        removeStaleTempDirs();
        reportStatus([](SERVICE_STATUS& status) {
            status.dwCurrentState = SERVICE_START_PENDING;
            ++status.dwCheckPoint;
        });
        child = launchChild(commandLine);
        reportStatus([](SERVICE_STATUS& status) {
            if (status.dwCurrentState == SERVICE_START_PENDING) {
                status.dwCurrentState = SERVICE_RUNNING;
                status.dwCheckPoint = 0;
            }
        });
        if (child) {
            logMessage(L"restarted the child (restart %d)", static_cast<int>(decision.attempt));
            return true;
        }
        // A child that cannot be started counts as one more failure: its program may be back by the
        // next attempt (a launcher being replaced, say).
        started = false;
    }
}

// Reports the end of the service, unless it failed, and ends the host at once: nothing in this process
// may run after the service has stopped. A failed service ends without a stopped report, so that the
// manager sees it fail (its recovery may act).
[[noreturn]] void endService(ServiceEnd end) {
    // Set before the report below, which lets the dispatcher return on the main thread.
    hostEnding = true;
    if (end == ServiceEnd::ChildEndedByHost) {
        if (!reportStatus([](SERVICE_STATUS& status) {
                status.dwCurrentState = SERVICE_STOPPED;
                status.dwWin32ExitCode = ERROR_SERVICE_SPECIFIC_ERROR;
                status.dwServiceSpecificExitCode = kStopBoundExceeded;
            })) {
            logError(L"SetServiceStatus 12 failed %d", static_cast<int>(GetLastError()));
        }
        logMessage(
            L"service stopped: the host ended the child after the stop bound (service-specific code %lu)",
            kStopBoundExceeded);
    } else if (end == ServiceEnd::ChildNotStarted) {
        if (!reportChildStartFailure()) {
            logError(L"SetServiceStatus 13 failed %d", static_cast<int>(GetLastError()));
        }
        logMessage(L"service stopped: the child could not be started (service-specific code %lu)",
                   kChildStartFailure);
    } else if (end == ServiceEnd::Stopped || currentState() == SERVICE_STOP_PENDING) {
        if (!reportState(SERVICE_STOPPED)) {
            logError(L"SetServiceStatus 10 failed %d", static_cast<int>(GetLastError()));
        }
        logMessage(L"service stopped set");
    }
    logMessage(L"exiting");
    endHost();
}

// Waits for the child, restarts it as the restart policy says (when there is one), and ends the service
// with the last child.
[[noreturn]] void superviseChild(ChildProcess child, const std::wstring& commandLine, DWORD stopBoundMs,
                                 std::optional<RestartTracker> restarts) {
    for (;;) {
        const bool endedByHost = !awaitChild(child.process.get(), stopBoundMs);
        DWORD exitCode = 0;
        if (!GetExitCodeProcess(child.process.get(), &exitCode)) {
            exitCode = 0;
        }
        logMessage(L"process terminated with exit code %d", static_cast<int>(exitCode));
        child = ChildProcess{};
        if (endedByHost) {
            endService(ServiceEnd::ChildEndedByHost);
        }
        const bool success = restarts ? restarts->isSuccess(exitCode) : exitCode == 0;
        if (!restarts || stopWasRequested()) {
            endService(success ? ServiceEnd::Stopped : ServiceEnd::Failed);
        }
        ServiceEnd end = ServiceEnd::Failed;
        if (!restartChild(*restarts, exitCode, commandLine, child, end)) {
            endService(end);
        }
    }
}

// The output log, when configured and it can be opened; otherwise the output is discarded.
void openOutputLog() {
    if (std::optional<ServiceLogSettings> settings = readServiceLogSettings()) {
        auto* log = new ServiceLog(std::move(*settings)); // lives until the host ends
        if (log->open()) {
            outputLog = log;
        } else {
            delete log;
        }
    }
}

} // namespace

ShutdownChannel::~ShutdownChannel() {
    UniqueHandle left(writeEnd_.exchange(nullptr));
}

void ShutdownChannel::open(UniqueHandle writeEnd) {
    idle_ = false;
    UniqueHandle previous(writeEnd_.exchange(writeEnd.release()));
    // A request that came before the pipe existed found nothing to write to: it is sent now. Whoever
    // takes the write end first sends it, so the line goes out once.
    if (int code = requestedCode_.load(); code >= 0) {
        if (UniqueHandle pending{writeEnd_.exchange(nullptr)}) {
            logMessage(L"sending the shutdown requested before the child started");
            write(std::move(pending), code);
        }
    }
}

void ShutdownChannel::close() {
    idle_ = true;
    UniqueHandle left(writeEnd_.exchange(nullptr));
}

void ShutdownChannel::send(int code) {
    logMessage(L"sending shutdown1 %d", code);
    requestedCode_.store(code & 0xFF);
    write(UniqueHandle(writeEnd_.exchange(nullptr)), code & 0xFF);
}

void ShutdownChannel::write(UniqueHandle writeEnd, int code) {
    if (!writeEnd && idle_) {
        logMessage(L"no child is running: the shutdown goes to none");
        return;
    }
    const std::string message = formatNarrow("%d\n", code);
    DWORD written = 0;
    const bool sent = writeEnd && WriteFile(writeEnd.get(), message.data(),
                                            static_cast<DWORD>(message.size()), &written, nullptr);
    if (!sent) {
        const DWORD error = writeEnd ? GetLastError() : ERROR_INVALID_HANDLE;
        logError(L"sending shutdown failed");
        logError(L"error code %d", static_cast<int>(error));
    }
    // Closed whether or not the line went out: the child then reads the end of its input.
    writeEnd.reset();
    logMessage(L"shutdown sent");
}

bool hostIsEnding() {
    return hostEnding;
}

void awaitHostEnd() {
    Sleep(kHostEndGraceMs);
    logError(L"the service thread did not end the host within %d ms", static_cast<int>(kHostEndGraceMs));
    endHost();
}

void sendShutdown(int code) {
    shutdownPipe.send(code);
}

std::optional<std::wstring> buildChildCommandLine(const ArgumentList& ownArguments, const std::wstring& name,
                                                  const std::vector<std::wstring>& startParameters) {
    std::wstring line;
    if (!ownArguments.empty()) {
        appendArgument(line, ownArguments.front(), true);
    }
    appendArgument(line, name);
    for (size_t i = 1; i < ownArguments.size(); ++i) {
        appendArgument(line, ownArguments[i]);
    }
    for (const std::wstring& parameter : startParameters) {
        appendArgument(line, parameter);
    }
    line += L' ';
    line += kRestartMarker;
    if (line.size() >= kChildCommandLineCapacity) {
        logError(L"the child's command line of %d characters exceeds the limit of %d",
                 static_cast<int>(line.size()), static_cast<int>(kChildCommandLineCapacity - 1));
        return std::nullopt;
    }
    return line;
}

DWORD readServicePriority() {
    UniqueRegKey key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\quarrystone\\morix\\priority", 0, KEY_READ,
                      key.receive()) != ERROR_SUCCESS) {
        return NORMAL_PRIORITY_CLASS;
    }
    DWORD value = 0;
    DWORD size = sizeof value;
    if (RegQueryValueExW(key.get(), serviceName.c_str(), nullptr, nullptr, reinterpret_cast<BYTE*>(&value),
                         &size) != ERROR_SUCCESS ||
        size != sizeof value) {
        return NORMAL_PRIORITY_CLASS;
    }
    // The value becomes part of the child's creation flags: anything but one priority class (a
    // suspended or console-creating flag, say) would start a child that cannot serve.
    switch (value) {
    case IDLE_PRIORITY_CLASS:
    case BELOW_NORMAL_PRIORITY_CLASS:
    case NORMAL_PRIORITY_CLASS:
    case ABOVE_NORMAL_PRIORITY_CLASS:
    case HIGH_PRIORITY_CLASS:
    case REALTIME_PRIORITY_CLASS:
        logMessage(L"using priority %d", static_cast<int>(value));
        return value;
    default:
        logError(L"priority %d is not a priority class; using normal priority", static_cast<int>(value));
        return NORMAL_PRIORITY_CLASS;
    }
}

int childStopTimeoutSeconds(const std::vector<std::string>& vmOptions) {
    std::string_view value;
    bool found = false;
    for (const std::string& option : vmOptions) {
        if (std::string_view(option).starts_with(payload::kStopTimeoutOption)) {
            value = std::string_view(option).substr(payload::kStopTimeoutOption.size());
            found = true;
        }
    }
    // Read as the Java side reads it: trimmed of blanks and control characters, a decimal int with an
    // optional sign.
    while (!value.empty() && static_cast<unsigned char>(value.front()) <= ' ') {
        value.remove_prefix(1);
    }
    while (!value.empty() && static_cast<unsigned char>(value.back()) <= ' ') {
        value.remove_suffix(1);
    }
    if (value.starts_with('+') && value.size() > 1 && value[1] != '-') {
        value.remove_prefix(1);
    }
    int seconds = 0;
    const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), seconds);
    if (!found || error != std::errc() || end != value.data() + value.size() ||
        seconds < payload::kMinStopTimeoutSeconds || seconds > payload::kMaxStopTimeoutSeconds) {
        return payload::kDefaultStopTimeoutSeconds;
    }
    return seconds;
}

DWORD WINAPI consumeOutput(LPVOID readHandle) {
    UniqueHandle output(static_cast<HANDLE>(readHandle));
    logMessage(L"consuming output");
    // Without an output log the child's output reaches neither the log nor any file.
    pumpOutput(output.get(), outputLog);
    logMessage(L"consuming output done");
    return 0;
}

void WINAPI serviceControlHandler(DWORD control) {
    logMessage(L"control handler request %d", static_cast<int>(control));
    switch (control) {
    case SERVICE_CONTROL_STOP:
        if (!reportState(SERVICE_STOP_PENDING)) {
            logError(L"SetServiceStatus 2 failed %d", static_cast<int>(GetLastError()));
        }
        sendShutdown(0);
        SetEvent(stopRequested());
        break;
    case SERVICE_CONTROL_SHUTDOWN:
        if (!reportStatus([](SERVICE_STATUS& status) {
                ++status.dwCheckPoint;
                status.dwCurrentState = SERVICE_STOP_PENDING;
            })) {
            logError(L"SetServiceStatus 1 failed %d", static_cast<int>(GetLastError()));
        }
        sendShutdown(0);
        SetEvent(stopRequested());
        break;
    default:
        if (!reportStatus([](SERVICE_STATUS&) {})) {
            logError(L"SetServiceStatus 3 failed %d", static_cast<int>(GetLastError()));
        }
        break;
    }
}

void WINAPI serviceMain(DWORD argc, LPWSTR* argv) {
    // First: the environment may switch on the host's own log.
    applyServiceEnvironment();
    logMessage(L"service main");
    resetStatus();
    serviceName = chooseServiceName(argc, argv);
    logMessage(L"service name is '%s'", serviceName.c_str());

    SERVICE_STATUS_HANDLE handle = RegisterServiceCtrlHandlerW(serviceName.c_str(), serviceControlHandler);
    if (handle == nullptr) {
        return;
    }
    {
        StatusLock lock;
        serviceStatusHandle = handle;
    }
    // Running at once: the host has no start-up phase worth reporting.
    reportStatus([](SERVICE_STATUS&) {});

    const ArgumentList ownArguments = splitProcessCommandLine(GetCommandLineW());
    std::vector<std::wstring> startParameters;
    for (DWORD i = 1; i < argc && argv != nullptr; ++i) {
        startParameters.emplace_back(argv[i] != nullptr ? argv[i] : L"");
    }
    std::optional<std::wstring> commandLine =
        buildChildCommandLine(ownArguments, serviceName, startParameters);
    const DWORD stopBoundMs = childStopBoundMs(ownArguments, startParameters);
    std::optional<RestartTracker> restarts;
    if (std::optional<RestartPolicy> policy = readRestartPolicy()) {
        restarts.emplace(std::move(*policy));
    }
    openOutputLog();
    ChildProcess child;
    if (commandLine) {
        child = launchChild(*commandLine);
    }
    if (!child) {
        reportChildStartFailure();
        return;
    }

    // A stop that came while the child was being started stays pending: the child has its line already.
    reportStatus([](SERVICE_STATUS& status) {
        if (status.dwCurrentState != SERVICE_STOP_PENDING) {
            status.dwCurrentState = SERVICE_RUNNING;
        }
    });
    logMessage(L"registering ConsoleCtrlHandler");
    SetConsoleCtrlHandler(consoleCtrlHandler, TRUE);
    superviseChild(std::move(child), *commandLine, stopBoundMs, std::move(restarts));
}

} // namespace morix
