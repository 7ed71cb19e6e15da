#include "frame/log.h"

#include "common/handles.h"
#include "common/text.h"
#include "config/paths.h"
#include "config/temp_root.h"

#include <windows.h>

#include <cstdarg>
#include <ctime>

namespace morix {
namespace {

struct LogState {
    CRITICAL_SECTION lock;
    std::wstring path; // empty until the log has been set up
    bool setUpDone = false;
    uint64_t startMillis = 0;
};

// Created on first use and never destroyed: the log may be written from any thread until the process ends.
LogState& logState() {
    static LogState* state = [] {
        auto* s = new LogState;
        InitializeCriticalSection(&s->lock);
        return s;
    }();
    return *state;
}

uint64_t nowMillis() {
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    return ((static_cast<uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime) / 10000;
}

bool variableIsYes(const char* name) {
    char value[kBufferSize];
    DWORD length = GetEnvironmentVariableA(name, value, sizeof value);
    return length > 0 && length < sizeof value && std::string_view(value, length) == "yes";
}

// Writes the text as UTF-8 with Windows line ends, as a text-mode stream would.
bool writeUtf8(HANDLE file, const std::wstring& text) {
    std::string utf8;
    for (char c : wideToUtf8(text)) {
        if (c == '\n') {
            utf8 += '\r';
        }
        utf8 += c;
    }
    std::string_view bytes = utf8;
    while (!bytes.empty()) {
        DWORD written = 0;
        if (!WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) ||
            written == 0) {
            return false;
        }
        bytes.remove_prefix(written);
    }
    return true;
}

// Creates the file with a byte-order mark and the first line; false, with the error code kept, when it
// cannot be created. Only a new file: in a temporary root that other users share, a name that exists
// may be a link that one of them planted there, and writing through it would write where they chose.
bool createLogFile(LogState& state, const std::wstring& path) {
    UniqueHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        return false;
    }
    wchar_t module[kBufferSize];
    DWORD length = GetModuleFileNameW(nullptr, module, kBufferSize);
    module[length < kBufferSize ? length : kBufferSize - 1] = L'\0';
    time_t now = time(nullptr);
    const char* started = ctime(&now);
    std::wstring firstLine = formatWide(L"Started executable %s at %S\n", module, started ? started : "\n");
    writeUtf8(file.get(), L"\xFEFF" + firstLine);
    FlushFileBuffers(file.get());
    state.startMillis = nowMillis();
    return true;
}

void setUpLog(LogState& state) {
    state.setUpDone = true;
    if (!variableIsYes("MORIX_LOG") && !variableIsYes("VANTAROCK_LOG")) {
        return;
    }
    // Log calls made by the temporary-root search below find the set-up done and no path: they write nothing.
    std::wstring directory = getTempRootWide(false);
    if (directory.empty()) {
        directory = L"c:\\";
    } else if (directory.back() != L'\\' && directory.back() != L'/') {
        directory += L'\\';
    }
    std::wstring path;
    for (int n = 1; n <= 1000 && path.empty(); ++n) {
        std::wstring candidate = formatWide(L"%svrk_nlog_%d.log", directory.c_str(), n);
        if (createLogFile(state, candidate)) {
            path = std::move(candidate);
        } else if (const DWORD error = GetLastError();
                   error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) {
            break;
        }
    }
    if (path.empty() && createLogFile(state, L"c:\\vrk_nlog")) {
        path = L"c:\\vrk_nlog";
    }
    state.path = path;
}

void writeLine(const wchar_t* marker, const wchar_t* format, va_list args) {
    LogState& state = logState();
    EnterCriticalSection(&state.lock);
    if (!state.setUpDone) {
        setUpLog(state);
    }
    if (!state.path.empty()) {
        // Elapsed time modulo 2^32 milliseconds, as the low words of the two times give it.
        auto elapsed = static_cast<uint32_t>(nowMillis()) - static_cast<uint32_t>(state.startMillis);
        std::wstring line = formatWide(L"[%u:%u] ", elapsed / 1000, elapsed % 1000);
        line += marker;
        line += formatWideList(format, args);
        line += L'\n';
        // The file this process created: should it have gone since, no other is made in its place.
        UniqueHandle file(CreateFileW(
            state.path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
            nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
        if (file) {
            writeUtf8(file.get(), line);
        }
    }
    LeaveCriticalSection(&state.lock);
}

} // namespace

void logMessage(const wchar_t* format, ...) {
    va_list args;
    va_start(args, format);
    writeLine(L"", format, args);
    va_end(args);
}

void logError(const wchar_t* format, ...) {
    va_list args;
    va_start(args, format);
    writeLine(L"ERROR: ", format, args);
    va_end(args);
}

void reconsiderLog() {
    LogState& state = logState();
    EnterCriticalSection(&state.lock);
    if (state.path.empty()) {
        state.setUpDone = false;
    }
    LeaveCriticalSection(&state.lock);
}

std::optional<std::wstring> getLogFilePath() {
    LogState& state = logState();
    EnterCriticalSection(&state.lock);
    if (!state.setUpDone) {
        setUpLog(state);
    }
    std::optional<std::wstring> path;
    if (!state.path.empty()) {
        path = state.path;
    }
    LeaveCriticalSection(&state.lock);
    return path;
}

} // namespace morix
