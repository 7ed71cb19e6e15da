// A stand-in jvm.dll that can be loaded and looked up: it exports JNI_CreateJavaVM (built without that
// export, it stands for a library that is no Java VM).
#include <windows.h>

#ifndef FAKE_JVM_WITHOUT_EXPORT
extern "C" __declspec(dllexport) long __stdcall JNI_CreateJavaVM(void**, void**, void*) {
    return -1;
}
#else
extern "C" __declspec(dllexport) long __stdcall NotAJavaVM() {
    return 0;
}
#endif

BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) {
    return TRUE;
}
