// The temporary root: a directory in which a subdirectory could just be created, chosen by a fixed
// fallback order that avoids directories whose names the ANSI code page cannot represent.
#pragma once

#include <optional>
#include <string>

namespace morix {

// Cached narrow root; no usable root ends the process with message 1015.
const std::string& getTempRoot();
// Cached wide root; when none is found: fatal if required, else empty (and not cached).
std::wstring getTempRootWide(bool required);
// A new empty file "mrx....tmp" in the narrow root (or, when that fails, a name without a file).
std::string makeTempFileName();

// The searches themselves, without the cache.
std::optional<std::string> searchTempRoot();
std::optional<std::wstring> searchTempRootWide();

} // namespace morix
