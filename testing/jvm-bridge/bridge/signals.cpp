#include "signals.h"

#include "diagnostics.h"
#include "winelib.h"

#include <signal.h>

#include <array>
#include <cstring>

namespace morix::bridge {
namespace {

constexpr int kSignalCount = 32;
std::array<struct sigaction, kSignalCount> wineActions{};
// HotSpot's handlers of the signals given back to Wine, and of SIGTERM, for console events.
std::array<struct sigaction, kSignalCount> jvmActions{};
std::array<bool, kSignalCount> jvmHandles{};

bool sameHandler(const struct sigaction& a, const struct sigaction& b) {
    return a.sa_sigaction == b.sa_sigaction && (a.sa_flags & SA_SIGINFO) == (b.sa_flags & SA_SIGINFO);
}

bool isHandler(const struct sigaction& action) {
    return (action.sa_flags & SA_SIGINFO) != 0 ||
           (action.sa_handler != SIG_DFL && action.sa_handler != SIG_IGN);
}

// Windows console events as the JVM sees them on Windows: Ctrl-C as SIGINT, Ctrl-Break as its thread-dump
// signal, closing the console or shutting down as SIGTERM.
int signalForConsoleEvent(DWORD event) {
    switch (event) {
    case CTRL_C_EVENT:
        return SIGINT;
    case CTRL_BREAK_EVENT:
        return SIGQUIT;
    case CTRL_CLOSE_EVENT:
    case CTRL_SHUTDOWN_EVENT:
        return SIGTERM;
    default:
        return 0;
    }
}

BOOL WINAPI passConsoleEventToJvm(DWORD event) {
    int signal = signalForConsoleEvent(event);
    if (signal == 0 || !jvmHandles[signal]) {
        return FALSE;
    }
    trace("console event %u goes to the JVM as signal %d", static_cast<unsigned>(event), signal);
    const struct sigaction& action = jvmActions[signal];
    if (action.sa_flags & SA_SIGINFO) {
        siginfo_t info{};
        info.si_signo = signal;
        info.si_code = SI_USER;
        action.sa_sigaction(signal, &info, nullptr);
    } else {
        action.sa_handler(signal);
    }
    return TRUE;
}

} // namespace

void rememberWineSignalHandlers() {
    for (int signal = 1; signal < kSignalCount; ++signal) {
        sigaction(signal, nullptr, &wineActions[signal]);
    }
}

void reclaimSignalsFromJvm() {
    bool forwardEvents = false;
    for (int signal = 1; signal < kSignalCount; ++signal) {
        struct sigaction current {};
        sigaction(signal, nullptr, &current);
        if (sameHandler(current, wineActions[signal])) {
            continue;
        }
        trace("the JVM took signal %d (%s)", signal, strsignal(signal));
        if (signal == SIGQUIT || signal == SIGINT) {
            jvmActions[signal] = current;
            jvmHandles[signal] = isHandler(current);
            sigaction(signal, &wineActions[signal], nullptr);
            trace("signal %d goes back to Wine", signal);
        } else if (signal == SIGTERM) {
            jvmActions[signal] = current;
            jvmHandles[signal] = isHandler(current);
        } else if (signal == SIGSEGV || signal == SIGBUS || signal == SIGILL || signal == SIGFPE) {
            // Wine expects its fault handling on its own signal stack when a Windows thread faults.
            current.sa_flags |= SA_ONSTACK;
            sigaction(signal, &current, nullptr);
        }
        forwardEvents = forwardEvents || jvmHandles[signal];
    }
    if (forwardEvents && !SetConsoleCtrlHandler(passConsoleEventToJvm, TRUE)) {
        trace("SetConsoleCtrlHandler failed (error %u)", static_cast<unsigned>(GetLastError()));
    }
}

} // namespace morix::bridge
