#include "frame/process_state.h"

#include "common/text.h"
#include "frame/log.h"

namespace morix {

std::wstring serviceName;
bool serviceMode = false;
bool noRedirect = false;

void setServiceName(const std::wstring& name) {
    if (name.size() >= kBufferSize) {
        logError(L"service name of %d characters cut to %d", static_cast<int>(name.size()),
                 static_cast<int>(kBufferSize - 1));
    }
    serviceName = cutToCapacity(name, kBufferSize);
}

BOOL WINAPI consoleCtrlHandler(DWORD) {
    logMessage(L"ConsoleCtrlHandler event");
    return TRUE;
}

} // namespace morix
