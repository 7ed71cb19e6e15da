#include "common/text.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <io.h>
#include <vector>

namespace morix {

std::wstring formatWideList(const wchar_t* format, va_list args) {
    va_list measure;
    va_copy(measure, args);
    int length = _vscwprintf(format, measure);
    va_end(measure);
    if (length < 0) {
        return format;
    }
    std::vector<wchar_t> buffer(static_cast<size_t>(length) + 1, L'\0');
    _vsnwprintf(buffer.data(), buffer.size(), format, args);
    return std::wstring(buffer.data(), static_cast<size_t>(length));
}

std::wstring formatWide(const wchar_t* format, ...) {
    va_list args;
    va_start(args, format);
    std::wstring text = formatWideList(format, args);
    va_end(args);
    return text;
}

std::string formatNarrow(const char* format, ...) {
    va_list args;
    va_start(args, format);
    va_list measure;
    va_copy(measure, args);
    int length = _vscprintf(format, measure);
    va_end(measure);
    std::string text;
    if (length >= 0) {
        std::vector<char> buffer(static_cast<size_t>(length) + 1, '\0');
        _vsnprintf(buffer.data(), buffer.size(), format, args);
        text.assign(buffer.data(), static_cast<size_t>(length));
    }
    va_end(args);
    return text;
}

namespace {

void writeStream(std::FILE* stream, std::string_view text) {
    // Whatever the stream still holds goes first.
    std::fflush(stream);
    const int output = _fileno(stream);
    // A short write goes on with the rest; one that writes nothing ends it.
    while (!text.empty()) {
        const int written =
            _write(output, text.data(), static_cast<unsigned>(std::min<size_t>(text.size(), 1 << 20)));
        if (written <= 0) {
            return;
        }
        text.remove_prefix(static_cast<size_t>(written));
    }
}

} // namespace

void printText(std::string_view text) {
    writeStream(stdout, text);
}

void printErrorText(std::string_view text) {
    writeStream(stderr, text);
}

std::wstring widenBytes(std::string_view text) {
    std::wstring wide(text.size(), L'\0');
    for (size_t i = 0; i < text.size(); ++i) {
        wide[i] = static_cast<wchar_t>(static_cast<unsigned char>(text[i]));
    }
    return wide;
}

std::string narrowBytes(std::wstring_view text) {
    std::string narrow(text.size(), '\0');
    for (size_t i = 0; i < text.size(); ++i) {
        narrow[i] = text[i] <= 0xFF ? static_cast<char>(text[i]) : '?';
    }
    return narrow;
}

unsigned fileApiCodePage() {
    return AreFileApisANSI() ? CP_ACP : CP_OEMCP;
}

std::string wideToNarrow(std::wstring_view text, bool* lossy) {
    if (lossy) {
        *lossy = false;
    }
    if (text.empty()) {
        return {};
    }
    const unsigned codePage = fileApiCodePage();
    const int length = static_cast<int>(text.size());
    BOOL usedDefault = FALSE;
    DWORD flags = WC_NO_BEST_FIT_CHARS;
    int size = WideCharToMultiByte(codePage, flags, text.data(), length, nullptr, 0, "?", &usedDefault);
    if (size == 0 && GetLastError() == ERROR_INVALID_FLAGS) {
        flags = 0;
        size = WideCharToMultiByte(codePage, flags, text.data(), length, nullptr, 0, nullptr, nullptr);
    }
    if (size <= 0) {
        if (lossy) {
            *lossy = true;
        }
        return {};
    }
    std::string narrow(static_cast<size_t>(size), '\0');
    usedDefault = FALSE;
    if (flags != 0) {
        WideCharToMultiByte(codePage, flags, text.data(), length, narrow.data(), size, "?", &usedDefault);
    } else {
        WideCharToMultiByte(codePage, flags, text.data(), length, narrow.data(), size, nullptr, nullptr);
    }
    if (lossy && usedDefault) {
        *lossy = true;
    }
    return narrow;
}

std::wstring narrowToWide(std::string_view text) {
    if (text.empty()) {
        return {};
    }
    const unsigned codePage = fileApiCodePage();
    int size = MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    if (size <= 0) {
        return {};
    }
    std::wstring wide(static_cast<size_t>(size), L'\0');
    MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), wide.data(), size);
    return wide;
}

std::string wideToUtf8(std::wstring_view text) {
    if (text.empty()) {
        return {};
    }
    int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                   nullptr, nullptr);
    std::string utf8(static_cast<size_t>(size > 0 ? size : 0), '\0');
    if (size > 0) {
        WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), utf8.data(), size,
                            nullptr, nullptr);
    }
    return utf8;
}

std::wstring utf8ToWide(std::string_view text) {
    if (text.empty()) {
        return {};
    }
    int size = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(size > 0 ? size : 0), L'\0');
    if (size > 0) {
        MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), size);
    }
    return wide;
}

namespace {

template <typename Char>
std::vector<std::basic_string<Char>> splitNonEmpty(std::basic_string_view<Char> text, Char separator) {
    std::vector<std::basic_string<Char>> pieces;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find(separator, start);
        if (end == std::basic_string_view<Char>::npos) {
            end = text.size();
        }
        if (end > start) {
            pieces.emplace_back(text.substr(start, end - start));
        }
        start = end + 1;
    }
    return pieces;
}

} // namespace

std::vector<std::string> splitList(std::string_view text, char separator) {
    return splitNonEmpty(text, separator);
}

std::vector<std::wstring> splitList(std::wstring_view text, wchar_t separator) {
    return splitNonEmpty(text, separator);
}

bool startsWith(std::wstring_view text, std::wstring_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

bool startsWith(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

bool endsWithNoCase(std::string_view text, std::string_view suffix) {
    if (text.size() < suffix.size()) {
        return false;
    }
    std::string_view tail = text.substr(text.size() - suffix.size());
    for (size_t i = 0; i < suffix.size(); ++i) {
        char a = tail[i] >= 'A' && tail[i] <= 'Z' ? static_cast<char>(tail[i] + 32) : tail[i];
        char b = suffix[i] >= 'A' && suffix[i] <= 'Z' ? static_cast<char>(suffix[i] + 32) : suffix[i];
        if (a != b) {
            return false;
        }
    }
    return true;
}

} // namespace morix
