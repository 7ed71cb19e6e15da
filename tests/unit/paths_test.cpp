#include "config/paths.h"
#include "common/handles.h"
#include "common/text.h"
#include "harness/harness.h"
#include "log_tail.h"

#include <gtest/gtest.h>
#include <windows.h>

using namespace morix;

namespace {

std::string collapsed(std::string path) {
    collapseBackslashes(path);
    return path;
}

std::wstring collapsed(std::wstring path) {
    collapseBackslashes(path);
    return path;
}

std::wstring longFormOf(const std::wstring& path) {
    wchar_t buffer[MAX_PATH * 4] = L"";
    const DWORD length = GetLongPathNameW(path.c_str(), buffer, MAX_PATH * 4);
    return std::wstring(buffer, length < MAX_PATH * 4 ? length : 0);
}

} // namespace

TEST(Paths, RunsOfBackslashesCollapseButAUncPairStays) {
    EXPECT_EQ(collapsed(std::string("C:\\\\a\\\\\\b\\")), "C:\\a\\b\\");
    EXPECT_EQ(collapsed(std::string("\\\\\\server\\\\share")), "\\\\server\\share");
    EXPECT_EQ(collapsed(std::string("\\single")), "\\single");
    EXPECT_EQ(collapsed(std::wstring(L"C:\\x\\\\\\y")), L"C:\\x\\y");
    EXPECT_EQ(collapsed(std::wstring(L"\\\\srv\\\\d")), L"\\\\srv\\d");
}

TEST(Paths, OnlyDriveRootedAndUncPathsAreAbsolute) {
    EXPECT_FALSE(isRelativePath("C:\\x"));
    EXPECT_FALSE(isRelativePath("\"C:\\x\""));
    EXPECT_FALSE(isRelativePath("\\\\srv\\x"));
    EXPECT_TRUE(isRelativePath("C:x"));    // drive letter without backslash
    EXPECT_TRUE(isRelativePath("\\x\\y")); // a single leading backslash
    EXPECT_TRUE(isRelativePath("C:/x"));   // forward slashes do not count
    EXPECT_TRUE(isRelativePath("C:"));     // shorter than three characters
    EXPECT_TRUE(isRelativePath(""));
    EXPECT_FALSE(isRelativePath(L"d:\\x"));
    EXPECT_TRUE(isRelativePath(L"lib\\a.jar"));
}

TEST(Paths, RelativePathsResolveAgainstTheExecutableOrABaseFile) {
    const std::string directory = getExecutableDirectory();
    ASSERT_FALSE(directory.empty());
    EXPECT_EQ(directory.back(), '\\');
    EXPECT_EQ(resolvePath("lib\\\\a.jar"), directory + "lib\\a.jar");
    EXPECT_EQ(resolvePath("D:\\x\\\\y"), "D:\\x\\y");
    std::string base = "C:\\opts\\app.vmoptions";
    EXPECT_EQ(resolvePath("more.vmoptions", &base), "C:\\opts\\more.vmoptions");
    EXPECT_EQ(resolvePathWide(L"x", true), getExecutableDirectoryNarrowSafe() + L"x");
    EXPECT_EQ(resolvePathWide(L"x", false), getExecutableDirectoryWide() + L"x");
    std::wstring wideBase = L"C:\\w\\f.txt";
    EXPECT_EQ(resolvePathWide(L"g", false, &wideBase), L"C:\\w\\g");
}

TEST(Paths, FullPathsLoseDotPartsAndAreLowerCasedUnlessAsked) {
    EXPECT_EQ(resolveFullPath("C:\\A\\.\\B\\..\\C", true), "C:\\A\\C");
    EXPECT_EQ(resolveFullPath("C:\\A\\.\\B\\..\\C", false), "c:\\a\\c");
    EXPECT_EQ(resolveFullPathWide(L"C:\\A\\..\\B", false, true), L"C:\\B");
    std::string mixed = "C:\\Program Files\\My App";
    lowercasePath(mixed);
    EXPECT_EQ(mixed, "c:\\program files\\my app");
}

