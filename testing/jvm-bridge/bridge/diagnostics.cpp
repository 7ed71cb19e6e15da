#include "diagnostics.h"

#include "stdio_relay.h"
#include "winelib.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>

namespace morix::bridge {
namespace {

int traceDescriptor() {
    static const int descriptor = getenv("MORIX_BRIDGE_TRACE") ? fcntl(2, F_DUPFD_CLOEXEC, 3) : -1;
    return descriptor;
}

} // namespace

void keepTraceOutput() {
    traceDescriptor();
}

void trace(const char* format, ...) {
    int descriptor = traceDescriptor();
    if (descriptor < 0) {
        return;
    }
    char line[2048];
    va_list arguments;
    va_start(arguments, format);
    int length = vsnprintf(line, sizeof line - 1, format, arguments);
    va_end(arguments);
    if (length < 0) {
        return;
    }
    size_t size = std::min(static_cast<size_t>(length), sizeof line - 2);
    line[size] = '\n';
    dprintf(descriptor, "[morix-bridge] %.*s", static_cast<int>(size + 1), line);
}

void fail(const char* format, ...) {
    char message[2048];
    int prefix = snprintf(message, sizeof message, "morix jvm bridge: ");
    va_list arguments;
    va_start(arguments, format);
    vsnprintf(message + prefix, sizeof message - prefix - 1, format, arguments);
    va_end(arguments);
    std::string line = std::string(message) + "\n";
    trace("%s", message);
    flushRelayedOutput();
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_ERROR_HANDLE), line.data(), static_cast<DWORD>(line.size()), &written,
              nullptr);
    ExitProcess(kAbortExitCode);
}

} // namespace morix::bridge
