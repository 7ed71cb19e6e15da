// A stand-in for the installer runtime's native library ".vantarock\vrkinst.dll": registerNatives records
// its call in the transcript (MORIX_TRANSCRIPT), reports through the launcher's error callback, and
// answers with MORIX_VRKINST_RESULT (1 when unset).
#include <jni.h>
#include <windows.h>

#include <cstdlib>
#include <string>

using ErrorCallback = void (*)(const wchar_t*, ...);

extern "C" __declspec(dllexport) int registerNatives(JNIEnv* env, HMODULE module, ErrorCallback logError) {
    char path[1024] = "";
    if (GetEnvironmentVariableA("MORIX_TRANSCRIPT", path, sizeof path) > 0) {
        HANDLE file = CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        std::string line = std::string("registerNatives env=") + (env ? "set" : "null") +
                           " module=" + (module ? "set" : "null") + "\n";
        DWORD written = 0;
        WriteFile(file, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
        CloseHandle(file);
    }
    logError(L"registerNatives reports %d through the launcher", 42);
    char result[16] = "";
    return GetEnvironmentVariableA("MORIX_VRKINST_RESULT", result, sizeof result) > 0 ? std::atoi(result) : 1;
}

BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) {
    return TRUE;
}
