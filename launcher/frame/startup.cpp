#include "frame/startup.h"

#include "common/text.h"
#include "config/extract.h"
#include "config/paths.h"
#include "config/payload.h"
#include "frame/log.h"
#include "windows/variables.h"

#include "morix/config_ids.h"

#include <windows.h>

#include <cstdlib>
#include <vector>

namespace morix {

char launcherFlavour = '\0';

namespace {

// The largest value an environment variable can have, terminator included.
constexpr DWORD kMaxEnvironmentValue = 32767;

bool beginsWithNoCase(std::wstring_view text, std::wstring_view prefix) {
    return text.size() >= prefix.size() &&
           CompareStringOrdinal(text.data(), static_cast<int>(prefix.size()), prefix.data(),
                                static_cast<int>(prefix.size()), TRUE) == CSTR_EQUAL;
}

// PATH as the process sees it; false when it is unset, empty or cannot be read.
bool readPath(std::wstring& path, DWORD& size) {
    size = GetEnvironmentVariableW(L"PATH", nullptr, 0);
    if (size == 0 || size > kMaxEnvironmentValue) {
        return false;
    }
    std::vector<wchar_t> buffer(size, L'\0');
    DWORD length = GetEnvironmentVariableW(L"PATH", buffer.data(), size);
    if (length == 0 || length >= size) {
        return false;
    }
    path.assign(buffer.data(), length);
    return true;
}

// Cuts PATH down to the Windows directory, so that no DLL of some other program is picked up by the VM.
void reducePath() {
    std::wstring path;
    DWORD size = 0;
    if (!readPath(path, size)) {
        return;
    }
    wchar_t windows[MAX_PATH] = L"";
    UINT windowsLength = GetWindowsDirectoryW(windows, MAX_PATH);
    if (windowsLength == 0 || windowsLength >= MAX_PATH) {
        return;
    }
    logMessage(L"reducing PATH %d %d %s", static_cast<int>(windowsLength), static_cast<int>(size),
               path.c_str());
    std::wstring reduced = reducePathList(path, std::wstring(windows, windowsLength));
    logMessage(L"reduced PATH %d to %s", static_cast<int>(reduced.size()), reduced.c_str());
    // Nothing under the Windows directory: an empty PATH would help nobody, so it stays as it was.
    if (!reduced.empty() && !SetEnvironmentVariableW(L"PATH", reduced.c_str())) {
        const DWORD error = GetLastError();
        logMessage(L"ERROR setting path");
        logError(L"SetEnvironmentVariableW error %lu", error);
    }
}

// Both the process environment (children, and a JVM that reads it) and the C runtime's copy (getenv).
void removeJavaOptionVariables() {
    logMessage(L"ignoring java options environment variables");
    for (const char* name : kJavaOptionVariables) {
        SetEnvironmentVariableA(name, nullptr);
    }
    for (const char* name : kJavaOptionVariables) {
        _putenv_s(name, "");
    }
}

void changeWorkingDirectory() {
    std::wstring directory = getConfigStringWide(ids::kWorkingDirectory, kBufferSize);
    if (directory.empty()) {
        logMessage(L"working directory unchanged");
        return;
    }
    expandVariables(directory, true);
    directory = resolvePathWide(directory, true);
    const BOOL changed = SetCurrentDirectoryW(directory.c_str());
    const DWORD error = GetLastError();
    logMessage(L"change working directory to %s", directory.c_str());
    // The run goes on in the inherited directory; the log says so.
    if (!changed) {
        logError(L"SetCurrentDirectoryW error %lu, staying in the inherited directory", error);
    }
}

} // namespace

std::wstring reducePathList(const std::wstring& path, const std::wstring& windowsDirectory) {
    std::wstring reduced;
    for (const std::wstring& element : splitList(path)) {
        if (beginsWithNoCase(element, windowsDirectory)) {
            if (!reduced.empty()) {
                reduced += L';';
            }
            reduced += element;
        }
    }
    return reduced;
}

void initLauncher() {
    // A fatal error during start-up must remove nothing.
    appTempDir.clear();
    loadPayload();
    launcherFlavour = getConfigString(ids::kLauncherFlavour, 2)[0];
    if (getConfigInt(ids::kReducePath) != 0) {
        reducePath();
    }
    if (getConfigInt(ids::kRemoveJavaOptionVariables) != 0) {
        removeJavaOptionVariables();
    }
    changeWorkingDirectory();
}

} // namespace morix
