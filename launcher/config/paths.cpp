#include "config/paths.h"

#include "common/handles.h"
#include "common/process.h"
#include "common/text.h"
#include "frame/log.h"

#include <windows.h>

#include <algorithm>
#include <string_view>
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
    // A name cut at the buffer's end keeps what fits.
    const DWORD moduleLength =
        std::min<DWORD>(GetModuleFileNameW(nullptr, module.data(), kBufferSize), kBufferSize - 1);
    module[moduleLength] = L'\0';
    std::vector<wchar_t> longName(kBufferSize, L'\0');
    DWORD longLength = 0;
    if (mayHoldShortName(std::wstring_view(module.data(), moduleLength))) {
        longLength = GetLongPathNameW(module.data(), longName.data(), kBufferSize);
    } else {
        SetLastError(ERROR_SUCCESS);
        std::copy_n(module.data(), moduleLength + 1, longName.data());
        longLength = moduleLength;
    }
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

std::wstring windowsDirectory() {
    wchar_t windows[MAX_PATH + 1] = L"";
    UINT length = GetWindowsDirectoryW(windows, MAX_PATH + 1);
    return length == 0 || length > MAX_PATH ? std::wstring() : std::wstring(windows, length);
}

// Everything a child writes into the pipe until it ends, at most what a path buffer holds.
std::string readPipeToEnd(HANDLE pipe) {
    std::string output;
    char chunk[512];
    DWORD bytesRead = 0;
    while (ReadFile(pipe, chunk, sizeof chunk, &bytesRead, nullptr) && bytesRead > 0) {
        output.append(chunk, bytesRead);
        if (output.size() >= kBufferSize) {
            output.resize(kBufferSize - 1);
            break;
        }
    }
    return output;
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

bool mayHoldShortName(std::wstring_view path) {
    return path.find(L'~') != std::wstring_view::npos;
}

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
    // The shell answers in well under a second; one that takes longer is ended and not asked again.
    constexpr DWORD kShellLimitMs = 5000;
    Pipe output;
    if (SystemError error = createPipe(output, ChildEnd::Write)) {
        logMessage(L"%S error (%d)", error.call, static_cast<int>(error.code));
        return std::nullopt;
    }
    ProcessStart start;
    start.commandLine = formatWide(L"%s\\system32\\cmd.exe /C for %%I in (\"%s\") do @echo %%~sI",
                                   windowsDirectory().c_str(), path.c_str());
    logMessage(L"executing %s", start.commandLine.c_str());
    start.inheritHandles = true;
    start.creationFlags = CREATE_NO_WINDOW;
    start.standardHandles = true;
    start.output = output.write.get();
    start.error = output.write.get();
    SystemError error;
    const ChildProcess shell = startProcess(start, error);
    if (!shell) {
        logMessage(L"%S error (%d)", error.call, static_cast<int>(error.code));
        logMessage(L"could not execute cmd.exe");
        return std::nullopt;
    }
    // Only the child holds the write end now, so the pipe ends when cmd.exe does. Its one line fits the
    // pipe's buffer, so the shell is waited for first, within a limit, and a shell that hangs cannot
    // hold the read below.
    output.write.reset();
    const ProcessEnd end = waitForExit(shell, kShellLimitMs);
    logMessage(L"Exit Code %d", static_cast<int>(end.exitCode));
    if (end.timedOut) {
        logMessage(L"Terminating process");
        return std::nullopt;
    }
    const std::string text = readPipeToEnd(output.read.get());
    logMessage(L"finished reading from cmd.exe %d \"%S\"", static_cast<int>(text.size()), text.c_str());
    if (end.exitCode != 0 || text.size() <= 5) {
        return std::nullopt;
    }
    size_t lineEnd = text.find_first_of("\r\n");
    if (lineEnd == std::string::npos) {
        return std::nullopt;
    }
    std::string answer = text.substr(0, lineEnd);
    logMessage(L"Using %S", answer.c_str());
    return answer;
}

bool isRelativePath(std::string_view path) {
    return isRelative(path);
}

bool isRelativePath(std::wstring_view path) {
    return isRelative(path);
}

namespace {

// A name that a directory listing reads as a pattern ("*", "?"), or refuses (a trailing separator),
// is asked of a listing; any other name of one entry by its attributes, which under Wine costs one
// lookup instead of a listing of the directory.
template <typename String>
bool needsListing(const String& path) {
    using Char = typename String::value_type;
    return path.empty() || path.find_first_of(String({Char('*'), Char('?')})) != String::npos ||
           path.back() == Char('\\') || path.back() == Char('/');
}

} // namespace

bool fileExists(const std::string& path) {
    if (isDriveRoot(path)) {
        return true;
    }
    if (!needsListing(path)) {
        return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
    }
    WIN32_FIND_DATAA entry;
    UniqueFindHandle find(FindFirstFileA(path.c_str(), &entry));
    return find.valid();
}

bool fileExists(const std::wstring& path) {
    if (isDriveRoot(path)) {
        return true;
    }
    if (!needsListing(path)) {
        return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
    }
    WIN32_FIND_DATAW entry;
    UniqueFindHandle find(FindFirstFileW(path.c_str(), &entry));
    return find.valid();
}

bool findFileTime(const std::string& path, uint64_t* lastWriteTime) {
    FILETIME written{};
    if (needsListing(path)) {
        WIN32_FIND_DATAA entry;
        UniqueFindHandle find(FindFirstFileA(path.c_str(), &entry));
        if (!find) {
            return false;
        }
        written = entry.ftLastWriteTime;
    } else {
        WIN32_FILE_ATTRIBUTE_DATA attributes;
        if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &attributes)) {
            return false;
        }
        written = attributes.ftLastWriteTime;
    }
    if (lastWriteTime) {
        *lastWriteTime = (static_cast<uint64_t>(written.dwHighDateTime) << 32) | written.dwLowDateTime;
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
