// The JNIEnv that Windows code gets: a function table in the Windows calling convention whose entries run
// the call on the partner VmThread of the env. Functions that the launcher uses are bridged; every other
// slot ends the process with the function's name, so no call ever gets a silent wrong answer.
#pragma once

#include "vm_thread.h"

namespace morix::bridge {

// Layout-compatible with a Windows JNIEnv: its first member is the function table.
struct BridgedEnv {
    const void* const* functions;
    VmThread* thread;
};

BridgedEnv* newBridgedEnv(VmThread* thread);

} // namespace morix::bridge
