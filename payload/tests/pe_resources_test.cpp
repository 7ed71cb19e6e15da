#include "morix/executable_resources.h"
#include "morix/pe_image.h"
#include "morix/pe_resources.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace morix::payload;

namespace {

struct TestSection {
    const char* name;
    uint32_t virtualAddress;
    std::string data; // raw data, a multiple of the file alignment
};

void put32(std::string& image, size_t at, uint32_t v) {
    std::memcpy(&image[at], &v, 4);
}

uint32_t get32(std::string_view image, size_t at) {
    uint32_t v = 0;
    std::memcpy(&v, image.data() + at, 4);
    return v;
}

// A PE image laid out as the linker lays out the launcher template: headers of 0x400 bytes, sections
// aligned to 0x200 in the file and 0x1000 in memory, directories for resources and base relocations,
// a checksum, and 0x80 bytes of a symbol table or old payload behind the last section.
std::string makeImage(bool pe32Plus, const std::vector<TestSection>& sections) {
    const uint32_t pe = 0x80;
    const uint16_t optionalSize = pe32Plus ? 0xF0 : 0xE0;
    std::string image(0x400, '\0');
    image[0] = 'M';
    image[1] = 'Z';
    put32(image, 0x3C, pe);
    std::memcpy(&image[pe], "PE\0\0", 4);
    uint16_t machine = pe32Plus ? 0x8664 : 0x14C;
    auto count = static_cast<uint16_t>(sections.size());
    std::memcpy(&image[pe + 4], &machine, 2);
    std::memcpy(&image[pe + 6], &count, 2);
    std::memcpy(&image[pe + 20], &optionalSize, 2);
    const size_t opt = pe + 24;
    uint16_t magic = pe32Plus ? 0x20B : 0x10B;
    std::memcpy(&image[opt], &magic, 2);
    put32(image, opt + 32, 0x1000);
    put32(image, opt + 36, 0x200);
    put32(image, opt + 60, 0x400);
    put32(image, opt + 64, 1); // a set checksum: the writer must refresh it
    put32(image, opt + (pe32Plus ? 108 : 92), 16);
    const size_t directories = opt + (pe32Plus ? 112 : 96);
    const size_t table = opt + optionalSize;
    uint32_t end = 0x1000;
    for (size_t i = 0; i < sections.size(); ++i) {
        const TestSection& s = sections[i];
        size_t h = table + 40 * i;
        std::memcpy(&image[h], s.name, std::strlen(s.name));
        put32(image, h + 8, static_cast<uint32_t>(s.data.size()));
        put32(image, h + 12, s.virtualAddress);
        put32(image, h + 16, static_cast<uint32_t>(s.data.size()));
        put32(image, h + 20, static_cast<uint32_t>(image.size()));
        put32(image, h + 36, 0x40000040);
        size_t directory = std::string_view(s.name) == ".rsrc"    ? 2
                           : std::string_view(s.name) == ".reloc" ? 5
                                                                  : 0;
        if (directory) {
            put32(image, directories + 8 * directory, s.virtualAddress);
            put32(image, directories + 8 * directory + 4, static_cast<uint32_t>(s.data.size()));
        }
        image += s.data;
        end = s.virtualAddress + static_cast<uint32_t>((s.data.size() + 0xFFF) / 0x1000 * 0x1000);
    }
    put32(image, opt + 56, end);
    image += std::string(0x80, 'S');
    return image;
}

std::vector<Resource> templateResources() {
    return {{{kRtManifest, {}}, {1, {}}, 0, 0, "<assembly/>"},
            {{0, u"CUSTOM"}, {0, u"Data"}, 0x0407, 1252, "named data"}};
}

// A template whose resources sit in .rsrc, followed by base relocations as the last section.
std::string relocLastTemplate(bool pe32Plus) {
    std::string rsrc = buildResourceSection(templateResources(), 0x3000);
    rsrc.resize(0x200, '\0');
    std::string relocations(0x200, '\0');
    for (size_t i = 0; i < relocations.size(); ++i) {
        relocations[i] = static_cast<char>(i * 7);
    }
    return makeImage(pe32Plus, {{".text", 0x1000, std::string(0x400, '\xC3')},
                                {".data", 0x2000, std::string(0x200, 'D')},
                                {".rsrc", 0x3000, rsrc},
                                {".reloc", 0x4000, relocations}});
}

IconImage bitmapIcon(uint8_t size, char fill) {
    std::string data(40 + size * size * 4 + size * 4, fill);
    put32(data, 0, 40);
    data[14] = 32;
    data[15] = 0;
    return {size, size, 0, 1, 32, data};
}

std::string icoFile(const std::vector<IconImage>& images) {
    std::string file(6 + 16 * images.size(), '\0');
    file[2] = 1;
    file[4] = static_cast<char>(images.size());
    for (size_t i = 0; i < images.size(); ++i) {
        size_t e = 6 + 16 * i;
        file[e] = static_cast<char>(images[i].width);
        file[e + 1] = static_cast<char>(images[i].height);
        file[e + 4] = 1;
        file[e + 6] = 32;
        put32(file, e + 8, static_cast<uint32_t>(images[i].data.size()));
        put32(file, e + 12, static_cast<uint32_t>(file.size()));
        file += images[i].data; // the directory is complete before any data is appended
    }
    return file;
}

const Resource* find(const std::vector<Resource>& resources, uint16_t type, uint16_t name) {
    for (const Resource& r : resources) {
        if (!r.type.isName() && r.type.id == type && !r.name.isName() && r.name.id == name) {
            return &r;
        }
    }
    return nullptr;
}

// The checks every written image must pass: the loader's and the launcher's view agree.
void expectConsistent(const std::string& image) {
    std::string error;
    std::optional<PeLayout> layout = readPeLayout(image, &error);
    ASSERT_TRUE(layout) << error;
    EXPECT_EQ(layout->imageEnd, image.size()); // nothing follows the last section: the payload goes there
    EXPECT_EQ(layout->checksum, peChecksum(image, *layout));
    uint32_t previousEnd = 0;
    uint64_t previousRawEnd = layout->sizeOfHeaders;
    for (uint16_t i = 0; i < layout->sections; ++i) {
        size_t h = layout->sectionTable + 40 * i;
        uint32_t va = get32(image, h + 12);
        EXPECT_EQ(va % 0x1000, 0u);
        EXPECT_GE(va, previousEnd) << "section " << i << " overlaps the one before";
        EXPECT_EQ(get32(image, h + 20), previousRawEnd) << "section " << i;
        previousEnd = va + (get32(image, h + 8) + 0xFFF) / 0x1000 * 0x1000;
        previousRawEnd = get32(image, h + 20) + get32(image, h + 16);
    }
    EXPECT_EQ(get32(image, layout->optionalHeader + 56), previousEnd); // SizeOfImage
}

std::string sectionName(const std::string& image, uint16_t index) {
    std::optional<PeLayout> layout = readPeLayout(image, nullptr);
    std::string name = image.substr(layout->sectionTable + 40 * index, 8);
    return name.substr(0, name.find('\0'));
}

} // namespace

