#include "windows/class_data.h"

#include "common/handles.h"
#include "common/text.h"
#include "config/payload.h"
#include "config/extract.h"
#include "config/paths.h"
#include "config/user_cache.h"
#include "discovery/vm_library.h"
#include "frame/log.h"

#include "morix/config_ids.h"

#include <windows.h>

#include <cwchar>
#include <optional>
#include <string_view>
#include <utility>

namespace morix {
namespace {

// Raised whenever what makes an archive's name changes meaning.
constexpr std::wstring_view kKeyVersion = L"morix class-data 1\n";
constexpr std::string_view kClassPathOption = "-Djava.class.path=";
constexpr std::string_view kModulePathOption = "--module-path=";
// Configured options that decide about sharing themselves.
constexpr std::string_view kOwnChoices[] = {"-Xshare:", "-XX:SharedArchiveFile=", "-XX:ArchiveClassesAtExit=",
                                            "-XX:-UseSharedSpaces", "-XX:+AutoCreateSharedArchive"};
// Several archives of one key exist only while two starts made theirs at once; a few are looked at.
constexpr size_t kMaxArchivesPerKey = 4;

enum class State { undecided, active, off };
State state = State::undecided;
// The archive this run writes, under its temporary name, and the name it gets when complete.
std::wstring pendingArchive;
std::wstring pendingPrefix;

void turnOff(const wchar_t* reason, const std::wstring& detail = {}) {
    logMessage(L"class-data sharing off: %s%s", reason, detail.c_str());
    state = State::off;
}

// A file's size and last-write time as text, or "none".
std::wstring fileStamp(const std::wstring& path) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) {
        return L"none";
    }
    return formatWide(L"%lu:%lu:%lu:%lu:%lx", data.nFileSizeHigh, data.nFileSizeLow,
                      data.ftLastWriteTime.dwHighDateTime, data.ftLastWriteTime.dwLowDateTime,
                      data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::wstring jvmModulePath() {
    HMODULE module = nullptr;
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                                GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            reinterpret_cast<LPCWSTR>(reinterpret_cast<void*>(createJavaVM)), &module)) {
        return {};
    }
    std::wstring path(kBufferSize, L'\0');
    const DWORD length = GetModuleFileNameW(module, path.data(), kBufferSize);
    path.resize(length < kBufferSize ? length : 0);
    return path;
}

std::wstring directoryOf(const std::wstring& path) {
    const size_t slash = path.find_last_of(L'\\');
    return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
}

// The entries of the class path and module path options.
std::vector<std::wstring> pathEntries(const VmOptionList& options) {
    std::vector<std::wstring> entries;
    for (const std::string& option : options) {
        for (std::string_view prefix : {kClassPathOption, kModulePathOption}) {
            if (option.starts_with(prefix)) {
                for (const std::string& entry : splitList(std::string_view(option).substr(prefix.size()))) {
                    entries.push_back(narrowToWide(entry));
                }
            }
        }
    }
    return entries;
}

// True, with sharing off, when a path entry is a directory, whose classes an archive cannot record.
bool pathHoldsDirectory(const VmOptionList& options) {
    for (const std::wstring& entry : pathEntries(options)) {
        const DWORD attributes = GetFileAttributesW(entry.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
            turnOff(L"the class path holds the directory ", entry);
            return true;
        }
    }
    return false;
}

