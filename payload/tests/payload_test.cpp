#include "morix/payload.h"
#include "morix/pe_image.h"
#include "morix/text_encoding.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace morix::payload;

namespace {

Payload samplePayload() {
    Payload p;
    p.strings = {{101, "MySvc"}, {2001, "e"}, {101, "Replaced"}};
    p.wideStrings = {{20017, u"Beschreibung \u00e4\u20ac"}};
    p.messageSets = {{"de", {{1016, u"Keine Java-Laufzeit"}}}, {"de_CH", {{1016, u"Kei Java"}}}};
    p.files = {{"a.jar", std::string(6001, 'x')}, {"empty.txt", ""}, {"lib\\b.jar", "bee"}};
    p.describeIncludedFiles();
    return p;
}

// A minimal PE image: DOS header, PE header, an optional header of `optionalSize` bytes and the given
// sections (raw size, raw offset), padded to `fileSize`.
std::string makeImage(std::vector<std::pair<uint32_t, uint32_t>> sections, uint16_t optionalSize,
                      size_t fileSize) {
    std::string image(fileSize, '\0');
    image[0] = 'M';
    image[1] = 'Z';
    const uint32_t pe = 0x80;
    std::memcpy(&image[0x3C], &pe, 4);
    std::memcpy(&image[pe], "PE\0\0", 4);
    auto count = static_cast<uint16_t>(sections.size());
    std::memcpy(&image[pe + 6], &count, 2);
    std::memcpy(&image[pe + 20], &optionalSize, 2);
    size_t table = pe + 24 + optionalSize;
    for (size_t i = 0; i < sections.size(); ++i) {
        std::memcpy(&image[table + 40 * i + 16], &sections[i].first, 4);
        std::memcpy(&image[table + 40 * i + 20], &sections[i].second, 4);
    }
    return image;
}

} // namespace

TEST(PayloadFormat, RoundTripKeepsEveryPartInOrder) {
    Payload original = samplePayload();
    ParseResult parsed = parse(serialize(original));
    ASSERT_TRUE(parsed.payload) << parsed.error;
    const Payload& p = *parsed.payload;
    EXPECT_EQ(p.strings, original.strings);
    EXPECT_EQ(*p.findString(101), "Replaced");
    EXPECT_EQ(p.wideStrings, original.wideStrings);
    ASSERT_EQ(p.messageSets.size(), 2u);
    EXPECT_EQ(p.messageSets[1].locale, "de_CH");
    EXPECT_EQ(p.messageSets[1].texts, original.messageSets[1].texts);
    ASSERT_EQ(p.files.size(), 3u);
    EXPECT_EQ(p.files[0].content, std::string(6001, 'x'));
    EXPECT_EQ(p.files[1].content, "");
    EXPECT_EQ(p.files[2].name, "lib\\b.jar");
    EXPECT_EQ(parsed.end, serialize(original).size());
}

TEST(PayloadFormat, LayoutIsLittleEndianLengthPrefixedAndMasked) {
    Payload p;
    p.strings = {{7, "ab"}};
    p.wideStrings = {{8, u"c"}};
    p.files = {{"f", "\x01"}};
    p.describeIncludedFiles();
    std::string bytes = serialize(p);
    EXPECT_EQ(bytes.substr(0, 4), std::string("\xD5\x13\xE4\xE8", 4));
    // header (4+4+4+8), N1, then id 7 and the two bytes without terminator
    EXPECT_EQ(bytes.substr(24, 10), std::string("\x07\0\0\0\x02\0\0\0ab", 10));
    size_t wide = bytes.find(std::string("\x08\0\0\0", 4), 34);
    ASSERT_NE(wide, std::string::npos);
    EXPECT_EQ(bytes.substr(wide + 4, 6), std::string("\x02\0\0\0c\0", 6)); // byte count, UTF-16LE
    // last record: int64 size 1, then 0x01 ^ 0xA7
    EXPECT_EQ(bytes.substr(bytes.size() - 9), std::string("\x01\0\0\0\0\0\0\0\xA6", 9));
}

