// The texts of the launcher's messages that the builder supplies: English defaults for every message
// id the configuration leaves open, and message sets for other languages that a configuration can
// include by name.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace morix::builder {

using MessageTexts = std::vector<std::pair<int32_t, std::u16string>>;

// The English texts. The text for "no runtime found" names the version bounds and the places of the
// search that the narrow configuration `ids` holds.
MessageTexts defaultMessages(const std::map<int32_t, std::string>& ids);

// A message set shipped with the builder ("de"), or none.
std::optional<MessageTexts> includedMessageSet(const std::string& name,
                                               const std::map<int32_t, std::string>& ids);
std::vector<std::string> includedMessageSetNames();

} // namespace morix::builder
