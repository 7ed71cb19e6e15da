#include "common/process.h"
#include "harness/harness.h"

#include <gtest/gtest.h>

#include <string>

using namespace morix;

namespace {

std::wstring cmdLine(const std::wstring& command) {
    wchar_t windows[MAX_PATH + 1] = L"";
    GetWindowsDirectoryW(windows, MAX_PATH + 1);
    return std::wstring(windows) + L"\\system32\\cmd.exe /C " + command;
}

ChildProcess started(ProcessStart start) {
    SystemError error;
    ChildProcess child = startProcess(start, error);
    EXPECT_TRUE(child) << error.call << " error " << error.code;
    EXPECT_FALSE(error);
    return child;
}

bool inheritable(HANDLE handle) {
    DWORD flags = 0;
    return GetHandleInformation(handle, &flags) && (flags & HANDLE_FLAG_INHERIT) != 0;
}

} // namespace

TEST(ProcessTest, AChildThatOverrunsTheLimitIsEndedBeforeTheWaitReturns) {
    ProcessStart start;
    start.commandLine = L"\"" + test::binFile(L"harness-sleeper.exe") + L"\"";
    start.creationFlags = CREATE_NO_WINDOW;
    const ChildProcess sleeper = started(start);
    ASSERT_TRUE(sleeper);
    const ProcessEnd end = waitForExit(sleeper, 300);
    EXPECT_TRUE(end.timedOut);
    EXPECT_EQ(end.exitCode, static_cast<DWORD>(STILL_ACTIVE));
    EXPECT_EQ(WaitForSingleObject(sleeper.process.get(), 0), static_cast<DWORD>(WAIT_OBJECT_0));
    DWORD exitCode = 0;
    EXPECT_TRUE(GetExitCodeProcess(sleeper.process.get(), &exitCode));
    EXPECT_EQ(exitCode, 1u);
}

TEST(ProcessTest, AChildThatEndsInTimeReportsItsExitCode) {
    ProcessStart start;
    start.commandLine = cmdLine(L"exit 7");
    start.creationFlags = CREATE_NO_WINDOW;
    const ChildProcess shell = started(start);
    ASSERT_TRUE(shell);
    const ProcessEnd end = waitForExit(shell, 30000);
    EXPECT_FALSE(end.timedOut);
    EXPECT_EQ(end.exitCode, 7u);
}

// Only the child's end of the pipe is inheritable: once the parent closes its copy of that end, the pipe
// ends with the child, and a read to its end returns.
TEST(ProcessTest, APipesKeptEndStaysWithThisProcessAndThePipeEndsWithTheChild) {
    Pipe output;
    ASSERT_FALSE(createPipe(output, ChildEnd::Write));
    EXPECT_TRUE(inheritable(output.write.get()));
    EXPECT_FALSE(inheritable(output.read.get()));
    Pipe input;
    ASSERT_FALSE(createPipe(input, ChildEnd::Read));
    EXPECT_TRUE(inheritable(input.read.get()));
    EXPECT_FALSE(inheritable(input.write.get()));

    ProcessStart start;
    start.commandLine = cmdLine(L"echo through the pipe");
    start.creationFlags = CREATE_NO_WINDOW;
    start.inheritHandles = true;
    start.standardHandles = true;
    start.output = output.write.get();
    start.error = output.write.get();
    const ChildProcess shell = started(start);
    ASSERT_TRUE(shell);
    output.write.reset();
    std::string text;
    char chunk[256];
    DWORD bytesRead = 0;
    while (ReadFile(output.read.get(), chunk, sizeof chunk, &bytesRead, nullptr) && bytesRead > 0) {
        text.append(chunk, bytesRead);
    }
    EXPECT_EQ(text, "through the pipe\r\n");
    EXPECT_EQ(waitForExit(shell, 30000).exitCode, 0u);
}

TEST(ProcessTest, AFailedStartNamesTheCallAndItsErrorCode) {
    test::TestDirectory dir;
    ProcessStart start;
    start.application = dir.file(L"missing.exe");
    start.commandLine = L"missing.exe";
    SystemError error;
    const ChildProcess child = startProcess(start, error);
    EXPECT_FALSE(child);
    ASSERT_TRUE(error);
    EXPECT_STREQ(error.call, "CreateProcessW");
    EXPECT_EQ(error.code, static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}
