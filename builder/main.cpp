// morix-build: makes an application's launcher from the launcher template and a configuration, shows
// what a launcher carries, writes a starter configuration and prints the configuration reference.
#include "config.h"
#include "executable_config.h"
#include "image.h"
#include "inspect.h"
#include "key_table.h"
#include "named_form.h"

#include "morix/executable_resources.h"
#include "morix/payload_format.h"
#include "morix/pe_image.h"
#include "morix/text_encoding.h"

#include <CLI/CLI.hpp>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>

namespace {

namespace fs = std::filesystem;
using morix::builder::Configuration;
using morix::builder::Diagnostic;
using morix::payload::Payload;

// Bad input (an unreadable file, a malformed configuration, a template that is not a launcher).
constexpr int kBadInput = 2;

int badInput(const fs::path& file, const std::string& problem) {
    std::cerr << "morix-build: " << file.string() << ": " << problem << "\n";
    return kBadInput;
}

std::optional<std::string> readFile(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        return std::nullopt;
    }
    std::ostringstream buffer;
    buffer << in.rdbuf();
    if (in.bad()) {
        return std::nullopt;
    }
    return buffer.str();
}

// Writes beside the target first, so that a failed build never leaves a half-written file.
bool writeFileAtomically(const fs::path& file, const std::string& content, std::string& problem) {
    fs::path temporary = file;
    temporary += ".part";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        if (!out || !out.write(content.data(), static_cast<std::streamsize>(content.size())) ||
            !out.flush()) {
            problem = "cannot write the file";
            out.close();
            std::error_code ignored;
            fs::remove(temporary, ignored);
            return false;
        }
    }
    std::error_code ec;
    fs::rename(temporary, file, ec);
    if (ec) {
        problem = "cannot replace the file: " + ec.message();
        fs::remove(temporary, ec);
        return false;
    }
    return true;
}

// The morix-runtime.jar that ships beside the builder.
std::optional<fs::path> defaultRuntimeJar() {
    fs::path self;
#ifdef _WIN32
    // The C runtime's copy of the program's full path (msvcrt has no _get_pgmptr).
    if (_pgmptr && *_pgmptr) {
        self = _pgmptr;
    }
#else
    std::error_code ec;
    self = fs::read_symlink("/proc/self/exe", ec);
#endif
    if (self.empty()) {
        return std::nullopt;
    }
    return self.parent_path() / std::string(morix::builder::kRuntimeJarName);
}

// Warnings are about the launcher's run; when nothing is built, only the errors count.
void printFindings(const Configuration& config) {
    for (const Diagnostic& d : config.errors.empty() ? config.warnings : std::vector<Diagnostic>{}) {
        std::cerr << "morix-build: " << morix::builder::formatDiagnostic(d, true) << "\n";
    }
    for (const Diagnostic& d : config.errors) {
        std::cerr << "morix-build: " << morix::builder::formatDiagnostic(d, false) << "\n";
    }
}

int build(const fs::path& templateFile, const fs::path& configFile, const fs::path& output,
          bool dropSignature) {
    Configuration config = morix::builder::loadConfiguration(configFile, defaultRuntimeJar());
    printFindings(config);
    if (!config.payload) {
        return kBadInput;
    }
    std::optional<std::string> templateImage = readFile(templateFile);
    if (!templateImage) {
        return badInput(templateFile, "cannot read the file");
    }
    std::string problem;
    templateImage = morix::builder::prepareTemplate(std::move(*templateImage), config.executable, output,
                                                    dropSignature, problem);
    if (!templateImage) {
        return badInput(templateFile, problem);
    }
    std::optional<std::string> launcher =
        morix::payload::attachPayload(*templateImage, *config.payload, &problem);
    if (!launcher) {
        return badInput(templateFile, problem);
    }
    if (!writeFileAtomically(output, *launcher, problem)) {
        return badInput(output, problem);
    }
    const Payload& p = *config.payload;
    std::cout << "wrote " << output.string() << " (" << launcher->size() << " bytes, " << p.strings.size()
              << " strings, " << p.wideStrings.size() << " wide strings, " << p.messageSets.size()
              << " message sets, " << p.files.size() << " included files)\n";
    return 0;
}

// The included file names as the named form's sources give them.
std::string sourceName(const morix::payload::IncludedFile& file) {
    std::string name = morix::payload::cp1252ToUtf8(file.name);
    std::replace(name.begin(), name.end(), '\\', '/');
    return name;
}

bool extractFile(const fs::path& target, const std::string& content) {
    std::error_code ec;
    fs::create_directories(target.parent_path(), ec);
    std::string problem;
    if (ec || !writeFileAtomically(target, content, problem)) {
        badInput(target, ec ? "cannot create the directory" : problem);
        return false;
    }
    return true;
}

// Writes the included files and the icon below `directory`, where the named form's sources point.
bool extractFiles(const Payload& p, const morix::builder::ExecutableSettings* executable,
                  const fs::path& directory) {
    for (const morix::payload::IncludedFile& file : p.files) {
        if (!morix::payload::includedNameProblem(file.name) &&
            !extractFile(directory / fs::u8path(sourceName(file)), file.content)) {
            return false;
        }
    }
    return !executable || executable->icon.empty() ||
           extractFile(directory / fs::u8path(executable->iconFile),
                       morix::payload::buildIcoFile(executable->icon));
}

