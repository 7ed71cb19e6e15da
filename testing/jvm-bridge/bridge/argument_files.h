// JDK argument files ("@file") expanded by the JDK's own libjli, with Windows file names.
#pragma once

#include <jni.h>

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

namespace morix::bridge {

// libjli's list of arguments; its layout is the same for Windows and Linux callers (x86_64).
struct JliList {
    char** elements;
    size_t size;
    size_t capacity;
};

// JLI_InitArgProcessing of the real libjli; false when it cannot be loaded.
bool initArgumentProcessing(jboolean hasJavaArgs, jboolean disableArgFile);

// JLI_PreprocessArg: null for an argument that is not an argument file, else its arguments (release with
// releaseArguments). `windowsFile` turns the file name after "@" into a Unix path. An argument file that
// cannot be read ends the process with exit code 1, as the JDK's launcher does, naming the file as given.
JliList* preprocessArgument(const char* argument, jboolean expandSourceOption,
                            const std::function<std::string(std::string_view)>& windowsFile);

// JLI_MemFree.
void releaseArguments(void* memory);

} // namespace morix::bridge
