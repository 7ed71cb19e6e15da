#include "harness/bridged_runtime.h"

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

} // namespace morix::test
