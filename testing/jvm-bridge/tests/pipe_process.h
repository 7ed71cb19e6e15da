// A child whose standard handles are anonymous Windows pipes that this process writes and reads, the way
// a service host or an IDE runs a program (the harness's children get files instead).
#pragma once

#include "common/handles.h"

#include <windows.h>

#include <memory>
#include <string>

namespace morix::test {

struct PipeResult {
    DWORD exitCode = 0;
    bool timedOut = false; // the child or the end of its output did not come in time
    std::string output;    // carriage returns removed
    std::string errors;    // empty when the streams were merged
};

class PipeProcess {
public:
    // `mergeStreams`: standard output and standard error are one pipe, as with "2>&1".
    PipeProcess(const std::wstring& commandLine, bool mergeStreams);
    ~PipeProcess();
    PipeProcess(const PipeProcess&) = delete;
    PipeProcess& operator=(const PipeProcess&) = delete;

    void write(const std::string& bytes);
    void closeInput();
    // Closes the input, waits for the end (killing the child at the limit) and for the rest of its output.
    PipeResult wait(DWORD timeoutMs);

    struct Reader;

private:
    UniqueHandle process_;
    UniqueHandle input_;
    std::shared_ptr<Reader> output_;
    std::shared_ptr<Reader> errors_;
};

} // namespace morix::test
