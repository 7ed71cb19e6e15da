// The administrative service commands: install, uninstall, stop, start and status of the service named by
// serviceName. Each talks to the local service control manager, prints a short English line on standard
// output and returns the process exit code (0 success, 1 failure; status: 0 running, 3 not running).
#pragma once

#include "frame/command_line.h"

#include <windows.h>

#include <optional>
#include <string>

namespace morix {

// Registers the executable itself (quoted, no arguments) under serviceName, replacing an existing
// registration of that name. startType is SERVICE_AUTO_START or SERVICE_DEMAND_START.
int installService(DWORD startType);
int uninstallService(bool verbose);
// The progress lines are printed in both modes; verbose adds the failure lines.
int stopService(bool verbose);
// arguments[0] is the service name; the elements after it become the start parameters.
int startService(const ArgumentList& arguments);
int queryServiceStatus();

// The names of configuration 149 (comma-separated, empty names skipped) as a double-zero-terminated
// list for CreateServiceW, or none when there are no names.
std::optional<std::wstring> getServiceDependencies();

// Waits while the service is stop-pending and makes progress; true when it reached SERVICE_STOPPED.
bool waitForServiceStop(SC_HANDLE service);

} // namespace morix
