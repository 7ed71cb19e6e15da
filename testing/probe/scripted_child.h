// The probe as the service's child: started by the service host with the restart marker last, it
// records what the host gave it and behaves as the script beside it says, so that tests can watch the
// real host code supervise a child.
#pragma once

#include <string>

namespace morix::test {

// Files beside the probe. The script is "key=value" lines:
//   exit=N          exit code (0)
//   stdout-mb=N     megabytes written to standard output first (0); stderr-mb=N the same for errors
//   until=eof|release|none   wait for the end of standard input (eof, the default), for the file
//                   child-release to appear (release), or not at all
//   timeout-ms=N    longest wait for the above (60000), sleep-ms=N then run this long (0)
// Records: child-command-line.txt (UTF-8), child-started.txt (pid=, priority=), child-wrote.txt (after
// the output), child-input.bin (standard input as read) and child-finished.txt (input-ended=, exit=).
inline constexpr const wchar_t* kChildScript = L"child-script.txt";

// Applies the "NAME=VALUE" lines of probe-environment.txt beside the probe to its environment, so that
// a probe started by the service control manager logs where the test looks.
void applyProbeEnvironment();

// Makes the C runtime's exit handlers record, in host-exit-handlers.txt beside the probe, that they ran.
// The service host ends without them once it has reported its end; this shows whether it did.
void recordHostExitHandlers();

// Runs the script and ends the process with its exit code.
[[noreturn]] void runScriptedChild();

} // namespace morix::test
