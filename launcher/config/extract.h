// The files included in the payload, written into a fresh temporary directory of this process.
#pragma once

#include <cstdint>
#include <string>

namespace morix {

// The launcher's own temporary directory (narrow); empty until one was created. Removed by exitLauncher.
extern std::string appTempDir;
// Offset in the own executable just after the last included file; 0 when nothing was extracted.
extern uint32_t unextractedPosition;

} // namespace morix
