#include "config/locale.h"
#include "config/payload.h"
#include "harness/harness.h"
#include "log_tail.h"

#include "morix/payload.h"

#include <gtest/gtest.h>

using namespace morix;
using morix::test::LogTail;

namespace {

class ConfigurationTest : public ::testing::Test {
protected:
    void SetUp() override {
        configStrings.clear();
        configWideStrings.clear();
    }
    void TearDown() override { SetUp(); }

    // Loads the configuration part of a payload from a file, as the launcher does after the seek.
    void load(const std::string& bytes) {
        std::wstring file = dir_.file(L"payload.bin");
        test::writeFile(file, bytes);
        UniqueHandle handle(
            CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(handle.valid());
        loadPayloadFrom(handle.get());
    }

    test::TestDirectory dir_;
};

void putInt(std::string& out, int32_t value) {
    out.append(reinterpret_cast<const char*>(&value), 4);
}

} // namespace

TEST_F(ConfigurationTest, NarrowValuesAreCopiedWithinCapacityAndCutWithALogLine) {
    configStrings[900] = "12345";
    LogTail log;
    EXPECT_EQ(getConfigString(900, 6), "12345");
    EXPECT_EQ(log.text().find("truncated"), std::string::npos);

    configStrings[901] = "123456";
    EXPECT_EQ(getConfigString(901, 6), "12345");
    EXPECT_NE(log.text().find("] ERROR: config string 901 truncated (6 6)\n"), std::string::npos)
        << log.text();
    EXPECT_EQ(getConfigString(902), "");
    EXPECT_EQ(getConfigStringCopy(902), "");
    EXPECT_EQ(getConfigStringCopy(901), "123456");
}

TEST_F(ConfigurationTest, WideFormsNeverOverrunTheirCapacity) {
    // 0x80 is the euro sign in code page 1252; widened byte by byte it would be the control U+0080.
    configStrings[1] = "caf\x80";
    EXPECT_EQ(getConfigStringWide(1), L"caf\u20AC");
    EXPECT_EQ(getConfigStringWide(1, 3), L"ca");
    configWideStrings[2] = std::wstring(7000, L'w');
    EXPECT_EQ(getConfigWideString(2).size(), 5999u);
    EXPECT_EQ(getConfigWideString(2, 10), std::wstring(9, L'w'));
}

TEST_F(ConfigurationTest, IntegersReadLikeAtoi) {
    configStrings[1] = "12abc";
    configStrings[2] = "";
    configStrings[3] = " -3";
    configStrings[4] = "x1";
    EXPECT_EQ(getConfigInt(1), 12);
    EXPECT_EQ(getConfigInt(2), 0);
    EXPECT_EQ(getConfigInt(3), -3);
    EXPECT_EQ(getConfigInt(4), 0);
    EXPECT_EQ(getConfigInt(99), 0);
}

TEST_F(ConfigurationTest, MessagesComeFromTheWideMapOrTheNarrowOne) {
    configStrings[1010] = "narrow only";
    configStrings[1011] = "narrow";
    configWideStrings[1011] = L"wide wins";
    EXPECT_EQ(getMessageText(1010), L"narrow only");
    EXPECT_EQ(getMessageText(1011), L"wide wins");
    EXPECT_EQ(getMessageText(1012), L"");
}

TEST_F(ConfigurationTest, LoadingReadsBothMapsAndOverlaysMatchingMessageSetsInFileOrder) {
    const std::string locale = selectLocale(); // the locale of this process, "en_US" under Wine's default
    payload::Payload p;
    p.strings = {{101, "first"}, {101, "second"}, {107, "0"}};
    p.wideStrings = {{1016, u"default"}, {1017, u"untouched"}};
    p.messageSets = {{locale.substr(0, 2), {{1016, u"language"}, {1018, u"added"}}},
                     {"zz", {{1016, u"other language"}}},
                     {locale, {{1016, u"language and country"}}},
                     {"", {{1019, u"every locale"}}}};
    std::string bytes = payload::serialize(p);
    load(bytes + "trailing file records");

    EXPECT_EQ(configStrings.at(101), "second");
    EXPECT_EQ(getMessageText(1016), L"language and country");
    EXPECT_EQ(getMessageText(1017), L"untouched");
    EXPECT_EQ(getMessageText(1018), L"added");
    EXPECT_EQ(getMessageText(1019), L"every locale");
    EXPECT_EQ(includedFilesOffset, bytes.size());
}

TEST_F(ConfigurationTest, NonPositiveCountsReadNothingAndOddWideLengthsKeepHalf) {
    std::string bytes;
    putInt(bytes, static_cast<int32_t>(payload::kMagic));
    bytes += std::string(16, '\0');
    putInt(bytes, -1); // N1
    putInt(bytes, 1);  // N2
    putInt(bytes, 7);
    putInt(bytes, 5); // five bytes: two characters and one lone byte
    bytes += std::string("a\0b\0c", 5);
    putInt(bytes, 0); // N3
    load(bytes);
    EXPECT_TRUE(configStrings.empty());
    EXPECT_EQ(configWideStrings.at(7), L"ab");
    EXPECT_EQ(includedFilesOffset, bytes.size());
}
