// Conversions between UTF-8 (the builder's files and console) and the encodings of the payload:
// UTF-16 for wide strings and Windows-1252, the launcher's ANSI code page, for narrow strings.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace morix::payload {

// None when the text is not valid UTF-8.
std::optional<std::u16string> utf8ToUtf16(std::string_view text);
// Unpaired surrogates become U+FFFD.
std::string utf16ToUtf8(std::u16string_view text);
// None when the text is not valid UTF-8 or holds a character that Windows-1252 cannot represent.
std::optional<std::string> utf8ToCp1252(std::string_view text);
std::string cp1252ToUtf8(std::string_view text);

} // namespace morix::payload
