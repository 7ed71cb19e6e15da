// Packed runtimes: archives stored as X.jar.pack are expanded once with the runtime's own unpack200.exe.
#include "discovery_fixture.h"

using namespace morix::test;

class UnpackTest : public DiscoveryTest {};

TEST_F(UnpackTest, EveryPackedArchiveIsUnpackedOnceWithOneNotice) {
    FakeRuntime& jre = runtime(L"jre");
    jre.addUnpack200()
        .addPackedArchive(L"lib\\rt.jar", "runtime classes")
        .addPackedArchive(L"lib\\ext\\jfxrt.jar", "fx classes");
    ProcessResult whole;
    probe(configuration({}), L"unpack " + quoteArgument(jre.home()), {}, &whole);
    EXPECT_EQ(occurrences(whole.output, "Preparing JRE ...\n"), 1) << whole.output;
    EXPECT_EQ(readFile(jre.home() + L"\\lib\\rt.jar"), "runtime classes");
    EXPECT_EQ(readFile(jre.home() + L"\\lib\\ext\\jfxrt.jar"), "fx classes");
    EXPECT_FALSE(pathExists(jre.home() + L"\\lib\\rt.jar.pack"));
    EXPECT_FALSE(pathExists(jre.home() + L"\\lib\\ext\\jfxrt.jar.pack"));
    EXPECT_EQ(occurrences(log(), "Unpacking JRE done"), 1) << log();
    std::vector<std::string> runs = jre.unpack200Runs();
    ASSERT_EQ(runs.size(), 2u);
    EXPECT_EQ(runs[0], "-r \"" + narrow(jre.home()) + "\\lib\\rt.jar.pack\" \"" + narrow(jre.home()) +
                           "\\lib\\rt.jar\"");

    // The next time there is nothing left to do.
    probe(configuration({}), L"unpack " + quoteArgument(jre.home()), {}, &whole);
    EXPECT_EQ(whole.output, "");
    EXPECT_EQ(jre.unpack200Runs().size(), 2u);
}

TEST_F(UnpackTest, AnArchiveThatExistsIsNeverUnpackedAgain) {
    FakeRuntime& jre = runtime(L"jre");
    jre.addUnpack200().addFile(L"lib\\rt.jar", "kept").addPackedArchive(L"lib\\rt.jar", "other");
    ProcessResult whole;
    probe(configuration({}), L"unpack " + quoteArgument(jre.home()), {}, &whole);
    EXPECT_EQ(whole.output, "");
    EXPECT_EQ(readFile(jre.home() + L"\\lib\\rt.jar"), "kept");
    EXPECT_TRUE(jre.unpack200Runs().empty());

    FakeRuntime& bare = runtime(L"bare");
    probe(configuration({}), L"unpack " + quoteArgument(bare.home()), {}, &whole);
    EXPECT_EQ(whole.exitCode, 0u);
    EXPECT_EQ(whole.output, "");
}

TEST_F(UnpackTest, AnUnpackerThatRemovesItsInputLeavesNothingToDelete) {
    FakeRuntime& jre = runtime(L"jre");
    jre.addUnpack200(true).addPackedArchive(L"lib\\rt.jar", "classes");
    probe(configuration({}), L"unpack " + quoteArgument(jre.home()));
    EXPECT_EQ(readFile(jre.home() + L"\\lib\\rt.jar"), "classes");
    EXPECT_FALSE(contains(log(), "could not delete packed file")) << log();
}

TEST_F(UnpackTest, AMissingUnpackerEndsTheLauncher) {
    FakeRuntime& jre = runtime(L"jre");
    jre.addPackedArchive(L"lib\\rt.jar", "classes");
    ProcessResult whole;
    probe(configuration({}), L"unpack " + quoteArgument(jre.home()), {}, &whole);
    EXPECT_EQ(whole.exitCode, 1u);
    EXPECT_TRUE(contains(whole.output, "internal 20")) << whole.output;
    EXPECT_TRUE(contains(log(), "could not create unpack process")) << log();
}

TEST_F(UnpackTest, TheSearchUnpacksADirectoryBeforeValidatingIt) {
    FakeRuntime& jre = runtime(L"jre");
    jre.addUnpack200().addPackedArchive(L"lib\\rt.jar", "classes");
    ProcessResult whole;
    auto loaded = probe(configuration({{128, "A" + narrow(jre.home())}}), L"load-dll", {}, &whole);
    EXPECT_EQ(loaded["result"], "1");
    EXPECT_TRUE(whole.output.starts_with("Preparing JRE ...\n")) << whole.output;
    EXPECT_EQ(readFile(jre.home() + L"\\lib\\rt.jar"), "classes");
}
