// What this process is, as the entry point decides it from the command line, and what the subsystems
// that behave differently in a service read of it: the service name, whether the Java VM runs as a
// service, whether its output is redirected, the marker that makes a process the service's child, and
// the console control handler that service processes install. Set by the entry point and the service
// host; a leaf, so that no reader has to include the dispatcher.
#pragma once

#include <windows.h>

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

// Logs the event and claims it, so the default handler never ends the process.
BOOL WINAPI consoleCtrlHandler(DWORD event);

} // namespace morix
