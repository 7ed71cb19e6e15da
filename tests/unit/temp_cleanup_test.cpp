#include "common/handles.h"
#include "common/text.h"
#include "config/extract.h"
#include "config/temp_cleanup.h"
#include "config/temp_root.h"
#include "harness/harness.h"

#include <gtest/gtest.h>

#include <string>

#include <windows.h>

using namespace morix;

namespace {

RemovalBudget ample() {
    return RemovalBudget(100000, 60000);
}

} // namespace

TEST(TempCleanup, OnlyNamesOfTheLaunchersDirectoriesCount) {
    for (const wchar_t* name :
         {L"C:\\t\\mrx1A2f.tmp_dir1765000000", L"mrxBEEF.tmp_dir-12", L"C:\\t\\MRX12_dir3"}) {
        EXPECT_TRUE(isAppTempDirName(name)) << test::narrow(name);
    }
    for (const wchar_t* name : {L"C:\\t\\mrx.tmp_dir1", L"C:\\t\\mrxzz.tmp_dir1", L"C:\\t\\mrx12.tmp_dir",
                                L"C:\\t\\mrx12.tmp_dir1x", L"C:\\t\\app_dir1", L"C:\\mrx12.tmp_dir1\\lib",
                                L"C:\\t\\mrxtw123456", L"mrx\xFF11.tmp_dir1"}) {
        EXPECT_FALSE(isAppTempDirName(name)) << test::narrow(name);
    }
    EXPECT_EQ(markerOfAppTempDir(L"C:\\t\\mrx1A2f.tmp_dir17"), L"C:\\t\\mrx1A2f.tmp");
}

TEST(TempCleanup, ChildNamesThatAPathCouldReadOtherwiseAreRefused) {
    for (const wchar_t* name : {L"a.jar", L"\xFF41\xFF3C\xFF0E\xFF0E", L"\x8A2D\x5B9A.xml", L"...", L" x"}) {
        EXPECT_TRUE(isPlainChildName(name)) << test::narrow(name);
    }
    for (std::wstring_view name : {std::wstring_view(L""), std::wstring_view(L"."), std::wstring_view(L".."),
                                   std::wstring_view(L"a\\..\\b"), std::wstring_view(L"a/b"),
                                   std::wstring_view(L"c:x"), std::wstring_view(L"a\0b", 3)}) {
        EXPECT_FALSE(isPlainChildName(name)) << test::narrow(std::wstring(name));
    }
}

// The marker held by a live owner protects its directory; once released, the directory is an orphan.
TEST(TempCleanup, AHeldMarkerKeepsItsDirectoryAndAReleasedOneGoesOnClose) {
    test::TestDirectory dir;
    const std::string marker = test::narrow(dir.file(L"mrxA1.tmp"));
    test::writeFile(dir.file(L"mrxA1.tmp"), "");
    ASSERT_TRUE(holdTempMarker(marker));
    EXPECT_EQ(test::readFile(dir.file(L"mrxA1.tmp")),
              "morix-owner 1\r\n" + std::to_string(GetCurrentProcessId()) + "\r\n");
    test::createDirectory(dir.file(L"mrxA1.tmp_dir5"));
    test::createDirectory(dir.file(L"mrxA1.tmp_dir5\\a"));
    test::writeFile(dir.file(L"mrxA1.tmp_dir5\\a\\b.txt"), "b");
    RemovalBudget budget = ample();
    EXPECT_EQ(removeLeftover(dir.path(), L"mrxA1.tmp_dir5", budget), LeftoverOutcome::kept);
    EXPECT_TRUE(test::pathExists(dir.file(L"mrxA1.tmp_dir5\\a\\b.txt")));

    // Holding another marker releases this one, which its close deletes: the directory has no marker and
    // no owner file then, and is young, so it stays too.
    test::writeFile(dir.file(L"mrxB2.tmp"), "");
    ASSERT_TRUE(holdTempMarker(test::narrow(dir.file(L"mrxB2.tmp"))));
    EXPECT_FALSE(test::pathExists(dir.file(L"mrxA1.tmp")));
    EXPECT_EQ(removeLeftover(dir.path(), L"mrxA1.tmp_dir5", budget), LeftoverOutcome::kept);
    EXPECT_TRUE(test::pathExists(dir.file(L"mrxA1.tmp_dir5\\a\\b.txt")));
    appTempDir.clear();
    cleanUpAppTempDir(); // no directory: only the marker goes
    EXPECT_FALSE(test::pathExists(dir.file(L"mrxB2.tmp")));
}

// A launcher built before the marker was signed leaves it empty and unheld while its run goes on: that
// directory stays. A signed marker that nobody holds is what an ended run left: it goes with its directory.
TEST(TempCleanup, WithoutAnOwnerFileOnlyASignedMarkerThatNobodyHoldsGivesUpItsDirectory) {
    test::TestDirectory dir;
    RemovalBudget budget = ample();
    for (const char* content : {"", "morix-owner 2\r\n7\r\n", "morix-owner 1"}) {
        test::writeFile(dir.file(L"mrxD4.tmp"), content);
        test::createDirectory(dir.file(L"mrxD4.tmp_dir8"));
        test::writeFile(dir.file(L"mrxD4.tmp_dir8\\app.jar"), "jar");
        EXPECT_EQ(removeLeftover(dir.path(), L"mrxD4.tmp_dir8", budget), LeftoverOutcome::kept) << content;
        EXPECT_TRUE(test::pathExists(dir.file(L"mrxD4.tmp"))) << content;
        EXPECT_TRUE(test::pathExists(dir.file(L"mrxD4.tmp_dir8\\app.jar"))) << content;
    }
    test::writeFile(dir.file(L"mrxD4.tmp"), "morix-owner 1\r\n7\r\n");
    EXPECT_EQ(removeLeftover(dir.path(), L"mrxD4.tmp_dir8", budget), LeftoverOutcome::removed);
    EXPECT_FALSE(test::pathExists(dir.file(L"mrxD4.tmp")));
    EXPECT_FALSE(test::pathExists(dir.file(L"mrxD4.tmp_dir8")));
}

