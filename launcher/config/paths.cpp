#include "config/paths.h"

#include "common/handles.h"
#include "common/text.h"
#include "frame/log.h"

#include <windows.h>

#include <vector>

namespace morix {
namespace {

struct ExecutablePaths {
    std::wstring wide;
    std::string narrow;
};

std::string directoryOf(const std::string& path) {
    size_t slash = path.find_last_of("\\/");
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::wstring directoryOf(const std::wstring& path) {
    size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash + 1);
}

std::optional<std::string> acceptableNarrow(const std::wstring& wide) {
    bool lossy = false;
    std::string narrow = wideToNarrow(wide, &lossy);
    if (!lossy && narrow.size() >= 5 && endsWithNoCase(narrow, ".exe")) {
        return narrow;
    }
    return std::nullopt;
}

ExecutablePaths computeExecutablePaths() {
    ExecutablePaths paths;
    std::vector<wchar_t> module(kBufferSize, L'\0');
    DWORD moduleLength = GetModuleFileNameW(nullptr, module.data(), kBufferSize);
    module[kBufferSize - 1] = L'\0';
    std::vector<wchar_t> longName(kBufferSize, L'\0');
    DWORD longLength = GetLongPathNameW(module.data(), longName.data(), kBufferSize);
    logMessage(L"init file name %s %s %d %d", module.data(), longName.data(), static_cast<int>(longLength),
               static_cast<int>(GetLastError()));
    paths.wide = longLength == 0 || longLength >= kBufferSize ? std::wstring(module.data(), moduleLength)
                                                              : std::wstring(longName.data(), longLength);

    if (std::optional<std::string> narrow = acceptableNarrow(paths.wide)) {
        paths.narrow = *narrow;
    } else {
        std::vector<wchar_t> shortName(kBufferSize, L'\0');
        DWORD shortLength = GetShortPathNameW(paths.wide.c_str(), shortName.data(), kBufferSize);
        std::optional<std::string> narrowShort;
        if (shortLength > 0 && shortLength < kBufferSize) {
            narrowShort = acceptableNarrow(std::wstring(shortName.data(), shortLength));
        }
        if (narrowShort) {
            paths.narrow = *narrowShort;
        } else {
            std::optional<std::string> viaShell = getShortPathViaShell(paths.wide);
            if (viaShell && endsWithNoCase(*viaShell, ".exe")) {
                paths.narrow = *viaShell;
            } else {
                std::vector<char> moduleA(kBufferSize, '\0');
                GetModuleFileNameA(nullptr, moduleA.data(), kBufferSize);
                moduleA[kBufferSize - 1] = '\0';
                std::vector<char> shortA(kBufferSize, '\0');
                DWORD length = GetShortPathNameA(moduleA.data(), shortA.data(), kBufferSize);
                if (length > 0 && length < kBufferSize) {
                    paths.narrow.assign(shortA.data(), length);
                }
            }
        }
    }
    collapseBackslashes(paths.wide);
    collapseBackslashes(paths.narrow);
    return paths;
}

const ExecutablePaths& executablePaths() {
    static const ExecutablePaths paths = computeExecutablePaths();
    return paths;
}

std::string fullPathOf(const std::string& path) {
    std::vector<char> buffer(kBufferSize, '\0');
    DWORD length = GetFullPathNameA(path.c_str(), kBufferSize, buffer.data(), nullptr);
    return length > 0 && length < kBufferSize ? std::string(buffer.data(), length) : path;
}

std::wstring fullPathOf(const std::wstring& path) {
    std::vector<wchar_t> buffer(kBufferSize, L'\0');
    DWORD length = GetFullPathNameW(path.c_str(), kBufferSize, buffer.data(), nullptr);
    return length > 0 && length < kBufferSize ? std::wstring(buffer.data(), length) : path;
}

template <typename Char>
bool isRelative(std::basic_string_view<Char> path) {
    if (!path.empty() && path[0] == Char('"')) {
        path.remove_prefix(1);
    }
    if (path.size() < 3) {
        return true;
    }
    bool drive =
        ((path[0] >= Char('A') && path[0] <= Char('Z')) || (path[0] >= Char('a') && path[0] <= Char('z'))) &&
        path[1] == Char(':') && path[2] == Char('\\');
    bool unc = path[0] == Char('\\') && path[1] == Char('\\');
    return !(drive || unc);
}

template <typename String>
bool isDriveRoot(const String& path) {
    using Char = typename String::value_type;
    if (path.size() < 3 || path[1] != Char(':') || path[2] != Char('\\')) {
        return false;
    }
    auto rest = path.substr(3);
    return rest.empty() || rest == String(1, Char('.')) || rest == String({Char('.'), Char('\\'), Char('.')});
}

template <typename String>
void collapse(String& path) {
    using Char = typename String::value_type;
    if (path.empty()) {
        return;
    }
    String result(1, path[0]);
    for (size_t i = 1; i < path.size(); ++i) {
        // A second backslash at index 1 is the leading pair of a UNC path and stays.
        if (path[i] == Char('\\') && result.back() == Char('\\') && i > 1) {
            continue;
        }
        result += path[i];
    }
    path = std::move(result);
}

} // namespace

const std::wstring& getExecutablePathWide() {
    return executablePaths().wide;
}

const std::string& getExecutablePath() {
    return executablePaths().narrow;
}

const std::string& getExecutableDirectory() {
    static const std::string directory = [] {
        std::string full = fullPathOf(directoryOf(getExecutablePath()));
        if (!full.empty() && full.back() != '\\') {
            full += '\\';
        }
        return full;
    }();
    return directory;
}

const std::wstring& getExecutableDirectoryNarrowSafe() {
    static const std::wstring directory = narrowToWide(getExecutableDirectory());
    return directory;
}

const std::wstring& getExecutableDirectoryWide() {
    static const std::wstring directory = [] {
        std::wstring full = fullPathOf(directoryOf(getExecutablePathWide()));
        if (!full.empty() && full.back() != L'\\') {
            full += L'\\';
        }
        return full;
    }();
    return directory;
}

std::optional<std::string> getShortPathViaShell(const std::wstring& path) {
    SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    UniqueHandle readEnd;
    UniqueHandle writeEnd;
    if (!CreatePipe(readEnd.receive(), writeEnd.receive(), &inheritable, 0)) {
        logMessage(L"CreatePipe error (%d)", static_cast<int>(GetLastError()));
        return std::nullopt;
    }
    if (!SetHandleInformation(readEnd.get(), HANDLE_FLAG_INHERIT, 0)) {
        logMessage(L"SetHandleInformation error (%d)", static_cast<int>(GetLastError()));
        return std::nullopt;
    }
    wchar_t windows[MAX_PATH + 1] = L"";
    UINT windowsLength = GetWindowsDirectoryW(windows, MAX_PATH + 1);
    if (windowsLength == 0 || windowsLength > MAX_PATH) {
        windows[0] = L'\0';
    }
    std::wstring commandLine =
        formatWide(L"%s\\system32\\cmd.exe /C for %%I in (\"%s\") do @echo %%~sI", windows, path.c_str());
    logMessage(L"executing %s", commandLine.c_str());

    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = nullptr;
    startup.hStdOutput = writeEnd.get();
    startup.hStdError = writeEnd.get();
    PROCESS_INFORMATION process{};
    std::vector<wchar_t> mutableCommandLine(commandLine.begin(), commandLine.end());
    mutableCommandLine.push_back(L'\0');
    if (!CreateProcessW(nullptr, mutableCommandLine.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr,
                        nullptr, &startup, &process)) {
        logMessage(L"could not execute cmd.exe");
        return std::nullopt;
    }
    UniqueHandle processHandle(process.hProcess);
    UniqueHandle threadHandle(process.hThread);
    writeEnd.reset();

    std::string output;
    char chunk[512];
    DWORD bytesRead = 0;
    while (ReadFile(readEnd.get(), chunk, sizeof chunk, &bytesRead, nullptr) && bytesRead > 0) {
        output.append(chunk, bytesRead);
        if (output.size() >= kBufferSize) {
            output.resize(kBufferSize - 1);
            break;
        }
    }
    logMessage(L"finished reading from cmd.exe %d \"%S\"", static_cast<int>(output.size()), output.c_str());
    // The pipe ends when cmd.exe exits; a short wait covers the moment between the two.
    WaitForSingleObject(processHandle.get(), 5000);
    DWORD exitCode = 0;
    GetExitCodeProcess(processHandle.get(), &exitCode);
    logMessage(L"Exit Code %d", static_cast<int>(exitCode));
    if (exitCode == STILL_ACTIVE) {
        logMessage(L"Terminating process");
        TerminateProcess(processHandle.get(), 1);
        return std::nullopt;
    }
    if (exitCode != 0 || output.size() <= 5) {
        return std::nullopt;
    }
    size_t lineEnd = output.find_first_of("\r\n");
    if (lineEnd == std::string::npos) {
        return std::nullopt;
    }
    std::string answer = output.substr(0, lineEnd);
    logMessage(L"Using %S", answer.c_str());
    return answer;
}

bool isRelativePath(std::string_view path) {
    return isRelative(path);
}

bool isRelativePath(std::wstring_view path) {
    return isRelative(path);
}

bool fileExists(const std::string& path) {
    if (isDriveRoot(path)) {
        return true;
    }
    WIN32_FIND_DATAA entry;
    UniqueFindHandle find(FindFirstFileA(path.c_str(), &entry));
    return find.valid();
}

bool fileExists(const std::wstring& path) {
    if (isDriveRoot(path)) {
        return true;
    }
    WIN32_FIND_DATAW entry;
    UniqueFindHandle find(FindFirstFileW(path.c_str(), &entry));
    return find.valid();
}

bool findFileTime(const std::string& path, uint64_t* lastWriteTime) {
    WIN32_FIND_DATAA entry;
    UniqueFindHandle find(FindFirstFileA(path.c_str(), &entry));
    if (!find) {
        return false;
    }
    if (lastWriteTime) {
        *lastWriteTime = (static_cast<uint64_t>(entry.ftLastWriteTime.dwHighDateTime) << 32) |
                         entry.ftLastWriteTime.dwLowDateTime;
    }
    return true;
}

void collapseBackslashes(std::wstring& path) {
    collapse(path);
}

void collapseBackslashes(std::string& path) {
    bool lossy = false;
    std::wstring wide = narrowToWide(path);
    collapse(wide);
    std::string narrow = wideToNarrow(wide, &lossy);
    if (!lossy) {
        path = narrow;
    }
}

void lowercasePath(std::string& path) {
    std::wstring wide = narrowToWide(path);
    for (wchar_t& c : wide) {
        if (c >= L'A' && c <= L'Z') {
            c = static_cast<wchar_t>(c + (L'a' - L'A'));
        }
    }
    bool lossy = false;
    std::string narrow = wideToNarrow(wide, &lossy);
    if (!lossy) {
        path = narrow;
    }
}

std::string resolvePath(const std::string& path, const std::string* baseFile) {
    std::string resolved = path;
    if (isRelativePath(path)) {
        resolved = (baseFile ? directoryOf(fullPathOf(*baseFile)) : getExecutableDirectory()) + path;
    }
    collapseBackslashes(resolved);
    return resolved;
}

std::wstring resolvePathWide(const std::wstring& path, bool narrowSafe, const std::wstring* baseFile) {
    std::wstring resolved = path;
    if (isRelativePath(path)) {
        const std::wstring& directory = baseFile     ? directoryOf(fullPathOf(*baseFile))
                                        : narrowSafe ? getExecutableDirectoryNarrowSafe()
                                                     : getExecutableDirectoryWide();
        resolved = directory + path;
    }
    collapseBackslashes(resolved);
    return resolved;
}

std::string resolveFullPath(const std::string& path, bool keepCase) {
    std::string resolved = fullPathOf(resolvePath(path));
    if (!keepCase) {
        lowercasePath(resolved);
    }
    collapseBackslashes(resolved);
    return resolved;
}

std::wstring resolveFullPathWide(const std::wstring& path, bool narrowSafe, bool keepCase) {
    std::wstring resolved = fullPathOf(resolvePathWide(path, narrowSafe));
    if (!keepCase) {
        for (wchar_t& c : resolved) {
            if (c >= L'A' && c <= L'Z') {
                c = static_cast<wchar_t>(c + (L'a' - L'A'));
            }
        }
    }
    collapseBackslashes(resolved);
    return resolved;
}

std::string resolvePathList(const std::string& list,
                            const std::function<void(const std::string&)>& callback) {
    std::string result;
    for (const std::string& element : splitList(list)) {
        if (!result.empty()) {
            result += ';';
        }
        std::string resolved = resolvePath(element);
        result += resolved;
        if (callback) {
            callback(resolved);
        }
    }
    return result;
}

} // namespace morix