TEST(Paths, PathListsResolveEveryNonEmptyElement) {
    std::vector<std::string> seen;
    std::string list =
        resolvePathList("a.jar;;C:\\b.jar;", [&](const std::string& element) { seen.push_back(element); });
    EXPECT_EQ(list, getExecutableDirectory() + "a.jar;C:\\b.jar");
    EXPECT_EQ(seen, (std::vector<std::string>{getExecutableDirectory() + "a.jar", "C:\\b.jar"}));
    EXPECT_EQ(resolvePathList(""), "");
}

TEST(Paths, DriveRootsExistAndFilesAreFoundByListing) {
    EXPECT_TRUE(fileExists(std::string("C:\\")));
    EXPECT_TRUE(fileExists(std::string("C:\\.")));
    EXPECT_TRUE(fileExists(std::wstring(L"C:\\.\\.")));
    EXPECT_TRUE(fileExists(getExecutablePath()));
    EXPECT_TRUE(fileExists(getExecutablePathWide()));
    EXPECT_FALSE(fileExists(getExecutableDirectory() + "no-such-file"));
    uint64_t time = 0;
    EXPECT_TRUE(findFileTime(getExecutablePath(), &time));
    EXPECT_NE(time, 0u);
    EXPECT_FALSE(findFileTime("C:\\", nullptr)); // no drive-root rule here
}

// Names of one entry are looked up by their attributes; the answers stay those of a directory listing.
TEST(Paths, LookupsByNameAnswerAsTheListingDoes) {
    std::string directory = getExecutableDirectory();
    directory.pop_back();
    EXPECT_TRUE(fileExists(directory));
    EXPECT_FALSE(fileExists(directory + "\\")); // a listing refuses a trailing separator
    EXPECT_FALSE(fileExists(directory + "/"));
    EXPECT_TRUE(fileExists(directory + "\\launcher_unit_te?t.exe")); // patterns still match
    EXPECT_TRUE(fileExists(narrowToWide(directory) + L"\\*.exe"));
    EXPECT_FALSE(fileExists(directory + "\\*.no-such-extension"));

    WIN32_FIND_DATAA entry;
    UniqueFindHandle find(FindFirstFileA(getExecutablePath().c_str(), &entry));
    ASSERT_TRUE(find.valid());
    uint64_t time = 0;
    ASSERT_TRUE(findFileTime(getExecutablePath(), &time));
    EXPECT_EQ(time, (static_cast<uint64_t>(entry.ftLastWriteTime.dwHighDateTime) << 32) |
                        entry.ftLastWriteTime.dwLowDateTime);
    EXPECT_FALSE(findFileTime(directory + "\\no-such-file", &time));
}

TEST(Paths, ExecutablePathsNameThisProgram) {
    EXPECT_TRUE(getExecutablePath().ends_with("launcher_unit_test.exe"));
    EXPECT_TRUE(getExecutablePathWide().ends_with(L"launcher_unit_test.exe"));
    EXPECT_EQ(getExecutableDirectoryWide(), test::binDirectory());
}

// cmd.exe's answer is the first line it prints: the short form of the file, which names the same file.
TEST(Paths, TheShellAnswersWithTheShortFormOfAnExistingFile) {
    test::TestDirectory dir;
    const std::wstring file = dir.file(L"a long name.jar");
    test::writeFile(file, "x");
    test::LogTail log;
    const std::optional<std::string> answer = getShortPathViaShell(file);
    ASSERT_TRUE(answer) << log.text();
    EXPECT_EQ(answer->find_first_of("\r\n"), std::string::npos) << *answer;
    EXPECT_EQ(longFormOf(test::wide(*answer)), longFormOf(file)) << *answer;
    EXPECT_NE(log.text().find("] Exit Code 0\n"), std::string::npos) << log.text();
    EXPECT_NE(log.text().find("] Using " + *answer + "\n"), std::string::npos) << log.text();
}
