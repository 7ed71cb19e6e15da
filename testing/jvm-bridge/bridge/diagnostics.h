// Messages of the bridge: trace lines for whoever debugs it, and the end of a process whose call the
// bridge cannot serve.
#pragma once

namespace morix::bridge {

// Keeps the descriptor that the process started with as its standard error, before the bridge points
// descriptor 2 elsewhere; trace lines go there.
void keepTraceOutput();

// A line on the kept standard error when the environment variable MORIX_BRIDGE_TRACE is set. Safe on any
// thread.
void trace(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Writes "morix jvm bridge: " and the message to the process's Windows standard error and ends the
// process with kAbortExitCode. Windows threads only.
[[noreturn]] void fail(const char* format, ...) __attribute__((format(printf, 1, 2)));

} // namespace morix::bridge
