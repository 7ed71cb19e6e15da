#include "config/extract.h"

namespace morix {

std::string appTempDir;
uint32_t unextractedPosition = 0;

} // namespace morix