TEST(ResourceWriter, IconsVersionAndManifestGrowTheResourcesAndMoveTheRelocationsBehindThem) {
    for (bool pe32Plus : {false, true}) {
        SCOPED_TRACE(pe32Plus ? "PE32+" : "PE32");
        const std::string original = relocLastTemplate(pe32Plus);
        std::string error;
        std::optional<std::vector<Resource>> resources = readResources(original, &error);
        ASSERT_TRUE(resources) << error;
        ASSERT_EQ(resources->size(), 2u);
        EXPECT_EQ((*resources)[0].type.name, u"CUSTOM"); // names sort before ids
        EXPECT_EQ((*resources)[0].codePage, 1252u);
        EXPECT_EQ((*resources)[0].language, 0x0407);

        std::vector<IconImage> icons = {bitmapIcon(16, 'a'), bitmapIcon(32, 'b'), bitmapIcon(48, 'c')};
        setIcon(*resources, icons);
        setVersionInfo(*resources, {{1, 2, 3, 4}, {5, 6, 7, 8}, {{u"CompanyName", u"Example"}}});
        setManifest(*resources, buildManifest(pe32Plus ? 0x8664 : 0x14C, ExecutionLevel::highestAvailable,
                                              DpiAwareness::perMonitorV2));
        std::optional<std::string> written = replaceResources(original, *resources, &error);
        ASSERT_TRUE(written) << error;
        expectConsistent(*written);

        std::optional<PeLayout> layout = readPeLayout(*written, nullptr);
        ASSERT_EQ(layout->sections, 4);
        EXPECT_EQ(sectionName(*written, 2), ".rsrc");
        EXPECT_EQ(sectionName(*written, 3), ".reloc");
        EXPECT_EQ(written->substr(0x400, 0x600), original.substr(0x400, 0x600)); // .text and .data untouched
        DataDirectory relocations = dataDirectory(*written, *layout, 5);
        uint32_t relocationRaw = get32(*written, layout->sectionTable + 40 * 3 + 20);
        EXPECT_EQ(relocations.address, get32(*written, layout->sectionTable + 40 * 3 + 12));
        EXPECT_GT(relocations.address, 0x4000u);
        EXPECT_EQ(relocations.size, 0x200u);
        EXPECT_EQ(written->substr(relocationRaw, 0x200), original.substr(0xC00, 0x200));
        EXPECT_EQ(dataDirectory(*written, *layout, 2).address, 0x3000u);

        std::optional<std::vector<Resource>> back = readResources(*written, &error);
        ASSERT_TRUE(back) << error;
        EXPECT_EQ(back->size(), 1u + 3u + 1u + 1u + 1u); // custom, icons, group, version, manifest
        for (uint16_t id = 1; id <= 3; ++id) {
            ASSERT_TRUE(find(*back, kRtIcon, id));
            EXPECT_EQ(find(*back, kRtIcon, id)->data, icons[id - 1].data);
        }
        const Resource* group = find(*back, kRtGroupIcon, 1);
        ASSERT_TRUE(group);
        ASSERT_EQ(group->data.size(), 6u + 3 * 14);
        EXPECT_EQ(group->data[4], 3);
        EXPECT_EQ(static_cast<uint8_t>(group->data[6 + 14]), 32); // second entry: 32x32
        EXPECT_EQ(group->data[6 + 14 + 12], 2);                   // ... as RT_ICON 2
        EXPECT_NE(find(*back, kRtManifest, 1)->data.find("level=\"highestAvailable\""), std::string::npos);
        EXPECT_NE(find(*back, kRtManifest, 1)->data.find(pe32Plus ? "\"amd64\"" : "\"X86\""),
                  std::string::npos);
        EXPECT_EQ(find(*back, kRtManifest, 1)->language, 0); // the template's language stays
        EXPECT_EQ((*back)[0].data, "named data");

        // The payload rule still holds: a launcher from the written image reads its payload back.
        Payload payload;
        payload.setString(101, "Svc");
        std::optional<std::string> launcher = attachPayload(*written, payload, &error);
        ASSERT_TRUE(launcher) << error;
        EXPECT_EQ(findPayloadStart(*launcher, nullptr), written->size());
        EXPECT_EQ(get32(*launcher, layout->optionalHeader + 64), peChecksum(*launcher, *layout));

        // Written once more with a single icon: the tree shrinks in place and the old icons are gone.
        setIcon(*back, {bitmapIcon(16, 'z')});
        std::optional<std::string> again = replaceResources(*written, *back, &error);
        ASSERT_TRUE(again) << error;
        expectConsistent(*again);
        EXPECT_EQ(again->size(), written->size());
        std::optional<std::vector<Resource>> single = readResources(*again, &error);
        EXPECT_TRUE(find(*single, kRtIcon, 1));
        EXPECT_FALSE(find(*single, kRtIcon, 2));
        EXPECT_EQ(find(*single, kRtGroupIcon, 1)->data[4], 1);
    }
}

