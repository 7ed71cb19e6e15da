// The diagnostic log: off unless MORIX_LOG or VANTAROCK_LOG is exactly "yes"; then one UTF-8 file in the
// temporary root that traces every decision, written line by line so that it is complete up to the last
// line even if the process dies.
#pragma once

#include <optional>
#include <string>

namespace morix {

// One line "[s:ms] message". Format strings follow the Windows wide conventions (%s wide, %S narrow).
void logMessage(const wchar_t* format, ...);
// The same with "ERROR: " before the message.
void logError(const wchar_t* format, ...);
// A log that is off looks at the variables again at its next line (after the process has set its own
// environment); a log that is on stays as it is.
void reconsiderLog();
// The log file, or none while the log is off.
std::optional<std::wstring> getLogFilePath();

} // namespace morix
