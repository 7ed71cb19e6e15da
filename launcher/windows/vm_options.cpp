#include "windows/vm_options.h"

#include "common/handles.h"
#include "common/text.h"
#include "config/locale.h"
#include "config/payload.h"
#include "config/paths.h"
#include "discovery/validation.h"
#include "discovery/vm_library.h"
#include "frame/log.h"
#include "frame/process_state.h"
#include "windows/class_data.h"
#include "windows/variables.h"

#include "morix/config_ids.h"
#include "morix/config_values.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>

namespace morix {
namespace {

constexpr std::wstring_view kIncludeOptions = L"-include-options ";
constexpr std::wstring_view kClassPathReplace = L"-classpath ";
constexpr std::wstring_view kClassPathPrepend = L"-classpath/p ";
constexpr std::wstring_view kClassPathAppend = L"-classpath/a ";
constexpr std::wstring_view kLocaleOption = L"-Dsun.locale.formatasdefault=";
// Lines of options files are read in pieces of this many bytes (terminator included).
constexpr int kOptionsLineCapacity = 30000;
// The expanded text of an option.
constexpr size_t kOptionCapacity = 30000;
// Options files include each other at most this deep; a deeper include is logged and skipped.
constexpr size_t kMaxIncludeDepth = 16;

constexpr const char* kModuleOptions[] = {"--upgrade-module-path", "--add-modules", "--limit-modules",
                                          "--add-exports",         "--add-opens",   "--add-reads",
                                          "--patch-module"};

struct JliList {
    char** elements;
    size_t size;
    size_t capacity;
};
using JliInitArgProcessingFunction = void(JNICALL*)(jboolean, jboolean);
using JliPreprocessArgFunction = JliList*(JNICALL*)(const char*, jboolean);
using JliMemFreeFunction = void(JNICALL*)(void*);

// "*" any run of characters, "?" any one, every other character itself.
bool matchesPattern(std::string_view pattern, std::string_view text) {
    if (pattern.empty()) {
        return text.empty();
    }
    if (pattern[0] == '*') {
        for (size_t skip = 0; skip <= text.size(); ++skip) {
            if (matchesPattern(pattern.substr(1), text.substr(skip))) {
                return true;
            }
        }
        return false;
    }
    return !text.empty() && (pattern[0] == '?' || pattern[0] == text[0]) &&
           matchesPattern(pattern.substr(1), text.substr(1));
}

ArgumentList splitExpanded(std::wstring text, bool narrowSafe) {
    expandVariables(text, narrowSafe, kOptionCapacity);
    ArgumentList tokens;
    splitCommandLine(text, tokens);
    return tokens;
}

void addConfiguredOptions(VmOptionAssembler& assembler) {
    ArgumentList tokens = splitExpanded(getConfigStringWide(ids::kVmOptions), true);
    logMessage(L"adding options");
    assembler.addVmOptionList(tokens);
}

void addVersionSpecificOptions(VmOptionAssembler& assembler) {
    const int lines = getConfigInt(ids::kVersionLineCount);
    if (lines <= 0) {
        return;
    }
    logMessage(L"check %d version specific vm option lines for %S", lines, jvmVersion.c_str());
    if (jvmVersion.empty()) {
        return;
    }
    const int feature = featureVersion();
    for (int i = 0; i < lines; ++i) {
        const std::string condition = getConfigStringCopy(ids::versionLineCondition(i));
        bool match = false;
        if (condition.starts_with(version_line::kPatternMark)) {
            match = matchesPattern(std::string_view(condition).substr(1), jvmVersion);
        } else if (size_t dash = condition.find(version_line::kRangeSeparator); dash != std::string::npos) {
            const int minimum = std::atoi(condition.substr(0, dash).c_str());
            const int maximum = std::atoi(condition.substr(dash + 1).c_str());
            logMessage(L"checking min %d max %d with %d", minimum, maximum, feature);
            match = minimum <= feature && feature <= maximum;
        } else {
            logMessage(L"ERROR: expected dash");
        }
        logMessage(L"checking version %S %d", condition.c_str(), match ? 1 : 0);
        if (match) {
            const std::wstring line = getConfigStringWide(ids::versionLineOptions(i));
            logMessage(L"adding specific %s", line.c_str());
            assembler.addVmOptionList(splitExpanded(line, true));
            return;
        }
    }
}

void addLocaleOption(VmOptionAssembler& assembler, const ArgumentList& arguments) {
    const std::wstring* last = nullptr;
    for (const std::wstring& argument : arguments) {
        if (startsWith(argument, kLocaleOption)) {
            last = &argument;
        }
    }
    if (!last) {
        return;
    }
    assembler.addVmOption(*last, {});
    if (*last == L"-Dsun.locale.formatasdefault=true") {
        return;
    }
    std::string language;
    if (getLocaleLanguage(language)) {
        assembler.addVmOption(formatWide(L"-Duser.language=%S", language.c_str()), {});
    }
    std::string country;
    if (getLocaleCountry(country)) {
        assembler.addVmOption(formatWide(L"-Duser.country=%S", country.c_str()), {});
    }
}

void addDefaultOptionsFile(VmOptionAssembler& assembler) {
    std::wstring opened;
    UniqueFile file = openDefaultOptionsFile(getExecutablePathWide(), opened);
    if (!file) {
        std::wstring module(kBufferSize, L'\0');
        DWORD length = GetModuleFileNameW(nullptr, module.data(), kBufferSize);
        module.resize(length < kBufferSize ? length : 0);
        file = openDefaultOptionsFile(module, opened);
    }
    logMessage(L"default vmoptions file: %p", static_cast<void*>(file.get()));
    if (file) {
        // Its includes resolve against the launcher's directory; its own name guards against cycles.
        assembler.readVmOptionsFile(file.get(), {}, opened);
    }
}

void addJavaArguments(VmOptionAssembler& assembler, const ArgumentList& arguments) {
    for (const std::wstring& argument : arguments) {
        if (startsWith(argument, L"-J")) {
            assembler.addVmOption(argument.substr(2), {});
        }
    }
}

// How an options file is known in the include chain: its full path, in one letter case.
std::wstring fileIdentity(const std::wstring& path) {
    std::wstring full(kBufferSize, L'\0');
    DWORD length = GetFullPathNameW(path.c_str(), kBufferSize, full.data(), nullptr);
    full.resize(length > 0 && length < kBufferSize ? length : 0);
    if (full.empty()) {
        full = path;
    }
    // The kernel's mapping, as CharLowerBuffW does it, without importing user32.dll for it.
    if (!full.empty()) {
        const int size = static_cast<int>(full.size());
        LCMapStringW(LOCALE_USER_DEFAULT, LCMAP_LOWERCASE, full.data(), size, full.data(), size);
    }
    return full;
}

void fillInitArgs(VmArguments& vmArgs) {
    logMessage(L"vmoption count %d", static_cast<int>(vmArgs.options.size()));
    vmArgs.jvmOptions.clear();
    for (size_t i = 0; i < vmArgs.options.size(); ++i) {
        logMessage(L"vmoption %d: %S", static_cast<int>(i), vmArgs.options[i].c_str());
        vmArgs.jvmOptions.push_back({vmArgs.options[i].data(), nullptr});
    }
    vmArgs.initArgs.version = JNI_VERSION_1_2;
    vmArgs.initArgs.nOptions = static_cast<jint>(vmArgs.jvmOptions.size());
    vmArgs.initArgs.options = vmArgs.jvmOptions.data();
    vmArgs.initArgs.ignoreUnrecognized = JNI_TRUE;
}

} // namespace

int featureVersion() {
    const VersionNumbers numbers = parseVersion(jvmVersion);
    if (numbers.empty()) {
        return -1;
    }
    return numbers[0] == 1 && numbers.size() > 1 ? numbers[1] : numbers[0];
}

UniqueFile openDefaultOptionsFile(const std::wstring& executable, std::wstring& opened) {
    // Without a path the names would be relative to the current directory, which the caller chooses.
    if (executable.empty()) {
        logMessage(L"no module path: default vmoptions file skipped");
        return UniqueFile();
    }
    const std::wstring withoutExtension =
        (executable.size() >= 4 ? executable.substr(0, executable.size() - 4) : executable) + L".vmoptions";
    UniqueFile file(_wfopen(withoutExtension.c_str(), L"rt"));
    logMessage(L"vmoptions2: exe %s file: %s, file: %p", executable.c_str(), withoutExtension.c_str(),
               static_cast<void*>(file.get()));
    if (file) {
        opened = withoutExtension;
        return file;
    }
    const std::wstring appended = executable + L".vmoptions";
    file.reset(_wfopen(appended.c_str(), L"rt"));
    logMessage(L"vmoptions: opts2: %s, file: %p", appended.c_str(), static_cast<void*>(file.get()));
    opened = appended;
    return file;
}

void VmOptionAssembler::addVmOption(const std::wstring& option, const std::wstring& includingFile) {
    if (startsWith(option, kIncludeOptions)) {
        std::wstring expanded = option.substr(kIncludeOptions.size());
        expandVariables(expanded, false, kOptionCapacity);
        logMessage(L"after exp from %s %s", includingFile.c_str(), expanded.c_str());
        const std::wstring path =
            resolvePathWide(expanded, false, includingFile.empty() ? nullptr : &includingFile);
        if (openFiles_.size() >= kMaxIncludeDepth) {
            logError(L"options file %s not read: includes nest deeper than %d files", path.c_str(),
                     static_cast<int>(kMaxIncludeDepth));
            return;
        }
        const std::wstring identity = fileIdentity(path);
        for (const std::wstring& open : openFiles_) {
            if (open == identity) {
                logError(L"options file %s not read again: it includes itself", path.c_str());
                return;
            }
        }
        UniqueFile file(_wfopen(path.c_str(), L"rt"));
        logMessage(L"adding vmoptions from (%p) <%s> (%s)", static_cast<void*>(file.get()), path.c_str(),
                   expanded.c_str());
        if (file) {
            readVmOptionsFile(file.get(), path);
        }
        logMessage(L"adding vmoptions 2");
        logMessage(L"adding vmoptions 3");
    } else if (startsWith(option, kClassPathReplace)) {
        overrides_.replace = wideToNarrow(option.substr(kClassPathReplace.size()));
    } else if (startsWith(option, kClassPathPrepend)) {
        overrides_.prepend = wideToNarrow(option.substr(kClassPathPrepend.size()));
    } else if (startsWith(option, kClassPathAppend)) {
        overrides_.append = wideToNarrow(option.substr(kClassPathAppend.size()));
    } else {
        options_.push_back(wideToNarrow(option));
    }
}

void VmOptionAssembler::addVmOptionList(const ArgumentList& tokens) {
    for (size_t i = 0; i < tokens.size(); ++i) {
        if (tokens[i] == L"-include-options" && i + 1 < tokens.size()) {
            addVmOption(tokens[i] + L" " + tokens[i + 1], {});
            ++i;
        } else {
            addVmOption(tokens[i], {});
        }
    }
}

void VmOptionAssembler::readVmOptionsFile(std::FILE* file, const std::wstring& path,
                                          const std::wstring& identity) {
    openFiles_.push_back(fileIdentity(path.empty() ? identity : path));
    std::vector<char> buffer(kOptionsLineCapacity, '\0');
    while (std::fgets(buffer.data(), kOptionsLineCapacity, file)) {
        std::string line = buffer.data();
        while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) {
            line.pop_back();
        }
        const size_t first = line.find_first_not_of(' ');
        if (first == std::string::npos) {
            continue;
        }
        line = line.substr(first, line.find_last_not_of(' ') - first + 1);
        if (line[0] == '#') {
            continue;
        }
        std::wstring option = narrowToWide(line);
        expandVariables(option, true, kOptionCapacity);
        addVmOption(option, path);
    }
    openFiles_.pop_back();
}

