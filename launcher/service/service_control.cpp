#include "service/service_control.h"

#include "common/handles.h"
#include "common/text.h"
#include "config/paths.h"
#include "config/payload.h"
#include "frame/log.h"
#include "frame/process_state.h"

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

std::string encodeForCodePage(std::wstring_view text, UINT codePage) {
    if (text.empty()) {
        return {};
    }
    // UTF-8 and UTF-7 accept neither flags nor a default character.
    const bool unicode = codePage == CP_UTF8 || codePage == CP_UTF7;
    const DWORD flags = unicode ? 0 : WC_NO_BEST_FIT_CHARS;
    const char* fallback = unicode ? nullptr : "?";
    const int length = static_cast<int>(text.size());
    int size = WideCharToMultiByte(codePage, flags, text.data(), length, nullptr, 0, fallback, nullptr);
    if (size <= 0) {
        return wideToNarrow(text);
    }
    std::string bytes(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(codePage, flags, text.data(), length, bytes.data(), size, fallback, nullptr);
    return bytes;
}

// The service name as the reader will see it: in the console's output code page when standard output
// is a console, otherwise in the ANSI code page of files and pipes. Characters that the code page
// cannot show become "?", so a message is never cut or dropped because of the name.
std::string printableServiceName() {
    HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
    if (output != nullptr && output != INVALID_HANDLE_VALUE && GetFileType(output) == FILE_TYPE_CHAR) {
        if (UINT codePage = GetConsoleOutputCP(); codePage != 0) {
            return encodeForCodePage(serviceName, codePage);
        }
    }
    return wideToNarrow(serviceName);
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

// The description is optional: without the function, or when it fails, the service simply has none.
void setServiceDescription(SC_HANDLE service) {
    std::wstring description = getConfigWideString(ids::kServiceDescription);
    if (description.empty()) {
        return;
    }
    auto changeConfig = lookupFunction<decltype(&ChangeServiceConfig2W)>(GetModuleHandleA("advapi32.dll"),
                                                                         "ChangeServiceConfig2W");
    if (changeConfig == nullptr) {
        return;
    }
    SERVICE_DESCRIPTIONW info{description.data()};
    if (!changeConfig(service, SERVICE_CONFIG_DESCRIPTION, &info)) {
        logError(L"ChangeServiceConfig2W failed (%d)", static_cast<int>(GetLastError()));
    }
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

int installService(DWORD startType) {
    uninstallService(false);
    UniqueServiceHandle manager = openManager(SC_MANAGER_ALL_ACCESS);
    if (!manager) {
        print("Could not open SCManager.\n");
        return 1;
    }
    const std::wstring programPath = L"\"" + getExecutablePathWide() + L"\"";
    const std::optional<std::wstring> dependencies = getServiceDependencies();
    UniqueServiceHandle service(
        CreateServiceW(manager.get(), serviceName.c_str(), serviceName.c_str(), SERVICE_ALL_ACCESS,
                       SERVICE_WIN32_OWN_PROCESS, startType, SERVICE_ERROR_NORMAL, programPath.c_str(),
                       nullptr, nullptr, dependencies ? dependencies->c_str() : nullptr, nullptr, nullptr));
    if (!service) {
        logError(L"CreateService '%s' failed (%d)", serviceName.c_str(), static_cast<int>(GetLastError()));
        print("Could not create service.\n");
        return 1;
    }
    setServiceDescription(service.get());
    printWithName("Installed service '%s'.\n");
    return 0;
}

int uninstallService(bool verbose) {
    stopService(false);
    UniqueServiceHandle manager = openManager(SC_MANAGER_ALL_ACCESS);
    if (!manager) {
        if (verbose) {
            print("Could not open SCManager.\n");
        }
        return 1;
    }
    UniqueServiceHandle service = openService(manager.get(), DELETE);
    if (!service || !DeleteService(service.get())) {
        if (service) {
            logError(L"DeleteService '%s' failed (%d)", serviceName.c_str(),
                     static_cast<int>(GetLastError()));
        }
        if (verbose) {
            print("Could not delete service.\n");
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
            print("Could not open SCManager.\n");
        }
        return 1;
    }
    UniqueServiceHandle service = openService(manager.get(), SERVICE_STOP | SERVICE_QUERY_STATUS);
    if (!service) {
        if (verbose) {
            print("Could not stop service.\n");
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
        print("Could not stop service.\n");
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
        print("Could not open SCManager.\n");
        return 1;
    }
    UniqueServiceHandle service = openService(manager.get(), SERVICE_START);
    if (!service) {
        print(formatNarrow("Could not start service. Error code: %d\n", static_cast<int>(GetLastError())));
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
    print(formatNarrow("Could not start service. Error code: %d\n", static_cast<int>(error)));
    return 1;
}

int queryServiceStatus() {
    UniqueServiceHandle manager = openManager(SC_MANAGER_CONNECT);
    if (!manager) {
        print("Could not open SCManager.\n");
        return 1;
    }
    UniqueServiceHandle service = openService(manager.get(), SERVICE_QUERY_CONFIG | SERVICE_QUERY_STATUS);
    SERVICE_STATUS status{};
    if (!service || !QueryServiceStatus(service.get(), &status)) {
        if (service) {
            logError(L"QueryServiceStatus failed (%d)", static_cast<int>(GetLastError()));
        }
        print("Could not get status.\n");
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
        return 1;
    }
    if (reinterpret_cast<const QUERY_SERVICE_CONFIGA*>(buffer.data())->dwStartType == SERVICE_AUTO_START) {
        print(formatNarrow("%s.\n", "Auto-start"));
    }
    return running ? 0 : 3;
}

} // namespace morix
