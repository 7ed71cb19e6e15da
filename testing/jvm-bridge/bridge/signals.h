// Signals shared by Wine and HotSpot. HotSpot installs its handlers over Wine's: SIGQUIT is how Wine ends
// its threads and SIGINT how Ctrl-C reaches the console control handlers, so both go back to Wine. The
// JVM still learns of console events, as on Windows, through a console control handler that passes them
// to its own signal handling. Fault signals stay HotSpot's, which hands faults of Windows code on to Wine.
#pragma once

namespace morix::bridge {

// Before the JVM is created.
void rememberWineSignalHandlers();

// After the JVM was created.
void reclaimSignalsFromJvm();

} // namespace morix::bridge
