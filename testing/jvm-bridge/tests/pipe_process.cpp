#include "pipe_process.h"

#include <algorithm>
#include <stdexcept>
#include <vector>

namespace morix::test {

// A thread that reads one pipe to its end. Shared with the thread, which may outlive a stuck wait.
struct PipeProcess::Reader {
    UniqueHandle pipe;
    std::string data;
    UniqueHandle thread;
};

namespace {

constexpr DWORD kOutputEndMs = 30000;

struct Pipe {
    UniqueHandle read;
    UniqueHandle write;
};

// A pipe of which only the child's end is inheritable.
Pipe makePipe(bool childReads) {
    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    Pipe pipe;
    if (!CreatePipe(pipe.read.receive(), pipe.write.receive(), &inherit, 0)) {
        throw std::runtime_error("CreatePipe failed with error " + std::to_string(GetLastError()));
    }
    SetHandleInformation(childReads ? pipe.write.get() : pipe.read.get(), HANDLE_FLAG_INHERIT, 0);
    return pipe;
}

DWORD WINAPI readToEnd(void* parameter) {
    auto* reader = static_cast<std::shared_ptr<PipeProcess::Reader>*>(parameter);
    std::shared_ptr<PipeProcess::Reader> keep = *reader;
    delete reader;
    char chunk[65536];
    DWORD count = 0;
    while (ReadFile(keep->pipe.get(), chunk, sizeof chunk, &count, nullptr) && count > 0) {
        keep->data.append(chunk, count);
    }
    return 0;
}

std::shared_ptr<PipeProcess::Reader> startReader(UniqueHandle pipe) {
    auto reader = std::make_shared<PipeProcess::Reader>();
    reader->pipe = std::move(pipe);
    reader->thread.reset(CreateThread(nullptr, 0, readToEnd, new std::shared_ptr(reader), 0, nullptr));
    return reader;
}

// Waits for the end of the data; a pipe that some other process keeps open is given up.
bool finish(const std::shared_ptr<PipeProcess::Reader>& reader, std::string& into) {
    if (!reader) {
        return true;
    }
    if (WaitForSingleObject(reader->thread.get(), kOutputEndMs) != WAIT_OBJECT_0) {
        CancelSynchronousIo(reader->thread.get());
        if (WaitForSingleObject(reader->thread.get(), 5000) != WAIT_OBJECT_0) {
            return false;
        }
    }
    into = std::move(reader->data);
    std::erase(into, '\r');
    return true;
}

} // namespace

PipeProcess::PipeProcess(const std::wstring& commandLine, bool mergeStreams) {
    Pipe input = makePipe(true);
    Pipe output = makePipe(false);
    Pipe errors;
    if (!mergeStreams) {
        errors = makePipe(false);
    }
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = input.read.get();
    startup.hStdOutput = output.write.get();
    startup.hStdError = mergeStreams ? output.write.get() : errors.write.get();
    PROCESS_INFORMATION created{};
    std::vector<wchar_t> line(commandLine.begin(), commandLine.end());
    line.push_back(L'\0');
    if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                        &created)) {
        throw std::runtime_error("CreateProcessW failed with error " + std::to_string(GetLastError()));
    }
    CloseHandle(created.hThread);
    process_.reset(created.hProcess);
    input_ = std::move(input.write);
    // This process's copies of the child's ends go away here, so the readers see the child's end.
    output_ = startReader(std::move(output.read));
    if (!mergeStreams) {
        errors_ = startReader(std::move(errors.read));
    }
}

PipeProcess::~PipeProcess() {
    if (process_) {
        TerminateProcess(process_.get(), 1);
        WaitForSingleObject(process_.get(), 5000);
        std::string ignored;
        finish(output_, ignored);
        finish(errors_, ignored);
    }
}

void PipeProcess::write(const std::string& bytes) {
    DWORD written = 0;
    WriteFile(input_.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

void PipeProcess::closeInput() {
    input_.reset();
}

PipeResult PipeProcess::wait(DWORD timeoutMs) {
    PipeResult result;
    closeInput();
    if (WaitForSingleObject(process_.get(), timeoutMs) != WAIT_OBJECT_0) {
        result.timedOut = true;
        TerminateProcess(process_.get(), 1);
        WaitForSingleObject(process_.get(), 5000);
    }
    GetExitCodeProcess(process_.get(), &result.exitCode);
    process_.reset();
    bool ended = finish(output_, result.output) && finish(errors_, result.errors);
    result.timedOut = result.timedOut || !ended;
    return result;
}

} // namespace morix::test
