#include "frame/startup.h"

#include <gtest/gtest.h>

using namespace morix;

TEST(PathReduction, KeepsTheElementsUnderTheWindowsDirectoryInTheirOrder) {
    EXPECT_EQ(reducePathList(L"C:\\Windows\\system32;D:\\tools;C:\\Windows", L"C:\\Windows"),
              L"C:\\Windows\\system32;C:\\Windows");
    // Case does not matter, empty elements go, and a mere name prefix is enough.
    EXPECT_EQ(reducePathList(L";c:\\windows\\X;;C:\\WINDOWSfoo;C:\\Win;", L"C:\\Windows"),
              L"c:\\windows\\X;C:\\WINDOWSfoo");
    EXPECT_EQ(reducePathList(L"D:\\tools;E:\\bin", L"C:\\Windows"), L"");
    EXPECT_EQ(reducePathList(L"", L"C:\\Windows"), L"");
}
