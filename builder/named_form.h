// The named configuration of a payload, for `inspect --format toml`: a configuration that `build`
// accepts and that gives the same payload again. Ids that no named key gives back exactly stay raw.
#pragma once

#include "morix/payload.h"

#include <optional>
#include <string>
#include <vector>

namespace morix::builder {

struct NamedForm {
    std::string text;
    // Building `text` (with the included files under their names) gives the payload byte for byte.
    bool exact = false;
    // Why not, when it does not: payloads that another tool wrote can hold what the builder never writes.
    std::vector<std::string> notes;
};

// `runtimeJar` is the jar the builder would include by default; an included morix-runtime.jar equal to
// it is written as the default rather than as a file.
NamedForm namedForm(const payload::Payload& payload, const std::optional<std::string>& runtimeJar);

// Whether an included file's name is safe to write below a directory (relative, one level at most).
bool isPlainIncludedName(const std::string& name);

} // namespace morix::builder
