// The class path and module path options of the VM: built from the configured path entries, the
// archives extracted into the launcher's temporary directory, the installer runtime archive and the
// class path directives of the options files.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace morix {

// Set by the last "-classpath ", "-classpath/p " and "-classpath/a " directive seen.
struct ClassPathOverrides {
    std::optional<std::string> replace;
    std::optional<std::string> prepend;
    std::optional<std::string> append;
};

// Appends "-Djava.class.path=" and, when a module path exists, "--module-path=", "--add-opens=" and
// "--add-modules=" to the option list.
void buildPathOptions(std::vector<std::string>& options, const ClassPathOverrides& overrides);
// Appends the contributions of the entries of configuration id 121 (class path) or 132 (module path).
void addPathEntries(int id, std::string& text);
// Appends every file of the directory with the extension as a full path and ";"; false when the
// directory does not exist.
bool addArchivesInDirectory(std::string& text, const std::string& directory, const std::string& extension);

} // namespace morix
