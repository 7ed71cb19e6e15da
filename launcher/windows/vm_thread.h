// The thread the Java VM runs on. Starting a thread takes milliseconds under Wine, most of it after
// CreateThread has returned, so the launcher starts it before it looks for a runtime: the thread waits
// while the runtime is found and loaded, and the VM routine is handed to it once the options are known.
#pragma once

#include <windows.h>

namespace morix {

// Starts the waiting thread, with the default stack. Without it (or when it cannot be started) the VM
// gets a thread of its own when it is run.
void prestartVmThread();

// Runs routine(parameter) on the VM thread and waits for it without a time limit: on the waiting thread
// when the stack reservation asked for is the default (0), otherwise on a new thread with that
// reservation (the waiting one then ends unused), and on the calling thread when no thread can be
// created. The routine's result.
DWORD runOnVmThread(LPTHREAD_START_ROUTINE routine, void* parameter, unsigned stackSize);

} // namespace morix
