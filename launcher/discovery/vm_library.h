// The Java runtime chosen for this process: the entry point of its jvm.dll and the paths that the VM
// invocation needs. Empty until the runtime search has loaded a jvm.dll.
#pragma once

#include <jni.h>

#include <string>

namespace morix {

using CreateJavaVMFunction = jint(JNICALL*)(JavaVM**, void**, void*);

// JNI_CreateJavaVM of the loaded jvm.dll, or null.
extern CreateJavaVMFunction createJavaVM;
// The chosen java.exe's directory with its trailing backslash followed by "..", e.g. C:\app\jre\bin\..
extern std::string jvmHome;
// The chosen runtime's version string, e.g. 1.8.0_231.
extern std::string jvmVersion;
// The directory jvm.dll was loaded from: the java.exe's directory without trailing backslash.
extern std::string jvmBinDirectory;

} // namespace morix