void joinModuleOptions(VmOptionList& options) {
    for (size_t i = 0; i + 1 < options.size(); ++i) {
        for (const char* name : kModuleOptions) {
            if (options[i] == name) {
                options[i] = options[i] + "=" + options[i + 1];
                options.erase(options.begin() + static_cast<std::ptrdiff_t>(i) + 1);
                break;
            }
        }
    }
}

void expandArgumentFiles(VmOptionList& options) {
    logMessage(L"@ argument found %d %S", static_cast<int>(options.size()), jvmBinDirectory.c_str());
    if (jvmBinDirectory.empty()) {
        return;
    }
    const std::string library = jvmBinDirectory + "\\jli.dll";
    // The runtime's own library stays loaded for the life of the process, like jvm.dll.
    HMODULE jli = LoadLibraryA(library.c_str());
    if (!jli) {
        logMessage(L"did not find %S", library.c_str());
        return;
    }
    auto init = lookupFunction<JliInitArgProcessingFunction>(jli, "JLI_InitArgProcessing");
    auto preprocess = lookupFunction<JliPreprocessArgFunction>(jli, "JLI_PreprocessArg");
    auto memFree = lookupFunction<JliMemFreeFunction>(jli, "JLI_MemFree");
    if (!init || !preprocess || !memFree) {
        logMessage(L"did not find all list functions %p %p %p", reinterpret_cast<void*>(init),
                   reinterpret_cast<void*>(preprocess), reinterpret_cast<void*>(memFree));
        return;
    }
    init(options.empty() ? JNI_FALSE : JNI_TRUE, JNI_FALSE);
    VmOptionList expanded;
    for (const std::string& option : options) {
        JliList* list = preprocess(option.c_str(), JNI_TRUE);
        if (!list) {
            expanded.push_back(option);
            continue;
        }
        for (size_t i = 0; i < list->size; ++i) {
            expanded.emplace_back(list->elements[i]);
        }
        memFree(list->elements);
        memFree(list);
    }
    options = std::move(expanded);
}

