// The builder's one table of configuration keys: each key's section, name, type, the ids it sets, its
// default, its documentation and its converters in both directions. Reading a configuration,
// `inspect --format toml`, the references in docs/ and the tests all go through it. The rows are kept
// by section in keys_<section>.cpp; the converters they share are in key_converters.h.
#pragma once

#include "encoding.h"

#include "morix/config_values.h"

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace morix::builder {

using EncodeFn = void (*)(const Key& key, const toml::node& value, Encoder& out);
// The TOML value for the key from the payload's ids (or the launcher's resources), or none when the key
// is absent or cannot give those ids back exactly (the ids then stay raw).
using DecodeFn = std::optional<std::string> (*)(const Key& key, Decoder& in);

// An id that a key's example sets, with the value the launcher then reads.
struct ExampleId {
    int32_t id;
    std::string_view value;
};

struct Key {
    std::string_view section = {};
    std::string_view name = {};
    std::string_view type = {};        // for the reference
    std::string_view defaultText = {}; // for the reference
    std::string_view meaning = {};     // one or two sentences for the reference
    std::string_view example = {};     // a TOML value
    std::vector<ExampleId> exampleSets = {};
    std::vector<int32_t> ids = {}; // every id the key may set, the key's own first
    EncodeFn encode = nullptr;
    DecodeFn decode = nullptr;
    size_t limit = kValueCapacity - 1; // the longest value the launcher reads whole (bytes or characters)
    bool wide = false;                 // the key's own id is a wide string
    std::string_view resource = {};    // [executable] keys: what they set in the launcher's resources

    // What the example sets, "id=value" lines (wide ids marked "w"); filled from exampleSets.
    std::string exampleIds = {};

    int32_t id() const { return ids.empty() ? 0 : ids.front(); }
    // The ids for the reference: in order, runs of three or more as ranges, " (wide)" for a wide id.
    std::string idsText() const;
    std::string dotted() const { return std::string(section) + "." + std::string(name); }
    bool sets(int32_t someId) const;
};

// The keys that set the payload's ids, and the keys of [executable] that set the launcher's resources.
const std::vector<Key>& keyTable();
const std::vector<Key>& executableKeyTable();

// The sections of each table, in the order of their reference.
std::vector<std::string> sectionNames();
std::vector<std::string> executableSectionNames();
bool isExecutableSection(std::string_view section);
// Looks in both tables.
const Key* findKey(std::string_view section, std::string_view name);
std::vector<std::string> keyNames(std::string_view section);

// Finishes what several keys share (the executable type, the JVM options, the version information)
// once every key was read.
void finishSharedIds(Encoder& out);
// Splits the shared ids for the decoders.
void prepareSharedIds(Decoder& in);

// The references in Markdown, as docs/configuration.md and docs/executable.md hold them.
std::string referenceMarkdown();
std::string executableReferenceMarkdown();

} // namespace morix::builder
