// The unit test program: the launcher's diagnostic log is switched on and written to a directory of this
// run, so that tests can check the lines their code logs.
#include "harness/harness.h"

#include <gtest/gtest.h>

#include <windows.h>

int main(int argc, char** argv) {
    wchar_t temp[MAX_PATH + 1];
    GetTempPathW(MAX_PATH + 1, temp);
    std::wstring directory = std::wstring(temp) + L"morix-unit-" + std::to_wstring(GetCurrentProcessId());
    morix::test::removeTree(directory);
    CreateDirectoryW(directory.c_str(), nullptr);
    SetEnvironmentVariableW(L"TMP", directory.c_str());
    SetEnvironmentVariableW(L"TEMP", directory.c_str());
    SetEnvironmentVariableW(L"MORIX_LOG", L"yes");
    ::testing::InitGoogleTest(&argc, argv);
    int result = RUN_ALL_TESTS();
    morix::test::removeTree(directory);
    return result;
}
