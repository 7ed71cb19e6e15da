// Where a launcher's payload starts: at the end of the raw data of the last section header of the
// executable image, which is where the launcher looks for it at every start.
#pragma once

#include "morix/payload.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace morix::payload {

// The payload offset of a PE image, or none with a one-line reason in `error`. Refuses files that are
// not PE images and images whose last section header does not end the image (a payload written there
// would overwrite the image).
std::optional<uint64_t> findPayloadStart(std::string_view image, std::string* error);

// A launcher: the template cut at its payload offset (dropping a symbol table or an earlier payload),
// followed by the payload. None with a reason when the template is unusable.
std::optional<std::string> attachPayload(std::string_view templateImage, const Payload& payload,
                                         std::string* error);

} // namespace morix::payload
