#include "config/locale.h"

#include <gtest/gtest.h>

using morix::localeCodeForLanguageId;

TEST(LocaleTable, ExactIdsThenThePrimaryLanguageThenEnglish) {
    EXPECT_EQ(localeCodeForLanguageId(0x0407), "de_DE");
    EXPECT_EQ(localeCodeForLanguageId(0x4009), "en"); // not in the table: primary language 9
    EXPECT_EQ(localeCodeForLanguageId(0x0814), "no_NO_NY");
    EXPECT_EQ(localeCodeForLanguageId(0x2409), "en"); // a full id that maps to a language alone
    EXPECT_EQ(localeCodeForLanguageId(0x0052), "en"); // primary language 82 is unknown
    EXPECT_EQ(localeCodeForLanguageId(0x040D), "iw_IL");
    EXPECT_EQ(localeCodeForLanguageId(0x0C1A), "sr_CS");
    EXPECT_EQ(localeCodeForLanguageId(0x0C0A), "es_ES");
    EXPECT_EQ(localeCodeForLanguageId(0x5000 | 0x0C), "fr");
}

TEST(LocaleParts, CountryOnlyForFiveCharacterCodes) {
    std::string language, country;
    morix::setLocaleParts("de_DE");
    ASSERT_TRUE(morix::getLocaleLanguage(language));
    ASSERT_TRUE(morix::getLocaleCountry(country));
    EXPECT_EQ(language, "de");
    EXPECT_EQ(country, "DE");

    morix::setLocaleParts("no_NO_NY");
    ASSERT_TRUE(morix::getLocaleLanguage(language));
    EXPECT_EQ(language, "no");
    EXPECT_FALSE(morix::getLocaleCountry(country));

    morix::setLocaleParts("en");
    EXPECT_FALSE(morix::getLocaleCountry(country));
}
