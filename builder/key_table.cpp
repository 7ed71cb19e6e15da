#include "key_table.h"

#include "key_sections.h"

#include <algorithm>

namespace morix::builder {
namespace {

std::string exampleIdsOf(const Key& key) {
    std::string text;
    for (const ExampleId& example : key.exampleSets) {
        const bool wide = key.wide && example.id == key.id();
        text += (text.empty() ? "" : "\n") + std::string(wide ? "w" : "") + std::to_string(example.id) + "=" +
                std::string(example.value);
    }
    return text;
}

std::vector<Key> assemble(std::initializer_list<std::vector<Key> (*)()> sections) {
    std::vector<Key> table;
    for (auto section : sections) {
        for (Key& key : section()) {
            key.exampleIds = exampleIdsOf(key);
            table.push_back(std::move(key));
        }
    }
    return table;
}

std::vector<std::string> sectionsOf(const std::vector<Key>& table) {
    std::vector<std::string> names;
    for (const Key& key : table) {
        if (std::find(names.begin(), names.end(), key.section) == names.end()) {
            names.emplace_back(key.section);
        }
    }
    return names;
}

} // namespace

std::string Key::idsText() const {
    std::vector<int32_t> sorted = ids;
    std::sort(sorted.begin(), sorted.end());
    std::string text;
    for (size_t i = 0; i < sorted.size();) {
        size_t end = i + 1;
        while (end < sorted.size() && sorted[end] == sorted[end - 1] + 1) {
            ++end;
        }
        text += text.empty() ? "" : ", ";
        if (end - i >= 3) {
            text += std::to_string(sorted[i]) + "-" + std::to_string(sorted[end - 1]);
        } else {
            text += std::to_string(sorted[i]);
            end = i + 1;
        }
        if (wide && sorted[i] == id()) {
            text += " (wide)";
        }
        i = end;
    }
    return text;
}

bool Key::sets(int32_t someId) const {
    return std::find(ids.begin(), ids.end(), someId) != ids.end();
}

const std::vector<Key>& keyTable() {
    static const std::vector<Key> table = assemble({applicationKeys, launcherKeys, outputKeys, runtimeKeys,
                                                    jvmKeys, splashKeys, serviceKeys, instanceKeys});
    return table;
}

const std::vector<Key>& executableKeyTable() {
    static const std::vector<Key> table = assemble({executableKeys});
    return table;
}

std::vector<std::string> sectionNames() {
    return sectionsOf(keyTable());
}

std::vector<std::string> executableSectionNames() {
    return sectionsOf(executableKeyTable());
}

bool isExecutableSection(std::string_view section) {
    const std::vector<std::string> names = executableSectionNames();
    return std::find(names.begin(), names.end(), section) != names.end();
}

const Key* findKey(std::string_view section, std::string_view name) {
    for (const std::vector<Key>* table : {&keyTable(), &executableKeyTable()}) {
        for (const Key& key : *table) {
            if (key.section == section && key.name == name) {
                return &key;
            }
        }
    }
    return nullptr;
}

std::vector<std::string> keyNames(std::string_view section) {
    std::vector<std::string> names;
    for (const std::vector<Key>* table : {&keyTable(), &executableKeyTable()}) {
        for (const Key& key : *table) {
            if (key.section == section) {
                names.emplace_back(key.name);
            }
        }
    }
    return names;
}

void finishSharedIds(Encoder& out) {
    finishJvmOptions(out);
    finishExecutableType(out);
    finishExecutableVersion(out);
}

void prepareSharedIds(Decoder& in) {
    splitJvmOptions(in);
}

} // namespace morix::builder
