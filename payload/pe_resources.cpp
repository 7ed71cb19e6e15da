#include "morix/pe_resources.h"

#include "morix/pe_image.h"

#include <algorithm>
#include <map>

namespace morix::payload {
namespace {

constexpr size_t kSectionHeaderSize = 40;
constexpr uint32_t kResourceDirectory = 2;
constexpr uint32_t kCertificateDirectory = 4;
constexpr uint32_t kRelocationDirectory = 5;
constexpr uint32_t kScnInitializedData = 0x00000040;
constexpr uint32_t kScnMemRead = 0x40000000;
// A tree this large is no launcher's: the bound keeps a looping or hostile tree from running away.
constexpr size_t kMaxResources = 4096;
// Directories may share subdirectories, so the entries visited are bounded too, not only the leaves.
constexpr size_t kMaxEntriesVisited = 65536;

uint32_t readU32(std::string_view image, uint64_t offset) {
    uint32_t v = 0;
    for (int i = 0; i < 4; ++i) {
        v |= static_cast<uint32_t>(static_cast<uint8_t>(image[offset + i])) << (8 * i);
    }
    return v;
}

uint16_t readU16(std::string_view image, uint64_t offset) {
    return static_cast<uint16_t>(static_cast<uint8_t>(image[offset]) |
                                 (static_cast<uint8_t>(image[offset + 1]) << 8));
}

void writeU32(std::string& out, uint64_t offset, uint32_t v) {
    for (int i = 0; i < 4; ++i) {
        out[offset + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
    }
}

void writeU16(std::string& out, uint64_t offset, uint16_t v) {
    out[offset] = static_cast<char>(v & 0xFF);
    out[offset + 1] = static_cast<char>(v >> 8);
}

uint64_t alignUp(uint64_t value, uint64_t alignment) {
    return alignment == 0 ? value : (value + alignment - 1) / alignment * alignment;
}

struct Section {
    std::string name; // up to 8 bytes, NULs trimmed
    uint32_t virtualSize = 0;
    uint32_t virtualAddress = 0;
    uint32_t rawSize = 0;
    uint32_t rawOffset = 0;
    std::string rest; // relocation and line number fields, characteristics: kept as they are

    uint32_t span() const { return virtualSize != 0 ? virtualSize : rawSize; }
    bool holds(uint32_t rva) const { return rva >= virtualAddress && rva - virtualAddress < span(); }
};

std::vector<Section> readSections(std::string_view image, const PeLayout& layout) {
    std::vector<Section> sections;
    for (uint16_t i = 0; i < layout.sections; ++i) {
        uint64_t h = layout.sectionTable + uint64_t{i} * kSectionHeaderSize;
        Section s;
        s.name = std::string(image.substr(h, 8));
        s.name.erase(std::find(s.name.begin(), s.name.end(), '\0'), s.name.end());
        s.virtualSize = readU32(image, h + 8);
        s.virtualAddress = readU32(image, h + 12);
        s.rawSize = readU32(image, h + 16);
        s.rawOffset = readU32(image, h + 20);
        s.rest = std::string(image.substr(h + 24, 16));
        sections.push_back(std::move(s));
    }
    return sections;
}

void writeSection(std::string& image, uint64_t offset, const Section& s) {
    std::string name = s.name;
    name.resize(8, '\0');
    image.replace(offset, 8, name);
    writeU32(image, offset + 8, s.virtualSize);
    writeU32(image, offset + 12, s.virtualAddress);
    writeU32(image, offset + 16, s.rawSize);
    writeU32(image, offset + 20, s.rawOffset);
    image.replace(offset + 24, 16, s.rest);
}

uint64_t directoryOffset(const PeLayout& layout, uint32_t index) {
    return layout.optionalHeader + (layout.pe32Plus ? 112 : 96) + uint64_t{index} * 8;
}

void setDataDirectory(std::string& image, const PeLayout& layout, uint32_t index, DataDirectory d) {
    if (index < layout.numberOfDirectories) {
        writeU32(image, directoryOffset(layout, index), d.address);
        writeU32(image, directoryOffset(layout, index) + 4, d.size);
    }
}

// Reads a resource tree whose root sits at the start of `section` (mapped at `rva`).
class TreeReader {
public:
    TreeReader(std::string_view section, uint32_t rva, std::string* error)
        : section_(section), rva_(rva), error_(error) {}

    bool read(std::vector<Resource>& out) { return directory(0, 0, Resource{}, out); }

private:
    bool fail(const char* reason) {
        if (error_) {
            *error_ = std::string("malformed resource tree: ") + reason;
        }
        return false;
    }

    bool key(uint32_t field, ResourceKey& key) {
        if ((field & 0x80000000u) == 0) {
            key = {static_cast<uint16_t>(field), {}};
            return true;
        }
        uint64_t at = field & 0x7FFFFFFFu;
        if (at + 2 > section_.size()) {
            return fail("a name lies outside the section");
        }
        uint16_t length = readU16(section_, at);
        if (length == 0 || at + 2 + uint64_t{length} * 2 > section_.size()) {
            return fail("a name lies outside the section");
        }
        key = {};
        for (uint16_t i = 0; i < length; ++i) {
            key.name += static_cast<char16_t>(readU16(section_, at + 2 + uint64_t{i} * 2));
        }
        return true;
    }

    bool directory(int level, uint64_t at, Resource resource, std::vector<Resource>& out) {
        if (at + 16 > section_.size()) {
            return fail("a directory lies outside the section");
        }
        uint32_t entries = uint32_t{readU16(section_, at + 12)} + readU16(section_, at + 14);
        if (at + 16 + uint64_t{entries} * 8 > section_.size()) {
            return fail("a directory's entries lie outside the section");
        }
        for (uint32_t i = 0; i < entries; ++i) {
            if (++visited_ > kMaxEntriesVisited) {
                return fail("too many directory entries");
            }
            uint64_t entry = at + 16 + uint64_t{i} * 8;
            uint32_t nameField = readU32(section_, entry);
            uint32_t target = readU32(section_, entry + 4);
            if (level == 0 && !key(nameField, resource.type)) {
                return false;
            }
            if (level == 1 && !key(nameField, resource.name)) {
                return false;
            }
            if (level == 2) {
                if (nameField & 0x80000000u) {
                    return fail("a language is a name");
                }
                resource.language = static_cast<uint16_t>(nameField);
            }
            bool subdirectory = (target & 0x80000000u) != 0;
            if (subdirectory != (level < 2)) {
                return fail("the tree does not have three levels");
            }
            bool ok = subdirectory ? directory(level + 1, target & 0x7FFFFFFFu, resource, out)
                                   : data(target, resource, out);
            if (!ok) {
                return false;
            }
        }
        return true;
    }

    bool data(uint64_t at, Resource resource, std::vector<Resource>& out) {
        if (out.size() >= kMaxResources) {
            return fail("too many resources");
        }
        if (at + 16 > section_.size()) {
            return fail("a data entry lies outside the section");
        }
        uint32_t rva = readU32(section_, at);
        uint32_t size = readU32(section_, at + 4);
        if (rva < rva_ || uint64_t{rva - rva_} + size > section_.size()) {
            return fail("resource data lies outside the resource section");
        }
        resource.codePage = readU32(section_, at + 8);
        resource.data = std::string(section_.substr(rva - rva_, size));
        out.push_back(std::move(resource));
        return true;
    }

    std::string_view section_;
    uint32_t rva_;
    std::string* error_;
    size_t visited_ = 0;
};

// Names sort before ids; names without regard to ASCII case, as the loader compares them.
bool keyLess(const ResourceKey& a, const ResourceKey& b) {
    if (a.isName() != b.isName()) {
        return a.isName();
    }
    if (!a.isName()) {
        return a.id < b.id;
    }
    auto upper = [](char16_t c) { return c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - 32) : c; };
    return std::lexicographical_compare(a.name.begin(), a.name.end(), b.name.begin(), b.name.end(),
                                        [&](char16_t x, char16_t y) { return upper(x) < upper(y); });
}

struct KeyOrder {
    bool operator()(const ResourceKey& a, const ResourceKey& b) const { return keyLess(a, b); }
};

using LanguageMap = std::map<uint16_t, const Resource*>;
using NameMap = std::map<ResourceKey, LanguageMap, KeyOrder>;
using TypeMap = std::map<ResourceKey, NameMap, KeyOrder>;

} // namespace

std::optional<PeLayout> readPeLayout(std::string_view image, std::string* error) {
    std::optional<uint64_t> end = findPayloadStart(image, error);
    if (!end) {
        return std::nullopt;
    }
    PeLayout layout;
    uint64_t pe = readU32(image, 0x3C);
    layout.machine = readU16(image, pe + 4);
    layout.sections = readU16(image, pe + 6);
    layout.optionalHeader = pe + 24;
    uint16_t optionalSize = readU16(image, pe + 20);
    layout.sectionTable = layout.optionalHeader + optionalSize;
    uint16_t magic = optionalSize >= 2 ? readU16(image, layout.optionalHeader) : 0;
    layout.pe32Plus = magic == 0x20B;
    uint64_t directories = layout.pe32Plus ? 112 : 96;
    if ((magic != 0x10B && magic != 0x20B) || optionalSize < directories) {
        if (error) {
            *error = "not a PE image (no usable optional header)";
        }
        return std::nullopt;
    }
    layout.sectionAlignment = readU32(image, layout.optionalHeader + 32);
    layout.fileAlignment = readU32(image, layout.optionalHeader + 36);
    layout.sizeOfHeaders = readU32(image, layout.optionalHeader + 60);
    layout.checksum = readU32(image, layout.optionalHeader + 64);
    uint32_t count = readU32(image, layout.optionalHeader + (layout.pe32Plus ? 108 : 92));
    layout.numberOfDirectories =
        static_cast<uint32_t>(std::min<uint64_t>(count, (optionalSize - directories) / 8));
    layout.imageEnd = *end;
    return layout;
}

DataDirectory dataDirectory(std::string_view image, const PeLayout& layout, uint32_t index) {
    if (index >= layout.numberOfDirectories) {
        return {};
    }
    return {readU32(image, directoryOffset(layout, index)),
            readU32(image, directoryOffset(layout, index) + 4)};
}

bool isSigned(std::string_view image) {
    std::optional<PeLayout> layout = readPeLayout(image, nullptr);
    return layout && dataDirectory(image, *layout, kCertificateDirectory).size != 0;
}

void dropSignature(std::string& image) {
    if (std::optional<PeLayout> layout = readPeLayout(image, nullptr)) {
        setDataDirectory(image, *layout, kCertificateDirectory, {});
    }
}

uint32_t peChecksum(std::string_view file, const PeLayout& layout) {
    const uint64_t field = layout.optionalHeader + 64;
    uint64_t sum = 0;
    for (uint64_t i = 0; i < file.size(); i += 2) {
        if (i == field || i == field + 2) {
            continue;
        }
        uint32_t word = static_cast<uint8_t>(file[i]);
        if (i + 1 < file.size()) {
            word |= uint32_t{static_cast<uint8_t>(file[i + 1])} << 8;
        }
        sum += word;
        sum = (sum & 0xFFFF) + (sum >> 16);
    }
    sum = (sum & 0xFFFF) + (sum >> 16);
    return static_cast<uint32_t>(sum + file.size());
}

void refreshChecksum(std::string& file) {
    std::optional<PeLayout> layout = readPeLayout(file, nullptr);
    if (layout && layout->checksum != 0) {
        writeU32(file, layout->optionalHeader + 64, peChecksum(file, *layout));
    }
}

std::optional<std::vector<Resource>> readResources(std::string_view image, std::string* error) {
    std::optional<PeLayout> layout = readPeLayout(image, error);
    if (!layout) {
        return std::nullopt;
    }
    std::vector<Resource> resources;
    DataDirectory directory = dataDirectory(image, *layout, kResourceDirectory);
    if (directory.address == 0) {
        return resources;
    }
    for (const Section& s : readSections(image, *layout)) {
        if (s.holds(directory.address)) {
            uint32_t start = directory.address - s.virtualAddress;
            if (start >= s.rawSize) {
                break;
            }
            std::string_view raw = image.substr(s.rawOffset + start, s.rawSize - start);
            if (!TreeReader(raw, directory.address, error).read(resources)) {
                return std::nullopt;
            }
            return resources;
        }
    }
    if (error) {
        *error = "the resource directory lies in no section";
    }
    return std::nullopt;
}

std::string buildResourceSection(std::vector<Resource> resources, uint32_t sectionRva) {
    TypeMap tree;
    for (const Resource& r : resources) {
        tree[r.type][r.name][r.language] = &r; // a later resource with the same key replaces an earlier one
    }
    // Directories first (root, types, names), then the data entries, the names and the data itself.
    size_t size = 16 + 8 * tree.size();
    std::map<const NameMap*, size_t> typeDirs;
    std::map<const LanguageMap*, size_t> nameDirs;
    for (auto& [type, names] : tree) {
        typeDirs[&names] = size;
        size += 16 + 8 * names.size();
    }
    size_t count = 0;
    for (auto& [type, names] : tree) {
        for (auto& [name, languages] : names) {
            nameDirs[&languages] = size;
            size += 16 + 8 * languages.size();
            count += languages.size();
        }
    }
    size_t entries = size;
    size += 16 * count;
    std::string out(size, '\0');
    auto putName = [&](const ResourceKey& key) -> uint32_t {
        if (!key.isName()) {
            return key.id;
        }
        uint32_t at = static_cast<uint32_t>(out.size());
        out.resize(out.size() + 2 + 2 * key.name.size(), '\0');
        writeU16(out, at, static_cast<uint16_t>(key.name.size()));
        for (size_t i = 0; i < key.name.size(); ++i) {
            writeU16(out, at + 2 + 2 * i, static_cast<uint16_t>(key.name[i]));
        }
        return 0x80000000u | at;
    };
    auto putDirectory = [&](size_t at, size_t named, size_t all) {
        writeU16(out, at + 12, static_cast<uint16_t>(named));
        writeU16(out, at + 14, static_cast<uint16_t>(all - named));
    };
    auto namedCount = [](const auto& map) {
        return static_cast<size_t>(
            std::count_if(map.begin(), map.end(), [](auto& e) { return e.first.isName(); }));
    };
    std::vector<std::pair<size_t, const Resource*>> dataEntries;
    putDirectory(0, namedCount(tree), tree.size());
    size_t rootEntry = 16;
    for (auto& [type, names] : tree) {
        writeU32(out, rootEntry, putName(type));
        writeU32(out, rootEntry + 4, 0x80000000u | static_cast<uint32_t>(typeDirs[&names]));
        rootEntry += 8;
        size_t typeDir = typeDirs[&names];
        putDirectory(typeDir, namedCount(names), names.size());
        size_t typeEntry = typeDir + 16;
        for (auto& [name, languages] : names) {
            writeU32(out, typeEntry, putName(name));
            writeU32(out, typeEntry + 4, 0x80000000u | static_cast<uint32_t>(nameDirs[&languages]));
            typeEntry += 8;
            size_t nameDir = nameDirs[&languages];
            putDirectory(nameDir, 0, languages.size());
            size_t languageEntry = nameDir + 16;
            for (auto& [language, resource] : languages) {
                writeU32(out, languageEntry, language);
                writeU32(out, languageEntry + 4, static_cast<uint32_t>(entries));
                dataEntries.emplace_back(entries, resource);
                languageEntry += 8;
                entries += 16;
            }
        }
    }
    for (auto& [entry, resource] : dataEntries) {
        out.resize(alignUp(out.size(), 8), '\0');
        writeU32(out, entry, sectionRva + static_cast<uint32_t>(out.size()));
        writeU32(out, entry + 4, static_cast<uint32_t>(resource->data.size()));
        writeU32(out, entry + 8, resource->codePage);
        out += resource->data;
    }
    return out;
}

std::optional<std::string> replaceResources(std::string_view original, const std::vector<Resource>& resources,
                                            std::string* error) {
    auto fail = [error](std::string reason) -> std::optional<std::string> {
        if (error) {
            *error = std::move(reason);
        }
        return std::nullopt;
    };
    std::optional<PeLayout> layout = readPeLayout(original, error);
    if (!layout) {
        return std::nullopt;
    }
    if (isSigned(original)) {
        return fail("the image is signed: its resources cannot change without dropping the signature");
    }
    std::string image(original.substr(0, layout->imageEnd));
    std::vector<Section> sections = readSections(image, *layout);
    DataDirectory directory = dataDirectory(image, *layout, kResourceDirectory);
    DataDirectory relocations = dataDirectory(image, *layout, kRelocationDirectory);

    // The resource section, if the image has one of its own; else where a new one goes.
    size_t index = sections.size();
    bool existing = false;
    if (directory.address != 0) {
        for (size_t i = 0; i < sections.size(); ++i) {
            if (sections[i].holds(directory.address)) {
                if (sections[i].virtualAddress != directory.address) {
                    return fail("the resource directory does not start its section");
                }
                index = i;
                existing = true;
            }
        }
        if (!existing) {
            return fail("the resource directory lies in no section");
        }
    }
    // Only base relocations may follow the resources: nothing refers to their own place, so they move.
    auto movable = [&](const Section& s) {
        if (relocations.address == 0 || !s.holds(relocations.address)) {
            return false;
        }
        for (uint32_t d = 0; d < layout->numberOfDirectories; ++d) {
            DataDirectory other = dataDirectory(image, *layout, d);
            if (d != kRelocationDirectory && d != kCertificateDirectory && other.address != 0 &&
                s.holds(other.address)) {
                return false;
            }
        }
        return true;
    };
    if (!existing) {
        while (index > 0 && movable(sections[index - 1])) {
            --index;
        }
    }

    Section rsrc;
    if (existing) {
        rsrc = sections[index];
        std::string tree = buildResourceSection(resources, rsrc.virtualAddress);
        const uint32_t treeSize = static_cast<uint32_t>(tree.size());
        bool last = index + 1 == sections.size();
        if (treeSize <= rsrc.rawSize &&
            (last || uint64_t{rsrc.virtualAddress} + treeSize <= sections[index + 1].virtualAddress)) {
            tree.resize(rsrc.rawSize, '\0');
            image.replace(rsrc.rawOffset, rsrc.rawSize, tree);
            sections[index].virtualSize = treeSize;
            writeSection(image, layout->sectionTable + index * kSectionHeaderSize, sections[index]);
            setDataDirectory(image, *layout, kResourceDirectory,
                             {rsrc.virtualAddress, sections[index].virtualSize});
            refreshChecksum(image);
            return image;
        }
    } else {
        uint64_t firstRaw = layout->sizeOfHeaders;
        for (const Section& s : sections) {
            if (s.rawSize != 0) {
                firstRaw = std::min<uint64_t>(firstRaw, s.rawOffset);
            }
        }
        if (layout->sectionTable + (sections.size() + 1) * kSectionHeaderSize > firstRaw) {
            return fail("no room in the section table for a resource section");
        }
        rsrc.name = ".rsrc";
        rsrc.rest = std::string(16, '\0');
        writeU32(rsrc.rest, 12, kScnInitializedData | kScnMemRead);
        if (index < sections.size()) {
            rsrc.virtualAddress = sections[index].virtualAddress;
            rsrc.rawOffset = sections[index].rawOffset;
        } else {
            const Section& lastSection = sections.back();
            rsrc.virtualAddress = static_cast<uint32_t>(
                alignUp(lastSection.virtualAddress + lastSection.span(), layout->sectionAlignment));
            rsrc.rawOffset = static_cast<uint32_t>(alignUp(layout->imageEnd, layout->fileAlignment));
        }
    }
    for (size_t i = index + (existing ? 1 : 0); i < sections.size(); ++i) {
        if (!movable(sections[i])) {
            return fail("the resource section cannot grow: section '" + sections[i].name + "' follows it");
        }
    }

    // The new layout: everything before the resources unchanged, then the tree, then the relocations.
    std::string tree = buildResourceSection(resources, rsrc.virtualAddress);
    uint32_t oldRawSize = existing ? rsrc.rawSize : 0;
    rsrc.virtualSize = static_cast<uint32_t>(tree.size());
    rsrc.rawSize = static_cast<uint32_t>(alignUp(tree.size(), layout->fileAlignment));
    tree.resize(rsrc.rawSize, '\0');
    std::string out = image.substr(0, rsrc.rawOffset);
    out.resize(rsrc.rawOffset, '\0');
    out += tree;
    uint64_t nextVa = alignUp(uint64_t{rsrc.virtualAddress} + rsrc.virtualSize, layout->sectionAlignment);
    std::vector<Section> table(sections.begin(), sections.begin() + static_cast<ptrdiff_t>(index));
    table.push_back(rsrc);
    for (size_t i = index + (existing ? 1 : 0); i < sections.size(); ++i) {
        Section moved = sections[i];
        uint32_t delta = static_cast<uint32_t>(nextVa) - moved.virtualAddress;
        moved.virtualAddress = static_cast<uint32_t>(nextVa);
        moved.rawOffset = static_cast<uint32_t>(out.size());
        out += image.substr(sections[i].rawOffset, moved.rawSize);
        out.resize(alignUp(out.size(), layout->fileAlignment), '\0');
        if (sections[i].holds(relocations.address)) {
            relocations.address += delta;
        }
        nextVa = alignUp(uint64_t{moved.virtualAddress} + moved.span(), layout->sectionAlignment);
        table.push_back(std::move(moved));
    }
    for (size_t i = 0; i < table.size(); ++i) {
        writeSection(out, layout->sectionTable + i * kSectionHeaderSize, table[i]);
    }
    writeU16(out, layout->optionalHeader - 24 + 6, static_cast<uint16_t>(table.size())); // NumberOfSections
    writeU32(out, layout->optionalHeader + 56, static_cast<uint32_t>(nextVa));
    uint32_t initialized = readU32(out, layout->optionalHeader + 8);
    writeU32(out, layout->optionalHeader + 8, initialized - oldRawSize + rsrc.rawSize);
    setDataDirectory(out, *layout, kResourceDirectory, {rsrc.virtualAddress, rsrc.virtualSize});
    setDataDirectory(out, *layout, kRelocationDirectory, relocations);
    refreshChecksum(out);
    return out;
}

} // namespace morix::payload
