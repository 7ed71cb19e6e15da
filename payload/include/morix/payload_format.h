// The payload's format constants and the rule for included file names: what the launcher checks when
// it reads its payload and what the builder must write. Portable: no Windows types.
#pragma once

#include <cstdint>
#include <string_view>

namespace morix::payload {

// The first field of every payload.
inline constexpr uint32_t kMagic = 0xE8E413D5u;
// Every content byte of an included file is stored XORed with this mask.
inline constexpr uint8_t kFileMask = 0xA7;

// The launcher writes an included file below its temporary directory and creates only the first
// directory level of its name, split at a backslash. A name it could not place there, or that would
// leave that directory, is refused by this rule: nullptr when the name is fine, else what is wrong.
constexpr const char* includedNameProblem(std::string_view name) {
    if (name.empty()) {
        return "must not be empty";
    }
    if (name.find(';') != std::string_view::npos) {
        return "may not contain ';'";
    }
    if (name.front() == '\\' || name.front() == '/' || name.find(':') != std::string_view::npos) {
        return "must be relative";
    }
    if (name.find('/') != std::string_view::npos) {
        return "must separate its directory with a backslash";
    }
    const size_t slash = name.find('\\');
    if (slash != std::string_view::npos && name.find('\\', slash + 1) != std::string_view::npos) {
        return "may have at most one directory level";
    }
    const std::string_view first = name.substr(0, slash);
    const std::string_view second =
        slash == std::string_view::npos ? std::string_view() : name.substr(slash + 1);
    for (std::string_view part : {first, second}) {
        if (part == "." || part == "..") {
            return "may not contain \".\" or \"..\" parts";
        }
    }
    if (name.back() == '\\') {
        return "must name a file";
    }
    return nullptr;
}

} // namespace morix::payload
