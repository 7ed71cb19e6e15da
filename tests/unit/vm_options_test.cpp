#include "harness/harness.h"
#include "log_tail.h"
#include "windows/vm_options.h"

#include <gtest/gtest.h>

#include <windows.h>

using namespace morix;
using morix::test::LogTail;

// Without a module path no default options file is looked for: ".vmoptions" alone would be read from
// the current directory, which whoever starts the launcher chooses.
TEST(DefaultOptionsFileTest, AnEmptyModulePathReadsNothingFromTheCurrentDirectory) {
    test::TestDirectory dir;
    test::writeFile(dir.file(L".vmoptions"), "-Dplanted=yes\n");
    wchar_t previous[MAX_PATH + 1] = L"";
    GetCurrentDirectoryW(MAX_PATH + 1, previous);
    ASSERT_TRUE(SetCurrentDirectoryW(dir.file(L"").c_str()));
    LogTail log;
    std::wstring opened;
    UniqueFile file = openDefaultOptionsFile(L"", opened);
    SetCurrentDirectoryW(previous);
    EXPECT_EQ(file.get(), nullptr);
    EXPECT_NE(log.text().find("no module path: default vmoptions file skipped"), std::string::npos)
        << log.text();
}
