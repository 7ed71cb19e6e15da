// The converters that several keys share, between a TOML value and the payload's ids, and the helpers
// of the named form that they write: texts, paths, flags, versions, joined lists and command lines.
#pragma once

#include "key_table.h"

#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace morix::builder {

inline constexpr int64_t kInt32Max = std::numeric_limits<int32_t>::max();
inline constexpr int64_t kInt32Min = std::numeric_limits<int32_t>::min();

// --- text forms ---------------------------------------------------------------------------------

std::string utf8(std::string_view narrow);
std::string toBackslashes(std::string text);
// A path for the named form: backslashes become slashes, which the builder turns back. A path that
// already holds a slash would not come back the same, so it stays raw.
std::optional<std::string> pathText(std::string_view narrow);
// Decimal text as the builder writes numbers: the launcher reads them with atoi, so only this form
// gives the same bytes back.
std::optional<int64_t> canonicalInteger(std::string_view text);
std::vector<std::string> splitAt(std::string_view text, char separator);
std::string join(const std::vector<std::string>& parts, std::string_view separator);
std::string tomlList(const std::vector<std::string>& values);
std::string tomlStringList(const std::vector<std::string>& narrowValues);
// A list of tables, one per line, so that long class paths stay readable.
std::string tomlTableList(const std::vector<std::string>& tables);
// The tokens of a command-line text, when joining them gives the same text back.
std::optional<std::vector<std::string>> tokensOf(const std::string& text);

// "is longer than the N characters the launcher reads", at the value.
void tooLong(Encoder& out, const toml::node& value, const std::string& key, size_t limit);
// The name of a list entry's table (`kind` is its key): one non-empty narrow name without the list's
// separator, or none after a finding.
std::optional<std::string> entryName(const Key& key, const toml::table& entry, const char* kind, Encoder& out,
                                     const char* problem, const char* suggestion);

// --- converters of single ids ---------------------------------------------------------------------

std::optional<std::string> readText(const Key& key, const toml::node& value, Encoder& out);
void encodeText(const Key& key, const toml::node& value, Encoder& out);
std::optional<std::string> decodeText(const Key& key, Decoder& in);
void encodeWideText(const Key& key, const toml::node& value, Encoder& out);
std::optional<std::string> decodeWideText(const Key& key, Decoder& in);
void encodePath(const Key& key, const toml::node& value, Encoder& out);
std::optional<std::string> decodePath(const Key& key, Decoder& in);
void encodeFlag(const Key& key, const toml::node& value, Encoder& out);
std::optional<std::string> decodeFlag(const Key& key, Decoder& in);
// A version bound of the runtime, compared number by number.
void encodeVersion(const Key& key, const toml::node& value, Encoder& out);

// A list of texts joined with a separator that no element may hold.
void encodeJoinedList(const Key& key, const toml::node& value, Encoder& out, char separator, bool paths);
std::optional<std::string> decodeJoinedList(const Key& key, Decoder& in, char separator, bool paths);

// A list of arguments or options written the way the launcher splits them.
std::optional<std::vector<std::string>> readTokens(const Key& key, const toml::node& value, Encoder& out);
void encodeCommandLine(const Key& key, const toml::node& value, Encoder& out);
std::optional<std::string> decodeCommandLine(const Key& key, Decoder& in);

// --- rows ---------------------------------------------------------------------------------------

// The row of a key with a plain form: a type, a default, an example and its converters.
Key plainKey(std::string_view section, std::string_view name, std::string_view type,
             std::string_view defaultText, std::string_view meaning, std::string_view example,
             EncodeFn encode, DecodeFn decode);
// The row for one id, which the example sets to `exampleValue`.
Key withId(Key key, int32_t id, std::string_view exampleValue);
// A boolean key of one id: "1" or "0", false by default, true in its example.
Key flagKey(std::string_view section, std::string_view name, int32_t id, std::string_view meaning);

} // namespace morix::builder
