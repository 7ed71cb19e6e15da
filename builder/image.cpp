#include "image.h"

#include "config.h"
#include "encoding.h"
#include "executable_config.h"
#include "runtime_home.h"
#include "windows_version.h"
#include "zip.h"

#include "morix/payload.h"
#include "morix/pe_image.h"
#include "morix/pe_resources.h"
#include "morix/text_encoding.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <map>
#include <set>
#include <sstream>

namespace morix::builder {
namespace {

namespace fs = std::filesystem;
using payload::Payload;

// The launcher's configuration ids that an image depends on.
constexpr int32_t kLauncherTypeId = 107;
constexpr int32_t kClassPathId = 121;
constexpr int32_t kMainClassId = 122;
constexpr int32_t kSearchSequenceId = 128;
constexpr int32_t kRequireJdkId = 131;
constexpr int32_t kModulePathId = 132;
constexpr int32_t kMainClassInModuleId = 133;
constexpr int32_t kPreferredVmId = 152;

constexpr int kBadInput = 2;
constexpr const char* kLibDirectory = "lib";
// A Java runtime holds a few thousand files; a directory with far more is not one.
constexpr size_t kMaxRuntimeEntries = 100000;
constexpr int kMaxRuntimeDepth = 32;

std::string lowerAscii(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; });
    return text;
}

std::string utf8Of(const fs::path& path) {
    const std::u8string text = path.generic_u8string();
    return std::string(text.begin(), text.end());
}

bool isArchiveName(const std::string& name) {
    const std::string lower = lowerAscii(name);
    return lower.ends_with(".jar") || lower.ends_with(".zip");
}

// Findings are printed together once everything was checked, errors first, as `build` does.
class Findings {
public:
    explicit Findings(fs::path config) : config_(config.string()) {}

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
    void print() const {
        for (const std::string& line : failed() ? errors_ : warnings_) {
            std::cerr << "morix-build: " << line << "\n";
        }
    }

private:
    std::string config_;
    std::vector<std::string> errors_;
    std::vector<std::string> warnings_;
};

