// The ids of the localized messages that the launcher shows. Their texts come from the payload (the
// builder supplies English and German ones, builder/message_keys.cpp); "{0}" in a text stands for the
// insert. Portable: no Windows types.
#pragma once

#include <cstdint>

namespace morix::messages {

inline constexpr int32_t kFirst = 1000; // localized messages have ids from here up

inline constexpr int32_t kCaption = 1000;            // the caption of the message box
inline constexpr int32_t kRegistryRuntime = 1005;    // the registry's runtime did not load
inline constexpr int32_t kMissingFile = 1006;        // a required path entry is missing; insert: the entry
inline constexpr int32_t kMissingVariable = 1008;    // a required variable is not set; insert: the variable
inline constexpr int32_t kInternalError = 1009;      // insert: a short code, see the builder's text
inline constexpr int32_t kLauncherClass = 1010;      // the Java side's launcher class is missing
inline constexpr int32_t kMainMethod = 1011;         // the launcher class has no main method
inline constexpr int32_t kNoTempDirectory = 1015;    // no usable temporary root
inline constexpr int32_t kNoRuntime = 1016;          // no runtime found; insert: the bitness
inline constexpr int32_t kEnvironmentRuntime = 1017; // insert: the variable
inline constexpr int32_t kDirectoryRuntime = 1019;   // insert: the directory

} // namespace morix::messages
