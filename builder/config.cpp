#include "config.h"
#include "executable_config.h"

#include "morix/text_encoding.h"

#include <toml++/toml.h>

#include <algorithm>
#include <charconv>
#include <fstream>
#include <limits>
#include <sstream>

namespace morix::builder {
namespace {

struct DefaultMessage {
    int32_t id;
    const char16_t* text;
};

// "{0}" is replaced by the launcher with the detail of the failure.
constexpr DefaultMessage kDefaultMessages[] = {
    {1000, u"Application error"},
    {1005, u"The Java runtime found in the registry could not be loaded."},
    {1006, u"A required file of the application is missing: {0}"},
    {1008, u"A required environment variable is not defined: {0}"},
    {1009, u"An internal error occurred (code {0})."},
    {1010, u"The application's launcher class could not be found."},
    {1011, u"The application's launcher class has no main method."},
    {1015, u"No usable temporary directory could be found."},
    {1016, u"No suitable {0}-bit Java runtime was found."},
    {1017, u"The Java runtime named by the environment variable {0} could not be used."},
    {1019, u"The Java runtime in the directory {0} could not be used."},
};

std::optional<int32_t> parseId(std::string_view key) {
    int32_t id = 0;
    const char* end = key.data() + key.size();
    auto [ptr, ec] = std::from_chars(key.data(), end, id);
    if (key.empty() || ec != std::errc() || ptr != end) {
        return std::nullopt;
    }
    return id;
}

// A value as the launcher stores it: text, with numbers and booleans written out.
std::optional<std::string> valueText(const toml::node& node) {
    if (auto s = node.value_exact<std::string>()) {
        return *s;
    }
    if (auto i = node.value_exact<int64_t>()) {
        return std::to_string(*i);
    }
    if (auto b = node.value_exact<bool>()) {
        return std::string(*b ? "1" : "0");
    }
    return std::nullopt;
}

// The launcher writes an included file below its temporary directory and creates only one directory
// level for it: a name it could not place there is refused here, not at the user's first start.
const char* includedNameProblem(const std::string& name) {
    if (name.front() == '\\' || name.find(':') != std::string::npos) {
        return "must be relative";
    }
    if (std::count(name.begin(), name.end(), '\\') > 1) {
        return "may have at most one directory level";
    }
    const size_t slash = name.find('\\');
    for (const std::string& part :
         {name.substr(0, slash), slash == std::string::npos ? "" : name.substr(slash + 1)}) {
        if (part == "." || part == "..") {
            return "may not contain \".\" or \"..\" parts";
        }
    }
    if (name.back() == '\\') {
        return "must name a file";
    }
    return nullptr;
}

class ConfigReader {
public:
    ConfigReader(std::filesystem::path base, std::string& error) : base_(std::move(base)), error_(error) {}

    bool readStrings(const toml::table& table, payload::Payload& out) {
        for (auto&& [key, node] : table) {
            std::optional<int32_t> id = parseId(key.str());
            if (!id) {
                return fail("unknown id syntax '" + std::string(key.str()) + "' in [strings]");
            }
            std::optional<std::string> text = valueText(node);
            if (!text) {
                return fail("[strings] " + std::string(key.str()) + " must be a string, number or boolean");
            }
            std::optional<std::string> narrow = payload::utf8ToCp1252(*text);
            if (!narrow) {
                return fail("[strings] " + std::string(key.str()) +
                            " holds a character that the ANSI code page (Windows-1252) cannot represent; "
                            "use [wide] for such texts");
            }
            out.setString(*id, *narrow);
        }
        return true;
    }

    bool readTexts(const toml::table& table, const std::string& where,
                   std::vector<std::pair<int32_t, std::u16string>>& out) {
        for (auto&& [key, node] : table) {
            std::optional<int32_t> id = parseId(key.str());
            if (!id) {
                return fail("unknown id syntax '" + std::string(key.str()) + "' in " + where);
            }
            std::optional<std::string> text = valueText(node);
            if (!text) {
                return fail(where + " " + std::string(key.str()) + " must be a string, number or boolean");
            }
            std::erase_if(out, [&](const auto& entry) { return entry.first == *id; });
            out.emplace_back(*id, *payload::utf8ToUtf16(*text));
        }
        return true;
    }

