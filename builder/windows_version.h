// The Windows version of an application's own version, such as a Maven project version. Windows keeps
// four numbers from 0 to 65535 (major, minor, patch, build); a Maven version has up to three numbers and
// a qualifier or a build number behind a dash.
#pragma once

#include "morix/executable_resources.h"

#include <optional>
#include <string>
#include <string_view>

namespace morix::builder {

// The leading numbers fill the version from the left (1.4 gives 1.4.0.0); a build number behind a dash
// (1.4.0-3) becomes the fourth number when there is room for it; a qualifier (SNAPSHOT, rc1, ...) is left
// out, so 1.4.0-SNAPSHOT gives 1.4.0.0. None, with the reason, for a version that does not start with
// a number, has more than four numbers, or a number above 65535.
std::optional<payload::VersionNumber> windowsVersionOf(std::string_view version, std::string& problem);

} // namespace morix::builder
