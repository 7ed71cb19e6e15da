// Included files: written into a fresh directory beside a marker file in the temporary root, unmasked,
// one directory level deep, and removed again by a fatal exit.
#include "launcher_fixture.h"

#include <algorithm>
#include <regex>

using namespace morix::test;
using morix::payload::IncludedFile;
using morix::payload::Payload;

namespace {

Payload withFiles(std::vector<IncludedFile> files) {
    Payload p;
    p.strings = {{107, "0"}};
    p.wideStrings = {{1009, u"Internal failure {0}."}};
    p.files = std::move(files);
    p.describeIncludedFiles();
    return p;
}

std::string allByteValues(size_t size) {
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<char>((i * 13 + i / 256) & 0xFF);
    }
    return bytes;
}

// The "name=value" line of the probe's output.
std::string field(const std::string& output, const std::string& name) {
    std::smatch match;
    return std::regex_search(output, match, std::regex("(^|\n)" + name + "=([^\n]*)")) ? match[2].str() : "";
}

} // namespace

class ExtractTest : public LauncherTest {
protected:
    // Names in the temporary root that match a pattern (the case of a generated name is the system's).
    std::vector<std::wstring> tmpEntries(const std::wstring& pattern) const {
        std::vector<std::wstring> found;
        for (const std::wstring& name : listDirectory(tmp_)) {
            if (std::regex_match(name, std::wregex(pattern, std::regex_constants::icase))) {
                found.push_back(name);
            }
        }
        return found;
    }
};

TEST_F(ExtractTest, FilesAreUnmaskedIntoADirectoryBesideAMarkerFile) {
    const std::string big = allByteValues(6001);
    std::wstring probe = makeProbe(withFiles({{"big.bin", big},
                                              {"empty.txt", ""},
                                              {"lib\\b.jar", "jar bytes"},
                                              {"lib\\c.jar", "more"},
                                              {"top.txt", "top"}}));
    ProcessResult result = run(probe, L"extract");
    ASSERT_EQ(result.exitCode, 0u) << result.output;

    // mrxNNNN.tmp stays as the marker; the directory is its name, "_dir" and the time in seconds.
    std::vector<std::wstring> markers = tmpEntries(L"mrx[0-9A-F]+\\.tmp");
    ASSERT_EQ(markers.size(), 1u);
    std::vector<std::wstring> directories = tmpEntries(L"mrx[0-9A-F]+\\.tmp_dir[0-9]+");
    ASSERT_EQ(directories.size(), 1u);
    EXPECT_TRUE(directories[0].starts_with(markers[0] + L"_dir"));
    const std::wstring appTemp = tmp_ + L"\\" + directories[0];
    EXPECT_EQ(field(result.output, "appTempDir"), narrow(appTemp));

    // A record of size 0 creates no file but still counts: the files after it are all there.
    EXPECT_EQ(listDirectory(appTemp), (std::vector<std::wstring>{L"big.bin", L"lib", L"top.txt"}));
    EXPECT_EQ(readFile(appTemp + L"\\big.bin"), big);
    EXPECT_EQ(readFile(appTemp + L"\\lib\\b.jar"), "jar bytes");
    EXPECT_EQ(readFile(appTemp + L"\\lib\\c.jar"), "more");
    EXPECT_EQ(readFile(appTemp + L"\\top.txt"), "top");

    // The position after the last record is the end of the file, where the payload ends.
    EXPECT_EQ(field(result.output, "unextractedPosition"), std::to_string(readFile(probe).size()));
    std::string logText = log();
    EXPECT_TRUE(contains(logText, "Included files: 5")) << logText;
    EXPECT_TRUE(contains(logText, "extracting " + narrow(appTemp) + "\\big.bin (size: 6001)")) << logText;
    EXPECT_TRUE(contains(logText, "creating directory " + narrow(appTemp) + "\\lib")) << logText;
    EXPECT_TRUE(contains(logText, "extracting files done")) << logText;
}

TEST_F(ExtractTest, NoIncludedFilesCreateNothingAndAFatalExitRemovesNothing) {
    std::wstring probe = makeProbe(withFiles({}));
    ProcessResult result = run(probe, L"extract fatal");
    EXPECT_EQ(result.exitCode, 1u);
    EXPECT_EQ(field(result.output, "appTempDir"), "");
    EXPECT_EQ(field(result.output, "unextractedPosition"), "0");
    EXPECT_EQ(listDirectory(tmp_), std::vector<std::wstring>{L"vrk_nlog_1.log"});
    EXPECT_TRUE(contains(log(), "Included files: 0")) << log();
    EXPECT_FALSE(contains(log(), "emptying")) << log();
}

