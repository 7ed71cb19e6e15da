// The diagnostic log: switched on only by the exact value "yes", UTF-8 with a byte-order mark, a first
// line naming the executable, numbered files, and a time prefix on every line.
#include "launcher_fixture.h"

#include <algorithm>
#include <regex>
#include <sstream>

using namespace morix::test;
using morix::payload::Payload;

namespace {

Payload minimal() {
    Payload p;
    p.strings = {{101, "LogSvc"}};
    return p;
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> result;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        result.push_back(line);
    }
    return result;
}

} // namespace

class LogTest : public LauncherTest {};

TEST_F(LogTest, TheLogIsOffUnlessAVariableIsExactlyYes) {
    std::wstring launcher = makeLauncher(minimal());
    for (const wchar_t* value : {L"Yes", L"yes ", L"YES", L"1"}) {
        run(launcher, L"/help", {{L"MORIX_LOG", std::wstring(value)}});
        EXPECT_TRUE(listDirectory(tmp_).empty()) << narrow(value);
    }
    run(launcher, L"/help", {{L"MORIX_LOG", std::nullopt}});
    EXPECT_TRUE(listDirectory(tmp_).empty());
    run(launcher, L"/help", {{L"MORIX_LOG", std::nullopt}, {L"VANTAROCK_LOG", L"yes"}});
    EXPECT_EQ(listDirectory(tmp_), std::vector<std::wstring>{L"vrk_nlog_1.log"});
}

TEST_F(LogTest, ALogFileIsUtf8WithAStartLineAndTimedLines) {
    std::wstring launcher = makeLauncher(minimal(), L"caf\u00e9.exe");
    run(launcher, L"/status");
    std::string text = log();
    ASSERT_TRUE(text.starts_with("\xEF\xBB\xBF")) << text;
    std::vector<std::string> all = lines(text.substr(3));
    ASSERT_GT(all.size(), 3u);
    EXPECT_EQ(all[0].rfind("Started executable " + narrow(launcher) + " at ", 0), 0u) << all[0];
    EXPECT_EQ(all[1], "");
    const std::regex timed(R"(\[\d+:\d{1,3}\] .*)");
    for (size_t i = 2; i < all.size(); ++i) {
        EXPECT_TRUE(std::regex_match(all[i], timed)) << all[i];
    }
    EXPECT_TRUE(contains(text, "] command line " + narrow(quoteArgument(launcher)) + " /status\n")) << text;
    EXPECT_TRUE(std::regex_search(text, std::regex(R"(\] ERROR: .+)"))) << text;
    // Windows line ends on disk, as a text-mode stream writes them.
    std::string raw = readFile(tmp_ + L"\\vrk_nlog_1.log");
    EXPECT_EQ(std::count(raw.begin(), raw.end(), '\n'), std::count(raw.begin(), raw.end(), '\r'));
    EXPECT_TRUE(contains(raw, " /status\r\n")) << raw;
}

TEST_F(LogTest, ANewLogTakesTheFirstFreeNumber) {
    writeFile(tmp_ + L"\\vrk_nlog_1.log", "one");
    writeFile(tmp_ + L"\\vrk_nlog_2.log", "two");
    run(makeLauncher(minimal()), L"/help");
    EXPECT_EQ(readFile(tmp_ + L"\\vrk_nlog_1.log"), "one");
    EXPECT_TRUE(log(3).starts_with("\xEF\xBB\xBFStarted executable ")) << log(3);
}
