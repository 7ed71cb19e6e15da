// What /install sets on a new registration beyond what CreateServiceW takes: the description, the
// delayed automatic start and the system's recovery (failure actions). All of them go through
// ChangeServiceConfig2W, looked up at run time, so that a system without it still installs the service.
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

namespace morix {

// The configured display name, or the service name.
std::wstring serviceDisplayName();

// The failure actions that the configuration asks for: restart after the delay, as many times as
// configured (then nothing) or on every failure, with the failure count reset after the period.
struct RecoveryPlan {
    DWORD resetSeconds = 0;
    std::vector<SC_ACTION> actions;
};
std::optional<RecoveryPlan> configuredRecovery();

// The description is optional: without the function, or when it fails, the service simply has none.
void setServiceDescription(SC_HANDLE service);
// Each of these does what is configured, if anything; false, after a line that says what the service
// lacks and why, when the system refused it. The service stays installed either way.
bool setDelayedStart(SC_HANDLE service, DWORD startType);
bool setRecovery(SC_HANDLE service);

} // namespace morix
