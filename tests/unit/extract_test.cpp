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
