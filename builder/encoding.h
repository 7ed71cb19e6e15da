// The two directions between the named configuration and the payload's ids (and, for [executable], the
// launcher's resources). The key table's converters work on these contexts: an Encoder collects the ids
// and settings that the named keys set and reports findings at their place in the file; a Decoder hands
// out a payload's ids and remembers which ones a named key has taken.
#pragma once

#include "diagnostic.h"
#include "executable_settings.h"

#include <toml++/toml.h>

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace morix::builder {

struct Key;

// The parts of id 107 (the executable type), which three keys share.
struct ExecutableTypeParts {
    std::optional<bool> gui;
    std::optional<bool> errorDialogs;
    std::optional<bool> autoStart;
    const toml::node* at = nullptr;
};

class Encoder {
public:
    explicit Encoder(std::string file) : file_(std::move(file)) {}

    // Findings. `at` gives the place; `key` is the dotted key.
    void error(const toml::source_region& at, std::string key, std::string message,
               std::string suggestion = {});
    void warning(const toml::source_region& at, std::string key, std::string message,
                 std::string suggestion = {});
    const std::vector<Diagnostic>& errors() const { return errors_; }
    const std::vector<Diagnostic>& warnings() const { return warnings_; }

    // Typed reads of a value; each reports what was expected and returns none on a mismatch.
    std::optional<std::string> string(const toml::node& node, const std::string& key);
    std::optional<bool> flag(const toml::node& node, const std::string& key);
    std::optional<int64_t> integer(const toml::node& node, const std::string& key, int64_t min, int64_t max);
    const toml::array* array(const toml::node& node, const std::string& key);
    const toml::table* table(const toml::node& node, const std::string& key);
    // The text in Windows-1252, at most `limit` bytes.
    std::optional<std::string> narrow(const toml::node& node, const std::string& key, const std::string& utf8,
                                      size_t limit);
    // A string value in Windows-1252, at most `limit` bytes.
    std::optional<std::string> narrowString(const toml::node& node, const std::string& key, size_t limit);
    // Unknown keys of an inline or standard table get an error with the nearest allowed name.
    bool onlyKeys(const toml::table& table, const std::string& key, const std::vector<std::string>& allowed);

    // Sets a narrow or wide id on behalf of a key (`owner` names it for conflict messages).
    void set(int32_t id, std::string value, const std::string& owner, const toml::source_region& at);
    void setWide(int32_t id, std::u16string value, const std::string& owner, const toml::source_region& at);

    std::map<int32_t, std::string> narrowIds;
    std::map<int32_t, std::u16string> wideIds;
    // Which key set an id, and where: a raw id given as well is an error.
    std::map<int32_t, std::pair<std::string, toml::source_region>> owners;

    // What several keys share, finished after every key was read: the JVM options (id 123) and the
    // executable type (id 107).
    std::vector<std::string> jvmOptions;
    std::optional<std::string> stopTimeoutOption;
    std::optional<toml::source_region> jvmOptionsAt;
    ExecutableTypeParts executableType;
    // Where each section's table starts, for findings about a section as a whole.
    std::map<std::string, toml::source_region> sectionsAt;
    const toml::source_region* sectionAt(const std::string& section) const;
    // What the warnings look at: the search sequence's place and the required archives.
    std::optional<toml::source_region> searchAt;
    // The relative directory entries without a fallback key: taken whatever their version.
    std::vector<toml::source_region> relativeSearchAt;
    std::vector<std::pair<std::string, toml::source_region>> requiredArchives;
    // The Java side's jar as an included file: whether, and from where when not the default.
    bool includeRuntimeJar = true;
    std::optional<std::pair<std::string, toml::source_region>> runtimeJarPath;
    // The [executable] table; the icon file is read once every key was read.
    ExecutableSettings executable;
    std::optional<toml::source_region> iconAt;
    bool fileVersionGiven = false;
    bool productVersionGiven = false;
    // What the versions default to when the configuration leaves them open (ReadOptions).
    std::optional<payload::VersionNumber> applicationVersion;

private:
    Diagnostic diagnostic(const toml::source_region& at, std::string key, std::string message,
                          std::string suggestion) const;
    std::string file_;
    std::vector<Diagnostic> errors_;
    std::vector<Diagnostic> warnings_;
};

class Decoder {
public:
    Decoder(const std::map<int32_t, std::string>& narrow, const std::map<int32_t, std::u16string>& wide);

    // The narrow value of an id that no key has taken yet.
    const std::string* narrow(int32_t id) const;
    const std::u16string* wide(int32_t id) const;
    void take(int32_t id) { taken_.insert(id); }
    bool taken(int32_t id) const { return taken_.count(id) != 0; }

    // Id 123 as tokens, when the named list gives it back byte for byte; the stop timeout is split off.
    std::optional<std::vector<std::string>> jvmOptions;
    std::optional<int64_t> stopTimeout;
    // The launcher's resources as [executable] settings, when the builder wrote them.
    const ExecutableSettings* executable = nullptr;

    const std::map<int32_t, std::string>& narrowIds() const { return narrow_; }
    const std::map<int32_t, std::u16string>& wideIds() const { return wide_; }

private:
    const std::map<int32_t, std::string>& narrow_;
    const std::map<int32_t, std::u16string>& wide_;
    std::set<int32_t> taken_;
};

// A value in double quotes, with quotes and backslashes escaped and control characters written as
// `escapeControl` gives them, so that the value stays on one line.
std::string quotedText(std::string_view utf8, std::string (*escapeControl)(unsigned char));
// TOML text of a value, as inspect writes it.
std::string tomlString(std::string_view utf8);

// The known name nearest to `name` (for "did you mean"), or empty when none is close.
std::string nearestName(std::string_view name, const std::vector<std::string>& known);

} // namespace morix::builder
