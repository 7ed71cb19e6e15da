#include "common/process.h"

namespace morix {
namespace {

// How long an ended child may take to go before the caller goes on regardless.
constexpr DWORD kEndedChildWaitMs = 5000;

} // namespace

SystemError createPipe(Pipe& pipe, ChildEnd childEnd, DWORD bufferSize) {
    SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    if (!CreatePipe(pipe.read.receive(), pipe.write.receive(), &inheritable, bufferSize)) {
        return {"CreatePipe", GetLastError()};
    }
    const HANDLE kept = childEnd == ChildEnd::Read ? pipe.write.get() : pipe.read.get();
    if (!SetHandleInformation(kept, HANDLE_FLAG_INHERIT, 0)) {
        return {"SetHandleInformation", GetLastError()};
    }
    return {};
}

ChildProcess startProcess(const ProcessStart& start, SystemError& error) {
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    if (start.hideWindow) {
        startup.dwFlags |= STARTF_USESHOWWINDOW;
        startup.wShowWindow = SW_HIDE;
    }
    if (start.standardHandles) {
        startup.dwFlags |= STARTF_USESTDHANDLES;
        startup.hStdInput = start.input;
        startup.hStdOutput = start.output;
        startup.hStdError = start.error;
    }
    // CreateProcessW may write into the command line it is given.
    std::wstring commandLine = start.commandLine;
    PROCESS_INFORMATION started{};
    if (!CreateProcessW(start.application.empty() ? nullptr : start.application.c_str(), commandLine.data(),
                        nullptr, nullptr, start.inheritHandles ? TRUE : FALSE, start.creationFlags, nullptr,
                        start.workingDirectory.empty() ? nullptr : start.workingDirectory.c_str(), &startup,
                        &started)) {
        error = {"CreateProcessW", GetLastError()};
        return {};
    }
    error = {};
    ChildProcess child;
    child.process.reset(started.hProcess);
    child.thread.reset(started.hThread);
    child.id = started.dwProcessId;
    return child;
}

ProcessEnd waitForExit(const ChildProcess& child, DWORD timeoutMs) {
    ProcessEnd end;
    if (WaitForSingleObject(child.process.get(), timeoutMs) == WAIT_TIMEOUT) {
        end.exitCode = STILL_ACTIVE;
        end.timedOut = true;
        TerminateProcess(child.process.get(), 1);
        WaitForSingleObject(child.process.get(), kEndedChildWaitMs);
        return end;
    }
    if (!GetExitCodeProcess(child.process.get(), &end.exitCode)) {
        end.exitCode = 0;
    }
    return end;
}

} // namespace morix
