#include "encoding.h"

#include "morix/text_encoding.h"

#include <algorithm>
#include <cstdio>
#include <sstream>

namespace morix::builder {
namespace {

std::string typeName(const toml::node& node) {
    switch (node.type()) {
    case toml::node_type::string:
        return "a string";
    case toml::node_type::integer:
        return "an integer";
    case toml::node_type::floating_point:
        return "a number with a fraction";
    case toml::node_type::boolean:
        return "a boolean";
    case toml::node_type::array:
        return "a list";
    case toml::node_type::table:
        return "a table";
    default:
        return "a date or time";
    }
}

size_t editDistance(std::string_view a, std::string_view b) {
    std::vector<size_t> row(b.size() + 1);
    for (size_t j = 0; j <= b.size(); ++j) {
        row[j] = j;
    }
    for (size_t i = 1; i <= a.size(); ++i) {
        size_t diagonal = row[0];
        row[0] = i;
        for (size_t j = 1; j <= b.size(); ++j) {
            const size_t above = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
            diagonal = above;
        }
    }
    return row[b.size()];
}

} // namespace

std::string formatDiagnostic(const Diagnostic& d, bool isWarning) {
    std::ostringstream out;
    out << d.file;
    if (d.line != 0) {
        out << ":" << d.line << ":" << d.column;
    }
    out << (isWarning ? ": warning: " : ": error: ");
    if (!d.key.empty()) {
        out << d.key << ": ";
    }
    out << d.message;
    if (!d.suggestion.empty()) {
        out << "; " << d.suggestion;
    }
    return out.str();
}

Diagnostic Encoder::diagnostic(const toml::source_region& at, std::string key, std::string message,
                               std::string suggestion) const {
    return Diagnostic{file_,          at.begin.line,      at.begin.column,
                      std::move(key), std::move(message), std::move(suggestion)};
}

void Encoder::error(const toml::source_region& at, std::string key, std::string message,
                    std::string suggestion) {
    // A file full of one mistake should not bury the first findings.
    if (errors_.size() < 50) {
        errors_.push_back(diagnostic(at, std::move(key), std::move(message), std::move(suggestion)));
    }
}

void Encoder::warning(const toml::source_region& at, std::string key, std::string message,
                      std::string suggestion) {
    if (warnings_.size() < 50) {
        warnings_.push_back(diagnostic(at, std::move(key), std::move(message), std::move(suggestion)));
    }
}

std::optional<std::string> Encoder::string(const toml::node& node, const std::string& key) {
    if (auto s = node.value_exact<std::string>()) {
        return *s;
    }
    error(node.source(), key, "expected a string, found " + typeName(node));
    return std::nullopt;
}

std::optional<bool> Encoder::flag(const toml::node& node, const std::string& key) {
    if (auto b = node.value_exact<bool>()) {
        return *b;
    }
    error(node.source(), key, "expected true or false, found " + typeName(node));
    return std::nullopt;
}

std::optional<int64_t> Encoder::integer(const toml::node& node, const std::string& key, int64_t min,
                                        int64_t max) {
    auto i = node.value_exact<int64_t>();
    if (!i) {
        error(node.source(), key, "expected a whole number, found " + typeName(node));
        return std::nullopt;
    }
    if (*i < min || *i > max) {
        error(node.source(), key,
              "expected a whole number from " + std::to_string(min) + " to " + std::to_string(max) +
                  ", found " + std::to_string(*i));
        return std::nullopt;
    }
    return *i;
}

const toml::array* Encoder::array(const toml::node& node, const std::string& key) {
    if (const toml::array* a = node.as_array()) {
        return a;
    }
    error(node.source(), key, "expected a list, found " + typeName(node), "write it as [ ... ]");
    return nullptr;
}

const toml::table* Encoder::table(const toml::node& node, const std::string& key) {
    if (const toml::table* t = node.as_table()) {
        return t;
    }
    error(node.source(), key, "expected a table, found " + typeName(node), "write it as { ... }");
    return nullptr;
}

std::optional<std::string> Encoder::narrow(const toml::node& node, const std::string& key,
                                           const std::string& utf8, size_t limit) {
    std::optional<std::string> text = payload::utf8ToCp1252(utf8);
    if (!text) {
        error(node.source(), key,
              "holds a character that the launcher's ANSI code page (Windows-1252) cannot represent",
              "use characters of Western European languages only");
        return std::nullopt;
    }
    if (text->size() > limit) {
        error(node.source(), key,
              "is " + std::to_string(text->size()) + " characters long; the launcher reads at most " +
                  std::to_string(limit));
        return std::nullopt;
    }
    return text;
}

std::optional<std::string> Encoder::narrowString(const toml::node& node, const std::string& key,
                                                 size_t limit) {
    std::optional<std::string> text = string(node, key);
    return text ? narrow(node, key, *text, limit) : std::nullopt;
}

const toml::source_region* Encoder::sectionAt(const std::string& section) const {
    auto it = sectionsAt.find(section);
    return it == sectionsAt.end() ? nullptr : &it->second;
}

bool Encoder::onlyKeys(const toml::table& table, const std::string& key,
                       const std::vector<std::string>& allowed) {
    bool ok = true;
    for (auto&& [name, value] : table) {
        if (std::find(allowed.begin(), allowed.end(), name.str()) != allowed.end()) {
            continue;
        }
        const std::string nearest = nearestName(name.str(), allowed);
        std::string known;
        for (const std::string& a : allowed) {
            known += (known.empty() ? "" : ", ") + a;
        }
        error(name.source(), key, "unknown key '" + std::string(name.str()) + "'",
              nearest.empty() ? "known keys: " + known : "did you mean '" + nearest + "'?");
        ok = false;
    }
    return ok;
}

void Encoder::set(int32_t id, std::string value, const std::string& owner, const toml::source_region& at) {
    narrowIds[id] = std::move(value);
    owners[id] = {owner, at};
}

void Encoder::setWide(int32_t id, std::u16string value, const std::string& owner,
                      const toml::source_region& at) {
    wideIds[id] = std::move(value);
    owners[id] = {owner, at};
}

Decoder::Decoder(const std::map<int32_t, std::string>& narrow, const std::map<int32_t, std::u16string>& wide)
    : narrow_(narrow), wide_(wide) {}

const std::string* Decoder::narrow(int32_t id) const {
    auto it = narrow_.find(id);
    return it == narrow_.end() || taken(id) ? nullptr : &it->second;
}

const std::u16string* Decoder::wide(int32_t id) const {
    auto it = wide_.find(id);
    return it == wide_.end() || taken(id) ? nullptr : &it->second;
}

std::string quotedText(std::string_view utf8, std::string (*escapeControl)(unsigned char)) {
    std::string out = "\"";
    for (char c : utf8) {
        const auto b = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (b < 0x20 || b == 0x7F) {
            out += escapeControl(b);
        } else {
            out += c;
        }
    }
    return out + "\"";
}

std::string tomlString(std::string_view utf8) {
    return quotedText(utf8, [](unsigned char b) -> std::string {
        switch (b) {
        case '\n':
            return "\\n";
        case '\t':
            return "\\t";
        case '\r':
            return "\\r";
        default:
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04X", b);
            return escape;
        }
    });
}

std::string nearestName(std::string_view name, const std::vector<std::string>& known) {
    std::string best;
    size_t bestDistance = std::max<size_t>(2, name.size() / 3) + 1;
    for (const std::string& candidate : known) {
        const size_t distance = editDistance(name, candidate);
        if (distance < bestDistance) {
            bestDistance = distance;
            best = candidate;
        }
    }
    return best;
}

} // namespace morix::builder
