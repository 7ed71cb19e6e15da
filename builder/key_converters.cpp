#include "key_converters.h"

#include "command_line.h"

#include "morix/text_encoding.h"

#include <algorithm>
#include <charconv>

namespace morix::builder {

std::string utf8(std::string_view narrow) {
    return payload::cp1252ToUtf8(narrow);
}

std::string toBackslashes(std::string text) {
    std::replace(text.begin(), text.end(), '/', '\\');
    return text;
}

std::optional<std::string> pathText(std::string_view narrow) {
    if (narrow.find('/') != std::string_view::npos) {
        return std::nullopt;
    }
    std::string text = utf8(narrow);
    std::replace(text.begin(), text.end(), '\\', '/');
    return text;
}

std::optional<int64_t> canonicalInteger(std::string_view text) {
    int64_t value = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size() ||
        std::to_string(value) != text) {
        return std::nullopt;
    }
    return value;
}

std::vector<std::string> splitAt(std::string_view text, char separator) {
    std::vector<std::string> parts;
    size_t start = 0;
    while (true) {
        const size_t end = text.find(separator, start);
        parts.emplace_back(text.substr(start, end - start));
        if (end == std::string_view::npos) {
            return parts;
        }
        start = end + 1;
    }
}

std::string join(const std::vector<std::string>& parts, std::string_view separator) {
    std::string text;
    for (size_t i = 0; i < parts.size(); ++i) {
        text += (i == 0 ? "" : std::string(separator)) + parts[i];
    }
    return text;
}

std::string tomlList(const std::vector<std::string>& values) {
    return "[" + join(values, ", ") + "]";
}

std::string tomlStringList(const std::vector<std::string>& narrowValues) {
    std::vector<std::string> quoted;
    for (const std::string& v : narrowValues) {
        quoted.push_back(tomlString(utf8(v)));
    }
    return tomlList(quoted);
}

std::string tomlTableList(const std::vector<std::string>& tables) {
    if (tables.size() <= 1) {
        return tomlList(tables);
    }
    std::string text = "[\n";
    for (const std::string& t : tables) {
        text += "    " + t + ",\n";
    }
    return text + "]";
}

std::optional<std::vector<std::string>> tokensOf(const std::string& text) {
    std::vector<std::string> tokens = splitCommandLine(text);
    std::optional<std::string> again = joinCommandLine(tokens);
    if (text.empty() || !again || *again != text) {
        return std::nullopt;
    }
    return tokens;
}

void tooLong(Encoder& out, const toml::node& value, const std::string& key, size_t limit) {
    out.error(value.source(), key,
              "is longer than the " + std::to_string(limit) + " characters the launcher reads");
}

std::optional<std::string> entryName(const Key& key, const toml::table& entry, const char* kind, Encoder& out,
                                     const char* problem, const char* suggestion) {
    const toml::node& nameNode = *entry.get(kind);
    const std::string where = key.dotted() + "." + kind;
    std::optional<std::string> name = out.narrowString(nameNode, where, key.limit);
    if (name && (name->empty() || name->find(kListSeparator) != std::string::npos)) {
        out.error(nameNode.source(), where, problem, suggestion);
        return std::nullopt;
    }
    return name;
}

std::optional<std::string> readText(const Key& key, const toml::node& value, Encoder& out) {
    return out.narrowString(value, key.dotted(), key.limit);
}

void encodeText(const Key& key, const toml::node& value, Encoder& out) {
    if (std::optional<std::string> text = readText(key, value, out)) {
        out.set(key.id(), *text, key.dotted(), value.source());
    }
}

std::optional<std::string> decodeText(const Key& key, Decoder& in) {
    const std::string* value = in.narrow(key.id());
    if (!value) {
        return std::nullopt;
    }
    in.take(key.id());
    return tomlString(utf8(*value));
}

void encodeWideText(const Key& key, const toml::node& value, Encoder& out) {
    std::optional<std::string> text = out.string(value, key.dotted());
    if (!text) {
        return;
    }
    std::optional<std::u16string> wide = payload::utf8ToUtf16(*text);
    if (!wide || wide->size() > key.limit) {
        tooLong(out, value, key.dotted(), key.limit);
        return;
    }
    out.setWide(key.id(), *wide, key.dotted(), value.source());
}

std::optional<std::string> decodeWideText(const Key& key, Decoder& in) {
    const std::u16string* value = in.wide(key.id());
    if (!value) {
        return std::nullopt;
    }
    in.take(key.id());
    return tomlString(payload::utf16ToUtf8(*value));
}

void encodePath(const Key& key, const toml::node& value, Encoder& out) {
    std::optional<std::string> text = readText(key, value, out);
    if (!text) {
        return;
    }
    if (text->empty()) {
        out.error(value.source(), key.dotted(), "expected a path, found an empty string",
                  "leave the key out for the default");
        return;
    }
    out.set(key.id(), toBackslashes(*text), key.dotted(), value.source());
}

std::optional<std::string> decodePath(const Key& key, Decoder& in) {
    const std::string* value = in.narrow(key.id());
    std::optional<std::string> path = value && !value->empty() ? pathText(*value) : std::nullopt;
    if (!path) {
        return std::nullopt;
    }
    in.take(key.id());
    return tomlString(*path);
}

void encodeFlag(const Key& key, const toml::node& value, Encoder& out) {
    if (std::optional<bool> b = out.flag(value, key.dotted())) {
        out.set(key.id(), *b ? "1" : "0", key.dotted(), value.source());
    }
}

