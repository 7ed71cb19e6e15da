#include "config/tree_removal.h"

#include "frame/log.h"

#include <vector>

namespace morix {
namespace {

// Deeper trees than an application makes in its temporary directory are not descended into.
constexpr int kMaxTreeDepth = 16;
// Longer final paths than the system's own limit for wide paths are not believed.
constexpr DWORD kMaxFinalPath = 32768;
// One listing request returns as many entries as fit; this holds a few hundred typical names.
constexpr size_t kListingBytes = 64 * 1024;

bool samePath(const std::wstring& a, const std::wstring& b) {
    return CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(), static_cast<int>(b.size()),
                                TRUE) == CSTR_EQUAL;
}

std::wstring finalPathOf(HANDLE handle) {
    std::wstring path(MAX_PATH, L'\0');
    for (int attempt = 0; attempt < 2; ++attempt) {
        const DWORD length = GetFinalPathNameByHandleW(handle, path.data(), static_cast<DWORD>(path.size()),
                                                       FILE_NAME_NORMALIZED);
        if (length == 0 || length >= kMaxFinalPath) {
            return {};
        }
        if (length < path.size()) {
            path.resize(length);
            return path;
        }
        path.assign(length + 1, L'\0');
    }
    return {};
}

bool removeEntry(const std::wstring& path, DWORD listedAttributes, int depth, RemovalBudget& budget,
                 bool logSteps);

// Lists the directory through its own handle (never through its name, which may have changed since it
// was checked) and removes each entry.
bool removeContentsAt(const RemovalEntry& directory, const std::wstring& path, std::wstring_view keep,
                      int depth, RemovalBudget& budget, bool logSteps) {
    if (logSteps) {
        logMessage(L"emptying %s", path.c_str());
    }
    // 8-byte aligned, as the listing's records are.
    std::vector<uint64_t> buffer(kListingBytes / sizeof(uint64_t));
    bool complete = true;
    FILE_INFO_BY_HANDLE_CLASS request = FileIdBothDirectoryRestartInfo;
    while (GetFileInformationByHandleEx(directory.handle.get(), request, buffer.data(),
                                        static_cast<DWORD>(buffer.size() * sizeof(uint64_t)))) {
        request = FileIdBothDirectoryInfo;
        const auto* bytes = reinterpret_cast<const char*>(buffer.data());
        for (size_t offset = 0;;) {
            const auto* listed = reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(bytes + offset);
            const std::wstring_view name(listed->FileName, listed->FileNameLength / sizeof(wchar_t));
            if (name != L"." && name != L"..") {
                if (!budget.take()) {
                    return false;
                }
                if (!(depth == 0 && !keep.empty() && name == keep)) {
                    if (!isPlainChildName(name)) {
                        logError(L"%s holds an entry whose name no path can hold; left alone", path.c_str());
                        complete = false;
                    } else if (!removeEntry(path + L"\\" + std::wstring(name), listed->FileAttributes,
                                            depth + 1, budget, logSteps)) {
                        complete = false;
                    }
                }
            }
            if (listed->NextEntryOffset == 0) {
                break;
            }
            offset += listed->NextEntryOffset;
        }
    }
    const DWORD error = GetLastError();
    if (error != ERROR_NO_MORE_FILES) {
        logError(L"GetFileInformationByHandleEx listing %s failed with error %lu", path.c_str(), error);
        return false;
    }
    return complete;
}

bool removeEntry(const std::wstring& path, DWORD listedAttributes, int depth, RemovalBudget& budget,
                 bool logSteps) {
    RemovalEntry entry;
    switch (openForRemoval(path, entry)) {
    case EntryCheck::opened:
        break;
    case EntryCheck::gone:
        return true;
    case EntryCheck::inUse:
        logMessage(L"%s is in use", path.c_str());
        return false;
    case EntryCheck::elsewhere:
        logError(L"%s is a link or was moved; left alone", path.c_str());
        return false;
    case EntryCheck::failed:
        return false;
    }
    if ((entry.attributes | listedAttributes) & FILE_ATTRIBUTE_REPARSE_POINT) {
        // The handle holds the link itself only where it shows the reparse bit: then the link goes and
        // what it points at stays. Where only the listing shows it, the handle may hold the target.
        if (!(entry.attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
            logError(L"%s is a link that cannot be removed without following it; left alone", path.c_str());
            return false;
        }
        logMessage(L"unlinking %s", path.c_str());
        return deleteThroughHandle(entry, path);
    }
    if (entry.attributes & FILE_ATTRIBUTE_DIRECTORY) {
        if (logSteps) {
            logMessage(L"attempting to remove %s (%d)", path.c_str(), 1);
        }
        if (depth >= kMaxTreeDepth) {
            logError(L"%s lies more than %d levels deep; left alone", path.c_str(), kMaxTreeDepth);
            return false;
        }
        return removeContentsAt(entry, path, {}, depth, budget, logSteps) && deleteThroughHandle(entry, path);
    }
    if (logSteps) {
        logMessage(L"attempting to delete %s", path.c_str());
    }
    return deleteThroughHandle(entry, path);
}

} // namespace

RemovalBudget::RemovalBudget(int entries, ULONGLONG milliseconds)
    : limit_(entries), start_(GetTickCount64()), deadline_(start_ + milliseconds) {}

bool RemovalBudget::take() {
    if (!spent_ && (touched_ >= limit_ || GetTickCount64() >= deadline_)) {
        spent_ = true;
    }
    if (spent_) {
        return false;
    }
    ++touched_;
    return true;
}

ULONGLONG RemovalBudget::elapsedMs() const {
    return GetTickCount64() - start_;
}

EntryCheck openForRemoval(const std::wstring& path, RemovalEntry& entry, bool claim) {
    const DWORD access =
        claim ? GENERIC_READ | DELETE | FILE_WRITE_ATTRIBUTES
              : DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES | FILE_LIST_DIRECTORY | SYNCHRONIZE;
    const DWORD sharing = claim ? 0 : FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    entry.handle.reset(CreateFileW(path.c_str(), access, sharing, nullptr, OPEN_EXISTING,
                                   FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!entry.handle) {
        const DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
            return EntryCheck::gone;
        }
        if (error == ERROR_SHARING_VIOLATION) {
            return EntryCheck::inUse;
        }
        logError(L"CreateFileW of %s failed with error %lu", path.c_str(), error);
        return EntryCheck::failed;
    }
    // The basic record, not GetFileInformationByHandle: that one also asks for the volume, which under
    // Wine costs ten times the rest of the step.
    FILE_BASIC_INFO information{};
    if (!GetFileInformationByHandleEx(entry.handle.get(), FileBasicInfo, &information, sizeof information)) {
        logError(L"GetFileInformationByHandleEx of %s failed with error %lu", path.c_str(), GetLastError());
        entry.handle.reset();
        return EntryCheck::failed;
    }
    entry.attributes = information.FileAttributes;
    entry.lastWriteTime = static_cast<uint64_t>(information.LastWriteTime.QuadPart);
    const std::wstring reached = finalPathOf(entry.handle.get());
    if (reached.empty() || !samePath(reached, path)) {
        logError(L"%s reaches %s", path.c_str(), reached.empty() ? L"no final path" : reached.c_str());
        entry.handle.reset();
        return EntryCheck::elsewhere;
    }
    return EntryCheck::opened;
}

std::wstring finalDirectoryPath(const std::wstring& path) {
    UniqueHandle directory(CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                       OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!directory) {
        logError(L"CreateFileW of the directory %s failed with error %lu", path.c_str(), GetLastError());
        return {};
    }
    std::wstring final = finalPathOf(directory.get());
    if (final.empty()) {
        logError(L"GetFinalPathNameByHandleW of %s failed with error %lu", path.c_str(), GetLastError());
    }
    // A drive's root comes back with its backslash; every other final path without one.
    while (!final.empty() && final.back() == L'\\') {
        final.pop_back();
    }
    return final;
}

bool isPlainChildName(std::wstring_view name) {
    return !name.empty() && name != L"." && name != L".." &&
           name.find_first_of(std::wstring_view(L"\\/:\0", 4)) == std::wstring_view::npos;
}

bool deleteThroughHandle(RemovalEntry& entry, const std::wstring& path) {
    if (entry.attributes & FILE_ATTRIBUTE_READONLY) {
        // The attributes belong to the file, not to this name of it: a file that has other names (a hard
        // link planted to a file elsewhere) keeps them as they are.
        FILE_STANDARD_INFO standard{};
        if (!GetFileInformationByHandleEx(entry.handle.get(), FileStandardInfo, &standard, sizeof standard) ||
            standard.NumberOfLinks > 1) {
            logError(L"%s is read-only and has other names; left alone", path.c_str());
            entry.handle.reset();
            return false;
        }
        FILE_BASIC_INFO basic{};
        basic.FileAttributes = entry.attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY);
        if (basic.FileAttributes == 0) {
            basic.FileAttributes = FILE_ATTRIBUTE_NORMAL; // 0 would mean: leave the attributes as they are
        }
        if (!SetFileInformationByHandle(entry.handle.get(), FileBasicInfo, &basic, sizeof basic)) {
            logError(L"SetFileInformationByHandle clearing read-only of %s failed with error %lu",
                     path.c_str(), GetLastError());
        }
    }
    FILE_DISPOSITION_INFO disposition{};
    disposition.DeleteFile = TRUE;
    const bool deleted =
        SetFileInformationByHandle(entry.handle.get(), FileDispositionInfo, &disposition, sizeof disposition);
    if (!deleted) {
        logError(L"SetFileInformationByHandle deleting %s failed with error %lu", path.c_str(),
                 GetLastError());
    }
    entry.handle.reset();
    return deleted;
}

bool removeDirectoryContents(const RemovalEntry& directory, const std::wstring& path, std::wstring_view keep,
                             RemovalBudget& budget, bool logSteps) {
    return removeContentsAt(directory, path, keep, 0, budget, logSteps);
}

} // namespace morix
