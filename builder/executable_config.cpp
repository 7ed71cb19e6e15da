#include "executable_config.h"

#include "morix/text_encoding.h"

#include <fstream>
#include <tuple>
#include <sstream>

namespace morix::builder {
namespace {

namespace fs = std::filesystem;
using payload::Resource;

// The version strings: the configuration's key and the key of the version resource's string table.
struct VersionString {
    const char* key;
    const char16_t* windowsKey;
};
constexpr VersionString kVersionStrings[] = {
    {"company", u"CompanyName"},
    {"file_description", u"FileDescription"},
    {"product_name", u"ProductName"},
    {"copyright", u"LegalCopyright"},
    {"original_filename", u"OriginalFilename"},
    {"internal_name", u"InternalName"},
};
// Each block of the version resource has a 16-bit length: this keeps all of them together well inside it.
constexpr size_t kMaxVersionText = 1000;
// An icon larger than this is no icon a launcher needs (a 256x256 PNG is well below it).
constexpr uintmax_t kMaxIconFile = 16u << 20;

std::string filenameUtf8(const fs::path& path) {
    std::u8string name = path.u8string();
    return std::string(name.begin(), name.end());
}

bool readVersion(const toml::table& table, ExecutableVersion& out, std::string& error) {
    std::optional<std::string> fileVersion;
    std::optional<std::string> productVersion;
    std::vector<std::pair<std::string, std::u16string>> texts;
    for (auto&& [key, node] : table) {
        std::string name(key.str());
        std::optional<std::string> text = node.value_exact<std::string>();
        if (!text) {
            error = "[executable.version] " + name + " must be a string";
            return false;
        }
        if (name == "file_version") {
            fileVersion = *text;
            continue;
        }
        if (name == "product_version") {
            productVersion = *text;
            continue;
        }
        const VersionString* known = nullptr;
        for (const VersionString& v : kVersionStrings) {
            if (name == v.key) {
                known = &v;
            }
        }
        if (!known) {
            error = "unknown key '" + name + "' in [executable.version]";
            return false;
        }
        std::u16string wide = *payload::utf8ToUtf16(*text);
        if (wide.size() > kMaxVersionText) {
            error = "[executable.version] " + name + " is longer than " + std::to_string(kMaxVersionText) +
                    " characters";
            return false;
        }
        texts.emplace_back(name, std::move(wide));
    }
    if (!fileVersion) {
        error = "[executable.version] needs a file_version";
        return false;
    }
    for (auto& [name, text, target] :
         {std::tuple{"file_version", fileVersion, &out.fileVersion},
          std::tuple{"product_version", productVersion ? productVersion : fileVersion,
                     &out.productVersion}}) {
        std::optional<payload::VersionNumber> number = payload::parseVersionNumber(*text);
        if (!number) {
            error = std::string("[executable.version] ") + name + " '" + *text +
                    "' is not four numbers from 0 to 65535 separated by dots (such as 1.2.0.0)";
            return false;
        }
        *target = *number;
    }
    // The string table in the order Windows' own tools write it.
    for (const VersionString& v : kVersionStrings) {
        for (auto& [name, text] : texts) {
            if (name == v.key) {
                out.strings.emplace_back(v.windowsKey, text);
            }
        }
    }
    return true;
}

bool readIcon(const fs::path& file, ExecutableSettings& out, std::string& error) {
    std::error_code ec;
    uintmax_t size = fs::file_size(file, ec);
    std::ifstream in(file, std::ios::binary);
    if (ec || !in) {
        error = "[executable] icon: cannot read " + file.string();
        return false;
    }
    if (size > kMaxIconFile) {
        error = "[executable] icon " + file.string() + " is larger than 16 MB";
        return false;
    }
    std::ostringstream content;
    content << in.rdbuf();
    std::string problem;
    std::optional<std::vector<payload::IconImage>> images = payload::parseIcoFile(content.str(), &problem);
    if (!images) {
        error = "[executable] icon " + file.string() + " is " + problem;
        return false;
    }
    out.icon = std::move(*images);
    return true;
}

std::string_view manifestLevel(std::string_view manifest) {
    size_t element = manifest.find("requestedExecutionLevel");
    size_t level = element == std::string_view::npos ? element : manifest.find("level=\"", element);
    if (level == std::string_view::npos) {
        return "none";
    }
    level += 7;
    return manifest.substr(level, manifest.find('"', level) - level);
}

const Resource* findResource(const std::vector<Resource>& resources, uint16_t type) {
    for (const Resource& r : resources) {
        if (!r.type.isName() && r.type.id == type) {
            return &r;
        }
    }
    return nullptr;
}

std::string quotedUtf16(std::u16string_view text) {
    std::string out = "\"";
    for (char c : payload::utf16ToUtf8(text)) {
        if (c == '"' || c == '\\') {
            out += '\\';
        }
        out += static_cast<unsigned char>(c) < 0x20 ? '?' : c;
    }
    return out + "\"";
}

void printIcons(std::ostream& out, const std::vector<Resource>& resources) {
    const Resource* group = findResource(resources, payload::kRtGroupIcon);
    if (!group || group->data.size() < 6) {
        out << "icon: none\n";
        return;
    }
    const std::string& d = group->data;
    size_t count = static_cast<uint8_t>(d[4]) | static_cast<uint8_t>(d[5]) << 8;
    out << "icon:";
    for (size_t i = 0; i < count && 6 + 14 * (i + 1) <= d.size(); ++i) {
        const size_t e = 6 + 14 * i;
        unsigned width = static_cast<uint8_t>(d[e]) == 0 ? 256 : static_cast<uint8_t>(d[e]);
        unsigned height = static_cast<uint8_t>(d[e + 1]) == 0 ? 256 : static_cast<uint8_t>(d[e + 1]);
        unsigned bits = static_cast<uint8_t>(d[e + 6]) | static_cast<uint8_t>(d[e + 7]) << 8;
        out << (i ? ", " : " ") << width << "x" << height << " (" << bits << "-bit)";
    }
    out << "\n";
}

void printVersion(std::ostream& out, const std::vector<Resource>& resources) {
    const Resource* resource = findResource(resources, payload::kRtVersion);
    std::optional<payload::VersionInfo> info =
        resource ? payload::parseVersionResource(resource->data) : std::nullopt;
    if (!info) {
        out << (resource ? "version information: unreadable\n" : "version information: none\n");
        return;
    }
    out << "version information: file version " << payload::formatVersionNumber(info->fileVersion)
        << ", product version " << payload::formatVersionNumber(info->productVersion) << "\n";
    for (const auto& [key, value] : info->strings) {
        out << "  " << payload::utf16ToUtf8(key) << " = " << quotedUtf16(value) << "\n";
    }
}

void printManifest(std::ostream& out, const std::vector<Resource>& resources) {
    const Resource* manifest = findResource(resources, payload::kRtManifest);
    if (!manifest) {
        out << "manifest: none\n";
        return;
    }
    out << "manifest (execution level " << manifestLevel(manifest->data) << "):\n";
    std::istringstream lines(manifest->data);
    for (std::string line; std::getline(lines, line);) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        out << "  " << line << "\n";
    }
}

} // namespace

