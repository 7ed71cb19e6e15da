// Two ways of splitting a line into arguments.
//
// The process's own command line follows the rules of the Windows C runtime, because every caller (cmd,
// PowerShell, Java's ProcessBuilder, .NET, Python's subprocess) quotes by them: spaces and tabs separate,
// double quotes group, backslashes escape only before a double quote, and "" inside quotes is a literal
// quote. The service host writes its child's line by the inverse rules.
//
// The configured option and argument strings, which the builder quotes itself, keep the configuration
// tokenizer: tokens are separated by spaces (not tabs); double and single quotes group; there is no
// escape character.
#pragma once

#include <deque>
#include <string>
#include <string_view>

namespace morix {

using ArgumentList = std::deque<std::wstring>;

// Appends the tokens of a configured string to the list (the configuration tokenizer).
void splitCommandLine(std::wstring_view text, ArgumentList& arguments);

// A process command line split as the C runtime splits it for main: the program name first (up to the
// next quote when it starts with one, else up to a space or tab, nothing escaped), then the arguments.
ArgumentList splitProcessCommandLine(std::wstring_view commandLine);

// The argument written so that splitProcessCommandLine gives it back unchanged: as it is when nothing in
// it needs quoting, else quoted with the backslashes before a quote (and at the end) doubled.
std::wstring quoteProcessArgument(std::wstring_view argument);

// The program name of a command line: quoted when it is empty or holds a space or a tab. A file name
// holds no double quote, so none is escaped.
std::wstring quoteProgramName(std::wstring_view program);

} // namespace morix