// The icon's file name in the named form: the launcher's, unless an included file has that name.
std::string iconFileName(const fs::path& launcher, const Payload& p) {
    std::u8string stem = launcher.stem().u8string();
    std::string name = std::string(stem.begin(), stem.end()) + ".ico";
    for (const morix::payload::IncludedFile& file : p.files) {
        if (sourceName(file) == name) {
            return "icon-of-" + name;
        }
    }
    return name;
}

int inspect(const fs::path& file, const std::string& format, const fs::path& extractTo) {
    std::optional<std::string> image = readFile(file);
    if (!image) {
        return badInput(file, "cannot read the file");
    }
    std::string problem;
    std::optional<uint64_t> start = morix::payload::findPayloadStart(*image, &problem);
    if (!start) {
        return badInput(file, problem);
    }
    if (*start >= image->size()) {
        return badInput(file, "no payload: nothing follows the executable image");
    }
    morix::payload::ParseResult parsed = morix::payload::parse(std::string_view(*image).substr(*start));
    if (!parsed.payload) {
        return badInput(
            file, "no valid payload: it stops at offset " + std::to_string(parsed.stoppedAt) +
                      " of the payload (file offset " + std::to_string(*start + parsed.stoppedAt) + ", " +
                      std::to_string(image->size() - *start) + " payload bytes), in " + parsed.where +
                      "; the launcher would fail with \"Internal Error: " + parsed.error + "\"");
    }
    if (format == "text") {
        morix::builder::printExecutable(std::cout, *image);
        morix::builder::printPayload(std::cout, *parsed.payload, *start);
        return 0;
    }
    std::optional<std::string> runtimeJar;
    if (std::optional<fs::path> jar = defaultRuntimeJar()) {
        runtimeJar = readFile(*jar);
    }
    std::vector<std::string> notes;
    std::optional<morix::builder::ExecutableSettings> executable = morix::builder::executableSettingsOf(
        *image, file.filename(), iconFileName(file, *parsed.payload), notes);
    morix::builder::NamedForm form =
        morix::builder::namedForm(*parsed.payload, runtimeJar, executable ? &*executable : nullptr);
    std::cout << form.text;
    notes.insert(notes.end(), form.notes.begin(), form.notes.end());
    for (const std::string& note : notes) {
        std::cerr << "morix-build: note: " << note << "\n";
    }
    if (!extractTo.empty() &&
        !extractFiles(*parsed.payload, executable ? &*executable : nullptr, extractTo)) {
        return kBadInput;
    }
    return 0;
}

// The starter's build line names the configuration as init was given it, and a launcher of its stem.
std::string starterConfiguration(const std::string& mainClass, const std::string& jar,
                                 const fs::path& output) {
    using morix::builder::tomlString;
    fs::path launcher = output.filename();
    launcher.replace_extension(".exe");
    return "# Launcher configuration for " + mainClass +
           ", written by morix-build init.\n"
           "#   morix-build build --template morix-launcher.exe --config " +
           output.generic_string() + " -o " + launcher.generic_string() +
           "\n"
           "# Every key is described in docs/configuration.md.\n"
           "\n"
           "[application]\n"
           "main_class = " +
           tomlString(mainClass) +
           "\n"
           "# Relative to the launcher's directory. The builder includes morix-runtime.jar itself\n"
           "# (application.include_runtime_jar), so list only your own archives.\n"
           "class_path = [{ archive = " +
           tomlString(jar) +
           ", required = true }]\n"
           "# arguments = [\"--verbose\"]            # passed to main before the command line's\n"
           "\n"
           "[runtime]\n"
           "min_version = \"1.8\"\n"
           "# A runtime beside the launcher first, then the installed ones.\n"
           "search = [{ directory = \"jre\" }, \"registry\", \"path\"]\n"
           "\n"
           "[jvm]\n"
           "options = [\"-Xmx256m\"]\n"
           "# read_vmoptions = true                 # also read app.vmoptions beside the launcher\n"
           "\n"
           "# [service]                             # to run the application as a Windows service\n"
           "# name = \"MyService\"\n"
           "# description = \"Runs my application\"\n"
           "# start = \"auto\"\n"
           "# stop_timeout = 30                     # seconds the application gets to end on a stop\n"
           "\n"
           "# [messages]\n"
           "# include = [\"de\"]                      # German texts for German users\n";
}