// The file a run holds inside its directory proves its owner alive whatever happened to the marker, and,
// left behind by an ended run, proves it gone.
TEST(TempCleanup, TheOwnerFileInsideTheDirectorySaysWhetherItsOwnerLives) {
    test::TestDirectory dir;
    test::createDirectory(dir.file(L"mrxE5.tmp_dir1"));
    test::writeFile(dir.file(L"mrxE5.tmp_dir1\\conf.txt"), "ours");
    ASSERT_TRUE(holdTempDirOwner(test::narrow(dir.file(L"mrxE5.tmp_dir1"))));
    RemovalBudget budget = ample();
    EXPECT_EQ(removeLeftover(dir.path(), L"mrxE5.tmp_dir1", budget), LeftoverOutcome::kept);
    EXPECT_TRUE(test::pathExists(dir.file(L"mrxE5.tmp_dir1\\conf.txt")));

    test::createDirectory(dir.file(L"mrxE6.tmp_dir1"));
    ASSERT_TRUE(holdTempDirOwner(test::narrow(dir.file(L"mrxE6.tmp_dir1")))); // lets the first one go
    EXPECT_TRUE(test::pathExists(dir.file(std::wstring(L"mrxE5.tmp_dir1\\") + kOwnerFileName)));
    EXPECT_EQ(removeLeftover(dir.path(), L"mrxE5.tmp_dir1", budget), LeftoverOutcome::removed);
    EXPECT_FALSE(test::pathExists(dir.file(L"mrxE5.tmp_dir1")));
    // Holding one that cannot be made lets the second go, so that the test's directory can be removed.
    EXPECT_FALSE(holdTempDirOwner(test::narrow(dir.file(L"missing"))));
}

// The budget is counted per entry inside the walk: a start that runs out leaves the rest, with the proof
// of the directory's end, for the next.
TEST(TempCleanup, ARemovalStopsAtItsEntryBudgetAndTheNextGoesOnWhereItStopped) {
    test::TestDirectory dir;
    test::writeFile(dir.file(L"mrxF7.tmp"), "morix-owner 1\r\n7\r\n");
    test::createDirectory(dir.file(L"mrxF7.tmp_dir1"));
    test::createDirectory(dir.file(L"mrxF7.tmp_dir1\\lib"));
    for (int i = 0; i < 30; ++i) {
        test::writeFile(dir.file(L"mrxF7.tmp_dir1\\lib\\" + std::to_wstring(i) + L".class"), "x");
    }
    RemovalBudget first(10, 60000);
    EXPECT_EQ(removeLeftover(dir.path(), L"mrxF7.tmp_dir1", first), LeftoverOutcome::leftSome);
    EXPECT_EQ(first.touched(), 10);
    EXPECT_TRUE(first.spent());
    EXPECT_EQ(test::listDirectory(dir.file(L"mrxF7.tmp_dir1\\lib")).size(), 21u); // "lib" was the first
    EXPECT_TRUE(test::pathExists(dir.file(L"mrxF7.tmp")));

    RemovalBudget second(100, 60000);
    EXPECT_EQ(removeLeftover(dir.path(), L"mrxF7.tmp_dir1", second), LeftoverOutcome::removed);
    EXPECT_EQ(second.touched(), 22);
    EXPECT_FALSE(test::pathExists(dir.file(L"mrxF7.tmp_dir1")));
    EXPECT_FALSE(test::pathExists(dir.file(L"mrxF7.tmp")));
}

// Whatever the hidden command line names, only a leftover directly in the temporary root is removed.
TEST(TempCleanup, TheHelperRefusesAnythingButALeftoverInTheTemporaryRoot) {
    test::TestDirectory dir;
    test::createDirectory(dir.file(L"important"));
    test::writeFile(dir.file(L"important\\keep.txt"), "keep");
    test::createDirectory(dir.file(L"mrx12.tmp_dir1"));
    test::writeFile(dir.file(L"mrx12.tmp_dir1\\keep.txt"), "keep");
    for (const ArgumentList& refused :
         {ArgumentList{kCleanupArgument, L"0", L"0", dir.file(L"important")},
          ArgumentList{kCleanupArgument, L"0", L"0", dir.file(L"mrx12.tmp_dir1")}, // not in the root
          ArgumentList{kCleanupArgument, L"0", L"0", L"mrx12.tmp_dir1"},           // relative
          ArgumentList{kCleanupArgument, L"0"}}) {
        EXPECT_EQ(runCleanupHelper(refused), kHelperRefused);
    }
    EXPECT_TRUE(test::pathExists(dir.file(L"important\\keep.txt")));
    EXPECT_TRUE(test::pathExists(dir.file(L"mrx12.tmp_dir1\\keep.txt")));

    // An owner that has ended (no such process), its owner file left behind: the directory goes at once.
    const std::wstring root = narrowToWide(getTempRoot());
    const std::wstring leftover = root + L"\\mrxC3.tmp_dir9";
    test::createDirectory(leftover);
    test::writeFile(leftover + L"\\x", "x");
    test::writeFile(leftover + L"\\" + kOwnerFileName, "morix-owner 1\r\n7\r\n");
    EXPECT_EQ(runCleanupHelper({kCleanupArgument, L"0", L"0", leftover}), kHelperRemoved);
    EXPECT_FALSE(test::pathExists(leftover));
}
