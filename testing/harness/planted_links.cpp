#include "harness/planted_links.h"

#include "harness/bridged_runtime.h"
#include "harness/harness.h"

#include "common/handles.h"

#include <windows.h>

#include <initializer_list>

namespace morix::test {
namespace {

// Runs a program of the Unix side (Wine starts it in place of a Windows process, so its exit code cannot
// be read: the caller waits for the effect instead).
bool runUnixProgram(std::initializer_list<std::wstring> arguments) {
    std::wstring line;
    for (const std::wstring& argument : arguments) {
        if (argument.empty()) {
            return false; // a path that Wine could not map
        }
        line += (line.empty() ? L"" : L" ") + (L"\"" + argument + L"\"");
    }
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process)) {
        return false;
    }
    UniqueHandle processHandle(process.hProcess);
    UniqueHandle threadHandle(process.hThread);
    WaitForSingleObject(process.hProcess, 10000);
    return true;
}

bool entryExists(const std::wstring& path) {
    WIN32_FIND_DATAW entry;
    UniqueFindHandle find(FindFirstFileW(path.c_str(), &entry));
    return static_cast<bool>(find);
}

} // namespace

bool plantSymbolicLink(const std::wstring& link, const std::wstring& target) {
    const DWORD attributes = GetFileAttributesW(target.c_str());
    const DWORD flags = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)
                            ? SYMBOLIC_LINK_FLAG_DIRECTORY
                            : 0;
    if (CreateSymbolicLinkW(link.c_str(), target.c_str(), flags) && entryExists(link)) {
        return true;
    }
    return runUnixProgram({L"/bin/ln", L"-s", L"--", unixPath(target), unixPath(link)}) &&
           waitUntil(10000, [&] { return entryExists(link); });
}

void removeSymbolicLink(const std::wstring& link) {
    if (entryExists(link)) {
        runUnixProgram({L"/bin/rm", L"-f", L"--", unixPath(link)});
        waitUntil(10000, [&] { return !entryExists(link); });
    }
}

bool deleteBehindItsOwnersBack(const std::wstring& path) {
    return runUnixProgram({L"/bin/rm", L"-f", L"--", unixPath(path)}) &&
           waitUntil(10000, [&] { return !entryExists(path); });
}

} // namespace morix::test