TEST_F(ExtractTest, TheCountAndTheNamesLimitEachOther) {
    // More names than the count: only the first records are read.
    Payload moreNames = withFiles({{"a.txt", "aaaa"}, {"b.txt", "bb"}, {"c.txt", "c"}});
    moreNames.setString(2002, "2");
    std::wstring probe = makeProbe(moreNames, L"more.exe");
    ProcessResult result = run(probe, L"extract");
    ASSERT_EQ(result.exitCode, 0u) << result.output;
    std::wstring appTemp = wide(field(result.output, "appTempDir"));
    EXPECT_EQ(listDirectory(appTemp), (std::vector<std::wstring>{L"a.txt", L"b.txt"}));
    // Just after b's record: header and content of a and b, then c's record begins.
    const uint64_t cRecord = readFile(probe).size() - (8 + 1);
    EXPECT_EQ(field(result.output, "unextractedPosition"), std::to_string(cRecord));

    // Fewer names than the count: extraction ends with the last name. Empty names read no record.
    Payload fewerNames = withFiles({{"a.txt", "aaaa"}, {"b.txt", "bb"}});
    fewerNames.setString(2002, "5");
    fewerNames.setString(2003, ";a.txt;;b.txt;");
    std::wstring fewer = makeProbe(fewerNames, L"fewer.exe");
    ProcessResult fewerResult = run(fewer, L"extract");
    ASSERT_EQ(fewerResult.exitCode, 0u) << fewerResult.output;
    std::wstring fewerTemp = wide(field(fewerResult.output, "appTempDir"));
    EXPECT_EQ(listDirectory(fewerTemp), (std::vector<std::wstring>{L"a.txt", L"b.txt"}));
    EXPECT_EQ(readFile(fewerTemp + L"\\b.txt"), "bb");
    EXPECT_EQ(field(fewerResult.output, "unextractedPosition"), std::to_string(readFile(fewer).size()));
}

TEST_F(ExtractTest, AFatalExitRemovesTheDirectoryAndItsContents) {
    std::wstring probe = makeProbe(withFiles({{"a.txt", "a"}, {"lib\\b.jar", "b"}}));
    ProcessResult result = run(probe, L"extract fatal");
    EXPECT_EQ(result.exitCode, 1u);
    ASSERT_NE(field(result.output, "appTempDir"), "");
    EXPECT_FALSE(pathExists(wide(field(result.output, "appTempDir"))));
    EXPECT_TRUE(tmpEntries(L".*_dir.*").empty());
    // The marker file is not the launcher's to remove.
    EXPECT_EQ(tmpEntries(L"mrx[0-9A-F]+\\.tmp").size(), 1u);
}

TEST_F(ExtractTest, FilesThatCannotBeCreatedEndWithCode11AndLeaveNothing) {
    // Only one directory level is created, so a second level cannot hold the file; a ".." part would
    // write outside the directory and is refused the same way.
    for (const char* name : {"lib\\sub\\c.jar", "..\\outside.txt", "lib\\..\\..\\outside.txt"}) {
        std::wstring probe = makeProbe(withFiles({{"a.txt", "a"}, {name, "c"}}));
        ProcessResult result = run(probe, L"extract", {{L"MORIX_LOG", std::nullopt}});
        EXPECT_EQ(result.exitCode, 1u) << name;
        EXPECT_EQ(result.output, "Internal failure 11.\n") << name;
        EXPECT_TRUE(tmpEntries(L".*_dir.*").empty()) << name;
        EXPECT_FALSE(pathExists(tmp_ + L"\\outside.txt")) << name;
        EXPECT_FALSE(pathExists(dir_.file(L"outside.txt"))) << name;
    }
}

TEST_F(ExtractTest, ACutRecordFailsTheRun) {
    // The last record claims 100 bytes but the file ends after 40: the copy fails, the run ends with 16.
    Payload p = withFiles({{"a.txt", "a"}, {"big.bin", std::string(100, 'x')}});
    std::string bytes = morix::payload::serialize(p);
    std::wstring cut = dir_.file(L"cut.exe");
    writeLauncherBytes(cut, bytes.substr(0, bytes.size() - 60), binFile(L"morix-probe.exe"));
    ProcessResult result = run(cut, L"extract");
    EXPECT_EQ(result.exitCode, 1u);
    EXPECT_TRUE(result.output.starts_with("Internal failure 16.")) << result.output;
    std::string logText = log();
    EXPECT_TRUE(contains(logText, "ERROR: ReadFile failed 0 ")) << logText;
    EXPECT_TRUE(contains(logText, "ERROR: Failed to extract ")) << logText;
    EXPECT_TRUE(tmpEntries(L".*_dir.*").empty());

    // A record cut inside its size field is a damaged payload.
    std::wstring cutSize = dir_.file(L"cutsize.exe");
    writeLauncherBytes(cutSize, bytes.substr(0, bytes.size() - 104), binFile(L"morix-probe.exe"));
    ProcessResult sizeResult = run(cutSize, L"extract", {{L"MORIX_LOG", std::nullopt}});
    EXPECT_EQ(sizeResult.exitCode, 1u);
    EXPECT_EQ(sizeResult.output, "Internal Error: readLong\n");
}

TEST_F(ExtractTest, ATemporaryDirectoryThatCannotBeCreatedEndsWithCode7) {
    // A temporary root so deep that the root's own write probe still fits the narrow path limit (260)
    // but the launcher's directory name ("mrx" + number + ".tmp_dir" + seconds) no longer does.
    std::wstring root = tmp_;
    while (root.size() < 240) {
        root += L"\\" + std::wstring(std::min<size_t>(239 - root.size(), 60), L'd');
        createDirectory(root);
    }
    ASSERT_EQ(root.size(), 240u);
    std::wstring probe = makeProbe(withFiles({{"a.txt", "a"}}));
    ProcessResult result = run(probe, L"extract", {{L"TMP", root}, {L"TEMP", root}});
    EXPECT_EQ(result.exitCode, 1u);
    EXPECT_TRUE(result.output.starts_with("Internal failure 7.")) << result.output;
    std::string logText = readLog(root);
    EXPECT_TRUE(contains(logText, "Could not create dir (206)")) << logText;
    // Ten attempts, each with a marker file of its own.
    size_t markers = 0;
    for (const std::wstring& name : listDirectory(root)) {
        markers += name.starts_with(L"mrx") ? 1 : 0;
    }
    EXPECT_EQ(markers, 10u);
}
