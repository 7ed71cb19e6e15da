// The in-process run of the Java application. For now only its console control handler, which the
// service host and the service's child install so that console events never end them.
#pragma once

#include <windows.h>

namespace morix {

// Logs the event and claims it, so the default handler never ends the process.
BOOL WINAPI consoleCtrlHandler(DWORD event);

} // namespace morix
