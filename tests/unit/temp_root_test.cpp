#include "config/temp_root.h"
#include "harness/harness.h"

#include <gtest/gtest.h>

using namespace morix;

namespace {

// Sets environment variables for one test (an empty value removes one) and restores them after it.
class ScopedVariables {
public:
    explicit ScopedVariables(std::initializer_list<std::pair<const wchar_t*, std::wstring>> values) {
        for (const auto& [name, value] : values) {
            wchar_t buffer[MAX_PATH * 4];
            DWORD length = GetEnvironmentVariableW(name, buffer, MAX_PATH * 4);
            saved_.emplace_back(name, length > 0 ? std::optional<std::wstring>(std::wstring(buffer, length))
                                                 : std::nullopt);
            SetEnvironmentVariableW(name, value.empty() ? nullptr : value.c_str());
        }
    }
    ~ScopedVariables() {
        for (const auto& [name, value] : saved_) {
            SetEnvironmentVariableW(name, value ? value->c_str() : nullptr);
        }
    }

private:
    std::vector<std::pair<const wchar_t*, std::optional<std::wstring>>> saved_;
};

// Points TMP and TEMP (where GetTempPath looks) at a directory for one test.
ScopedVariables temporaryVariables(const std::wstring& directory) {
    return ScopedVariables{{L"TMP", directory}, {L"TEMP", directory}};
}

} // namespace

TEST(TempRoot, TheTemporaryPathComesFirstAndTheWriteProbeLeavesNothing) {
    test::TestDirectory dir;
    ScopedVariables variables = temporaryVariables(dir.path());
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
    ScopedVariables variables = temporaryVariables(unrepresentable);
    std::optional<std::string> narrowRoot = searchTempRoot();
    ASSERT_TRUE(narrowRoot);
    EXPECT_EQ(narrowRoot->find('?'), std::string::npos) << *narrowRoot;
    EXPECT_NE(test::wide(*narrowRoot), unrepresentable + L"\\");
    std::optional<std::wstring> wideRoot = searchTempRootWide();
    ASSERT_TRUE(wideRoot);
    EXPECT_EQ(*wideRoot, unrepresentable + L"\\");
    EXPECT_TRUE(test::listDirectory(unrepresentable).empty());
}

TEST(TempRoot, TheHomeCandidateNeedsBothHomeVariables) {
    test::TestDirectory dir;
    const std::wstring home = dir.path();
    // Below a file: no directory can be made there.
    test::writeFile(dir.file(L"plain"), "");
    const std::wstring missing = dir.file(L"plain\\temp");
    ScopedVariables variables{{L"TMP", missing},
                              {L"TEMP", missing},
                              {L"USERPROFILE", missing},
                              {L"HOMEDRIVE", home.substr(0, 2)},
                              {L"HOMEPATH", home.substr(2)}};
    EXPECT_EQ(test::wide(searchTempRoot().value_or("")), home);
    EXPECT_EQ(searchTempRootWide().value_or(L""), home);
    // A drive alone is no home: the search goes on to the next candidate instead of the drive's root.
    ScopedVariables noPath{{L"HOMEPATH", L""}};
    const std::wstring root = test::wide(searchTempRoot().value_or(""));
    EXPECT_NE(root, home.substr(0, 2) + L"\\");
    EXPECT_NE(root, home.substr(0, 2));
    EXPECT_FALSE(root.empty());
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