bool readExecutableSettings(const toml::table& table, const fs::path& base, ExecutableSettings& out,
                            std::string& error) {
    out.present = true;
    for (auto&& [key, node] : table) {
        std::string name(key.str());
        if (name == "version") {
            const toml::table* version = node.as_table();
            if (!version) {
                error = "[executable] version must be a table ([executable.version])";
                return false;
            }
            out.version.emplace();
            if (!readVersion(*version, *out.version, error)) {
                return false;
            }
            continue;
        }
        std::optional<std::string> text = node.value_exact<std::string>();
        if (name != "icon" && name != "execution_level" && name != "dpi_awareness") {
            error = "unknown key '" + name + "' in [executable]";
            return false;
        }
        if (!text) {
            error = "[executable] " + name + " must be a string";
            return false;
        }
        if (name == "icon" && !readIcon(base / fs::u8path(*text), out, error)) {
            return false;
        }
        if (name == "execution_level") {
            std::optional<payload::ExecutionLevel> level = payload::parseExecutionLevel(*text);
            if (!level) {
                error = "[executable] execution_level '" + *text +
                        "' is not one of asInvoker, requireAdministrator, highestAvailable";
                return false;
            }
            out.executionLevel = *level;
        }
        if (name == "dpi_awareness") {
            std::optional<payload::DpiAwareness> dpi = payload::parseDpiAwareness(*text);
            if (!dpi) {
                error = "[executable] dpi_awareness '" + *text +
                        "' is not one of unaware, system, per-monitor, per-monitor-v2";
                return false;
            }
            out.dpiAwareness = *dpi;
        }
    }
    return true;
}

