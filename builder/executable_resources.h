// The seam for the launcher's resources (icon, version information, manifest), configured in the
// [executable] table. The configuration reader carries the table untouched; this one function applies
// it to the launcher image before the payload is attached.
#pragma once

#include "diagnostic.h"

#include <toml++/toml.h>

#include <string>
#include <vector>

namespace morix::builder {

// Returns false (with findings in `errors`) when the table cannot be applied.
bool applyExecutableTable(const toml::table& executable, std::string& launcherImage,
                          std::vector<Diagnostic>& errors);

} // namespace morix::builder
