// The ordered list of option strings handed to JNI_CreateJavaVM, merged from the launcher's own
// properties, the configuration, version-specific lines, the locale option, the .vmoptions files, -J
// arguments, the class and module path, the service options and JDK argument files.
#pragma once

#include "common/handles.h"
#include "frame/command_line.h"
#include "windows/class_path.h"

#include <jni.h>

#include <cstdio>

#include <string>
#include <vector>

namespace morix {

using VmOptionList = std::vector<std::string>;

// The option strings and the JavaVMInitArgs that point into them; filled once, never moved afterwards.
struct VmArguments {
    VmOptionList options;
    std::vector<JavaVMOption> jvmOptions;
    JavaVMInitArgs initArgs{};
};

void assembleVmOptions(VmArguments& vmArgs, const std::vector<std::string>& launcherProperties,
                       const ArgumentList& arguments);
// What a process that runs no VM can know of a run's options: the configured ones, those of the default
// options file (when it is read) and the -J arguments (when they count), in the order a run adds them.
// The version-specific lines need the runtime found and are left out.
VmOptionList assembleConfiguredVmOptions(const ArgumentList& arguments);

// The option list while it is being assembled: options, class path directives and the stack of
// options files being read.
class VmOptionAssembler {
public:
    // Applies a directive ("-include-options ", "-classpath ", "-classpath/p ", "-classpath/a ") or
    // appends the narrowed option. `includingFile` is the options file that holds it, or empty.
    void addVmOption(const std::wstring& option, const std::wstring& includingFile);
    // addVmOption for each token, an "-include-options" token joined with the token after it.
    void addVmOptionList(const ArgumentList& tokens);
    // addVmOption for each line of an open options file; `path` resolves its includes (empty: against
    // the launcher's directory), `identity` names it in the include chain when `path` is empty.
    void readVmOptionsFile(std::FILE* file, const std::wstring& path, const std::wstring& identity = {});

    VmOptionList& options() { return options_; }
    const ClassPathOverrides& overrides() const { return overrides_; }

private:
    VmOptionList options_;
    ClassPathOverrides overrides_;
    std::vector<std::wstring> openFiles_; // the include chain, outermost first
};

// The default options file of a launcher path: the path without its last four characters, then the
// whole path, followed by ".vmoptions"; none when neither opens or the path is empty. `opened` names
// the file tried last.
UniqueFile openDefaultOptionsFile(const std::wstring& executable, std::wstring& opened);

// The feature version of the runtime found (1.8 counts as 8); -1 when its version is not known.
int featureVersion();

// Replaces a module option and its value, written as two list entries, by "name=value".
void joinModuleOptions(VmOptionList& options);
// Expands "@file" options through the runtime's own jli.dll (when it has one).
void expandArgumentFiles(VmOptionList& options);

} // namespace morix
