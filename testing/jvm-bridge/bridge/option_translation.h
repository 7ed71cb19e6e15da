// Options and arguments that a Windows program hands to the Java runtime, rewritten for the Linux JDK:
// Windows paths in class path, module path and library path options become Unix paths (a ";"-list
// becomes a ":"-list), as do the paths of the class-data archive options, and all other text changes only
// its encoding.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace morix::bridge {

// How texts of the caller's encoding become UTF-8: `path` for a Windows path (giving a Unix path),
// `text` for anything else.
struct TextMapping {
    std::function<std::string(std::string_view)> path;
    std::function<std::string(std::string_view)> text;
};

// One JVM option (JavaVMOption.optionString).
std::string translateVmOption(std::string_view option, const TextMapping& mapping);

// A ";"-separated list of Windows paths as a ":"-separated list of Unix paths; empty entries are dropped.
std::string translatePathList(std::string_view list, const TextMapping& mapping);

// The thread stack size that an -Xss option asks for, in bytes; none for other options and bad values.
std::optional<uint64_t> stackSizeOption(std::string_view option);

// The arguments of a java command (without the program), already UTF-8: path options up to the main
// class, jar or module are translated; the application's arguments after it are left alone.
std::vector<std::string> translateJavaArguments(const std::vector<std::string>& arguments,
                                                const TextMapping& mapping);

} // namespace morix::bridge
