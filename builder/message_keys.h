// The launcher's messages, one row each: id, key name, when it is shown, its insert, and the texts the
// builder supplies (English for every message the configuration leaves open, German as the shipped "de"
// set). Valid as keys in [messages] and in every [messages.<locale>] set.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

namespace morix::builder {

struct MessageKey {
    int32_t id;
    std::string_view name;
    std::string_view meaning;
    std::string_view insert;
    // The texts; "{0}" stands for the insert. The no_runtime texts hold "%BOUNDS%" and "%PLACES%", which
    // the builder fills from the configuration (messages.cpp).
    std::string_view english;
    std::string_view german;
};

const std::vector<MessageKey>& messageKeys();
const MessageKey* findMessageKey(std::string_view name);
const MessageKey* findMessageKey(int32_t id);

} // namespace morix::builder
