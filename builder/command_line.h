// The launcher splits option and argument strings like a command line (spaces separate, double and
// single quotes group, no escapes). The builder writes lists in that form and reads them back.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace morix::builder {

std::vector<std::string> splitCommandLine(std::string_view text);

// One token that the launcher's splitter gives back unchanged, even after the launcher has expanded a
// variable in it: quoted when it is empty or holds "${", "%", a space, a tab or a quote. None when no
// quoting can carry it: a token that holds both kinds of quote.
std::optional<std::string> quoteToken(std::string_view token);

// The tokens joined so that splitCommandLine returns them; none when one cannot be quoted.
std::optional<std::string> joinCommandLine(const std::vector<std::string>& tokens);

} // namespace morix::builder
