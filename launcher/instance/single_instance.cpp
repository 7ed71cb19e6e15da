#include "instance/single_instance.h"

#include "common/handles.h"
#include "common/text.h"
#include "common/user32.h"
#include "config/paths.h"
#include "config/payload.h"
#include "frame/fatal.h"
#include "frame/log.h"

#include "morix/config_ids.h"

namespace morix {

std::string semaphoreName;
DWORD windowOwnerPid = 0;

namespace {

constexpr int kMaxInstanceNumber = 100000;
constexpr int kPidRetries = 50;
constexpr DWORD kPidRetryDelayMs = 100;

// Held until the process ends: the name stays taken exactly as long as this instance runs.
UniqueHandle instanceSemaphore;

// Creates (or opens) the named semaphore and reports the last error, ERROR_ALREADY_EXISTS for a taken name.
DWORD createSemaphore(const std::string& name) {
    SetLastError(0);
    instanceSemaphore.reset(CreateSemaphoreA(nullptr, 1, 1, name.c_str()));
    return GetLastError();
}

void logSemaphore(DWORD code) {
    logMessage(L"semaphore name %S, code %d, value %p", semaphoreName.c_str(), static_cast<int>(code),
               instanceSemaphore.get());
}

void claimNumberedSemaphore(const std::string& baseName) {
    DWORD code = 0;
    for (int n = 0; n <= kMaxInstanceNumber; ++n) {
        semaphoreName = cutToCapacity(baseName + std::to_string(n), kBufferSize);
        code = createSemaphore(semaphoreName);
        if (code != ERROR_ALREADY_EXISTS) {
            break;
        }
        // The last number keeps its handle on the existing semaphore, and the run carries on.
    }
    logSemaphore(code);
}

DWORD waitForInstancePid() {
    DWORD pid = readInstancePid();
    // The first instance may not have written its id yet when both start at the same moment.
    for (int retry = 0; pid == 0 && retry < kPidRetries; ++retry) {
        Sleep(kPidRetryDelayMs);
        pid = readInstancePid();
    }
    return pid;
}

void claimSingleSemaphore(const std::string& baseName) {
    logMessage(L"single instance mode");
    semaphoreName = cutToCapacity(baseName, kBufferSize);
    const DWORD code = createSemaphore(semaphoreName);
    logSemaphore(code);
    if (code != ERROR_ALREADY_EXISTS) {
        // The first instance, or a creation that failed for another reason: this process runs.
        writeInstancePid();
        return;
    }
    instanceSemaphore.reset();
    const DWORD pid = waitForInstancePid();
    logMessage(L"other pid %d", static_cast<int>(pid));
    if (pid != 0 && getConfigInt(ids::kRaiseWindows) != 0) {
        bringWindowsToFront(pid, true);
    }
    logMessage(L"exiting");
    exitLauncher(0);
}

struct WindowRaising {
    const User32& user32;
    bool restore;
};

BOOL CALLBACK raiseWindow(HWND window, LPARAM parameter) {
    const WindowRaising& raising = *reinterpret_cast<const WindowRaising*>(parameter);
    const User32& user32 = raising.user32;
    DWORD owner = 0;
    user32.getWindowThreadProcessId(window, &owner);
    if (!user32.isWindowVisible(window) || owner != windowOwnerPid) {
        return TRUE;
    }
    logMessage(L"found window %p", window);
    if (raising.restore && user32.isIconic(window)) {
        logMessage(L"restore");
        user32.showWindow(window, SW_RESTORE);
    }
    logMessage(L"foreground");
    user32.setForegroundWindow(window);
    logMessage(L"popup");
    user32.setForegroundWindow(user32.getLastActivePopup(window));
    logMessage(L"done");
    return TRUE;
}

} // namespace

void appendMangledPath(std::string& destination, const std::string& source) {
    for (char c : source) {
        destination += c == '\\' || c == ' ' ? '_' : c;
    }
}

std::string instanceKey() {
    return resolveFullPath(getExecutablePath(), false);
}

void checkSingleInstance() {
    std::string baseName = getConfigInt(ids::kGlobalSemaphore) != 0 ? "Global\\" : "Local\\";
    appendMangledPath(baseName, instanceKey());
    if (getConfigInt(ids::kSingleInstance) == 0) {
        claimNumberedSemaphore(baseName);
    } else {
        claimSingleSemaphore(baseName);
    }
}

void writeInstancePid() {
    UniqueRegKey key;
    LONG status = RegCreateKeyExA(HKEY_CURRENT_USER, kInstancePidKey, 0, nullptr, REG_OPTION_NON_VOLATILE,
                                  KEY_ALL_ACCESS, nullptr, key.receive(), nullptr);
    if (status != ERROR_SUCCESS) {
        logError(L"RegCreateKeyExA of the instance key failed with error %d", static_cast<int>(status));
        return;
    }
    const DWORD pid = GetCurrentProcessId();
    status = RegSetValueExA(key.get(), instanceKey().c_str(), 0, REG_DWORD,
                            reinterpret_cast<const BYTE*>(&pid), sizeof pid);
    if (status != ERROR_SUCCESS) {
        logError(L"RegSetValueExA of the instance pid failed with error %d", static_cast<int>(status));
    }
}

DWORD readInstancePid() {
    UniqueRegKey key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kInstancePidKey, 0, KEY_READ, key.receive()) != ERROR_SUCCESS) {
        return 0;
    }
    DWORD pid = 0;
    DWORD size = sizeof pid;
    // The type is not checked: any 4-byte value is taken as the process id.
    LONG status = RegQueryValueExA(key.get(), instanceKey().c_str(), nullptr, nullptr,
                                   reinterpret_cast<BYTE*>(&pid), &size);
    return status == ERROR_SUCCESS && size == sizeof pid ? pid : 0;
}

void bringWindowsToFront(DWORD pid, bool restore) {
    windowOwnerPid = pid;
    // Loaded for the raising only: an instance that hands over without it never loads user32.dll.
    User32 user32;
    if (!user32.canRaiseWindows()) {
        logError(L"user32.dll could not be loaded, error %lu", GetLastError());
        return;
    }
    WindowRaising raising{user32, restore};
    user32.enumWindows(raiseWindow, reinterpret_cast<LPARAM>(&raising));
}

} // namespace morix
