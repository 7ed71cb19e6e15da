#include "service/service_control.h"

#include "common/handles.h"
#include "common/text.h"
#include "config/paths.h"
#include "config/payload.h"
#include "frame/log.h"
#include "frame/process_state.h"
#include "service/service_account.h"
#include "service/service_messages.h"
#include "service/service_settings.h"

#include "morix/config_ids.h"

#include <cstdio>
#include <vector>

namespace morix {
namespace {

// A stop that keeps reporting progress is still given up after this long, so the command always ends.
constexpr ULONGLONG kStopWaitCeilingMs = 5 * 60 * 1000;
// The configuration record of one service is a few kilobytes; anything beyond this is not believed.
constexpr DWORD kConfigBufferLimit = 256 * 1024;

void print(const std::string& text) {
    printText(text);
}

// A failure message and, on the next line, the reason for it.
void printFailure(const char* message, DWORD error) {
    print(message);
    printFailureReason(error);
}

std::string printableServiceName() {
    return printableText(serviceName);
}

void printWithName(const char* format) {
    print(formatNarrow(format, printableServiceName().c_str()));
}

UniqueServiceHandle openManager(DWORD access) {
    UniqueServiceHandle manager(OpenSCManagerA(nullptr, nullptr, access));
    if (!manager) {
        const DWORD error = GetLastError();
        logError(L"OpenSCManager failed (%d)", static_cast<int>(error));
        SetLastError(error); // for the caller's message
    }
    return manager;
}

UniqueServiceHandle openService(SC_HANDLE manager, DWORD access) {
    UniqueServiceHandle service(OpenServiceW(manager, serviceName.c_str(), access));
    if (!service) {
        const DWORD error = GetLastError();
        logError(L"OpenService '%s' failed (%d)", serviceName.c_str(), static_cast<int>(error));
        SetLastError(error); // for the caller's message
    }
    return service;
}

// QueryServiceConfigA into a buffer that grows to the size the manager asks for: a long program path
// must not turn a status query into a failure.
bool queryServiceConfig(SC_HANDLE service, std::vector<char>& buffer, DWORD& needed) {
    buffer.assign(kBufferSize, '\0');
    for (int attempt = 0; attempt < 3; ++attempt) {
        needed = 0;
        if (QueryServiceConfigA(service, reinterpret_cast<QUERY_SERVICE_CONFIGA*>(buffer.data()),
                                static_cast<DWORD>(buffer.size()), &needed)) {
            return true;
        }
        if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || needed <= buffer.size() ||
            needed > kConfigBufferLimit) {
            return false;
        }
        buffer.assign(needed, '\0');
    }
    return false;
}

} // namespace

std::optional<std::wstring> getServiceDependencies() {
    const std::wstring setting = getConfigStringWide(ids::kServiceDependencies);
    std::wstring list;
    // Runs of commas and commas at either end give no empty names; spaces stay part of the names.
    for (const std::wstring& name : splitList(setting, L',')) {
        list += name;
        list.push_back(L'\0');
    }
    if (list.empty()) {
        return std::nullopt;
    }
    list.push_back(L'\0');
    return list;
}

namespace {

// Whatever the configuration adds to the new registration; false when some of it could not be set.
bool applyInstallSettings(SC_HANDLE service, DWORD startType, const ServiceAccount& account) {
    setServiceDescription(service);
    bool complete = setDelayedStart(service, startType);
    complete = setRecovery(service) && complete;
    if (account.kind == AccountKind::User) {
        complete = grantServiceLogonRight(account) && complete;
    }
    return complete;
}

} // namespace

int installService(DWORD startType) {
    // Asked before anything changes: a refused password leaves an existing registration as it was.
    const std::optional<ServiceAccount> account = serviceAccount();
    if (!account) {
        return 1;
    }
    uninstallService(false);
    UniqueServiceHandle manager = openManager(SC_MANAGER_ALL_ACCESS);
    if (!manager) {
        printFailure("Could not open SCManager.\n", GetLastError());
        return 1;
    }
    const std::wstring programPath = L"\"" + getExecutablePathWide() + L"\"";
    const std::optional<std::wstring> dependencies = getServiceDependencies();
    const std::wstring displayName = serviceDisplayName();
    UniqueServiceHandle service(CreateServiceW(
        manager.get(), serviceName.c_str(), displayName.c_str(), SERVICE_ALL_ACCESS,
        SERVICE_WIN32_OWN_PROCESS, startType, SERVICE_ERROR_NORMAL, programPath.c_str(), nullptr, nullptr,
        dependencies ? dependencies->c_str() : nullptr, account->accountName(), account->accountPassword()));
    if (!service) {
        const DWORD error = GetLastError();
        logError(L"CreateService '%s' failed (%d)", serviceName.c_str(), static_cast<int>(error));
        printFailure("Could not create service.\n", error);
        return 1;
    }
    printWithName("Installed service '%s'.\n");
    return applyInstallSettings(service.get(), startType, *account) ? 0 : 1;
}

