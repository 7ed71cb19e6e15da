// The time limit of a stop, as the Java side reads it from the system property morix.stopTimeout: whole
// seconds within this range, and the default for a value that is absent or not such a number. The builder
// refuses other values for service.stop_timeout, and the service host adds its margin to the value.
#pragma once

#include <string_view>

namespace morix::payload {

inline constexpr int kMinStopTimeoutSeconds = 1;
inline constexpr int kMaxStopTimeoutSeconds = 3600;
inline constexpr int kDefaultStopTimeoutSeconds = 20;
// The VM option that carries it (builder key service.stop_timeout, among the options of id 123).
inline constexpr std::string_view kStopTimeoutOption = "-Dmorix.stopTimeout=";

} // namespace morix::payload
