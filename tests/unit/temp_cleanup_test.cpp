#include "common/handles.h"
#include "config/extract.h"
#include "config/temp_cleanup.h"
#include "harness/harness.h"

#include <gtest/gtest.h>

#include <string>

#include <windows.h>

using namespace morix;

TEST(TempCleanup, OnlyNamesOfTheLaunchersDirectoriesCount) {
    for (const char* name : {"C:\\t\\mrx1A2f.tmp_dir1765000000", "mrxBEEF.tmp_dir-12", "C:\\t\\MRX12_dir3"}) {
        EXPECT_TRUE(isAppTempDirName(name)) << name;
    }
    for (const char* name :
         {"C:\\t\\mrx.tmp_dir1", "C:\\t\\mrxzz.tmp_dir1", "C:\\t\\mrx12.tmp_dir", "C:\\t\\mrx12.tmp_dir1x",
          "C:\\t\\app_dir1", "C:\\mrx12.tmp_dir1\\lib", "C:\\t\\mrxtw123456"}) {
        EXPECT_FALSE(isAppTempDirName(name)) << name;
    }
    EXPECT_EQ(markerOfAppTempDir("C:\\t\\mrx1A2f.tmp_dir17"), "C:\\t\\mrx1A2f.tmp");
}

// The marker held by a live owner protects its directory; once released, the directory is an orphan.
TEST(TempCleanup, AHeldMarkerKeepsItsDirectoryAndAReleasedOneGoesOnClose) {
    test::TestDirectory dir;
    const std::string marker = test::narrow(dir.file(L"mrxA1.tmp"));
    const std::string directory = marker + "_dir5";
    test::writeFile(dir.file(L"mrxA1.tmp"), "");
    ASSERT_TRUE(holdTempMarker(marker));
    EXPECT_EQ(test::readFile(dir.file(L"mrxA1.tmp")),
              "morix-owner 1\r\n" + std::to_string(GetCurrentProcessId()) + "\r\n");
    test::createDirectory(dir.file(L"mrxA1.tmp_dir5"));
    test::createDirectory(dir.file(L"mrxA1.tmp_dir5\\a"));
    test::writeFile(dir.file(L"mrxA1.tmp_dir5\\a\\b.txt"), "b");
    EXPECT_FALSE(removeOrphanedTempDir(directory));
    EXPECT_TRUE(test::pathExists(dir.file(L"mrxA1.tmp_dir5\\a\\b.txt")));

    // Holding another marker releases this one, which its close deletes.
    test::writeFile(dir.file(L"mrxB2.tmp"), "");
    ASSERT_TRUE(holdTempMarker(test::narrow(dir.file(L"mrxB2.tmp"))));
    EXPECT_FALSE(test::pathExists(dir.file(L"mrxA1.tmp")));
    EXPECT_TRUE(removeOrphanedTempDir(directory));
    EXPECT_FALSE(test::pathExists(dir.file(L"mrxA1.tmp_dir5")));
    appTempDir.clear();
    cleanUpAppTempDir(); // no directory: only the marker goes
    EXPECT_FALSE(test::pathExists(dir.file(L"mrxB2.tmp")));
}

// A launcher built before the marker was signed leaves it empty and unheld while its run goes on: that
// directory stays. A signed marker that nobody holds is what an ended run left: it goes with its directory.
TEST(TempCleanup, OnlyASignedMarkerThatNobodyHoldsGivesUpItsDirectory) {
    test::TestDirectory dir;
    for (const char* content : {"", "morix-owner 2\r\n7\r\n", "morix-owner 1"}) {
        test::writeFile(dir.file(L"mrxD4.tmp"), content);
        test::createDirectory(dir.file(L"mrxD4.tmp_dir8"));
        test::writeFile(dir.file(L"mrxD4.tmp_dir8\\app.jar"), "jar");
        EXPECT_FALSE(removeOrphanedTempDir(test::narrow(dir.file(L"mrxD4.tmp_dir8")))) << content;
        EXPECT_TRUE(test::pathExists(dir.file(L"mrxD4.tmp"))) << content;
        EXPECT_TRUE(test::pathExists(dir.file(L"mrxD4.tmp_dir8\\app.jar"))) << content;
    }
    test::writeFile(dir.file(L"mrxD4.tmp"), "morix-owner 1\r\n7\r\n");
    EXPECT_TRUE(removeOrphanedTempDir(test::narrow(dir.file(L"mrxD4.tmp_dir8"))));
    EXPECT_FALSE(test::pathExists(dir.file(L"mrxD4.tmp")));
    EXPECT_FALSE(test::pathExists(dir.file(L"mrxD4.tmp_dir8")));
}

// Whatever the hidden command line names, only a launcher's temporary directory is removed.
TEST(TempCleanup, TheHelperRefusesAnythingButALaunchersTemporaryDirectory) {
    test::TestDirectory dir;
    test::createDirectory(dir.file(L"important"));
    test::writeFile(dir.file(L"important\\keep.txt"), "keep");
    const ArgumentList foreign = {kCleanupArgument, L"0", L"0", dir.file(L"important")};
    EXPECT_EQ(runCleanupHelper(foreign), 2);
    EXPECT_EQ(runCleanupHelper({kCleanupArgument, L"0", L"0", L"mrx12.tmp_dir1"}), 2); // relative
    EXPECT_EQ(runCleanupHelper({kCleanupArgument, L"0"}), 2);
    EXPECT_TRUE(test::pathExists(dir.file(L"important\\keep.txt")));

    // An owner that has ended (no such process): the directory goes at once.
    test::createDirectory(dir.file(L"mrxC3.tmp_dir9"));
    test::writeFile(dir.file(L"mrxC3.tmp_dir9\\x"), "x");
    EXPECT_EQ(runCleanupHelper({kCleanupArgument, L"0", L"0", dir.file(L"mrxC3.tmp_dir9")}), 0);
    EXPECT_FALSE(test::pathExists(dir.file(L"mrxC3.tmp_dir9")));
}
