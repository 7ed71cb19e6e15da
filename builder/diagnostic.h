// A finding about a configuration: where it is, which key, what is wrong and what to do. Findings are
// collected as values and formatted in one place, so the command line and the tests see the same text.
#pragma once

#include <cstdint>
#include <string>

namespace morix::builder {

struct Diagnostic {
    std::string file;
    uint32_t line = 0; // 0: the file as a whole
    uint32_t column = 0;
    std::string key; // the dotted key, such as application.main_class; empty for the file
    std::string message;
    std::string suggestion; // what the user can do; may be empty
};

// "file:line:column: error: key: message; suggestion"
std::string formatDiagnostic(const Diagnostic& diagnostic, bool isWarning);

} // namespace morix::builder
