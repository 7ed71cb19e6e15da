// morix-build: makes an application's launcher from the launcher template and a configuration, and
// shows what a launcher carries.
#include "config.h"
#include "executable_config.h"
#include "inspect.h"

#include "morix/pe_image.h"

#include <CLI/CLI.hpp>

#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>

namespace {

namespace fs = std::filesystem;
using morix::payload::Payload;

// Bad input (an unreadable file, a malformed configuration, a template that is not a launcher).
constexpr int kBadInput = 2;

int badInput(const fs::path& file, const std::string& problem) {
    std::cerr << "morix-build: " << file.string() << ": " << problem << "\n";
    return kBadInput;
}

bool readFile(const fs::path& file, std::string& content) {
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        return false;
    }
    std::ostringstream buffer;
    buffer << in.rdbuf();
    content = buffer.str();
    return !in.bad();
}

// Writes beside the target first, so that a failed build never leaves a half-written launcher.
bool writeFileAtomically(const fs::path& file, const std::string& content, std::string& problem) {
    fs::path temporary = file;
    temporary += ".part";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        if (!out || !out.write(content.data(), static_cast<std::streamsize>(content.size())) ||
            !out.flush()) {
            problem = "cannot write the file";
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

int build(const fs::path& templateFile, const fs::path& configFile, const fs::path& output,
          bool dropSignature) {
    std::string problem;
    morix::builder::ExecutableSettings executable;
    std::optional<Payload> payload = morix::builder::loadConfig(configFile, problem, &executable);
    if (!payload) {
        return badInput(configFile, problem);
    }
    std::string templateImage;
    if (!readFile(templateFile, templateImage)) {
        return badInput(templateFile, "cannot read the file");
    }
    std::optional<std::string> prepared =
        morix::builder::prepareTemplate(std::move(templateImage), executable, output, dropSignature, problem);
    if (!prepared) {
        return badInput(templateFile, problem);
    }
    templateImage = std::move(*prepared);
    std::optional<std::string> launcher = morix::payload::attachPayload(templateImage, *payload, &problem);
    if (!launcher) {
        return badInput(templateFile, problem);
    }
    if (!writeFileAtomically(output, *launcher, problem)) {
        return badInput(output, problem);
    }
    std::cout << "wrote " << output.string() << " (" << launcher->size() << " bytes, "
              << payload->strings.size() << " strings, " << payload->wideStrings.size() << " wide strings, "
              << payload->messageSets.size() << " message sets, " << payload->files.size()
              << " included files)\n";
    return 0;
}

int inspect(const fs::path& file) {
    std::string image;
    if (!readFile(file, image)) {
        return badInput(file, "cannot read the file");
    }
    std::string problem;
    std::optional<uint64_t> start = morix::payload::findPayloadStart(image, &problem);
    if (!start) {
        return badInput(file, problem);
    }
    if (*start >= image.size()) {
        return badInput(file, "no payload: nothing follows the executable image");
    }
    morix::payload::ParseResult parsed = morix::payload::parse(std::string_view(image).substr(*start));
    if (!parsed.payload) {
        return badInput(
            file, "no valid payload (the launcher would fail with \"Internal Error: " + parsed.error + "\")");
    }
    morix::builder::printExecutable(std::cout, image);
    morix::builder::printPayload(std::cout, *parsed.payload, *start);
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
    CLI::App* inspectCommand =
        app.add_subcommand("inspect", "print what a launcher carries: resources and payload");
    inspectCommand->add_option("launcher", inspected, "the launcher to read")->required();

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
    return inspect(inspected);
}
