// The console side of the service commands: text in the code page the reader sees, and the line that
// follows every failure with the system's reason and what to do about it.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

namespace morix {

// Wide text as the reader will see it: in the console's output code page when standard output is a
// console, otherwise in the ANSI code page of files and pipes; "?" for what the code page cannot show.
std::string printableText(std::wstring_view text);

// The system's own text for a Win32 error code in the user's language, on one line without its final
// full stop; empty when the system has none.
std::wstring systemErrorText(DWORD error);

// What to do about the errors that the service commands commonly meet; empty for the others.
const char* failureRemedy(DWORD error);

// "Reason: <system text> (error N). <remedy>\n", the line printed after a failure message; `remedy`
// replaces the one that failureRemedy gives.
std::string failureReasonLine(DWORD error, const char* remedy = nullptr);
void printFailureReason(DWORD error);

} // namespace morix
