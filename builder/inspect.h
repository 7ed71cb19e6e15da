// Prints what a launcher carries: ids with values, message sets, included files with sizes.
#pragma once

#include "morix/payload.h"

#include <ostream>

namespace morix::builder {

void printPayload(std::ostream& out, const payload::Payload& payload, uint64_t offset);

} // namespace morix::builder
