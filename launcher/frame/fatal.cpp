#include "frame/fatal.h"

#include "common/text.h"
#include "common/user32.h"
#include "config/payload.h"
#include "config/temp_cleanup.h"
#include "frame/log.h"

#include "morix/message_ids.h"

#include <windows.h>

#include <cstdio>

namespace morix {

bool errorDialogMode = true;

namespace {

void writeToStandardOutput(const std::wstring& text) {
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    if (out != nullptr && out != INVALID_HANDLE_VALUE && GetFileType(out) == FILE_TYPE_CHAR) {
        DWORD written = 0;
        if (WriteConsoleW(out, text.c_str(), static_cast<DWORD>(text.size()), &written, nullptr)) {
            return;
        }
        // A character device that is no console (NUL): fall through to the C runtime.
    }
    // In the code page of the narrow functions, with "?" for what it lacks: the C runtime's default
    // conversion would drop the whole text for a single character above 0xFF.
    std::printf("%s\n", wideToNarrow(text).c_str());
    std::fflush(stdout);
}

} // namespace

void showErrorText(const std::wstring& text) {
    std::wstring shown = text;
    if (std::optional<std::wstring> log = getLogFilePath()) {
        std::wstring longPath = *log;
        wchar_t buffer[kBufferSize];
        DWORD length = GetLongPathNameW(log->c_str(), buffer, kBufferSize);
        if (length > 0 && length < kBufferSize) {
            longPath.assign(buffer, length);
        }
        shown = formatWide(L"%s\n\nLog: %s", text.c_str(), longPath.c_str());
    }
    if (errorDialogMode) {
        std::wstring caption = getMessageText(messages::kCaption);
        logMessage(L"showing message box: %s", text.c_str());
        // Loaded for this box only: a launcher that shows none never loads user32.dll.
        User32 user32;
        int answer = 0;
        if (user32.messageBox != nullptr) {
            answer = user32.messageBox(nullptr, shown.c_str(), caption.c_str(), MB_ICONERROR);
        }
        if (answer > 0) {
            return;
        }
        // No desktop to show it on: the message must not be lost, so it goes to the console as well.
        logError(L"message box could not be shown (%d, error %lu)", answer, GetLastError());
    }
    writeToStandardOutput(shown);
}

std::wstring messageText(int id, const wchar_t* insert) {
    std::wstring text = getMessageText(id);
    if (insert != nullptr) {
        size_t placeholder = text.find(L"{0}");
        if (placeholder != std::wstring::npos) {
            text.replace(placeholder, 3, insert);
        }
    }
    return text;
}

void showMessageById(int id, const wchar_t* insert) {
    showErrorText(messageText(id, insert));
}

void showMessageByIdNarrow(int id, const std::string& insert) {
    std::wstring wide = narrowToWide(cutToCapacity(insert, kBufferSize));
    showMessageById(id, wide.c_str());
}

void exitLauncher(unsigned code) {
    cleanUpAppTempDir();
    std::fflush(nullptr);
    ExitProcess(code);
}

void fatalError(const std::wstring& text) {
    showErrorText(text);
    exitLauncher(1);
}

void fatalErrorById(int id, const wchar_t* insert) {
    showMessageById(id, insert);
    exitLauncher(1);
}

void fatalErrorByIdNarrow(int id, const std::string& insert) {
    showMessageByIdNarrow(id, insert);
    exitLauncher(1);
}

} // namespace morix
