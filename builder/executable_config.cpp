#include "executable_config.h"

#include "key_table.h"

#include "morix/pe_resources.h"
#include "morix/text_encoding.h"

#include <algorithm>
#include <sstream>

namespace morix::builder {
namespace {

namespace fs = std::filesystem;
using payload::Resource;

// The version texts that default to the launcher's file name.
constexpr const char16_t* kOriginalFilename = u"OriginalFilename";
constexpr const char16_t* kInternalName = u"InternalName";

std::string filenameUtf8(const fs::path& path) {
    std::u8string name = path.u8string();
    return std::string(name.begin(), name.end());
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

payload::VersionInfo versionInfo(const ExecutableVersion& version, const fs::path& output) {
    payload::VersionInfo info{version.fileVersion, version.productVersion, version.strings};
    auto setDefault = [&](const char16_t* key, const std::string& value) {
        for (const auto& entry : info.strings) {
            if (entry.first == key) {
                return;
            }
        }
        info.strings.emplace_back(key, *payload::utf8ToUtf16(value));
    };
    setDefault(kOriginalFilename, filenameUtf8(output.filename()));
    setDefault(kInternalName, filenameUtf8(output.stem()));
    info.strings.emplace_back(u"FileVersion",
                              *payload::utf8ToUtf16(payload::formatVersionNumber(info.fileVersion)));
    info.strings.emplace_back(u"ProductVersion",
                              *payload::utf8ToUtf16(payload::formatVersionNumber(info.productVersion)));
    return info;
}

// Whether the resource section holds exactly the tree that the builder makes of these resources: then
// the builder wrote it, from an [executable] table; otherwise the resources are the template's own.
bool writtenByBuilder(std::string_view image, const payload::PeLayout& layout,
                      const std::vector<Resource>& resources) {
    const payload::DataDirectory directory =
        payload::dataDirectory(image, layout, payload::kResourceDirectory);
    for (const payload::SectionHeader& s : payload::readSectionHeaders(image, layout)) {
        if (directory.address != 0 && s.virtualAddress == directory.address) {
            const std::string tree = payload::buildResourceSection(resources, s.virtualAddress);
            return s.virtualSize == tree.size() && tree.size() <= s.rawSize && s.rawOffset <= image.size() &&
                   image.substr(s.rawOffset, tree.size()) == tree;
        }
    }
    return false;
}

// The execution level and DPI awareness of a manifest that the builder wrote; false for any other.
bool readManifest(const std::vector<Resource>& resources, uint16_t machine, ExecutableSettings& settings) {
    const Resource* manifest = findResource(resources, payload::kRtManifest);
    for (payload::ExecutionLevel level :
         {payload::ExecutionLevel::asInvoker, payload::ExecutionLevel::requireAdministrator,
          payload::ExecutionLevel::highestAvailable}) {
        for (payload::DpiAwareness dpi :
             {payload::DpiAwareness::unaware, payload::DpiAwareness::system,
              payload::DpiAwareness::perMonitor, payload::DpiAwareness::perMonitorV2}) {
            if (manifest && manifest->data == payload::buildManifest(machine, level, dpi)) {
                settings.executionLevel = level;
                settings.dpiAwareness = dpi;
                return true;
            }
        }
    }
    return false;
}

// The position of a version text's key in the key table; the end for a key of none.
size_t versionKeyOrder(const std::u16string& windowsKey) {
    const std::vector<Key>& keys = executableKeyTable();
    for (size_t i = 0; i < keys.size(); ++i) {
        if (keys[i].section == "executable.version" &&
            std::u16string(keys[i].resource.begin(), keys[i].resource.end()) == windowsKey) {
            return i;
        }
    }
    return keys.size();
}

bool inKeyOrder(const std::vector<std::pair<std::u16string, std::u16string>>& strings) {
    return std::is_sorted(strings.begin(), strings.end(), [](const auto& a, const auto& b) {
        return versionKeyOrder(a.first) < versionKeyOrder(b.first);
    });
}

// The [executable.version] settings of a version resource that the builder wrote for a launcher named
// `name`: the texts it was given, without the versions' texts that close the table and without the
// file names it added as defaults behind the texts given.
ExecutableVersion readVersion(const Resource& resource, const fs::path& name,
                              std::vector<std::string>& notes) {
    std::optional<payload::VersionInfo> info = payload::parseVersionResource(resource.data);
    if (!info) {
        notes.push_back("the launcher's version information is unreadable; it is left out");
        return {};
    }
    ExecutableVersion version{info->fileVersion, info->productVersion, {}};
    std::vector<std::pair<std::u16string, std::u16string>> strings = info->strings;
    for (const char16_t* closing : {u"ProductVersion", u"FileVersion"}) {
        if (!strings.empty() && strings.back().first == closing) {
            strings.pop_back();
        }
    }
    const std::u16string defaults[] = {*payload::utf8ToUtf16(filenameUtf8(name.stem())),
                                       *payload::utf8ToUtf16(filenameUtf8(name.filename()))};
    const char16_t* defaultKeys[] = {kInternalName, kOriginalFilename};
    for (size_t i = 0; i < 2 && !inKeyOrder(strings); ++i) {
        if (!strings.empty() &&
            strings.back() == std::pair<std::u16string, std::u16string>(defaultKeys[i], defaults[i])) {
            strings.pop_back();
        }
    }
    for (auto& [key, text] : strings) {
        if (versionKeyOrder(key) == executableKeyTable().size()) {
            notes.push_back("the version text " + payload::utf16ToUtf8(key) +
                            " has no key in [executable.version]");
        } else {
            version.strings.emplace_back(key, text);
        }
    }
    std::stable_sort(version.strings.begin(), version.strings.end(), [](const auto& a, const auto& b) {
        return versionKeyOrder(a.first) < versionKeyOrder(b.first);
    });
    return version;
}

} // namespace

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
        payload::setVersionInfo(*resources, versionInfo(*settings.version, output));
    }
    payload::setManifest(
        *resources, payload::buildManifest(layout->machine, settings.executionLevel, settings.dpiAwareness));
    return payload::replaceResources(image, *resources, &error);
}

