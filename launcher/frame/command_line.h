// The launcher's command-line tokenizer: tokens are separated by spaces (not tabs); double and single
// quotes group; there is no escape character.
#pragma once

#include <deque>
#include <string>
#include <string_view>

namespace morix {

using ArgumentList = std::deque<std::wstring>;

// Appends the tokens of the text to the list.
void splitCommandLine(std::wstring_view text, ArgumentList& arguments);

} // namespace morix
