#include "common/handles.h"
#include "config/extract.h"
#include "harness/harness.h"
#include "log_tail.h"

#include <gtest/gtest.h>

#include <windows.h>

using namespace morix;

namespace {

UniqueHandle openFile(const std::wstring& path, DWORD access, DWORD disposition) {
    return UniqueHandle(CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    disposition, FILE_ATTRIBUTE_NORMAL, nullptr));
}

} // namespace

// A run shows the content and the read failure; a target that refuses writes only shows here.
TEST(CopyStream, AWriteFailureIsReportedAndLogged) {
    test::TestDirectory dir;
    test::writeFile(dir.file(L"source"), std::string(100, 'a'));
    test::writeFile(dir.file(L"target"), "");
    UniqueHandle source = openFile(dir.file(L"source"), GENERIC_READ, OPEN_EXISTING);
    UniqueHandle readOnly = openFile(dir.file(L"target"), GENERIC_READ, OPEN_EXISTING);
    test::LogTail tail;
    EXPECT_EQ(copyStream(source.get(), readOnly.get(), 50, true), kCopyWriteFailed);
    EXPECT_NE(tail.text().find("ERROR: WriteFile failed 50 "), std::string::npos) << tail.text();
}

// Over several pieces and a remainder: every byte unmasked, and nothing more than the size is read. A
// source that ends early fails with the count copied up to that point, wherever the pieces end.
TEST(CopyStream, CopiesBeyondOnePieceByteExactAndReportsACutSourceWithTheCountCopied) {
    test::TestDirectory dir;
    std::string content(2 * 1024 * 1024 + 3, '\0');
    for (size_t i = 0; i < content.size(); ++i) {
        content[i] = static_cast<char>((i * 131 + i / 4099) & 0xFF);
    }
    test::writeFile(dir.file(L"source"), content + "after");
    std::string unmasked = content;
    for (char& c : unmasked) {
        c = static_cast<char>(c ^ 0xA7);
    }
    UniqueHandle source = openFile(dir.file(L"source"), GENERIC_READ, OPEN_EXISTING);
    {
        UniqueHandle target = openFile(dir.file(L"target"), GENERIC_WRITE, CREATE_ALWAYS);
        EXPECT_EQ(copyStream(source.get(), target.get(), static_cast<int64_t>(content.size()), true), 0);
    }
    EXPECT_TRUE(test::readFile(dir.file(L"target")) == unmasked);
    char next[5] = {};
    DWORD bytesRead = 0;
    ReadFile(source.get(), next, sizeof next, &bytesRead, nullptr);
    EXPECT_EQ(std::string(next, bytesRead), "after");

    SetFilePointer(source.get(), 0, nullptr, FILE_BEGIN);
    UniqueHandle plain = openFile(dir.file(L"plain"), GENERIC_WRITE, CREATE_ALWAYS);
    test::LogTail tail;
    EXPECT_EQ(copyStream(source.get(), plain.get(), 3 * 1024 * 1024, false), kCopyReadFailed);
    // "ReadFile failed", the bytes read (none at the end), the error code, the bytes copied before.
    const std::string log = tail.text();
    const size_t line = log.find("ERROR: ReadFile failed 0 ");
    ASSERT_NE(line, std::string::npos) << log;
    const std::string failure = log.substr(line, log.find_first_of("\r\n", line) - line);
    EXPECT_TRUE(failure.ends_with(" " + std::to_string(content.size() + 5))) << failure;
    plain.reset();
    EXPECT_TRUE(test::readFile(dir.file(L"plain")) == content + "after");
}
