// Loading the chosen runtime's jvm.dll into this process, with the PATH and DLL directories its own DLLs
// need, and the values handed to the VM invocation.
#pragma once

#include <jni.h>
#include <windows.h>

#include <string>

namespace morix {

using CreateJavaVMFunction = jint(JNICALL*)(JavaVM**, void**, void*);

// Set once a runtime has been chosen; never freed.
extern CreateJavaVMFunction createJavaVM;
// The chosen java.exe's directory with its trailing backslash, followed by "..".
extern std::string jvmHome;
extern std::string jvmVersion;
// The bin directory from which jvm.dll was loaded, without trailing backslash.
extern std::string jvmBinDirectory;

// Runs the search and reports a failure to the user when `showErrors` is set.
bool LoadDLL(bool showErrors);
HMODULE loadJvmDll(const std::string& javaExe);
HMODULE loadJvmDllFromBin(const std::string& javaExe);
HMODULE tryJvmDll(const std::string& binDirectory, const std::string& subdirectory);
void preloadUcrtbase(const std::string& binDirectory);
DLL_DIRECTORY_COOKIE addRuntimeDllDirectory(const std::string& directory);
void removeRuntimeDllDirectory(DLL_DIRECTORY_COOKIE cookie);
bool lookupCreateJavaVM(HMODULE module);
void setJvmHome(const std::string& javaExe, const std::string& version);
// Puts the application's native library directories (id 10004) in front of PATH.
void setNativeLibraryPath();

} // namespace morix
