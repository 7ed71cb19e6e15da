#include "discovery/validation.h"

#include "common/handles.h"
#include "common/process.h"
#include "common/text.h"
#include "config/payload.h"
#include "config/paths.h"
#include "config/temp_root.h"
#include "frame/log.h"

#include "morix/config_ids.h"
#include "morix/config_values.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <optional>

namespace morix {

std::vector<std::string> nonWorkingJavas;
unsigned javaVersionTimeoutMs = 60000;

namespace {

constexpr size_t kMaxNonWorkingJavas = 50;
// The options through which a user could change what the -version run does.
constexpr const char* kJavaOptionVariables[] = {"_JAVA_OPTIONS", "JAVA_TOOL_OPTIONS", "JDK_JAVA_OPTIONS"};

bool isSeparator(char c) {
    return c == '.' || c == '_' || c == '-' || c == '+';
}

// Removes the JVM option variables from the launcher's environment while a runtime runs with -version,
// and puts them back afterwards.
class JavaOptionsHidden {
public:
    JavaOptionsHidden() {
        for (const char* name : kJavaOptionVariables) {
            DWORD size = GetEnvironmentVariableA(name, nullptr, 0);
            if (size == 0) {
                continue;
            }
            std::string value(size, '\0');
            DWORD length = GetEnvironmentVariableA(name, value.data(), size);
            if (length >= size) {
                logMessage(L"error reading %S", name);
            } else {
                value.resize(length);
                logMessage(L"%S is %S", name, value.c_str());
                saved_.push_back({name, value});
            }
            SetEnvironmentVariableA(name, nullptr);
        }
    }
    ~JavaOptionsHidden() {
        for (const auto& [name, value] : saved_) {
            SetEnvironmentVariableA(name, value.c_str());
        }
    }
    JavaOptionsHidden(const JavaOptionsHidden&) = delete;
    JavaOptionsHidden& operator=(const JavaOptionsHidden&) = delete;

private:
    std::vector<std::pair<const char*, std::string>> saved_;
};

std::string cacheKeyOf(const std::string& javaExe) {
    std::string key = "SOFTWARE\\quarrystone\\morix\\jvms\\" + javaExe;
    for (size_t i = sizeof("SOFTWARE\\quarrystone\\morix\\jvms\\") - 1; i < key.size(); ++i) {
        if (key[i] == '\\') {
            key[i] = '/';
        }
    }
    return key;
}

bool containsBetaMarker(const std::string& version) {
    return version.find("beta") != std::string::npos || version.find("-ea") != std::string::npos ||
           version.find("-rc") != std::string::npos;
}

// The version in a first line of "java version "1.8.0_231"" or "openjdk version "11.0.5" 2019-10-15".
std::optional<std::string> versionFromLine(const std::string& line) {
    for (std::string_view prefix :
         {std::string_view("java version \""), std::string_view("openjdk version \"")}) {
        if (line.compare(0, prefix.size(), prefix) != 0) {
            continue;
        }
        std::string rest = line.substr(prefix.size());
        size_t quote = rest.find('"');
        if (quote != std::string::npos) {
            return rest.substr(0, quote);
        }
        return rest.size() >= 2 ? rest.substr(0, rest.size() - 2) : std::string();
    }
    return std::nullopt;
}

std::string firstLineOf(const std::string& file) {
    UniqueFile in(std::fopen(file.c_str(), "r"));
    if (!in) {
        return {};
    }
    char line[100] = "";
    if (!std::fgets(line, sizeof line, in.get())) {
        line[0] = '\0';
    }
    return line;
}

// The runtime's copy of the file handle can outlive it for a moment; the file must not be left behind.
void removeOutputFile(const std::string& file) {
    for (int attempt = 0; attempt < 20; ++attempt) {
        if (DeleteFileA(file.c_str()) || GetLastError() == ERROR_FILE_NOT_FOUND) {
            return;
        }
        Sleep(25);
    }
    logError(L"could not delete %S (error %d)", file.c_str(), static_cast<int>(GetLastError()));
}

// The 8.3 form of a path, or the path itself when it has none.
std::string shortPathOf(const std::string& path) {
    std::vector<char> shortName(kBufferSize, '\0');
    DWORD length = GetShortPathNameA(path.c_str(), shortName.data(), kBufferSize);
    if (length == 0 || length >= kBufferSize) {
        logMessage(L"Could not get short path name for %S", path.c_str());
        return path;
    }
    return std::string(shortName.data(), length);
}

// The file that takes a -version run's standard error, opened for the runtime to inherit; none when it
// cannot be created (the runtime then runs without it and tells nothing).
UniqueHandle createOutputFile(const std::string& file) {
    SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    return UniqueHandle(CreateFileA(file.c_str(), GENERIC_READ | GENERIC_WRITE,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, &inheritable,
                                    CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
}

// What a finished -version run tells: the version on the first line of its output when it ended with
// 0. A runtime that failed is cached as unusable; one that had to be ended is not cached at all.
bool versionOfRun(const ProcessEnd& end, const std::string& javaExe, uint64_t lastWriteTime,
                  const std::string& outputFile, std::string& version) {
    logMessage(L"Exit Code %d", static_cast<int>(end.exitCode));
    if (end.timedOut) {
        logMessage(L"Terminating process");
        return false;
    }
    if (end.exitCode != 0) {
        writeCachedVersion(javaExe, lastWriteTime, "1.0.0");
        return false;
    }
    std::optional<std::string> found = versionFromLine(firstLineOf(outputFile));
    if (!found) {
        return false;
    }
    version = *found;
    logMessage(L"Java version: %S", version.c_str());
    return true;
}

} // namespace

VersionNumbers parseVersion(std::string_view text) {
    VersionNumbers numbers;
    size_t i = 0;
    while (i < text.size()) {
        while (i < text.size() && isSeparator(text[i])) {
            ++i;
        }
        if (i == text.size()) {
            break;
        }
        size_t end = i;
        while (end < text.size() && !isSeparator(text[end])) {
            ++end;
        }
        numbers.push_back(std::atoi(std::string(text.substr(i, end - i)).c_str()));
        i = end;
    }
    return numbers;
}

bool compareToLimit(const VersionNumbers& limit, const VersionNumbers& candidate, bool isMaximum,
                    bool stopWhenCandidateEnds) {
    for (size_t i = 0; i < limit.size(); ++i) {
        int32_t component = 0;
        if (i < candidate.size()) {
            component = candidate[i];
        } else if (stopWhenCandidateEnds) {
            return true;
        }
        if (component == limit[i]) {
            continue;
        }
        return isMaximum ? component < limit[i] : component > limit[i];
    }
    return true;
}

bool checkVersion(const std::string& version, const VersionNumbers& minimum, const VersionNumbers& maximum,
                  bool allowBeta) {
    if (!allowBeta && getConfigInt(ids::kAllowBeta) == 0 && containsBetaMarker(version)) {
        logMessage(L"beta vm not allowed");
        return false;
    }
    VersionNumbers numbers = parseVersion(version);
    return compareToLimit(minimum, numbers, false, false) && compareToLimit(maximum, numbers, true, false);
}

bool checkVersionKey(const std::string& key, const VersionNumbers& minimum, const VersionNumbers& maximum) {
    VersionNumbers numbers = parseVersion(key);
    return compareToLimit(minimum, numbers, false, true) && compareToLimit(maximum, numbers, true, true);
}

bool isNewerVersion(const std::string& a, const std::string& b) {
    VersionNumbers first = parseVersion(a);
    VersionNumbers second = parseVersion(b);
    for (size_t i = 0; i < first.size(); ++i) {
        if (i >= second.size() || first[i] > second[i]) {
            return true;
        }
        if (first[i] < second[i]) {
            return false;
        }
    }
    return false;
}

bool addNonWorkingJava(const std::string& path) {
    logMessage(L"add non-working java %S", path.c_str());
    if (nonWorkingJavas.size() < kMaxNonWorkingJavas) {
        nonWorkingJavas.push_back(path);
    }
    return nonWorkingJavas.size() < kMaxNonWorkingJavas;
}

bool javaExeFromHome(std::string& javaExe, const std::string& home) {
    javaExe = home + "\\jre\\bin\\java.exe";
    if (getConfigInt(ids::kRequireJdk) != 0) {
        return fileExists(home + "\\lib\\tools.jar");
    }
    if (!fileExists(javaExe)) {
        javaExe = home + "\\bin\\java.exe";
    }
    return true;
}

bool checkJavaExe(std::string& javaExePath, std::string& version, const VersionNumbers& minimum,
                  const VersionNumbers& maximum, bool allowBeta, bool useCache, size_t versionCapacity) {
    logMessage(L"checkJavaExe (%S, [out], %d, %d, %d)", javaExePath.c_str(), static_cast<int>(minimum.size()),
               static_cast<int>(maximum.size()), allowBeta ? 1 : 0);
    javaExePath = resolvePath(javaExePath);
    bool result = false;
    uint64_t lastWriteTime = 0;
    if (!findFileTime(javaExePath, &lastWriteTime)) {
        logMessage(L"file doesn't exist");
    } else {
        logMessage(L"file exists");
        version.clear();
        if (useCache && readCachedVersion(javaExePath, lastWriteTime, version, versionCapacity) &&
            version != "1.0.0") {
            logMessage(L"got version %S from the version cache in the registry", version.c_str());
            result = checkVersion(version, minimum, maximum, allowBeta);
        } else if (runJavaVersion(javaExePath, lastWriteTime, version)) {
            logMessage(L"got version from execution %S", version.c_str());
            writeCachedVersion(javaExePath, lastWriteTime, version);
            result = checkVersion(version, minimum, maximum, allowBeta);
        } else {
            logMessage(L"couldn't get version");
        }
    }
    if (result && getConfigInt(ids::kExecutableType) == executable_type::kGui && javaExePath.size() >= 4) {
        javaExePath = javaExePath.substr(0, javaExePath.size() - 4) + "w.exe";
        result = fileExists(javaExePath);
    }
    for (const std::string& failed : nonWorkingJavas) {
        if (failed == javaExePath) {
            return false;
        }
    }
    logMessage(L"checkJavaExe returning %d", result ? 1 : 0);
    return result;
}

bool runJavaVersion(const std::string& javaExe, uint64_t lastWriteTime, std::string& version) {
    const std::string executable = shortPathOf(javaExe);
    // Quoted, and named as the program to start when it is a full path: a path with spaces must never
    // let Windows try its first words as a program (C:\Program.exe for C:\Program Files\...).
    const std::string commandLine = "\"" + executable + "\" -version";
    ProcessStart start;
    start.application = isRelativePath(executable) ? std::wstring() : narrowToWide(executable);
    start.commandLine = narrowToWide(commandLine);
    start.inheritHandles = true;
    start.creationFlags = NORMAL_PRIORITY_CLASS;
    start.hideWindow = true;
    start.standardHandles = true;

    std::optional<JavaOptionsHidden> hidden(std::in_place);
    const std::string outputFile = makeTempFileName();
    UniqueHandle output = createOutputFile(outputFile);
    start.error = output ? output.get() : nullptr;
    SystemError error;
    ChildProcess java = startProcess(start, error);
    const ProcessEnd end = java ? waitForExit(java, javaVersionTimeoutMs) : ProcessEnd{};
    hidden.reset();
    const bool started = static_cast<bool>(java);
    // Closed before the output is read: the runtime is gone, and its file is complete.
    java = {};
    output.reset();

    bool result = false;
    if (!started) {
        logMessage(L"Could not create process %S > %S (error %d)", commandLine.c_str(), outputFile.c_str(),
                   static_cast<int>(error.code));
    } else {
        result = versionOfRun(end, javaExe, lastWriteTime, outputFile, version);
    }
    removeOutputFile(outputFile);
    return result;
}

bool readCachedVersion(const std::string& javaExe, uint64_t lastWriteTime, std::string& version,
                       size_t versionCapacity) {
    UniqueRegKey key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, cacheKeyOf(javaExe).c_str(), 0, KEY_READ, key.receive()) !=
        ERROR_SUCCESS) {
        return false;
    }
    uint64_t stored = 0;
    DWORD size = sizeof stored;
    if (RegQueryValueExA(key.get(), "LastWriteTime", nullptr, nullptr, reinterpret_cast<BYTE*>(&stored),
                         &size) != ERROR_SUCCESS ||
        size != sizeof stored || stored != lastWriteTime) {
        return false;
    }
    std::vector<char> buffer(versionCapacity, '\0');
    size = static_cast<DWORD>(versionCapacity - 1);
    if (RegQueryValueExA(key.get(), "Version", nullptr, nullptr, reinterpret_cast<BYTE*>(buffer.data()),
                         &size) != ERROR_SUCCESS) {
        return false;
    }
    version.assign(buffer.data(), strnlen(buffer.data(), size));
    return version != "1.5." && version != "1.6." && version != "1.7.";
}

void writeCachedVersion(const std::string& javaExe, uint64_t lastWriteTime, const std::string& version) {
    UniqueRegKey key;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, cacheKeyOf(javaExe).c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                        KEY_ALL_ACCESS, nullptr, key.receive(), nullptr) != ERROR_SUCCESS) {
        return;
    }
    RegSetValueExA(key.get(), "LastWriteTime", 0, REG_BINARY, reinterpret_cast<const BYTE*>(&lastWriteTime),
                   sizeof lastWriteTime);
    // The registry counts a terminator in by itself when the byte after the data is zero; a byte that is
    // not zero behind the data keeps the stored value at exactly the version's length.
    const std::string data = version + '\x01';
    RegSetValueExA(key.get(), "Version", 0, REG_SZ, reinterpret_cast<const BYTE*>(data.data()),
                   static_cast<DWORD>(version.size()));
}

} // namespace morix
