// The builder's one table of configuration keys: each key's section, name, type, the ids it sets, its
// default, its documentation and its converters in both directions. Reading a configuration,
// `inspect --format toml`, the reference in docs/configuration.md and the tests all go through it.
#pragma once

#include "encoding.h"

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace morix::builder {

using EncodeFn = void (*)(const Key& key, const toml::node& value, Encoder& out);
// The TOML value for the key from the payload's ids, or none when the key is absent or cannot give
// those ids back exactly (the ids then stay raw).
using DecodeFn = std::optional<std::string> (*)(const Key& key, Decoder& in);

struct Key {
    std::string_view section;
    std::string_view name;
    std::string_view type;        // for the reference
    std::string_view idsText;     // for the reference
    std::string_view defaultText; // for the reference
    std::string_view meaning;     // one or two sentences for the reference
    std::string_view example;     // a TOML value
    std::string_view exampleIds;  // what the example sets, "id=value" lines (wide ids marked "w")
    std::vector<int32_t> ids;     // every id the key may set
    EncodeFn encode = nullptr;
    DecodeFn decode = nullptr;
    int32_t id = 0;      // the id of keys that set one
    size_t limit = 5999; // the longest value the launcher reads whole (bytes or characters)

    std::string dotted() const { return std::string(section) + "." + std::string(name); }
    bool sets(int32_t someId) const;
};

const std::vector<Key>& keyTable();

// The sections the table knows, in the order of the reference.
std::vector<std::string> sectionNames();
const Key* findKey(std::string_view section, std::string_view name);
std::vector<std::string> keyNames(std::string_view section);

// Message ids that the launcher shows, with their key names; valid in [messages] and in every
// [messages.<locale>] set.
struct MessageKey {
    int32_t id;
    std::string_view name;
    std::string_view meaning;
    std::string_view insert;
};
const std::vector<MessageKey>& messageKeys();
const MessageKey* findMessageKey(std::string_view name);
const MessageKey* findMessageKey(int32_t id);

// Finishes the ids that several keys share (107, 123) once every key was read.
void finishSharedIds(Encoder& out);
// Splits the shared ids for the decoders.
void prepareSharedIds(Decoder& in);

// The reference in Markdown, as docs/configuration.md holds it.
std::string referenceMarkdown();

} // namespace morix::builder
