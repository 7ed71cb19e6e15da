#include "frame/command_line.h"

namespace morix {

void splitCommandLine(std::wstring_view text, ArgumentList& arguments) {
    constexpr size_t none = std::wstring_view::npos;
    size_t p = 0;
    while (p < text.size()) {
        const size_t doubleQuote = text.find(L'"', p);
        const size_t singleQuote = text.find(L'\'', p);
        const size_t space = text.find(L' ', p);
        if (space == p) {
            ++p; // runs of spaces give no empty tokens
            continue;
        }
        if (space != none && (doubleQuote == none || space < doubleQuote) &&
            (singleQuote == none || space < singleQuote)) {
            arguments.emplace_back(text.substr(p, space - p));
            p = space + 1;
            continue;
        }
        if (doubleQuote == none && singleQuote == none) {
            arguments.emplace_back(text.substr(p));
            break;
        }
        // A quote comes first: the text before it and the quoted text form one token, quotes removed.
        const bool useSingle = doubleQuote == none || (singleQuote != none && singleQuote < doubleQuote);
        const size_t open = useSingle ? singleQuote : doubleQuote;
        const size_t close = text.find(useSingle ? L'\'' : L'"', open + 1);
        std::wstring token(text.substr(p, open - p));
        token += text.substr(open + 1, close == none ? none : close - open - 1);
        arguments.push_back(std::move(token));
        if (close == none) {
            break;
        }
        p = close + 1;
        if (p < text.size() && text[p] == L' ') {
            ++p;
        }
    }
}

} // namespace morix

namespace morix {
namespace {

bool isSeparator(wchar_t c) {
    return c == L' ' || c == L'\t';
}

// The program name ends at the closing quote, or at the first separator when it is not quoted.
size_t readProgramName(std::wstring_view line, ArgumentList& arguments) {
    size_t p = 0;
    std::wstring program;
    if (!line.empty() && line[0] == L'"') {
        const size_t close = line.find(L'"', 1);
        program = line.substr(1, close == std::wstring_view::npos ? std::wstring_view::npos : close - 1);
        p = close == std::wstring_view::npos ? line.size() : close + 1;
    } else {
        while (p < line.size() && !isSeparator(line[p])) {
            ++p;
        }
        program = line.substr(0, p);
    }
    arguments.push_back(std::move(program));
    return p;
}

// One argument from p on (p at its first character); returns the position after it.
size_t readArgument(std::wstring_view line, size_t p, std::wstring& argument) {
    bool quoted = false;
    while (p < line.size() && (quoted || !isSeparator(line[p]))) {
        size_t backslashes = 0;
        while (p < line.size() && line[p] == L'\\') {
            ++backslashes;
            ++p;
        }
        if (p < line.size() && line[p] == L'"') {
            argument.append(backslashes / 2, L'\\');
            if (backslashes % 2 == 1) {
                argument += L'"';
            } else if (quoted && p + 1 < line.size() && line[p + 1] == L'"') {
                argument += L'"'; // "" inside quotes: a literal quote, and the quotes go on
                ++p;
            } else {
                quoted = !quoted;
            }
            ++p;
        } else {
            argument.append(backslashes, L'\\');
            if (backslashes == 0) {
                argument += line[p++]; // the loop's condition has checked it
            }
        }
    }
    return p;
}

} // namespace

ArgumentList splitProcessCommandLine(std::wstring_view commandLine) {
    ArgumentList arguments;
    size_t p = readProgramName(commandLine, arguments);
    while (true) {
        while (p < commandLine.size() && isSeparator(commandLine[p])) {
            ++p;
        }
        if (p >= commandLine.size()) {
            break;
        }
        std::wstring argument;
        p = readArgument(commandLine, p, argument);
        arguments.push_back(std::move(argument));
    }
    return arguments;
}

std::wstring quoteProcessArgument(std::wstring_view argument) {
    if (!argument.empty() && argument.find_first_of(L" \t\n\v\"") == std::wstring_view::npos) {
        return std::wstring(argument);
    }
    std::wstring quoted = L"\"";
    size_t backslashes = 0;
    for (wchar_t c : argument) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        // Backslashes count only before a quote: there they are doubled, and the quote escaped.
        quoted.append(c == L'"' ? 2 * backslashes + 1 : backslashes, L'\\');
        backslashes = 0;
        quoted += c;
    }
    quoted.append(2 * backslashes, L'\\');
    quoted += L'"';
    return quoted;
}

std::wstring quoteProgramName(std::wstring_view program) {
    if (!program.empty() && program.find_first_of(L" \t") == std::wstring_view::npos) {
        return std::wstring(program);
    }
    return L"\"" + std::wstring(program) + L"\"";
}

} // namespace morix
