#include "image.h"

#include "encoding.h"
#include "executable_config.h"
#include "image_layout.h"
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
#include <set>

namespace morix::builder {
namespace {

namespace fs = std::filesystem;
using namespace image;
using payload::Payload;

constexpr int kBadInput = 2;

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
    if (mainClass.empty() || p.findString(ids::kMainClass)) {
        return;
    }
    std::optional<Payload> keys =
        readApplicationKeys("--main-class", "main_class = " + tomlString(mainClass), read, findings);
    for (int32_t id : {ids::kMainClass, ids::kMainClassInModule}) {
        if (const std::string* value = keys ? keys->findString(id) : nullptr) {
            setId(p, id, *value);
        }
    }
}

// Without a class path or module path of its own, the application's archives form the class path, in
// the order given.
void addClassPath(Payload& p, const std::vector<std::string>& libs, const ReadOptions& read,
                  Findings& findings) {
    if (libs.empty() || p.findString(ids::kClassPath) || p.findString(ids::kModulePath)) {
        return;
    }
    std::string list;
    for (const std::string& lib : libs) {
        list += (list.empty() ? "" : ", ") + std::string("{ archive = ") +
                tomlString(std::string(kLibDirectory) + "/" + lib) + ", required = true }";
    }
    std::optional<Payload> keys = readApplicationKeys("--lib", "class_path = [" + list + "]", read, findings);
    if (const std::string* value = keys ? keys->findString(ids::kClassPath) : nullptr) {
        setId(p, ids::kClassPath, *value);
    }
}

struct NamedSource {
    std::string name;
    fs::path source;
};

// "NAME=FILE", or with `nameOptional` also "FILE" (then named as the file is). A name holds no path
// separator then, so a path whose directory has a "=" in its name still reads as a path. The texts are
// in the command line's encoding, as every path option of the builder is.
std::optional<NamedSource> namedSource(const std::string& given, bool nameOptional, const std::string& option,
                                       Findings& findings) {
    const size_t equals = given.find('=');
    NamedSource named;
    if (equals != std::string::npos &&
        (!nameOptional || given.substr(0, equals).find_first_of("/\\") == std::string::npos)) {
        named = {utf8Of(fs::path(given.substr(0, equals))), fs::path(given.substr(equals + 1))};
    } else if (nameOptional) {
        named = {utf8Of(fs::path(given).filename()), fs::path(given)};
    } else {
        findings.error(option + " " + given + ": expected NAME=FILE");
        return std::nullopt;
    }
    std::error_code ec;
    if (!fs::is_regular_file(named.source, ec)) {
        findings.error(option + " " + given + ": " + named.source.string() + " is not a file");
        return std::nullopt;
    }
    return named;
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
    for (const std::string& given : options.libs) {
        std::optional<NamedSource> lib = namedSource(given, true, "--lib", findings);
        if (!lib) {
            continue;
        }
        if (std::optional<std::string> problem = namePartProblem(lib->name)) {
            findings.error("--lib " + given + ": the name has " + *problem);
            continue;
        }
        layout.add({std::string(kLibDirectory) + "/" + lib->name, lib->source, false, "--lib " + given},
                   findings);
        libs.push_back(lib->name);
    }
    for (const std::string& given : options.files) {
        std::optional<NamedSource> file = namedSource(given, false, "--file", findings);
        std::optional<std::string> inside = file ? insideImage(file->name) : std::nullopt;
        if (file && !inside) {
            findings.error("--file " + given + ": " + file->name + " is not a place inside the image");
        }
        bool valid = inside.has_value();
        for (const std::string& part : inside ? splitAt(*inside, '/') : std::vector<std::string>{}) {
            if (std::optional<std::string> problem = namePartProblem(part); problem && valid) {
                findings.error("--file " + given + ": the name has " + *problem);
                valid = false;
            }
        }
        if (valid) {
            layout.add({*inside, file->source, false, "--file " + given}, findings);
        }
    }
    return libs;
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
        utf8Of(options.name.empty() ? options.configFile.stem() : fs::path(options.name)) + ".exe";
    const fs::path zip =
        options.zip ? fs::absolute(*options.zip).lexically_normal() : fs::path(output.string() + ".zip");

    ReadOptions read = diskReadOptions(options.configFile.parent_path(), options.runtimeJar);
    // The required archives are checked against the image, not against the configuration's directory.
    read.fileExists = nullptr;
    std::string versionProblem;
    if (!options.version.empty()) {
        read.applicationVersion = windowsVersionOf(options.version, versionProblem);
    }
    std::optional<std::string> text = read.readFile(options.configFile);
    if (!text) {
        std::cerr << "morix-build: " << options.configFile.string() << ": cannot read the file\n";
        return kBadInput;
    }
    Configuration config = readConfiguration(options.configFile.string(), *text, read);
    findings.add(config);
    if (!versionProblem.empty() && !config.versionsGiven) {
        findings.error("executable.version", "--version: " + versionProblem,
                       "set executable.version.file_version and product_version in the configuration");
    }
    if (!config.payload) {
        findings.print();
        return kBadInput;
    }
    Payload& p = *config.payload;
    addMainClass(p, options.mainClass, read, findings);
    Layout layout;
    addClassPath(p, placeGivenFiles(options, launcherName, layout, findings), read, findings);

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
        templateImage = prepareTemplate(std::move(*templateImage), config.executable,
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