std::optional<std::string> applyExecutableSettings(const ExecutableSettings& settings, std::string_view image,
                                                   const fs::path& output, std::string& error) {
    std::optional<payload::PeLayout> layout = payload::readPeLayout(image, &error);
    if (!layout) {
        return std::nullopt;
    }
    std::optional<std::vector<Resource>> resources = payload::readResources(image, &error);
    if (!resources) {
        return std::nullopt;
    }
    if (!settings.icon.empty()) {
        payload::setIcon(*resources, settings.icon);
    }
    if (settings.version) {
        payload::VersionInfo info{settings.version->fileVersion, settings.version->productVersion, {}};
        info.strings = settings.version->strings;
        auto setDefault = [&](const char16_t* key, const std::string& value) {
            for (const auto& entry : info.strings) {
                if (entry.first == key) {
                    return;
                }
            }
            info.strings.emplace_back(key, *payload::utf8ToUtf16(value));
        };
        setDefault(u"OriginalFilename", filenameUtf8(output.filename()));
        setDefault(u"InternalName", filenameUtf8(output.stem()));
        info.strings.emplace_back(u"FileVersion",
                                  *payload::utf8ToUtf16(payload::formatVersionNumber(info.fileVersion)));
        info.strings.emplace_back(u"ProductVersion",
                                  *payload::utf8ToUtf16(payload::formatVersionNumber(info.productVersion)));
        payload::setVersionInfo(*resources, info);
    }
    payload::setManifest(
        *resources, payload::buildManifest(layout->machine, settings.executionLevel, settings.dpiAwareness));
    return payload::replaceResources(image, *resources, &error);
}

std::optional<std::string> prepareTemplate(std::string image, const ExecutableSettings& settings,
                                           const fs::path& output, bool dropSignature, std::string& error) {
    if (payload::isSigned(image)) {
        if (!dropSignature) {
            error =
                "is signed; a launcher built from it loses the signature (pass --drop-signature, then sign "
                "the new launcher)";
            return std::nullopt;
        }
        payload::dropSignature(image);
    }
    if (!settings.present) {
        return image;
    }
    return applyExecutableSettings(settings, image, output, error);
}

void printExecutable(std::ostream& out, std::string_view image) {
    std::optional<payload::PeLayout> layout = payload::readPeLayout(image, nullptr);
    if (!layout) {
        return;
    }
    payload::DataDirectory certificates = payload::dataDirectory(image, *layout, 4);
    out << "executable: " << (layout->machine == 0x8664 ? "64-bit (amd64)" : "32-bit (X86)") << ", ";
    if (certificates.size != 0) {
        out << "signed (" << certificates.size << " bytes of certificates)\n";
    } else {
        out << "not signed\n";
    }
    std::string problem;
    std::optional<std::vector<Resource>> resources = payload::readResources(image, &problem);
    if (!resources) {
        out << "resources: " << problem << "\n";
        return;
    }
    printIcons(out, *resources);
    printVersion(out, *resources);
    printManifest(out, *resources);
}

} // namespace morix::builder