// What goes where in the image: a file from its source, the launcher (no source), or a directory.
struct Placed {
    std::string name; // UTF-8, relative to the image directory, "/" between the parts
    fs::path source;
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

// A path that the launcher resolves against its own directory, as a name inside the image; none when it
// is absolute, holds a variable, leaves the image or is the image directory itself.
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

bool idSet(const Payload& p, int32_t id) {
    const std::string* value = p.findString(id);
    return value && std::strtol(value->c_str(), nullptr, 10) != 0;
}

void setId(Payload& p, int32_t id, const std::string& value) {
    std::erase_if(p.strings, [&](const auto& entry) { return entry.first == id; });
    p.strings.emplace_back(id, value);
    std::stable_sort(p.strings.begin(), p.strings.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
}

// Keys of [application] read from a text of their own, so that a value from the command line is checked
// and encoded exactly as the configuration's own would be; `origin` names the option in findings.
std::optional<Payload> readApplicationKeys(const std::string& origin, const std::string& keys,
                                           const ReadOptions& read, Findings& findings) {
    const std::string text =
        "[application]\ninclude_runtime_jar = false\n" + keys + "\n[messages]\ndefaults = false\n";
    Configuration defaults = readConfiguration(origin, text, read);
    for (Diagnostic d : defaults.errors) {
        d.line = 0; // a line of the text made here would mean nothing to the caller
        findings.add(d);
    }
    return defaults.payload;
}

void addMainClass(Payload& p, const std::string& mainClass, const ReadOptions& read, Findings& findings) {
    if (mainClass.empty() || p.findString(kMainClassId)) {
        return;
    }
    std::optional<Payload> keys =
        readApplicationKeys("--main-class", "main_class = " + tomlString(mainClass), read, findings);
    for (int32_t id : {kMainClassId, kMainClassInModuleId}) {
        if (const std::string* value = keys ? keys->findString(id) : nullptr) {
            setId(p, id, *value);
        }
    }
}

// Without a class path or module path of its own, the application's archives form the class path, in
// the order given.
void addClassPath(Payload& p, const std::vector<std::string>& libs, const ReadOptions& read,
                  Findings& findings) {
    if (libs.empty() || p.findString(kClassPathId) || p.findString(kModulePathId)) {
        return;
    }
    std::string list;
    for (const std::string& lib : libs) {
        list += (list.empty() ? "" : ", ") + std::string("{ archive = ") +
                tomlString(std::string(kLibDirectory) + "/" + lib) + ", required = true }";
    }
    std::optional<Payload> keys = readApplicationKeys("--lib", "class_path = [" + list + "]", read, findings);
    if (const std::string* value = keys ? keys->findString(kClassPathId) : nullptr) {
        setId(p, kClassPathId, *value);
    }
}

// The application's version as the launcher's file and product version, where [executable.version]
// leaves them open.
void addVersion(toml::table& executable, const std::string& version, Findings& findings) {
    toml::node* node = executable.get("version");
    if (version.empty() || (node && !node->is_table())) {
        return;
    }
    if (!node) {
        node = &executable.insert("version", toml::table{}).first->second;
    }
    toml::table& table = *node->as_table();
    const bool file = table.contains("file_version");
    const bool product = table.contains("product_version");
    if (file && product) {
        return;
    }
    std::string problem;
    std::optional<payload::VersionNumber> number = windowsVersionOf(version, problem);
    if (!number) {
        findings.error("executable.version", "--version: " + problem,
                       "set executable.version.file_version and product_version in the configuration");
        return;
    }
    const std::string text = payload::formatVersionNumber(*number);
    if (!file) {
        table.insert("file_version", text);
    }
    if (!product) {
        table.insert("product_version", text);
    }
}

struct NamedSource {
    std::string name;
    fs::path source;
};

// "NAME=FILE", or with `nameOptional` also "FILE" (then named as the file is). A name holds no path
// separator then, so a path whose directory has a "=" in its name still reads as a path.
std::optional<NamedSource> namedSource(const std::string& spec, bool nameOptional, const std::string& option,
                                       Findings& findings) {
    const size_t equals = spec.find('=');
    NamedSource named;
    if (equals != std::string::npos &&
        (!nameOptional || spec.substr(0, equals).find_first_of("/\\") == std::string::npos)) {
        named = {spec.substr(0, equals), fs::u8path(spec.substr(equals + 1))};
    } else if (nameOptional) {
        named = {utf8Of(fs::u8path(spec).filename()), fs::u8path(spec)};
    } else {
        findings.error(option + " " + spec + ": expected NAME=FILE");
        return std::nullopt;
    }
    std::error_code ec;
    if (!fs::is_regular_file(named.source, ec)) {
        findings.error(option + " " + spec + ": " + named.source.string() + " is not a file");
        return std::nullopt;
    }
    return named;
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

// The runtime goes to the first directory of the search sequence that lies inside the image.
void placeRuntime(const fs::path& home, const Payload& p, uint16_t machine, Layout& layout,
                  Findings& findings) {
    std::optional<std::string> target;
    const std::string* sequence = p.findString(kSearchSequenceId);
    for (const std::string& entry : sequence ? splitAt(*sequence, ';') : std::vector<std::string>{}) {
        if (!entry.empty() && std::string_view("ARB").find(entry[0]) != std::string_view::npos) {
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
    const std::string* type = p.findString(kLauncherTypeId);
    needs.javaw = type && *type == "1";
    needs.jdk = idSet(p, kRequireJdkId);
    if (const std::string* vm = p.findString(kPreferredVmId)) {
        needs.preferredVm = payload::cp1252ToUtf8(*vm);
    }
    if (std::optional<std::string> problem = runtimeHomeProblem(home, needs)) {
        findings.error(*problem);
        return;
    }
    placeRuntimeFiles(home, *target, layout, findings);
}

struct PathEntry {
    char kind;
    bool required;
    std::string name; // UTF-8
};

std::vector<PathEntry> pathEntries(const Payload& p, int32_t id) {
    std::vector<PathEntry> entries;
    const std::string* value = p.findString(id);
    for (const std::string& entry : value ? splitAt(*value, ';') : std::vector<std::string>{}) {
        if (entry.size() > 2) {
            entries.push_back({entry[0], entry[1] == '1', payload::cp1252ToUtf8(entry.substr(2))});
        }
    }
    return entries;
}

// What the class path and module path reach inside the image.
struct PathsInImage {
    bool complete = true; // every entry is inside the image, so the main class can be looked for
    std::vector<const Placed*> archives; // files on the paths
    std::vector<std::string> directories;
};

PathsInImage checkPaths(const Payload& p, const Layout& layout, Findings& findings) {
    PathsInImage reached;
    for (int32_t id : {kClassPathId, kModulePathId}) {
        const std::string key = id == kClassPathId ? "application.class_path" : "application.module_path";
        for (const PathEntry& entry : pathEntries(p, id)) {
            std::optional<std::string> name = insideImage(entry.name);
            if (entry.kind == 'E' || !name) {
                reached.complete = false;
                continue;
            }
            const Placed* at = layout.find(*name);
            if (entry.kind == 'A' || (entry.kind == 'D' && at && !at->directory)) {
                if (at && !at->directory) {
                    reached.archives.push_back(at);
                } else {
                    findings.error(key, "names " + *name + ", which the image does not hold",
                                   "place it with --lib (the Maven plugin places the project's artifact and "
                                   "its runtime dependencies), or remove the entry");
                }
            } else if (entry.kind == 'D' || entry.kind == 'S') {
                const bool held = layout.holdsBelow(*name);
                if (entry.kind == 'D' && held) {
                    reached.directories.push_back(*name);
                }
                for (const Placed* file :
                     entry.kind == 'S' ? layout.filesIn(*name) : std::vector<const Placed*>{}) {
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

void checkMainClass(const Payload& p, const Layout& layout, const PathsInImage& paths, Findings& findings) {
    const std::string* mainClass = p.findString(kMainClassId);
    if (!mainClass || mainClass->empty()) {
        findings.error("application.main_class", "is not set, so the image's launcher has no class to run",
                       "set application.main_class, or give --main-class (the Maven plugin's mainClass)");
        return;
    }
    std::string className = payload::cp1252ToUtf8(*mainClass);
    if (idSet(p, kMainClassInModuleId) && className.find('/') != std::string::npos) {
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

// A launcher that a previous image run wrote: only then may its directory be replaced.
bool isLauncher(const fs::path& file, const ReadOptions& read) {
    std::optional<std::string> image = read.readFile(file);
    std::optional<uint64_t> start = image ? payload::findPayloadStart(*image, nullptr) : std::nullopt;
    return start && *start < image->size() &&
           payload::parse(std::string_view(*image).substr(*start)).payload.has_value();
}

std::optional<std::string> outputProblem(const fs::path& output, const std::string& launcherName,
                                         const ReadOptions& read) {
    std::error_code ec;
    if (!fs::exists(output, ec)) {
        return std::nullopt;
    }
    if (!fs::is_directory(output, ec)) {
        return output.string() + " exists and is not a directory";
    }
    if (fs::is_empty(output, ec) || isLauncher(output / fs::u8path(launcherName), read)) {
        return std::nullopt;
    }
    return output.string() + " exists and is not an image that morix-build image wrote (it has no launcher " +
           launcherName + "); remove it or choose another directory";
}

// Writes the image beside its place, then puts it there, so that a failure leaves the old image or none.
bool writeImage(const fs::path& output, const Layout& layout, const std::string& launcher,
                std::string& problem) {
    fs::path part = output;
    part += ".part";
    fs::path old = output;
    old += ".old";
    std::error_code ec;
    fs::remove_all(part, ec);
    fs::create_directories(part, ec);
    for (const auto& [key, entry] : layout.entries()) {
        if (ec) {
            break;
        }
        const fs::path target = part / fs::u8path(entry.name);
        if (entry.directory) {
            fs::create_directories(target, ec);
            continue;
        }
        fs::create_directories(target.parent_path(), ec);
        if (ec) {
            break;
        }
        if (!entry.source.empty()) {
            fs::copy_file(entry.source, target, fs::copy_options::overwrite_existing, ec);
            continue;
        }
        std::ofstream out(target, std::ios::binary | std::ios::trunc);
        if (!out.write(launcher.data(), static_cast<std::streamsize>(launcher.size())) || !out.flush()) {
            ec = std::make_error_code(std::errc::io_error);
        }
    }
    if (!ec) {
        fs::remove_all(old, ec);
    }
    if (!ec && fs::exists(output, ec)) {
        fs::rename(output, old, ec);
    }
    if (!ec) {
        fs::rename(part, output, ec);
    }
    if (ec) {
        problem = "cannot write the image " + output.string() + ": " + ec.message();
        fs::remove_all(part, ec);
        return false;
    }
    fs::remove_all(old, ec);
    return true;
}

// The zip holds the image under one top directory named as the image directory.
std::vector<ZipEntry> zipEntries(const Layout& layout, const fs::path& output) {
    const std::string top = utf8Of(output.filename()) + "/";
    std::set<std::string> directories = {top};
    std::vector<ZipEntry> entries;
    for (const auto& [key, entry] : layout.entries()) {
        if (entry.directory) {
            directories.insert(top + entry.name + "/");
            continue;
        }
        entries.push_back({top + entry.name, output / fs::u8path(entry.name)});
        for (size_t slash = entry.name.find('/'); slash != std::string::npos;
             slash = entry.name.find('/', slash + 1)) {
            directories.insert(top + entry.name.substr(0, slash + 1));
        }
    }
    for (const std::string& directory : directories) {
        entries.push_back({directory, {}});
    }
    return entries;
}

int64_t zipTimestamp(const ImageOptions& options) {
    if (options.timestamp) {
        return *options.timestamp;
    }
    // The reproducible-builds convention for tools that write times.
    if (const char* epoch = std::getenv("SOURCE_DATE_EPOCH"); epoch && *epoch) {
        char* end = nullptr;
        const long long seconds = std::strtoll(epoch, &end, 10);
        if (end && *end == '\0') {
            return seconds;
        }
    }
    return kEarliestZipTime;
}

bool writeZipFile(const fs::path& zip, const Layout& layout, const fs::path& output, int64_t time,
                  std::string& problem) {
    fs::path part = zip;
    part += ".part";
    std::error_code ec;
    if (!writeZip(part, zipEntries(layout, output), time, problem)) {
        fs::remove(part, ec);
        return false;
    }
    fs::rename(part, zip, ec);
    if (ec) {
        problem = "cannot write " + zip.string() + ": " + ec.message();
        fs::remove(part, ec);
        return false;
    }
    return true;
}

// The launcher and the files given on the command line, in their places. Returns the names in lib/, in
// the order given.
std::vector<std::string> placeGivenFiles(const ImageOptions& options, const std::string& launcherName,
                                         Layout& layout, Findings& findings) {
    if (std::optional<std::string> problem = namePartProblem(launcherName)) {
        findings.error("--name " + options.name + ": the launcher's name has " + *problem);
    }
    layout.add({launcherName, {}, false, "the launcher"}, findings);
    std::vector<std::string> libs;
    for (const std::string& spec : options.libs) {
        std::optional<NamedSource> lib = namedSource(spec, true, "--lib", findings);
        if (!lib) {
            continue;
        }
        if (std::optional<std::string> problem = namePartProblem(lib->name)) {
            findings.error("--lib " + spec + ": the name has " + *problem);
            continue;
        }
        layout.add({std::string(kLibDirectory) + "/" + lib->name, lib->source, false, "--lib " + spec},
                   findings);
        libs.push_back(lib->name);
    }
    for (const std::string& spec : options.files) {
        std::optional<NamedSource> file = namedSource(spec, false, "--file", findings);
        std::optional<std::string> inside = file ? insideImage(file->name) : std::nullopt;
        if (file && !inside) {
            findings.error("--file " + spec + ": " + file->name + " is not a place inside the image");
        }
        bool valid = inside.has_value();
        for (const std::string& part : inside ? splitAt(*inside, '/') : std::vector<std::string>{}) {
            if (std::optional<std::string> problem = namePartProblem(part); problem && valid) {
                findings.error("--file " + spec + ": the name has " + *problem);
                valid = false;
            }
        }
        if (valid) {
            layout.add({*inside, file->source, false, "--file " + spec}, findings);
        }
    }
    return libs;
}

// The launcher's resources: the configuration's [executable] table, with the application's version where
// the table leaves the file and product version open.
ExecutableSettings executableSettings(const Configuration& config, const ImageOptions& options,
                                      Findings& findings) {
    toml::table executable = config.executable.value_or(toml::table{});
    addVersion(executable, options.version, findings);
    ExecutableSettings settings;
    std::string problem;
    if ((config.executable || !executable.empty()) &&
        !readExecutableSettings(executable, options.configFile.parent_path(), settings, problem)) {
        findings.error(options.configFile.string() + ": " + problem);
    }
    return settings;
}

void checkOutputs(const fs::path& output, const std::optional<fs::path>& zip, const std::string& launcherName,
                  const ReadOptions& read, Findings& findings) {
    if (std::optional<std::string> problem = outputProblem(output, launcherName, read)) {
        findings.error(*problem);
    }
    if (zip && !zip->lexically_relative(output).empty() && *zip->lexically_relative(output).begin() != "..") {
        findings.error("the zip " + zip->string() + " would be inside the image directory");
    }
}

int writeOutputs(const fs::path& output, const std::optional<fs::path>& zip, const Layout& layout,
                 const std::string& launcherName, const std::string& launcher, int64_t time) {
    std::string problem;
    if (!writeImage(output, layout, launcher, problem)) {
        std::cerr << "morix-build: error: " << problem << "\n";
        return kBadInput;
    }
    const auto files = std::count_if(layout.entries().begin(), layout.entries().end(),
                                     [](const auto& entry) { return !entry.second.directory; });
    std::cout << "wrote " << output.string() << " (" << files << " files; the launcher " << launcherName
              << ", " << launcher.size() << " bytes)\n";
    if (!zip) {
        return 0;
    }
    if (!writeZipFile(*zip, layout, output, time, problem)) {
        std::cerr << "morix-build: error: " << problem << "\n";
        return kBadInput;
    }
    std::error_code ec;
    std::cout << "wrote " << zip->string() << " (" << fs::file_size(*zip, ec) << " bytes)\n";
    return 0;
}

} // namespace

int buildImage(const ImageOptions& options) {
    Findings findings(options.configFile);
    fs::path output = fs::absolute(options.output).lexically_normal();
    if (!output.has_filename()) {
        output = output.parent_path();
    }
    const std::string launcherName =
        (options.name.empty() ? utf8Of(options.configFile.stem()) : options.name) + ".exe";
    const fs::path zip =
        options.zip ? fs::absolute(*options.zip).lexically_normal() : fs::path(output.string() + ".zip");

    ReadOptions read = diskReadOptions(options.configFile.parent_path(), options.runtimeJar);
    // The required archives are checked against the image, not against the configuration's directory.
    read.fileExists = nullptr;
    std::optional<std::string> text = read.readFile(options.configFile);
    if (!text) {
        std::cerr << "morix-build: " << options.configFile.string() << ": cannot read the file\n";
        return kBadInput;
    }
    Configuration config = readConfiguration(options.configFile.string(), *text, read);
    findings.add(config);
    if (!config.payload) {
        findings.print();
        return kBadInput;
    }
    Payload& p = *config.payload;
    addMainClass(p, options.mainClass, read, findings);
    Layout layout;
    addClassPath(p, placeGivenFiles(options, launcherName, layout, findings), read, findings);
    const ExecutableSettings settings = executableSettings(config, options, findings);

    std::string problem;
    std::optional<std::string> templateImage = read.readFile(options.templateFile);
    std::optional<payload::PeLayout> pe =
        templateImage ? payload::readPeLayout(*templateImage, &problem) : std::nullopt;
    if (!pe) {
        findings.error(options.templateFile.string() + ": " +
                       (templateImage ? problem : "cannot read the file"));
    } else if (options.runtime) {
        placeRuntime(*options.runtime, p, pe->machine, layout, findings);
    }
    checkMainClass(p, layout, checkPaths(p, layout, findings), findings);
    checkOutputs(output, options.noZip ? std::optional<fs::path>() : zip, launcherName, read, findings);

    std::optional<std::string> launcher;
    if (!findings.failed()) {
        templateImage = prepareTemplate(std::move(*templateImage), settings,
                                        output / fs::u8path(launcherName), false, problem);
        launcher = templateImage ? payload::attachPayload(*templateImage, p, &problem) : std::nullopt;
        if (!launcher) {
            findings.error(options.templateFile.string() + ": " + problem);
        }
    }
    findings.print();
    if (findings.failed()) {
        return kBadInput;
    }
    return writeOutputs(output, options.noZip ? std::optional<fs::path>() : zip, layout, launcherName,
                        *launcher, zipTimestamp(options));
}

} // namespace morix::builder
