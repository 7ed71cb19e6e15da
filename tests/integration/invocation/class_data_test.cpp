// Application class-data sharing as the VM is asked for it: which runtimes get the options, which
// configurations keep their own choice, where the included archives come from, and that a launcher
// without the key asks for nothing new.
#include "invocation_fixture.h"

#include "morix/config_ids.h"

#include <algorithm>

using namespace morix::test;
namespace payload = morix::payload;
namespace ids = morix::ids;

class ClassDataTest : public InvocationTest {
protected:
    ClassDataTest() : local_(dir_.file(L"local")) { createDirectory(local_); }

    payload::Payload sharing(std::vector<std::pair<int32_t, std::string>> strings = {}) {
        strings.emplace_back(ids::kClassDataSharing, "1");
        payload::Payload p = application(std::move(strings));
        p.files = {{"included.jar", "jar"}, {"user\\mine.jar", "user"}};
        p.describeIncludedFiles();
        return p;
    }

    ProcessResult launchSharing(const payload::Payload& p, Environment environment = {}) {
        environment.emplace_back(L"LOCALAPPDATA", local_);
        return launch(p, L"/run", "", environment);
    }

    std::vector<std::string> sharingOptions() const {
        std::vector<std::string> found;
        for (const std::string& option : options()) {
            if (option.starts_with("-Xshare") || option.starts_with("-XX:SharedArchiveFile") ||
                option.starts_with("-XX:ArchiveClassesAtExit") || option.starts_with("-Xlog:cds")) {
                found.push_back(option);
            }
        }
        return found;
    }

    std::string cache() const { return narrow(local_) + "\\Morix\\cache"; }

    std::wstring local_;
};

TEST_F(ClassDataTest, ARecentRuntimeIsAskedToMakeTheArchiveFromStableCopiesOfTheIncludedArchives) {
    recordingRuntime({"17.0.2"});
    ProcessResult result = launchSharing(sharing());
    ASSERT_EQ(result.exitCode, 0u) << result.output << log();
    const std::vector<std::string> added = sharingOptions();
    ASSERT_EQ(added.size(), 3u) << log();
    EXPECT_EQ(added[0], "-Xshare:auto");
    EXPECT_EQ(added[1], "-Xlog:cds*=off"); // the VM's warnings would go into the application's output
    EXPECT_TRUE(added[2].starts_with("-XX:ArchiveClassesAtExit=" + cache() + "\\cds-")) << added[2];
    EXPECT_TRUE(added[2].ends_with(".tmp")) << added[2];
    // Before the configured options, so that a configured -Xlog:cds still wins.
    const std::vector<std::string> all = options();
    const auto share = std::find(all.begin(), all.end(), "-Xshare:auto");
    const auto firstConfigured = std::find_if(all.begin(), all.end(), [](const std::string& option) {
        return option.starts_with("-Djava.class.path=");
    });
    EXPECT_LT(share, firstConfigured);

    const std::string classPath = *firstConfigured;
    EXPECT_TRUE(contains(classPath, cache() + "\\jars\\")) << classPath;
    EXPECT_TRUE(contains(classPath, "\\included.jar")) << classPath;
    EXPECT_TRUE(contains(classPath, "\\mine.jar")) << classPath;
    EXPECT_FALSE(contains(classPath, "_dir")) << classPath; // nothing of this run's directory
    // The stand-in VM writes no archive: the run says so and leaves nothing in the cache's root.
    EXPECT_TRUE(contains(log(), "the VM wrote no archive")) << log();
    EXPECT_EQ(listDirectory(local_ + L"\\Morix\\cache"), std::vector<std::wstring>{L"jars"});

    // Another start that is writing the archive right now: its file is never taken for the archive, and
    // never removed while it is young.
    const std::string pending = added[2].substr(added[2].find('=') + 1);
    const std::string writing = pending.substr(0, pending.rfind('.', pending.size() - 5)) + ".99999.tmp";
    writeFile(wide(writing), "half an archive");
    clearTranscript();
    launchSharing(sharing());
    EXPECT_EQ(sharingOptions().size(), 3u);
    EXPECT_TRUE(sharingOptions().back().starts_with("-XX:ArchiveClassesAtExit=")) << sharingOptions().back();
    EXPECT_TRUE(pathExists(wide(writing))) << writing;
}

TEST_F(ClassDataTest, OldRuntimesOwnChoicesAndAMissingCacheStartWithoutSharing) {
    recordingRuntime({"11.0.5"});
    ProcessResult result = launchSharing(sharing());
    ASSERT_EQ(result.exitCode, 0u) << log();
    EXPECT_EQ(sharingOptions(), std::vector<std::string>{}) << log();
    EXPECT_TRUE(contains(log(), "class-data sharing off: the runtime is older than 13: 11.0.5")) << log();
    for (const std::string& option : options()) {
        if (option.starts_with("-Djava.class.path=")) {
            EXPECT_TRUE(contains(option, "_dir")) << option; // the run's own copies
        }
    }
}

TEST_F(ClassDataTest, AConfiguredSharingOptionOrNoCacheLeavesTheOptionsAsTheyWere) {
    recordingRuntime({"17.0.2"});
    launchSharing(sharing({{ids::kVmOptions, "-Xshare:off"}}));
    EXPECT_EQ(sharingOptions(), std::vector<std::string>{"-Xshare:off"}) << log();
    EXPECT_TRUE(contains(log(), "the configured option decides: -Xshare:off")) << log();
    // A run that does not share copies nothing into the cache.
    EXPECT_FALSE(pathExists(local_ + L"\\Morix\\cache\\jars")) << log();

    // A directory on the class path: an archive cannot record its classes, and nothing is copied first.
    createDirectory(dir_.file(L"classes"));
    clearTranscript();
    launchSharing(sharing({{ids::kClassPath, "D1classes"}}));
    EXPECT_EQ(sharingOptions(), std::vector<std::string>{}) << log();
    EXPECT_TRUE(contains(log(), "class-data sharing off: the class path holds the directory ")) << log();
    EXPECT_FALSE(pathExists(local_ + L"\\Morix\\cache\\jars")) << log();

    clearTranscript();
    launch(sharing(), L"/run", "", {{L"LOCALAPPDATA", std::nullopt}});
    EXPECT_EQ(sharingOptions(), std::vector<std::string>{}) << log();
    EXPECT_TRUE(contains(log(), "class-data sharing off: no per-user cache directory")) << log();

    // Without the key nothing changes, whatever the runtime.
    removeTree(local_ + L"\\Morix");
    clearTranscript();
    clearLogs();
    payload::Payload plain = application({});
    plain.files = {{"included.jar", "jar"}};
    plain.describeIncludedFiles();
    launchSharing(plain);
    EXPECT_EQ(sharingOptions(), std::vector<std::string>{});
    EXPECT_FALSE(contains(log(), "class-data")) << log();
    EXPECT_FALSE(pathExists(local_ + L"\\Morix"));
}