    bool readMessages(const toml::array& sets, payload::Payload& out) {
        for (const toml::node& node : sets) {
            const toml::table* set = node.as_table();
            if (!set) {
                return fail("[[messages]] entries must be tables");
            }
            payload::MessageSet messageSet;
            std::optional<std::string> locale = (*set)["locale"].value<std::string>();
            if (!locale) {
                return fail("a [[messages]] entry has no locale");
            }
            std::optional<std::string> narrow = payload::utf8ToCp1252(*locale);
            if (!narrow) {
                return fail("the locale '" + *locale + "' is not plain text");
            }
            messageSet.locale = *narrow;
            for (auto&& [key, value] : *set) {
                if (key.str() != "locale" && key.str() != "texts") {
                    return fail("unknown key '" + std::string(key.str()) + "' in [[messages]]");
                }
            }
            if (const toml::table* texts = (*set)["texts"].as_table()) {
                if (!readTexts(*texts, "[[messages]] " + *locale, messageSet.texts)) {
                    return false;
                }
            }
            out.messageSets.push_back(std::move(messageSet));
        }
        return true;
    }

    bool readFiles(const toml::array& files, payload::Payload& out) {
        for (const toml::node& node : files) {
            const toml::table* entry = node.as_table();
            std::optional<std::string> name = entry ? (*entry)["name"].value<std::string>() : std::nullopt;
            std::optional<std::string> source =
                entry ? (*entry)["source"].value<std::string>() : std::nullopt;
            if (!name || !source) {
                return fail("every [[files]] entry needs a name and a source");
            }
            std::optional<std::string> narrowName = payload::utf8ToCp1252(*name);
            if (!narrowName || narrowName->empty() || narrowName->find(';') != std::string::npos) {
                return fail("the included file name '" + *name +
                            "' must be non-empty Windows-1252 text without ';'");
            }
            std::replace(narrowName->begin(), narrowName->end(), '/', '\\');
            if (const char* problem = includedNameProblem(*narrowName)) {
                return fail("the included file name '" + *name + "' " + problem);
            }
            std::filesystem::path path = base_ / std::filesystem::u8path(*source);
            std::ifstream in(path, std::ios::binary);
            if (!in) {
                return fail("cannot read included file " + path.string());
            }
            std::ostringstream content;
            content << in.rdbuf();
            out.files.push_back({*narrowName, content.str()});
        }
        if (!out.files.empty()) {
            if (out.findString(payload::kIncludedFileCountId) ||
                out.findString(payload::kIncludedFileNamesId)) {
                return fail("ids 2002 and 2003 are set from [[files]]; do not set them in [strings]");
            }
            out.describeIncludedFiles();
        }
        return true;
    }

    bool fail(std::string message) {
        error_ = std::move(message);
        return false;
    }

private:
    std::filesystem::path base_;
    std::string& error_;
};

} // namespace

std::optional<payload::Payload> loadConfig(const std::filesystem::path& file, std::string& error,
                                           ExecutableSettings* executable) {
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        error = "cannot read the file";
        return std::nullopt;
    }
    std::ostringstream text;
    text << in.rdbuf();

    toml::table root;
    try {
        root = toml::parse(text.str(), file.string());
    } catch (const toml::parse_error& e) {
        std::ostringstream message;
        message << "line " << e.source().begin.line << ": " << e.description();
        error = message.str();
        return std::nullopt;
    }
    payload::Payload payload;
    ConfigReader reader(file.parent_path(), error);
    bool defaults = true;
    for (auto&& [key, node] : root) {
        std::string_view name = key.str();
        bool ok = true;
        if (name == "strings" && node.is_table()) {
            ok = reader.readStrings(*node.as_table(), payload);
        } else if (name == "wide" && node.is_table()) {
            ok = reader.readTexts(*node.as_table(), "[wide]", payload.wideStrings);
        } else if (name == "messages" && node.is_array()) {
            ok = reader.readMessages(*node.as_array(), payload);
        } else if (name == "files" && node.is_array()) {
            ok = reader.readFiles(*node.as_array(), payload);
        } else if (name == "executable" && node.is_table()) {
            ExecutableSettings unused;
            ok = readExecutableSettings(*node.as_table(), file.parent_path(),
                                        executable ? *executable : unused, error);
        } else if (name == "default_messages" && node.is_boolean()) {
            defaults = *node.value<bool>();
        } else {
            ok = reader.fail("unknown section or key '" + std::string(name) + "'");
        }
        if (!ok) {
            return std::nullopt;
        }
    }
    if (defaults) {
        addDefaultMessages(payload);
    }
    return payload;
}

void addDefaultMessages(payload::Payload& payload) {
    for (const DefaultMessage& message : kDefaultMessages) {
        if (!payload.findWideString(message.id) && !payload.findString(message.id)) {
            payload.setWideString(message.id, message.text);
        }
    }
}

} // namespace morix::builder
