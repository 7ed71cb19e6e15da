// The lines that the code under test wrote to the diagnostic log since a mark.
#pragma once

#include "frame/log.h"
#include "harness/harness.h"

#include <string>

namespace morix::test {

class LogTail {
public:
    LogTail() : start_(current().size()) {}
    // Log text written since construction (UTF-8).
    std::string text() const { return current().substr(start_); }

private:
    static std::string current() {
        std::optional<std::wstring> path = getLogFilePath();
        return path ? readLogFile(*path) : std::string();
    }
    size_t start_;
};

} // namespace morix::test
