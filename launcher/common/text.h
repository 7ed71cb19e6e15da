// Text helpers shared by all subsystems: printf-style formatting with the Windows conventions (in wide
// formats %s is wide and %S narrow), the conversions between narrow and wide text, and console output.
#pragma once

#include <cstdarg>
#include <string>
#include <string_view>
#include <vector>

namespace morix {

// The buffer size of paths and configuration values, in bytes or UTF-16 units, terminator included.
inline constexpr size_t kBufferSize = 6000;

std::wstring formatWide(const wchar_t* format, ...);
std::wstring formatWideList(const wchar_t* format, va_list args);
std::string formatNarrow(const char* format, ...);

// Each byte becomes the character with the same value (the C runtime's default locale conversion).
std::wstring widenBytes(std::string_view text);
// The reverse for text made by widenBytes; characters above 0xFF become "?".
std::string narrowBytes(std::wstring_view text);

// The code page of the narrow file functions: ANSI, or OEM when the file APIs were switched to it.
unsigned fileApiCodePage();

// Wide to narrow in the file functions' code page, without best-fit mappings and with "?" for characters
// that have no byte; `lossy` tells whether that happened (a conversion that fails entirely yields an
// empty text and counts as lossy).
std::string wideToNarrow(std::wstring_view text, bool* lossy = nullptr);
// Narrow text in the file functions' code page to wide.
std::wstring narrowToWide(std::string_view text);

std::string wideToUtf8(std::wstring_view text);
std::wstring utf8ToWide(std::string_view text);

// The first `capacity - 1` units of a value, as a buffer of that capacity would hold it.
template <typename String>
String cutToCapacity(const String& value, size_t capacity) {
    return value.size() < capacity ? value : value.substr(0, capacity == 0 ? 0 : capacity - 1);
}

// The non-empty pieces of a list such as "a;;b;" (here a and b), in order.
std::vector<std::string> splitList(std::string_view text, char separator = ';');
std::vector<std::wstring> splitList(std::wstring_view text, wchar_t separator = L';');

// Writes narrow text to standard output as the C runtime's print would (text mode: "\n" becomes "\r\n"),
// but in one piece: the runtime's stream functions write an unbuffered stream such as a console one
// character at a time, each a call of its own.
void printText(std::string_view text);
// The same for the error output.
void printErrorText(std::string_view text);

bool startsWith(std::wstring_view text, std::wstring_view prefix);
bool startsWith(std::string_view text, std::string_view prefix);
bool endsWithNoCase(std::string_view text, std::string_view suffix);

} // namespace morix
