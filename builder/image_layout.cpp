#include "image_layout.h"

#include "runtime_home.h"
#include "zip.h"

#include "morix/text_encoding.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <set>
#include <sstream>

namespace morix::builder::image {
namespace {

namespace fs = std::filesystem;
using payload::Payload;

// A Java runtime holds a few thousand files; a directory with far more is not one.
constexpr size_t kMaxRuntimeEntries = 100000;
constexpr int kMaxRuntimeDepth = 32;

bool isArchiveName(const std::string& name) {
    const std::string lower = lowerAscii(name);
    return lower.ends_with(".jar") || lower.ends_with(".zip");
}

// Places every file and directory of a runtime home below `target`.
void placeRuntimeFiles(const fs::path& home, const std::string& target, Layout& layout, Findings& findings) {
    std::error_code ec;
    layout.add({target, {}, true, "--runtime"}, findings);
    size_t count = 0;
    fs::recursive_directory_iterator it(home, fs::directory_options::follow_directory_symlink, ec);
    for (; !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        if (++count > kMaxRuntimeEntries || it.depth() >= kMaxRuntimeDepth) {
            findings.error("the runtime " + home.string() + " holds more than " +
                           std::to_string(kMaxRuntimeEntries) + " entries or " +
                           std::to_string(kMaxRuntimeDepth) + " directory levels (a link that loops?)");
            return;
        }
        const std::string name = target + "/" + utf8Of(it->path().lexically_relative(home));
        if (it->is_directory(ec)) {
            layout.add({name, {}, true, "--runtime"}, findings);
        } else if (it->is_regular_file(ec)) {
            layout.add({name, it->path(), false, "--runtime"}, findings);
        } else {
            findings.error("the runtime holds " + it->path().string() +
                           ", which is neither a file nor a directory");
        }
    }
    if (ec) {
        findings.error("cannot read the runtime " + home.string() + ": " + ec.message());
    }
}

struct PathEntry {
    char kind;
    bool required;
    std::string name; // UTF-8
};

std::vector<PathEntry> pathEntries(const Payload& p, int32_t id) {
    std::vector<PathEntry> entries;
    const std::string* value = p.findString(id);
    for (const std::string& entry : value ? splitAt(*value, kListSeparator) : std::vector<std::string>{}) {
        if (entry.size() > 2) {
            entries.push_back({entry[0], entry[1] == path_entry::kRequired,
                               payload::cp1252ToUtf8(entry.substr(path_entry::kNameOffset))});
        }
    }
    return entries;
}

bool holdsClass(std::istream& archive, const std::string& classFile) {
    std::optional<std::vector<std::string>> names = zipEntryNames(archive);
    // An archive this reader does not understand may hold it: no finding then.
    if (!names) {
        return true;
    }
    return std::any_of(names->begin(), names->end(), [&](const std::string& name) {
        return name == classFile ||
               (name.starts_with("META-INF/versions/") && name.ends_with("/" + classFile));
    });
}

} // namespace

void Findings::print() const {
    for (const std::string& line : failed() ? errors_ : warnings_) {
        std::cerr << "morix-build: " << line << "\n";
    }
}

std::string lowerAscii(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; });
    return text;
}

std::string utf8Of(const fs::path& path) {
    const std::u8string text = path.generic_u8string();
    return std::string(text.begin(), text.end());
}

bool idSet(const Payload& p, int32_t id) {
    const std::string* value = p.findString(id);
    return value && std::strtol(value->c_str(), nullptr, 10) != 0;
}

std::optional<std::string> namePartProblem(const std::string& part) {
    if (part.empty() || part == "." || part == "..") {
        return std::string("an empty, \".\" or \"..\" part");
    }
    for (char c : part) {
        if (static_cast<unsigned char>(c) < 0x20 ||
            std::string_view("<>:\"|?*\\/").find(c) != std::string::npos) {
            return "the character '" + std::string(1, c) + "', which Windows file names cannot hold";
        }
    }
    if (part.back() == ' ' || part.back() == '.') {
        return std::string("a trailing space or dot, which Windows drops");
    }
    return std::nullopt;
}

std::vector<std::string> splitAt(const std::string& text, char separator) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (size_t at = text.find(separator); at != std::string::npos; at = text.find(separator, start)) {
        parts.push_back(text.substr(start, at - start));
        start = at + 1;
    }
    parts.push_back(text.substr(start));
    return parts;
}

std::optional<std::string> insideImage(std::string text) {
    if (text.find("${") != std::string::npos) {
        return std::nullopt;
    }
    std::replace(text.begin(), text.end(), '\\', '/');
    if (text.empty() || text[0] == '/' || (text.size() > 1 && text[1] == ':')) {
        return std::nullopt;
    }
    std::vector<std::string> parts;
    for (const std::string& part : splitAt(text, '/')) {
        if (part.empty() || part == ".") {
            continue;
        }
        if (part == "..") {
            if (parts.empty()) {
                return std::nullopt;
            }
            parts.pop_back();
            continue;
        }
        parts.push_back(part);
    }
    if (parts.empty()) {
        return std::nullopt;
    }
    std::string name;
    for (const std::string& part : parts) {
        name += (name.empty() ? "" : "/") + part;
    }
    return name;
}

