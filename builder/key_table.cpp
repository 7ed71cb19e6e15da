#include "key_table.h"

#include "command_line.h"

#include "morix/stop_timeout.h"
#include "morix/text_encoding.h"

#include <algorithm>
#include <charconv>
#include <limits>
#include <sstream>

namespace morix::builder {
namespace {

constexpr int64_t kInt32Max = std::numeric_limits<int32_t>::max();
constexpr int32_t kVersionLinesId = 10200;
constexpr int64_t kMostVersionLines = 100;
constexpr int32_t kExecutableTypeId = 107;
constexpr int32_t kJvmOptionsId = 123;
constexpr std::string_view kStopTimeoutOption = "-Dmorix.stopTimeout=";

// The splash texts: text, first and second integer of each of the four, in the launcher's order.
constexpr int32_t kSplashText[4] = {10111, 10114, 10118, 10121};
constexpr int32_t kSplashFirst[4] = {10109, 10113, 10116, 10120};
constexpr int32_t kSplashSecond[4] = {10110, 10115, 10117, 10122};

std::string utf8(std::string_view narrow) {
    return payload::cp1252ToUtf8(narrow);
}

std::string toBackslashes(std::string text) {
    std::replace(text.begin(), text.end(), '/', '\\');
    return text;
}

// A path for the named form: backslashes become slashes, which the builder turns back. A path that
// already holds a slash would not come back the same, so it stays raw.
std::optional<std::string> pathText(std::string_view narrow) {
    if (narrow.find('/') != std::string_view::npos) {
        return std::nullopt;
    }
    std::string text = utf8(narrow);
    std::replace(text.begin(), text.end(), '\\', '/');
    return text;
}

// Decimal text as the builder writes numbers: the launcher reads them with atoi, so only this form
// gives the same bytes back.
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

// A list of tables, one per line, so that long class paths stay readable.
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

bool isIdentifierChar(unsigned char c, bool first) {
    if (c >= 0x80 || c == '_' || c == '$' || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z')) {
        return true;
    }
    return !first && c >= '0' && c <= '9';
}

bool isDottedName(std::string_view name) {
    if (name.empty()) {
        return false;
    }
    for (const std::string& part : splitAt(name, '.')) {
        if (part.empty() || !isIdentifierChar(static_cast<unsigned char>(part[0]), true)) {
            return false;
        }
        for (char c : part) {
            if (!isIdentifierChar(static_cast<unsigned char>(c), false)) {
                return false;
            }
        }
    }
    return true;
}

// --- converters of single ids -------------------------------------------------------------------

std::optional<std::string> readText(const Key& key, const toml::node& value, Encoder& out) {
    std::optional<std::string> text = out.string(value, key.dotted());
    return text ? out.narrow(value, key.dotted(), *text, key.limit) : std::nullopt;
}

void encodeText(const Key& key, const toml::node& value, Encoder& out) {
    if (std::optional<std::string> text = readText(key, value, out)) {
        out.set(key.id, *text, key.dotted(), value.source());
    }
}

std::optional<std::string> decodeText(const Key& key, Decoder& in) {
    const std::string* value = in.narrow(key.id);
    if (!value) {
        return std::nullopt;
    }
    in.take(key.id);
    return tomlString(utf8(*value));
}

void encodeWideText(const Key& key, const toml::node& value, Encoder& out) {
    std::optional<std::string> text = out.string(value, key.dotted());
    if (!text) {
        return;
    }
    std::optional<std::u16string> wide = payload::utf8ToUtf16(*text);
    if (!wide || wide->size() > key.limit) {
        out.error(value.source(), key.dotted(),
                  "is longer than the " + std::to_string(key.limit) + " characters the launcher reads");
        return;
    }
    out.setWide(key.id, *wide, key.dotted(), value.source());
}

std::optional<std::string> decodeWideText(const Key& key, Decoder& in) {
    const std::u16string* value = in.wide(key.id);
    if (!value) {
        return std::nullopt;
    }
    in.take(key.id);
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
    out.set(key.id, toBackslashes(*text), key.dotted(), value.source());
}

std::optional<std::string> decodePath(const Key& key, Decoder& in) {
    const std::string* value = in.narrow(key.id);
    std::optional<std::string> path = value && !value->empty() ? pathText(*value) : std::nullopt;
    if (!path) {
        return std::nullopt;
    }
    in.take(key.id);
    return tomlString(*path);
}

void encodeFlag(const Key& key, const toml::node& value, Encoder& out) {
    if (std::optional<bool> b = out.flag(value, key.dotted())) {
        out.set(key.id, *b ? "1" : "0", key.dotted(), value.source());
    }
}

std::optional<std::string> decodeFlag(const Key& key, Decoder& in) {
    const std::string* value = in.narrow(key.id);
    if (!value || (*value != "1" && *value != "0")) {
        return std::nullopt;
    }
    in.take(key.id);
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
    out.set(key.id, *text, key.dotted(), value.source());
}

std::optional<std::string> decodeVersion(const Key& key, Decoder& in) {
    return decodeText(key, in);
}

// --- keys with a form of their own ----------------------------------------------------------------

void encodeMainClass(const Key& key, const toml::node& value, Encoder& out) {
    std::optional<std::string> text = readText(key, value, out);
    if (!text) {
        return;
    }
    const size_t slash = text->find('/');
    const std::string moduleName = slash == std::string::npos ? "" : text->substr(0, slash);
    const std::string className = slash == std::string::npos ? *text : text->substr(slash + 1);
    // A file name here is a mix-up with the class path, even where it would parse as a class name.
    const bool fileName = text->ends_with(".jar") || text->ends_with(".class") || text->ends_with(".java");
    const bool ok =
        !fileName && isDottedName(className) && (slash == std::string::npos || isDottedName(moduleName));
    if (!ok) {
        std::string suggestion = "write the binary name of the class, identifiers joined by dots";
        if (text->ends_with(".class") || text->ends_with(".java")) {
            suggestion = "leave out the file extension";
        } else if (text->ends_with(".jar")) {
            suggestion = "name the main class here; the jar belongs in application.class_path";
        } else if (std::count(text->begin(), text->end(), '/') > 1 || text->find('\\') != std::string::npos) {
            suggestion = "separate packages with dots; one '/' may only follow a module name";
        }
        out.error(value.source(), key.dotted(),
                  "expected a Java class name such as com.example.Main (or module/class, such as "
                  "app.mod/com.example.Main), found \"" +
                      utf8(*text) + "\"",
                  suggestion);
        return;
    }
    out.set(key.id, *text, key.dotted(), value.source());
    if (slash != std::string::npos) {
        out.set(133, "1", key.dotted(), value.source());
    }
}

std::optional<std::string> decodeMainClass(const Key& key, Decoder& in) {
    const std::string* value = in.narrow(key.id);
    const std::string* module = in.narrow(133);
    if (!value) {
        return std::nullopt;
    }
    const bool hasSlash = value->find('/') != std::string::npos;
    // The named form writes id 133 exactly when the name holds a module.
    if (hasSlash != (module && *module == "1") || (module && *module != "1")) {
        return std::nullopt;
    }
    in.take(key.id);
    if (module) {
        in.take(133);
    }
    return tomlString(utf8(*value));
}

// Class path and module path entries: a kind letter, a required flag and a name, joined by ";".
void encodePathEntries(const Key& key, const toml::node& value, Encoder& out) {
    const toml::array* list = out.array(value, key.dotted());
    if (!list) {
        return;
    }
    std::vector<std::string> entries;
    bool ok = true;
    for (const toml::node& element : *list) {
        const toml::table* entry = element.as_table();
        if (!entry) {
            out.error(element.source(), key.dotted(), "expected an entry table, found a plain value",
                      "write { archive = \"lib/app.jar\" }, { directory = \"lib\", scan = true } or "
                      "{ environment = \"EXTRA_CP\" }");
            ok = false;
            continue;
        }
        if (!out.onlyKeys(*entry, key.dotted(),
                          {"archive", "directory", "environment", "scan", "required"})) {
            ok = false;
            continue;
        }
        const int kinds = (entry->contains("archive") ? 1 : 0) + (entry->contains("directory") ? 1 : 0) +
                          (entry->contains("environment") ? 1 : 0);
        if (kinds != 1) {
            out.error(element.source(), key.dotted(),
                      "an entry names exactly one of archive, directory or environment");
            ok = false;
            continue;
        }
        bool scan = false;
        bool required = false;
        if (const toml::node* node = entry->get("scan")) {
            scan = out.flag(*node, key.dotted() + ".scan").value_or(false);
            if (!entry->contains("directory")) {
                out.error(node->source(), key.dotted(), "scan applies to a directory entry only");
                ok = false;
            }
        }
        if (const toml::node* node = entry->get("required")) {
            required = out.flag(*node, key.dotted() + ".required").value_or(false);
        }
        const char* kindName = entry->contains("archive")     ? "archive"
                               : entry->contains("directory") ? "directory"
                                                              : "environment";
        const toml::node& nameNode = *entry->get(kindName);
        std::optional<std::string> name = out.string(nameNode, key.dotted() + "." + kindName);
        if (name) {
            name = out.narrow(nameNode, key.dotted() + "." + kindName, *name, key.limit);
        }
        if (!name) {
            ok = false;
            continue;
        }
        if (name->empty() || name->find(';') != std::string::npos) {
            out.error(nameNode.source(), key.dotted() + "." + kindName,
                      "expected one non-empty name without ';'", "give each entry a table of its own");
            ok = false;
            continue;
        }
        char letter = 'E';
        if (kindName != std::string_view("environment")) {
            *name = toBackslashes(*name);
            letter = kindName == std::string_view("archive") ? 'A' : (scan ? 'S' : 'D');
            if (required && name->find("${") == std::string::npos) {
                out.requiredArchives.emplace_back(*name, nameNode.source());
            }
        }
        entries.push_back(std::string(1, letter) + (required ? "1" : "0") + *name);
    }
    const std::string text = join(entries, ";");
    if (text.size() > key.limit) {
        out.error(value.source(), key.dotted(),
                  "is " + std::to_string(text.size()) +
                      " characters long written out; the launcher reads at most " + std::to_string(key.limit),
                  "scan a directory instead of naming each archive");
        return;
    }
    if (ok) {
        out.set(key.id, text, key.dotted(), value.source());
    }
}

std::optional<std::string> decodePathEntries(const Key& key, Decoder& in) {
    const std::string* value = in.narrow(key.id);
    if (!value || value->empty()) {
        return std::nullopt;
    }
    std::vector<std::string> tables;
    for (const std::string& entry : splitAt(*value, ';')) {
        if (entry.size() < 3 || (entry[1] != '0' && entry[1] != '1')) {
            return std::nullopt;
        }
        const std::string name = entry.substr(2);
        const std::string required = entry[1] == '1' ? ", required = true" : "";
        std::optional<std::string> path = pathText(name);
        switch (entry[0]) {
        case 'A':
        case 'D':
        case 'S':
            if (!path) {
                return std::nullopt;
            }
            tables.push_back(std::string("{ ") + (entry[0] == 'A' ? "archive" : "directory") + " = " +
                             tomlString(*path) + (entry[0] == 'S' ? ", scan = true" : "") + required + " }");
            break;
        case 'E':
            tables.push_back("{ environment = " + tomlString(utf8(name)) + required + " }");
            break;
        default:
            return std::nullopt;
        }
    }
    in.take(key.id);
    return tomlTableList(tables);
}

// The search sequence: type letters with their text, joined by ";".
void encodeSearch(const Key& key, const toml::node& value, Encoder& out) {
    const toml::array* list = out.array(value, key.dotted());
    if (!list) {
        return;
    }
    out.searchGiven = true;
    out.searchAt = value.source();
    std::vector<std::string> entries;
    bool ok = true;
    for (const toml::node& element : *list) {
        if (auto word = element.value_exact<std::string>()) {
            if (*word == "path" || *word == "registry") {
                entries.push_back(*word == "path" ? "S" : "Y");
                ++out.usableSearchEntries;
                continue;
            }
            std::string suggestion = "known entries: \"path\", \"registry\", { directory = \"jre\" } and "
                                     "{ environment = \"MY_JAVA_HOME\" }";
            if (*word == "previous-installations" || *word == "previous_installations") {
                suggestion = "earlier installations are always searched after the sequence; set "
                             "runtime.previous_installations to the application id";
            } else if (std::string nearest = nearestName(*word, {"path", "registry"}); !nearest.empty()) {
                suggestion = "did you mean \"" + nearest + "\"?";
            }
            out.error(element.source(), key.dotted(), "unknown search entry \"" + *word + "\"", suggestion);
            ok = false;
            continue;
        }
        const toml::table* entry = element.as_table();
        if (!entry) {
            out.error(element.source(), key.dotted(), "expected a search entry (a string or a table)");
            ok = false;
            continue;
        }
        if (!out.onlyKeys(*entry, key.dotted(), {"directory", "environment", "fallback"})) {
            ok = false;
            continue;
        }
        const bool directory = entry->contains("directory");
        if (directory == entry->contains("environment")) {
            out.error(element.source(), key.dotted(),
                      "a search entry names either a directory or an environment variable");
            ok = false;
            continue;
        }
        const char* kindName = directory ? "directory" : "environment";
        const toml::node& nameNode = *entry->get(kindName);
        std::optional<std::string> name = out.string(nameNode, key.dotted() + "." + kindName);
        if (name) {
            name = out.narrow(nameNode, key.dotted() + "." + kindName, *name, key.limit);
        }
        if (!name) {
            ok = false;
            continue;
        }
        if (name->empty() || name->find(';') != std::string::npos) {
            out.error(nameNode.source(), key.dotted() + "." + kindName,
                      "expected a non-empty name without ';'");
            ok = false;
            continue;
        }
        bool fallback = false;
        if (const toml::node* node = entry->get("fallback")) {
            fallback = out.flag(*node, key.dotted() + ".fallback").value_or(false);
            if (!directory) {
                out.error(node->source(), key.dotted(), "fallback applies to a directory entry only");
                ok = false;
            }
        }
        entries.push_back(directory ? std::string(fallback ? "B" : "R") + toBackslashes(*name) : "E" + *name);
        ++out.usableSearchEntries;
    }
    const std::string text = join(entries, ";");
    if (text.size() > key.limit) {
        out.error(value.source(), key.dotted(),
                  "is longer than the " + std::to_string(key.limit) + " characters the launcher reads");
        return;
    }
    if (ok && !entries.empty()) {
        out.set(key.id, text, key.dotted(), value.source());
    }
}

std::optional<std::string> decodeSearch(const Key& key, Decoder& in) {
    const std::string* value = in.narrow(key.id);
    if (!value || value->empty()) {
        return std::nullopt;
    }
    std::vector<std::string> entries;
    for (const std::string& entry : splitAt(*value, ';')) {
        const std::string text = entry.empty() ? "" : entry.substr(1);
        if (entry == "S" || entry == "Y") {
            entries.push_back(entry == "S" ? "\"path\"" : "\"registry\"");
        } else if (entry.size() > 1 && (entry[0] == 'R' || entry[0] == 'B') && pathText(text)) {
            entries.push_back("{ directory = " + tomlString(*pathText(text)) +
                              (entry[0] == 'B' ? ", fallback = true" : "") + " }");
        } else if (entry.size() > 1 && entry[0] == 'E') {
            entries.push_back("{ environment = " + tomlString(utf8(text)) + " }");
        } else {
            return std::nullopt;
        }
    }
    in.take(key.id);
    return tomlList(entries);
}

// A list of texts joined with a separator that no element may hold.
void encodeJoinedList(const Key& key, const toml::node& value, Encoder& out, char separator, bool paths) {
    const toml::array* list = out.array(value, key.dotted());
    if (!list) {
        return;
    }
    std::vector<std::string> parts;
    bool ok = true;
    for (const toml::node& element : *list) {
        std::optional<std::string> text = out.string(element, key.dotted());
        if (text) {
            text = out.narrow(element, key.dotted(), *text, key.limit);
        }
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
        out.error(value.source(), key.dotted(),
                  "is longer than the " + std::to_string(key.limit) + " characters the launcher reads");
        return;
    }
    if (ok && !parts.empty()) {
        out.set(key.id, text, key.dotted(), value.source());
    }
}

std::optional<std::string> decodeJoinedList(const Key& key, Decoder& in, char separator, bool paths) {
    const std::string* value = in.narrow(key.id);
    if (!value || value->empty()) {
        return std::nullopt;
    }
    std::vector<std::string> parts = splitAt(*value, separator);
    std::vector<std::string> quoted;
    for (const std::string& part : parts) {
        std::optional<std::string> text = paths ? pathText(part) : std::optional<std::string>(utf8(part));
        if (part.empty() || !text) {
            return std::nullopt;
        }
        quoted.push_back(tomlString(*text));
    }
    in.take(key.id);
    return tomlList(quoted);
}

// A list of arguments or options written the way the launcher splits them.
std::optional<std::vector<std::string>> readTokens(const Key& key, const toml::node& value, Encoder& out) {
    const toml::array* list = out.array(value, key.dotted());
    if (!list) {
        return std::nullopt;
    }
    std::vector<std::string> tokens;
    bool ok = true;
    for (const toml::node& element : *list) {
        std::optional<std::string> text = out.string(element, key.dotted());
        if (text) {
            text = out.narrow(element, key.dotted(), *text, key.limit);
        }
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
        out.error(value.source(), key.dotted(),
                  "is longer than the " + std::to_string(key.limit) + " characters the launcher reads");
        return;
    }
    out.set(key.id, text, key.dotted(), value.source());
}

std::optional<std::vector<std::string>> tokensOf(const std::string& text) {
    std::vector<std::string> tokens = splitCommandLine(text);
    std::optional<std::string> again = joinCommandLine(tokens);
    if (text.empty() || !again || *again != text) {
        return std::nullopt;
    }
    return tokens;
}

std::optional<std::string> decodeCommandLine(const Key& key, Decoder& in) {
    const std::string* value = in.narrow(key.id);
    std::optional<std::vector<std::string>> tokens = value ? tokensOf(*value) : std::nullopt;
    if (!tokens) {
        return std::nullopt;
    }
    in.take(key.id);
    return tomlStringList(*tokens);
}

void encodeJvmOptions(const Key& key, const toml::node& value, Encoder& out) {
    if (std::optional<std::vector<std::string>> tokens = readTokens(key, value, out)) {
        out.jvmOptions = *tokens;
        out.jvmOptionsAt = value.source();
        out.owners[kJvmOptionsId] = {key.dotted(), value.source()};
    }
}

std::optional<std::string> decodeJvmOptions(const Key&, Decoder& in) {
    if (!in.jvmOptions || in.jvmOptions->empty()) {
        return std::nullopt;
    }
    in.take(kJvmOptionsId);
    return tomlStringList(*in.jvmOptions);
}

void encodeStopTimeout(const Key& key, const toml::node& value, Encoder& out) {
    if (std::optional<int64_t> seconds = out.integer(value, key.dotted(), payload::kMinStopTimeoutSeconds,
                                                     payload::kMaxStopTimeoutSeconds)) {
        out.stopTimeoutOption = std::string(kStopTimeoutOption) + std::to_string(*seconds);
        if (!out.jvmOptionsAt) {
            out.jvmOptionsAt = value.source();
        }
        if (!out.owners.count(kJvmOptionsId)) {
            out.owners[kJvmOptionsId] = {key.dotted(), value.source()};
        }
    }
}

std::optional<std::string> decodeStopTimeout(const Key&, Decoder& in) {
    if (!in.stopTimeout) {
        return std::nullopt;
    }
    in.take(kJvmOptionsId);
    return std::to_string(*in.stopTimeout);
}

void encodeVersionOptions(const Key& key, const toml::node& value, Encoder& out) {
    const toml::array* list = out.array(value, key.dotted());
    if (!list) {
        return;
    }
    if (static_cast<int64_t>(list->size()) > kMostVersionLines) {
        out.error(value.source(), key.dotted(),
                  "holds more than " + std::to_string(kMostVersionLines) + " lines");
        return;
    }
    std::vector<std::pair<std::string, std::string>> lines;
    bool ok = true;
    for (const toml::node& element : *list) {
        const toml::table* line = out.table(element, key.dotted());
        if (!line || !out.onlyKeys(*line, key.dotted(), {"min", "max", "pattern", "options"})) {
            ok = false;
            continue;
        }
        std::string condition;
        if (const toml::node* pattern = line->get("pattern")) {
            std::optional<std::string> text = out.string(*pattern, key.dotted() + ".pattern");
            if (text) {
                text = out.narrow(*pattern, key.dotted() + ".pattern", *text, key.limit);
            }
            if (!text || text->empty() || line->contains("min") || line->contains("max")) {
                if (text) {
                    out.error(element.source(), key.dotted(),
                              "a line matches either a non-empty version pattern or a range min to max");
                }
                ok = false;
                continue;
            }
            condition = "*" + *text;
        } else {
            const toml::node* min = line->get("min");
            const toml::node* max = line->get("max");
            if (!min || !max) {
                out.error(element.source(), key.dotted(),
                          "a line needs min and max (feature versions such as 8 or 17) or a pattern",
                          "write { min = 9, max = 99, options = [...] }");
                ok = false;
                continue;
            }
            std::optional<int64_t> low = out.integer(*min, key.dotted() + ".min", 0, kInt32Max);
            std::optional<int64_t> high = out.integer(*max, key.dotted() + ".max", 0, kInt32Max);
            if (!low || !high) {
                ok = false;
                continue;
            }
            if (*low > *high) {
                out.error(max->source(), key.dotted() + ".max", "is below min, so the line never applies");
                ok = false;
                continue;
            }
            condition = std::to_string(*low) + "-" + std::to_string(*high);
        }
        std::string options;
        if (const toml::node* optionsNode = line->get("options")) {
            std::optional<std::vector<std::string>> tokens = readTokens(key, *optionsNode, out);
            if (!tokens) {
                ok = false;
                continue;
            }
            options = *joinCommandLine(*tokens);
            if (options.size() > key.limit) {
                out.error(optionsNode->source(), key.dotted() + ".options",
                          "is longer than the " + std::to_string(key.limit) +
                              " characters the launcher reads");
                ok = false;
                continue;
            }
        }
        lines.emplace_back(condition, options);
    }
    if (!ok || lines.empty()) {
        return;
    }
    out.set(kVersionLinesId, std::to_string(lines.size()), key.dotted(), value.source());
    for (size_t i = 0; i < lines.size(); ++i) {
        const auto id = static_cast<int32_t>(kVersionLinesId + 1 + 2 * i);
        out.set(id, lines[i].first, key.dotted(), value.source());
        out.set(id + 1, lines[i].second, key.dotted(), value.source());
    }
}

std::optional<std::string> decodeVersionOptions(const Key&, Decoder& in) {
    const std::string* countText = in.narrow(kVersionLinesId);
    std::optional<int64_t> count = countText ? canonicalInteger(*countText) : std::nullopt;
    if (!count || *count < 1 || *count > kMostVersionLines) {
        return std::nullopt;
    }
    std::vector<std::string> lines;
    for (int64_t i = 0; i < *count; ++i) {
        const auto id = static_cast<int32_t>(kVersionLinesId + 1 + 2 * i);
        const std::string* condition = in.narrow(id);
        const std::string* options = in.narrow(id + 1);
        if (!condition || !options) {
            return std::nullopt;
        }
        std::string line = "{ ";
        if (condition->size() > 1 && (*condition)[0] == '*') {
            line += "pattern = " + tomlString(utf8(condition->substr(1)));
        } else {
            const size_t dash = condition->find('-');
            std::optional<int64_t> low =
                dash == std::string::npos ? std::nullopt : canonicalInteger(condition->substr(0, dash));
            std::optional<int64_t> high =
                dash == std::string::npos ? std::nullopt : canonicalInteger(condition->substr(dash + 1));
            if (!low || !high || *low > *high) {
                return std::nullopt;
            }
            line += "min = " + std::to_string(*low) + ", max = " + std::to_string(*high);
        }
        if (!options->empty()) {
            std::optional<std::vector<std::string>> tokens = tokensOf(*options);
            if (!tokens) {
                return std::nullopt;
            }
            line += ", options = " + tomlStringList(*tokens);
        }
        lines.push_back(line + " }");
    }
    for (int64_t i = 0; i <= 2 * *count; ++i) {
        in.take(static_cast<int32_t>(kVersionLinesId + i));
    }
    return tomlTableList(lines);
}

void encodeSplashTexts(const Key& key, const toml::node& value, Encoder& out) {
    const toml::array* list = out.array(value, key.dotted());
    if (!list) {
        return;
    }
    if (list->size() > 4) {
        out.error(value.source(), key.dotted(),
                  "holds " + std::to_string(list->size()) + " texts; the launcher passes four");
        return;
    }
    for (size_t i = 0; i < list->size(); ++i) {
        const toml::table* text = out.table(*list->get(i), key.dotted());
        if (!text || !out.onlyKeys(*text, key.dotted(), {"text", "first", "second"})) {
            continue;
        }
        if (const toml::node* node = text->get("text")) {
            std::optional<std::string> s = out.string(*node, key.dotted() + ".text");
            if (s) {
                s = out.narrow(*node, key.dotted() + ".text", *s, 1999);
            }
            if (s) {
                out.set(kSplashText[i], *s, key.dotted(), node->source());
            }
        }
        const std::pair<const char*, const int32_t*> numbers[] = {{"first", kSplashFirst},
                                                                  {"second", kSplashSecond}};
        for (const auto& [name, ids] : numbers) {
            if (const toml::node* node = text->get(name)) {
                if (std::optional<int64_t> n = out.integer(*node, key.dotted() + "." + name,
                                                           std::numeric_limits<int32_t>::min(), kInt32Max)) {
                    out.set(ids[i], std::to_string(*n), key.dotted(), node->source());
                }
            }
        }
    }
}

std::optional<std::string> decodeSplashTexts(const Key&, Decoder& in) {
    std::vector<std::string> texts;
    size_t last = 0;
    for (size_t i = 0; i < 4; ++i) {
        std::vector<std::string> fields;
        if (const std::string* text = in.narrow(kSplashText[i])) {
            fields.push_back("text = " + tomlString(utf8(*text)));
        }
        const std::pair<const char*, const int32_t*> numbers[] = {{"first", kSplashFirst},
                                                                  {"second", kSplashSecond}};
        for (const auto& [name, ids] : numbers) {
            if (const std::string* number = in.narrow(ids[i])) {
                std::optional<int64_t> n = canonicalInteger(*number);
                if (!n || *n < std::numeric_limits<int32_t>::min() || *n > kInt32Max) {
                    return std::nullopt;
                }
                fields.push_back(std::string(name) + " = " + std::to_string(*n));
            }
        }
        if (!fields.empty()) {
            last = i + 1;
        }
        texts.push_back(fields.empty() ? "{}" : "{ " + join(fields, ", ") + " }");
    }
    if (last == 0) {
        return std::nullopt;
    }
    texts.resize(last);
    for (size_t i = 0; i < last; ++i) {
        in.take(kSplashText[i]);
        in.take(kSplashFirst[i]);
        in.take(kSplashSecond[i]);
    }
    return tomlTableList(texts);
}

void encodeOutputFile(const Key& key, const toml::node& value, Encoder& out) {
    std::optional<std::string> text = readText(key, value, out);
    if (!text) {
        return;
    }
    if (text->empty()) {
        out.error(value.source(), key.dotted(), "expected a file name, found an empty string",
                  "leave the key out to keep the stream unredirected");
        return;
    }
    out.set(key.id - 1, "1", key.dotted(), value.source());
    out.set(key.id, toBackslashes(*text), key.dotted(), value.source());
}

std::optional<std::string> decodeOutputFile(const Key& key, Decoder& in) {
    const std::string* use = in.narrow(key.id - 1);
    if (!use || *use != "1") {
        return std::nullopt;
    }
    std::optional<std::string> path = decodePath(key, in);
    if (path) {
        in.take(key.id - 1);
    }
    return path;
}

void encodeFlavour(const Key& key, const toml::node& value, Encoder& out) {
    std::optional<std::string> text = out.string(value, key.dotted());
    if (!text) {
        return;
    }
    if (*text != "morix" && *text != "vantarock") {
        out.error(value.source(), key.dotted(),
                  "expected \"morix\" or \"vantarock\", found \"" + *text + "\"");
        return;
    }
    out.set(key.id, *text == "morix" ? "e" : "i", key.dotted(), value.source());
}

std::optional<std::string> decodeFlavour(const Key& key, Decoder& in) {
    const std::string* value = in.narrow(key.id);
    if (!value || (*value != "e" && *value != "i")) {
        return std::nullopt;
    }
    in.take(key.id);
    return *value == "e" ? "\"morix\"" : "\"vantarock\"";
}

// Id 107 holds one of: 0 console, 1 GUI (javaw.exe, message boxes), 4 console with automatic service
// start, 5 console with message boxes.
void encodeLauncherType(const Key& key, const toml::node& value, Encoder& out) {
    std::optional<std::string> text = out.string(value, key.dotted());
    if (!text) {
        return;
    }
    if (*text != "console" && *text != "gui") {
        out.error(value.source(), key.dotted(), "expected \"console\" or \"gui\", found \"" + *text + "\"");
        return;
    }
    out.executableType.gui = *text == "gui";
    out.executableType.at = &value;
}

void encodeErrorDialogs(const Key& key, const toml::node& value, Encoder& out) {
    if (std::optional<bool> b = out.flag(value, key.dotted())) {
        out.executableType.errorDialogs = *b;
        out.executableType.at = &value;
    }
}

void encodeServiceStart(const Key& key, const toml::node& value, Encoder& out) {
    std::optional<std::string> text = out.string(value, key.dotted());
    if (!text) {
        return;
    }
    if (*text != "demand" && *text != "auto") {
        out.error(value.source(), key.dotted(), "expected \"demand\" or \"auto\", found \"" + *text + "\"");
        return;
    }
    out.executableType.autoStart = *text == "auto";
    out.executableType.at = &value;
}

std::optional<std::string> decodeExecutableType(const Key& key, Decoder& in) {
    const std::string* value = in.narrow(kExecutableTypeId);
    if (!value) {
        return std::nullopt;
    }
    std::optional<std::string> result;
    if (key.name == "type" && (*value == "0" || *value == "1")) {
        result = *value == "0" ? "\"console\"" : "\"gui\"";
    } else if (key.name == "error_dialogs" && *value == "5") {
        result = "true";
    } else if (key.name == "start" && *value == "4") {
        result = "\"auto\"";
    }
    if (result) {
        in.take(kExecutableTypeId);
    }
    return result;
}

void encodeServiceName(const Key& key, const toml::node& value, Encoder& out) {
    std::optional<std::string> text = readText(key, value, out);
    if (!text) {
        return;
    }
    // The service manager refuses such names at install time; the launcher would still run.
    if (text->empty() || text->size() > 256 || text->find_first_of("/\\") != std::string::npos) {
        out.warning(value.source(), key.dotted(),
                    "Windows accepts service names of 1 to 256 characters without '/' or '\\'; /install "
                    "will fail with this one");
    }
    out.set(key.id, *text, key.dotted(), value.source());
}

std::vector<Key> makeTable() {
    using V = std::vector<int32_t>;
    std::vector<Key> t;
    // [application]
    t.push_back({.section = "application",
                 .name = "main_class",
                 .type = "string",
                 .idsText = "122, 133",
                 .defaultText = "none",
                 .meaning =
                     "The application's main class, a Java binary name. For a class in a named module "
                     "write module/class; that also sets id 133 (the class is loaded from the module path).",
                 .example = "\"com.example.Main\"",
                 .exampleIds = "122=com.example.Main",
                 .ids = V{122, 133},
                 .encode = encodeMainClass,
                 .decode = decodeMainClass,
                 .id = 122});
    t.push_back(
        {.section = "application",
         .name = "class_path",
         .type = "list of entry tables",
         .idsText = "121",
         .defaultText = "empty",
         .meaning = "Class path entries, resolved against the launcher's directory: "
                    "{ archive = \"lib/app.jar\" } a file, { directory = \"classes\" } a directory, "
                    "{ directory = \"lib\", scan = true } every .jar and then every .zip in it, "
                    "{ environment = \"EXTRA_CP\" } the value of a variable. required = true ends "
                    "the launch with message missing_file (or missing_variable) when the entry "
                    "finds nothing. Included .jar files at the top of the temporary directory "
                    "(such as morix-runtime.jar) are added by the launcher itself.",
         .example =
             "[{ archive = \"lib/app.jar\", required = true }, { directory = \"lib/ext\", scan = true }]",
         .exampleIds = "121=A1lib\\app.jar;S0lib\\ext",
         .ids = V{121},
         .encode = encodePathEntries,
         .decode = decodePathEntries,
         .id = 121});
    t.push_back({.section = "application",
                 .name = "module_path",
                 .type = "list of entry tables",
                 .idsText = "132",
                 .defaultText = "empty",
                 .meaning = "Module path entries, in the form of class_path; a scanned directory is put on "
                            "the module path as a whole. With a module path, included archives go to the "
                            "module path and the runtime module is added to --add-modules.",
                 .example = "[{ directory = \"mods\", scan = true }]",
                 .exampleIds = "132=S0mods",
                 .ids = V{132},
                 .encode = encodePathEntries,
                 .decode = decodePathEntries,
                 .id = 132});
    t.push_back({.section = "application",
                 .name = "arguments",
                 .type = "list of strings",
                 .idsText = "124",
                 .defaultText = "none",
                 .meaning = "Arguments that the application's main method receives before those of the "
                            "command line. Variables such as ${launcher:sys.tempDir} are expanded.",
                 .example = "[\"--mode\", \"fast lane\"]",
                 .exampleIds = "124=--mode \"fast lane\"",
                 .ids = V{124},
                 .encode = encodeCommandLine,
                 .decode = decodeCommandLine,
                 .id = 124,
                 .limit = 1999});
    t.push_back({.section = "application",
                 .name = "working_directory",
                 .type = "path",
                 .idsText = "146",
                 .defaultText = "unchanged",
                 .meaning = "The working directory the launcher changes to, relative to its own directory; "
                            "variables are expanded.",
                 .example = "\"data\"",
                 .exampleIds = "146=data",
                 .ids = V{146},
                 .encode = encodePath,
                 .decode = decodePath,
                 .id = 146});
    t.push_back({.section = "application",
                 .name = "installation_directory",
                 .type = "path",
                 .idsText = "10003",
                 .defaultText = "the launcher's directory",
                 .meaning = "The application's installation directory, relative to the launcher's directory; "
                            "the location files .vantarock/pref_jre.cfg and inst_jre.cfg are read below it.",
                 .example = "\"..\"",
                 .exampleIds = "10003=..",
                 .ids = V{10003},
                 .encode = encodePath,
                 .decode = decodePath,
                 .id = 10003});
    t.push_back({.section = "application",
                 .name = "library_path",
                 .type = "list of paths",
                 .idsText = "10004",
                 .defaultText = "none",
                 .meaning = "Directories of the application's native libraries, put in front of PATH (and "
                            "so into java.library.path); relative to the launcher's directory.",
                 .example = "[\"native\", \"lib/win32\"]",
                 .exampleIds = "10004=native;lib\\win32",
                 .ids = V{10004},
                 .encode = [](const Key& k, const toml::node& v,
                              Encoder& o) { encodeJoinedList(k, v, o, ';', true); },
                 .decode = [](const Key& k, Decoder& d) { return decodeJoinedList(k, d, ';', true); },
                 .id = 10004});
    t.push_back({.section = "application",
                 .name = "include_runtime_jar",
                 .type = "boolean",
                 .idsText = "2002, 2003",
                 .defaultText = "true",
                 .meaning = "Include morix-runtime.jar (the Java side every launcher needs) as the first "
                            "included file, so that it is on the class path (or module path) without an "
                            "entry of its own. The jar is taken from runtime_jar, or else from the "
                            "directory of morix-build itself.",
                 .example = "false",
                 .exampleIds = "",
                 .ids = V{},
                 .encode = [](const Key& k, const toml::node& v, Encoder& o) {
                     o.includeRuntimeJar = o.flag(v, k.dotted()).value_or(o.includeRuntimeJar);
                 }});
    t.push_back({.section = "application",
                 .name = "runtime_jar",
                 .type = "path",
                 .idsText = "2002, 2003",
                 .defaultText = "morix-runtime.jar beside morix-build",
                 .meaning = "The morix-runtime.jar to include, relative to the configuration file.",
                 .example = "\"../build/host/bin/morix-runtime.jar\"",
                 .exampleIds = "",
                 .ids = V{},
                 .encode = [](const Key& k, const toml::node& v, Encoder& o) {
                     if (std::optional<std::string> path = o.string(v, k.dotted())) {
                         o.runtimeJarPath = {{*path, v.source()}};
                     }
                 }});
    // [launcher]
    t.push_back({.section = "launcher",
                 .name = "type",
                 .type = "\"console\" or \"gui\"",
                 .idsText = "107",
                 .defaultText = "\"console\"",
                 .meaning =
                     "\"gui\" makes the launcher use javaw.exe, show fatal errors in a message box and "
                     "tell the Java side it is a GUI program (id 107 = 1).",
                 .example = "\"gui\"",
                 .exampleIds = "107=1",
                 .ids = V{107},
                 .encode = encodeLauncherType,
                 .decode = decodeExecutableType,
                 .id = 107});
    t.push_back({.section = "launcher",
                 .name = "error_dialogs",
                 .type = "boolean",
                 .idsText = "107",
                 .defaultText = "false",
                 .meaning =
                     "A console launcher that shows fatal errors in a message box (id 107 = 5). Id 107 "
                     "holds one type, so this excludes service.start = \"auto\".",
                 .example = "true",
                 .exampleIds = "107=5",
                 .ids = V{107},
                 .encode = encodeErrorDialogs,
                 .decode = decodeExecutableType,
                 .id = 107});
    t.push_back({.section = "launcher",
                 .name = "flavour",
                 .type = "\"morix\" or \"vantarock\"",
                 .idsText = "2001",
                 .defaultText = "unset (behaves as morix)",
                 .meaning =
                     "The launcher variant: \"vantarock\" selects the com.vantarock.runtime Java side and "
                     "the installer runtime below the installation directory.",
                 .example = "\"morix\"",
                 .exampleIds = "2001=e",
                 .ids = V{2001},
                 .encode = encodeFlavour,
                 .decode = decodeFlavour,
                 .id = 2001});
    t.push_back({.section = "launcher",
                 .name = "reduce_path",
                 .type = "boolean",
                 .idsText = "10010",
                 .defaultText = "false",
                 .meaning = "Cut PATH down to its entries below the Windows directory before anything runs.",
                 .example = "true",
                 .exampleIds = "10010=1",
                 .ids = V{10010},
                 .encode = encodeFlag,
                 .decode = decodeFlag,
                 .id = 10010});
    t.push_back({.section = "launcher",
                 .name = "ignore_java_option_variables",
                 .type = "boolean",
                 .idsText = "10012",
                 .defaultText = "false",
                 .meaning =
                     "Remove _JAVA_OPTIONS, JDK_JAVA_OPTIONS and JAVA_TOOL_OPTIONS, so that the user's "
                     "environment cannot add JVM options.",
                 .example = "true",
                 .exampleIds = "10012=1",
                 .ids = V{10012},
                 .encode = encodeFlag,
                 .decode = decodeFlag,
                 .id = 10012});
    t.push_back({.section = "launcher",
                 .name = "long_temp_path",
                 .type = "boolean",
                 .idsText = "10009",
                 .defaultText = "false",
                 .meaning = "Use the long form of the temporary directory's path instead of its 8.3 form.",
                 .example = "true",
                 .exampleIds = "10009=1",
                 .ids = V{10009},
                 .encode = encodeFlag,
                 .decode = decodeFlag,
                 .id = 10009});
    // [output]
    t.push_back({.section = "output",
                 .name = "stdout",
                 .type = "path",
                 .idsText = "102, 103",
                 .defaultText = "the console",
                 .meaning = "The file that System.out goes to (the Java side opens it; relative to the "
                            "launcher's directory). The run command keeps the console; run-redirect and "
                            "the service use the file.",
                 .example = "\"logs/out.log\"",
                 .exampleIds = "102=1\n103=logs\\out.log",
                 .ids = V{102, 103},
                 .encode = encodeOutputFile,
                 .decode = decodeOutputFile,
                 .id = 103});
    t.push_back({.section = "output",
                 .name = "stderr",
                 .type = "path",
                 .idsText = "104, 105",
                 .defaultText = "the console",
                 .meaning = "The file that System.err goes to; the same file as stdout shares one stream.",
                 .example = "\"logs/err.log\"",
                 .exampleIds = "104=1\n105=logs\\err.log",
                 .ids = V{104, 105},
                 .encode = encodeOutputFile,
                 .decode = decodeOutputFile,
                 .id = 105});
    t.push_back({.section = "output",
                 .name = "append",
                 .type = "boolean",
                 .idsText = "106",
                 .defaultText = "false",
                 .meaning = "Append to the output files instead of replacing them at each start.",
                 .example = "true",
                 .exampleIds = "106=1",
                 .ids = V{106},
                 .encode = encodeFlag,
                 .decode = decodeFlag,
                 .id = 106});
    // [runtime]
    t.push_back({.section = "runtime",
                 .name = "min_version",
                 .type = "version",
                 .idsText = "126",
                 .defaultText = "no lower bound",
                 .meaning = "The oldest Java runtime accepted, inclusive, compared over its own components "
                            "(1.8 accepts 1.8.0_231).",
                 .example = "\"11\"",
                 .exampleIds = "126=11",
                 .ids = V{126},
                 .encode = encodeVersion,
                 .decode = decodeVersion,
                 .id = 126});
    t.push_back({.section = "runtime",
                 .name = "max_version",
                 .type = "version",
                 .idsText = "127",
                 .defaultText = "no upper bound",
                 .meaning = "The newest Java runtime accepted, inclusive (1.8 accepts every 1.8 update).",
                 .example = "\"17.0.99\"",
                 .exampleIds = "127=17.0.99",
                 .ids = V{127},
                 .encode = encodeVersion,
                 .decode = decodeVersion,
                 .id = 127});
    t.push_back(
        {.section = "runtime",
         .name = "search",
         .type = "list of search entries",
         .idsText = "128",
         .defaultText = "empty",
         .meaning = "Where the launcher looks for a runtime, in order: { directory = \"jre\" } a "
                    "runtime home (relative to the launcher; when no entry qualifies, relative "
                    "directories are tried once more and taken whatever their runtime's version, "
                    "and fallback = true does that for an absolute one too), { environment = "
                    "\"MY_JAVA_HOME\" } a variable holding a home, "
                    "\"path\" java.exe on PATH, \"registry\" the JavaSoft keys and located runtimes. "
                    "Before the sequence the preferred location file is read; after it the installer "
                    "location file, earlier installations, MORIX_JAVA_HOME and VANTAROCK_JAVA_HOME.",
         .example = "[{ directory = \"jre\" }, { environment = \"MY_JAVA_HOME\" }, \"path\", \"registry\"]",
         .exampleIds = "128=Rjre;EMY_JAVA_HOME;S;Y",
         .ids = V{128},
         .encode = encodeSearch,
         .decode = decodeSearch,
         .id = 128});
    t.push_back({.section = "runtime",
                 .name = "allow_beta",
                 .type = "boolean",
                 .idsText = "130",
                 .defaultText = "false",
                 .meaning = "Accept runtimes whose version holds beta, -ea or -rc everywhere.",
                 .example = "true",
                 .exampleIds = "130=1",
                 .ids = V{130},
                 .encode = encodeFlag,
                 .decode = decodeFlag,
                 .id = 130});
    t.push_back({.section = "runtime",
                 .name = "require_jdk",
                 .type = "boolean",
                 .idsText = "131",
                 .defaultText = "false",
                 .meaning = "Accept only a JDK: a home qualifies when it has lib/tools.jar, and the JRE keys "
                            "of the registry are skipped.",
                 .example = "true",
                 .exampleIds = "131=1",
                 .ids = V{131},
                 .encode = encodeFlag,
                 .decode = decodeFlag,
                 .id = 131});
    t.push_back({.section = "runtime",
                 .name = "previous_installations",
                 .type = "string",
                 .idsText = "160",
                 .defaultText = "none (no lookup)",
                 .meaning = "The application id under which earlier installations are recorded in the "
                            "registry; their jre directories are searched after the sequence.",
                 .example = "\"com.example.app\"",
                 .exampleIds = "160=com.example.app",
                 .ids = V{160},
                 .encode = encodeText,
                 .decode = decodeText,
                 .id = 160});
    t.push_back({.section = "runtime",
                 .name = "bundled_only",
                 .type = "boolean",
                 .idsText = "165",
                 .defaultText = "false",
                 .meaning = "The registry entry uses only located runtimes whose path contains vrk_jres (the "
                            "runtimes that installers bundle) and skips the JavaSoft keys.",
                 .example = "true",
                 .exampleIds = "165=1",
                 .ids = V{165},
                 .encode = encodeFlag,
                 .decode = decodeFlag,
                 .id = 165});
    t.push_back({.section = "runtime",
                 .name = "preferred_vm",
                 .type = "string",
                 .idsText = "152",
                 .defaultText = "none",
                 .meaning = "The VM subdirectory of the runtime's bin directory tried first (before client, "
                            "server, j9vm, hotspot, jrockit).",
                 .example = "\"server\"",
                 .exampleIds = "152=server",
                 .ids = V{152},
                 .encode = encodeText,
                 .decode = decodeText,
                 .id = 152,
                 .limit = 199});
    t.push_back(
        {.section = "runtime",
         .name = "add_dll_directories",
         .type = "boolean",
         .idsText = "154",
         .defaultText = "false",
         .meaning = "Also register the runtime's bin directory with AddDllDirectory while jvm.dll loads.",
         .example = "true",
         .exampleIds = "154=1",
         .ids = V{154},
         .encode = encodeFlag,
         .decode = decodeFlag,
         .id = 154});
    // [jvm]
    t.push_back({.section = "jvm",
                 .name = "options",
                 .type = "list of strings",
                 .idsText = "123",
                 .defaultText = "none",
                 .meaning = "JVM options, one per element (an element with spaces stays one option). "
                            "Variables are expanded; \"-include-options\" followed by a file reads more.",
                 .example = "[\"-Xmx512m\", \"-Dapp.title=My App\"]",
                 .exampleIds = "123=-Xmx512m \"-Dapp.title=My App\"",
                 .ids = V{123},
                 .encode = encodeJvmOptions,
                 .decode = decodeJvmOptions,
                 .id = 123});
    t.push_back(
        {.section = "jvm",
         .name = "version_options",
         .type = "list of tables",
         .idsText = "10200-10400",
         .defaultText = "none",
         .meaning = "Options for some runtime versions: { min = 9, max = 99, options = [...] } applies "
                    "to feature versions min to max (1.8 counts as 8), { pattern = \"1.8*\", "
                    "options = [...] } to versions that match (* and ?). Only the first matching "
                    "line is used.",
         .example =
             "[{ min = 9, max = 99, options = [\"--add-opens\", \"java.base/java.lang=ALL-UNNAMED\"] }]",
         .exampleIds = "10200=1\n10201=9-99\n10202=--add-opens java.base/java.lang=ALL-UNNAMED",
         .ids = V{10200},
         .encode = encodeVersionOptions,
         .decode = decodeVersionOptions,
         .id = 10200});
    t.push_back({.section = "jvm",
                 .name = "read_vmoptions",
                 .type = "boolean",
                 .idsText = "166",
                 .defaultText = "false",
                 .meaning =
                     "Read the .vmoptions file beside the launcher (app.vmoptions or app.exe.vmoptions): "
                     "one option per line, # comments.",
                 .example = "true",
                 .exampleIds = "166=1",
                 .ids = V{166},
                 .encode = encodeFlag,
                 .decode = decodeFlag,
                 .id = 166});
    t.push_back({.section = "jvm",
                 .name = "pass_j_arguments",
                 .type = "boolean",
                 .idsText = "125",
                 .defaultText = "false",
                 .meaning = "Command-line arguments beginning with -J become JVM options (without the -J) "
                            "and are not passed to the application.",
                 .example = "true",
                 .exampleIds = "125=1",
                 .ids = V{125},
                 .encode = encodeFlag,
                 .decode = decodeFlag,
                 .id = 125});
    // [splash]
    t.push_back({.section = "splash",
                 .name = "enabled",
                 .type = "boolean",
                 .idsText = "108",
                 .defaultText = "false",
                 .meaning = "Hand the splash-screen text settings to the Java side "
                            "(WinLauncher.initAwtSplashConfig) before main.",
                 .example = "true",
                 .exampleIds = "108=1",
                 .ids = V{108},
                 .encode = encodeFlag,
                 .decode = decodeFlag,
                 .id = 108});
    t.push_back({.section = "splash",
                 .name = "second_flag",
                 .type = "boolean",
                 .idsText = "163",
                 .defaultText = "false",
                 .meaning = "The second boolean argument of initAwtSplashConfig.",
                 .example = "true",
                 .exampleIds = "163=1",
                 .ids = V{163},
                 .encode = encodeFlag,
                 .decode = decodeFlag,
                 .id = 163});
    t.push_back({.section = "splash",
                 .name = "texts",
                 .type = "list of up to 4 tables",
                 .idsText = "10109-10111, 10113-10118, 10120-10122",
                 .defaultText = "empty texts, 0",
                 .meaning = "The four texts of initAwtSplashConfig, each { text = \"...\", first = 0, "
                            "second = 0 } (a text at most 1999 characters).",
                 .example = "[{ text = \"Loading\", first = 10, second = 20 }]",
                 .exampleIds = "10111=Loading\n10109=10\n10110=20",
                 .ids = V{10109, 10110, 10111, 10113, 10114, 10115, 10116, 10117, 10118, 10120, 10121, 10122},
                 .encode = encodeSplashTexts,
                 .decode = decodeSplashTexts,
                 .id = 10111});
    // [service]
    t.push_back({.section = "service",
                 .name = "name",
                 .type = "string",
                 .idsText = "101",
                 .defaultText = "none",
                 .meaning = "The service name (also its display name); a name after a service command "
                            "replaces it.",
                 .example = "\"MyService\"",
                 .exampleIds = "101=MyService",
                 .ids = V{101},
                 .encode = encodeServiceName,
                 .decode = decodeText,
                 .id = 101});
    t.push_back({.section = "service",
                 .name = "description",
                 .type = "string",
                 .idsText = "20017 (wide)",
                 .defaultText = "none",
                 .meaning = "The description that install registers (any Unicode text).",
                 .example = "\"Runs My Application\"",
                 .exampleIds = "w20017=Runs My Application",
                 .ids = V{20017},
                 .encode = encodeWideText,
                 .decode = decodeWideText,
                 .id = 20017});
    t.push_back({.section = "service",
                 .name = "start",
                 .type = "\"demand\" or \"auto\"",
                 .idsText = "107",
                 .defaultText = "\"demand\"",
                 .meaning = "\"auto\" makes the plain /install register automatic start (id 107 = 4); "
                            "/install-auto and /install-demand choose for themselves. Excludes "
                            "launcher.type = \"gui\" and launcher.error_dialogs.",
                 .example = "\"auto\"",
                 .exampleIds = "107=4",
                 .ids = V{107},
                 .encode = encodeServiceStart,
                 .decode = decodeExecutableType,
                 .id = 107});
    t.push_back({.section = "service",
                 .name = "dependencies",
                 .type = "list of strings",
                 .idsText = "149",
                 .defaultText = "none",
                 .meaning = "The services that this service depends on.",
                 .example = "[\"Tcpip\", \"Afd\"]",
                 .exampleIds = "149=Tcpip,Afd",
                 .ids = V{149},
                 .encode = [](const Key& k, const toml::node& v,
                              Encoder& o) { encodeJoinedList(k, v, o, ',', false); },
                 .decode = [](const Key& k, Decoder& d) { return decodeJoinedList(k, d, ',', false); },
                 .id = 149});
    t.push_back({.section = "service",
                 .name = "stop_timeout",
                 .type = "integer (seconds, 1 to 3600)",
                 .idsText = "123",
                 .defaultText = "the Java side's own (20)",
                 .meaning = "How long the Java side waits for the application to end after a stop request; "
                            "adds -Dmorix.stopTimeout=N after the JVM options. The service host ends a child "
                            "that is still running 10 s after that.",
                 .example = "30",
                 .exampleIds = "123=-Dmorix.stopTimeout=30",
                 .ids = V{123},
                 .encode = encodeStopTimeout,
                 .decode = decodeStopTimeout,
                 .id = 123});
    // [instance]
    t.push_back({.section = "instance",
                 .name = "single",
                 .type = "boolean",
                 .idsText = "10005",
                 .defaultText = "false",
                 .meaning = "Admit one running instance: a second start ends at once with exit code 0.",
                 .example = "true",
                 .exampleIds = "10005=1",
                 .ids = V{10005},
                 .encode = encodeFlag,
                 .decode = decodeFlag,
                 .id = 10005});
    t.push_back({.section = "instance",
                 .name = "global",
                 .type = "boolean",
                 .idsText = "158",
                 .defaultText = "false",
                 .meaning = "Count instances across all log-on sessions (Global\\ semaphore) instead of per "
                            "session.",
                 .example = "true",
                 .exampleIds = "158=1",
                 .ids = V{158},
                 .encode = encodeFlag,
                 .decode = decodeFlag,
                 .id = 158});
    t.push_back({.section = "instance",
                 .name = "raise_windows",
                 .type = "boolean",
                 .idsText = "10008",
                 .defaultText = "false",
                 .meaning =
                     "With single, bring the running instance's windows to the front before the second "
                     "start ends.",
                 .example = "true",
                 .exampleIds = "10008=1",
                 .ids = V{10008},
                 .encode = encodeFlag,
                 .decode = decodeFlag,
                 .id = 10008});
    return t;
}

} // namespace

bool Key::sets(int32_t someId) const {
    if (id == kVersionLinesId) {
        return someId >= kVersionLinesId && someId <= kVersionLinesId + 2 * kMostVersionLines;
    }
    return std::find(ids.begin(), ids.end(), someId) != ids.end();
}

const std::vector<Key>& keyTable() {
    static const std::vector<Key> table = makeTable();
    return table;
}

std::vector<std::string> sectionNames() {
    std::vector<std::string> names;
    for (const Key& key : keyTable()) {
        if (std::find(names.begin(), names.end(), key.section) == names.end()) {
            names.emplace_back(key.section);
        }
    }
    return names;
}

const Key* findKey(std::string_view section, std::string_view name) {
    for (const Key& key : keyTable()) {
        if (key.section == section && key.name == name) {
            return &key;
        }
    }
    return nullptr;
}

std::vector<std::string> keyNames(std::string_view section) {
    std::vector<std::string> names;
    for (const Key& key : keyTable()) {
        if (key.section == section) {
            names.emplace_back(key.name);
        }
    }
    return names;
}

const std::vector<MessageKey>& messageKeys() {
    static const std::vector<MessageKey> keys = {
        {1000, "caption", "the caption of the message box", "none"},
        {1005, "registry_runtime", "the runtime found in the registry could not be loaded", "none"},
        {1006, "missing_file", "a required class path or module path entry is missing", "the entry"},
        {1008, "missing_variable", "a required environment variable is not defined", "the variable"},
        {1009, "internal_error",
         "an internal failure: 7 no temporary directory, 11 an included file not created, 16 the "
         "extraction failed, 20 unpack200 not started",
         "the code"},
        {1010, "launcher_class", "the Java side's launcher class is not on the class path", "none"},
        {1011, "main_method", "the launcher class has no main method", "none"},
        {1015, "no_temp_directory", "no usable temporary directory", "none"},
        {1016, "no_runtime", "no suitable Java runtime was found", "the bitness, 32"},
        {1017, "environment_runtime", "the runtime named by an environment variable could not be loaded",
         "the variable"},
        {1019, "directory_runtime", "the runtime in a configured directory could not be loaded",
         "the directory"},
    };
    return keys;
}

const MessageKey* findMessageKey(std::string_view name) {
    for (const MessageKey& key : messageKeys()) {
        if (key.name == name) {
            return &key;
        }
    }
    return nullptr;
}

const MessageKey* findMessageKey(int32_t id) {
    for (const MessageKey& key : messageKeys()) {
        if (key.id == id) {
            return &key;
        }
    }
    return nullptr;
}

void finishSharedIds(Encoder& out) {
    std::vector<std::string> options = out.jvmOptions;
    if (out.stopTimeoutOption) {
        options.push_back(*out.stopTimeoutOption);
    }
    if (!options.empty()) {
        const std::string text = *joinCommandLine(options);
        if (text.size() > 5999) {
            out.error(*out.jvmOptionsAt, "jvm.options",
                      "is " + std::to_string(text.size()) +
                          " characters long written out; the launcher reads at most 5999",
                      "move options into the .vmoptions file (jvm.read_vmoptions)");
        } else {
            out.narrowIds[kJvmOptionsId] = text;
        }
    }
    const ExecutableTypeParts& type = out.executableType;
    if (!type.at) {
        return;
    }
    const bool gui = type.gui.value_or(false);
    const bool autoStart = type.autoStart.value_or(false);
    const bool dialogs = type.errorDialogs.value_or(gui);
    const char* problem = nullptr;
    if (gui && autoStart) {
        problem = "launcher.type = \"gui\" and service.start = \"auto\" exclude each other";
    } else if (gui && !dialogs) {
        problem = "a GUI launcher always shows fatal errors in a message box";
    } else if (autoStart && dialogs) {
        problem = "launcher.error_dialogs and service.start = \"auto\" exclude each other";
    }
    if (problem) {
        out.error(type.at->source(), "launcher.type",
                  std::string(problem) + ": the launcher reads one executable type (id 107)",
                  "/install-auto registers automatic start for any type");
        return;
    }
    out.narrowIds[kExecutableTypeId] = gui ? "1" : autoStart ? "4" : dialogs ? "5" : "0";
    out.owners[kExecutableTypeId] = {"launcher.type", type.at->source()};
}

void prepareSharedIds(Decoder& in) {
    const std::string* options = in.narrow(kJvmOptionsId);
    if (!options) {
        return;
    }
    in.jvmOptions = tokensOf(*options);
    if (in.jvmOptions && !in.jvmOptions->empty()) {
        const std::string& last = in.jvmOptions->back();
        if (last.starts_with(kStopTimeoutOption)) {
            std::optional<int64_t> seconds = canonicalInteger(last.substr(kStopTimeoutOption.size()));
            if (seconds && *seconds >= payload::kMinStopTimeoutSeconds &&
                *seconds <= payload::kMaxStopTimeoutSeconds) {
                in.stopTimeout = seconds;
                in.jvmOptions->pop_back();
            }
        }
    }
}

} // namespace morix::builder
