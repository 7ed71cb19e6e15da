// Helpers for the Windows tests: private directories, launchers made with the payload writer, child
// processes with captured output and a time limit, and the diagnostic log they write.
#pragma once

#include "common/handles.h"
#include "morix/payload.h"

#include <windows.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace morix::test {

// The directory of the running test program (where the launcher template and tools are built),
// with a trailing backslash.
std::wstring binDirectory();
std::wstring binFile(const std::wstring& name);

// A fresh directory for one test, removed with everything in it when the test ends.
class TestDirectory {
public:
    TestDirectory();
    ~TestDirectory();
    TestDirectory(const TestDirectory&) = delete;
    TestDirectory& operator=(const TestDirectory&) = delete;

    const std::wstring& path() const { return path_; }
    // path() + "\" + relative
    std::wstring file(const std::wstring& relative) const;

private:
    std::wstring path_;
};

// Removes a directory and everything below it; links are left alone, never followed.
void removeTree(const std::wstring& path);
void writeFile(const std::wstring& path, const std::string& content);
std::string readFile(const std::wstring& path);
bool pathExists(const std::wstring& path);
void createDirectory(const std::wstring& path);
// Names in a directory (without "." and ".."), sorted.
std::vector<std::wstring> listDirectory(const std::wstring& path);

// A launcher: the template (by default the built morix-launcher.exe) followed by the payload.
void writeLauncher(const std::wstring& target, const payload::Payload& payload,
                   const std::wstring& templateFile = binFile(L"morix-launcher.exe"));
// The same with raw payload bytes, for damaged payloads.
void writeLauncherBytes(const std::wstring& target, const std::string& payloadBytes,
                        const std::wstring& templateFile = binFile(L"morix-launcher.exe"));
// The offset at which a launcher's payload starts.
uint64_t payloadOffset(const std::wstring& launcher);

// The bitness of this build's programs as the launcher's messages name it ("32" or "64"), and the text
// of the message that no runtime of that bitness was found.
inline std::string windowsBits() {
    return std::to_string(sizeof(void*) * 8);
}
inline std::string noRuntimeText() {
    return "no " + windowsBits() + "-bit runtime";
}

// Environment changes for a child: a value sets the variable, none removes it.
using Environment = std::vector<std::pair<std::wstring, std::optional<std::wstring>>>;

struct ProcessResult {
    DWORD exitCode = 0;
    bool timedOut = false;
    std::string output; // standard output, bytes as written less carriage returns
    std::string errors; // standard error, the same
};

struct ProcessOptions {
    Environment environment;
    std::wstring workingDirectory;
    DWORD timeoutMs = 60000;
    std::string input; // bytes on standard input (then end of input)
};

// Runs a command line to its end (or kills it at the time limit).
ProcessResult runProcess(const std::wstring& commandLine, const ProcessOptions& options = {});

// A child that runs beside the test; killed when the object goes away.
class RunningProcess {
public:
    RunningProcess(const std::wstring& commandLine, const ProcessOptions& options);
    ~RunningProcess();
    RunningProcess(const RunningProcess&) = delete;
    RunningProcess& operator=(const RunningProcess&) = delete;

    DWORD pid() const { return pid_; }
    HANDLE handle() const { return process_.get(); }
    // Waits for the end; a child still running at the limit is killed and reported as timed out.
    ProcessResult wait(DWORD timeoutMs);

private:
    UniqueHandle process_;
    DWORD pid_ = 0;
    std::wstring outputFile_;
    std::wstring errorFile_;
    bool finished_ = false;
};

// Quotes an argument for a command line when it holds a space.
std::wstring quoteArgument(const std::wstring& argument);

// A log file's text (UTF-8 bytes, byte-order mark included) with its line ends as "\n", or empty.
std::string readLogFile(const std::wstring& path);
// The diagnostic log number n in a directory.
std::string readLog(const std::wstring& directory, int n = 1);

std::string narrow(const std::wstring& text); // UTF-8
std::wstring wide(const std::string& utf8);

// Polls a condition every 50 ms until it holds or the time is up.
bool waitUntil(DWORD timeoutMs, const std::function<bool()>& condition);

} // namespace morix::test
