// The service's own environment: variables that the payload gives, which the host sets in its own
// environment before it writes its first log line and starts the child, so that both the child and the
// host see them (MORIX_LOG among them switches on the diagnostic log of both).
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace morix {

using EnvironmentEntries = std::vector<std::pair<std::wstring, std::wstring>>;

// The "NAME=value" lines of the text; a line without a name before its "=" is skipped (logged).
EnvironmentEntries parseServiceEnvironment(const std::wstring& text);
// Sets the configured variables, launcher variables expanded in each value; the number set.
size_t applyServiceEnvironment();

} // namespace morix
