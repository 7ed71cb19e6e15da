#include "harness/bridged_runtime.h"

#include "common/handles.h"
#include "harness/harness.h"

#include <stdexcept>

namespace morix::test {
namespace {

void createDirectories(const std::wstring& path) {
    size_t separator = path.find_last_of(L'\\');
    if (separator != std::wstring::npos && separator > 2 && !pathExists(path.substr(0, separator))) {
        createDirectories(path.substr(0, separator));
    }
    createDirectory(path);
}

} // namespace

void installBridgedRuntime(const std::wstring& home) {
    const std::wstring built = binFile(L"bridged-jdk");
    for (const wchar_t* file : kBridgedRuntimeFiles) {
        std::wstring source = built + L"\\" + file;
        std::wstring target = home + L"\\" + file;
        createDirectories(target.substr(0, target.find_last_of(L'\\')));
        if (!CopyFileW(source.c_str(), target.c_str(), FALSE)) {
            throw std::runtime_error("cannot copy " + narrow(source) + " to " + narrow(target) + " (error " +
                                     std::to_string(GetLastError()) + "); is the bridged runtime built?");
        }
    }
}

std::wstring unixPath(const std::wstring& windowsPath) {
    using ToUnix = char*(CDECL*)(const wchar_t*);
    static const ToUnix toUnix =
        lookupFunction<ToUnix>(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name");
    char* path = toUnix != nullptr ? toUnix(windowsPath.c_str()) : nullptr;
    std::wstring result = path != nullptr ? wide(path) : std::wstring();
    HeapFree(GetProcessHeap(), 0, path);
    return result;
}

} // namespace morix::test
