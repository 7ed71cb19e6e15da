#include "discovery/registry_sources.h"

#include "common/handles.h"
#include "common/text.h"
#include "config/payload.h"
#include "frame/log.h"

#include "morix/config_ids.h"

#include <algorithm>
#include <optional>
#include <vector>

namespace morix {
namespace {

constexpr const char* kLocatedJvmsKey = "SOFTWARE\\quarrystone\\morix\\locatedjvms\\";
constexpr const char* kInstallationsKey = "SOFTWARE\\quarrystone\\vantarock\\installations";
// Enough for every real registry; a key with more subkeys is not read further.
constexpr DWORD kMaxSubkeys = 10000;

std::optional<std::string> readStringValue(HKEY key, const char* name, size_t capacity) {
    std::vector<char> buffer(capacity + 1, '\0');
    DWORD size = static_cast<DWORD>(capacity);
    DWORD type = 0;
    if (RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer.data()), &size) !=
        ERROR_SUCCESS) {
        return std::nullopt;
    }
    return std::string(buffer.data(), strnlen(buffer.data(), size));
}

std::optional<std::string> readValue(HKEY hive, const std::string& keyName, const char* name, size_t capacity,
                                     REGSAM view = 0) {
    UniqueRegKey key;
    if (RegOpenKeyExA(hive, keyName.c_str(), 0, KEY_READ | view, key.receive()) != ERROR_SUCCESS) {
        return std::nullopt;
    }
    return readStringValue(key.get(), name, capacity);
}

std::vector<std::string> subkeyNames(HKEY key) {
    std::vector<std::string> names;
    std::vector<char> name(kBufferSize, '\0');
    for (DWORD index = 0; index < kMaxSubkeys; ++index) {
        DWORD length = static_cast<DWORD>(name.size());
        LONG status = RegEnumKeyExA(key, index, name.data(), &length, nullptr, nullptr, nullptr, nullptr);
        if (status == ERROR_NO_MORE_ITEMS) {
            break;
        }
        if (status == ERROR_SUCCESS) {
            names.emplace_back(name.data(), length);
        }
    }
    return names;
}

bool validateHome(const std::string& home, std::string& javaExe, std::string& version,
                  const VersionNumbers& minimum, const VersionNumbers& maximum) {
    return javaExeFromHome(javaExe, home) && checkJavaExe(javaExe, version, minimum, maximum, false, true);
}

struct Found {
    std::string javaExe;
    std::string version;
};

// Of two sources, the first is taken only when strictly newer.
bool chooseNewer(std::optional<Found>& preferredWhenNewer, std::optional<Found>& otherwise,
                 std::string& javaExe, std::string& version) {
    const Found* chosen = nullptr;
    if (preferredWhenNewer && otherwise) {
        chosen = isNewerVersion(preferredWhenNewer->version, otherwise->version) ? &*preferredWhenNewer
                                                                                 : &*otherwise;
    } else if (preferredWhenNewer) {
        chosen = &*preferredWhenNewer;
    } else if (otherwise) {
        chosen = &*otherwise;
    }
    if (!chosen) {
        return false;
    }
    javaExe = chosen->javaExe;
    version = chosen->version;
    return true;
}

bool findPreviousInstallationInView(HKEY hive, REGSAM view, std::string& javaExe, std::string& version,
                                    const VersionNumbers& minimum, const VersionNumbers& maximum) {
    const std::string appId = getConfigString(ids::kPreviousInstallationsAppId);
    logMessage(L"checking app id %S (%d, %p)", appId.c_str(), static_cast<int>(view),
               static_cast<void*>(hive));
    if (appId.empty()) {
        return false;
    }
    UniqueRegKey key;
    LONG status = RegOpenKeyExA(hive, kInstallationsKey, 0, KEY_READ | view, key.receive());
    if (status != ERROR_SUCCESS) {
        logMessage(L"could not open installation node %d", static_cast<int>(status));
        return false;
    }
    std::optional<std::string> directories = readStringValue(key.get(), appId.c_str(), kBufferSize);
    if (!directories || directories->empty()) {
        logMessage(L"could not query value node %d", 0);
        return false;
    }
    logMessage(L"found installations: %S", directories->c_str());
    for (const std::string& directory : splitList(*directories)) {
        std::string home = directory + "\\jre";
        if (!javaExeFromHome(javaExe, home)) {
            logMessage(L"did not find java in %S", home.c_str());
        } else if (checkJavaExe(javaExe, version, minimum, maximum, false, true)) {
            return true;
        } else {
            logMessage(L"java version did not match in %S", home.c_str());
        }
    }
    return false;
}

} // namespace

bool searchRegistry(std::string& javaExe, std::string& version, const VersionNumbers& minimum,
                    const VersionNumbers& maximum) {
    const bool ownRuntimesOnly = getConfigInt(ids::kBundledRuntimesOnly) != 0;
    std::optional<Found> javaSoft;
    std::optional<Found> located;
    Found candidate;
    if (!ownRuntimesOnly && searchJavaSoft(candidate.javaExe, candidate.version, minimum, maximum)) {
        logMessage(L"found sun %S %S", candidate.javaExe.c_str(), candidate.version.c_str());
        javaSoft = candidate;
    }
    if (searchLocatedJvms(!ownRuntimesOnly, candidate.javaExe, candidate.version, minimum, maximum)) {
        logMessage(L"found located %S %S", candidate.javaExe.c_str(), candidate.version.c_str());
        located = candidate;
    }
    return chooseNewer(javaSoft, located, javaExe, version);
}

