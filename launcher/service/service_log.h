// The service's output log: what the child writes to its standard output and error, in service.log of a
// configured directory, rotated by size and by day. A rotation closes the file before it renames it, so
// nothing written is lost; a rename that fails is logged and the host goes on writing to the same file.
// Each piece of output is written through at once (no buffer in this process), so a reader of the file
// sees it as soon as the child wrote it.
#pragma once

#include "common/handles.h"

#include <windows.h>

#include <optional>
#include <string>

namespace morix {

struct ServiceLogSettings {
    std::wstring directory; // absolute
    ULONGLONG maxSize = 0;
    int keep = 0;
    bool daily = false;
};

// The settings the payload gives, the directory resolved against the launcher's; none without one.
std::optional<ServiceLogSettings> readServiceLogSettings();

// "<directory>\service.log", or "<directory>\service.<n>.log" for the rotated file n (1 is the newest).
std::wstring serviceLogFile(const std::wstring& directory, int n = 0);

class ServiceLog {
public:
    explicit ServiceLog(ServiceLogSettings settings) : settings_(std::move(settings)) {}
    ServiceLog(const ServiceLog&) = delete;
    ServiceLog& operator=(const ServiceLog&) = delete;

    // Creates the directory when missing and opens service.log for appending; false (logged) when that
    // fails, and the output is then discarded as without a log.
    bool open();
    // Appends the bytes, rotating first where a line begins once the file is full (or the line would not
    // fit) or the day has changed.
    // `today` is the local date as yyyymmdd (0: today's).
    void write(const char* data, size_t size, DWORD today = 0);
    ULONGLONG size() const { return size_; }

private:
    bool openCurrent();
    bool rotationDue(const char* data, size_t size, DWORD today) const;
    size_t pieceLength(const char* data, size_t size, DWORD today) const;
    void rotate(DWORD today);
    void shiftRotatedFiles();
    bool append(const char* data, size_t size);

    ServiceLogSettings settings_;
    UniqueHandle file_;
    ULONGLONG size_ = 0;
    // Past a rename that failed, the next attempt waits for this size (or the next day).
    ULONGLONG rotateAt_ = 0;
    DWORD day_ = 0;
    bool atLineStart_ = true;
    SRWLOCK lock_ = SRWLOCK_INIT;
};

// A child whose output is kept writes into a pipe of this size: fewer, larger reads keep up with it.
inline constexpr DWORD kLoggedOutputPipeSize = 1024 * 1024;

// Reads the pipe to its end, writing what it reads to the log (none: discarding it).
void pumpOutput(HANDLE readEnd, ServiceLog* log);

// The local date as yyyymmdd.
DWORD localDay();

} // namespace morix
