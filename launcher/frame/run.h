// The in-process run: included files, native library path, single-instance guard, a Java runtime
// loaded into this process, then the VM creation and the call of main.
#pragma once

#include "frame/command_line.h"

#include <windows.h>

namespace morix {

// Runs the application; true when the launch succeeded. On every failure the process ends with exit
// code 1 (with a message where the failing step shows one).
bool runInProcess(const ArgumentList& arguments, bool ignoreConsoleEvents);

// Logs the event and claims it, so the default handler never ends the process.
BOOL WINAPI consoleCtrlHandler(DWORD event);

} // namespace morix