void placeRuntime(const fs::path& home, const Payload& p, uint16_t machine, Layout& layout,
                  Findings& findings) {
    std::optional<std::string> target;
    const std::string* sequence = p.findString(ids::kSearchSequence);
    for (const std::string& entry :
         sequence ? splitAt(*sequence, kListSeparator) : std::vector<std::string>{}) {
        const char letter = entry.empty() ? '\0' : entry[0];
        if (letter == search_entry::kDirectory || letter == search_entry::kDirectoryWithFallback ||
            letter == search_entry::kLegacyDirectory || letter == search_entry::kDirectoryWithoutFallback) {
            target = insideImage(payload::cp1252ToUtf8(entry.substr(1)));
            if (target) {
                break;
            }
        }
    }
    if (!target) {
        findings.error("runtime.search",
                       "names no directory inside the image, where the launcher would look for the runtime "
                       "given with --runtime",
                       "add { directory = \"jre\" } to runtime.search");
        return;
    }
    RuntimeNeeds needs;
    needs.machine = machine;
    const std::string* type = p.findString(ids::kExecutableType);
    needs.javaw = type && *type == std::to_string(executable_type::kGui);
    needs.jdk = idSet(p, ids::kRequireJdk);
    if (const std::string* vm = p.findString(ids::kPreferredVm)) {
        needs.preferredVm = payload::cp1252ToUtf8(*vm);
    }
    if (std::optional<std::string> problem = runtimeHomeProblem(home, needs)) {
        findings.error(*problem);
        return;
    }
    placeRuntimeFiles(home, *target, layout, findings);
}

PathsInImage checkPaths(const Payload& p, const Layout& layout, Findings& findings) {
    PathsInImage reached;
    for (int32_t id : {ids::kClassPath, ids::kModulePath}) {
        const std::string key = id == ids::kClassPath ? "application.class_path" : "application.module_path";
        for (const PathEntry& entry : pathEntries(p, id)) {
            std::optional<std::string> name = insideImage(entry.name);
            if (entry.kind == path_entry::kEnvironment || !name) {
                reached.complete = false;
                continue;
            }
            const Placed* at = layout.find(*name);
            if (entry.kind == path_entry::kArchive ||
                (entry.kind == path_entry::kDirectory && at && !at->directory)) {
                if (at && !at->directory) {
                    reached.archives.push_back(at);
                } else {
                    findings.error(key, "names " + *name + ", which the image does not hold",
                                   "place it with --lib (the Maven plugin places the project's artifact and "
                                   "its runtime dependencies), or remove the entry");
                }
            } else if (entry.kind == path_entry::kDirectory || entry.kind == path_entry::kScanDirectory) {
                const bool held = layout.holdsBelow(*name);
                if (entry.kind == path_entry::kDirectory && held) {
                    reached.directories.push_back(*name);
                }
                for (const Placed* file : entry.kind == path_entry::kScanDirectory
                                              ? layout.filesIn(*name)
                                              : std::vector<const Placed*>{}) {
                    if (isArchiveName(file->name)) {
                        reached.archives.push_back(file);
                    }
                }
                if (!held && entry.required) {
                    findings.error(key, "names the directory " + *name + ", which the image does not hold",
                                   "place its files in the image, or make the entry optional");
                }
            }
        }
    }
    std::set<const Placed*> named(reached.archives.begin(), reached.archives.end());
    for (const Placed* file : layout.filesIn(kLibDirectory)) {
        if (!named.count(file)) {
            findings.warning("application.class_path",
                             file->name + " is in the image, but no class path or module path entry names it",
                             "add { archive = \"" + file->name +
                                 "\" } to application.class_path, or take every archive of the directory "
                                 "with { directory = \"lib\", scan = true }");
        }
    }
    return reached;
}

void checkMainClass(const Payload& p, const Layout& layout, const PathsInImage& paths, Findings& findings) {
    const std::string* mainClass = p.findString(ids::kMainClass);
    if (!mainClass || mainClass->empty()) {
        findings.error("application.main_class", "is not set, so the image's launcher has no class to run",
                       "set application.main_class, or give --main-class (the Maven plugin's mainClass)");
        return;
    }
    std::string className = payload::cp1252ToUtf8(*mainClass);
    if (idSet(p, ids::kMainClassInModule) && className.find('/') != std::string::npos) {
        className = className.substr(className.find('/') + 1);
    }
    if (!paths.complete) {
        return;
    }
    std::string classFile = className;
    std::replace(classFile.begin(), classFile.end(), '.', '/');
    classFile += ".class";
    // The launcher puts the included archives at the top of its temporary directory on the class path.
    for (const payload::IncludedFile& file : p.files) {
        std::istringstream content(file.content);
        if (file.name.find('\\') == std::string::npos && isArchiveName(file.name) &&
            holdsClass(content, classFile)) {
            return;
        }
    }
    std::string searched;
    for (const Placed* archive : paths.archives) {
        std::ifstream in(archive->source, std::ios::binary);
        if (!in || holdsClass(in, classFile)) {
            return;
        }
        searched += (searched.empty() ? "" : ", ") + archive->name;
    }
    for (const std::string& directory : paths.directories) {
        if (layout.find(directory + "/" + classFile)) {
            return;
        }
        searched += (searched.empty() ? "" : ", ") + directory;
    }
    findings.error("application.main_class",
                   className + " is in none of the archives on the class path" +
                       (searched.empty() ? std::string(" (the image places none)") : " (" + searched + ")"),
                   "check the class name, or put the archive that holds it on the class path");
}

} // namespace morix::builder::image