// The path options with every entry in this run's directory at its stable copy; false, with sharing off
// and the options as they were, when an entry gets none.
bool useStableCopies(VmOptionList& options, size_t position) {
    if (appTempDir.empty()) {
        return true;
    }
    const std::wstring runDirectory = narrowToWide(appTempDir) + L"\\";
    VmOptionList changed = options;
    for (size_t i = position; i < changed.size(); ++i) {
        for (std::string_view prefix : {kClassPathOption, kModulePathOption}) {
            if (!changed[i].starts_with(prefix)) {
                continue;
            }
            std::string path(prefix);
            for (const std::string& entry : splitList(std::string_view(changed[i]).substr(prefix.size()))) {
                const std::wstring wide = narrowToWide(entry);
                std::string stable = entry;
                if (wide.size() > runDirectory.size() &&
                    CompareStringOrdinal(wide.c_str(), static_cast<int>(runDirectory.size()),
                                         runDirectory.c_str(), static_cast<int>(runDirectory.size()),
                                         TRUE) == CSTR_EQUAL) {
                    const std::wstring copy = stableCopyOf(wide, wide.substr(wide.find_last_of(L'\\') + 1));
                    bool lossy = false;
                    stable = wideToNarrow(copy, &lossy);
                    if (copy.empty() || lossy) {
                        turnOff(L"no stable copy of ", wide);
                        return false;
                    }
                }
                path += (path.size() > prefix.size() ? ";" : "") + stable;
            }
            changed[i] = std::move(path);
        }
    }
    options = std::move(changed);
    return true;
}

// What the archive depends on: this launcher's file, the runtime's VM and its own base archives, the VM
// options (without the launcher's properties, which name this run's directory) and the path entries.
std::optional<uint64_t> archiveKey(const VmOptionList& options, size_t position) {
    const std::wstring vm = jvmModulePath();
    if (vm.empty()) {
        turnOff(L"the runtime's jvm.dll has no path");
        return std::nullopt;
    }
    std::wstring key(kKeyVersion);
    key += getExecutablePathWide() + L"|" + fileStamp(getExecutablePathWide()) + L"\n";
    key += vm + L"|" + fileStamp(vm) + L"|" + narrowToWide(jvmVersion) + L"\n";
    for (const wchar_t* base : {L"\\classes.jsa", L"\\classes_nocoops.jsa"}) {
        key += fileStamp(directoryOf(vm) + base) + L"\n";
    }
    for (size_t i = position; i < options.size(); ++i) {
        key += narrowToWide(options[i]) + L"\n";
    }
    for (const std::wstring& entry : pathEntries(options)) {
        key += entry + L"|" + fileStamp(entry) + L"\n";
    }
    const std::string bytes = wideToUtf8(key);
    return contentChecksum(bytes.data(), bytes.size());
}

bool decidesItself(const VmOptionList& options, size_t position) {
    for (size_t i = position; i < options.size(); ++i) {
        for (std::string_view choice : kOwnChoices) {
            if (options[i].starts_with(choice)) {
                turnOff(L"the configured option decides: ", narrowToWide(options[i]));
                return true;
            }
        }
    }
    return false;
}

// The checksum that an archive's name gives for its content ("cds-<key>-<checksum>.jsa").
std::optional<uint64_t> namedChecksum(const std::wstring& name) {
    const size_t dash = name.rfind(L'-');
    if (dash == std::wstring::npos || name.size() != dash + 1 + 16 + 4) {
        return std::nullopt;
    }
    wchar_t* end = nullptr;
    const std::wstring digits = name.substr(dash + 1, 16);
    const uint64_t value = std::wcstoull(digits.c_str(), &end, 16);
    return end == digits.c_str() + 16 ? std::optional(value) : std::nullopt;
}

// An archive of this key whose content matches its name; a damaged one is removed on the way.
std::wstring findArchive(const std::wstring& cache, const std::wstring& prefix) {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW entry;
    UniqueFindHandle find(FindFirstFileW((cache + L"\\" + prefix + L"-*.jsa").c_str(), &entry));
    if (find) {
        do {
            if ((entry.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) == 0) {
                names.emplace_back(entry.cFileName);
            }
        } while (names.size() < kMaxArchivesPerKey && FindNextFileW(find.get(), &entry));
    }
    find.reset();
    for (const std::wstring& name : names) {
        const std::wstring path = cache + L"\\" + name;
        const std::optional<uint64_t> named = namedChecksum(name);
        const std::optional<FileDigest> digest = digestFile(path);
        if (named && digest && digest->size > 0 && digest->checksum == *named) {
            return path;
        }
        logMessage(L"class-data sharing: archive %s is damaged (%I64u bytes, checksum %s), removing it",
                   path.c_str(), digest ? digest->size : 0,
                   digest ? hex64(digest->checksum).c_str() : L"none");
        if (!deleteCacheFile(path)) {
            logError(L"DeleteFileW of %s failed with error %lu", path.c_str(), GetLastError());
        }
    }
    return {};
}

} // namespace

