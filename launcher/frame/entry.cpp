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
#include "service/service_start.h"

#include "morix/config_ids.h"
#include "morix/config_values.h"

#include <windows.h>

#include <cstdio>
#include <optional>
#include <vector>

namespace morix {

namespace {

// The program's file name without its extension, for the usage lines.
std::wstring programName() {
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
    return name;
}

void printUsage() {
    // The C runtime's narrow formatting: its wide print drops text on redirected output.
    printText(formatNarrow(
        "Usage: %S.exe /install | /uninstall | /stop | /start | /status | /run | /run-redirect\n",
        programName().c_str()));
}

// A console start without a command word: the dispatcher would fail, and the process end with 0 and
// no word said.
int explainMissingCommand() {
    const std::wstring name = programName();
    printErrorText(formatNarrow("%S.exe is a Windows service: run it from the command line with \"%S.exe "
                                "/run [arguments]\", or see \"%S.exe /help\" for its commands.\n",
                                name.c_str(), name.c_str(), name.c_str()));
    logError(L"no command word, and not started by the service control manager");
    return 1;
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

// The words that the command table knows.
bool isCommandWord(const std::wstring& word) {
    static const wchar_t* const kWords[] = {
        L"?",           L"help", L"install", L"install-and-start", L"install-auto", L"install-demand",
        L"uninstall",   L"stop", L"start",   L"restart",           L"status",       L"run",
        L"run-redirect"};
    for (const wchar_t* known : kWords) {
        if (word == known) {
            return true;
        }
    }
    return false;
}

// The command word of an argument such as /run, -run or --run; none for anything else.
std::optional<std::wstring> commandWordOf(const std::wstring& argument) {
    if (argument.empty() || (argument[0] != L'/' && argument[0] != L'-')) {
        return std::nullopt;
    }
    std::wstring word = argument.substr(1);
    if (!word.empty() && word[0] == L'-') {
        word.erase(0, 1);
    }
    return isCommandWord(word) ? std::optional(word) : std::nullopt;
}

// The command table, for the words of isCommandWord.
int dispatchCommand(const std::wstring& word, ArgumentList& arguments, const std::wstring& programPath) {
    int exitCode = 1;
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
        logMessage(L"running the application in this process");
        noRedirect = true;
        exitCode = runCommand(arguments, programPath);
    } else if (word == L"run-redirect") {
        logMessage(L"running the application in this process, with its output redirected");
        exitCode = runCommand(arguments, programPath);
    }
    return exitCode;
}

// Started by the service control manager, the process becomes the service host through serviceMain.
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

// No command word: the service itself when the manager started the process; otherwise a console tool
// that runs the application with all its arguments, where the launcher is built so, or a hint.
int runWithoutCommand(ArgumentList& arguments, const std::wstring& programPath) {
    if (startedByServiceManager()) {
        return startServiceDispatcher();
    }
    if (getConfigInt(ids::kRunWithoutCommand) == 0) {
        return explainMissingCommand();
    }
    logMessage(L"no command word: running the application in this process");
    noRedirect = true;
    return runCommand(arguments, programPath);
}

} // namespace

int launcherMain() {
    {
        // The cleanup helper reads no payload and changes nothing: it only waits and removes.
        ArgumentList helper = splitProcessCommandLine(GetCommandLineW());
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
    ArgumentList arguments = splitProcessCommandLine(commandLine);
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

    if (std::optional<std::wstring> word =
            arguments.empty() ? std::nullopt : commandWordOf(arguments.front())) {
        arguments.pop_front();
        if (!arguments.empty()) {
            setServiceName(arguments.front());
        }
        return dispatchCommand(*word, arguments, programPath);
    }
    return runWithoutCommand(arguments, programPath);
}

} // namespace morix
