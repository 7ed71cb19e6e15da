// The launcher's entry: start-up, then the command line decides what this process is: a service command
// typed by an administrator, an in-process run of the Java application, or the service itself started
// by the service control manager.
#pragma once

#include "frame/command_line.h"

#include <string>

namespace morix {

// The service name: configuration 101, replaced by the argument after a command (at most 5999 characters).
extern std::wstring serviceName;
// True from the start; cleared only by run and run-redirect. Gives the VM the service options.
extern bool serviceMode;
// Set only by the run command: the Java side does not redirect its output.
extern bool noRedirect;

// The argument that the service host puts last on the command line of the process it starts.
inline constexpr const wchar_t* kRestartMarker = L"__vrk_restart";

// Stores a name into serviceName within its capacity.
void setServiceName(const std::wstring& name);

// Runs the launcher; the result is the process exit code.
int launcherMain();

} // namespace morix
