#include "frame/command_line.h"

#include <gtest/gtest.h>

using morix::ArgumentList;
using morix::splitCommandLine;

namespace {

ArgumentList split(const std::wstring& text) {
    ArgumentList arguments;
    splitCommandLine(text, arguments);
    return arguments;
}

} // namespace

TEST(SplitCommandLine, SpacesSeparateAndRunsOfSpacesGiveNoEmptyTokens) {
    EXPECT_EQ(split(L"a  b"), (ArgumentList{L"a", L"b"}));
    EXPECT_EQ(split(L"  a b   "), (ArgumentList{L"a", L"b"}));
    EXPECT_EQ(split(L""), ArgumentList{});
    // Only the space separates: a tab is part of a token.
    EXPECT_EQ(split(L"a\tb c"), (ArgumentList{L"a\tb", L"c"}));
}

TEST(SplitCommandLine, DoubleAndSingleQuotesGroupAndAreRemoved) {
    EXPECT_EQ(split(L"'x y' z"), (ArgumentList{L"x y", L"z"}));
    EXPECT_EQ(split(L"-Dname=\"a b\" next"), (ArgumentList{L"-Dname=a b", L"next"}));
    EXPECT_EQ(split(L"\"C:\\Program Files\\App\\app.exe\" /run"),
              (ArgumentList{L"C:\\Program Files\\App\\app.exe", L"/run"}));
    // The quote that comes first decides; the other kind is an ordinary character inside.
    EXPECT_EQ(split(L"\"it's\" 'say \"hi\"'"), (ArgumentList{L"it's", L"say \"hi\""}));
    EXPECT_EQ(split(L"a \"\" b"), (ArgumentList{L"a", L"", L"b"}));
}

TEST(SplitCommandLine, TextGluedToAClosingQuoteStartsANewToken) {
    EXPECT_EQ(split(L"\"ab\"cd"), (ArgumentList{L"ab", L"cd"}));
    EXPECT_EQ(split(L"x\"a b\"y z"), (ArgumentList{L"xa b", L"y", L"z"}));
}

TEST(SplitCommandLine, AnUnterminatedQuoteTakesTheRestOfTheLine) {
    EXPECT_EQ(split(L"a \"b c  d"), (ArgumentList{L"a", L"b c  d"}));
    EXPECT_EQ(split(L"a 'b"), (ArgumentList{L"a", L"b"}));
}

TEST(SplitCommandLine, AppendsToTheList) {
    ArgumentList arguments{L"first"};
    splitCommandLine(L"second third", arguments);
    EXPECT_EQ(arguments, (ArgumentList{L"first", L"second", L"third"}));
}