void assembleVmOptions(VmArguments& vmArgs, const std::vector<std::string>& launcherProperties,
                       const ArgumentList& arguments) {
    VmOptionAssembler assembler;
    for (const std::string& property : launcherProperties) {
        assembler.options().push_back(property);
    }
    addConfiguredOptions(assembler);
    addVersionSpecificOptions(assembler);
    addLocaleOption(assembler, arguments);
    if (getConfigInt(ids::kReadVmOptionsFile) != 0) {
        addDefaultOptionsFile(assembler);
    }
    if (getConfigInt(ids::kJArgumentsAreVmOptions) != 0) {
        addJavaArguments(assembler, arguments);
    }
    VmOptionList& options = assembler.options();
    buildPathOptions(options, assembler.overrides());
    if (serviceMode) {
        bool present = false;
        for (const std::string& option : options) {
            present = present || option == "-Xrs";
        }
        if (!present) {
            logMessage(L"service: adding -Xrs");
            options.push_back("-Xrs");
        }
    }
    if (noRedirect) {
        options.push_back("-Dvantarock.noRedir=true");
    }
    joinModuleOptions(options);
    bool argumentFile = false;
    for (const std::string& option : options) {
        argumentFile = argumentFile || option.starts_with("@");
    }
    if (argumentFile) {
        expandArgumentFiles(options);
        joinModuleOptions(options);
    }
    addClassDataOptions(options, launcherProperties.size());
    vmArgs.options = std::move(options);
    fillInitArgs(vmArgs);
}

VmOptionList assembleConfiguredVmOptions(const ArgumentList& arguments) {
    VmOptionAssembler assembler;
    addConfiguredOptions(assembler);
    if (getConfigInt(ids::kReadVmOptionsFile) != 0) {
        addDefaultOptionsFile(assembler);
    }
    if (getConfigInt(ids::kJArgumentsAreVmOptions) != 0) {
        addJavaArguments(assembler, arguments);
    }
    return std::move(assembler.options());
}

} // namespace morix
