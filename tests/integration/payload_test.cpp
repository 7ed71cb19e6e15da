// A launcher finds its payload at the end of its own image; a missing or damaged payload ends every
// command in start-up with the name of the read that failed.
#include "launcher_fixture.h"

using namespace morix::test;
using morix::payload::Payload;

namespace {

Payload sample() {
    Payload p;
    p.strings = {{101, "Svc"}, {107, "0"}};
    p.wideStrings = {{1000, u"Caption"}};
    p.messageSets = {{"xx", {{1009, u"text"}}}};
    return p;
}

} // namespace

class PayloadTest : public LauncherTest {};

TEST_F(PayloadTest, NoPayloadFailsWithReadIntWhateverTheCommand) {
    std::wstring bare = dir_.file(L"bare.exe");
    writeLauncherBytes(bare, "");
    for (const wchar_t* arguments : {L"/help", L"/run", L"", L"/status x"}) {
        ProcessResult result = run(bare, arguments, {{L"MORIX_LOG", std::nullopt}});
        EXPECT_EQ(result.exitCode, 1u) << narrow(arguments);
        EXPECT_EQ(result.output, "Internal Error: readInt\n") << narrow(arguments);
    }
}

TEST_F(PayloadTest, DamagedPayloadsNameTheFailingRead) {
    const std::string good = morix::payload::serialize(sample());
    struct Case {
        std::string bytes;
        const char* message;
    };
    const size_t caption = good.find(std::string("C\0a\0p", 5));
    std::string wrongMagic = good;
    wrongMagic[0] = 'X';
    const Case cases[] = {
        {wrongMagic, "Internal Error: magic"},
        {good.substr(0, 16), "Internal Error: readLong"},                 // inside the reserved 64-bit field
        {good.substr(0, 22), "Internal Error: readInt"},                  // inside the first count
        {good.substr(0, 34), "Internal Error: readString"},               // inside the first narrow value
        {good.substr(0, caption + 3), "Internal Error: readWString"},     // inside a wide value
        {good.substr(0, good.size() - 7), "Internal Error: readWString"}, // inside a message text
        {good.substr(0, good.size() - 20), "Internal Error: readInt"},    // before a message count
    };
    for (const Case& c : cases) {
        std::wstring launcher = dir_.file(L"damaged.exe");
        writeLauncherBytes(launcher, c.bytes);
        ProcessResult result = run(launcher, L"/help", {{L"MORIX_LOG", std::nullopt}});
        EXPECT_EQ(result.exitCode, 1u) << c.message;
        EXPECT_EQ(result.output, std::string(c.message) + "\n");
    }
}

TEST_F(PayloadTest, AnAbsurdLengthIsDamageNotAnAllocation) {
    std::string bytes = morix::payload::serialize(sample());
    // The length of the first narrow value becomes 0x7FFFFFFF.
    bytes.replace(28, 4, "\xFF\xFF\xFF\x7F");
    std::wstring launcher = dir_.file(L"huge.exe");
    writeLauncherBytes(launcher, bytes);
    ProcessResult result = run(launcher, L"/help", {{L"MORIX_LOG", std::nullopt}});
    EXPECT_EQ(result.exitCode, 1u);
    EXPECT_EQ(result.output, "Internal Error: readString\n");
}

TEST_F(PayloadTest, ThePayloadIsFoundAfterTheLastSectionHeaderWhateverFollowsInTheTemplate) {
    // Building from an existing launcher replaces its payload instead of stacking a second one.
    Payload first = sample();
    first.setString(101, "First");
    std::wstring launcher = makeLauncher(first);
    Payload second = sample();
    writeLauncher(dir_.file(L"rebuilt.exe"), second, launcher);
    EXPECT_EQ(payloadOffset(dir_.file(L"rebuilt.exe")), payloadOffset(launcher));
    ProcessResult result = run(dir_.file(L"rebuilt.exe"), L"/help");
    EXPECT_EQ(result.exitCode, 0u);
    EXPECT_TRUE(contains(log(), "rawDataSize: ")) << log();
}
