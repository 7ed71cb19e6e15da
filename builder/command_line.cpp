#include "command_line.h"

#include <algorithm>

namespace morix::builder {

std::vector<std::string> splitCommandLine(std::string_view text) {
    constexpr size_t npos = std::string_view::npos;
    std::vector<std::string> tokens;
    size_t p = 0;
    while (p < text.size()) {
        const size_t space = text.find(' ', p);
        const size_t quote = std::min(text.find('"', p), text.find('\'', p));
        if (space == p) {
            ++p;
            continue;
        }
        if (space != npos && space < quote) {
            tokens.emplace_back(text.substr(p, space - p));
            p = space + 1;
            continue;
        }
        if (quote == npos) {
            tokens.emplace_back(text.substr(p));
            break;
        }
        const size_t close = text.find(text[quote], quote + 1);
        std::string token(text.substr(p, quote - p));
        token += text.substr(quote + 1, (close == npos ? text.size() : close) - quote - 1);
        tokens.push_back(std::move(token));
        if (close == npos) {
            break;
        }
        p = close + 1;
        if (p < text.size() && text[p] == ' ') {
            ++p;
        }
    }
    return tokens;
}

std::optional<std::string> quoteToken(std::string_view token) {
    const bool doubleQuote = token.find('"') != std::string_view::npos;
    const bool singleQuote = token.find('\'') != std::string_view::npos;
    // The launcher expands variables before it splits: an element that holds one is quoted too, since
    // the value (a directory under C:\Program Files, say) may bring spaces of its own.
    const bool variable =
        token.find("${") != std::string_view::npos || token.find('%') != std::string_view::npos;
    if (!token.empty() && !doubleQuote && !singleQuote && !variable &&
        token.find_first_of(" \t") == std::string_view::npos) {
        return std::string(token);
    }
    if (!doubleQuote) {
        return "\"" + std::string(token) + "\"";
    }
    if (!singleQuote) {
        return "'" + std::string(token) + "'";
    }
    return std::nullopt;
}

std::optional<std::string> joinCommandLine(const std::vector<std::string>& tokens) {
    std::string text;
    for (const std::string& token : tokens) {
        std::optional<std::string> quoted = quoteToken(token);
        if (!quoted) {
            return std::nullopt;
        }
        if (!text.empty()) {
            text += ' ';
        }
        text += *quoted;
    }
    return text;
}

} // namespace morix::builder
