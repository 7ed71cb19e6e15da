// morix-build for Windows makes a working launcher from the real template.
#include "launcher_fixture.h"

using namespace morix::test;

class BuilderOnWindowsTest : public LauncherTest {};

TEST_F(BuilderOnWindowsTest, BuildsAndInspectsALauncherFromTheTemplate) {
    writeFile(dir_.file(L"app.toml"), "[strings]\n101 = \"BuiltSvc\"\n107 = 0\n[wide]\n20017 = \"Built\"\n");
    writeFile(dir_.file(L"data.txt"), "included");
    writeFile(dir_.file(L"files.toml"),
              "[strings]\n101 = \"Files\"\n[[files]]\nname = \"sub\\\\data.txt\"\nsource = \"data.txt\"\n");
    std::wstring builder = binFile(L"morix-build.exe");
    ProcessResult built =
        runProcess(quoteArgument(builder) + L" build --template " +
                   quoteArgument(binFile(L"morix-launcher.exe")) + L" --config " +
                   quoteArgument(dir_.file(L"app.toml")) + L" -o " + quoteArgument(dir_.file(L"built.exe")));
    ASSERT_EQ(built.exitCode, 0u) << built.errors;

    ProcessResult help = run(dir_.file(L"built.exe"), L"/help");
    EXPECT_EQ(help.exitCode, 0u);
    EXPECT_TRUE(contains(help.output, "Usage: built.exe")) << help.output;

    ProcessResult inspected =
        runProcess(quoteArgument(builder) + L" inspect " + quoteArgument(dir_.file(L"built.exe")));
    EXPECT_EQ(inspected.exitCode, 0u) << inspected.errors;
    EXPECT_TRUE(contains(inspected.output, "101 = \"BuiltSvc\"")) << inspected.output;
    EXPECT_TRUE(contains(inspected.output, "20017 = \"Built\"")) << inspected.output;

    ProcessResult bare =
        runProcess(quoteArgument(builder) + L" inspect " + quoteArgument(binFile(L"morix-launcher.exe")));
    EXPECT_EQ(bare.exitCode, 2u);
    EXPECT_TRUE(contains(bare.errors, "no payload")) << bare.errors;

    ProcessResult withFiles =
        runProcess(quoteArgument(builder) + L" build --template " +
                   quoteArgument(binFile(L"morix-launcher.exe")) + L" --config " +
                   quoteArgument(dir_.file(L"files.toml")) + L" -o " + quoteArgument(dir_.file(L"f.exe")));
    ASSERT_EQ(withFiles.exitCode, 0u) << withFiles.errors;
    inspected = runProcess(quoteArgument(builder) + L" inspect " + quoteArgument(dir_.file(L"f.exe")));
    EXPECT_TRUE(contains(inspected.output, "sub\\data.txt (8 bytes)")) << inspected.output;
}
