// Creating the Java VM and calling main of the launcher class: the launcher's own system properties,
// the assembled options, a VM thread whose stack follows -Xss, and the Java-side calls in their order.
#pragma once

#include "frame/command_line.h"
#include "windows/vm_options.h"

#include <jni.h>

#include <cstdint>
#include <string>
#include <vector>

namespace morix {

// One launch: the launch arguments and the VM arguments built for them.
struct LaunchRequest {
    ArgumentList arguments;
    VmArguments vmArgs;
};

// Set once the VM exists; valid on the VM thread only (jniEnv).
extern JavaVM* javaVm;
extern JNIEnv* jniEnv;

// Creates the VM, calls main and destroys the VM when main returns. True when main returned without a
// pending exception.
bool launchProgram(const ArgumentList& arguments);

// A size such as 512k, 1m or 2g in bytes; -1 when the text is no such size.
int64_t parseMemorySize(const std::string& text);
// The stack size of the VM thread from the -Xss options (the last valid one wins); 0 for the default.
unsigned vmThreadStackSize(const VmOptionList& options);
// The launcher's system properties, in their order.
std::vector<std::string> buildLauncherProperties();
// The arguments of the launcher class's main, in their order.
std::vector<std::wstring> buildMainArguments(const ArgumentList& arguments);

} // namespace morix
