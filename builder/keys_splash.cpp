// [splash]: the splash-screen text settings that the Java side receives before main.
#include "key_converters.h"
#include "key_sections.h"

#include "morix/config_ids.h"

namespace morix::builder {
namespace {

// The two integers of each text, by their key in the text's table.
struct SplashNumber {
    const char* name;
    const int32_t* ids;
};
constexpr SplashNumber kSplashNumbers[] = {{"first", ids::kSplashFirst}, {"second", ids::kSplashSecond}};

void encodeSplashText(const Key& key, const toml::table& text, size_t i, Encoder& out) {
    if (const toml::node* node = text.get("text")) {
        if (std::optional<std::string> s = out.narrowString(*node, key.dotted() + ".text", key.limit)) {
            out.set(ids::kSplashText[i], *s, key.dotted(), node->source());
        }
    }
    for (const auto& [name, numberIds] : kSplashNumbers) {
        if (const toml::node* node = text.get(name)) {
            if (std::optional<int64_t> n =
                    out.integer(*node, key.dotted() + "." + name, kInt32Min, kInt32Max)) {
                out.set(numberIds[i], std::to_string(*n), key.dotted(), node->source());
            }
        }
    }
}

void encodeSplashTexts(const Key& key, const toml::node& value, Encoder& out) {
    const toml::array* list = out.array(value, key.dotted());
    if (!list) {
        return;
    }
    if (list->size() > ids::kSplashCount) {
        out.error(value.source(), key.dotted(),
                  "holds " + std::to_string(list->size()) + " texts; the launcher passes four");
        return;
    }
    for (size_t i = 0; i < list->size(); ++i) {
        const toml::table* text = out.table(*list->get(i), key.dotted());
        if (text && out.onlyKeys(*text, key.dotted(), {"text", "first", "second"})) {
            encodeSplashText(key, *text, i, out);
        }
    }
}

// The fields of text i that the payload holds; none when a number would not come back.
std::optional<std::vector<std::string>> splashFields(Decoder& in, size_t i) {
    std::vector<std::string> fields;
    if (const std::string* text = in.narrow(ids::kSplashText[i])) {
        fields.push_back("text = " + tomlString(utf8(*text)));
    }
    for (const auto& [name, numberIds] : kSplashNumbers) {
        if (const std::string* number = in.narrow(numberIds[i])) {
            std::optional<int64_t> n = canonicalInteger(*number);
            if (!n || *n < kInt32Min || *n > kInt32Max) {
                return std::nullopt;
            }
            fields.push_back(std::string(name) + " = " + std::to_string(*n));
        }
    }
    return fields;
}

std::optional<std::string> decodeSplashTexts(const Key&, Decoder& in) {
    std::vector<std::string> texts;
    size_t last = 0;
    for (size_t i = 0; i < ids::kSplashCount; ++i) {
        std::optional<std::vector<std::string>> fields = splashFields(in, i);
        if (!fields) {
            return std::nullopt;
        }
        if (!fields->empty()) {
            last = i + 1;
        }
        texts.push_back(fields->empty() ? "{}" : "{ " + join(*fields, ", ") + " }");
    }
    if (last == 0) {
        return std::nullopt;
    }
    texts.resize(last);
    for (size_t i = 0; i < last; ++i) {
        in.take(ids::kSplashText[i]);
        in.take(ids::kSplashFirst[i]);
        in.take(ids::kSplashSecond[i]);
    }
    return tomlTableList(texts);
}

std::vector<int32_t> splashTextIds() {
    std::vector<int32_t> textIds;
    for (size_t i = 0; i < ids::kSplashCount; ++i) {
        textIds.insert(textIds.end(), {ids::kSplashText[i], ids::kSplashFirst[i], ids::kSplashSecond[i]});
    }
    return textIds;
}

// The rows, in the order of the reference.
const Key kRows[] = {
    flagKey("splash", "enabled", ids::kSplashEnabled,
            "Hand the splash-screen text settings to the Java side "
            "(WinLauncher.initAwtSplashConfig) before main."),
    flagKey("splash", "second_flag", ids::kSplashSecondFlag,
            "The second boolean argument of initAwtSplashConfig."),
    {.section = "splash",
     .name = "texts",
     .type = "list of up to 4 tables",
     .defaultText = "empty texts, 0",
     .meaning = "The four texts of initAwtSplashConfig, each { text = \"...\", first = 0, "
                "second = 0 } (a text at most 1999 characters).",
     .example = "[{ text = \"Loading\", first = 10, second = 20 }]",
     .exampleSets = {{ids::kSplashText[0], "Loading"},
                     {ids::kSplashFirst[0], "10"},
                     {ids::kSplashSecond[0], "20"}},
     .ids = splashTextIds(),
     .encode = encodeSplashTexts,
     .decode = decodeSplashTexts,
     .limit = kSplashTextCapacity - 1},
};

} // namespace

std::vector<Key> splashKeys() {
    return {std::begin(kRows), std::end(kRows)};
}

} // namespace morix::builder
