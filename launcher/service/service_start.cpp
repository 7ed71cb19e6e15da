#include "service/service_start.h"

#include "common/handles.h"
#include "frame/log.h"

#include <windows.h>

#include <tlhelp32.h>

#include <optional>
#include <string>

namespace morix {
namespace {

struct ProcessEntry {
    DWORD parent = 0;
    std::wstring image;
};

// The snapshot's entry of one process; the list is bounded by what the system runs.
std::optional<ProcessEntry> findProcess(HANDLE snapshot, DWORD pid) {
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry)) {
        if (entry.th32ProcessID == pid) {
            entry.szExeFile[MAX_PATH - 1] = L'\0';
            return ProcessEntry{entry.th32ParentProcessID, entry.szExeFile};
        }
    }
    return std::nullopt;
}

bool sameText(const std::wstring& a, const std::wstring& b) {
    return CompareStringOrdinal(a.c_str(), -1, b.c_str(), -1, TRUE) == CSTR_EQUAL;
}

// The parent's full image path, when it may be opened (a console user may not open a process of
// LocalSystem's: then only the name from the snapshot is known).
std::wstring fullImageOf(DWORD pid) {
    UniqueHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
    std::wstring image(MAX_PATH * 4, L'\0');
    DWORD size = static_cast<DWORD>(image.size());
    if (!process || !QueryFullProcessImageNameW(process.get(), 0, image.data(), &size)) {
        return {};
    }
    image.resize(size);
    return image;
}

} // namespace

bool startedByServiceManager() {
    UniqueHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot) {
        logError(L"CreateToolhelp32Snapshot failed with error %d", static_cast<int>(GetLastError()));
        return false;
    }
    const std::optional<ProcessEntry> self = findProcess(snapshot.get(), GetCurrentProcessId());
    const std::optional<ProcessEntry> parent =
        self ? findProcess(snapshot.get(), self->parent) : std::optional<ProcessEntry>();
    if (!parent || !sameText(parent->image, L"services.exe")) {
        logMessage(L"parent process %s: not started by the service control manager",
                   parent ? parent->image.c_str() : L"(gone)");
        return false;
    }
    // A program of that name elsewhere is not the manager; one whose path is hidden from us is taken by
    // its name, which only the manager's process has in the system directory.
    const std::wstring image = fullImageOf(self->parent);
    std::wstring expected(MAX_PATH, L'\0');
    const UINT length = GetSystemDirectoryW(expected.data(), MAX_PATH);
    expected.resize(length < MAX_PATH ? length : 0);
    expected += L"\\services.exe";
    const bool manager = image.empty() || sameText(image, expected);
    logMessage(L"parent process %s: %s", image.empty() ? parent->image.c_str() : image.c_str(),
               manager ? L"started by the service control manager" : L"not the service control manager");
    return manager;
}

} // namespace morix
