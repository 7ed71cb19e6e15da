// Windows text and paths for the Linux side: the JDK takes UTF-8 and Unix paths.
#pragma once

#include "option_translation.h"

#include <string>
#include <string_view>

namespace morix::bridge {

std::u16string widen(std::string_view text, unsigned codePage);
std::string toUtf8(std::u16string_view text);

// The real Unix path of a Windows path (absolute, or relative to the Windows working directory): the
// longest part that exists is resolved through Wine's drive mapping and its symbolic links (so no
// "dosdevices/c:" with its colon is left), and the missing rest is appended as written.
std::string unixPathOf(std::u16string_view windowsPath);

// The directory that holds Wine's drive links ("c:", "z:", ...), or empty when there is none.
std::string driveDirectory();

// Conversions for texts from a Windows program's narrow strings (the ANSI code page) and for UTF-8 texts.
TextMapping ansiTextMapping();
TextMapping utf8TextMapping();

} // namespace morix::bridge
