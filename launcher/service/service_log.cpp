#include "service/service_log.h"

#include "config/paths.h"
#include "config/payload.h"
#include "frame/log.h"
#include "windows/variables.h"

#include "morix/config_ids.h"
#include "morix/config_values.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace morix {
namespace {

class ExclusiveLock {
public:
    explicit ExclusiveLock(SRWLOCK& lock) : lock_(lock) { AcquireSRWLockExclusive(&lock_); }
    ~ExclusiveLock() { ReleaseSRWLockExclusive(&lock_); }
    ExclusiveLock(const ExclusiveLock&) = delete;
    ExclusiveLock& operator=(const ExclusiveLock&) = delete;

private:
    SRWLOCK& lock_;
};

DWORD dayOf(const SYSTEMTIME& time) {
    return static_cast<DWORD>(time.wYear) * 10000 + time.wMonth * 100 + time.wDay;
}

// The local date of the file's last write, or 0.
DWORD lastWriteDay(HANDLE file) {
    FILETIME written{};
    FILETIME local{};
    SYSTEMTIME time{};
    if (!GetFileTime(file, nullptr, nullptr, &written) || !FileTimeToLocalFileTime(&written, &local) ||
        !FileTimeToSystemTime(&local, &time)) {
        return 0;
    }
    return dayOf(time);
}

ULONGLONG configuredNumber(int32_t id, long long fallback, long long min, long long max) {
    if (!configStrings.count(id)) {
        return static_cast<ULONGLONG>(fallback);
    }
    const std::string text = getConfigString(id, 32);
    char* end = nullptr;
    const long long value = std::strtoll(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || value < min || value > max) {
        logError(L"the service log setting %d is \"%S\"; using %ld", static_cast<int>(id), text.c_str(),
                 static_cast<long>(fallback));
        return static_cast<ULONGLONG>(fallback);
    }
    return static_cast<ULONGLONG>(value);
}

// The directory, created when missing. A directory that is a link somewhere else is refused: the host
// may run as LocalSystem, and output written through a planted link would land where its planter chose.
bool prepareDirectory(const std::wstring& directory) {
    if (!CreateDirectoryW(directory.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
        logError(L"CreateDirectoryW %s failed with error %lu", directory.c_str(), GetLastError());
        return false;
    }
    const DWORD attributes = GetFileAttributesW(directory.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY) ||
        (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        logError(L"the service log directory %s is not a plain directory (attributes %lx, error %lu)",
                 directory.c_str(), attributes, GetLastError());
        return false;
    }
    return true;
}

// The child's output is read in pieces of this size.
constexpr DWORD kOutputReadSize = 64 * 1024;

} // namespace

void pumpOutput(HANDLE readEnd, ServiceLog* log) {
    std::string buffer(kOutputReadSize, '\0');
    DWORD bytesRead = 0;
    while (ReadFile(readEnd, buffer.data(), kOutputReadSize, &bytesRead, nullptr) && bytesRead > 0) {
        if (log != nullptr) {
            log->write(buffer.data(), bytesRead);
        }
    }
}

DWORD localDay() {
    SYSTEMTIME now{};
    GetLocalTime(&now);
    return dayOf(now);
}

std::wstring serviceLogFile(const std::wstring& directory, int n) {
    std::wstring path = directory;
    if (!path.empty() && path.back() != L'\\' && path.back() != L'/') {
        path += L'\\';
    }
    return n == 0 ? path + L"service.log" : path + L"service." + std::to_wstring(n) + L".log";
}

std::optional<ServiceLogSettings> readServiceLogSettings() {
    if (!configStrings.count(ids::kServiceLogDirectory)) {
        return std::nullopt;
    }
    std::wstring directory = getConfigStringWide(ids::kServiceLogDirectory, MAX_PATH);
    expandVariables(directory, false, MAX_PATH);
    if (directory.empty()) {
        logError(L"the service log directory is empty; the child's output is discarded");
        return std::nullopt;
    }
    using namespace service_host;
    ServiceLogSettings settings;
    settings.directory = resolvePathWide(directory, false);
    settings.maxSize =
        configuredNumber(ids::kServiceLogMaxSize, kDefaultLogMaxSize, kMinLogMaxSize, kMaxLogMaxSize);
    settings.keep = static_cast<int>(configuredNumber(ids::kServiceLogKeep, kDefaultLogKeep, 0, kMaxLogKeep));
    settings.daily = getConfigInt(ids::kServiceLogDaily) != 0;
    logMessage(L"the child's output goes to %s, rotated at %lu bytes%s, %d kept", settings.directory.c_str(),
               static_cast<unsigned long>(settings.maxSize), settings.daily ? L" and daily" : L"",
               settings.keep);
    return settings;
}

bool ServiceLog::open() {
    ExclusiveLock lock(lock_);
    if (!prepareDirectory(settings_.directory) || !openCurrent()) {
        return false;
    }
    day_ = lastWriteDay(file_.get());
    return true;
}

// Opens service.log for appending; an existing file must be a plain file with one name, not a link that
// someone planted to have the host append elsewhere.
bool ServiceLog::openCurrent() {
    const std::wstring path = serviceLogFile(settings_.directory);
    file_.reset(CreateFileW(path.c_str(), FILE_APPEND_DATA | FILE_READ_ATTRIBUTES,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!file_) {
        logError(L"CreateFileW %s failed with error %lu", path.c_str(), GetLastError());
        return false;
    }
    BY_HANDLE_FILE_INFORMATION info{};
    if (!GetFileInformationByHandle(file_.get(), &info) ||
        (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) || info.nNumberOfLinks > 1) {
        logError(L"%s is a link or could not be examined (error %lu); the child's output is discarded",
                 path.c_str(), GetLastError());
        file_.reset();
        return false;
    }
    size_ = (static_cast<ULONGLONG>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
    rotateAt_ = settings_.maxSize;
    atLineStart_ = true;
    return true;
}

// Moves service.<keep-1>.log to service.<keep>.log and so on down to service.1.log, the oldest removed
// first. A move that fails leaves its file where it is; the rename of service.log then finds its
// place taken and fails too, so no file is ever overwritten.
void ServiceLog::shiftRotatedFiles() {
    const std::wstring oldest = serviceLogFile(settings_.directory, settings_.keep);
    if (!DeleteFileW(oldest.c_str()) && GetLastError() != ERROR_FILE_NOT_FOUND) {
        logError(L"DeleteFileW %s failed with error %lu", oldest.c_str(), GetLastError());
    }
    for (int n = settings_.keep - 1; n >= 1; --n) {
        const std::wstring from = serviceLogFile(settings_.directory, n);
        const std::wstring to = serviceLogFile(settings_.directory, n + 1);
        if (!MoveFileExW(from.c_str(), to.c_str(), 0) && GetLastError() != ERROR_FILE_NOT_FOUND) {
            logError(L"MoveFileExW %s to %s failed with error %lu", from.c_str(), to.c_str(), GetLastError());
        }
    }
}

void ServiceLog::rotate(DWORD today) {
    const std::wstring current = serviceLogFile(settings_.directory);
    const ULONGLONG written = size_;
    // Closed first: every byte written so far is in the file that is renamed.
    file_.reset();
    bool renamed = false;
    if (settings_.keep == 0) {
        renamed = DeleteFileW(current.c_str()) != FALSE;
    } else {
        shiftRotatedFiles();
        renamed = MoveFileExW(current.c_str(), serviceLogFile(settings_.directory, 1).c_str(), 0) != FALSE;
    }
    const DWORD error = GetLastError();
    if (!openCurrent()) {
        return;
    }
    day_ = today;
    if (renamed) {
        logMessage(L"rotated %s after %lu bytes", current.c_str(), static_cast<unsigned long>(written));
    } else {
        logError(L"rotating %s failed with error %lu; writing on to the same file", current.c_str(), error);
        rotateAt_ = size_ + settings_.maxSize;
    }
}

bool ServiceLog::append(const char* data, size_t size) {
    while (size > 0) {
        DWORD written = 0;
        const DWORD chunk = static_cast<DWORD>(std::min<size_t>(size, 1u << 20));
        if (!WriteFile(file_.get(), data, chunk, &written, nullptr) || written == 0) {
            logError(L"WriteFile to the service log failed with error %lu", GetLastError());
            return false;
        }
        size_ += written;
        data += written;
        size -= written;
    }
    return true;
}

// Where a piece of output is cut: after the last line end that keeps the file within its limit, else
// after the first line end (a line longer than the room left, or the end of yesterday's last line),
// else all of it.
size_t ServiceLog::pieceLength(const char* data, size_t size, DWORD today) const {
    const bool newDay = settings_.daily && day_ != 0 && today != day_ && size_ > 0;
    if (size_ + size <= rotateAt_ && !newDay) {
        return size;
    }
    const size_t room = rotateAt_ > size_ && !newDay ? static_cast<size_t>(rotateAt_ - size_) : 0;
    for (size_t i = std::min(room, size); i > 0; --i) {
        if (data[i - 1] == '\n') {
            return i;
        }
    }
    const void* end = memchr(data, '\n', size);
    return end ? static_cast<size_t>(static_cast<const char*>(end) - data) + 1 : size;
}

// A file is rotated where a line begins: once it is full, once the next line would not fit, or on a new
// day; so each line stays in one file. A line longer than twice the limit is cut there.
bool ServiceLog::rotationDue(const char* data, size_t size, DWORD today) const {
    if (size_ == 0) {
        return false;
    }
    if (size_ >= 2 * rotateAt_) {
        return true;
    }
    if (!atLineStart_) {
        return false;
    }
    const void* end = memchr(data, '\n', size);
    const size_t line = end ? static_cast<size_t>(static_cast<const char*>(end) - data) + 1 : size;
    return size_ + line > rotateAt_ || (settings_.daily && day_ != 0 && today != day_);
}

void ServiceLog::write(const char* data, size_t size, DWORD today) {
    ExclusiveLock lock(lock_);
    const DWORD day = today != 0 ? today : localDay();
    while (size > 0 && file_) {
        if (rotationDue(data, size, day)) {
            rotate(day);
            if (!file_) {
                return;
            }
        }
        const size_t piece = pieceLength(data, size, day);
        if (!append(data, piece)) {
            return;
        }
        atLineStart_ = data[piece - 1] == '\n';
        data += piece;
        size -= piece;
    }
    if (day_ == 0) {
        day_ = day;
    }
}

} // namespace morix
