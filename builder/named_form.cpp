#include "named_form.h"

#include "config.h"
#include "key_table.h"
#include "message_keys.h"
#include "messages.h"

#include "morix/config_ids.h"
#include "morix/executable_resources.h"
#include "morix/payload_format.h"
#include "morix/text_encoding.h"

#include <algorithm>
#include <map>
#include <set>

namespace morix::builder {
namespace {

using NarrowIds = std::map<int32_t, std::string>;
using WideIds = std::map<int32_t, std::u16string>;

std::string slashed(std::string name) {
    std::replace(name.begin(), name.end(), '\\', '/');
    return name;
}

bool isBareKey(std::string_view name) {
    return !name.empty() && std::all_of(name.begin(), name.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
               c == '-';
    });
}

std::string tomlKey(const std::string& utf8) {
    return isBareKey(utf8) ? utf8 : tomlString(utf8);
}

std::string messageName(int32_t id) {
    const MessageKey* key = findMessageKey(id);
    return key ? std::string(key->name) : std::to_string(id);
}

class Writer {
public:
    Writer(const payload::Payload& p, const std::optional<std::string>& runtimeJar,
           const ExecutableSettings* executable)
        : p_(p), runtimeJar_(runtimeJar), executable_(executable) {
        for (const auto& [id, value] : p.strings) {
            narrow_[id] = value;
        }
        for (const auto& [id, value] : p.wideStrings) {
            wide_[id] = value;
        }
    }

    NamedForm write() {
        NamedForm form;
        notes(form);
        // Keys whose decoded form does not give their ids back are left to [ids]; each round adds at
        // least one such key, so the rounds are bounded by the table.
        std::set<const Key*> rawOnly;
        for (size_t round = 0; round <= keyTable().size(); ++round) {
            form.text = text(rawOnly);
            Configuration rebuilt = rebuild(form.text);
            if (!rebuilt.payload) {
                form.notes.push_back("the named form was not accepted by the builder");
                return form;
            }
            std::set<int32_t> differing = differingIds(*rebuilt.payload);
            size_t before = rawOnly.size();
            for (const Key& key : keyTable()) {
                for (int32_t id : differing) {
                    if (key.decode && key.sets(id)) {
                        rawOnly.insert(&key);
                    }
                }
            }
            if (rawOnly.size() == before) {
                form.exact = payload::serialize(*rebuilt.payload) == payload::serialize(p_);
                if (executable_ && rebuilt.executable != *executable_) {
                    form.exact = false;
                    form.notes.push_back(
                        "the [executable] table does not give the launcher's resources back");
                }
                break;
            }
        }
        if (!form.exact && form.notes.empty()) {
            form.notes.push_back("the payload's entries are not in the order the builder writes them");
        }
        return form;
    }

private:
    void notes(NamedForm& form) const {
        if (narrow_.size() != p_.strings.size() || wide_.size() != p_.wideStrings.size()) {
            form.notes.push_back("the payload repeats ids; only the value the launcher uses is written");
        }
        if (p_.reserved1 != 0 || p_.reserved2 != 0 || p_.reserved3 != 0) {
            form.notes.push_back("the payload's reserved header fields are not 0");
        }
        for (const payload::IncludedFile& file : p_.files) {
            if (payload::includedNameProblem(file.name)) {
                form.notes.push_back("the included file " + payload::cp1252ToUtf8(file.name) +
                                     " has a name the builder refuses; it is left out");
            }
        }
    }

    // Whether the first included file is the default morix-runtime.jar, which the named form leaves to
    // the builder instead of listing it under [[files]].
    bool runtimeJarIsDefault() const {
        return !p_.files.empty() && p_.files[0].name == kRuntimeJarName && runtimeJar_ &&
               p_.files[0].content == *runtimeJar_;
    }

