#include "discovery/vm_library.h"

#include "common/handles.h"
#include "common/scope_guard.h"
#include "common/text.h"
#include "config/payload.h"
#include "config/paths.h"
#include "discovery/search.h"
#include "frame/fatal.h"
#include "frame/log.h"
#include "windows/variables.h"

#include "morix/config_ids.h"
#include "morix/config_values.h"
#include "morix/message_ids.h"

#include <cstdlib>
#include <optional>
#include <vector>

namespace morix {

CreateJavaVMFunction createJavaVM = nullptr;
std::string jvmHome;
std::string jvmVersion;
std::string jvmBinDirectory;

namespace {

// The VM subdirectories of a bin directory, after the one configured first.
constexpr const char* kVmSubdirectories[] = {"client", "server", "j9vm", "hotspot", "jrockit"};
// PATH as the native library directories leave it is limited to this many bytes.
constexpr size_t kMaxNativePathLength = 48000;

using AddDllDirectoryFunction = DLL_DIRECTORY_COOKIE(WINAPI*)(PCWSTR);
using RemoveDllDirectoryFunction = BOOL(WINAPI*)(DLL_DIRECTORY_COOKIE);

std::optional<std::string> currentPath() {
    DWORD size = GetEnvironmentVariableA("PATH", nullptr, 0);
    if (size == 0) {
        return std::nullopt;
    }
    std::string value(size, '\0');
    DWORD length = GetEnvironmentVariableA("PATH", value.data(), size);
    value.resize(length < size ? length : 0);
    return value;
}

// PATH for this process and for the C runtime's copy of the environment, which a JVM in this process
// reads as well. The copy takes any length: it is built, not formatted into a fixed buffer.
bool setPath(const std::string& value) {
    const bool set = SetEnvironmentVariableA("PATH", value.c_str()) != FALSE;
    const DWORD error = GetLastError();
    _putenv_s("PATH", value.c_str());
    SetLastError(error);
    return set;
}

// "java.exe" or, for a path ending in exactly "javaw.exe", that name.
size_t executableNameLength(const std::string& javaExe) {
    static const std::string javaw = "javaw.exe";
    return javaExe.size() >= javaw.size() &&
                   javaExe.compare(javaExe.size() - javaw.size(), javaw.size(), javaw) == 0
               ? javaw.size()
               : std::string("java.exe").size();
}

std::wstring toFileApiWide(const std::string& text) {
    return narrowToWide(cutToCapacity(text, kBufferSize));
}

// The machine of the last jvm.dll that failed to load as a program of another machine (error 193).
WORD otherMachine = 0;

// The machine field of a PE file's header, or 0 when the file is not one.
WORD peMachine(const std::string& file) {
    UniqueHandle handle(CreateFileW(toFileApiWide(file).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    unsigned char header[4096] = {};
    DWORD read = 0;
    if (!handle || !ReadFile(handle.get(), header, sizeof header, &read, nullptr) || read < 0x40 ||
        header[0] != 'M' || header[1] != 'Z') {
        return 0;
    }
    const DWORD offset =
        header[0x3C] | header[0x3D] << 8 | header[0x3E] << 16 | static_cast<DWORD>(header[0x3F]) << 24;
    if (offset > read - 6 || header[offset] != 'P' || header[offset + 1] != 'E' || header[offset + 2] != 0 ||
        header[offset + 3] != 0) {
        return 0;
    }
    return static_cast<WORD>(header[offset + 4] | header[offset + 5] << 8);
}

// What the user reads when the chosen runtime did not load, by where it was found.
std::wstring loadFailureText(const JvmSearchResult& found) {
    const std::wstring location = toFileApiWide(found.locationText);
    switch (found.kind) {
    case JvmLocationKind::SearchPath:
        return messageText(messages::kNoRuntime, std::to_wstring(sizeof(void*) * 8).c_str());
    case JvmLocationKind::Directory:
        return messageText(messages::kDirectoryRuntime, location.c_str());
    case JvmLocationKind::EnvironmentVariable:
        return messageText(messages::kEnvironmentRuntime, location.c_str());
    default:
        return messageText(messages::kRegistryRuntime, nullptr);
    }
}

// A line that names the bitness when the runtime's jvm.dll is for another machine than the launcher.
std::wstring otherBitnessHint() {
    const bool launcher64 = sizeof(void*) == 8;
    const bool runtime64 = otherMachine == IMAGE_FILE_MACHINE_AMD64 || otherMachine == 0xAA64;
    if (otherMachine == 0 || (otherMachine != IMAGE_FILE_MACHINE_I386 && !runtime64) ||
        runtime64 == launcher64) {
        return {};
    }
    return formatWide(L"\nIt is a %d-bit Java runtime, and this launcher is %d-bit: install a %d-bit Java "
                      L"runtime there, or use the %d-bit build of the launcher.",
                      runtime64 ? 64 : 32, launcher64 ? 64 : 32, launcher64 ? 64 : 32, runtime64 ? 64 : 32);
}

} // namespace

bool LoadDLL(bool showErrors) {
    logMessage(L"LoadDLL (%d, %S, %d)", showErrors ? 1 : 0, "(null)", 0);
    JvmSearchResult found = searchJvm();
    if (found.kind == JvmLocationKind::None) {
        logError(L"No JVM found");
        if (showErrors) {
            std::wstring bits = std::to_wstring(sizeof(void*) * 8);
            showMessageById(messages::kNoRuntime, bits.c_str());
        }
        return false;
    }
    setJvmHome(found.javaExePath, found.version);
    if (!found.module) {
        logError(L"Could not get DLL-Handle.");
    }
    const bool functions = lookupCreateJavaVM(found.module);
    if (!functions) {
        logError(L"Could not load functions");
    }
    if (found.module && functions) {
        logMessage(L"Loading of JVM-DLL successful");
        return true;
    }
    if (showErrors && found.kind != JvmLocationKind::None) {
        showErrorText(loadFailureText(found) + otherBitnessHint());
    }
    return false;
}

bool lookupCreateJavaVM(HMODULE module) {
    if (!module) {
        return false;
    }
    CreateJavaVMFunction function = lookupFunction<CreateJavaVMFunction>(module, "JNI_CreateJavaVM");
    if (!function) {
        return false;
    }
    createJavaVM = function;
    return true;
}

void setJvmHome(const std::string& javaExe, const std::string& version) {
    const size_t nameLength = executableNameLength(javaExe);
    jvmHome =
        (javaExe.size() >= nameLength ? javaExe.substr(0, javaExe.size() - nameLength) : std::string()) +
        "..";
    jvmVersion = version;
}

HMODULE loadJvmDll(const std::string& javaExe) {
    logMessage(L"Trying to load JVM-DLL from %S", javaExe.c_str());
    if (HMODULE module = loadJvmDllFromBin(javaExe)) {
        return module;
    }
    // A JDK keeps its own runtime in jre\bin.
    const size_t nameLength = executableNameLength(javaExe);
    const std::string bin =
        javaExe.size() >= nameLength ? javaExe.substr(0, javaExe.size() - nameLength) : "";
    return loadJvmDllFromBin(bin + "..\\jre\\bin\\java.exe");
}

HMODULE loadJvmDllFromBin(const std::string& javaExe) {
    // The bin directory: the path less its file name and the backslash before it.
    const size_t cut = executableNameLength(javaExe) + 1;
    const std::string bin = javaExe.size() >= cut ? javaExe.substr(0, javaExe.size() - cut) : std::string();
    const DLL_DIRECTORY_COOKIE cookie = addRuntimeDllDirectory(bin);
    preloadUcrtbase(bin);

    const std::optional<std::string> oldPath = currentPath();
    const std::string newPath = bin + ";" + oldPath.value_or("");
    if (setPath(newPath)) {
        logMessage(L"Setting PATH %d %S", static_cast<int>(oldPath ? oldPath->size() : 0), newPath.c_str());
    } else {
        logMessage(L"Setting PATH %S failed with error %d", newPath.c_str(),
                   static_cast<int>(GetLastError()));
    }

    HMODULE module = nullptr;
    const std::string preferred = getConfigString(ids::kPreferredVm, kPreferredVmCapacity);
    if (!preferred.empty()) {
        module = tryJvmDll(bin, preferred);
    }
    for (const char* subdirectory : kVmSubdirectories) {
        if (module) {
            break;
        }
        module = tryJvmDll(bin, subdirectory);
    }
    if (!module) {
        removeRuntimeDllDirectory(cookie);
        const std::string restored = oldPath.value_or("");
        if (oldPath ? setPath(restored) : SetEnvironmentVariableA("PATH", nullptr) != FALSE) {
            logMessage(L"Setting PATH %S", restored.c_str());
        } else {
            logMessage(L"Setting PATH %S failed with error %d", restored.c_str(),
                       static_cast<int>(GetLastError()));
        }
        if (!oldPath) {
            _putenv_s("PATH", "");
        }
    }
    return module;
}

HMODULE tryJvmDll(const std::string& binDirectory, const std::string& subdirectory) {
    const std::string file = binDirectory + "\\" + subdirectory + "\\jvm.dll";
    const bool exists = fileExists(file);
    logMessage(L"Trying %S (exists %d)", file.c_str(), exists ? 1 : 0);
    HMODULE module = LoadLibraryA(file.c_str());
    if (!module && exists) {
        const DWORD error = GetLastError();
        logMessage(L"Failed with error code %d", static_cast<int>(error));
        if (error == ERROR_BAD_EXE_FORMAT) {
            otherMachine = peMachine(file);
            logMessage(L"%S is a library for machine 0x%x, this launcher is %d-bit", file.c_str(),
                       static_cast<unsigned>(otherMachine), static_cast<int>(sizeof(void*) * 8));
        }
    }
    if (module) {
        jvmBinDirectory = binDirectory;
    }
    return module;
}

void preloadUcrtbase(const std::string& binDirectory) {
    // The cheaper question first: most runtimes bring no ucrtbase.dll of their own.
    const std::string ucrtbase = binDirectory + "\\ucrtbase.dll";
    if (!fileExists(ucrtbase)) {
        return;
    }
    OSVERSIONINFOA version{};
    version.dwOSVersionInfoSize = sizeof version;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    GetVersionExA(&version);
#pragma GCC diagnostic pop
    if (version.dwMajorVersion > 6 || (version.dwMajorVersion == 6 && version.dwMinorVersion >= 4)) {
        return;
    }
    logMessage(L"Preloading ucrtbase.dll 4");
    std::vector<char> previous(kBufferSize, '\0');
    const DWORD previousLength = GetCurrentDirectoryA(kBufferSize, previous.data());
    // The runtime's directory is current only while its ucrtbase.dll loads.
    const ScopeGuard restore([&] {
        if (previousLength > 0 && previousLength < kBufferSize) {
            SetCurrentDirectoryA(previous.data());
        }
    });
    SetCurrentDirectoryA(binDirectory.c_str());
    if (!LoadLibraryA("ucrtbase.dll") && !LoadLibraryA(ucrtbase.c_str())) {
        logMessage(L"Could not preload ucrtbase.dll");
    }
}

DLL_DIRECTORY_COOKIE addRuntimeDllDirectory(const std::string& directory) {
    if (getConfigInt(ids::kAddDllDirectories) == 0) {
        return nullptr;
    }
    auto add = lookupFunction<AddDllDirectoryFunction>(GetModuleHandleA("kernel32.dll"), "AddDllDirectory");
    if (!add) {
        return nullptr;
    }
    const std::wstring wide = toFileApiWide(directory);
    if (wide.empty()) {
        return nullptr;
    }
    logMessage(L"Adding DLL directory %s", wide.c_str());
    return add(wide.c_str());
}

void removeRuntimeDllDirectory(DLL_DIRECTORY_COOKIE cookie) {
    if (!cookie) {
        return;
    }
    auto remove =
        lookupFunction<RemoveDllDirectoryFunction>(GetModuleHandleA("kernel32.dll"), "RemoveDllDirectory");
    if (remove) {
        logMessage(L"Removing DLL directory");
        remove(cookie);
    }
}

void setNativeLibraryPath() {
    std::string directories = getConfigString(ids::kNativeLibraryDirectories);
    logMessage(L"native lib dir is %S", directories.c_str());
    expandVariablesNarrow(directories);
    std::string path = resolvePathList(directories, [](const std::string& entry) {
        if (!entry.empty()) {
            addRuntimeDllDirectory(entry);
        }
    });
    if (!path.empty() && path.back() != ';') {
        path += ';';
    }
    path += currentPath().value_or("");
    if (path.size() > kMaxNativePathLength - 1) {
        logError(L"PATH of %d bytes cut to %d", static_cast<int>(path.size()),
                 static_cast<int>(kMaxNativePathLength - 1));
        path.resize(kMaxNativePathLength - 1);
    }
    if (setPath(path)) {
        logMessage(L"Setting PATH (native libs) %S", path.c_str());
    } else {
        logMessage(L"Setting PATH (native libs) %S failed with error %d", path.c_str(),
                   static_cast<int>(GetLastError()));
    }
}

} // namespace morix
