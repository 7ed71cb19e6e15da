#include "config/temp_root.h"
#include "harness/harness.h"

#include <gtest/gtest.h>

using namespace morix;

namespace {

// Points TMP and TEMP (where GetTempPath looks) at a directory for one test.
class TemporaryVariables {
public:
    explicit TemporaryVariables(const std::wstring& directory) {
        save(L"TMP", tmp_);
        save(L"TEMP", temp_);
        SetEnvironmentVariableW(L"TMP", directory.c_str());
        SetEnvironmentVariableW(L"TEMP", directory.c_str());
    }
    ~TemporaryVariables() {
        SetEnvironmentVariableW(L"TMP", tmp_.c_str());
        SetEnvironmentVariableW(L"TEMP", temp_.c_str());
    }

private:
    static void save(const wchar_t* name, std::wstring& value) {
        wchar_t buffer[MAX_PATH * 4];
        DWORD length = GetEnvironmentVariableW(name, buffer, MAX_PATH * 4);
        value.assign(buffer, length);
    }
    std::wstring tmp_;
    std::wstring temp_;
};

} // namespace

TEST(TempRoot, TheTemporaryPathComesFirstAndTheWriteProbeLeavesNothing) {
    test::TestDirectory dir;
    TemporaryVariables variables(dir.path());
    std::optional<std::string> narrowRoot = searchTempRoot();
    ASSERT_TRUE(narrowRoot);
    EXPECT_EQ(test::wide(*narrowRoot), dir.path() + L"\\"); // as GetTempPath gives it
    std::optional<std::wstring> wideRoot = searchTempRootWide();
    ASSERT_TRUE(wideRoot);
    EXPECT_EQ(*wideRoot, dir.path() + L"\\");
    EXPECT_TRUE(test::listDirectory(dir.path()).empty());
}

TEST(TempRoot, ANameTheCodePageCannotRepresentIsSkippedByTheNarrowSearchOnly) {
    test::TestDirectory dir;
    std::wstring unrepresentable = dir.file(L"temp-\u4E2D\u6587");
    test::createDirectory(unrepresentable);
    TemporaryVariables variables(unrepresentable);
    std::optional<std::string> narrowRoot = searchTempRoot();
    ASSERT_TRUE(narrowRoot);
    EXPECT_EQ(narrowRoot->find('?'), std::string::npos) << *narrowRoot;
    EXPECT_NE(test::wide(*narrowRoot), unrepresentable + L"\\");
    std::optional<std::wstring> wideRoot = searchTempRootWide();
    ASSERT_TRUE(wideRoot);
    EXPECT_EQ(*wideRoot, unrepresentable + L"\\");
    EXPECT_TRUE(test::listDirectory(unrepresentable).empty());
}

TEST(TempRoot, TemporaryFileNamesAreNewEmptyFilesInTheRoot) {
    std::string name = makeTempFileName();
    std::wstring wideName = test::wide(name);
    EXPECT_EQ(wideName.rfind(test::wide(getTempRoot()), 0), 0u) << name;
    EXPECT_NE(wideName.find(L"mrx"), std::wstring::npos);
    EXPECT_TRUE(test::pathExists(wideName));
    EXPECT_EQ(test::readFile(wideName), "");
    DeleteFileW(wideName.c_str());
}