    std::string text(const std::set<const Key*>& rawOnly) const {
        Decoder in(narrow_, wide_);
        if (filesDescribed()) {
            in.take(ids::kIncludedFileCount);
            in.take(ids::kIncludedFileNames);
        }
        prepareSharedIds(in);
        std::string out =
            "# The named configuration of a launcher's payload (morix-build inspect --format toml).\n"
            "# Included files are read from their names, relative to this file.\n";
        for (const std::string& section : sectionNames()) {
            std::string lines;
            for (const Key& key : keyTable()) {
                if (key.section != section) {
                    continue;
                }
                if (key.name == "include_runtime_jar" && !runtimeJarIsDefault()) {
                    lines += "include_runtime_jar = false\n";
                }
                if (!key.decode || rawOnly.count(&key)) {
                    continue;
                }
                if (std::optional<std::string> value = key.decode(key, in)) {
                    lines += std::string(key.name) + " = " + *value + "\n";
                }
            }
            if (!lines.empty()) {
                out += "\n[" + section + "]\n" + lines;
            }
        }
        out += executable();
        out += messages(in);
        out += files();
        out += rawIds(in);
        return out;
    }

    bool filesDescribed() const {
        payload::Payload described;
        described.files = p_.files;
        described.describeIncludedFiles();
        return !p_.files.empty() && narrow_.count(ids::kIncludedFileCount) &&
               narrow_.at(ids::kIncludedFileCount) == *described.findString(ids::kIncludedFileCount) &&
               narrow_.count(ids::kIncludedFileNames) &&
               narrow_.at(ids::kIncludedFileNames) == *described.findString(ids::kIncludedFileNames);
    }

    // The [executable] table and its subtables, through the same keys that read them.
    std::string executable() const {
        if (!executable_) {
            return "";
        }
        Decoder in(narrow_, wide_);
        in.executable = executable_;
        std::string out;
        for (const std::string& section : executableSectionNames()) {
            std::string lines;
            for (const Key& key : executableKeyTable()) {
                if (key.section == section) {
                    if (std::optional<std::string> value = key.decode(key, in)) {
                        lines += std::string(key.name) + " = " + *value + "\n";
                    }
                }
            }
            if (!lines.empty()) {
                out += "\n[" + section + "]\n" + lines;
            }
        }
        return out;
    }

    std::string messages(Decoder& in) const {
        std::string lines;
        const MessageTexts defaults = defaultMessages(narrow_);
        const bool allPresent = std::all_of(defaults.begin(), defaults.end(), [&](const auto& d) {
            return narrow_.count(d.first) || wide_.count(d.first);
        });
        if (!allPresent) {
            lines += "defaults = false\n";
        }
        std::vector<std::string> includes;
        std::string sets;
        for (const payload::MessageSet& set : p_.messageSets) {
            std::map<int32_t, std::u16string> texts(set.texts.begin(), set.texts.end());
            const std::string locale = payload::cp1252ToUtf8(set.locale);
            if (std::optional<MessageTexts> shipped = includedMessageSet(locale, narrow_)) {
                const bool all = std::all_of(shipped->begin(), shipped->end(), [&](const auto& t) {
                    auto it = texts.find(t.first);
                    return it != texts.end() && it->second == t.second;
                });
                if (all) {
                    includes.push_back(tomlString(locale));
                    for (const auto& t : *shipped) {
                        texts.erase(t.first);
                    }
                }
            }
            if (texts.empty() && !includes.empty() && includes.back() == tomlString(locale)) {
                continue;
            }
            sets += "\n[messages." + tomlKey(locale) + "]\n";
            for (const auto& [id, text] : texts) {
                sets += messageName(id) + " = " + tomlString(payload::utf16ToUtf8(text)) + "\n";
            }
        }
        if (!includes.empty()) {
            lines += "include = [";
            for (size_t i = 0; i < includes.size(); ++i) {
                lines += (i == 0 ? "" : ", ") + includes[i];
            }
            lines += "]\n";
        }
        for (const MessageKey& key : messageKeys()) {
            const std::u16string* text = in.wide(key.id);
            if (!text) {
                continue;
            }
            in.take(key.id);
            auto standard = std::find_if(defaults.begin(), defaults.end(),
                                         [&](const auto& d) { return d.first == key.id; });
            if (allPresent && standard != defaults.end() && standard->second == *text) {
                continue;
            }
            lines += std::string(key.name) + " = " + tomlString(payload::utf16ToUtf8(*text)) + "\n";
        }
        if (lines.empty() && sets.empty()) {
            return "";
        }
        return "\n[messages]\n" + lines + sets;
    }

