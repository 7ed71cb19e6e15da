// The service host: the process that the service control manager starts. It runs no Java code; it starts
// a second copy of the executable (the child, which runs the application), reports the service status,
// passes stop and shutdown requests to the child as a line on its standard input, swallows everything the
// child writes, and ends when the child ends.
#pragma once

#include "common/handles.h"
#include "frame/command_line.h"

#include <windows.h>

#include <atomic>
#include <optional>
#include <string>
#include <vector>

namespace morix {

// The one status record that every report sends; serviceMain and the control handler change it only
// under a lock and send it whole.
extern SERVICE_STATUS serviceStatus;
extern SERVICE_STATUS_HANDLE serviceStatusHandle;

// The write end of the child's standard input, shared by serviceMain (which creates it) and the control
// handler (which sends the shutdown line through it). Whoever takes it writes and closes it, so it is
// closed exactly once; a shutdown asked for before the pipe exists is sent as soon as it does.
class ShutdownChannel {
public:
    ShutdownChannel() = default;
    ~ShutdownChannel();
    ShutdownChannel(const ShutdownChannel&) = delete;
    ShutdownChannel& operator=(const ShutdownChannel&) = delete;

    void open(UniqueHandle writeEnd);
    // Closes the write end of a child that has ended: until the next open, a shutdown finds no child and
    // is only logged.
    void close();
    // Writes "<code>\n" and closes the write end; a later call finds no write end and writes nothing.
    void send(int code);

private:
    void write(UniqueHandle writeEnd, int code);

    std::atomic<HANDLE> writeEnd_{nullptr};
    std::atomic<int> requestedCode_{-1};
    std::atomic<bool> idle_{false};
};

extern ShutdownChannel shutdownPipe;

// Once the child has ended, the service thread reports the end of the service and ends the process
// itself. The stopped report lets the dispatcher return on the main thread meanwhile; that thread must
// then leave the end to the service thread rather than run the exit handlers beside it.
bool hostIsEnding();
// Waits for the service thread to end the process; ends it with 0 itself if that takes too long.
[[noreturn]] void awaitHostEnd();

// The child's command line holds at most this many characters, terminator included.
inline constexpr size_t kChildCommandLineCapacity = 12000;

// The service main function of the dispatcher table. On its normal path it ends the process.
void WINAPI serviceMain(DWORD argc, LPWSTR* argv);
void WINAPI serviceControlHandler(DWORD control);
void sendShutdown(int code);
// Thread routine: reads the child's output pipe (and owns its read end) until the pipe ends.
DWORD WINAPI consumeOutput(LPVOID readHandle);
// The child's priority class from the registry, NORMAL_PRIORITY_CLASS when none is set.
DWORD readServicePriority();

// The stop's time limit that the child's Java side reads from these VM options: the value of the last
// -Dmorix.stopTimeout= option, in seconds, or the Java side's default for none or one it refuses.
int childStopTimeoutSeconds(const std::vector<std::string>& vmOptions);
// Past the child's own limit, the host gives it this much more (the Java side's thread dump, the removal
// of the child's directory at its exit, the end of the process) before it ends the child itself.
inline constexpr DWORD kStopBoundMarginMs = 10000;
// The service-specific exit code of a service whose child the host ended at the stop bound.
inline constexpr DWORD kStopBoundExceeded = 5001;

// The child's command line: the host's own arguments (program path first), the service name, the start
// parameters and the restart marker, each quoted so that the child's C-runtime split reads it back
// unchanged. None (logged) when the line exceeds the capacity: the child is never started with arguments
// other than the ones it was given.
std::optional<std::wstring> buildChildCommandLine(const ArgumentList& ownArguments, const std::wstring& name,
                                                  const std::vector<std::wstring>& startParameters);

} // namespace morix
