#include "morix/pe_resources.h"

#include "little_endian.h"

#include <algorithm>
#include <map>

namespace morix::payload {
namespace {

constexpr uint32_t kScnInitializedData = 0x00000040;
constexpr uint32_t kScnMemRead = 0x40000000;
// A tree this large is no launcher's: the bound keeps a looping or hostile tree from running away.
constexpr size_t kMaxResources = 4096;
// Directories may share subdirectories, so the entries visited are bounded too, not only the leaves.
constexpr size_t kMaxEntriesVisited = 65536;

uint64_t alignUp(uint64_t value, uint64_t alignment) {
    return alignment == 0 ? value : (value + alignment - 1) / alignment * alignment;
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

// Writes a resource tree: the directories first (root, types, names), then the data entries, the names
// and the data itself.
class TreeWriter {
public:
    explicit TreeWriter(const std::vector<Resource>& resources) {
        for (const Resource& r : resources) {
            tree_[r.type][r.name][r.language] =
                &r; // a later resource with the same key replaces an earlier one
        }
    }

    std::string write(uint32_t sectionRva) {
        layOut();
        writeDirectories();
        writeData(sectionRva);
        return std::move(out_);
    }

private:
    // Places every directory and the data entries behind them.
    void layOut() {
        size_t size = 16 + 8 * tree_.size();
        for (auto& [type, names] : tree_) {
            typeDirs_[&names] = size;
            size += 16 + 8 * names.size();
        }
        size_t count = 0;
        for (auto& [type, names] : tree_) {
            for (auto& [name, languages] : names) {
                nameDirs_[&languages] = size;
                size += 16 + 8 * languages.size();
                count += languages.size();
            }
        }
        nextEntry_ = size;
        out_.assign(size + 16 * count, '\0');
    }

    // An entry's name field: the id, or the offset of a name written behind everything so far.
    uint32_t putName(const ResourceKey& key) {
        if (!key.isName()) {
            return key.id;
        }
        const auto at = static_cast<uint32_t>(out_.size());
        out_.resize(out_.size() + 2 + 2 * key.name.size(), '\0');
        writeU16(out_, at, static_cast<uint16_t>(key.name.size()));
        for (size_t i = 0; i < key.name.size(); ++i) {
            writeU16(out_, at + 2 + 2 * i, static_cast<uint16_t>(key.name[i]));
        }
        return 0x80000000u | at;
    }

    // A directory's header: how many of its entries are named and how many have ids.
    template <typename Map>
    void putDirectory(size_t at, const Map& map) {
        const auto named = static_cast<size_t>(
            std::count_if(map.begin(), map.end(), [](auto& e) { return e.first.isName(); }));
        writeU16(out_, at + 12, static_cast<uint16_t>(named));
        writeU16(out_, at + 14, static_cast<uint16_t>(map.size() - named));
    }

    // An entry that names a subdirectory.
    void putEntry(size_t at, const ResourceKey& key, size_t directory) {
        writeU32(out_, at, putName(key));
        writeU32(out_, at + 4, 0x80000000u | static_cast<uint32_t>(directory));
    }

    void writeDirectories() {
        putDirectory(0, tree_);
        size_t rootEntry = 16;
        for (auto& [type, names] : tree_) {
            putEntry(rootEntry, type, typeDirs_[&names]);
            rootEntry += 8;
            writeNames(typeDirs_[&names], names);
        }
    }

    // A type's directory: one entry per name, each naming the directory of its languages.
    void writeNames(size_t typeDir, const NameMap& names) {
        putDirectory(typeDir, names);
        size_t typeEntry = typeDir + 16;
        for (auto& [name, languages] : names) {
            putEntry(typeEntry, name, nameDirs_[&languages]);
            typeEntry += 8;
            writeLanguages(nameDirs_[&languages], languages);
        }
    }

    // A name's directory, which holds no names: one entry per language, each naming a data entry.
    void writeLanguages(size_t nameDir, const LanguageMap& languages) {
        writeU16(out_, nameDir + 14, static_cast<uint16_t>(languages.size()));
        size_t languageEntry = nameDir + 16;
        for (auto& [language, resource] : languages) {
            writeU32(out_, languageEntry, language);
            writeU32(out_, languageEntry + 4, static_cast<uint32_t>(nextEntry_));
            dataEntries_.emplace_back(nextEntry_, resource);
            languageEntry += 8;
            nextEntry_ += 16;
        }
    }

    void writeData(uint32_t sectionRva) {
        for (auto& [entry, resource] : dataEntries_) {
            out_.resize(alignUp(out_.size(), 8), '\0');
            writeU32(out_, entry, sectionRva + static_cast<uint32_t>(out_.size()));
            writeU32(out_, entry + 4, static_cast<uint32_t>(resource->data.size()));
            writeU32(out_, entry + 8, resource->codePage);
            out_ += resource->data;
        }
    }

    TypeMap tree_;
    std::map<const NameMap*, size_t> typeDirs_;
    std::map<const LanguageMap*, size_t> nameDirs_;
    size_t nextEntry_ = 0;
    std::vector<std::pair<size_t, const Resource*>> dataEntries_;
    std::string out_;
};

} // namespace

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
    for (const SectionHeader& s : readSectionHeaders(image, *layout)) {
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
    return TreeWriter(resources).write(sectionRva);
}

namespace {

std::optional<std::string> failWith(std::string* error, std::string reason) {
    if (error) {
        *error = std::move(reason);
    }
    return std::nullopt;
}

// The image being given new resources: its headers, sections and the two directories that move.
struct ResourceEdit {
    std::string image; // without anything behind its last section
    PeLayout layout;
    std::vector<SectionHeader> sections;
    DataDirectory directory;
    DataDirectory relocations;
    size_t index = 0;      // the resource section, or where a new one goes
    bool existing = false; // the image has a resource section of its own

