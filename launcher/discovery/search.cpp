#include "discovery/search.h"

#include "common/handles.h"
#include "common/text.h"
#include "config/payload.h"
#include "config/paths.h"
#include "discovery/registry_sources.h"
#include "discovery/unpack.h"
#include "discovery/vm_library.h"
#include "frame/log.h"
#include "windows/variables.h"

#include "morix/config_ids.h"
#include "morix/config_values.h"

#include <cstdio>
#include <vector>

namespace morix {
namespace {

constexpr const wchar_t* kPreferredLocationFile = L"\\.vantarock\\pref_jre.cfg";
constexpr const wchar_t* kInstallerLocationFile = L"\\.vantarock\\inst_jre.cfg";

struct SearchEntry {
    char type;
    std::string text;
};

std::vector<SearchEntry> searchEntries() {
    std::vector<SearchEntry> entries;
    for (const std::string& entry : splitList(getConfigString(ids::kSearchSequence))) {
        entries.push_back({entry[0], entry.substr(1)});
    }
    return entries;
}

// Absolute: longer than one character, with ":" second or a leading pair of backslashes.
bool isAbsoluteLocation(const std::string& path) {
    return path.size() > 1 && (path[1] == ':' || (path[0] == '\\' && path[1] == '\\'));
}

class Search {
public:
    Search() {
        const std::string minimumText = getConfigString(ids::kMinVersion);
        const std::string maximumText = getConfigString(ids::kMaxVersion);
        logMessage(L"MinVersion: %S, MaxVersion: %S", minimumText.c_str(), maximumText.c_str());
        minimum_ = parseVersion(minimumText);
        maximum_ = parseVersion(maximumText);
    }

    JvmSearchResult run() {
        if (preferredLocation() || mainPass() || installerLocation() || fallbackPass() ||
            previousInstallation(HKEY_CURRENT_USER, L"found JRE from previous installation (user) %S") ||
            previousInstallation(HKEY_LOCAL_MACHINE, L"found JRE from previous installation (machine) %S")) {
            return result_;
        }
        logMessage(L"Search sequence finished");
        if (environmentVariable("MORIX_JAVA_HOME")) {
            return result_;
        }
        environmentVariable("VANTAROCK_JAVA_HOME");
        return result_;
    }

private:
    // Records the validated candidate and loads its jvm.dll; true when it loaded.
    bool load(JvmLocationKind kind, const std::string* locationText) {
        result_.kind = kind;
        if (locationText) {
            result_.locationText = *locationText;
        }
        result_.module = loadJvmDll(result_.javaExePath);
        return result_.module != nullptr;
    }

    bool preferredLocation() {
        std::string line;
        if (!readLocationFile(line, kPreferredLocationFile)) {
            return false;
        }
        logMessage(L"Has preferred location %S", line.c_str());
        if (!tryLocation(line, result_.javaExePath, result_.version, minimum_, maximum_, true, false)) {
            return false;
        }
        logMessage(L"Using preferred location");
        return load(JvmLocationKind::Directory, &line);
    }

    bool mainPass() {
        for (const SearchEntry& entry : searchEntries()) {
            std::string text = entry.text;
            expandVariablesNarrow(text);
            logMessage(L"Testing location %S (type %c)", text.c_str(), entry.type);
            bool loaded = false;
            switch (entry.type) {
            case search_entry::kLegacyDirectory:
            case search_entry::kDirectoryWithFallback:
            case search_entry::kDirectoryWithoutFallback:
            case search_entry::kDirectory:
                loaded = tryLocation(text, result_.javaExePath, result_.version, minimum_, maximum_, false,
                                     false) &&
                         load(JvmLocationKind::Directory, &text);
                break;
            case search_entry::kEnvironment:
                loaded =
                    tryEnvironmentVariable(text, result_.javaExePath, result_.version, minimum_, maximum_) &&
                    load(JvmLocationKind::EnvironmentVariable, &text);
                break;
            case search_entry::kSearchPath:
                loaded = trySearchPath(result_.javaExePath, result_.version, minimum_, maximum_) &&
                         load(JvmLocationKind::SearchPath, &text);
                break;
            case search_entry::kRegistry:
                loaded = registry();
                break;
            default:
                break;
            }
            if (loaded) {
                return true;
            }
        }
        return false;
    }

    // The registry source falls through to its next-best runtime while a found one fails to load.
    bool registry() {
        while (searchRegistry(result_.javaExePath, result_.version, minimum_, maximum_)) {
            if (load(JvmLocationKind::Registry, nullptr)) {
                return true;
            }
            if (!addNonWorkingJava(result_.javaExePath)) {
                return false;
            }
        }
        return false;
    }

