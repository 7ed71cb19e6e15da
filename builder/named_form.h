// The named configuration of a launcher, for `inspect --format toml`: a configuration that `build`
// accepts and that gives the same payload (and, with the [executable] settings, the same resources)
// again. Ids that no named key gives back exactly stay raw.
#pragma once

#include "executable_settings.h"

#include "morix/payload.h"

#include <optional>
#include <string>
#include <vector>

namespace morix::builder {

struct NamedForm {
    std::string text;
    // Building `text` (with the included files and the icon under their names) gives the payload byte for
    // byte, and the [executable] settings it was given.
    bool exact = false;
    // Why not, when it does not: payloads that another tool wrote can hold what the builder never writes.
    std::vector<std::string> notes;
};

// `runtimeJar` is the jar the builder would include by default; an included morix-runtime.jar equal to
// it is written as the default rather than as a file. `executable` is the [executable] table to write,
// when the launcher's resources came from one.
NamedForm namedForm(const payload::Payload& payload, const std::optional<std::string>& runtimeJar,
                    const ExecutableSettings* executable = nullptr);

} // namespace morix::builder
