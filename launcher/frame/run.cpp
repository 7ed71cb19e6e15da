#include "frame/run.h"

#include "frame/log.h"

namespace morix {

BOOL WINAPI consoleCtrlHandler(DWORD) {
    logMessage(L"ConsoleCtrlHandler event");
    return TRUE;
}

} // namespace morix
