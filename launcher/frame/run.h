// The in-process run: included files, native library path, single-instance guard, a Java runtime
// loaded into this process, then the VM creation and the call of main.
#pragma once

#include "frame/command_line.h"

namespace morix {

// Runs the application and returns once its VM has been destroyed. On every failure the process ends
// with exit code 1 (with a message where the failing step shows one).
void runInProcess(const ArgumentList& arguments, bool ignoreConsoleEvents);

} // namespace morix
