// The builder's configuration file: TOML with the payload's ids as keys.
#pragma once

#include "morix/payload.h"

#include <filesystem>
#include <optional>
#include <string>

namespace morix::builder {

struct ExecutableSettings;

// Reads the configuration file and the included files it names. On failure returns none and sets
// `error` to a one-line reason (the caller prefixes the file name). The [executable] table goes into
// `executable` when given.
std::optional<payload::Payload> loadConfig(const std::filesystem::path& file, std::string& error,
                                           ExecutableSettings* executable = nullptr);

// English texts for the launcher's messages, used for every id the configuration does not set.
void addDefaultMessages(payload::Payload& payload);

} // namespace morix::builder
