#include "windows_version.h"

#include <algorithm>
#include <vector>

namespace morix::builder {
namespace {

constexpr uint32_t kLargestPart = 65535;

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// The decimal number at `at`, moved past; values beyond the largest part are kept just beyond it.
uint32_t readNumber(std::string_view text, size_t& at) {
    uint32_t value = 0;
    while (at < text.size() && isDigit(text[at])) {
        value = std::min<uint32_t>(value * 10 + static_cast<uint32_t>(text[at] - '0'), kLargestPart + 1);
        ++at;
    }
    return value;
}

} // namespace

std::optional<payload::VersionNumber> windowsVersionOf(std::string_view text, std::string& problem) {
    const std::string quoted = "the version '" + std::string(text) + "' ";
    std::vector<uint32_t> parts;
    size_t at = 0;
    while (at < text.size() && isDigit(text[at])) {
        parts.push_back(readNumber(text, at));
        if (at + 1 < text.size() && text[at] == '.' && isDigit(text[at + 1])) {
            ++at;
        } else {
            break;
        }
    }
    if (parts.empty()) {
        problem = quoted + "does not start with a number";
        return std::nullopt;
    }
    if (parts.size() > 4) {
        problem = quoted + "has more than the four numbers of a Windows version";
        return std::nullopt;
    }
    // A build number is a dash followed by digits only; anything else behind the numbers is a qualifier.
    const std::string_view rest = text.substr(at);
    if (parts.size() < 4 && rest.size() > 1 && rest[0] == '-' &&
        std::all_of(rest.begin() + 1, rest.end(), isDigit)) {
        size_t buildAt = 1;
        parts.resize(3, 0);
        parts.push_back(readNumber(rest, buildAt));
    }
    parts.resize(4, 0);
    payload::VersionNumber version{};
    for (size_t i = 0; i < 4; ++i) {
        if (parts[i] > kLargestPart) {
            problem = quoted + "has a number above 65535, the largest part of a Windows version";
            return std::nullopt;
        }
        version[i] = static_cast<uint16_t>(parts[i]);
    }
    return version;
}

} // namespace morix::builder
