// Included files: written into a fresh directory beside a marker file in the temporary root, unmasked,
// one directory level deep, and removed again by a fatal exit.
#include "launcher_fixture.h"

#include <algorithm>

using namespace morix::test;
using morix::payload::IncludedFile;
using morix::payload::Payload;

namespace {

Payload withFiles(std::vector<IncludedFile> files) {
    Payload p;
    p.wideStrings = {{1009, u"Internal failure {0}."}};
    p.files = std::move(files);
    p.describeIncludedFiles();
    return p;
}

} // namespace

class ExtractTest : public LauncherTest {
protected:
    // Names in the temporary root that begin with "mrx", directories ("_dir") and marker files apart.
    size_t countInTmp(bool directories) const {
        std::vector<std::wstring> names = listDirectory(tmp_);
        return std::count_if(names.begin(), names.end(), [&](const std::wstring& name) {
            return name.starts_with(L"mrx") && (name.find(L"_dir") != std::wstring::npos) == directories;
        });
    }
};

TEST_F(ExtractTest, FilesAreUnmaskedIntoADirectoryBesideAMarkerFile) {
    std::string big(6001, '\0');
    for (size_t i = 0; i < big.size(); ++i) {
        big[i] = static_cast<char>((i * 13 + i / 256) & 0xFF);
    }
    std::wstring probe = makeProbe(withFiles(
        {{"big.bin", big}, {"empty.txt", ""}, {"lib\\b.jar", "b"}, {"lib\\c.jar", "c"}, {"top", "t"}}));
    ProcessResult result = run(probe, L"extract");
    ASSERT_EQ(result.exitCode, 0u) << result.output;

    // The directory is the marker file's name, "_dir" and the time in seconds. The marker is held open
    // for as long as its process lives and is deleted when that ends (the probe leaves the directory).
    const std::wstring appTemp = wide(outputField(result.output, "appTempDir"));
    const std::wstring name = appTemp.substr(tmp_.size() + 1);
    EXPECT_EQ(appTemp.substr(0, tmp_.size()), tmp_);
    ASSERT_NE(name.find(L".tmp_dir"), std::wstring::npos) << name;
    EXPECT_FALSE(pathExists(tmp_ + L"\\" + name.substr(0, name.find(L"_dir"))));
    EXPECT_TRUE(pathExists(appTemp));

    // A record of size 0 creates no file but counts: the files after it are all there.
    // Beside the files, the one the run holds to show that the directory is in use.
    EXPECT_EQ(listDirectory(appTemp),
              (std::vector<std::wstring>{L".morix-owner", L"big.bin", L"lib", L"top"}));
    EXPECT_EQ(readFile(appTemp + L"\\big.bin"), big);
    EXPECT_EQ(readFile(appTemp + L"\\lib\\b.jar") + readFile(appTemp + L"\\lib\\c.jar"), "bc");
    // After the last record is the end of the file, where the payload ends.
    EXPECT_EQ(outputField(result.output, "unextractedPosition"), std::to_string(readFile(probe).size()));
    EXPECT_TRUE(contains(log(), "extracting " + narrow(appTemp) + "\\big.bin (size: 6001)")) << log();
}

TEST_F(ExtractTest, AFatalExitRemovesTheDirectoryWithItsContentsAndNothingWhenThereAreNoFiles) {
    ProcessResult none = run(makeProbe(withFiles({}), L"none.exe"), L"extract fatal");
    EXPECT_EQ(none.exitCode, 1u);
    EXPECT_EQ(outputField(none.output, "appTempDir") + outputField(none.output, "unextractedPosition"), "0");
    EXPECT_EQ(listDirectory(tmp_), std::vector<std::wstring>{L"vrk_nlog_1.log"});

    ProcessResult some =
        run(makeProbe(withFiles({{"a", "a"}, {"lib\\b", "b"}}), L"some.exe"), L"extract fatal");
    EXPECT_EQ(some.exitCode, 1u);
    EXPECT_FALSE(pathExists(wide(outputField(some.output, "appTempDir"))));
    EXPECT_EQ(countInTmp(true), 0u);
    EXPECT_EQ(countInTmp(false), 0u); // the marker goes with its process
}

