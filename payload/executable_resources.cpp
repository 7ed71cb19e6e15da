#include "morix/executable_resources.h"

#include "little_endian.h"

#include <algorithm>
#include <charconv>

namespace morix::payload {
namespace {

// An .ico file holds at most this many images (its count is 16 bits; no real icon comes close).
constexpr size_t kMaxIconImages = 256;
constexpr uint32_t kFixedFileInfoSignature = 0xFEEF04BDu;
constexpr size_t kFixedFileInfoSize = 52;
// An entry of a group icon: the icon directory entry with the image's resource id for its offset.
constexpr size_t kGroupEntrySize = 14;

void appendUtf16z(std::string& out, std::u16string_view text) {
    for (char16_t c : text) {
        appendU16(out, static_cast<uint16_t>(c));
    }
    appendU16(out, 0);
}

void padTo4(std::string& out) {
    out.resize((out.size() + 3) / 4 * 4, '\0');
}

// A block of a version resource: length, value length, type, key, then the value and the children, each
// starting on a 32-bit boundary.
std::string versionBlock(std::u16string_view key, const std::string& value, uint16_t valueLength,
                         uint16_t type, const std::vector<std::string>& children) {
    std::string out(6, '\0');
    appendUtf16z(out, key);
    if (!value.empty()) {
        padTo4(out);
        out += value;
    }
    for (const std::string& child : children) {
        padTo4(out);
        out += child;
    }
    out[0] = static_cast<char>(out.size() & 0xFF);
    out[1] = static_cast<char>((out.size() >> 8) & 0xFF);
    out[2] = static_cast<char>(valueLength & 0xFF);
    out[3] = static_cast<char>(valueLength >> 8);
    out[4] = static_cast<char>(type & 0xFF);
    out[5] = static_cast<char>(type >> 8);
    return out;
}

struct Block {
    uint16_t valueLength = 0;
    uint16_t type = 0;
    std::u16string key;
    size_t value = 0; // offset of the value
    size_t end = 0;   // offset after the block
};

std::optional<Block> readBlock(std::string_view data, size_t at, size_t limit) {
    if (at + 6 > limit) {
        return std::nullopt;
    }
    Block b;
    size_t length = readU16(data, at);
    b.valueLength = readU16(data, at + 2);
    b.type = readU16(data, at + 4);
    if (length < 6 || at + length > limit) {
        return std::nullopt;
    }
    b.end = at + length;
    size_t p = at + 6;
    for (;; p += 2) {
        if (p + 2 > b.end) {
            return std::nullopt;
        }
        char16_t c = static_cast<char16_t>(readU16(data, p));
        if (c == 0) {
            break;
        }
        b.key += c;
    }
    b.value = std::min((p + 2 + 3) / 4 * 4, b.end);
    return b;
}

// The children of a block start after its value (a text value counts in 16-bit units).
size_t childrenStart(const Block& b) {
    size_t valueBytes = b.type == 1 ? size_t{b.valueLength} * 2 : b.valueLength;
    return std::min((b.value + valueBytes + 3) / 4 * 4, b.end);
}

template <typename Visit>
bool forEachChild(std::string_view data, const Block& parent, Visit visit) {
    // At most one child per 8 bytes: the loop is bounded by the block's length.
    for (size_t at = childrenStart(parent); at < parent.end; at = (at + 3) / 4 * 4) {
        std::optional<Block> child = readBlock(data, at, parent.end);
        if (!child || !visit(*child)) {
            return false;
        }
        at = child->end;
    }
    return true;
}

void appendVersion(std::string& out, const VersionNumber& v) {
    appendU32(out, uint32_t{v[0]} << 16 | v[1]);
    appendU32(out, uint32_t{v[2]} << 16 | v[3]);
}

VersionNumber splitVersion(uint32_t ms, uint32_t ls) {
    return {static_cast<uint16_t>(ms >> 16), static_cast<uint16_t>(ms & 0xFFFF),
            static_cast<uint16_t>(ls >> 16), static_cast<uint16_t>(ls & 0xFFFF)};
}

// The header of an icon directory, in an .ico file and in a group icon alike: reserved, type 1 (icon),
// the number of images.
std::string iconDirectoryHeader(size_t count) {
    std::string out;
    appendU16(out, 0);
    appendU16(out, 1);
    appendU16(out, static_cast<uint16_t>(count));
    return out;
}

// The fields that an .ico file's directory entry and a group icon's entry share; the file's entry goes on
// with the image's offset, the group's with its resource id.
void appendIconEntry(std::string& out, const IconImage& image) {
    out += static_cast<char>(image.width);
    out += static_cast<char>(image.height);
    out += static_cast<char>(image.colorCount);
    out += '\0';
    appendU16(out, image.planes);
    appendU16(out, image.bitCount);
    appendU32(out, static_cast<uint32_t>(image.data.size()));
}

const Resource* findResource(const std::vector<Resource>& resources, uint16_t type, uint16_t id) {
    for (const Resource& r : resources) {
        if (!r.type.isName() && r.type.id == type && !r.name.isName() && r.name.id == id) {
            return &r;
        }
    }
    return nullptr;
}

void removeType(std::vector<Resource>& resources, uint16_t type) {
    std::erase_if(resources, [type](const Resource& r) { return !r.type.isName() && r.type.id == type; });
}

} // namespace

std::optional<std::vector<IconImage>> parseIcoFile(std::string_view file, std::string* error) {
    auto fail = [error](std::string reason) -> std::optional<std::vector<IconImage>> {
        if (error) {
            *error = "not an icon file (" + reason + ")";
        }
        return std::nullopt;
    };
    if (file.size() < 6 || readU16(file, 0) != 0 || readU16(file, 2) != 1) {
        return fail("no icon directory");
    }
    size_t count = readU16(file, 4);
    if (count == 0 || count > kMaxIconImages) {
        return fail("it holds " + std::to_string(count) + " images");
    }
    if (6 + 16 * count > file.size()) {
        return fail("the icon directory runs past the end of the file");
    }
    std::vector<IconImage> images;
    for (size_t i = 0; i < count; ++i) {
        size_t entry = 6 + 16 * i;
        IconImage image;
        image.width = static_cast<uint8_t>(file[entry]);
        image.height = static_cast<uint8_t>(file[entry + 1]);
        image.colorCount = static_cast<uint8_t>(file[entry + 2]);
        image.planes = readU16(file, entry + 4);
        image.bitCount = readU16(file, entry + 6);
        uint64_t size = readU32(file, entry + 8);
        uint64_t offset = readU32(file, entry + 12);
        if (size < 16 || offset + size > file.size()) {
            return fail("image " + std::to_string(i + 1) + " lies outside the file");
        }
        image.data = std::string(file.substr(offset, size));
        bool png = image.data.compare(0, 8, "\x89PNG\r\n\x1A\n") == 0;
        uint32_t header = readU32(image.data, 0);
        if (!png && header != 40 && header != 108 && header != 124) {
            return fail("image " + std::to_string(i + 1) + " is neither a bitmap nor a PNG");
        }
        if (image.bitCount == 0) {
            image.bitCount = png ? 32 : readU16(image.data, 14);
        }
        if (image.planes == 0) {
            image.planes = 1;
        }
        images.push_back(std::move(image));
    }
    return images;
}

std::string buildIcoFile(const std::vector<IconImage>& images) {
    std::string file = iconDirectoryHeader(images.size());
    size_t offset = 6 + 16 * images.size();
    for (const IconImage& image : images) {
        appendIconEntry(file, image);
        appendU32(file, static_cast<uint32_t>(offset));
        offset += image.data.size();
    }
    for (const IconImage& image : images) {
        file += image.data;
    }
    return file;
}

std::optional<std::vector<IconImage>> iconOf(const std::vector<Resource>& resources) {
    const Resource* group = findResource(resources, kRtGroupIcon, 1);
    if (!group || group->data.size() < 6 || readU16(group->data, 0) != 0 || readU16(group->data, 2) != 1) {
        return std::nullopt;
    }
    const size_t count = readU16(group->data, 4);
    if (6 + kGroupEntrySize * count > group->data.size()) {
        return std::nullopt;
    }
    std::vector<IconImage> images;
    for (size_t i = 0; i < count; ++i) {
        const size_t entry = 6 + kGroupEntrySize * i;
        const Resource* icon = findResource(resources, kRtIcon, readU16(group->data, entry + 12));
        if (!icon) {
            return std::nullopt;
        }
        images.push_back({static_cast<uint8_t>(group->data[entry]),
                          static_cast<uint8_t>(group->data[entry + 1]),
                          static_cast<uint8_t>(group->data[entry + 2]), readU16(group->data, entry + 4),
                          readU16(group->data, entry + 6), icon->data});
    }
    return images;
}

std::optional<VersionNumber> parseVersionNumber(std::string_view text) {
    VersionNumber version{};
    const char* p = text.data();
    const char* end = text.data() + text.size();
    for (size_t i = 0; i < 4; ++i) {
        if (i > 0) {
            if (p == end || *p != '.') {
                return std::nullopt;
            }
            ++p;
        }
        if (p == end || *p < '0' || *p > '9') {
            return std::nullopt;
        }
        unsigned value = 0;
        auto [next, ec] = std::from_chars(p, end, value);
        if (ec != std::errc() || value > 0xFFFF) {
            return std::nullopt;
        }
        version[i] = static_cast<uint16_t>(value);
        p = next;
    }
    if (p != end) {
        return std::nullopt;
    }
    return version;
}

std::string formatVersionNumber(const VersionNumber& v) {
    return std::to_string(v[0]) + "." + std::to_string(v[1]) + "." + std::to_string(v[2]) + "." +
           std::to_string(v[3]);
}

std::string buildVersionResource(const VersionInfo& info) {
    std::string fixed;
    appendU32(fixed, kFixedFileInfoSignature);
    appendU32(fixed, 0x00010000); // structure version 1.0
    appendVersion(fixed, info.fileVersion);
    appendVersion(fixed, info.productVersion);
    appendU32(fixed, 0x3F);    // flags mask
    appendU32(fixed, 0);       // flags
    appendU32(fixed, 0x40004); // VOS_NT_WINDOWS32
    appendU32(fixed, 1);       // VFT_APP
    appendU32(fixed, 0);       // subtype
    appendU32(fixed, 0);       // date
    appendU32(fixed, 0);

    std::vector<std::string> strings;
    for (const auto& [key, value] : info.strings) {
        std::string text;
        appendUtf16z(text, value);
        strings.push_back(versionBlock(key, text, static_cast<uint16_t>(value.size() + 1), 1, {}));
    }
    std::string table = versionBlock(u"040904B0", "", 0, 1, strings);
    std::string stringFileInfo = versionBlock(u"StringFileInfo", "", 0, 1, {table});
    std::string translation;
    appendU16(translation, kLanguageEnglishUs);
    appendU16(translation, 1200); // Unicode
    std::string var = versionBlock(u"Translation", translation, 4, 0, {});
    std::string varFileInfo = versionBlock(u"VarFileInfo", "", 0, 1, {var});
    return versionBlock(u"VS_VERSION_INFO", fixed, kFixedFileInfoSize, 0, {stringFileInfo, varFileInfo});
}

std::optional<VersionInfo> parseVersionResource(std::string_view data) {
    std::optional<Block> root = readBlock(data, 0, data.size());
    if (!root || root->key != u"VS_VERSION_INFO" || root->valueLength != kFixedFileInfoSize ||
        root->value + kFixedFileInfoSize > root->end ||
        readU32(data, root->value) != kFixedFileInfoSignature) {
        return std::nullopt;
    }
    VersionInfo info;
    info.fileVersion = splitVersion(readU32(data, root->value + 8), readU32(data, root->value + 12));
    info.productVersion = splitVersion(readU32(data, root->value + 16), readU32(data, root->value + 20));
    bool ok = forEachChild(data, *root, [&](const Block& child) {
        if (child.key != u"StringFileInfo") {
            return true;
        }
        return forEachChild(data, child, [&](const Block& table) {
            return forEachChild(data, table, [&](const Block& string) {
                size_t units = std::min<size_t>(string.valueLength, (string.end - string.value) / 2);
                std::u16string value;
                for (size_t i = 0; i < units; ++i) {
                    value += static_cast<char16_t>(readU16(data, string.value + 2 * i));
                }
                while (!value.empty() && value.back() == 0) {
                    value.pop_back();
                }
                info.strings.emplace_back(string.key, std::move(value));
                return true;
            });
        });
    });
    if (!ok) {
        return std::nullopt;
    }
    return info;
}

std::optional<ExecutionLevel> parseExecutionLevel(std::string_view text) {
    for (ExecutionLevel level : {ExecutionLevel::asInvoker, ExecutionLevel::requireAdministrator,
                                 ExecutionLevel::highestAvailable}) {
        if (text == executionLevelName(level)) {
            return level;
        }
    }
    return std::nullopt;
}

const char* executionLevelName(ExecutionLevel level) {
    switch (level) {
    case ExecutionLevel::requireAdministrator:
        return "requireAdministrator";
    case ExecutionLevel::highestAvailable:
        return "highestAvailable";
    case ExecutionLevel::asInvoker:
        break;
    }
    return "asInvoker";
}

std::optional<DpiAwareness> parseDpiAwareness(std::string_view text) {
    for (DpiAwareness dpi : {DpiAwareness::unaware, DpiAwareness::system, DpiAwareness::perMonitor,
                             DpiAwareness::perMonitorV2}) {
        if (text == dpiAwarenessName(dpi)) {
            return dpi;
        }
    }
    return std::nullopt;
}

const char* dpiAwarenessName(DpiAwareness dpi) {
    switch (dpi) {
    case DpiAwareness::system:
        return "system";
    case DpiAwareness::perMonitor:
        return "per-monitor";
    case DpiAwareness::perMonitorV2:
        return "per-monitor-v2";
    case DpiAwareness::unaware:
        break;
    }
    return "unaware";
}

std::string buildManifest(uint16_t machine, ExecutionLevel level, DpiAwareness dpi) {
    const char* architecture = machine == 0x8664 ? "amd64" : "X86";
    std::string m = R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>
<assembly xmlns="urn:schemas-microsoft-com:asm.v1" manifestVersion="1.0">
  <assemblyIdentity type="win32" name="vudoz" version="1.0.0.0" processorArchitecture=")";
    m += architecture;
    m += R"("/>
  <dependency>
    <dependentAssembly>
      <assemblyIdentity type="win32" name="Microsoft.Windows.Common-Controls" version="6.0.0.0"
                        processorArchitecture="*" publicKeyToken="6595b64144ccf1df" language="*"/>
    </dependentAssembly>
  </dependency>
  <trustInfo xmlns="urn:schemas-microsoft-com:asm.v3">
    <security>
      <requestedPrivileges>
        <requestedExecutionLevel level=")";
    m += executionLevelName(level);
    m += R"(" uiAccess="false"/>
      </requestedPrivileges>
    </security>
  </trustInfo>
  <compatibility xmlns="urn:schemas-microsoft-com:compatibility.v1">
    <application>
      <!-- Windows Vista -->
      <supportedOS Id="{e2011457-1546-43c5-a5fe-008deee3d3f0}"/>
      <!-- Windows 7 -->
      <supportedOS Id="{35138b9a-5d96-4fbd-8e2d-a2440225f93a}"/>
      <!-- Windows 8 -->
      <supportedOS Id="{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}"/>
      <!-- Windows 8.1 -->
      <supportedOS Id="{1f676c76-80e1-4239-95bb-83d0f6d0da78}"/>
      <!-- Windows 10 -->
      <supportedOS Id="{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"/>
    </application>
  </compatibility>
)";
    if (dpi != DpiAwareness::unaware) {
        const char* aware = dpi == DpiAwareness::system ? "true" : "true/pm";
        m += R"(  <application xmlns="urn:schemas-microsoft-com:asm.v3">
    <windowsSettings>
      <dpiAware xmlns="http://schemas.microsoft.com/SMI/2005/WindowsSettings">)";
        m += aware;
        m += "</dpiAware>\n";
        if (dpi != DpiAwareness::system) {
            m += R"(      <dpiAwareness xmlns="http://schemas.microsoft.com/SMI/2016/WindowsSettings">)";
            m += dpi == DpiAwareness::perMonitorV2 ? "PerMonitorV2, PerMonitor" : "PerMonitor";
            m += "</dpiAwareness>\n";
        }
        m += "    </windowsSettings>\n  </application>\n";
    }
    m += "</assembly>\n";
    return m;
}