std::optional<std::string> decodeFlag(const Key& key, Decoder& in) {
    const std::string* value = in.narrow(key.id());
    if (!value || (*value != "1" && *value != "0")) {
        return std::nullopt;
    }
    in.take(key.id());
    return *value == "1" ? "true" : "false";
}

void encodeVersion(const Key& key, const toml::node& value, Encoder& out) {
    std::optional<std::string> text = readText(key, value, out);
    if (!text) {
        return;
    }
    // The launcher splits a version at "._-+" and reads each piece's leading digits; a piece without
    // digits would silently count as 0, so only whole numbers are accepted here.
    bool ok = !text->empty();
    size_t start = 0;
    for (size_t i = 0; ok && i <= text->size(); ++i) {
        if (i == text->size() || std::string_view("._-+").find((*text)[i]) != std::string_view::npos) {
            std::string_view piece(text->data() + start, i - start);
            int64_t number = 0;
            auto [end, ec] = std::from_chars(piece.data(), piece.data() + piece.size(), number);
            ok = !piece.empty() && ec == std::errc() && end == piece.data() + piece.size() && number >= 0 &&
                 number <= kInt32Max && piece.find_first_not_of("0123456789") == std::string_view::npos;
            start = i + 1;
        }
    }
    if (!ok) {
        out.error(value.source(), key.dotted(),
                  "expected a version such as 1.8, 11 or 17.0.2, found \"" + utf8(*text) + "\"",
                  "the launcher compares versions number by number; write only numbers separated by "
                  "'.', '_', '-' or '+'");
        return;
    }
    out.set(key.id(), *text, key.dotted(), value.source());
}

void encodeJoinedList(const Key& key, const toml::node& value, Encoder& out, char separator, bool paths) {
    const toml::array* list = out.array(value, key.dotted());
    if (!list) {
        return;
    }
    std::vector<std::string> parts;
    bool ok = true;
    for (const toml::node& element : *list) {
        std::optional<std::string> text = out.narrowString(element, key.dotted(), key.limit);
        if (!text || text->empty() || text->find(separator) != std::string::npos) {
            if (text) {
                out.error(element.source(), key.dotted(),
                          std::string("expected a non-empty name without '") + separator + "'",
                          "give each one an element of its own");
            }
            ok = false;
            continue;
        }
        parts.push_back(paths ? toBackslashes(*text) : *text);
    }
    const std::string text = join(parts, std::string_view(&separator, 1));
    if (text.size() > key.limit) {
        tooLong(out, value, key.dotted(), key.limit);
        return;
    }
    if (ok && !parts.empty()) {
        out.set(key.id(), text, key.dotted(), value.source());
    }
}

std::optional<std::string> decodeJoinedList(const Key& key, Decoder& in, char separator, bool paths) {
    const std::string* value = in.narrow(key.id());
    if (!value || value->empty()) {
        return std::nullopt;
    }
    std::vector<std::string> quoted;
    for (const std::string& part : splitAt(*value, separator)) {
        std::optional<std::string> text = paths ? pathText(part) : std::optional<std::string>(utf8(part));
        if (part.empty() || !text) {
            return std::nullopt;
        }
        quoted.push_back(tomlString(*text));
    }
    in.take(key.id());
    return tomlList(quoted);
}

std::optional<std::vector<std::string>> readTokens(const Key& key, const toml::node& value, Encoder& out) {
    const toml::array* list = out.array(value, key.dotted());
    if (!list) {
        return std::nullopt;
    }
    std::vector<std::string> tokens;
    bool ok = true;
    for (const toml::node& element : *list) {
        std::optional<std::string> text = out.narrowString(element, key.dotted(), key.limit);
        if (text && !quoteToken(*text)) {
            out.error(element.source(), key.dotted(),
                      "holds both a double and a single quote, which the launcher's splitter cannot pass on",
                      "use only one kind of quote in an element");
            text.reset();
        }
        if (!text) {
            ok = false;
            continue;
        }
        tokens.push_back(*text);
    }
    return ok ? std::optional(tokens) : std::nullopt;
}

void encodeCommandLine(const Key& key, const toml::node& value, Encoder& out) {
    std::optional<std::vector<std::string>> tokens = readTokens(key, value, out);
    if (!tokens || tokens->empty()) {
        return;
    }
    const std::string text = *joinCommandLine(*tokens);
    if (text.size() > key.limit) {
        tooLong(out, value, key.dotted(), key.limit);
        return;
    }
    out.set(key.id(), text, key.dotted(), value.source());
}

std::optional<std::string> decodeCommandLine(const Key& key, Decoder& in) {
    const std::string* value = in.narrow(key.id());
    std::optional<std::vector<std::string>> tokens = value ? tokensOf(*value) : std::nullopt;
    if (!tokens) {
        return std::nullopt;
    }
    in.take(key.id());
    return tomlStringList(*tokens);
}

Key plainKey(std::string_view section, std::string_view name, std::string_view type,
             std::string_view defaultText, std::string_view meaning, std::string_view example,
             EncodeFn encode, DecodeFn decode) {
    return {.section = section,
            .name = name,
            .type = type,
            .defaultText = defaultText,
            .meaning = meaning,
            .example = example,
            .encode = encode,
            .decode = decode};
}

Key withId(Key key, int32_t id, std::string_view exampleValue) {
    key.ids = {id};
    key.exampleSets = {{id, exampleValue}};
    return key;
}

Key flagKey(std::string_view section, std::string_view name, int32_t id, std::string_view meaning) {
    return withId(plainKey(section, name, "boolean", "false", meaning, "true", encodeFlag, decodeFlag), id,
                  "1");
}

} // namespace morix::builder