    std::string files() const {
        std::string out;
        for (size_t i = runtimeJarIsDefault() ? 1 : 0; i < p_.files.size(); ++i) {
            const payload::IncludedFile& file = p_.files[i];
            if (payload::includedNameProblem(file.name)) {
                continue;
            }
            const std::string name = tomlString(slashed(payload::cp1252ToUtf8(file.name)));
            out += "\n[[files]]\nname = " + name + "\nsource = " + name + "\n";
        }
        return out;
    }

    std::string rawIds(const Decoder& in) const {
        std::string narrowLines;
        for (const auto& [id, value] : narrow_) {
            if (!in.taken(id)) {
                narrowLines += std::to_string(id) + " = " + tomlString(payload::cp1252ToUtf8(value)) + "\n";
            }
        }
        std::string wideLines;
        for (const auto& [id, value] : wide_) {
            if (!in.taken(id)) {
                wideLines += std::to_string(id) + " = " + tomlString(payload::utf16ToUtf8(value)) + "\n";
            }
        }
        std::string out;
        if (!narrowLines.empty()) {
            out += "\n[ids]                     # raw ids: values that no named key gives back exactly\n" +
                   narrowLines;
        }
        if (!wideLines.empty()) {
            out += "\n[ids.wide]\n" + wideLines;
        }
        return out;
    }

    Configuration rebuild(const std::string& text) const {
        ReadOptions options;
        options.runtimeJar = std::filesystem::path(std::string(kRuntimeJarName));
        options.readFile = [this](const std::filesystem::path& path) -> std::optional<std::string> {
            if (path == std::filesystem::path(std::string(kRuntimeJarName)) && runtimeJar_) {
                if (runtimeJarIsDefault()) {
                    return runtimeJar_;
                }
            }
            for (const payload::IncludedFile& file : p_.files) {
                if (path.generic_string() == slashed(payload::cp1252ToUtf8(file.name))) {
                    return file.content;
                }
            }
            if (executable_ && !executable_->icon.empty() && path.generic_string() == executable_->iconFile) {
                return payload::buildIcoFile(executable_->icon);
            }
            return std::nullopt;
        };
        return readConfiguration("inspect", text, options);
    }

    std::set<int32_t> differingIds(const payload::Payload& rebuilt) const {
        NarrowIds narrow;
        WideIds wide;
        for (const auto& [id, value] : rebuilt.strings) {
            narrow[id] = value;
        }
        for (const auto& [id, value] : rebuilt.wideStrings) {
            wide[id] = value;
        }
        std::set<int32_t> ids;
        for (const NarrowIds* map : {&narrow_, static_cast<const NarrowIds*>(&narrow)}) {
            for (const auto& [id, value] : *map) {
                if (narrow.count(id) == 0 || narrow_.count(id) == 0 || narrow.at(id) != narrow_.at(id)) {
                    ids.insert(id);
                }
            }
        }
        for (const WideIds* map : {&wide_, static_cast<const WideIds*>(&wide)}) {
            for (const auto& [id, value] : *map) {
                if (wide.count(id) == 0 || wide_.count(id) == 0 || wide.at(id) != wide_.at(id)) {
                    ids.insert(id);
                }
            }
        }
        return ids;
    }

    const payload::Payload& p_;
    const std::optional<std::string>& runtimeJar_;
    const ExecutableSettings* executable_;
    NarrowIds narrow_;
    WideIds wide_;
};

} // namespace

NamedForm namedForm(const payload::Payload& payload, const std::optional<std::string>& runtimeJar,
                    const ExecutableSettings* executable) {
    return Writer(payload, runtimeJar, executable).write();
}

} // namespace morix::builder
