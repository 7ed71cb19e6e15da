// morix-build for Windows makes a working launcher from the real template.
#include "launcher_fixture.h"

#include <vector>

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

TEST_F(BuilderOnWindowsTest, TheWindowsBuilderWritesVersionInformationThatWindowsReads) {
    writeFile(dir_.file(L"version.toml"), "[strings]\n101 = \"V\"\n[executable]\nexecution_level = "
                                          "\"highestAvailable\"\n[executable.version]\nfile_version = "
                                          "\"4.3.2.1\"\nproduct_name = \"Pr\xC3\xBC"
                                          "fung\"\n");
    ProcessResult built = runProcess(quoteArgument(binFile(L"morix-build.exe")) + L" build --template " +
                                     quoteArgument(binFile(L"morix-launcher.exe")) + L" --config " +
                                     quoteArgument(dir_.file(L"version.toml")) + L" -o " +
                                     quoteArgument(dir_.file(L"versioned.exe")));
    ASSERT_EQ(built.exitCode, 0u) << built.errors;

    const std::wstring launcher = dir_.file(L"versioned.exe");
    DWORD ignored = 0;
    std::vector<char> block(GetFileVersionInfoSizeW(launcher.c_str(), &ignored));
    ASSERT_FALSE(block.empty()) << GetLastError();
    ASSERT_TRUE(GetFileVersionInfoW(launcher.c_str(), 0, static_cast<DWORD>(block.size()), block.data()));
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
    EXPECT_EQ(fixed->dwFileVersionMS, 0x00040003u);
    EXPECT_EQ(fixed->dwFileVersionLS, 0x00020001u);
    wchar_t* product = nullptr;
    ASSERT_TRUE(VerQueryValueW(block.data(), L"\\StringFileInfo\\040904B0\\ProductName",
                               reinterpret_cast<void**>(&product), &length));
    EXPECT_EQ(std::wstring(product), L"Pr\u00FCfung");

    EXPECT_EQ(run(launcher, L"/help").exitCode, 0u); // the payload still follows the last section
}