    bool installerLocation() {
        std::string line;
        if (!readLocationFile(line, kInstallerLocationFile)) {
            return false;
        }
        logMessage(L"Has installer location %S", line.c_str());
        if (!tryLocation(line, result_.javaExePath, result_.version, minimum_, maximum_, false, false)) {
            return false;
        }
        logMessage(L"Using installer location");
        return load(JvmLocationKind::Directory, &line);
    }

    // Relative locations once more, as written: here only the existence of their java.exe counts.
    bool fallbackPass() {
        for (const SearchEntry& entry : searchEntries()) {
            const bool considered =
                entry.type == search_entry::kDirectoryWithFallback ||
                ((entry.type == search_entry::kLegacyDirectory || entry.type == search_entry::kDirectory) &&
                 !isAbsoluteLocation(entry.text));
            if (!considered) {
                continue;
            }
            logMessage(L"Testing relative location %S", entry.text.c_str());
            tryLocation(entry.text, result_.javaExePath, result_.version, minimum_, maximum_, true, true);
            if (fileExists(result_.javaExePath)) {
                logMessage(L"%S exists", result_.javaExePath.c_str());
                if (load(JvmLocationKind::Directory, &entry.text)) {
                    logMessage(L"taking the runtime in %S whatever its version (%S): no search entry met "
                               L"the version bounds, and this one is tried again regardless",
                               entry.text.c_str(),
                               result_.version.empty() ? "unknown" : result_.version.c_str());
                    return true;
                }
            }
        }
        return false;
    }

    bool previousInstallation(HKEY hive, const wchar_t* message) {
        if (!findPreviousInstallation(hive, result_.javaExePath, result_.version, minimum_, maximum_)) {
            return false;
        }
        logMessage(message, result_.javaExePath.c_str());
        return load(JvmLocationKind::Registry, nullptr);
    }

    bool environmentVariable(const std::string& name) {
        return tryEnvironmentVariable(name, result_.javaExePath, result_.version, minimum_, maximum_) &&
               load(JvmLocationKind::EnvironmentVariable, &name);
    }

    VersionNumbers minimum_;
    VersionNumbers maximum_;
    JvmSearchResult result_;
};

} // namespace

JvmSearchResult searchJvm() {
    logMessage(L"Searching for a JVM");
    return Search().run();
}

bool tryLocation(const std::string& directory, std::string& javaExePath, std::string& version,
                 const VersionNumbers& minimum, const VersionNumbers& maximum, bool allowBeta,
                 bool acceptWithoutMatch) {
    const std::string home = resolvePath(directory);
    unpackPackedRuntime(home);
    const bool found = javaExeFromHome(javaExePath, home) &&
                       checkJavaExe(javaExePath, version, minimum, maximum, allowBeta, true, 2000);
    return found || acceptWithoutMatch;
}

bool tryEnvironmentVariable(const std::string& name, std::string& javaExePath, std::string& version,
                            const VersionNumbers& minimum, const VersionNumbers& maximum) {
    std::vector<char> buffer(kBufferSize, '\0');
    DWORD length = GetEnvironmentVariableA(name.c_str(), buffer.data(), kBufferSize);
    if (length == 0 || length >= kBufferSize) {
        return false;
    }
    std::string home(buffer.data(), length);
    for (char& c : home) {
        if (c == '/') {
            c = '\\';
        }
    }
    return javaExeFromHome(javaExePath, home) &&
           checkJavaExe(javaExePath, version, minimum, maximum, false, true, 2000);
}

bool trySearchPath(std::string& javaExePath, std::string& version, const VersionNumbers& minimum,
                   const VersionNumbers& maximum) {
    std::vector<char> buffer(kBufferSize, '\0');
    DWORD length = SearchPathA(nullptr, "java.exe", nullptr, kBufferSize, buffer.data(), nullptr);
    if (length == 0 || length >= kBufferSize) {
        return false;
    }
    javaExePath.assign(buffer.data(), length);
    return checkJavaExe(javaExePath, version, minimum, maximum, false, true, 2000);
}

bool readLocationFile(std::string& line, const wchar_t* relativeName) {
    const std::wstring path =
        resolvePathWide(getConfigStringWide(ids::kInstallationDirectory), false) + relativeName;
    UniqueFile file(_wfopen(path.c_str(), L"rt"));
    if (!file) {
        return false;
    }
    std::vector<char> buffer(kBufferSize, '\0');
    if (!std::fgets(buffer.data(), static_cast<int>(buffer.size()), file.get())) {
        return false;
    }
    line = buffer.data();
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) {
        line.pop_back();
    }
    return true;
}

} // namespace morix
