// The per-user cache: where it lives, the checksum that proves a file whole, the stable copies of
// archives, and the bound on what it keeps.
#include "common/handles.h"
#include "config/user_cache.h"
#include "harness/harness.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>

using namespace morix;
using morix::test::createDirectory;
using morix::test::readFile;
using morix::test::writeFile;

namespace {

// LOCALAPPDATA for one test (an empty value removes it), restored afterwards.
class ScopedLocalAppData {
public:
    explicit ScopedLocalAppData(const std::wstring& value) {
        wchar_t buffer[2048];
        const DWORD length = GetEnvironmentVariableW(L"LOCALAPPDATA", buffer, 2048);
        if (length > 0 && length < 2048) {
            saved_ = std::wstring(buffer, length);
        }
        SetEnvironmentVariableW(L"LOCALAPPDATA", value.empty() ? nullptr : value.c_str());
    }
    ~ScopedLocalAppData() { SetEnvironmentVariableW(L"LOCALAPPDATA", saved_ ? saved_->c_str() : nullptr); }

private:
    std::optional<std::wstring> saved_;
};

void setWriteTime(const std::wstring& path, uint64_t hoursAgo) {
    UniqueHandle file(CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    ULARGE_INTEGER time{{now.dwLowDateTime, now.dwHighDateTime}};
    time.QuadPart -= hoursAgo * 3600ULL * 10000000;
    FILETIME old{time.LowPart, time.HighPart};
    SetFileTime(file.get(), &old, &old, &old);
}

std::vector<std::wstring> sorted(std::vector<std::wstring> names) {
    std::sort(names.begin(), names.end());
    return names;
}

} // namespace

TEST(UserCache, TheChecksumIsXxHash64AndAFilesDigestIsTheChecksumOfItsContent) {
    EXPECT_EQ(contentChecksum("", 0), 0xEF46DB3751D8E999ULL);
    EXPECT_EQ(contentChecksum("abc", 3), 0x44BC2CF5AD770999ULL);
    const std::string stripes = "Nobody inspects the spammish repetition"; // long enough for the lanes
    EXPECT_EQ(contentChecksum(stripes.data(), stripes.size()), 0xFBCEA83C8A378BF1ULL);
    EXPECT_EQ(hex64(0xFBCEA83C8A378BF1ULL), L"fbcea83c8a378bf1");

    test::TestDirectory dir;
    std::string content(300000, 'a');
    content[123456] = 'b';
    writeFile(dir.file(L"f.bin"), content);
    const std::optional<FileDigest> digest = digestFile(dir.file(L"f.bin"));
    ASSERT_TRUE(digest);
    EXPECT_EQ(digest->size, content.size());
    EXPECT_EQ(digest->checksum, contentChecksum(content.data(), content.size()));
    writeFile(dir.file(L"empty"), "");
    EXPECT_EQ(digestFile(dir.file(L"empty"))->checksum, contentChecksum(nullptr, 0));
    EXPECT_FALSE(digestFile(dir.file(L"missing")));
}

TEST(UserCache, TheCacheIsUnderLocalAppDataAndNowhereElse) {
    test::TestDirectory dir;
    {
        ScopedLocalAppData local(dir.path());
        EXPECT_EQ(userCacheDirectory(), dir.path() + L"\\Morix\\cache");
        EXPECT_TRUE(test::pathExists(dir.path() + L"\\Morix\\cache"));
    }
    for (const std::wstring& unusable :
         {std::wstring(), std::wstring(L"relative\\dir"), std::wstring(L"\\x")}) {
        ScopedLocalAppData local(unusable);
        EXPECT_EQ(userCacheDirectory(), L"") << test::narrow(unusable);
    }
    // A file where a directory of the cache belongs is never taken for it.
    test::TestDirectory other;
    writeFile(other.file(L"Morix"), "");
    ScopedLocalAppData local(other.path());
    EXPECT_EQ(userCacheDirectory(), L"");
}

TEST(UserCache, AStableCopyDependsOnlyOnTheContentAndADamagedCopyIsReplaced) {
    test::TestDirectory dir;
    createDirectory(dir.file(L"local"));
    ScopedLocalAppData local(dir.file(L"local"));
    writeFile(dir.file(L"run1.jar"), "jar content");
    writeFile(dir.file(L"run2.jar"), "jar content");
    const std::wstring first = stableCopyOf(dir.file(L"run1.jar"), L"app.jar");
    const std::wstring expected = dir.file(L"local") + L"\\Morix\\cache\\jars\\" +
                                  hex64(contentChecksum("jar content", 11)) + L"\\app.jar";
    EXPECT_EQ(first, expected);
    EXPECT_EQ(readFile(first), "jar content");
    EXPECT_EQ(stableCopyOf(dir.file(L"run2.jar"), L"app.jar"), expected); // another run, the same copy

    writeFile(first, "jar conte"); // cut short
    EXPECT_EQ(stableCopyOf(dir.file(L"run2.jar"), L"app.jar"), expected);
    EXPECT_EQ(readFile(first), "jar content");
    // Only this copy's own file is in its directory: no temporary file stays.
    EXPECT_EQ(test::listDirectory(expected.substr(0, expected.rfind(L'\\'))),
              std::vector<std::wstring>{L"app.jar"});

    writeFile(dir.file(L"new.jar"), "other content");
    EXPECT_NE(stableCopyOf(dir.file(L"new.jar"), L"app.jar"), expected);
    EXPECT_EQ(stableCopyOf(dir.file(L"new.jar"), L"..\\app.jar"), L"");
}

TEST(UserCache, TrimmingKeepsTheNewestAndRemovesTemporaryFilesOfEndedRunsOnly) {
    test::TestDirectory dir;
    for (int i = 0; i < 5; ++i) {
        const std::wstring name = dir.file(L"cds-" + std::to_wstring(i) + L".jsa");
        writeFile(name, "archive");
        setWriteTime(name, 10 - i);                                // cds-0 the oldest
        SetFileAttributesW(name.c_str(), FILE_ATTRIBUTE_READONLY); // as the VM writes its archives
    }
    writeFile(dir.file(L"cds-old.123.tmp"), "");
    setWriteTime(dir.file(L"cds-old.123.tmp"), 1);
    writeFile(dir.file(L"cds-young.456.tmp"), ""); // a run that is writing its archive now
    writeFile(dir.file(L"other.txt"), "");
    createDirectory(dir.file(L"jars"));
    createDirectory(dir.file(L"jars\\aaaa"));
    writeFile(dir.file(L"jars\\aaaa\\a.jar"), "");
    setWriteTime(dir.file(L"jars\\aaaa"), 5);
    createDirectory(dir.file(L"jars\\bbbb"));

    trimCacheDirectory(dir.path(), L"cds-*", 3);
    EXPECT_EQ(sorted(test::listDirectory(dir.path())), sorted({L"cds-2.jsa", L"cds-3.jsa", L"cds-4.jsa",
                                                               L"cds-young.456.tmp", L"other.txt", L"jars"}));
    trimCacheDirectory(dir.file(L"jars"), L"*", 1);
    EXPECT_EQ(test::listDirectory(dir.file(L"jars")), std::vector<std::wstring>{L"bbbb"});
}
