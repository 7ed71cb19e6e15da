// Common ground of the bridge's Winelib code: the Windows API inside a Linux process. Code here runs on
// two kinds of threads: Windows threads (Wine's, which may call the Windows API) and the JVM's own Linux
// threads (which must not). Wide Windows text is held as std::u16string: Winelib builds with a 16-bit
// wchar_t, so the C++ library's wchar_t functions (built for 32 bits) must not be used.
#pragma once

#include <windows.h>

#include <string>

// The calling convention of every function that Windows code calls through a pointer: the Windows x64
// convention on 64-bit, and on 32-bit that of JNICALL and WINAPI (stdcall). Variadic functions cannot
// be stdcall: on 32-bit Windows they are cdecl, as on Linux.
#if defined(__x86_64__)
#define MORIX_WINAPI __attribute__((ms_abi))
#define MORIX_WINAPI_VARIADIC __attribute__((ms_abi))
#else
#define MORIX_WINAPI __attribute__((__stdcall__))
#define MORIX_WINAPI_VARIADIC __attribute__((__cdecl__))
#endif

extern "C" LONG CDECL wine_server_handle_to_fd(HANDLE handle, unsigned int access, int* unixFd,
                                               unsigned int* options);

namespace morix::bridge {

// The exit code of a process that the bridge ends because it cannot serve a call, and of a JVM crash.
inline constexpr UINT kAbortExitCode = 134;

inline const WCHAR* windowsText(const std::u16string& text) {
    return reinterpret_cast<const WCHAR*>(text.c_str());
}

} // namespace morix::bridge
