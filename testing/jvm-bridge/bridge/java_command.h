// java.exe and javaw.exe of the bridged runtime: the Linux java command run as a child with the same
// arguments (argument files expanded, Windows paths translated), the process's Windows standard handles,
// and its exit code.
#pragma once

namespace morix::bridge {

// Runs the command line of this process (its first token is the program) and returns the child's exit
// code, or 1 when it cannot be started.
int runJavaCommand();

} // namespace morix::bridge