TEST(ResourceWriter, ATemplateWithoutResourcesGetsAResourceSectionBeforeItsRelocations) {
    std::string relocations(0x200, 'R');
    std::string original =
        makeImage(false, {{".text", 0x1000, std::string(0x200, 'T')}, {".reloc", 0x2000, relocations}});
    std::string error;
    std::optional<std::vector<Resource>> resources = readResources(original, &error);
    ASSERT_TRUE(resources) << error;
    EXPECT_TRUE(resources->empty());
    setManifest(*resources, buildManifest(0x14C, ExecutionLevel::asInvoker, DpiAwareness::unaware));
    std::optional<std::string> written = replaceResources(original, *resources, &error);
    ASSERT_TRUE(written) << error;
    expectConsistent(*written);
    EXPECT_EQ(readPeLayout(*written, nullptr)->sections, 3);
    EXPECT_EQ(sectionName(*written, 1), ".rsrc");
    EXPECT_EQ(sectionName(*written, 2), ".reloc");
    std::optional<std::vector<Resource>> back = readResources(*written, &error);
    ASSERT_TRUE(back) << error;
    ASSERT_EQ(back->size(), 1u);
    EXPECT_EQ(back->front().language, kLanguageEnglishUs);

    // Without relocations the new section is the last one.
    std::string bare = makeImage(true, {{".text", 0x1000, std::string(0x200, 'T')}});
    written = replaceResources(bare, *resources, &error);
    ASSERT_TRUE(written) << error;
    expectConsistent(*written);
    EXPECT_EQ(sectionName(*written, 1), ".rsrc");

    // A section that cannot move behind the resources is reported, not overwritten.
    std::string rsrc = buildResourceSection(templateResources(), 0x2000);
    rsrc.resize(0x200, '\0');
    std::string blocked = makeImage(false, {{".text", 0x1000, std::string(0x200, 'T')},
                                            {".rsrc", 0x2000, rsrc},
                                            {".tls", 0x3000, std::string(0x200, 'x')}});
    setIcon(*resources, {bitmapIcon(48, 'q')});
    EXPECT_FALSE(replaceResources(blocked, *resources, &error));
    EXPECT_EQ(error, "the resource section cannot grow: section '.tls' follows it");
}