int uninstallService(bool verbose) {
    stopService(false);
    UniqueServiceHandle manager = openManager(SC_MANAGER_ALL_ACCESS);
    if (!manager) {
        if (verbose) {
            printFailure("Could not open SCManager.\n", GetLastError());
        }
        return 1;
    }
    UniqueServiceHandle service = openService(manager.get(), DELETE);
    if (!service || !DeleteService(service.get())) {
        const DWORD error = GetLastError();
        if (service) {
            logError(L"DeleteService '%s' failed (%d)", serviceName.c_str(), static_cast<int>(error));
        }
        if (verbose) {
            printFailure("Could not delete service.\n", error);
        }
        return 1;
    }
    if (verbose) {
        printWithName("Uninstalled service '%s'.\n");
    }
    return 0;
}

int stopService(bool verbose) {
    UniqueServiceHandle manager = openManager(SC_MANAGER_CONNECT);
    if (!manager) {
        if (verbose) {
            printFailure("Could not open SCManager.\n", GetLastError());
        }
        return 1;
    }
    UniqueServiceHandle service = openService(manager.get(), SERVICE_STOP | SERVICE_QUERY_STATUS);
    if (!service) {
        if (verbose) {
            printFailure("Could not stop service.\n", GetLastError());
        }
        return 1;
    }
    SERVICE_STATUS status{};
    if (ControlService(service.get(), SERVICE_CONTROL_STOP, &status)) {
        printWithName("Stopping service '%s'.\n");
        print(waitForServiceStop(service.get()) ? "Service stopped\n" : "Error while stopping service\n");
        return 0;
    }
    const DWORD error = GetLastError();
    if (error == ERROR_SERVICE_NOT_ACTIVE) {
        print("Service is already stopped.\n");
        return 0;
    }
    logError(L"ControlService stop '%s' failed (%d)", serviceName.c_str(), static_cast<int>(error));
    if (verbose) {
        printFailure("Could not stop service.\n", error);
    }
    return 1;
}

bool waitForServiceStop(SC_HANDLE service) {
    SERVICE_STATUS status{};
    if (!QueryServiceStatus(service, &status)) {
        return false;
    }
    const ULONGLONG started = GetTickCount64();
    ULONGLONG progressTime = started;
    DWORD checkPoint = status.dwCheckPoint;
    while (status.dwCurrentState == SERVICE_STOP_PENDING) {
        Sleep(500);
        if (!QueryServiceStatus(service, &status)) {
            return false;
        }
        const ULONGLONG now = GetTickCount64();
        if (status.dwCheckPoint > checkPoint) {
            progressTime = now;
            checkPoint = status.dwCheckPoint;
        } else if (now - progressTime > status.dwWaitHint) {
            break;
        }
        if (now - started > kStopWaitCeilingMs) {
            break;
        }
    }
    return status.dwCurrentState == SERVICE_STOPPED;
}

int startService(const ArgumentList& arguments) {
    UniqueServiceHandle manager = openManager(SC_MANAGER_CONNECT);
    if (!manager) {
        printFailure("Could not open SCManager.\n", GetLastError());
        return 1;
    }
    UniqueServiceHandle service = openService(manager.get(), SERVICE_START);
    if (!service) {
        const DWORD error = GetLastError();
        printFailure(
            formatNarrow("Could not start service. Error code: %d\n", static_cast<int>(error)).c_str(),
            error);
        return 1;
    }
    std::vector<const wchar_t*> parameters;
    for (size_t i = 1; i < arguments.size(); ++i) {
        parameters.push_back(arguments[i].c_str());
    }
    if (StartServiceW(service.get(), static_cast<DWORD>(parameters.size()),
                      parameters.empty() ? nullptr : parameters.data())) {
        printWithName("Starting service '%s'.\n");
        return 0;
    }
    const DWORD error = GetLastError();
    if (error == ERROR_SERVICE_ALREADY_RUNNING) {
        print("Service is already running.\n");
        return 0;
    }
    logError(L"StartService '%s' failed (%d)", serviceName.c_str(), static_cast<int>(error));
    printFailure(formatNarrow("Could not start service. Error code: %d\n", static_cast<int>(error)).c_str(),
                 error);
    return 1;
}

int queryServiceStatus() {
    UniqueServiceHandle manager = openManager(SC_MANAGER_CONNECT);
    if (!manager) {
        printFailure("Could not open SCManager.\n", GetLastError());
        return 1;
    }
    UniqueServiceHandle service = openService(manager.get(), SERVICE_QUERY_CONFIG | SERVICE_QUERY_STATUS);
    SERVICE_STATUS status{};
    if (!service || !QueryServiceStatus(service.get(), &status)) {
        const DWORD error = GetLastError();
        if (service) {
            logError(L"QueryServiceStatus failed (%d)", static_cast<int>(error));
        }
        printFailure("Could not get status.\n", error);
        return 1;
    }
    const bool running = status.dwCurrentState == SERVICE_RUNNING;
    print(running ? "Running.\n" : "Not running.\n");

    std::vector<char> buffer;
    DWORD needed = 0;
    if (!queryServiceConfig(service.get(), buffer, needed)) {
        const DWORD error = GetLastError();
        logError(L"QueryServiceConfig failed (%d)", static_cast<int>(error));
        print(formatNarrow("Could not get config (%d, %d).\n", static_cast<int>(error),
                           static_cast<int>(needed)));
        printFailureReason(error);
        return 1;
    }
    if (reinterpret_cast<const QUERY_SERVICE_CONFIGA*>(buffer.data())->dwStartType == SERVICE_AUTO_START) {
        print(formatNarrow("%s.\n", "Auto-start"));
    }
    return running ? 0 : 3;
}

} // namespace morix
