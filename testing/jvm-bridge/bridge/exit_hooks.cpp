#include "exit_hooks.h"

#include "diagnostics.h"
#include "stdio_relay.h"
#include "winelib.h"

#include "common/handles.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

namespace morix::bridge {
namespace {

struct ExitRequest {
    bool abort;
    jint code;
};

// A pipe carries the request: writing to it is all a JVM thread can safely do.
int requestPipe[2] = {-1, -1};
std::atomic<bool> jvmRunning{false};
using CallerExitHook = void MORIX_WINAPI (*)(jint);
std::atomic<CallerExitHook> callerExitHook{nullptr};

[[noreturn]] void parkForever() {
    for (;;) {
        pause();
    }
}

void sendRequest(ExitRequest request) {
    while (write(requestPipe[1], &request, sizeof request) < 0 && errno == EINTR) {
    }
    parkForever();
}

DWORD WINAPI watchForExit(void*) {
    ExitRequest request{};
    ssize_t count;
    while ((count = read(requestPipe[0], &request, sizeof request)) < 0 && errno == EINTR) {
    }
    if (count != sizeof request) {
        trace("exit watcher: request pipe failed (errno %d)", errno);
        return 0;
    }
    UINT exitCode = request.abort ? (jvmRunning ? kAbortExitCode : 1) : static_cast<UINT>(request.code);
    trace("JVM %s: ending the process with %u", request.abort ? "aborts" : "exits", exitCode);
    flushRelayedOutput();
    if (CallerExitHook hook = callerExitHook.load(); hook != nullptr && !request.abort) {
        trace("calling the caller's exit hook");
        hook(request.code);
    }
    ExitProcess(exitCode);
}

} // namespace

void startExitWatcher() {
    if (pipe2(requestPipe, O_CLOEXEC) != 0) {
        fail("cannot create the exit request pipe (errno %d)", errno);
    }
    UniqueHandle watcher(CreateThread(nullptr, 0, watchForExit, nullptr, 0, nullptr));
    if (!watcher) {
        fail("cannot start the exit watcher (error %u)", static_cast<unsigned>(GetLastError()));
    }
}

void setCallerExitHook(void* hook) {
    callerExitHook = reinterpret_cast<CallerExitHook>(hook);
}

void markJvmRunning() {
    jvmRunning = true;
}

void jvmExitHook(jint code) {
    trace("JVM exit hook, code %d", code);
    sendRequest({false, code});
}

void jvmAbortHook() {
    trace("JVM abort hook");
    sendRequest({true, 0});
}

} // namespace morix::bridge
