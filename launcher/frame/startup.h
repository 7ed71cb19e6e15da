// Start-up: loads the payload, fixes the launcher flavour and prepares the process environment in which
// the Java runtime will later be started. Runs once, before any command is dispatched.
#pragma once

namespace morix {

// The first character of configuration 2001: 'i' (vantarock flavour), 'e' (morix flavour) or '\0'.
extern char launcherFlavour;

void initLauncher();

} // namespace morix