bool classDataSharingActive() {
    if (state != State::undecided) {
        return state == State::active;
    }
    if (getConfigInt(ids::kClassDataSharing) == 0) {
        state = State::off;
        return false;
    }
    const int feature = featureVersion();
    if (feature < kClassDataMinimumFeature) {
        turnOff(L"the runtime is older than 13: ", narrowToWide(jvmVersion));
        return false;
    }
    if (userCacheDirectory().empty()) {
        turnOff(L"no per-user cache directory");
        return false;
    }
    state = State::active;
    return true;
}

void addClassDataOptions(VmOptionList& options, size_t position) {
    if (!classDataSharingActive() || position > options.size() || decidesItself(options, position)) {
        return;
    }
    // Before any copy is made: a run that does not share copies nothing.
    if (pathHoldsDirectory(options) || !useStableCopies(options, position)) {
        return;
    }
    const std::optional<uint64_t> key = archiveKey(options, position);
    if (!key) {
        return;
    }
    const std::wstring cache = userCacheDirectory();
    const std::wstring prefix = L"cds-" + hex64(*key);
    const std::wstring archive = findArchive(cache, prefix);
    bool lossy = false;
    std::vector<std::string> added = {"-Xshare:auto", "-Xlog:cds*=off"};
    if (!archive.empty()) {
        logMessage(L"class-data sharing: using %s", archive.c_str());
        added.push_back("-XX:SharedArchiveFile=" + wideToNarrow(archive, &lossy));
    } else {
        trimCacheDirectory(cache, L"cds-*", kMaxCachedArchives - 1);
        pendingArchive = formatWide(L"%s\\%s.%lu.tmp", cache.c_str(), prefix.c_str(), GetCurrentProcessId());
        pendingPrefix = cache + L"\\" + prefix;
        logMessage(
            L"class-data sharing: no archive for this launcher, runtime and class path; this run makes %s",
            pendingArchive.c_str());
        deleteCacheFile(pendingArchive);
        added.push_back("-XX:ArchiveClassesAtExit=" + wideToNarrow(pendingArchive, &lossy));
    }
    if (lossy) {
        pendingArchive.clear();
        turnOff(L"the cache's path does not fit the code page: ", cache);
        return;
    }
    options.insert(options.begin() + static_cast<std::ptrdiff_t>(position), added.begin(), added.end());
}

void finishClassDataArchive() {
    if (pendingArchive.empty()) {
        return;
    }
    const std::wstring written = std::exchange(pendingArchive, {});
    const std::optional<FileDigest> digest = digestFile(written);
    if (!digest || digest->size == 0) {
        logMessage(L"class-data sharing: the VM wrote no archive at %s", written.c_str());
        deleteCacheFile(written);
        return;
    }
    const std::wstring archive = pendingPrefix + L"-" + hex64(digest->checksum) + L".jsa";
    // Without replacing: an archive already in place may be mapped by a running VM.
    if (!MoveFileExW(written.c_str(), archive.c_str(), 0)) {
        logMessage(L"class-data sharing: %s not renamed (error %lu), removed", written.c_str(),
                   GetLastError());
        deleteCacheFile(written);
        return;
    }
    logMessage(L"class-data archive made: %s (%I64u bytes)", archive.c_str(), digest->size);
}

} // namespace morix
