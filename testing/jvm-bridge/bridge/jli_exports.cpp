// jli.dll's exports: the JDK's argument-file functions for the launcher, and the entry point of the
// runtime's java.exe and javaw.exe.
#include "argument_files.h"
#include "diagnostics.h"
#include "java_command.h"
#include "windows_paths.h"
#include "winelib.h"

using namespace morix::bridge;

extern "C" MORIX_WINAPI void bridgeInitArgProcessing(jboolean hasJavaArgs, jboolean disableArgFile) {
    keepTraceOutput();
    initArgumentProcessing(hasJavaArgs, disableArgFile);
}

// The caller's text is narrow Windows text; the expanded arguments are the file's bytes, as on Windows.
extern "C" MORIX_WINAPI JliList* bridgePreprocessArg(const char* argument, jboolean expandSourceOption) {
    return preprocessArgument(argument, expandSourceOption, ansiTextMapping().path);
}

extern "C" MORIX_WINAPI void bridgeMemFree(void* memory) {
    releaseArguments(memory);
}

// Never returns: the process ends here with the java command's exit code, while this DLL is still loaded
// for the threads that relay the standard handles.
extern "C" MORIX_WINAPI void bridgeRunJava() {
    ExitProcess(static_cast<UINT>(runJavaCommand()));
}
