// How the JVM ends the process. HotSpot calls its exit hook (System.exit, Runtime.halt) and its abort hook
// (a failed start, a crash) on threads of its own. Those are Linux threads that cannot end a Windows
// process, so the hooks hand the request to a Windows thread that ends it, after the relayed output.
#pragma once

#include <jni.h>

namespace morix::bridge {

// Starts the Windows thread that waits for the hooks. Before the JVM is created.
void startExitWatcher();

// Marks the JVM as running: from now on an abort is a crash (kAbortExitCode); before, it is a failed
// start, which ends the process with 1 as on Windows.
void markJvmRunning();

// The caller's own exit hook (a Windows function): called on the Windows thread, after the relayed output,
// as HotSpot on Windows calls it at the end of System.exit. Null for none.
void setCallerExitHook(void* hook);

// The hooks, for the "exit" and "abort" options of JNI_CreateJavaVM.
void jvmExitHook(jint code);
void jvmAbortHook();

} // namespace morix::bridge