std::optional<ExecutableSettings> executableSettingsOf(std::string_view launcher, const fs::path& name,
                                                       const std::string& iconFile,
                                                       std::vector<std::string>& notes) {
    std::optional<payload::PeLayout> layout = payload::readPeLayout(launcher, nullptr);
    std::optional<std::vector<Resource>> resources =
        layout ? payload::readResources(launcher, nullptr) : std::nullopt;
    if (!resources || !writtenByBuilder(launcher, *layout, *resources)) {
        return std::nullopt;
    }
    ExecutableSettings settings;
    settings.present = true;
    if (!readManifest(*resources, layout->machine, settings)) {
        notes.push_back(
            "the launcher's manifest is not one the builder writes; [executable] writes it afresh");
    }
    if (std::optional<std::vector<payload::IconImage>> icon = payload::iconOf(*resources)) {
        settings.icon = std::move(*icon);
        settings.iconFile = iconFile;
    }
    if (findResource(*resources, payload::kRtVersion)) {
        settings.version = readVersion(*findResource(*resources, payload::kRtVersion), name, notes);
    }
    // A signed launcher's resources are compared as the builder would write them once the signature went.
    std::string image(launcher);
    payload::dropSignature(image);
    std::string problem;
    std::optional<std::string> again = applyExecutableSettings(settings, image, name, problem);
    std::optional<std::vector<Resource>> againResources =
        again ? payload::readResources(*again, nullptr) : std::nullopt;
    if (!againResources || *againResources != *resources) {
        notes.push_back("the launcher's resources do not come back exactly from the [executable] table");
    }
    return settings;
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
    payload::DataDirectory certificates =
        payload::dataDirectory(image, *layout, payload::kCertificateDirectory);
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
