// What goes where in an application image, and whether the launcher could start from it: the image's
// entries by name, the findings collected before anything is written, and the checks of the class path,
// the main class and a bundled runtime against those entries.
#pragma once

#include "config.h"
#include "diagnostic.h"

#include "morix/config_ids.h"
#include "morix/config_values.h"
#include "morix/payload.h"

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace morix::builder::image {

inline constexpr const char* kLibDirectory = "lib";

std::string lowerAscii(std::string text);
std::string utf8Of(const std::filesystem::path& path);
std::vector<std::string> splitAt(const std::string& text, char separator);
// Whether the id holds a non-zero number, as the launcher reads a flag.
bool idSet(const payload::Payload& p, int32_t id);

// Findings are printed together once everything was checked, errors first, as `build` does.
class Findings {
public:
    explicit Findings(std::filesystem::path config) : config_(config.string()) {}

    void error(const std::string& message) { errors_.push_back("error: " + message); }
    void warning(const std::string& message) { warnings_.push_back("warning: " + message); }
    // A finding about a key of the configuration (whose place in the file the payload no longer knows).
    void error(const std::string& key, const std::string& message, const std::string& suggestion) {
        errors_.push_back(formatDiagnostic({config_, 0, 0, key, message, suggestion}, false));
    }
    void warning(const std::string& key, const std::string& message, const std::string& suggestion) {
        warnings_.push_back(formatDiagnostic({config_, 0, 0, key, message, suggestion}, true));
    }
    void add(const Diagnostic& error) { errors_.push_back(formatDiagnostic(error, false)); }
    void add(const Configuration& config) {
        for (const Diagnostic& d : config.errors) {
            errors_.push_back(formatDiagnostic(d, false));
        }
        for (const Diagnostic& d : config.warnings) {
            warnings_.push_back(formatDiagnostic(d, true));
        }
    }
    bool failed() const { return !errors_.empty(); }
    // Warnings are about the image's use; when nothing is written, only the errors count.
    void print() const;

private:
    std::string config_;
    std::vector<std::string> errors_;
    std::vector<std::string> warnings_;
};

// What goes where in the image: a file from its source, the launcher (no source), or a directory.
struct Placed {
    std::string name; // UTF-8, relative to the image directory, "/" between the parts
    std::filesystem::path source;
    bool directory = false;
    std::string origin; // what asked for it, for messages
};

// The image's entries by name, compared without regard to case as Windows compares them.
class Layout {
public:
    void add(Placed placed, Findings& findings) {
        const std::string key = lowerAscii(placed.name);
        auto [at, added] = entries_.emplace(key, placed);
        if (!added && !(at->second.directory && placed.directory)) {
            findings.error(placed.name + " would be placed twice: by " + at->second.origin + " and by " +
                           placed.origin);
        }
    }
    const Placed* find(const std::string& name) const {
        auto at = entries_.find(lowerAscii(name));
        return at == entries_.end() ? nullptr : &at->second;
    }
    bool holdsBelow(const std::string& directory) const {
        const std::string prefix = lowerAscii(directory) + "/";
        auto at = entries_.lower_bound(prefix);
        return at != entries_.end() && at->first.starts_with(prefix);
    }
    // The files directly in a directory.
    std::vector<const Placed*> filesIn(const std::string& directory) const {
        const std::string prefix = lowerAscii(directory) + "/";
        std::vector<const Placed*> files;
        for (auto at = entries_.lower_bound(prefix); at != entries_.end() && at->first.starts_with(prefix);
             ++at) {
            if (!at->second.directory && at->first.find('/', prefix.size()) == std::string::npos) {
                files.push_back(&at->second);
            }
        }
        return files;
    }
    const std::map<std::string, Placed>& entries() const { return entries_; }

private:
    std::map<std::string, Placed> entries_;
};

// A name given for a place in the image, as Windows accepts it; the reason when not.
std::optional<std::string> namePartProblem(const std::string& part);

// A path that the launcher resolves against its own directory, as a name inside the image; none when it
// is absolute, holds a variable, leaves the image or is the image directory itself.
std::optional<std::string> insideImage(std::string text);

// Checks the runtime home and places its files at the first directory of the search sequence that lies
// inside the image.
void placeRuntime(const std::filesystem::path& home, const payload::Payload& p, uint16_t machine,
                  Layout& layout, Findings& findings);

// What the class path and module path reach inside the image.
struct PathsInImage {
    bool complete = true; // every entry is inside the image, so the main class can be looked for
    std::vector<const Placed*> archives; // files on the paths
    std::vector<std::string> directories;
};

// An archive that a path names but the image lacks is an error; one in lib/ that nothing names, a warning.
PathsInImage checkPaths(const payload::Payload& p, const Layout& layout, Findings& findings);

// The main class must be set, and be in what the paths reach when all of it is inside the image.
void checkMainClass(const payload::Payload& p, const Layout& layout, const PathsInImage& paths,
                    Findings& findings);

} // namespace morix::builder::image
