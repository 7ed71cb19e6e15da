// The launcher's entry: start-up, then the command line decides what this process is: a service command
// typed by an administrator, an in-process run of the Java application, or the service itself started
// by the service control manager.
#pragma once

namespace morix {

// Runs the launcher; the result is the process exit code.
int launcherMain();

} // namespace morix