int init(const std::string& mainClass, const std::string& jar, const fs::path& output) {
    if (fs::exists(output)) {
        return badInput(output, "exists already; init writes only new files");
    }
    const std::string text = starterConfiguration(mainClass, jar, output);
    // The starter must be a configuration that build accepts: check its values before writing it.
    morix::builder::ReadOptions options;
    options.readFile = [](const fs::path&) { return std::optional<std::string>(""); };
    options.runtimeJar = fs::path(std::string(morix::builder::kRuntimeJarName));
    Configuration config = morix::builder::readConfiguration(output.string(), text, options);
    if (!config.payload) {
        for (const Diagnostic& d : config.errors) {
            std::cerr << "morix-build: " << morix::builder::formatDiagnostic(d, false) << "\n";
        }
        return kBadInput;
    }
    std::string problem;
    if (!writeFileAtomically(output, text, problem)) {
        return badInput(output, problem);
    }
    std::cout << "wrote " << output.string() << "\n";
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    CLI::App app{"morix-build: makes Java application launchers from the Morix launcher template"};
    app.require_subcommand(1);

    fs::path templateFile;
    fs::path configFile;
    fs::path output;
    CLI::App* buildCommand =
        app.add_subcommand("build", "write a launcher: the template followed by a payload");
    buildCommand->add_option("--template", templateFile, "the launcher template (morix-launcher.exe)")
        ->required();
    buildCommand->add_option("--config", configFile, "the configuration file (TOML)")->required();
    buildCommand->add_option("-o,--output", output, "the launcher to write")->required();
    bool dropSignature = false;
    buildCommand->add_flag("--drop-signature", dropSignature,
                           "build from a signed template or launcher, dropping its signature");

    fs::path inspected;
    std::string format = "text";
    fs::path extractTo;
    CLI::App* inspectCommand =
        app.add_subcommand("inspect", "print what a launcher carries: resources and payload");
    inspectCommand->add_option("launcher", inspected, "the launcher to read")->required();
    inspectCommand
        ->add_option("--format", format, "text (the ids) or toml (a configuration that build accepts)")
        ->check(CLI::IsMember({"text", "toml"}));
    inspectCommand->add_option(
        "--extract-to", extractTo,
        "write the included files (and the icon) into this directory, under the names the toml form reads");

    std::string mainClass;
    std::string jar;
    fs::path initOutput = "app.toml";
    CLI::App* initCommand = app.add_subcommand("init", "write a commented starter configuration");
    initCommand->add_option("--main-class", mainClass, "the application's main class")->required();
    initCommand->add_option("--jar", jar, "the application's jar, relative to the launcher")->required();
    initCommand->add_option("-o,--output", initOutput, "the configuration to write (default app.toml)");

    morix::builder::ImageOptions image;
    std::optional<fs::path> imageZip;
    CLI::App* imageCommand = app.add_subcommand(
        "image", "write an application folder: the launcher, lib/ with the archives, a runtime, and its zip");
    imageCommand->add_option("--template", image.templateFile, "the launcher template (morix-launcher.exe)")
        ->required();
    imageCommand->add_option("--config", image.configFile, "the configuration file (TOML)")->required();
    imageCommand->add_option("-o,--output", image.output, "the image directory to write")->required();
    imageCommand->add_option("--name", image.name,
                             "the launcher's name without .exe (default: the configuration's)");
    imageCommand->add_option("--lib", image.libs, "[NAME=]FILE: an archive for lib/ (repeatable)");
    imageCommand->add_option("--file", image.files,
                             "NAME=FILE: another file, at NAME in the image (repeatable)");
    imageCommand->add_option("--runtime", image.runtime,
                             "a Java runtime home, copied to the first directory of runtime.search");
    imageCommand->add_option("--main-class", image.mainClass,
                             "the main class, unless the configuration names one");
    imageCommand->add_option("--version", image.version,
                             "the application's version (such as 1.4.0-SNAPSHOT): the launcher's file and "
                             "product version, unless [executable.version] gives them");
    imageCommand->add_option("--runtime-jar", image.runtimeJar,
                             "the morix-runtime.jar to include (default: the one beside morix-build)");
    imageCommand->add_option("--zip", imageZip,
                             "the zip to write (default: the image directory's path with .zip)");
    imageCommand->add_flag("--no-zip", image.noZip, "write no zip");
    imageCommand->add_option(
        "--timestamp", image.timestamp,
        "the time of the zip's entries in seconds since 1970 (default: SOURCE_DATE_EPOCH, "
        "else 1980-01-01)");

    std::string topic = "configuration";
    CLI::App* referenceCommand = app.add_subcommand(
        "reference",
        "print a reference: configuration (docs/configuration.md) or executable (docs/executable.md)");
    referenceCommand->add_option("topic", topic, "configuration (the default) or executable")
        ->check(CLI::IsMember({"configuration", "executable"}));

    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForAllHelp& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        std::cerr << "morix-build: " << e.what() << " (see --help)\n";
        return kBadInput;
    }
    if (*buildCommand) {
        return build(templateFile, configFile, output, dropSignature);
    }
    if (*imageCommand) {
        image.zip = imageZip;
        if (!image.runtimeJar) {
            image.runtimeJar = defaultRuntimeJar();
        }
        return morix::builder::buildImage(image);
    }
    if (*initCommand) {
        return init(mainClass, jar, initOutput);
    }
    if (*referenceCommand) {
        std::cout << (topic == "executable" ? morix::builder::executableReferenceMarkdown()
                                            : morix::builder::referenceMarkdown());
        return 0;
    }
    return inspect(inspected, format, extractTo);
}