TEST(ResourceWriter, VersionInformationKeepsEveryFieldWithNonAsciiText) {
    VersionInfo info{{1, 0, 65535, 7}, {2, 1, 0, 0}, {}};
    info.strings = {{u"CompanyName", u"Bücher & Söhne GmbH"},
                    {u"ProductName", u"日本語のアプリ"},
                    {u"FileDescription", u"Emoji \U0001F600 and odd length"},
                    {u"LegalCopyright", u"© 2026"},
                    {u"OriginalFilename", u"app.exe"},
                    {u"InternalName", u"a"},
                    {u"FileVersion", u"1.0.65535.7"},
                    {u"ProductVersion", u"2.1.0.0"}};
    std::string data = buildVersionResource(info);
    EXPECT_EQ(get32(data, 0) & 0xFFFF, data.size());
    std::optional<VersionInfo> back = parseVersionResource(data);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->fileVersion, info.fileVersion);
    EXPECT_EQ(back->productVersion, info.productVersion);
    EXPECT_EQ(back->strings, info.strings);
    EXPECT_FALSE(parseVersionResource(data.substr(0, 40)));
    EXPECT_FALSE(parseVersionResource("junk"));
}

TEST(ResourceWriter, InputsThatAreNotIconsVersionsOrLevelsAreRefused) {
    std::string error;
    std::vector<IconImage> images = {bitmapIcon(16, 'a'), bitmapIcon(32, 'b')};
    std::optional<std::vector<IconImage>> parsed = parseIcoFile(icoFile(images), &error);
    ASSERT_TRUE(parsed) << error;
    ASSERT_EQ(parsed->size(), 2u);
    EXPECT_EQ((*parsed)[1].width, 32);
    EXPECT_EQ((*parsed)[1].data, images[1].data);

    std::string truncated = icoFile(images);
    truncated.resize(truncated.size() - 1);
    std::string notImage = icoFile({{16, 16, 0, 1, 32, std::string(64, 'x')}});
    for (const std::string& bad :
         {std::string("GIF89a"), std::string("\0\0\1\0\0\0", 6), truncated, notImage}) {
        EXPECT_FALSE(parseIcoFile(bad, &error));
        EXPECT_EQ(error.rfind("not an icon file (", 0), 0u) << error;
    }

    EXPECT_EQ(parseVersionNumber("1.2.3.4"), (VersionNumber{1, 2, 3, 4}));
    EXPECT_EQ(parseVersionNumber("0.0.0.65535"), (VersionNumber{0, 0, 0, 65535}));
    for (const char* bad :
         {"1.2.3", "1.2.3.4.5", "1.2.3.65536", "1.2.3.-4", "1..2.3", "v1.2.3.4", "1.2.3.4 ", ""}) {
        EXPECT_FALSE(parseVersionNumber(bad)) << bad;
    }
    EXPECT_EQ(parseExecutionLevel("requireAdministrator"), ExecutionLevel::requireAdministrator);
    EXPECT_FALSE(parseExecutionLevel("admin"));
    EXPECT_FALSE(parseDpiAwareness("yes"));

    // A signed image keeps its resources until the signature is dropped.
    std::string image = relocLastTemplate(false);
    std::optional<PeLayout> layout = readPeLayout(image, nullptr);
    put32(image, layout->optionalHeader + 96 + 8 * 4, static_cast<uint32_t>(image.size()));
    put32(image, layout->optionalHeader + 96 + 8 * 4 + 4, 0x100);
    EXPECT_TRUE(isSigned(image));
    EXPECT_FALSE(replaceResources(image, templateResources(), &error));
    dropSignature(image);
    EXPECT_FALSE(isSigned(image));
    EXPECT_TRUE(replaceResources(image, templateResources(), &error)) << error;
}

