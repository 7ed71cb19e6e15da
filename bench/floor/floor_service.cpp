// The floor of a service: it reports RUNNING as soon as it is started and STOPPED as soon as it is asked
// to stop, with nothing in between.
#include "common/handles.h"

#include <windows.h>

namespace {

SERVICE_STATUS_HANDLE statusHandle = nullptr;
morix::UniqueHandle stopEvent;

void report(DWORD state) {
    SERVICE_STATUS status{};
    status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    status.dwCurrentState = state;
    status.dwControlsAccepted = state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP : 0;
    SetServiceStatus(statusHandle, &status);
}

DWORD WINAPI control(DWORD code, DWORD, void*, void*) {
    if (code == SERVICE_CONTROL_STOP) {
        SetEvent(stopEvent.get());
    }
    return NO_ERROR;
}

void WINAPI serviceMain(DWORD, wchar_t** argv) {
    statusHandle = RegisterServiceCtrlHandlerExW(argv[0], control, nullptr);
    report(SERVICE_RUNNING);
    // Bounded like every wait: a service nobody stops ends after two minutes.
    WaitForSingleObject(stopEvent.get(), 120000);
    report(SERVICE_STOPPED);
}

} // namespace

int main() {
    stopEvent.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    wchar_t name[] = L"MorixBenchFloor";
    SERVICE_TABLE_ENTRYW table[] = {{name, serviceMain}, {nullptr, nullptr}};
    StartServiceCtrlDispatcherW(table);
    return 0;
}
