#include "common/handles.h"
#include "config/extract.h"
#include "harness/harness.h"
#include "log_tail.h"

#include <gtest/gtest.h>

#include <windows.h>

using namespace morix;

namespace {

HANDLE openFile(const std::wstring& path, DWORD access, DWORD disposition) {
    return CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, disposition,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}

int64_t position(HANDLE file) {
    LARGE_INTEGER zero{};
    LARGE_INTEGER at{};
    SetFilePointerEx(file, zero, &at, FILE_CURRENT);
    return at.QuadPart;
}

std::string allByteValues(size_t size) {
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<char>((i * 7 + i / 256) & 0xFF);
    }
    return bytes;
}

std::string masked(std::string bytes) {
    for (char& c : bytes) {
        c = static_cast<char>(static_cast<unsigned char>(c) ^ 0xA7);
    }
    return bytes;
}

} // namespace

TEST(CopyStream, UnmasksEveryByteAndReadsNoFurtherThanTheSize) {
    test::TestDirectory dir;
    const std::string original = allByteValues(6001);
    // The record is followed by more payload data that the copy must leave unread.
    test::writeFile(dir.file(L"source"), masked(original) + std::string(3000, 'z'));
    UniqueHandle source(openFile(dir.file(L"source"), GENERIC_READ, OPEN_EXISTING));
    UniqueHandle target(openFile(dir.file(L"target"), GENERIC_WRITE, CREATE_ALWAYS));
    ASSERT_TRUE(source && target);

    EXPECT_EQ(copyStream(source.get(), target.get(), 6001, true), 0);
    EXPECT_EQ(position(source.get()), 6001);
    target.reset();
    EXPECT_EQ(test::readFile(dir.file(L"target")), original);

    // Without unscrambling the bytes pass unchanged; no size means no read at all.
    UniqueHandle plain(openFile(dir.file(L"plain"), GENERIC_WRITE, CREATE_ALWAYS));
    EXPECT_EQ(copyStream(source.get(), plain.get(), 0, true), 0);
    EXPECT_EQ(copyStream(source.get(), plain.get(), -5, true), 0);
    EXPECT_EQ(position(source.get()), 6001);
    EXPECT_EQ(copyStream(source.get(), plain.get(), 10, false), 0);
    plain.reset();
    EXPECT_EQ(test::readFile(dir.file(L"plain")), std::string(10, 'z'));
}

TEST(CopyStream, ReadAndWriteFailuresAreReportedAndLogged) {
    test::TestDirectory dir;
    test::writeFile(dir.file(L"short"), std::string(100, 'a'));
    UniqueHandle source(openFile(dir.file(L"short"), GENERIC_READ, OPEN_EXISTING));
    UniqueHandle target(openFile(dir.file(L"target"), GENERIC_WRITE, CREATE_ALWAYS));
    test::LogTail tail;
    // The record claims more than the file holds: the read after the last byte delivers nothing.
    EXPECT_EQ(copyStream(source.get(), target.get(), 6500, true), kCopyReadFailed);
    EXPECT_NE(tail.text().find("ERROR: ReadFile failed 0 "), std::string::npos) << tail.text();
    EXPECT_NE(tail.text().find(" 100\n"), std::string::npos) << tail.text();

    SetFilePointer(source.get(), 0, nullptr, FILE_BEGIN);
    UniqueHandle readOnly(openFile(dir.file(L"target"), GENERIC_READ, OPEN_EXISTING));
    EXPECT_EQ(copyStream(source.get(), readOnly.get(), 50, true), kCopyWriteFailed);
    EXPECT_NE(tail.text().find("ERROR: WriteFile failed 50 "), std::string::npos) << tail.text();
}
