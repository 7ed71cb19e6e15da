#include "option_translation.h"

#include <array>
#include <limits>

namespace morix::bridge {
namespace {

// Options whose value is a ";"-list of paths, in the forms that JNI_CreateJavaVM accepts.
constexpr std::array<std::string_view, 7> kPathListOptions = {
    "-Djava.class.path=", "-Djava.library.path=",   "-Djdk.module.path=", "-Djdk.module.upgrade.path=",
    "--module-path=",     "--upgrade-module-path=", "-Xbootclasspath/a:",
};
constexpr std::string_view kPatchModule = "--patch-module=";
// Options whose value is one path: the class-data archives.
constexpr std::array<std::string_view, 2> kPathOptions = {"-XX:SharedArchiveFile=",
                                                          "-XX:ArchiveClassesAtExit="};

// Options of the java command whose value is the next argument.
enum class ValueKind { none, pathList, path, patch, other, mainModule };

ValueKind separateValueKind(std::string_view argument) {
    static constexpr std::array<std::pair<std::string_view, ValueKind>, 14> kinds = {{
        {"-cp", ValueKind::pathList},
        {"-classpath", ValueKind::pathList},
        {"--class-path", ValueKind::pathList},
        {"-p", ValueKind::pathList},
        {"--module-path", ValueKind::pathList},
        {"--upgrade-module-path", ValueKind::pathList},
        {"--patch-module", ValueKind::patch},
        {"--add-modules", ValueKind::other},
        {"--add-exports", ValueKind::other},
        {"--add-opens", ValueKind::other},
        {"--add-reads", ValueKind::other},
        {"--limit-modules", ValueKind::other},
        {"-m", ValueKind::mainModule},
        {"--module", ValueKind::mainModule},
    }};
    for (const auto& [name, kind] : kinds) {
        if (argument == name) {
            return kind;
        }
    }
    return ValueKind::none;
}

// "module=path;path" with the paths translated.
std::string translatePatch(std::string_view value, const TextMapping& mapping) {
    size_t equals = value.find('=');
    if (equals == std::string_view::npos) {
        return mapping.text(value);
    }
    return mapping.text(value.substr(0, equals + 1)) + translatePathList(value.substr(equals + 1), mapping);
}

std::string translateJavaOption(const std::string& argument, const TextMapping& mapping) {
    if (argument.size() > 1 && argument[0] == '@' && argument[1] != '@') {
        std::string file = mapping.path(std::string_view(argument).substr(1));
        return file.insert(0, 1, '@');
    }
    return translateVmOption(argument, mapping);
}

} // namespace

std::string translatePathList(std::string_view list, const TextMapping& mapping) {
    std::string result;
    while (!list.empty()) {
        size_t end = list.find(';');
        std::string_view entry = list.substr(0, end);
        if (!entry.empty()) {
            if (!result.empty()) {
                result += ':';
            }
            result += mapping.path(entry);
        }
        list = end == std::string_view::npos ? std::string_view() : list.substr(end + 1);
    }
    return result;
}

std::string translateVmOption(std::string_view option, const TextMapping& mapping) {
    for (std::string_view prefix : kPathListOptions) {
        if (option.starts_with(prefix)) {
            return std::string(prefix) + translatePathList(option.substr(prefix.size()), mapping);
        }
    }
    for (std::string_view prefix : kPathOptions) {
        if (option.starts_with(prefix)) {
            // A Unix path, as a test or benchmark may give one straight to the Linux VM, stays as it is.
            const std::string_view value = option.substr(prefix.size());
            return std::string(prefix) + (value.starts_with("/") ? mapping.text(value) : mapping.path(value));
        }
    }
    if (option.starts_with(kPatchModule)) {
        return std::string(kPatchModule) + translatePatch(option.substr(kPatchModule.size()), mapping);
    }
    return mapping.text(option);
}

std::optional<uint64_t> stackSizeOption(std::string_view option) {
    constexpr std::string_view prefix = "-Xss";
    if (!option.starts_with(prefix) || option.size() == prefix.size()) {
        return std::nullopt;
    }
    std::string_view value = option.substr(prefix.size());
    uint64_t number = 0;
    size_t at = 0;
    for (; at < value.size() && value[at] >= '0' && value[at] <= '9'; ++at) {
        if (number > std::numeric_limits<uint64_t>::max() / 10 / 1024 / 1024 / 1024) {
            return std::nullopt;
        }
        number = number * 10 + static_cast<uint64_t>(value[at] - '0');
    }
    if (at == 0 || value.size() > at + 1) {
        return std::nullopt;
    }
    if (at == value.size()) {
        return number;
    }
    switch (value[at]) {
    case 'k':
    case 'K':
        return number << 10;
    case 'm':
    case 'M':
        return number << 20;
    case 'g':
    case 'G':
        return number << 30;
    default:
        return std::nullopt;
    }
}

std::vector<std::string> translateJavaArguments(const std::vector<std::string>& arguments,
                                                const TextMapping& mapping) {
    std::vector<std::string> result;
    result.reserve(arguments.size());
    size_t i = 0;
    for (; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        ValueKind kind = separateValueKind(argument);
        if (argument == "-jar") {
            kind = ValueKind::path;
        }
        if (kind != ValueKind::none) {
            result.push_back(argument);
            if (++i == arguments.size()) {
                break;
            }
            const std::string& value = arguments[i];
            switch (kind) {
            case ValueKind::pathList:
                result.push_back(translatePathList(value, mapping));
                break;
            case ValueKind::patch:
                result.push_back(translatePatch(value, mapping));
                break;
            case ValueKind::path:
                result.push_back(mapping.path(value));
                break;
            default:
                result.push_back(mapping.text(value));
                break;
            }
            if (kind == ValueKind::path || kind == ValueKind::mainModule) {
                ++i;
                break;
            }
            continue;
        }
        if (argument.starts_with("@")) {
            result.push_back(translateJavaOption(argument, mapping));
            continue;
        }
        if (argument.empty() || argument[0] != '-' || argument.starts_with("--module=")) {
            // The main class (or module): what follows belongs to the application.
            result.push_back(mapping.text(argument));
            ++i;
            break;
        }
        result.push_back(translateJavaOption(argument, mapping));
    }
    for (; i < arguments.size(); ++i) {
        result.push_back(mapping.text(arguments[i]));
    }
    return result;
}

} // namespace morix::bridge
