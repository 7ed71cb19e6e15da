#include "frame/entry.h"

#include "common/text.h"
#include "config/payload.h"
#include "config/temp_cleanup.h"
#include "frame/log.h"
#include "frame/process_state.h"
#include "frame/run.h"
#include "frame/startup.h"
#include "service/service_control.h"
#include "service/service_host.h"

#include "morix/config_ids.h"
#include "morix/config_values.h"

#include <windows.h>

#include <cstdio>
#include <vector>

namespace morix {

namespace {

void printUsage() {
    std::vector<wchar_t> module(kBufferSize, L'\0');
    GetModuleFileNameW(nullptr, module.data(), kBufferSize);
    module[kBufferSize - 1] = L'\0';
    std::wstring name = module.data();
    size_t slash = name.find_last_of(L"\\/");
    if (slash != std::wstring::npos) {
        name.erase(0, slash + 1);
    }
    size_t dot = name.rfind(L'.');
    if (dot != std::wstring::npos) {
        name.erase(dot);
    }
    // The C runtime's narrow formatting: its wide print drops text on redirected output.
    printText(formatNarrow(
        "Usage: %S.exe /install | /uninstall | /stop | /start | /status | /run | /run-redirect\n",
        name.c_str()));
}

// Executable type 4 registers the service for automatic start.
DWORD configuredStartType() {
    return getConfigInt(ids::kExecutableType) == executable_type::kAutoStartService ? SERVICE_AUTO_START
                                                                                    : SERVICE_DEMAND_START;
}

int runCommand(ArgumentList& arguments, const std::wstring& programPath) {
    serviceMode = false;
    arguments.push_front(programPath);
    runInProcess(arguments, false);
    return 0;
}

// The command table; an unknown word returns false and the dispatcher starts.
bool dispatchCommand(const std::wstring& word, ArgumentList& arguments, const std::wstring& programPath,
                     int& exitCode) {
    if (word == L"?" || word == L"help") {
        printUsage();
        exitCode = 0;
    } else if (word == L"install") {
        exitCode = installService(configuredStartType());
    } else if (word == L"install-and-start") {
        installService(configuredStartType());
        exitCode = startService(arguments);
    } else if (word == L"install-auto") {
        exitCode = installService(SERVICE_AUTO_START);
    } else if (word == L"install-demand") {
        exitCode = installService(SERVICE_DEMAND_START);
    } else if (word == L"uninstall") {
        exitCode = uninstallService(true);
    } else if (word == L"stop") {
        exitCode = stopService(true);
    } else if (word == L"start") {
        exitCode = startService(arguments);
    } else if (word == L"restart") {
        stopService(false);
        exitCode = startService(arguments);
    } else if (word == L"status") {
        exitCode = queryServiceStatus();
    } else if (word == L"run") {
        logMessage(L"running service");
        noRedirect = true;
        exitCode = runCommand(arguments, programPath);
    } else if (word == L"run-redirect") {
        logMessage(L"running service with redirection");
        exitCode = runCommand(arguments, programPath);
    } else {
        return false;
    }
    return true;
}

// Started by the service control manager, the process becomes the service host through serviceMain;
// started from a console, the call fails at once and the process ends with 0.
int startServiceDispatcher() {
    // The table keeps a name of its own: serviceMain rewrites serviceName while the dispatcher runs.
    std::wstring tableName = serviceName;
    SERVICE_TABLE_ENTRYW table[] = {{tableName.data(), serviceMain}, {nullptr, nullptr}};
    logMessage(L"calling StartServiceCtrlDispatcher");
    if (!StartServiceCtrlDispatcherW(table)) {
        logError(L"StartServiceCtrlDispatcher failed with error %d", static_cast<int>(GetLastError()));
    }
    logMessage(L"StartServiceCtrlDispatcher returned");
    if (hostIsEnding()) {
        // The service has reported its end and its thread is ending the process: returning would run
        // the exit handlers beside that thread.
        awaitHostEnd();
    }
    return 0;
}

} // namespace

int launcherMain() {
    {
        // The cleanup helper reads no payload and changes nothing: it only waits and removes.
        ArgumentList helper;
        splitCommandLine(GetCommandLineW(), helper);
        if (helper.size() > 1 && helper[1] == kCleanupArgument) {
            helper.pop_front();
            return runCleanupHelper(helper);
        }
    }
    serviceMode = true;
    initLauncher();
    setServiceName(getConfigStringWide(ids::kServiceName));

    const wchar_t* commandLine = GetCommandLineW();
    logMessage(L"command line %s", commandLine);
    ArgumentList arguments;
    splitCommandLine(commandLine, arguments);
    std::wstring programPath;
    if (!arguments.empty()) {
        programPath = arguments.front();
        arguments.pop_front();
    }

    if (!arguments.empty() && arguments.back() == kRestartMarker) {
        arguments.pop_back();
        runInProcess(arguments, true);
        return 0;
    }

    if (!arguments.empty() && !arguments.front().empty() &&
        (arguments.front()[0] == L'/' || arguments.front()[0] == L'-')) {
        std::wstring word = arguments.front().substr(1);
        if (!word.empty() && word[0] == L'-') {
            word.erase(0, 1);
        }
        arguments.pop_front();
        if (!arguments.empty()) {
            setServiceName(arguments.front());
        }
        int exitCode = 0;
        if (dispatchCommand(word, arguments, programPath, exitCode)) {
            return exitCode;
        }
    }
    return startServiceDispatcher();
}

} // namespace morix
