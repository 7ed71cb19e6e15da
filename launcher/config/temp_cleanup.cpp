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
#include <optional>
#include <utility>

namespace morix {
namespace {

// What one start spends on the leftovers of earlier runs: entries touched, and time.
constexpr int kStartEntryBudget = 1000;
constexpr ULONGLONG kStartCleanupMs = 500;
// A run's own directory at its end, and the helper after it, may take longer: whatever stays after this
// goes to the helper, and after the helper to a later start.
constexpr int kOwnEntryBudget = 100000;
constexpr ULONGLONG kOwnCleanupMs = 3000;
constexpr ULONGLONG kHelperCleanupMs = 20000;
constexpr DWORD kHelperRetryMs = 100;
// A marker without a directory may belong to a run that is just creating both, or to the output of a
// runtime check in progress: only old ones are removed.
constexpr uint64_t kOrphanMarkerAge100ns = 10ULL * 60 * 10000000;
// A directory without owner file and marker is an older launcher's whose run was lost, or whose marker
// something else deleted while it runs: only one that has not changed for this long is taken for lost.
constexpr uint64_t kUnmarkedDirectoryAge100ns = 30ULL * 24 * 3600 * 10000000;
// The helper waits this long for its owner to end.
constexpr DWORD kOwnerEndWaitMs = 120000;
// The first line an owning run writes into its held marker and owner file. Launchers built before the
// marker was held leave the marker empty: their directories are never taken for leftovers on its word.
constexpr std::string_view kMarkerSignature = "morix-owner 1";
constexpr DWORD kMarkerReadLimit = 64;

// Never destroyed: no exit handler may close them before the process has ended.
UniqueHandle& heldMarker() {
    static UniqueHandle* marker = new UniqueHandle;
    return *marker;
}

UniqueHandle& heldOwnerFile() {
    static UniqueHandle* owner = new UniqueHandle;
    return *owner;
}

void releaseTempMarker() {
    heldMarker().reset();
}

bool isHexDigit(wchar_t c) {
    return (c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'f') || (c >= L'A' && c <= L'F');
}

bool isDigits(std::wstring_view text) {
    if (text.empty()) {
        return false;
    }
    for (wchar_t c : text) {
        if (c < L'0' || c > L'9') {
            return false;
        }
    }
    return true;
}

bool endsWithTmp(std::wstring_view name) {
    return name.size() >= 4 &&
           CompareStringOrdinal(name.data() + name.size() - 4, 4, L".tmp", 4, TRUE) == CSTR_EQUAL;
}

std::wstring_view lastComponent(std::wstring_view path) {
    const size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring_view::npos ? path : path.substr(slash + 1);
}

// "mrx" and the hexadecimal number of GetTempFileName with ".tmp", or the decimal fallback name.
bool isMarkerName(std::wstring_view name) {
    if (name.size() < 4 || (name[0] | 0x20) != L'm' || (name[1] | 0x20) != L'r' || (name[2] | 0x20) != L'x') {
        return false;
    }
    std::wstring_view number = name.substr(3);
    if (endsWithTmp(number)) {
        number.remove_suffix(4);
    }
    if (number.empty()) {
        return false;
    }
    for (wchar_t c : number) {
        if (!isHexDigit(c)) {
            return false;
        }
    }
    return true;
}

uint64_t fileTimeValue(const FILETIME& time) {
    return (static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

uint64_t now100ns() {
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    return fileTimeValue(now);
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

uint64_t processCreationTime(HANDLE process) {
    FILETIME creation{}, exit{}, kernel{}, user{};
    if (!GetProcessTimes(process, &creation, &exit, &kernel, &user)) {
        return 0;
    }
    return fileTimeValue(creation);
}

// Who, by the files a run holds, owns a directory that is a real one in the root.
enum class Owner {
    ended,   // its proof is claimed (or it is old and has none): it may go
    living,  // held by a running process
    unknown, // an older launcher's, a proof that is no plain file, or one that cannot be opened
};

// Claims a proof file (the owner file or the marker): exists, is a plain file, and nobody holds it.
Owner claimProof(const std::wstring& path, RemovalEntry& claim, bool& missing) {
    missing = false;
    switch (openForRemoval(path, claim, true)) {
    case EntryCheck::opened:
        if (claim.attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) {
            logError(L"%s is no plain file", path.c_str());
            claim.handle.reset();
            return Owner::unknown;
        }
        return Owner::ended;
    case EntryCheck::gone:
        missing = true;
        return Owner::unknown;
    case EntryCheck::inUse:
        return Owner::living;
    default:
        return Owner::unknown;
    }
}

// The owner file decides; where it is missing, the signed marker; where both are, the age.
Owner findOwner(const std::wstring& directory, const RemovalEntry& opened, const std::wstring& marker,
                RemovalEntry& ownerClaim, RemovalEntry& markerClaim) {
    bool missing = false;
    Owner owner = claimProof(directory + L"\\" + kOwnerFileName, ownerClaim, missing);
    if (!missing) {
        return owner;
    }
    owner = claimProof(marker, markerClaim, missing);
    if (owner == Owner::ended && !isSignedMarker(markerClaim.handle.get())) {
        markerClaim.handle.reset(); // an older launcher's, which may still run
        return Owner::unknown;
    }
    if (missing) {
        return opened.lastWriteTime + kUnmarkedDirectoryAge100ns < now100ns() ? Owner::ended : Owner::unknown;
    }
    return owner;
}

// Deletes the marker of a removed directory where it is still there, signed, and nobody holds it.
void removeMarkerOf(const std::wstring& marker, RemovalEntry& markerClaim) {
    if (!markerClaim.handle) {
        bool missing = false;
        if (claimProof(marker, markerClaim, missing) != Owner::ended ||
            !isSignedMarker(markerClaim.handle.get())) {
            return;
        }
    }
    deleteThroughHandle(markerClaim, marker);
}

// A directory "<marker>_dir<number>" beside the marker: the marker then is not alone.
bool hasDirectoryBeside(const std::wstring& marker, RemovalBudget& budget) {
    WIN32_FIND_DATAW entry;
    UniqueFindHandle find(FindFirstFileW((marker + L"_dir*").c_str(), &entry));
    if (!find) {
        return false;
    }
    do {
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            return true;
        }
    } while (budget.take() && FindNextFileW(find.get(), &entry));
    return budget.spent(); // not looked at to the end: taken as not alone
}

LeftoverOutcome removeOrphan(const std::wstring& root, std::wstring_view name, RemovalBudget& budget,
                             bool logSteps) {
    const std::wstring directory = root + L"\\" + std::wstring(name);
    RemovalEntry opened;
    const EntryCheck check = openForRemoval(directory, opened);
    if (check == EntryCheck::gone || check == EntryCheck::inUse) {
        return LeftoverOutcome::kept;
    }
    if (check != EntryCheck::opened || !(opened.attributes & FILE_ATTRIBUTE_DIRECTORY) ||
        (opened.attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        logError(L"%s is a link or lies outside the temporary root; left alone", directory.c_str());
        return LeftoverOutcome::kept;
    }
    const std::wstring marker = markerOfAppTempDir(directory);
    RemovalEntry ownerClaim;
    RemovalEntry markerClaim;
    if (findOwner(directory, opened, marker, ownerClaim, markerClaim) != Owner::ended) {
        return LeftoverOutcome::kept;
    }
    // The claimed proof stays until everything else has gone: a start that runs out of budget leaves
    // the directory with its proof for the next one.
    if (!removeDirectoryContents(opened, directory, ownerClaim.handle ? kOwnerFileName : L"", budget,
                                 logSteps)) {
        return LeftoverOutcome::leftSome;
    }
    if (ownerClaim.handle && !deleteThroughHandle(ownerClaim, directory + L"\\" + kOwnerFileName)) {
        return LeftoverOutcome::leftSome;
    }
    if (!deleteThroughHandle(opened, directory)) {
        return LeftoverOutcome::leftSome;
    }
    removeMarkerOf(marker, markerClaim);
    return LeftoverOutcome::removed;
}

int removeStaleDirectories(const std::wstring& root, RemovalBudget& budget) {
    WIN32_FIND_DATAW entry;
    UniqueFindHandle find(FindFirstFileW((root + L"\\mrx*_dir*").c_str(), &entry));
    if (!find) {
        return 0;
    }
    int removed = 0;
    do {
        if (!budget.take()) {
            break;
        }
        // Short names match the pattern too, so the long name is checked again.
        if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && isAppTempDirName(entry.cFileName) &&
            removeOrphan(root, entry.cFileName, budget, false) == LeftoverOutcome::removed) {
            logMessage(L"removed the stale temporary directory %s\\%s", root.c_str(), entry.cFileName);
            ++removed;
        }
    } while (FindNextFileW(find.get(), &entry));
    return removed;
}

int removeStaleMarkers(const std::wstring& root, RemovalBudget& budget) {
    WIN32_FIND_DATAW entry;
    UniqueFindHandle find(FindFirstFileW((root + L"\\mrx*.tmp").c_str(), &entry));
    if (!find) {
        return 0;
    }
    const uint64_t now = now100ns();
    int removed = 0;
    do {
        if (!budget.take()) {
            break;
        }
        const std::wstring_view name = entry.cFileName;
        if ((entry.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) ||
            !isMarkerName(name) || !endsWithTmp(name) ||
            fileTimeValue(entry.ftLastWriteTime) + kOrphanMarkerAge100ns >= now) {
            continue;
        }
        const std::wstring path = root + L"\\" + std::wstring(name);
        // One beside a directory (an older launcher's, whose run may go on for days) is not alone and goes
        // only with its directory; one that its owner holds cannot be claimed.
        if (hasDirectoryBeside(path, budget)) {
            continue;
        }
        RemovalEntry claim;
        const EntryCheck check = openForRemoval(path, claim, true);
        if (check == EntryCheck::elsewhere ||
            (check == EntryCheck::opened && (claim.attributes & FILE_ATTRIBUTE_REPARSE_POINT))) {
            logError(L"%s is a link or lies outside the temporary root; left alone", path.c_str());
        } else if (check == EntryCheck::opened && !(claim.attributes & FILE_ATTRIBUTE_DIRECTORY) &&
                   deleteThroughHandle(claim, path)) {
            ++removed;
        }
    } while (FindNextFileW(find.get(), &entry));
    return removed;
}

// The helper removes only what a start would: a directory of the launcher's form directly in this
// user's temporary root, not a link. Its final path, or none.
std::optional<std::wstring> acceptedHelperDirectory(const std::wstring& directory, std::wstring& root) {
    const size_t slash = directory.find_last_of(L'\\');
    if (isRelativePath(directory) || slash == std::wstring::npos || !isAppTempDirName(directory)) {
        return std::nullopt;
    }
    const std::optional<std::string> tempRoot = searchTempRoot();
    if (!tempRoot) {
        return std::nullopt;
    }
    root = finalDirectoryPath(narrowToWide(*tempRoot));
    const std::wstring parent = finalDirectoryPath(directory.substr(0, slash));
    if (root.empty() || parent.empty() ||
        CompareStringOrdinal(root.c_str(), -1, parent.c_str(), -1, TRUE) != CSTR_EQUAL) {
        return std::nullopt;
    }
    const std::wstring path = root + L"\\" + std::wstring(lastComponent(directory));
    RemovalEntry opened;
    const EntryCheck check = openForRemoval(path, opened);
    if (check == EntryCheck::gone) {
        return path; // already removed: nothing to refuse
    }
    if (check != EntryCheck::opened || !(opened.attributes & FILE_ATTRIBUTE_DIRECTORY) ||
        (opened.attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        return std::nullopt;
    }
    return path;
}

bool startCleanupHelper(const std::string& directory) {
    UniqueHandle self(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, GetCurrentProcessId()));
    const uint64_t created = processCreationTime(self ? self.get() : GetCurrentProcess());
    ProcessStart start;
    start.application = getExecutablePathWide();
    start.commandLine =
        formatWide(L"%s %s %lu %I64u %s", quoteProgramName(start.application).c_str(), kCleanupArgument,
                   GetCurrentProcessId(), static_cast<unsigned long long>(created),
                   quoteProcessArgument(narrowToWide(directory)).c_str());
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

// The run's own directory: everything but the owner file first, which is let go only when nothing else
// is left, so that no other start takes a directory still in use for a leftover.
bool removeOwnDirectory(const std::string& directory, RemovalBudget& budget) {
    const std::wstring wideDirectory = narrowToWide(directory);
    const size_t slash = wideDirectory.find_last_of(L'\\');
    const std::wstring root =
        slash == std::wstring::npos ? std::wstring() : finalDirectoryPath(wideDirectory.substr(0, slash));
    if (root.empty()) {
        return false;
    }
    const std::wstring path = root + L"\\" + wideDirectory.substr(slash + 1);
    RemovalEntry opened;
    const EntryCheck check = openForRemoval(path, opened);
    if (check == EntryCheck::gone) {
        return true;
    }
    if (check != EntryCheck::opened || (opened.attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        logError(L"%s is no longer this run's directory; left alone", path.c_str());
        return false;
    }
    if (!removeDirectoryContents(opened, path, kOwnerFileName, budget, true)) {
        return false;
    }
    heldOwnerFile().reset();
    const std::wstring ownerFile = path + L"\\" + kOwnerFileName;
    RemovalEntry owner;
    const EntryCheck ownerCheck = openForRemoval(ownerFile, owner);
    if (ownerCheck == EntryCheck::opened) {
        deleteThroughHandle(owner, ownerFile);
    }
    return deleteThroughHandle(opened, path);
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

bool holdTempDirOwner(const std::string& directory) {
    heldOwnerFile().reset();
    const std::wstring path = narrowToWide(directory) + L"\\" + kOwnerFileName;
    // Kept when the process ends, unlike the marker: a later start then finds it, unheld, and knows the
    // directory's owner has ended even when something else has deleted the marker.
    UniqueHandle handle(CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!handle) {
        logError(L"CreateFileW of the owner file %s failed with error %lu", path.c_str(), GetLastError());
        return false;
    }
    if (!writeMarkerSignature(handle.get())) {
        logError(L"WriteFile of the owner file %s failed with error %lu", path.c_str(), GetLastError());
    }
    heldOwnerFile() = std::move(handle);
    return true;
}

void cleanUpAppTempDir() {
    if (appTempDir.empty()) {
        releaseTempMarker();
        return;
    }
    const std::string directory = appTempDir;
    appTempDir.clear();
    RemovalBudget budget(kOwnEntryBudget, kOwnCleanupMs);
    if (removeOwnDirectory(directory, budget)) {
        releaseTempMarker();
        return;
    }
    // Open files (the VM keeps its class path open) go only with the process; the marker and the owner
    // file stay held until then, so that no other start takes the directory for a leftover before that.
    logMessage(L"%S is still in use", directory.c_str());
    startCleanupHelper(directory);
}

bool isAppTempDirName(std::wstring_view path) {
    const std::wstring_view name = lastComponent(path);
    const size_t dir = name.rfind(L"_dir");
    if (dir == std::wstring_view::npos || !isMarkerName(name.substr(0, dir))) {
        return false;
    }
    std::wstring_view time = name.substr(dir + 4);
    if (!time.empty() && time[0] == L'-') {
        time.remove_prefix(1);
    }
    return isDigits(time);
}

std::wstring markerOfAppTempDir(const std::wstring& directory) {
    const size_t dir = directory.rfind(L"_dir");
    return dir == std::wstring::npos ? std::wstring() : directory.substr(0, dir);
}

LeftoverOutcome removeLeftover(const std::wstring& root, std::wstring_view name, RemovalBudget& budget) {
    const std::wstring finalRoot = finalDirectoryPath(root);
    if (!isAppTempDirName(name) || lastComponent(name) != name || finalRoot.empty()) {
        return LeftoverOutcome::kept;
    }
    return removeOrphan(finalRoot, name, budget, false);
}

void removeStaleTempDirs() {
    RemovalBudget budget(kStartEntryBudget, kStartCleanupMs);
    const std::wstring root = finalDirectoryPath(narrowToWide(getTempRoot()));
    const int directories = root.empty() ? 0 : removeStaleDirectories(root, budget);
    const int markers = root.empty() ? 0 : removeStaleMarkers(root, budget);
    logMessage(
        L"leftovers: %d entries touched (at most %d) in %I64u ms (at most %I64u); %d directories and %d "
        L"markers removed",
        budget.touched(), budget.limit(), static_cast<unsigned long long>(budget.elapsedMs()),
        static_cast<unsigned long long>(kStartCleanupMs), directories, markers);
}

int runCleanupHelper(const ArgumentList& arguments) {
    if (arguments.size() != 4 || arguments[0] != kCleanupArgument) {
        logError(L"the cleanup helper takes a process id, its creation time and a directory");
        return kHelperRefused;
    }
    const DWORD pid = static_cast<DWORD>(std::wcstoul(arguments[1].c_str(), nullptr, 10));
    const uint64_t created = std::wcstoull(arguments[2].c_str(), nullptr, 10);
    std::wstring root;
    const std::optional<std::wstring> directory = acceptedHelperDirectory(arguments[3], root);
    // Whatever the command line says, only a leftover in this user's temporary root is ever removed.
    if (!directory) {
        logError(L"the cleanup helper refuses %s: no launcher's directory in the temporary root",
                 arguments[3].c_str());
        return kHelperRefused;
    }
    UniqueHandle owner(OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
    if (owner && processCreationTime(owner.get()) == created &&
        WaitForSingleObject(owner.get(), kOwnerEndWaitMs) != WAIT_OBJECT_0) {
        return kHelperOwnerRunning; // the next start removes the directory
    }
    // Retried while the system lets go of the ended owner's files.
    const std::wstring name(lastComponent(*directory));
    const ULONGLONG end = GetTickCount64() + kHelperCleanupMs;
    for (ULONGLONG now = GetTickCount64(); now < end; now = GetTickCount64()) {
        RemovalBudget budget(kOwnEntryBudget, end - now);
        if (removeOrphan(root, name, budget, false) == LeftoverOutcome::removed ||
            GetFileAttributesW(directory->c_str()) == INVALID_FILE_ATTRIBUTES) {
            return kHelperRemoved;
        }
        Sleep(kHelperRetryMs);
    }
    return kHelperLeftSome;
}

} // namespace morix