TEST_F(ExtractTest, TheCountAndTheNamesLimitEachOther) {
    // More names than the count: only the first records are read, and the position is after them.
    Payload moreNames = withFiles({{"a.txt", "aaaa"}, {"b.txt", "bb"}, {"c.txt", "c"}});
    moreNames.setString(2002, "2");
    std::wstring more = makeProbe(moreNames, L"more.exe");
    ProcessResult result = run(more, L"extract");
    EXPECT_EQ(listDirectory(wide(outputField(result.output, "appTempDir"))),
              (std::vector<std::wstring>{L".morix-owner", L"a.txt", L"b.txt"}));
    EXPECT_EQ(outputField(result.output, "unextractedPosition"), std::to_string(readFile(more).size() - 9));

    // Fewer names than the count: extraction ends with the last name. Empty names read no record.
    Payload fewerNames = withFiles({{"a.txt", "aaaa"}, {"b.txt", "bb"}});
    fewerNames.setString(2002, "5");
    fewerNames.setString(2003, ";a.txt;;b.txt;");
    std::wstring fewer = makeProbe(fewerNames, L"fewer.exe");
    ProcessResult fewerResult = run(fewer, L"extract");
    const std::wstring fewerTemp = wide(outputField(fewerResult.output, "appTempDir"));
    EXPECT_EQ(readFile(fewerTemp + L"\\a.txt") + readFile(fewerTemp + L"\\b.txt"), "aaaabb");
    EXPECT_EQ(outputField(fewerResult.output, "unextractedPosition"), std::to_string(readFile(fewer).size()));
}

TEST_F(ExtractTest, FailuresEndTheRunWithTheirCodeAndLeaveNoDirectory) {
    auto expectFailure = [&](const std::wstring& probe, const std::string& output,
                             Environment environment = {}) {
        environment.emplace_back(L"MORIX_LOG", std::nullopt);
        ProcessResult result = run(probe, L"extract", environment);
        EXPECT_EQ(result.exitCode, 1u) << output;
        EXPECT_EQ(result.output, output);
        EXPECT_EQ(countInTmp(true), 0u) << output;
    };
    // Only one directory level is created; a ".." part would leave the directory and is refused alike.
    for (const char* name : {"lib\\sub\\c.jar", "..\\outside.txt", "lib/../../outside.txt"}) {
        expectFailure(makeProbe(withFiles({{"a.txt", "a"}, {name, "c"}})), "Internal failure 11.\n");
        EXPECT_FALSE(pathExists(tmp_ + L"\\outside.txt") || pathExists(dir_.file(L"outside.txt"))) << name;
    }

    // A record that claims more bytes than the file holds fails the copy; one cut in its size field is
    // a damaged payload.
    const std::string bytes =
        morix::payload::serialize(withFiles({{"a.txt", "a"}, {"b.bin", std::string(100, 'x')}}));
    writeLauncherBytes(dir_.file(L"cut.exe"), bytes.substr(0, bytes.size() - 60),
                       binFile(L"morix-probe.exe"));
    expectFailure(dir_.file(L"cut.exe"), "Internal failure 16.\n");
    writeLauncherBytes(dir_.file(L"cut2.exe"), bytes.substr(0, bytes.size() - 104),
                       binFile(L"morix-probe.exe"));
    expectFailure(dir_.file(L"cut2.exe"), "Internal Error: readLong\n");

    // Sizes are 64-bit, in the 32-bit product too: a record claiming 4 GB and 16 bytes, followed by only
    // the 16, fails its copy after them instead of passing as a 16-byte file.
    std::string huge =
        morix::payload::serialize(withFiles({{"a.txt", "a"}, {"huge.bin", std::string(16, 'x')}}));
    huge[huge.size() - 16 - 8 + 4] = 1; // the low byte of the size's high word
    writeLauncherBytes(dir_.file(L"huge.exe"), huge, binFile(L"morix-probe.exe"));
    ProcessResult result = run(dir_.file(L"huge.exe"), L"extract");
    EXPECT_EQ(result.exitCode, 1u) << result.output;
    EXPECT_TRUE(contains(result.output, "Internal failure 16.")) << result.output;
    EXPECT_EQ(countInTmp(true), 0u);
    const std::string text = log();
    EXPECT_TRUE(contains(text, "\\huge.bin (size: 4294967312)\n")) << text;
    const size_t failed = text.find("ReadFile failed 0 ");
    ASSERT_NE(failed, std::string::npos) << text;
    EXPECT_EQ(text.substr(text.find('\n', failed) - 3, 3), " 16") << text; // the bytes copied so far

    // A temporary root so deep that its write probe still fits the narrow path limit (260) but the
    // launcher's directory name ("mrx" + number + ".tmp_dir" + seconds) does not: ten attempts, then 7.
    std::wstring root = tmp_;
    while (root.size() < 240) {
        root += L"\\" + std::wstring(std::min<size_t>(239 - root.size(), 60), L'd');
        createDirectory(root);
    }
    expectFailure(makeProbe(withFiles({{"a.txt", "a"}}), L"deep.exe"), "Internal failure 7.\n",
                  {{L"TMP", root}, {L"TEMP", root}});
    EXPECT_TRUE(listDirectory(root).empty()); // each attempt's marker went with it
}
