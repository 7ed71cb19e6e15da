// Child processes, started in one place: a pipe pair for a child's standard handles, a start that hands
// back the child's handles owned, and a wait with a time limit that ends a child which overruns it.
// Nothing here logs: a failure comes back as the Win32 call that failed and its error code, and the
// caller writes the line that says what it was doing.
#pragma once

#include "common/handles.h"

#include <windows.h>

#include <string>

namespace morix {

// A failed Win32 call: its name and the error code it left. Empty (false) when nothing failed.
struct SystemError {
    const char* call = nullptr;
    DWORD code = 0;

    explicit operator bool() const { return call != nullptr; }
};

// An anonymous pipe for one of a child's standard handles. The end the child gets is inheritable; the
// end this process keeps is not, so that no other child holds it and the pipe ends with the child.
struct Pipe {
    UniqueHandle read;
    UniqueHandle write;
};

enum class ChildEnd { Read, Write };

// bufferSize 0: the system's default size.
SystemError createPipe(Pipe& pipe, ChildEnd childEnd, DWORD bufferSize = 0);

// How a child is started. Empty strings leave the choice to Windows: the program is then the first
// token of the command line, and the working directory this process's own.
struct ProcessStart {
    std::wstring application;
    std::wstring commandLine;
    DWORD creationFlags = 0;
    bool inheritHandles = false;
    std::wstring workingDirectory;
    bool hideWindow = false;
    // With standardHandles set the three handles become the child's standard handles (null: none).
    bool standardHandles = false;
    HANDLE input = nullptr;
    HANDLE output = nullptr;
    HANDLE error = nullptr;
};

// A started child. Its handles close with the owner; the child itself runs on.
struct ChildProcess {
    UniqueHandle process;
    UniqueHandle thread;
    DWORD id = 0;

    explicit operator bool() const { return process.valid(); }
};

// The started child, or an empty owner with the failure in `error`.
ChildProcess startProcess(const ProcessStart& start, SystemError& error);

struct ProcessEnd {
    // The child's exit code; STILL_ACTIVE when it was still running at the limit.
    DWORD exitCode = 0;
    // The child overran the limit and has been ended with exit code 1.
    bool timedOut = false;
};

// Waits at most timeoutMs (INFINITE: without limit) for the child to end. A child still running then is
// ended, and given a moment to go, so that it no longer holds what the caller reads or removes next.
ProcessEnd waitForExit(const ChildProcess& child, DWORD timeoutMs);

} // namespace morix
