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
