#include "config/temp_cleanup.h"

#include "common/handles.h"
#include "common/process.h"
#include "common/text.h"
#include "config/extract.h"
#include "config/paths.h"
#include "config/temp_root.h"
#include "frame/log.h"

#include <windows.h>

#include <cwchar>
#include <string_view>
#include <utility>

namespace morix {
namespace {

// Deeper trees than an application would make in its temporary directory are not descended into.
constexpr int kMaxTreeDepth = 16;
constexpr int kMaxTreeEntries = 100000;
// What one start spends on the leftovers of earlier runs.
constexpr int kMaxStaleEntries = 256;
constexpr int kMaxStaleRemovals = 32;
constexpr ULONGLONG kStaleCleanupMs = 2000;
// A marker without a directory may belong to a run that is just creating both, or to the output of a
// runtime check in progress: only old ones are removed.
constexpr ULONGLONG kOrphanMarkerAge100ns = 10ULL * 60 * 10000000;
// The helper waits this long for its owner to end, then retries while the system lets go of the files.
constexpr DWORD kOwnerEndWaitMs = 120000;
constexpr int kHelperAttempts = 100;
constexpr DWORD kHelperRetryMs = 100;
// The first line an owning run writes into its held marker, before it makes its directory. Launchers
// built before the marker was held leave it empty: their directories are never taken for leftovers.
constexpr std::string_view kMarkerSignature = "morix-owner 1";
constexpr DWORD kMarkerReadLimit = 64;

// Never destroyed: no exit handler may close the marker before the process has ended.
UniqueHandle& heldMarker() {
    static UniqueHandle* marker = new UniqueHandle;
    return *marker;
}

void releaseTempMarker() {
    heldMarker().reset();
}

bool isHexDigit(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

bool isDigits(std::string_view text) {
    if (text.empty()) {
        return false;
    }
    for (char c : text) {
        if (c < '0' || c > '9') {
            return false;
        }
    }
    return true;
}

std::string_view lastComponent(std::string_view path) {
    size_t slash = path.find_last_of("\\/");
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

// "mrx" and the hexadecimal number of GetTempFileName with ".tmp", or the decimal fallback name.
bool isMarkerName(std::string_view name) {
    if (name.size() < 4 || (name[0] | 0x20) != 'm' || (name[1] | 0x20) != 'r' || (name[2] | 0x20) != 'x') {
        return false;
    }
    std::string_view number = name.substr(3);
    if (endsWithNoCase(number, ".tmp")) {
        number.remove_suffix(4);
    }
    if (number.empty()) {
        return false;
    }
    for (char c : number) {
        if (!isHexDigit(c)) {
            return false;
        }
    }
    return true;
}

bool exists(const std::string& path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool writeMarkerSignature(HANDLE marker) {
    const std::string text = formatNarrow("%.*s\r\n%lu\r\n", static_cast<int>(kMarkerSignature.size()),
                                          kMarkerSignature.data(), GetCurrentProcessId());
    DWORD written = 0;
    return WriteFile(marker, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
           written == text.size() && SetEndOfFile(marker);
}

bool isSignedMarker(HANDLE marker) {
    char text[kMarkerReadLimit];
    DWORD read = 0;
    if (!ReadFile(marker, text, sizeof text, &read, nullptr)) {
        return false;
    }
    const std::string_view content(text, read);
    return content.size() > kMarkerSignature.size() &&
           content.substr(0, kMarkerSignature.size()) == kMarkerSignature &&
           (content[kMarkerSignature.size()] == '\r' || content[kMarkerSignature.size()] == '\n');
}

// True when the marker is gone, or was signed by a run and is no longer held: then it is deleted here.
// An unsigned marker (an older launcher's, or one a starting run has not written yet) is never deleted.
bool releaseOrphanedMarker(const std::string& marker) {
    // Reading shares everything, so that this look never keeps a starting run from holding its marker.
    UniqueHandle file(CreateFileA(marker.c_str(), GENERIC_READ,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        const DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
    }
    if (!isSignedMarker(file.get())) {
        return false;
    }
    // While this handle is open the name stays with the file just read. Its owner holds it without delete
    // sharing, so the deletion fails exactly while the owner lives.
    return DeleteFileA(marker.c_str()) != 0;
}

// A directory "<marker>_dir<number>" beside the marker: the marker then is not alone.
bool hasDirectoryBeside(const std::string& marker) {
    WIN32_FIND_DATAA entry;
    UniqueFindHandle find(FindFirstFileA((marker + "_dir*").c_str(), &entry));
    if (!find) {
        return false;
    }
    int seen = 0;
    do {
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            return true;
        }
    } while (++seen < kMaxStaleEntries && FindNextFileA(find.get(), &entry));
    return false;
}

uint64_t fileTimeValue(const FILETIME& time) {
    return (static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

uint64_t processCreationTime(HANDLE process) {
    FILETIME creation{}, exit{}, kernel{}, user{};
    if (!GetProcessTimes(process, &creation, &exit, &kernel, &user)) {
        return 0;
    }
    return fileTimeValue(creation);
}

// Removes everything below and the directory itself; links are removed, never followed.
void removeTree(const std::string& directory, int depth, int& budget, bool logSteps) {
    if (logSteps) {
        logMessage(L"emptying %S", directory.c_str());
    }
    WIN32_FIND_DATAA entry;
    UniqueFindHandle find(FindFirstFileA((directory + "\\*").c_str(), &entry));
    if (find) {
        do {
            std::string_view name = entry.cFileName;
            if (name == "." || name == "..") {
                continue;
            }
            const std::string path = directory + "\\" + entry.cFileName;
            if (entry.dwFileAttributes & FILE_ATTRIBUTE_READONLY) {
                SetFileAttributesA(path.c_str(), entry.dwFileAttributes & ~FILE_ATTRIBUTE_READONLY);
            }
            if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                if (logSteps) {
                    logMessage(L"attempting to remove %S (%d)", path.c_str(), 1);
                }
                if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) && depth < kMaxTreeDepth) {
                    removeTree(path, depth + 1, budget, logSteps);
                } else {
                    RemoveDirectoryA(path.c_str());
                }
            } else {
                if (logSteps) {
                    logMessage(L"attempting to delete %S", path.c_str());
                }
                DeleteFileA(path.c_str());
            }
        } while (--budget > 0 && FindNextFileA(find.get(), &entry));
    }
    find.reset();
    RemoveDirectoryA(directory.c_str());
}

bool removeWholeTree(const std::string& directory, bool logSteps) {
    int budget = kMaxTreeEntries;
    removeTree(directory, 0, budget, logSteps);
    return !exists(directory);
}

bool startCleanupHelper(const std::string& directory) {
    UniqueHandle self(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, GetCurrentProcessId()));
    const uint64_t created = processCreationTime(self ? self.get() : GetCurrentProcess());
    ProcessStart start;
    start.application = getExecutablePathWide();
    start.commandLine = formatWide(L"\"%s\" %s %lu %I64u \"%s\"", start.application.c_str(), kCleanupArgument,
                                   GetCurrentProcessId(), static_cast<unsigned long long>(created),
                                   narrowToWide(directory).c_str());
    // The helper's working directory must not be inside what it removes.
    start.workingDirectory = narrowToWide(getTempRoot());
    // Detached, without inherited handles, out of the caller's job where allowed: the helper outlives
    // this process and its console.
    start.creationFlags = DETACHED_PROCESS | CREATE_NEW_PROCESS_GROUP | CREATE_BREAKAWAY_FROM_JOB;
    SystemError error;
    ChildProcess helper = startProcess(start, error);
    if (!helper && error.code == ERROR_ACCESS_DENIED) {
        start.creationFlags &= ~static_cast<DWORD>(CREATE_BREAKAWAY_FROM_JOB);
        helper = startProcess(start, error);
    }
    if (!helper) {
        logError(L"could not start the cleanup helper for %S (%S error %lu)", directory.c_str(), error.call,
                 error.code);
        return false;
    }
    logMessage(L"cleanup helper %lu removes %S after this process: %s", helper.id, directory.c_str(),
               start.commandLine.c_str());
    return true;
}

ULONGLONG now100ns() {
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    return fileTimeValue(now);
}

int removeStaleDirectories(const std::string& root, ULONGLONG deadline) {
    WIN32_FIND_DATAA entry;
    UniqueFindHandle find(FindFirstFileA((root + "\\mrx*_dir*").c_str(), &entry));
    if (!find) {
        return 0;
    }
    int seen = 0;
    int removed = 0;
    do {
        const std::string path = root + "\\" + entry.cFileName;
        if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && isAppTempDirName(path) &&
            removeOrphanedTempDir(path)) {
            logMessage(L"removed the stale temporary directory %S", path.c_str());
            ++removed;
        }
    } while (++seen < kMaxStaleEntries && removed < kMaxStaleRemovals && GetTickCount64() < deadline &&
             FindNextFileA(find.get(), &entry));
    return removed;
}

int removeStaleMarkers(const std::string& root, ULONGLONG deadline) {
    WIN32_FIND_DATAA entry;
    UniqueFindHandle find(FindFirstFileA((root + "\\mrx*.tmp").c_str(), &entry));
    if (!find) {
        return 0;
    }
    const ULONGLONG now = now100ns();
    int seen = 0;
    int removed = 0;
    do {
        // Short names match the pattern too, so the long name is checked again.
        if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && isMarkerName(entry.cFileName) &&
            endsWithNoCase(entry.cFileName, ".tmp") &&
            fileTimeValue(entry.ftLastWriteTime) + kOrphanMarkerAge100ns < now) {
            const std::string path = root + "\\" + entry.cFileName;
            // A marker that its owner holds cannot be deleted; one beside a directory (an older launcher's,
            // whose run may go on for days) is not alone, and goes only with its directory.
            if (!hasDirectoryBeside(path) && DeleteFileA(path.c_str())) {
                ++removed;
            }
        }
    } while (++seen < kMaxStaleEntries && removed < kMaxStaleRemovals && GetTickCount64() < deadline &&
             FindNextFileA(find.get(), &entry));
    return removed;
}

} // namespace

bool holdTempMarker(const std::string& marker) {
    releaseTempMarker();
    // No delete sharing: while this process lives nobody removes the marker, and with it the directory.
    UniqueHandle handle(CreateFileA(marker.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE, FILE_SHARE_READ,
                                    nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_DELETE_ON_CLOSE,
                                    nullptr));
    if (!handle) {
        logError(L"could not hold the marker %S (error %lu)", marker.c_str(), GetLastError());
        return false;
    }
    // Signed before the directory exists: a directory beside an unsigned marker is never removed.
    if (!writeMarkerSignature(handle.get())) {
        logError(L"could not sign the marker %S (error %lu)", marker.c_str(), GetLastError());
        return false;
    }
    heldMarker() = std::move(handle);
    return true;
}

void cleanUpAppTempDir() {
    if (appTempDir.empty()) {
        releaseTempMarker();
        return;
    }
    const std::string directory = appTempDir;
    appTempDir.clear();
    if (removeWholeTree(directory, true)) {
        releaseTempMarker();
        return;
    }
    // Open files (the VM keeps its class path open) go only with the process; the marker stays held
    // until then, so that no other start takes the directory for a leftover before that.
    logMessage(L"%S is still in use", directory.c_str());
    startCleanupHelper(directory);
}

bool isAppTempDirName(const std::string& path) {
    std::string_view name = lastComponent(path);
    const size_t dir = name.rfind("_dir");
    if (dir == std::string_view::npos || !isMarkerName(name.substr(0, dir))) {
        return false;
    }
    std::string_view time = name.substr(dir + 4);
    if (!time.empty() && time[0] == '-') {
        time.remove_prefix(1);
    }
    return isDigits(time);
}

std::string markerOfAppTempDir(const std::string& directory) {
    const size_t dir = directory.rfind("_dir");
    return dir == std::string::npos ? std::string() : directory.substr(0, dir);
}

bool removeOrphanedTempDir(const std::string& directory) {
    const std::string marker = markerOfAppTempDir(directory);
    if (marker.empty() || isRelativePath(directory)) {
        return false;
    }
    if (!releaseOrphanedMarker(marker)) {
        return false; // held by its owner, which still runs, or left by a launcher that did not sign it
    }
    return removeWholeTree(directory, false);
}

void removeStaleTempDirs() {
    const std::string& root = getTempRoot();
    const ULONGLONG deadline = GetTickCount64() + kStaleCleanupMs;
    const int directories = removeStaleDirectories(root, deadline);
    const int markers = removeStaleMarkers(root, deadline);
    if (directories > 0 || markers > 0) {
        logMessage(L"removed %d stale temporary directories and %d markers", directories, markers);
    }
}

int runCleanupHelper(const ArgumentList& arguments) {
    if (arguments.size() != 4 || arguments[0] != kCleanupArgument) {
        return 2;
    }
    const DWORD pid = static_cast<DWORD>(std::wcstoul(arguments[1].c_str(), nullptr, 10));
    const uint64_t created = std::wcstoull(arguments[2].c_str(), nullptr, 10);
    const std::string directory = wideToNarrow(arguments[3]);
    // Whatever the command line says, only a launcher's temporary directory is ever removed.
    if (!isAppTempDirName(directory) || isRelativePath(directory)) {
        return 2;
    }
    UniqueHandle owner(OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
    if (owner && processCreationTime(owner.get()) == created &&
        WaitForSingleObject(owner.get(), kOwnerEndWaitMs) != WAIT_OBJECT_0) {
        return 3; // still running: the next start removes the directory
    }
    for (int attempt = 0; attempt < kHelperAttempts; ++attempt) {
        if (removeOrphanedTempDir(directory)) {
            return 0;
        }
        Sleep(kHelperRetryMs);
    }
    return 1;
}

} // namespace morix
