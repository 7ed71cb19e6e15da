// Common ground of the bridge's Winelib code: the Windows API inside a Linux process. Code here runs on
// two kinds of threads: Windows threads (Wine's, which may call the Windows API) and the JVM's own Linux
// threads (which must not). Wide Windows text is held as std::u16string: Winelib builds with a 16-bit
// wchar_t, so the C++ library's wchar_t functions (built for 32 bits) must not be used.
#pragma once

#include <windows.h>

#include <string>

// The Windows x64 calling convention, for every function that Windows code calls through a pointer.
#define MORIX_WINAPI __attribute__((ms_abi))

extern "C" LONG CDECL wine_server_handle_to_fd(HANDLE handle, unsigned int access, int* unixFd,
                                               unsigned int* options);

namespace morix::bridge {

// The exit code of a process that the bridge ends because it cannot serve a call, and of a JVM crash.
inline constexpr UINT kAbortExitCode = 134;

inline const WCHAR* windowsText(const std::u16string& text) {
    return reinterpret_cast<const WCHAR*>(text.c_str());
}

} // namespace morix::bridge
