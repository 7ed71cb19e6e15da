#include "config.h"

#include "encoding.h"
#include "key_converters.h"
#include "key_table.h"
#include "message_keys.h"
#include "messages.h"
#include "zip.h"

#include "morix/config_ids.h"
#include "morix/config_values.h"
#include "morix/payload_format.h"
#include "morix/text_encoding.h"

#include <algorithm>
#include <charconv>
#include <fstream>
#include <map>
#include <sstream>

namespace morix::builder {
namespace {

namespace fs = std::filesystem;

// An icon larger than this is no icon a launcher needs (a 256x256 PNG is well below it).
constexpr size_t kMaxIconFile = 16u << 20;

// Top-level names that are not sections of the key table.
const std::vector<std::string> kSpecialNames = {"ids",      "strings",          "wide",      "files",
                                                "messages", "default_messages", "executable"};

std::optional<int32_t> parseId(std::string_view key) {
    int32_t id = 0;
    const char* end = key.data() + key.size();
    auto [ptr, ec] = std::from_chars(key.data(), end, id);
    if (key.empty() || ec != std::errc() || ptr != end) {
        return std::nullopt;
    }
    return id;
}

// A raw value as the launcher stores it: text, with numbers and booleans written out.
std::optional<std::string> rawText(const toml::node& node) {
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

struct RawEntry {
    int32_t id;
    bool wide;
    std::string value; // UTF-8
    toml::source_region at;
    std::string where;
};

class Reader {
public:
    Reader(std::string fileName, const ReadOptions& options)
        : out_(fileName), fileName_(std::move(fileName)), options_(options) {
        out_.applicationVersion = options.applicationVersion;
    }

    Configuration read(std::string_view text) {
        Configuration result;
        toml::table root;
        try {
            root = toml::parse(text, fileName_);
        } catch (const toml::parse_error& e) {
            result.errors.push_back({fileName_, e.source().begin.line, e.source().begin.column, "",
                                     std::string(e.description()), "the file is not valid TOML"});
            return result;
        }
        for (auto&& [key, node] : root) {
            readTopLevel(key, node);
        }
        finishSharedIds(out_);
        applyRawIds();
        applyMessages();
        readRuntimeJar();
        readFiles();
        readIcon();
        warn();
        result.executable = out_.executable;
        result.versionsGiven = out_.fileVersionGiven && out_.productVersionGiven;
        result.errors = out_.errors();
        result.warnings = out_.warnings();
        if (result.errors.empty()) {
            result.payload = assemble();
        }
        return result;
    }

private:
    void readTopLevel(const toml::key& key, const toml::node& node) {
        const std::string name(key.str());
        const std::vector<std::string> sections = sectionNames();
        if (std::find(sections.begin(), sections.end(), name) != sections.end() ||
            isExecutableSection(name)) {
            if (const toml::table* table = out_.table(node, name)) {
                out_.executable.present = out_.executable.present || isExecutableSection(name);
                readSection(name, *table);
            }
        } else if (name == "strings" || name == "wide") {
            if (const toml::table* table = out_.table(node, name)) {
                readRawTable(*table, name == "wide", "[" + name + "]");
            }
        } else if (name == "ids") {
            if (const toml::table* table = out_.table(node, name)) {
                readRawTable(*table, false, "[ids]");
            }
        } else if (name == "files") {
            filesNode_ = &node;
        } else if (name == "messages") {
            messagesNode_ = &node;
        } else if (name == "default_messages") {
            if (std::optional<bool> b = out_.flag(node, name)) {
                defaultsAt_ = node.source();
                defaults_ = *b;
            }
        } else {
            unknownTopLevel(key, node);
        }
    }

    void unknownTopLevel(const toml::key& key, const toml::node& node) {
        const std::string name(key.str());
        for (const std::string& section : allSectionNames()) {
            if (findKey(section, name)) {
                out_.error(key.source(), name, "unknown section or key", "it belongs in [" + section + "]");
                return;
            }
        }
        std::vector<std::string> known = sectionNames();
        known.insert(known.end(), kSpecialNames.begin(), kSpecialNames.end());
        const std::string nearest = nearestName(name, known);
        if (parseId(name)) {
            out_.error(key.source(), name, "a raw id outside a table", "put raw ids into [ids]");
        } else {
            out_.error(key.source(), name, std::string("unknown ") + (node.is_table() ? "section" : "key"),
                       nearest.empty() ? "known sections: " +
                                             [&] {
                                                 std::string list;
                                                 for (const std::string& k : known) {
                                                     list += (list.empty() ? "" : ", ") + k;
                                                 }
                                                 return list;
                                             }()
                                       : "did you mean '" + nearest + "'?");
        }
    }

    static std::vector<std::string> allSectionNames() {
        std::vector<std::string> names = sectionNames();
        for (const std::string& name : executableSectionNames()) {
            names.push_back(name);
        }
        return names;
    }

    // The keys of a section and the names of its subsections, for "did you mean".
    static std::vector<std::string> knownNames(const std::string& section) {
        std::vector<std::string> names = keyNames(section);
        for (const std::string& name : executableSectionNames()) {
            if (name.starts_with(section + ".")) {
                names.push_back(name.substr(section.size() + 1));
            }
        }
        return names;
    }

    void readSection(const std::string& section, const toml::table& table) {
        out_.sectionsAt[section] = table.source();
        for (auto&& [key, node] : table) {
            if (const Key* row = findKey(section, key.str())) {
                row->encode(*row, node, out_);
                continue;
            }
            const std::string subsection = section + "." + std::string(key.str());
            if (isExecutableSection(subsection)) {
                if (const toml::table* subtable = out_.table(node, subsection)) {
                    readSection(subsection, *subtable);
                }
                continue;
            }
            std::string suggestion;
            for (const std::string& other : allSectionNames()) {
                if (other != section && findKey(other, key.str())) {
                    suggestion = "it belongs in [" + other + "]";
                }
            }
            if (suggestion.empty()) {
                const std::string nearest = nearestName(key.str(), knownNames(section));
                suggestion = nearest.empty() ? "see docs/configuration.md for the keys of [" + section + "]"
                                             : "did you mean '" + nearest + "'?";
            }
            out_.error(key.source(), section + "." + std::string(key.str()), "unknown key", suggestion);
        }
    }

    void readRawTable(const toml::table& table, bool wide, const std::string& where) {
        for (auto&& [key, node] : table) {
            if (where == "[ids]" && key.str() == "wide") {
                if (const toml::table* wideTable = out_.table(node, "ids.wide")) {
                    readRawTable(*wideTable, true, "[ids.wide]");
                }
                continue;
            }
            std::optional<int32_t> id = parseId(key.str());
            if (!id) {
                out_.error(key.source(), std::string(key.str()), "unknown id syntax in " + where,
                           "raw ids are whole numbers such as 122; named keys go into their sections");
                continue;
            }
            std::optional<std::string> text = rawText(node);
            if (!text) {
                out_.error(node.source(), std::string(key.str()),
                           "expected a string, number or boolean in " + where);
                continue;
            }
            raw_.push_back({*id, wide, *text, node.source(), where});
        }
    }

    void applyRawIds() {
        std::map<std::pair<int32_t, bool>, std::string> seen;
        for (const RawEntry& entry : raw_) {
            const std::string key = std::to_string(entry.id);
            if (auto owner = out_.owners.find(entry.id); owner != out_.owners.end()) {
                out_.error(entry.at, key,
                           "id " + key + " is also set by " + owner->second.first + " (line " +
                               std::to_string(owner->second.second.begin.line) + ")",
                           "give either the named key or the raw id");
                continue;
            }
            if (auto earlier = seen.find({entry.id, entry.wide}); earlier != seen.end()) {
                out_.error(entry.at, key,
                           "id " + key + " is given twice, in " + earlier->second + " and " + entry.where);
                continue;
            }
            seen[{entry.id, entry.wide}] = entry.where;
            if (entry.wide) {
                std::optional<std::u16string> text = payload::utf8ToUtf16(entry.value);
                out_.wideIds[entry.id] = text.value_or(u"");
                continue;
            }
            std::optional<std::string> narrow = payload::utf8ToCp1252(entry.value);
            if (!narrow) {
                out_.error(entry.at, key,
                           "holds a character that the ANSI code page (Windows-1252) cannot represent",
                           "use [ids.wide] (or [wide]) for such texts");
                continue;
            }
            out_.narrowIds[entry.id] = *narrow;
        }
    }

    // Reads the texts of a message table: named keys and raw ids.
    std::map<int32_t, std::u16string> messageTexts(const toml::table& table, const std::string& where,
                                                   bool setKeysAllowed) {
        std::map<int32_t, std::u16string> texts;
        for (auto&& [key, node] : table) {
            const std::string name(key.str());
            if (setKeysAllowed && (name == "defaults" || name == "include" || node.is_table())) {
                continue;
            }
            const MessageKey* message = findMessageKey(name);
            std::optional<int32_t> id = message ? std::optional(message->id) : parseId(name);
            if (!id) {
                std::vector<std::string> names;
                for (const MessageKey& m : messageKeys()) {
                    names.emplace_back(m.name);
                }
                const std::string nearest = nearestName(name, names);
                out_.error(key.source(), where + "." + name, "unknown message",
                           nearest.empty() ? "see docs/configuration.md for the message names"
                                           : "did you mean '" + nearest + "'?");
                continue;
            }
            std::optional<std::string> text = out_.string(node, where + "." + name);
            if (!text) {
                continue;
            }
            if (texts.count(*id)) {
                out_.error(key.source(), where + "." + name,
                           "message " + std::to_string(*id) + " is given twice");
                continue;
            }
            // The texts for every language are ids of the configuration, which a raw id may set too.
            if (setKeysAllowed && (out_.narrowIds.count(*id) || out_.wideIds.count(*id))) {
                out_.error(key.source(), where + "." + name,
                           "message " + std::to_string(*id) + " is also set as a raw id",
                           "give either the named message or the raw id");
                continue;
            }
            texts[*id] = payload::utf8ToUtf16(*text).value_or(u"");
        }
        return texts;
    }

    void applyMessages() {
        std::map<std::string, std::map<int32_t, std::u16string>> named;
        if (messagesNode_ && messagesNode_->is_array()) {
            readLegacyMessageSets(*messagesNode_->as_array());
        } else if (messagesNode_) {
            const toml::table* table = out_.table(*messagesNode_, "messages");
            if (table) {
                readNamedMessages(*table, named);
            }
        }
        if (defaults_) {
            const MessageTexts defaults = defaultMessages(out_.narrowIds);
            for (const auto& [id, text] : defaults) {
                if (!out_.narrowIds.count(id) && !out_.wideIds.count(id)) {
                    out_.wideIds[id] = text;
                }
            }
        }
        for (auto& [locale, texts] : named) {
            payload::MessageSet set;
            set.locale = *payload::utf8ToCp1252(locale);
            set.texts.assign(texts.begin(), texts.end());
            messageSets_.push_back(std::move(set));
        }
    }

    void readNamedMessages(const toml::table& table,
                           std::map<std::string, std::map<int32_t, std::u16string>>& named) {
        if (const toml::node* node = table.get("defaults")) {
            if (defaultsAt_) {
                out_.error(node->source(), "messages.defaults", "is also given as default_messages",
                           "keep messages.defaults only");
            }
            defaults_ = out_.flag(*node, "messages.defaults").value_or(defaults_);
        }
        std::vector<std::string> includes;
        if (const toml::node* node = table.get("include")) {
            if (const toml::array* list = out_.array(*node, "messages.include")) {
                for (const toml::node& element : *list) {
                    std::optional<std::string> name = out_.string(element, "messages.include");
                    if (name && !includedMessageSet(*name, {})) {
                        std::string known;
                        for (const std::string& n : includedMessageSetNames()) {
                            known += (known.empty() ? "\"" : ", \"") + n + "\"";
                        }
                        out_.error(element.source(), "messages.include",
                                   "the builder ships no message set \"" + *name + "\"",
                                   "shipped sets: " + known + "; write your own as [messages." + *name + "]");
                    } else if (name) {
                        includes.push_back(*name);
                    }
                }
            }
        }
        for (auto& [id, text] : messageTexts(table, "messages", true)) {
            out_.wideIds[id] = text;
        }
        for (const std::string& name : includes) {
            const MessageTexts shipped = includedMessageSet(name, out_.narrowIds).value_or(MessageTexts{});
            for (const auto& [id, text] : shipped) {
                named[name][id] = text;
            }
        }
        for (auto&& [key, node] : table) {
            if (!node.is_table()) {
                continue;
            }
            const std::string locale(key.str());
            if (!payload::utf8ToCp1252(locale)) {
                out_.error(key.source(), "messages." + locale, "a locale name is plain Windows-1252 text");
                continue;
            }
            // An empty set is still a set of the payload.
            std::map<int32_t, std::u16string>& set = named[locale];
            for (auto& [id, text] : messageTexts(*node.as_table(), "messages." + locale, false)) {
                set[id] = text;
            }
        }
    }

    void readLegacyMessageSets(const toml::array& sets) {
        for (const toml::node& node : sets) {
            const toml::table* set = out_.table(node, "messages");
            if (!set || !out_.onlyKeys(*set, "messages", {"locale", "texts"})) {
                continue;
            }
            std::optional<std::string> locale = (*set)["locale"].value_exact<std::string>();
            std::optional<std::string> narrow = locale ? payload::utf8ToCp1252(*locale) : std::nullopt;
            if (!narrow) {
                out_.error(set->source(), "messages", "a [[messages]] entry needs a locale of plain text");
                continue;
            }
            payload::MessageSet messageSet;
            messageSet.locale = *narrow;
            if (const toml::table* texts = (*set)["texts"].as_table()) {
                for (auto&& [key, value] : *texts) {
                    std::optional<int32_t> id = parseId(key.str());
                    std::optional<std::string> text = rawText(value);
                    if (!id || !text) {
                        out_.error(key.source(), "messages.texts",
                                   "expected ids with texts, such as 1016 = \"...\"");
                        continue;
                    }
                    std::erase_if(messageSet.texts, [&](const auto& entry) { return entry.first == *id; });
                    messageSet.texts.emplace_back(*id, *payload::utf8ToUtf16(*text));
                }
            }
            messageSets_.push_back(std::move(messageSet));
        }
    }

    void readRuntimeJar() {
        if (!out_.includeRuntimeJar) {
            return;
        }
        std::optional<fs::path> path = options_.runtimeJar;
        toml::source_region at;
        if (out_.runtimeJarPath) {
            path = options_.base / fs::u8path(out_.runtimeJarPath->first);
            at = out_.runtimeJarPath->second;
        }
        std::optional<std::string> content =
            path && options_.readFile ? options_.readFile(*path) : std::nullopt;
        if (!content) {
            out_.error(
                at, "application.runtime_jar",
                path ? "cannot read " + path->string()
                     : std::string("no morix-runtime.jar beside morix-build"),
                "every launcher needs the Java side; set application.runtime_jar to morix-runtime.jar, or "
                "application.include_runtime_jar = false and put it on the class path yourself");
            return;
        }
        files_.push_back({std::string(kRuntimeJarName), *content});
    }

    void readFiles() {
        if (!filesNode_) {
            return;
        }
        const toml::array* files = out_.array(*filesNode_, "files");
        if (!files) {
            return;
        }
        for (const toml::node& node : *files) {
            if (std::optional<payload::IncludedFile> file = readFileEntry(node)) {
                files_.push_back(std::move(*file));
            }
        }
        if (!files_.empty()) {
            for (int32_t id : {ids::kIncludedFileCount, ids::kIncludedFileNames}) {
                if (out_.narrowIds.count(id)) {
                    out_.error(filesNode_->source(), "files",
                               "ids " + std::to_string(ids::kIncludedFileCount) + " and " +
                                   std::to_string(ids::kIncludedFileNames) +
                                   " are set from [[files]]; do not set them as raw ids");
                    break;
                }
            }
        }
    }

    // One [[files]] entry: its name as the launcher writes it and its source's content; none after a
    // finding.
    std::optional<payload::IncludedFile> readFileEntry(const toml::node& node) {
        const toml::table* entry = out_.table(node, "files");
        if (!entry || !out_.onlyKeys(*entry, "files", {"name", "source"})) {
            return std::nullopt;
        }
        const toml::node* nameNode = entry->get("name");
        const toml::node* sourceNode = entry->get("source");
        if (!nameNode || !sourceNode) {
            out_.error(entry->source(), "files", "every [[files]] entry needs a name and a source");
            return std::nullopt;
        }
        std::optional<std::string> name = out_.string(*nameNode, "files.name");
        std::optional<std::string> source = out_.string(*sourceNode, "files.source");
        std::optional<std::string> narrowName =
            name && source ? includedName(*nameNode, *name) : std::nullopt;
        if (!narrowName) {
            return std::nullopt;
        }
        const fs::path path = options_.base / fs::u8path(*source);
        std::optional<std::string> content = options_.readFile ? options_.readFile(path) : std::nullopt;
        if (!content) {
            out_.error(sourceNode->source(), "files.source", "cannot read the included file " + path.string(),
                       "a source is relative to the configuration file's directory");
            return std::nullopt;
        }
        return payload::IncludedFile{*narrowName, *content};
    }

    // An included file's name in the form the launcher writes it (backslashes, Windows-1252), when the
    // launcher can place it and no other file has it; none after a finding.
    std::optional<std::string> includedName(const toml::node& nameNode, const std::string& name) {
        std::optional<std::string> narrowName = payload::utf8ToCp1252(name);
        if (!narrowName || narrowName->empty() || narrowName->find(kListSeparator) != std::string::npos) {
            out_.error(nameNode.source(), "files.name",
                       "the included file name '" + name +
                           "' must be non-empty Windows-1252 text without ';'");
            return std::nullopt;
        }
        std::replace(narrowName->begin(), narrowName->end(), '/', '\\');
        if (const char* problem = payload::includedNameProblem(*narrowName)) {
            out_.error(nameNode.source(), "files.name", "the included file name '" + name + "' " + problem,
                       "names are relative to the launcher's temporary directory, such as lib/app.jar");
            return std::nullopt;
        }
        if (std::any_of(files_.begin(), files_.end(), [&](const auto& f) { return f.name == *narrowName; })) {
            out_.error(nameNode.source(), "files.name", "the included file name '" + name + "' is used twice",
                       *narrowName == kRuntimeJarName
                           ? "morix-runtime.jar is included by default; set "
                             "application.include_runtime_jar = false to give your own"
                           : "");
            return std::nullopt;
        }
        return narrowName;
    }

    // The icon is read now, so that a bad one stops the build before anything is written.
    void readIcon() {
        if (!out_.iconAt) {
            return;
        }
        const fs::path path = options_.base / fs::u8path(out_.executable.iconFile);
        std::optional<std::string> content = options_.readFile ? options_.readFile(path) : std::nullopt;
        if (!content) {
            out_.error(*out_.iconAt, "executable.icon", "cannot read " + path.string(),
                       "an icon is relative to the configuration file's directory");
            return;
        }
        if (content->size() > kMaxIconFile) {
            out_.error(*out_.iconAt, "executable.icon", path.string() + " is larger than 16 MB");
            return;
        }
        std::string problem;
        std::optional<std::vector<payload::IconImage>> images = payload::parseIcoFile(*content, &problem);
        if (!images) {
            out_.error(*out_.iconAt, "executable.icon", path.string() + " is " + problem);
            return;
        }
        out_.executable.icon = std::move(*images);
    }

    // The main class's file name in an archive, or none when the class is left to a module's descriptor.
    std::optional<std::string> mainClassFile() const {
        const auto mainClass = out_.narrowIds.find(ids::kMainClass);
        if (mainClass == out_.narrowIds.end() || mainClass->second.empty()) {
            return std::nullopt;
        }
        std::string name = payload::cp1252ToUtf8(mainClass->second);
        const auto inModule = out_.narrowIds.find(ids::kMainClassInModule);
        if (inModule != out_.narrowIds.end() && inModule->second != "0") {
            const size_t slash = name.find('/');
            if (slash == std::string::npos) {
                return std::nullopt;
            }
            name.erase(0, slash + 1);
        }
        std::replace(name.begin(), name.end(), '.', '/');
        return name + ".class";
    }

    // The archives of the class and module paths as the configuration lists them; none when an entry
    // is a directory or a variable, whose contents are known only at run time.
    std::optional<std::vector<std::string>> listedArchives() const {
        std::vector<std::string> archives;
        for (int32_t id : {ids::kClassPath, ids::kModulePath}) {
            const auto value = out_.narrowIds.find(id);
            for (const std::string& entry : value == out_.narrowIds.end()
                                                ? std::vector<std::string>{}
                                                : splitAt(value->second, kListSeparator)) {
                if (entry.size() <= path_entry::kNameOffset || entry[0] != path_entry::kArchive ||
                    entry.find("${") != std::string::npos) {
                    return std::nullopt;
                }
                archives.push_back(entry.substr(path_entry::kNameOffset));
            }
        }
        return archives;
    }

    static bool endsWithArchiveName(const std::string& name) {
        return name.ends_with(".jar") || name.ends_with(".zip") || name.ends_with(".JAR") ||
               name.ends_with(".ZIP");
    }

    static bool archiveHolds(const std::string& content, const std::string& classFile) {
        std::istringstream in(content);
        std::optional<std::vector<std::string>> names = zipEntryNames(in);
        // An archive this reader does not understand may hold it.
        return !names || std::any_of(names->begin(), names->end(), [&](const std::string& name) {
            return name == classFile ||
                   (name.starts_with("META-INF/versions/") && name.ends_with("/" + classFile));
        });
    }

    // When every listed archive is there and none holds the main class, the launcher would end with the
    // Java side's "not found": said at build time.
    void warnAboutMainClass() {
        const std::optional<std::string> classFile = mainClassFile();
        const std::optional<std::vector<std::string>> archives = listedArchives();
        if (!classFile || !archives || archives->empty() || !options_.readFile) {
            return;
        }
        for (const payload::IncludedFile& file : files_) {
            // The Java side's own jar holds no application class.
            if (file.name.find('\\') == std::string::npos && file.name != kRuntimeJarName &&
                endsWithArchiveName(file.name) && archiveHolds(file.content, *classFile)) {
                return;
            }
        }
        std::string searched;
        for (const std::string& name : *archives) {
            std::string relative = payload::cp1252ToUtf8(name);
            std::replace(relative.begin(), relative.end(), '\\', '/');
            const std::optional<std::string> content =
                options_.readFile(options_.base / fs::u8path(relative));
            if (!content || archiveHolds(*content, *classFile)) {
                return;
            }
            searched += (searched.empty() ? "" : ", ") + relative;
        }
        std::string className = classFile->substr(0, classFile->size() - std::string_view(".class").size());
        std::replace(className.begin(), className.end(), '/', '.');
        const auto owner = out_.owners.find(ids::kMainClass);
        out_.warning(owner != out_.owners.end() ? owner->second.second : toml::source_region{},
                     "application.main_class",
                     className + " is in none of the listed archives (" + searched +
                         "); the application would end at its start with exit code 1",
                     "check the class name, or list the archive that holds it");
    }

    void warn() {
        warnAboutMainClass();
        if (options_.fileExists) {
            for (const auto& [name, at] : out_.requiredArchives) {
                std::string relative = name;
                std::replace(relative.begin(), relative.end(), '\\', '/');
                if (!options_.fileExists(options_.base / fs::u8path(payload::cp1252ToUtf8(relative)))) {
                    out_.warning(at, "application.class_path",
                                 "the required entry " + payload::cp1252ToUtf8(name) +
                                     " is not there relative to the configuration; the launcher ends with "
                                     "message missing_file unless it is installed beside the launcher");
                }
            }
        }
        const bool serviceName = out_.narrowIds.count(ids::kServiceName) != 0;
        const auto type = out_.narrowIds.find(ids::kExecutableType);
        const bool autoStart = type != out_.narrowIds.end() &&
                               type->second == std::to_string(executable_type::kAutoStartService);
        const toml::source_region* service = out_.sectionAt("service");
        if (!serviceName && (service || autoStart)) {
            out_.warning(service ? *service : toml::source_region{}, "service.name",
                         "a service configuration without a service name; /install and the service need one "
                         "on their command line",
                         "set service.name");
        }
        const bool bounded = out_.narrowIds.count(ids::kMinVersion) || out_.narrowIds.count(ids::kMaxVersion);
        if (bounded && !out_.relativeSearchAt.empty()) {
            out_.warning(out_.relativeSearchAt.front(), "runtime.search",
                         "a relative directory is taken whatever its runtime's version when no entry meets "
                         "runtime.min_version and runtime.max_version",
                         "add fallback = false to hold it to the bounds, or fallback = true to say that "
                         "any version there will do");
        }
        const auto sequence = out_.narrowIds.find(ids::kSearchSequence);
        if (sequence == out_.narrowIds.end() || sequence->second.empty()) {
            out_.warning(
                out_.searchAt.value_or(toml::source_region{}), "runtime.search",
                "no search entry could find a Java runtime; only MORIX_JAVA_HOME, the location files "
                "and earlier installations are looked at",
                "add runtime.search = [{ directory = \"jre\" }, \"registry\"] or similar");
        }
    }

    payload::Payload assemble() {
        payload::Payload p;
        for (auto& [id, value] : out_.narrowIds) {
            p.strings.emplace_back(id, value);
        }
        for (auto& [id, value] : out_.wideIds) {
            p.wideStrings.emplace_back(id, value);
        }
        p.messageSets = messageSets_;
        p.files = files_;
        if (!p.files.empty()) {
            p.describeIncludedFiles();
            // describeIncludedFiles appends; the builder keeps its ids in order.
            std::stable_sort(p.strings.begin(), p.strings.end(),
                             [](const auto& a, const auto& b) { return a.first < b.first; });
        }
        return p;
    }

    Encoder out_;
    std::string fileName_;
    const ReadOptions& options_;
    std::vector<RawEntry> raw_;
    const toml::node* filesNode_ = nullptr;
    const toml::node* messagesNode_ = nullptr;
    bool defaults_ = true;
    std::optional<toml::source_region> defaultsAt_;
    std::vector<payload::MessageSet> messageSets_;
    std::vector<payload::IncludedFile> files_;
};

std::optional<std::string> readWholeFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return std::nullopt;
    }
    std::ostringstream content;
    content << in.rdbuf();
    if (in.bad()) {
        return std::nullopt;
    }
    return content.str();
}

} // namespace

Configuration readConfiguration(std::string_view fileName, std::string_view text,
                                const ReadOptions& options) {
    Reader reader{std::string(fileName), options};
    return reader.read(text);
}

ReadOptions diskReadOptions(const fs::path& base, const std::optional<fs::path>& runtimeJar) {
    ReadOptions options;
    options.base = base;
    options.readFile = readWholeFile;
    options.fileExists = [](const fs::path& path) {
        std::error_code ec;
        return fs::exists(path, ec);
    };
    options.runtimeJar = runtimeJar;
    return options;
}

Configuration loadConfiguration(const fs::path& file, const std::optional<fs::path>& runtimeJar) {
    std::optional<std::string> text = readWholeFile(file);
    if (!text) {
        Configuration result;
        result.errors.push_back({file.string(), 0, 0, "", "cannot read the file", ""});
        return result;
    }
    return readConfiguration(file.string(), *text, diskReadOptions(file.parent_path(), runtimeJar));
}

} // namespace morix::builder
