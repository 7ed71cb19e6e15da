// The rows of the key table, section by section (keys_<section>.cpp), and the steps that finish what
// several keys of a section share. key_table.cpp puts them together.
#pragma once

#include "key_table.h"

#include "morix/stop_timeout.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace morix::builder {

std::vector<Key> applicationKeys();
std::vector<Key> launcherKeys();
std::vector<Key> outputKeys();
std::vector<Key> runtimeKeys();
std::vector<Key> jvmKeys();
std::vector<Key> splashKeys();
std::vector<Key> serviceKeys();
std::vector<Key> instanceKeys();
std::vector<Key> executableKeys();

// Id 107: launcher.type, launcher.error_dialogs and service.start.
std::optional<std::string> decodeExecutableType(const Key& key, Decoder& in);
void finishExecutableType(Encoder& out);
// Id 123: jvm.options with service.stop_timeout's option (payload::kStopTimeoutOption) behind them.
using payload::kStopTimeoutOption;
void finishJvmOptions(Encoder& out);
void splitJvmOptions(Decoder& in);
// [executable.version]: its required file version, the product version's default, the string order.
void finishExecutableVersion(Encoder& out);

} // namespace morix::builder
