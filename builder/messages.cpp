#include "messages.h"

#include "message_keys.h"

#include "morix/config_ids.h"
#include "morix/config_values.h"
#include "morix/message_ids.h"
#include "morix/text_encoding.h"

namespace morix::builder {
namespace {

// The phrases of one language that fill the no_runtime text, and where its message texts are.
struct Language {
    const char* atLeast; // the version bounds: {1} the minimum, {2} the maximum
    const char* atMost;
    const char* between;
    const char* directory;
    const char* environment;
    const char* path;
    const char* registry;
    const char* always;
    std::string_view MessageKey::*text;
};

const Language kEnglish = {
    "version {1} or later",
    "version {2} or earlier",
    "a version from {1} to {2}",
    "the directory {1}",
    "the directory named by the variable {1}",
    "java.exe on PATH",
    "the Windows registry",
    "MORIX_JAVA_HOME",
    &MessageKey::english,
};

const Language kGerman = {
    "Version {1} oder neuer",
    "Version {2} oder älter",
    "eine Version von {1} bis {2}",
    "das Verzeichnis {1}",
    "das Verzeichnis aus der Variablen {1}",
    "java.exe im PATH",
    "die Windows-Registrierung",
    "MORIX_JAVA_HOME",
    &MessageKey::german,
};

std::string replaced(std::string text, const std::string& what, const std::string& with) {
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + with.size())) {
        text.replace(at, what.size(), with);
    }
    return text;
}

std::string value(const std::map<int32_t, std::string>& ids, int32_t id) {
    auto it = ids.find(id);
    return it == ids.end() ? "" : payload::cp1252ToUtf8(it->second);
}

// The search as the user can check it: the configured entries, then the variable always consulted.
std::string places(const Language& language, const std::map<int32_t, std::string>& ids) {
    std::vector<std::string> list;
    std::string sequence = value(ids, morix::ids::kSearchSequence);
    size_t start = 0;
    while (start <= sequence.size() && list.size() < 20) {
        size_t end = sequence.find(kListSeparator, start);
        std::string entry =
            sequence.substr(start, end == std::string::npos ? std::string::npos : end - start);
        if (!entry.empty()) {
            const std::string text = entry.substr(1);
            switch (entry[0]) {
            case search_entry::kLegacyDirectory:
            case search_entry::kDirectoryWithFallback:
            case search_entry::kDirectoryWithoutFallback:
            case search_entry::kDirectory:
                list.push_back(replaced(language.directory, "{1}", text));
                break;
            case search_entry::kEnvironment:
                list.push_back(replaced(language.environment, "{1}", text));
                break;
            case search_entry::kSearchPath:
                list.push_back(language.path);
                break;
            case search_entry::kRegistry:
                list.push_back(language.registry);
                break;
            default:
                break;
            }
        }
        if (end == std::string::npos) {
            break;
        }
        start = end + 1;
    }
    list.push_back(language.always);
    std::string text;
    for (size_t i = 0; i < list.size(); ++i) {
        text += (i == 0 ? "" : ", ") + list[i];
    }
    return text;
}

std::string bounds(const Language& language, const std::map<int32_t, std::string>& ids) {
    const std::string min = value(ids, morix::ids::kMinVersion);
    const std::string max = value(ids, morix::ids::kMaxVersion);
    std::string text = min.empty() && max.empty() ? ""
                       : max.empty()              ? language.atLeast
                       : min.empty()              ? language.atMost
                                                  : language.between;
    text = replaced(replaced(text, "{1}", min), "{2}", max);
    return text.empty() ? "" : " (" + text + ")";
}

MessageTexts texts(const Language& language, const std::map<int32_t, std::string>& ids) {
    MessageTexts result;
    for (const MessageKey& key : messageKeys()) {
        std::string filled(key.*language.text);
        if (key.id == messages::kNoRuntime) {
            filled = replaced(replaced(filled, "%BOUNDS%", bounds(language, ids)), "%PLACES%",
                              places(language, ids));
        }
        result.emplace_back(key.id, *payload::utf8ToUtf16(filled));
    }
    return result;
}

} // namespace

MessageTexts defaultMessages(const std::map<int32_t, std::string>& ids) {
    return texts(kEnglish, ids);
}

std::optional<MessageTexts> includedMessageSet(const std::string& name,
                                               const std::map<int32_t, std::string>& ids) {
    if (name == "de") {
        return texts(kGerman, ids);
    }
    return std::nullopt;
}

std::vector<std::string> includedMessageSetNames() {
    return {"de"};
}

} // namespace morix::builder