    // Only base relocations may follow the resources: nothing refers to their own place, so they move.
    bool movable(const SectionHeader& s) const {
        if (relocations.address == 0 || !s.holds(relocations.address)) {
            return false;
        }
        for (uint32_t d = 0; d < layout.numberOfDirectories; ++d) {
            DataDirectory other = dataDirectory(image, layout, d);
            if (d != kRelocationDirectory && d != kCertificateDirectory && other.address != 0 &&
                s.holds(other.address)) {
                return false;
            }
        }
        return true;
    }

    // The sections behind the resource section, which move when it grows.
    size_t firstFollowing() const { return index + (existing ? 1 : 0); }
};

// Finds the resource section, or the place for a new one: before the movable sections at the end.
bool placeResourceSection(ResourceEdit& edit, std::string* error) {
    edit.index = edit.sections.size();
    if (edit.directory.address != 0) {
        for (size_t i = 0; i < edit.sections.size(); ++i) {
            if (edit.sections[i].holds(edit.directory.address)) {
                if (edit.sections[i].virtualAddress != edit.directory.address) {
                    failWith(error, "the resource directory does not start its section");
                    return false;
                }
                edit.index = i;
                edit.existing = true;
            }
        }
        if (!edit.existing) {
            failWith(error, "the resource directory lies in no section");
            return false;
        }
        return true;
    }
    while (edit.index > 0 && edit.movable(edit.sections[edit.index - 1])) {
        --edit.index;
    }
    return true;
}

// The resources written over the old tree, when the new one fits its raw data and its address range.
std::optional<std::string> replaceInPlace(ResourceEdit& edit, const std::vector<Resource>& resources) {
    SectionHeader& rsrc = edit.sections[edit.index];
    std::string tree = buildResourceSection(resources, rsrc.virtualAddress);
    const auto treeSize = static_cast<uint32_t>(tree.size());
    const bool last = edit.index + 1 == edit.sections.size();
    if (treeSize > rsrc.rawSize ||
        (!last && uint64_t{rsrc.virtualAddress} + treeSize > edit.sections[edit.index + 1].virtualAddress)) {
        return std::nullopt;
    }
    tree.resize(rsrc.rawSize, '\0');
    edit.image.replace(rsrc.rawOffset, rsrc.rawSize, tree);
    rsrc.virtualSize = treeSize;
    writeSectionHeader(edit.image, edit.layout, edit.index, rsrc);
    setDataDirectory(edit.image, edit.layout, kResourceDirectory, {rsrc.virtualAddress, rsrc.virtualSize});
    refreshChecksum(edit.image);
    return edit.image;
}

// A new resource section's header, at the place of the first section that moves or behind the last.
std::optional<SectionHeader> newResourceSection(const ResourceEdit& edit, std::string* error) {
    uint64_t firstRaw = edit.layout.sizeOfHeaders;
    for (const SectionHeader& s : edit.sections) {
        if (s.rawSize != 0) {
            firstRaw = std::min<uint64_t>(firstRaw, s.rawOffset);
        }
    }
    if (edit.layout.sectionTable + (edit.sections.size() + 1) * kSectionHeaderSize > firstRaw) {
        failWith(error, "no room in the section table for a resource section");
        return std::nullopt;
    }
    SectionHeader rsrc;
    rsrc.name = ".rsrc";
    rsrc.rest = std::string(16, '\0');
    writeU32(rsrc.rest, 12, kScnInitializedData | kScnMemRead);
    if (edit.index < edit.sections.size()) {
        rsrc.virtualAddress = edit.sections[edit.index].virtualAddress;
        rsrc.rawOffset = edit.sections[edit.index].rawOffset;
    } else {
        const SectionHeader& lastSection = edit.sections.back();
        rsrc.virtualAddress = static_cast<uint32_t>(
            alignUp(lastSection.virtualAddress + lastSection.span(), edit.layout.sectionAlignment));
        rsrc.rawOffset = static_cast<uint32_t>(alignUp(edit.layout.imageEnd, edit.layout.fileAlignment));
    }
    return rsrc;
}

// The new layout: everything before the resources unchanged, then the tree, then the relocations moved
// behind it; the section table, image size, initialized data size, directories and checksum follow.
std::string relayout(ResourceEdit& edit, SectionHeader rsrc, const std::vector<Resource>& resources) {
    const PeLayout& layout = edit.layout;
    std::string tree = buildResourceSection(resources, rsrc.virtualAddress);
    const uint32_t oldRawSize = edit.existing ? rsrc.rawSize : 0;
    rsrc.virtualSize = static_cast<uint32_t>(tree.size());
    rsrc.rawSize = static_cast<uint32_t>(alignUp(tree.size(), layout.fileAlignment));
    tree.resize(rsrc.rawSize, '\0');
    std::string out = edit.image.substr(0, rsrc.rawOffset);
    out.resize(rsrc.rawOffset, '\0');
    out += tree;
    uint64_t nextVa = alignUp(uint64_t{rsrc.virtualAddress} + rsrc.virtualSize, layout.sectionAlignment);
    std::vector<SectionHeader> table(edit.sections.begin(),
                                     edit.sections.begin() + static_cast<ptrdiff_t>(edit.index));
    table.push_back(rsrc);
    DataDirectory relocations = edit.relocations;
    for (size_t i = edit.firstFollowing(); i < edit.sections.size(); ++i) {
        SectionHeader moved = edit.sections[i];
        const uint32_t delta = static_cast<uint32_t>(nextVa) - moved.virtualAddress;
        moved.virtualAddress = static_cast<uint32_t>(nextVa);
        moved.rawOffset = static_cast<uint32_t>(out.size());
        out += edit.image.substr(edit.sections[i].rawOffset, moved.rawSize);
        out.resize(alignUp(out.size(), layout.fileAlignment), '\0');
        if (edit.sections[i].holds(relocations.address)) {
            relocations.address += delta;
        }
        nextVa = alignUp(uint64_t{moved.virtualAddress} + moved.span(), layout.sectionAlignment);
        table.push_back(std::move(moved));
    }
    for (size_t i = 0; i < table.size(); ++i) {
        writeSectionHeader(out, layout, i, table[i]);
    }
    writeU16(out, layout.optionalHeader - 24 + 6, static_cast<uint16_t>(table.size())); // NumberOfSections
    writeU32(out, layout.optionalHeader + 56, static_cast<uint32_t>(nextVa));           // SizeOfImage
    const uint32_t initialized = readU32(out, layout.optionalHeader + 8);
    writeU32(out, layout.optionalHeader + 8, initialized - oldRawSize + rsrc.rawSize);
    setDataDirectory(out, layout, kResourceDirectory, {rsrc.virtualAddress, rsrc.virtualSize});
    setDataDirectory(out, layout, kRelocationDirectory, relocations);
    refreshChecksum(out);
    return out;
}

} // namespace

std::optional<std::string> replaceResources(std::string_view original, const std::vector<Resource>& resources,
                                            std::string* error) {
    std::optional<PeLayout> layout = readPeLayout(original, error);
    if (!layout) {
        return std::nullopt;
    }
    if (isSigned(original)) {
        return failWith(error,
                        "the image is signed: its resources cannot change without dropping the signature");
    }
    ResourceEdit edit;
    edit.image = std::string(original.substr(0, layout->imageEnd));
    edit.layout = *layout;
    edit.sections = readSectionHeaders(edit.image, *layout);
    edit.directory = dataDirectory(edit.image, *layout, kResourceDirectory);
    edit.relocations = dataDirectory(edit.image, *layout, kRelocationDirectory);
    if (!placeResourceSection(edit, error)) {
        return std::nullopt;
    }
    std::optional<SectionHeader> rsrc;
    if (edit.existing) {
        if (std::optional<std::string> image = replaceInPlace(edit, resources)) {
            return image;
        }
        rsrc = edit.sections[edit.index];
    } else {
        rsrc = newResourceSection(edit, error);
        if (!rsrc) {
            return std::nullopt;
        }
    }
    for (size_t i = edit.firstFollowing(); i < edit.sections.size(); ++i) {
        if (!edit.movable(edit.sections[i])) {
            return failWith(error, "the resource section cannot grow: section '" + edit.sections[i].name +
                                       "' follows it");
        }
    }
    return relayout(edit, *rsrc, resources);
}

} // namespace morix::payload
