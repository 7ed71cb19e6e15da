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

#include "morix/config_ids.h"
#include "morix/config_values.h"
#include "morix/message_ids.h"

#include <windows.h>

namespace morix {
namespace {

// Enough for any application's archive directory; a directory with more is not listed further.
constexpr size_t kMaxArchives = 100000;

void dropTrailingSeparator(std::string& text) {
    if (!text.empty() && text.back() == ';') {
        text.pop_back();
    }
}

std::string runtimeModuleName() {
    return launcherFlavour == flavour::kVantarock ? "com.vantarock.runtime" : "com.morix.runtime";
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

// The included archives of a directory of this run.
void addIncludedArchives(std::string& text, const std::string& directory) {
    addArchivesInDirectory(text, directory, "jar");
    addArchivesInDirectory(text, directory, "zip");
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
        const bool required = entry.size() > 1 && entry[1] == path_entry::kRequired;
        std::string name =
            entry.size() > path_entry::kNameOffset ? entry.substr(path_entry::kNameOffset) : std::string();
        expandVariablesNarrow(name);
        bool found = false;
        switch (kind) {
        case path_entry::kArchive:
        case path_entry::kDirectory: {
            const std::string resolved = resolvePathList(name);
            text += resolved + ";";
            found = fileExists(resolved);
            break;
        }
        case path_entry::kEnvironment:
            found = environmentEntry(name, text);
            break;
        case path_entry::kScanDirectory: {
            const std::string directory = resolvePath(name);
            if (id == ids::kModulePath) {
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
            fatalErrorByIdNarrow(
                kind == path_entry::kEnvironment ? messages::kMissingVariable : messages::kMissingFile, name);
        }
    }
}

void buildPathOptions(std::vector<std::string>& options, const ClassPathOverrides& overrides) {
    logMessage(L"adding preconfigured modulepath");
    std::string modulePath;
    addPathEntries(ids::kModulePath, modulePath);

    std::string classPath = "-Djava.class.path=";
    const bool archivesOnModulePath = !modulePath.empty() || getConfigInt(ids::kMainClassInModule) != 0;
    std::string& archiveTarget = archivesOnModulePath ? modulePath : classPath;

    if (overrides.prepend) {
        classPath += *overrides.prepend + ";";
    }
    if (!appTempDir.empty()) {
        addIncludedArchives(archiveTarget, appTempDir);
        addIncludedArchives(classPath, appTempDir + "\\user");
    }
    if (launcherFlavour == flavour::kVantarock) {
        std::string installation = resolvePath(getConfigString(ids::kInstallationDirectory));
        if (installation.empty() || installation.back() != '\\') {
            installation += '\\';
        }
        archiveTarget += installation + ".vantarock\\vrkruntime.jar;";
    }
    if (overrides.replace) {
        classPath += *overrides.replace;
    } else {
        logMessage(L"adding preconfigured classpath");
        addPathEntries(ids::kClassPath, classPath);
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
    if (getConfigInt(ids::kMainClassInModule) != 0) {
        std::string mainClass = getConfigString(ids::kMainClass);
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