bool searchJavaSoft(std::string& javaExe, std::string& version, const VersionNumbers& minimum,
                    const VersionNumbers& maximum) {
    const bool jdkRequired = getConfigInt(ids::kRequireJdk) != 0;
    return readJavaSoftCurrentVersion("SOFTWARE\\JavaSoft\\JDK", "SOFTWARE\\JavaSoft\\JRE", javaExe, version,
                                      minimum, maximum) ||
           (!jdkRequired &&
            scanJavaSoftVersions("SOFTWARE\\JavaSoft\\JRE", javaExe, version, minimum, maximum)) ||
           scanJavaSoftVersions("SOFTWARE\\JavaSoft\\JDK", javaExe, version, minimum, maximum) ||
           readJavaSoftCurrentVersion("SOFTWARE\\JavaSoft\\Java Development Kit",
                                      "SOFTWARE\\JavaSoft\\Java Runtime Environment", javaExe, version,
                                      minimum, maximum) ||
           (!jdkRequired && scanJavaSoftVersions("SOFTWARE\\JavaSoft\\Java Runtime Environment", javaExe,
                                                 version, minimum, maximum)) ||
           scanJavaSoftVersions("SOFTWARE\\JavaSoft\\Java Development Kit", javaExe, version, minimum,
                                maximum);
}

bool readJavaSoftCurrentVersion(const char* jdkKey, const char* jreKey, std::string& javaExe,
                                std::string& version, const VersionNumbers& minimum,
                                const VersionNumbers& maximum) {
    auto currentVersion = [&](const char* key) {
        std::optional<std::string> value = readValue(HKEY_LOCAL_MACHINE, key, "CurrentVersion", 100);
        return value && checkVersionKey(*value, minimum, maximum) ? *value : std::string();
    };
    const std::string jdkVersion = currentVersion(jdkKey);
    const std::string jreVersion =
        getConfigInt(ids::kRequireJdk) != 0 ? std::string() : currentVersion(jreKey);
    const bool useJdk = isNewerVersion(jdkVersion, jreVersion);
    // Without a chosen version the key would name the family key itself, which holds no runtime.
    if ((useJdk ? jdkVersion : jreVersion).empty()) {
        return false;
    }
    const std::string key = std::string(useJdk ? jdkKey : jreKey) + "\\" + (useJdk ? jdkVersion : jreVersion);
    std::optional<std::string> home = readValue(HKEY_LOCAL_MACHINE, key, "JavaHome", kBufferSize);
    return home && validateHome(*home, javaExe, version, minimum, maximum);
}

bool scanJavaSoftVersions(const char* keyName, std::string& javaExe, std::string& version,
                          const VersionNumbers& minimum, const VersionNumbers& maximum) {
    UniqueRegKey key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyName, 0, KEY_READ, key.receive()) != ERROR_SUCCESS) {
        return false;
    }
    std::vector<std::string> names;
    for (std::string& name : subkeyNames(key.get())) {
        if (checkVersionKey(name, minimum, maximum)) {
            names.push_back(std::move(name));
        }
    }
    // Byte-wise, not numeric: 1.8, 1.8.0_231, 11, 11.0.5, 9; the walk starts at the end.
    std::sort(names.begin(), names.end());
    for (auto name = names.rbegin(); name != names.rend(); ++name) {
        std::optional<std::string> home = readValue(key.get(), *name, "JavaHome", kBufferSize);
        if (home && validateHome(*home, javaExe, version, minimum, maximum)) {
            return true;
        }
    }
    return false;
}

bool searchLocatedJvms(bool acceptAll, std::string& javaExe, std::string& version,
                       const VersionNumbers& minimum, const VersionNumbers& maximum) {
    std::optional<Found> user;
    std::optional<Found> machine;
    Found candidate;
    if (scanLocatedJvms(HKEY_CURRENT_USER, acceptAll, candidate.javaExe, candidate.version, minimum,
                        maximum)) {
        user = candidate;
    }
    if (scanLocatedJvms(HKEY_LOCAL_MACHINE, acceptAll, candidate.javaExe, candidate.version, minimum,
                        maximum)) {
        machine = candidate;
    }
    return chooseNewer(user, machine, javaExe, version);
}

bool scanLocatedJvms(HKEY hive, bool acceptAll, std::string& javaExe, std::string& version,
                     const VersionNumbers& minimum, const VersionNumbers& maximum) {
    UniqueRegKey key;
    if (RegOpenKeyExA(hive, kLocatedJvmsKey, 0, KEY_READ, key.receive()) != ERROR_SUCCESS) {
        return false;
    }
    std::optional<Found> best;
    for (std::string path : subkeyNames(key.get())) {
        std::replace(path.begin(), path.end(), '/', '\\');
        if (!acceptAll && path.find("vrk_jres") == std::string::npos) {
            continue;
        }
        Found candidate{path, {}};
        if (checkJavaExe(candidate.javaExe, candidate.version, minimum, maximum, true, true) &&
            (!best || isNewerVersion(candidate.version, best->version))) {
            best = candidate;
        }
    }
    if (!best) {
        return false;
    }
    javaExe = best->javaExe;
    version = best->version;
    return true;
}

bool findPreviousInstallation(HKEY hive, std::string& javaExe, std::string& version,
                              const VersionNumbers& minimum, const VersionNumbers& maximum) {
    return findPreviousInstallationInView(hive, 0, javaExe, version, minimum, maximum) ||
           findPreviousInstallationInView(hive, KEY_WOW64_32KEY, javaExe, version, minimum, maximum);
}

} // namespace morix
