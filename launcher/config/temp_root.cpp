#include "config/temp_root.h"

#include "common/handles.h"
#include "common/text.h"
#include "config/payload.h"
#include "config/paths.h"
#include "frame/fatal.h"
#include "frame/log.h"

#include "morix/config_ids.h"
#include "morix/message_ids.h"

#include <windows.h>

#include <cstdlib>
#include <ctime>
#include <vector>

namespace morix {
namespace {

constexpr int kCsidlLocalAppData = 35;

using SHGetFolderPathAFunction = HRESULT(WINAPI*)(HWND, int, HANDLE, DWORD, LPSTR);
using SHGetFolderPathWFunction = HRESULT(WINAPI*)(HWND, int, HANDLE, DWORD, LPWSTR);

struct Shell32Functions {
    SHGetFolderPathAFunction folderPathA = nullptr;
    SHGetFolderPathWFunction folderPathW = nullptr;
};

// Looked up once: shell32 is not linked, so a system without it only loses one candidate.
const Shell32Functions& shell32() {
    static const Shell32Functions functions = [] {
        Shell32Functions f;
        HMODULE module = LoadLibraryA("shell32.dll");
        f.folderPathA = lookupFunction<SHGetFolderPathAFunction>(module, "SHGetFolderPathA");
        f.folderPathW = lookupFunction<SHGetFolderPathWFunction>(module, "SHGetFolderPathW");
        return f;
    }();
    return functions;
}

void seedRandom() {
    std::srand(static_cast<unsigned>(std::time(nullptr)) * GetCurrentProcessId());
}

// Candidate sources; an empty result means the source is missing and the candidate is skipped.
std::string tempPathA() {
    char buffer[MAX_PATH + 2] = "";
    DWORD length = GetTempPathA(sizeof buffer, buffer);
    return length > 0 && length < sizeof buffer ? std::string(buffer, length) : std::string();
}

std::wstring tempPathW() {
    wchar_t buffer[MAX_PATH + 2] = L"";
    DWORD length = GetTempPathW(MAX_PATH + 2, buffer);
    return length > 0 && length < MAX_PATH + 2 ? std::wstring(buffer, length) : std::wstring();
}

std::string environmentA(const char* name) {
    std::vector<char> buffer(kBufferSize, '\0');
    DWORD length = GetEnvironmentVariableA(name, buffer.data(), kBufferSize);
    return length > 0 && length < kBufferSize ? std::string(buffer.data(), length) : std::string();
}

std::wstring environmentW(const wchar_t* name) {
    std::vector<wchar_t> buffer(kBufferSize, L'\0');
    DWORD length = GetEnvironmentVariableW(name, buffer.data(), kBufferSize);
    return length > 0 && length < kBufferSize ? std::wstring(buffer.data(), length) : std::wstring();
}

std::string windowsDirectoryA() {
    char buffer[MAX_PATH + 1] = "";
    UINT length = GetWindowsDirectoryA(buffer, sizeof buffer);
    return length > 0 && length < sizeof buffer ? std::string(buffer, length) : std::string();
}

std::wstring windowsDirectoryW() {
    wchar_t buffer[MAX_PATH + 1] = L"";
    UINT length = GetWindowsDirectoryW(buffer, MAX_PATH + 1);
    return length > 0 && length < MAX_PATH + 1 ? std::wstring(buffer, length) : std::wstring();
}

std::string suffixed(const std::string& base, const char* suffix) {
    return base.empty() ? base : base + suffix;
}
std::wstring suffixed(const std::wstring& base, const wchar_t* suffix) {
    return base.empty() ? base : base + suffix;
}

std::string homeA() {
    std::string drive = environmentA("HOMEDRIVE");
    std::string path = environmentA("HOMEPATH");
    return drive.empty() || path.empty() ? std::string() : drive + path;
}

std::wstring homeW() {
    std::wstring drive = environmentW(L"HOMEDRIVE");
    std::wstring path = environmentW(L"HOMEPATH");
    return drive.empty() || path.empty() ? std::wstring() : drive + path;
}

std::string localAppDataTempA() {
    char buffer[MAX_PATH + 1] = "";
    if (!shell32().folderPathA ||
        shell32().folderPathA(nullptr, kCsidlLocalAppData, nullptr, 0, buffer) != S_OK) {
        return {};
    }
    std::string vantarock = std::string(buffer) + "\\vantarock";
    CreateDirectoryA(vantarock.c_str(), nullptr);
    return vantarock + "\\temp";
}

std::wstring localAppDataTempW() {
    wchar_t buffer[MAX_PATH + 1] = L"";
    if (!shell32().folderPathW ||
        shell32().folderPathW(nullptr, kCsidlLocalAppData, nullptr, 0, buffer) != S_OK) {
        return {};
    }
    std::wstring vantarock = std::wstring(buffer) + L"\\vantarock";
    CreateDirectoryW(vantarock.c_str(), nullptr);
    return vantarock + L"\\temp";
}

// Creates and removes a uniquely named subdirectory: the root is usable when that worked.
bool writeProbe(const std::string& candidate) {
    seedRandom();
    std::string probe = formatNarrow("%s\\mrxtw%d%d", candidate.c_str(),
                                     static_cast<int>(GetCurrentProcessId()), std::rand());
    RemoveDirectoryA(probe.c_str());
    bool created = CreateDirectoryA(probe.c_str(), nullptr) != FALSE;
    bool found = created && fileExists(probe);
    if (created) {
        RemoveDirectoryA(probe.c_str());
    }
    return found;
}

bool writeProbe(const std::wstring& candidate) {
    seedRandom();
    std::wstring probe =
        formatWide(L"%s\\mrxtw%d%d", candidate.c_str(), static_cast<int>(GetCurrentProcessId()), std::rand());
    RemoveDirectoryW(probe.c_str());
    bool created = CreateDirectoryW(probe.c_str(), nullptr) != FALSE;
    bool found = created && fileExists(probe);
    if (created) {
        RemoveDirectoryW(probe.c_str());
    }
    return found;
}

bool checkCandidate(std::string& candidate, bool create, bool examine, bool preferLong) {
    if (candidate.empty()) {
        return false;
    }
    if (create) {
        CreateDirectoryA(candidate.c_str(), nullptr);
    }
    // A long form can differ from a candidate without a short name only by the case of its letters, which
    // only preferLong asks for; the "?" that examine looks for comes only from widening a short name.
    if (preferLong || (examine && mayHoldShortName(narrowToWide(candidate)))) {
        std::vector<char> buffer(kBufferSize, '\0');
        DWORD length = GetLongPathNameA(candidate.c_str(), buffer.data(), kBufferSize);
        if (length > 0 && length < kBufferSize) {
            std::string longForm(buffer.data(), length);
            // A "?" in the long form: the directory's name cannot be represented in the code page.
            if (longForm.find('?') != std::string::npos) {
                if (examine) {
                    return false;
                }
            } else if (preferLong && longForm != candidate) {
                logMessage(L"using long path %S", longForm.c_str());
                candidate = longForm;
            }
        }
    }
    return writeProbe(candidate);
}

bool checkCandidate(const std::wstring& candidate, bool create, bool examine) {
    if (candidate.empty()) {
        return false;
    }
    if (create) {
        CreateDirectoryW(candidate.c_str(), nullptr);
    }
    // Only a short name can widen into a long form that holds a "?"; without one the candidate is its own.
    if (examine && mayHoldShortName(candidate)) {
        std::vector<wchar_t> buffer(kBufferSize, L'\0');
        DWORD length = GetLongPathNameW(candidate.c_str(), buffer.data(), kBufferSize);
        if (length > 0 && length < kBufferSize &&
            std::wstring_view(buffer.data(), length).find(L'?') != std::wstring_view::npos) {
            return false;
        }
    }
    return writeProbe(candidate);
}

} // namespace

std::optional<std::string> searchTempRoot() {
    const bool preferLong = getConfigInt(ids::kLongTempPath) != 0;
    struct Candidate {
        std::string (*source)();
        bool create, examine, preferLong;
    };
    const Candidate candidates[] = {
        {tempPathA, true, true, preferLong},
        {[] { return suffixed(environmentA("USERPROFILE"), "\\AppData\\Local\\Temp"); }, false, true,
         preferLong},
        {homeA, false, true, preferLong},
        {localAppDataTempA, true, true, preferLong},
        {[] { return suffixed(windowsDirectoryA(), "\\temp"); }, false, false, false},
        {[] { return std::string("c:\\temp"); }, false, false, false},
        {[] { return std::string("c:\\tmp"); }, false, false, false},
        {windowsDirectoryA, false, false, false},
        {[] { return std::string("c:\\tmp"); }, true, false, false},
        // The last three accept directories whose names the code page cannot represent.
        {tempPathA, true, false, preferLong},
        {[] { return suffixed(environmentA("USERPROFILE"), "\\AppData\\Local\\Temp"); }, false, false,
         preferLong},
        {homeA, false, false, preferLong},
    };
    for (const Candidate& c : candidates) {
        std::string candidate = c.source();
        if (checkCandidate(candidate, c.create, c.examine, c.preferLong)) {
            return candidate;
        }
    }
    return std::nullopt;
}

std::optional<std::wstring> searchTempRootWide() {
    struct Candidate {
        std::wstring (*source)();
        bool create, examine;
    };
    const Candidate candidates[] = {
        {tempPathW, true, true},
        {[] { return suffixed(environmentW(L"USERPROFILE"), L"\\AppData\\Local\\Temp"); }, false, true},
        {homeW, false, true},
        {localAppDataTempW, true, true},
        {[] { return suffixed(windowsDirectoryW(), L"\\temp"); }, false, false},
        {[] { return std::wstring(L"c:\\temp"); }, false, false},
        {[] { return std::wstring(L"c:\\tmp"); }, false, false},
        {windowsDirectoryW, false, false},
        {[] { return std::wstring(L"c:\\tmp"); }, true, false},
        {tempPathW, true, false},
        {[] { return suffixed(environmentW(L"USERPROFILE"), L"\\AppData\\Local\\Temp"); }, false, false},
        {homeW, false, false},
    };
    for (const Candidate& c : candidates) {
        std::wstring candidate = c.source();
        if (checkCandidate(candidate, c.create, c.examine)) {
            return candidate;
        }
    }
    return std::nullopt;
}

const std::string& getTempRoot() {
    static const std::string root = [] {
        std::optional<std::string> found = searchTempRoot();
        if (!found) {
            fatalErrorById(messages::kNoTempDirectory, nullptr);
        }
        return *found;
    }();
    return root;
}

std::wstring getTempRootWide(bool required) {
    static std::wstring cached;
    if (cached.empty()) {
        std::optional<std::wstring> found = searchTempRootWide();
        if (found) {
            cached = *found;
        } else if (required) {
            fatalErrorById(messages::kNoTempDirectory, nullptr);
        }
    }
    return cached;
}

std::string makeTempFileName() {
    std::string root = getTempRoot();
    logMessage(L"tempPath is %S", root.c_str());
    char buffer[MAX_PATH + 1] = "";
    std::string name;
    if (GetTempFileNameA(root.c_str(), "mrx", 0, buffer) != 0) {
        name = buffer;
    } else {
        logMessage(L"GetTempFileName failed (last error %d)", static_cast<int>(GetLastError()));
        if (root.back() != '\\' && root.back() != '/') {
            root += '\\';
        }
        seedRandom();
        name = formatNarrow("%smrx%d", root.c_str(), std::rand());
    }
    logMessage(L"tempFile is %S", name.c_str());
    return name;
}

} // namespace morix
