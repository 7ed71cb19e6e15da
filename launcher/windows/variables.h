// The variables that configured texts may use: a fixed set of launcher variables in "%NAME%" and
// "${NAME}" form, then "${name}" for every environment variable. Each name is one search-and-replace
// pass over the text, in a fixed order; there is no escape syntax and no recursion of its own.
#pragma once

#include "common/text.h"

#include <string>
#include <string_view>

namespace morix {

// Replaces every reference in place. narrowSafe gives the launcher directory and the temporary root in
// their narrow forms widened through the ANSI code page (for texts that end up as narrow strings). The
// text is held to capacity - 1 characters: a longer result is cut there and the cut is logged.
void expandVariables(std::wstring& text, bool narrowSafe, size_t capacity = kBufferSize);
void expandVariablesNarrow(std::string& text, size_t capacity = kBufferSize);

// One pass: every occurrence of name becomes value; an inserted value is not searched again by the same
// pass. The text is cut to capacity - 1 characters; the result tells whether that happened.
bool replaceAll(std::wstring& text, std::wstring_view name, std::wstring_view value,
                size_t capacity = kBufferSize);
// A narrow value, widened through the ANSI code page.
bool replaceAll(std::wstring& text, std::wstring_view name, std::string_view value,
                size_t capacity = kBufferSize);
bool replaceAll(std::string& text, std::string_view name, std::string_view value,
                size_t capacity = kBufferSize);

} // namespace morix
