#include "windows/class_path.h"

#include "common/handles.h"
#include "common/text.h"
#include "config/extract.h"
#include "config/payload.h"
#include "config/paths.h"
#include "frame/fatal.h"
#include "frame/log.h"
#include "frame/startup.h"
#include "windows/variables.h"

#include <windows.h>

namespace morix {
namespace {

constexpr int kClassPathId = 121;
constexpr int kModulePathId = 132;
// Enough for any application's archive directory; a directory with more is not listed further.
constexpr size_t kMaxArchives = 100000;

void dropTrailingSeparator(std::string& text) {
    if (!text.empty() && text.back() == ';') {
        text.pop_back();
    }
}

std::string runtimeModuleName() {
    return launcherFlavour == 'i' ? "com.vantarock.runtime" : "com.morix.runtime";
}

// An environment entry: its value without enclosing quotes. An empty value counts as not defined, so
// that an empty variable never becomes an empty path entry (which Java reads as the current directory).
bool environmentEntry(const std::string& name, std::string& text) {
    const DWORD size = GetEnvironmentVariableA(name.c_str(), nullptr, 0);
    if (size <= 1) {
        return false;
    }
    std::string value(size, '\0');
    const DWORD length = GetEnvironmentVariableA(name.c_str(), value.data(), size);
    value.resize(length < size ? length : 0);
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"') {
        value = value.substr(1, value.size() - 2);
    }
    text += value;
    if (value.empty() || value.back() != ';') {
        text += ';';
    }
    return true;
}

} // namespace

bool addArchivesInDirectory(std::string& text, const std::string& directory, const std::string& extension) {
    if (!fileExists(directory)) {
        return false;
    }
    const std::string pattern = directory + "\\*" + (extension.starts_with(".") ? "" : ".") + extension;
    std::vector<std::string> names;
    WIN32_FIND_DATAA entry;
    UniqueFindHandle find(FindFirstFileA(pattern.c_str(), &entry));
    if (find) {
        do {
            names.emplace_back(entry.cFileName);
        } while (names.size() < kMaxArchives && FindNextFileA(find.get(), &entry));
    }
    for (const std::string& name : names) {
        text += resolvePath(directory + "\\" + name) + ";";
    }
    return true;
}

void addPathEntries(int id, std::string& text) {
    const std::string configured = getConfigString(id);
    const std::vector<std::string> entries = splitList(configured);
    logMessage(L"entry %S", configured.c_str());
    logMessage(L"entries %d", static_cast<int>(entries.size()));
    for (const std::string& entry : entries) {
        const char kind = entry[0];
        const bool required = entry.size() > 1 && entry[1] == '1';
        std::string name = entry.size() > 2 ? entry.substr(2) : std::string();
        expandVariablesNarrow(name);
        bool found = false;
        switch (kind) {
        case 'A':
        case 'D': {
            const std::string resolved = resolvePathList(name);
            text += resolved + ";";
            found = fileExists(resolved);
            break;
        }
        case 'E':
            found = environmentEntry(name, text);
            break;
        case 'S': {
            const std::string directory = resolvePath(name);
            if (id == kModulePathId) {
                found = fileExists(directory);
                text += directory + ";";
            } else {
                found = addArchivesInDirectory(text, directory, "jar");
                addArchivesInDirectory(text, directory, "zip");
            }
            break;
        }
        default:
            // A kind of its own contributes nothing, and so a required one is missing.
            break;
        }
        if (required && !found) {
            fatalErrorByIdNarrow(kind == 'E' ? 1008 : 1006, name);
        }
    }
}

void buildPathOptions(std::vector<std::string>& options, const ClassPathOverrides& overrides) {
    logMessage(L"adding preconfigured modulepath");
    std::string modulePath;
    addPathEntries(kModulePathId, modulePath);

    std::string classPath = "-Djava.class.path=";
    const bool archivesOnModulePath = !modulePath.empty() || getConfigInt(133) != 0;
    std::string& archiveTarget = archivesOnModulePath ? modulePath : classPath;

    if (overrides.prepend) {
        classPath += *overrides.prepend + ";";
    }
    if (!appTempDir.empty()) {
        addArchivesInDirectory(archiveTarget, appTempDir, "jar");
        addArchivesInDirectory(archiveTarget, appTempDir, "zip");
        addArchivesInDirectory(classPath, appTempDir + "\\user", "jar");
        addArchivesInDirectory(classPath, appTempDir + "\\user", "zip");
    }
    if (launcherFlavour == 'i') {
        std::string installation = resolvePath(getConfigString(10003));
        if (installation.empty() || installation.back() != '\\') {
            installation += '\\';
        }
        archiveTarget += installation + ".vantarock\\vrkruntime.jar;";
    }
    if (overrides.replace) {
        classPath += *overrides.replace;
    } else {
        logMessage(L"adding preconfigured classpath");
        addPathEntries(kClassPathId, classPath);
    }
    if (overrides.append) {
        if (classPath.back() != ';') {
            classPath += ';';
        }
        classPath += *overrides.append;
    }
    dropTrailingSeparator(classPath);
    options.push_back(classPath);

    if (modulePath.empty()) {
        return;
    }
    dropTrailingSeparator(modulePath);
    options.push_back("--module-path=" + modulePath);
    std::string addModules = "--add-modules=";
    if (getConfigInt(133) != 0) {
        std::string mainClass = getConfigString(122);
        const size_t slash = mainClass.find('/');
        if (slash != std::string::npos) {
            const size_t lastDot = mainClass.rfind('.');
            if (lastDot != std::string::npos && lastDot > slash) {
                options.push_back("--add-opens=" + mainClass.substr(0, lastDot) + "=" + runtimeModuleName());
            }
            mainClass.resize(slash);
        }
        addModules += mainClass + ",";
    }
    addModules += runtimeModuleName();
    options.push_back(addModules);
}

} // namespace morix