TEST(ResourceWriter, AMalformedOrSelfSharingTreeIsReportedNotFollowed) {
    // A type directory of 2000 entries that all lead to one name directory of 2000 entries, each leading to
    // an empty language directory: millions of paths through a few kilobytes.
    std::string tree(16 + 8 * 2000 + 16 + 8 * 2000 + 16, '\0');
    const uint32_t names = 16 + 8 * 2000, languages = names + 16 + 8 * 2000;
    tree[14] = static_cast<char>(2000 & 0xFF);
    tree[15] = static_cast<char>(2000 >> 8);
    tree[names + 14] = tree[14];
    tree[names + 15] = tree[15];
    for (uint32_t i = 0; i < 2000; ++i) {
        put32(tree, 16 + 8 * i, i + 1);
        put32(tree, 16 + 8 * i + 4, 0x80000000u | names);
        put32(tree, names + 16 + 8 * i, i + 1);
        put32(tree, names + 16 + 8 * i + 4, 0x80000000u | languages);
    }
    tree.resize((tree.size() + 0x1FF) / 0x200 * 0x200, '\0');
    std::string image =
        makeImage(false, {{".text", 0x1000, std::string(0x200, 'T')}, {".rsrc", 0x2000, tree}});
    std::string error;
    EXPECT_FALSE(readResources(image, &error));
    EXPECT_EQ(error, "malformed resource tree: too many directory entries");

    put32(tree, 16 + 4, 0x80000000u | 0x7FFFFF00u); // a subdirectory far outside the section
    image = makeImage(false, {{".text", 0x1000, std::string(0x200, 'T')}, {".rsrc", 0x2000, tree}});
    EXPECT_FALSE(readResources(image, &error));
    EXPECT_EQ(error, "malformed resource tree: a directory lies outside the section");
}
