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

namespace {

using morix::quoteProcessArgument;
using morix::quoteProgramName;
using morix::splitProcessCommandLine;

ArgumentList withProgram(std::initializer_list<std::wstring> arguments) {
    ArgumentList list{L"app.exe"};
    list.insert(list.end(), arguments);
    return list;
}

} // namespace

// What a batch file or ProcessBuilder writes for a program whose main should see these arguments.
TEST(ProcessCommandLine, SplitsAsTheCRuntimeDoes) {
    EXPECT_EQ(splitProcessCommandLine(L"app.exe /run -e print('hi')"),
              withProgram({L"/run", L"-e", L"print('hi')"}));
    EXPECT_EQ(splitProcessCommandLine(L"app.exe don't stop"), withProgram({L"don't", L"stop"}));
    EXPECT_EQ(splitProcessCommandLine(L"app.exe \"say \\\"hi\\\"\""), withProgram({L"say \"hi\""}));
    EXPECT_EQ(splitProcessCommandLine(L"app.exe \"C:\\Program Files\\\\\" next"),
              withProgram({L"C:\\Program Files\\", L"next"}));
    // Tabs separate like spaces; runs give no empty arguments, a pair of quotes gives one.
    EXPECT_EQ(splitProcessCommandLine(L"app.exe a\t b  \"\"  "), withProgram({L"a", L"b", L""}));
    // Backslashes are literal unless a quote follows; an odd count escapes the quote.
    EXPECT_EQ(splitProcessCommandLine(L"app.exe C:\\a\\b a\\\\\\\"b a\\\\\"b c\""),
              withProgram({L"C:\\a\\b", L"a\\\"b", L"a\\b c"}));
    // "" inside quotes is a literal quote; text glued to quotes belongs to the same argument.
    EXPECT_EQ(splitProcessCommandLine(L"app.exe \"a \"\" b\" x\"y z\"w"), withProgram({L"a \" b", L"xy zw"}));
    EXPECT_EQ(splitProcessCommandLine(L"app.exe \"open to the end"), withProgram({L"open to the end"}));
}

TEST(ProcessCommandLine, ReadsTheProgramNameWithoutEscapes) {
    EXPECT_EQ(splitProcessCommandLine(L"\"C:\\Program Files\\App\\\"app.exe /run"),
              (ArgumentList{L"C:\\Program Files\\App\\", L"app.exe", L"/run"}));
    EXPECT_EQ(splitProcessCommandLine(L"C:\\it's\\app.exe\t/run"),
              (ArgumentList{L"C:\\it's\\app.exe", L"/run"}));
    EXPECT_EQ(splitProcessCommandLine(L""), (ArgumentList{L""}));
}

TEST(ProcessCommandLine, QuotedArgumentsComeBackUnchanged) {
    const std::vector<std::wstring> awkward = {L"",
                                               L"plain",
                                               L"two words",
                                               L"tab\there",
                                               L"trailing\\",
                                               L"C:\\Program Files\\\\",
                                               L"say \"hi\"",
                                               L"\\\"",
                                               L"don't",
                                               L"'single'",
                                               L"\"",
                                               L"a\\\\b\\",
                                               L"gr\u00fc\u00dfe \u65e5\u672c"};
    std::wstring line = quoteProgramName(L"C:\\Program Files\\App\\app.exe");
    for (const std::wstring& argument : awkward) {
        line += L" " + quoteProcessArgument(argument);
    }
    ArgumentList expected{L"C:\\Program Files\\App\\app.exe"};
    expected.insert(expected.end(), awkward.begin(), awkward.end());
    EXPECT_EQ(splitProcessCommandLine(line), expected);
    // Nothing to quote stays as it is.
    EXPECT_EQ(quoteProcessArgument(L"C:\\a\\b"), L"C:\\a\\b");
    EXPECT_EQ(quoteProgramName(L"C:\\a\\app.exe"), L"C:\\a\\app.exe");
}