TEST(PayloadFormat, DamagedPayloadsNameTheFailingRead) {
    std::string good = serialize(samplePayload());
    EXPECT_EQ(parse("").error, "readInt");
    EXPECT_EQ(parse(std::string(4, '\0') + good.substr(4)).error, "magic");
    EXPECT_EQ(parse(good.substr(0, 10)).error, "readInt");
    EXPECT_EQ(parse(good.substr(0, 16)).error, "readLong");
    EXPECT_EQ(parse(good.substr(0, 34)).error, "readString");     // inside the first narrow value
    size_t wideStart = good.find(std::string("\x31\x4e\0\0", 4)); // id 20017
    ASSERT_NE(wideStart, std::string::npos);
    EXPECT_EQ(parse(good.substr(0, wideStart + 10)).error, "readWString");
    EXPECT_EQ(parse(good.substr(0, good.size() - 3)).error, "readFile");

    Payload negative;
    negative.strings = {{1, "x"}};
    std::string bytes = serialize(negative);
    bytes[28] = '\xFF'; // length -1 (low byte) ...
    bytes[29] = bytes[30] = bytes[31] = '\xFF';
    EXPECT_EQ(parse(bytes).error, "readString");
}

TEST(PayloadFormat, IncludedFileRecordsFollowTheCountAndTheNames) {
    Payload p;
    p.files = {{"a", "1"}, {"b", "22"}};
    p.setString(morix::ids::kIncludedFileCount, "1");
    p.setString(morix::ids::kIncludedFileNames, "a;b");
    ParseResult fewer = parse(serialize(p));
    ASSERT_TRUE(fewer.payload);
    ASSERT_EQ(fewer.payload->files.size(), 1u); // only N records are read
    EXPECT_EQ(fewer.end, fewer.filesOffset + 9);

    p.setString(morix::ids::kIncludedFileCount, "5");
    p.setString(morix::ids::kIncludedFileNames, ";a;;b;");
    ParseResult more = parse(serialize(p));
    ASSERT_TRUE(more.payload);
    EXPECT_EQ(more.payload->files.size(), 2u); // extraction stops after the last name
}

TEST(PeImage, PayloadStartsAtTheEndOfTheLastSectionHeadersRawData) {
    // A symbol table or an earlier payload after the last section is not part of the image.
    std::string image = makeImage({{0x200, 0x200}, {0x100, 0x400}}, 0xF0, 0x600);
    std::string error;
    EXPECT_EQ(findPayloadStart(image, &error), 0x500u) << error;

    Payload p;
    p.strings = {{1, "one"}};
    std::optional<std::string> launcher = attachPayload(image, p, &error);
    ASSERT_TRUE(launcher) << error;
    EXPECT_EQ(launcher->size(), 0x500 + serialize(p).size());
    EXPECT_EQ(parse(std::string_view(*launcher).substr(0x500)).payload->strings, p.strings);
    // Building from a launcher replaces its payload.
    EXPECT_EQ(*attachPayload(*launcher, p, &error), *launcher);
}

TEST(PeImage, RefusesFilesTheLauncherCouldNotCarryAPayloadIn) {
    std::string error;
    EXPECT_FALSE(
        findPayloadStart("not an executable at all, just some text that is long enough ....", &error));
    EXPECT_NE(error.find("not a PE file"), std::string::npos);
    // A last header that ends before another section: the payload would land inside the image.
    EXPECT_FALSE(findPayloadStart(makeImage({{0x200, 0x400}, {0x100, 0x200}}, 0xF0, 0x600), &error));
    EXPECT_NE(error.find("does not end the image"), std::string::npos);
    // A last section that the file does not hold.
    EXPECT_FALSE(findPayloadStart(makeImage({{0x200, 0x400}}, 0xF0, 0x500), &error));
    // An uninitialised section (no raw data) before the last one is fine.
    EXPECT_EQ(findPayloadStart(makeImage({{0, 0}, {0x100, 0x200}}, 0xF0, 0x300), &error), 0x300u);
}

TEST(TextEncoding, NarrowValuesAreWindows1252) {
    EXPECT_EQ(*utf8ToCp1252("gr\xC3\xBC\xC3\x9F \xE2\x82\xAC"), "gr\xFC\xDF \x80");
    EXPECT_EQ(cp1252ToUtf8("gr\xFC\xDF \x80"), "gr\xC3\xBC\xC3\x9F \xE2\x82\xAC");
    EXPECT_FALSE(utf8ToCp1252("\xE4\xB8\xAD")); // a CJK character has no byte
    EXPECT_FALSE(utf8ToCp1252("\xC3"));         // cut sequence
    EXPECT_EQ(*utf8ToUtf16("a\xF0\x9F\x98\x80"), u"a\U0001F600");
    EXPECT_EQ(utf16ToUtf8(u"a\U0001F600"), "a\xF0\x9F\x98\x80");
    EXPECT_FALSE(utf8ToUtf16("\xED\xA0\x80")); // encoded surrogate
}