void setIcon(std::vector<Resource>& resources, const std::vector<IconImage>& images) {
    removeType(resources, kRtIcon);
    removeType(resources, kRtGroupIcon);
    std::string group = iconDirectoryHeader(images.size());
    uint16_t id = 1;
    for (const IconImage& image : images) {
        appendIconEntry(group, image);
        appendU16(group, id);
        resources.push_back({{kRtIcon, {}}, {id, {}}, kLanguageEnglishUs, 0, image.data});
        ++id;
    }
    resources.push_back({{kRtGroupIcon, {}}, {1, {}}, kLanguageEnglishUs, 0, std::move(group)});
}

void setVersionInfo(std::vector<Resource>& resources, const VersionInfo& info) {
    removeType(resources, kRtVersion);
    resources.push_back({{kRtVersion, {}}, {1, {}}, kLanguageEnglishUs, 0, buildVersionResource(info)});
}

void setManifest(std::vector<Resource>& resources, const std::string& manifest) {
    uint16_t language = kLanguageEnglishUs;
    auto old = std::find_if(resources.begin(), resources.end(),
                            [](const Resource& r) { return !r.type.isName() && r.type.id == kRtManifest; });
    if (old != resources.end()) {
        language = old->language;
    }
    removeType(resources, kRtManifest);
    resources.push_back({{kRtManifest, {}}, {1, {}}, language, 0, manifest});
}

} // namespace morix::payload
