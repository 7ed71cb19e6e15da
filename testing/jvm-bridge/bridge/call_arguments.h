// Java method calls from Windows code: the variadic and va_list forms of the Call*Method families carry
// their arguments in the Windows convention (on 32-bit the same stack layout as on Linux), and the Linux
// JVM gets them as a jvalue array. Which slot holds which kind of value follows from the method's
// descriptor.
#pragma once

#include <jni.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace morix::bridge {

// A Windows argument list: the x64 form differs from the Linux one, the 32-bit form does not.
#if defined(__x86_64__)
using WindowsVaList = __builtin_ms_va_list;
#define MORIX_WINDOWS_VA_START __builtin_ms_va_start
#define MORIX_WINDOWS_VA_END __builtin_ms_va_end
#else
using WindowsVaList = __builtin_va_list;
#define MORIX_WINDOWS_VA_START __builtin_va_start
#define MORIX_WINDOWS_VA_END __builtin_va_end
#endif

// One letter per parameter of a method descriptor: Z B C S I J F D, or L for any reference (arrays
// included). None for a text that is not a method descriptor.
std::optional<std::string> parameterKinds(std::string_view descriptor);

// Reads one value per kind from a Windows argument list, after the default argument promotions
// that a variadic call applies (small integers arrive as int, float as double).
std::vector<jvalue> readWindowsArguments(std::string_view kinds, WindowsVaList& arguments);

} // namespace morix::bridge
