#include "frame/fatal.h"
#include "harness/harness.h"

#include <gtest/gtest.h>

using namespace morix;

TEST(DeleteDirectoryContents, RemovesFilesAndOneLevelOfSubdirectories) {
    test::TestDirectory dir;
    const std::wstring root = dir.file(L"app");
    test::createDirectory(root);
    test::writeFile(root + L"\\a.jar", "a");
    test::createDirectory(root + L"\\lib");
    test::writeFile(root + L"\\lib\\b.jar", "b");
    test::createDirectory(root + L"\\deep");
    test::createDirectory(root + L"\\deep\\second");
    test::writeFile(root + L"\\deep\\second\\c.jar", "c");

    deleteDirectoryContents(test::narrow(root), true);

    // A second level of subdirectories is not emptied, so its parent stays as well.
    EXPECT_EQ(test::listDirectory(root), std::vector<std::wstring>{L"deep"});
    EXPECT_EQ(test::listDirectory(root + L"\\deep"), std::vector<std::wstring>{L"second"});
    EXPECT_TRUE(test::pathExists(root + L"\\deep\\second\\c.jar"));
}

TEST(DeleteDirectoryContents, WithoutRecursionSubdirectoriesKeepTheirFiles) {
    test::TestDirectory dir;
    test::writeFile(dir.file(L"a"), "a");
    test::createDirectory(dir.file(L"sub"));
    test::writeFile(dir.file(L"sub\\b"), "b");
    deleteDirectoryContents(test::narrow(dir.path()) + "\\", false);
    EXPECT_EQ(test::listDirectory(dir.path()), std::vector<std::wstring>{L"sub"});
}

TEST(DeleteDirectoryContents, NeverEmptiesARelativeOrEmptyPath) {
    test::TestDirectory dir;
    test::writeFile(dir.file(L"keep"), "k");
    SetCurrentDirectoryW(dir.path().c_str());
    deleteDirectoryContents(".", true);
    deleteDirectoryContents(".\\", true);
    deleteDirectoryContents("", true);
    SetCurrentDirectoryW(test::binDirectory().c_str());
    EXPECT_TRUE(test::pathExists(dir.file(L"keep")));
}
