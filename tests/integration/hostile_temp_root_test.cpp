// A temporary root that other users can write to: what they plant there (links named like leftovers,
// names that the ANSI functions map onto path separators, links inside a leftover, the hidden cleanup
// argument pointed elsewhere, a marker deleted beside a running instance) never makes a start remove
// anything outside the launcher's own directories, nor the files of an instance that still runs. Every
// start here is a real launcher that extracts a file (and then finds no runtime), so it looks at the
// leftovers of earlier runs first.
#include "launcher_fixture.h"

#include "harness/planted_links.h"

#include <cstdio>
#include <cstdlib>

using namespace morix::test;
namespace payload = morix::payload;

namespace {

constexpr const char* kSignedMarker = "morix-owner 1\r\n4242\r\n";
// What one start may spend on leftovers, as docs/end-of-run.md gives it.
constexpr int kEntryBudget = 1000;

// Sets every time of a file or directory to `hours` hours ago.
void setAge(const std::wstring& path, int hours) {
    HANDLE file = CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE) << narrow(path);
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    ULARGE_INTEGER time{{now.dwLowDateTime, now.dwHighDateTime}};
    time.QuadPart -= static_cast<ULONGLONG>(hours) * 3600 * 10000000;
    const FILETIME old{time.LowPart, time.HighPart};
    EXPECT_TRUE(SetFileTime(file, &old, &old, &old)) << narrow(path);
    CloseHandle(file);
}

size_t countFiles(const std::wstring& directory) {
    return listDirectory(directory).size();
}

class HostileTempRootTest : public LauncherTest {
protected:
    HostileTempRootTest() {
        payload::Payload p;
        p.files = {{"conf\\settings.txt", "included"}};
        p.describeIncludedFiles();
        launcher_ = makeLauncher(p);
        probe_ = makeProbe(p);
        // What other users own: a directory with a file and a subdirectory, and a file on its own.
        victim_ = dir_.file(L"victim");
        createDirectory(victim_);
        createDirectory(victim_ + L"\\sub");
        writeFile(victim_ + L"\\keep.txt", "theirs");
        writeFile(victim_ + L"\\sub\\deep.txt", "theirs too");
        victimFile_ = dir_.file(L"victim.txt");
        writeFile(victimFile_, "their file");
    }

    ~HostileTempRootTest() override {
        for (const std::wstring& link : links_) {
            removeSymbolicLink(link);
        }
    }

    void plant(const std::wstring& link, const std::wstring& target) {
        links_.push_back(link);
        ASSERT_TRUE(plantSymbolicLink(link, target)) << narrow(link);
    }

    // One start: extraction (which first looks at the leftovers), then no runtime.
    ProcessResult start() {
        ProcessResult result = run(launcher_, L"/run");
        EXPECT_EQ(result.exitCode, 1u) << result.output;
        return result;
    }

    void expectVictimIntact() {
        EXPECT_EQ(readFile(victim_ + L"\\keep.txt"), "theirs");
        EXPECT_EQ(readFile(victim_ + L"\\sub\\deep.txt"), "theirs too");
        EXPECT_EQ(readFile(victimFile_), "their file");
    }

    // A leftover of an ended run: its signed marker, which nobody holds, and its directory.
    std::wstring makeLeftover(const std::wstring& name) {
        writeFile(tmp_ + L"\\" + name + L".tmp", kSignedMarker);
        const std::wstring directory = tmp_ + L"\\" + name + L".tmp_dir100";
        createDirectory(directory);
        return directory;
    }

    // The entries that the log's leftover lines say each start touched, in order.
    std::vector<int> entriesTouched() const {
        std::vector<int> touched;
        const std::string text = log();
        const std::string mark = "leftovers: ";
        for (size_t at = text.find(mark); at != std::string::npos; at = text.find(mark, at + 1)) {
            touched.push_back(std::atoi(text.c_str() + at + mark.size()));
        }
        return touched;
    }

    std::wstring launcher_;
    std::wstring probe_;
    std::wstring victim_;
    std::wstring victimFile_;
    std::vector<std::wstring> links_;
};

} // namespace

TEST_F(HostileTempRootTest, LinksNamedLikeALeftoverOrAMarkerAreLeftAloneWithWhatTheyPointAt) {
    plant(tmp_ + L"\\mrx9.tmp_dir9", victim_);
    // A link named like a marker that has lost its directory, old enough to be removed were it a marker.
    setAge(victimFile_, 1);
    plant(tmp_ + L"\\mrx7.tmp", victimFile_);
    // With the signed marker of an ended run beside it, the link looks like that run's directory.
    writeFile(tmp_ + L"\\mrx8.tmp", kSignedMarker);
    plant(tmp_ + L"\\mrx8.tmp_dir8", victim_);

    start();
    expectVictimIntact();
    EXPECT_TRUE(pathExists(tmp_ + L"\\mrx9.tmp_dir9"));
    EXPECT_TRUE(contains(log(), "mrx9.tmp_dir9 is a link or lies outside the temporary root; left alone"))
        << log();
}

// The diagnostic log goes into the same root: a link named like the next log file, even one that points
// at nothing yet, is never written through.
TEST_F(HostileTempRootTest, ALinkNamedLikeTheLogFileIsPassedOver) {
    const std::wstring target = dir_.file(L"made-by-the-launcher.txt");
    // Planted while its target exists, since Windows programs under Wine do not see a link to nothing.
    writeFile(target, "");
    plant(tmp_ + L"\\vrk_nlog_1.log", target);
    ASSERT_TRUE(DeleteFileW(target.c_str()));

    start();
    EXPECT_FALSE(pathExists(target));
    EXPECT_TRUE(contains(readLog(tmp_, 2), "] extracting files\n")) << readLog(tmp_, 2);
}

TEST_F(HostileTempRootTest, ANameThatTheAnsiFunctionsMapOntoSeparatorsStaysInsideTheLeftover) {
    const std::wstring leftover = makeLeftover(L"mrxB1");
    // Fullwidth reverse solidus and full stops: "a\..\..\..\victim" through the ANSI functions' best fit,
    // which from inside the leftover names the victim beside the temporary root.
    const std::wstring bestFit = L"\xFF41\xFF3C\xFF0E\xFF0E\xFF3C\xFF0E\xFF0E\xFF3C\xFF0E\xFF0E\xFF3Cvictim";
    createDirectory(leftover + L"\\" + bestFit);
    writeFile(leftover + L"\\" + bestFit + L"\\inside.txt", "inside");

    start();
    expectVictimIntact();
    EXPECT_FALSE(pathExists(leftover)); // removed with the oddly named directory, and nothing else
}

TEST_F(HostileTempRootTest, ALinkInsideALeftoverIsNeverFollowed) {
    const std::wstring leftover = makeLeftover(L"mrxC2");
    writeFile(leftover + L"\\app.jar", "ours");
    createDirectory(leftover + L"\\lib");
    writeFile(leftover + L"\\lib\\a.jar", "ours");
    plant(leftover + L"\\lib\\data", victim_);
    plant(leftover + L"\\notes.txt", victimFile_);
    // A second name of a read-only file elsewhere: the file's attributes are not this name's to change.
    const std::wstring readOnly = dir_.file(L"read-only.txt");
    writeFile(readOnly, "theirs, read-only");
    SetFileAttributesW(readOnly.c_str(), FILE_ATTRIBUTE_READONLY);
    ASSERT_TRUE(CreateHardLinkW((leftover + L"\\lib\\b.jar").c_str(), readOnly.c_str(), nullptr));

    start();
    expectVictimIntact();
    EXPECT_EQ(readFile(readOnly), "theirs, read-only");
    EXPECT_TRUE(GetFileAttributesW(readOnly.c_str()) & FILE_ATTRIBUTE_READONLY);
    SetFileAttributesW(readOnly.c_str(), FILE_ATTRIBUTE_NORMAL);
    EXPECT_FALSE(pathExists(leftover + L"\\app.jar"));
    EXPECT_FALSE(pathExists(leftover + L"\\lib\\a.jar"));
}

TEST_F(HostileTempRootTest, TheHiddenCleanupArgumentRefusesEverythingButItsOwnLeftovers) {
    // Named like a launcher's directory, but beside the temporary root instead of in it.
    const std::wstring outside = dir_.file(L"mrx5.tmp_dir5");
    createDirectory(outside);
    writeFile(outside + L"\\keep.txt", "theirs");
    plant(tmp_ + L"\\mrx6.tmp_dir6", victim_);
    for (const std::wstring& path : {outside, victim_, tmp_ + L"\\mrx6.tmp_dir6", tmp_ + L"\\..\\victim",
                                     std::wstring(L"mrx5.tmp_dir5")}) {
        ProcessResult helper = run(launcher_, L"__mrx_cleanup 0 0 " + quoteArgument(path));
        EXPECT_EQ(helper.exitCode, 1u) << narrow(path);
    }
    expectVictimIntact();
    EXPECT_EQ(readFile(outside + L"\\keep.txt"), "theirs");

    // Its own kind: a leftover in the root, whose owner (no such process) has ended.
    const std::wstring leftover = makeLeftover(L"mrxD3");
    writeFile(leftover + L"\\x.txt", "ours");
    EXPECT_EQ(run(launcher_, L"__mrx_cleanup 0 0 " + quoteArgument(leftover)).exitCode, 0u);
    EXPECT_FALSE(pathExists(leftover));
}

TEST_F(HostileTempRootTest, FileNamesOutsideTheCodePageAreRemovedWithTheirLeftover) {
    const std::wstring leftover = makeLeftover(L"mrxE4");
    writeFile(leftover + L"\\\x8A2D\x5B9A.xml", "settings");
    createDirectory(leftover + L"\\\x30C7\x30FC\x30BF");
    writeFile(leftover + L"\\\x30C7\x30FC\x30BF\\x.txt", "data");

    start();
    EXPECT_FALSE(pathExists(leftover));
    EXPECT_FALSE(pathExists(tmp_ + L"\\mrxE4.tmp"));
}

TEST_F(HostileTempRootTest, ARunningInstanceKeepsItsFilesWhenItsMarkerIsDeletedBesideIt) {
    const std::wstring ready = dir_.file(L"ready.txt");
    ProcessOptions options;
    options.environment = {{L"TMP", tmp_}, {L"TEMP", tmp_}};
    RunningProcess running(quoteArgument(probe_) + L" guard 120000 " + quoteArgument(ready), options);
    ASSERT_TRUE(waitUntil(30000, [&] { return pathExists(ready); }));
    std::wstring directory;
    for (const std::wstring& name : listDirectory(tmp_)) {
        if (name.rfind(L"mrx", 0) == 0 && name.find(L"_dir") != std::wstring::npos) {
            directory = tmp_ + L"\\" + name;
        }
    }
    ASSERT_FALSE(directory.empty());
    ASSERT_TRUE(deleteBehindItsOwnersBack(directory.substr(0, directory.rfind(L"_dir"))));

    start();
    EXPECT_EQ(readFile(directory + L"\\conf\\settings.txt"), "included");

    // Once the instance has ended, its directory is a leftover like any other.
    TerminateProcess(running.handle(), 9);
    running.wait(10000);
    start();
    EXPECT_FALSE(pathExists(directory));
}

// A launcher built before a run held a file in its directory leaves only the marker beside it: when that
// is gone too, only age tells a lost run from one that goes on.
TEST_F(HostileTempRootTest, ADirectoryWithoutEitherMarkerGoesOnlyWhenItIsOld) {
    const std::wstring young = tmp_ + L"\\mrxF5.tmp_dir100";
    const std::wstring old = tmp_ + L"\\mrxF6.tmp_dir100";
    for (const std::wstring& directory : {young, old}) {
        createDirectory(directory);
        writeFile(directory + L"\\app.jar", "in use by an older launcher, perhaps");
    }
    setAge(young, 24);
    setAge(old, 24 * 31);

    start();
    EXPECT_TRUE(pathExists(young + L"\\app.jar"));
    EXPECT_FALSE(pathExists(old));
}

TEST_F(HostileTempRootTest, ALargeLeftoverCostsEachStartNoMoreThanItsEntryBudget) {
    const std::wstring leftover = makeLeftover(L"mrxA0");
    constexpr size_t kFiles = 1500;
    for (size_t i = 0; i < kFiles; ++i) {
        writeFile(leftover + L"\\f" + std::to_wstring(i) + L".class", "x");
    }

    start();
    ASSERT_EQ(entriesTouched().size(), 1u) << log();
    EXPECT_LE(entriesTouched()[0], kEntryBudget);
    EXPECT_GE(countFiles(leftover), kFiles - kEntryBudget);
    // The next starts go on where it stopped.
    for (int starts = 1; starts < 40 && pathExists(leftover); ++starts) {
        start();
    }
    std::string touchedText;
    for (int touched : entriesTouched()) {
        EXPECT_LE(touched, kEntryBudget);
        touchedText += std::to_string(touched) + " ";
    }
    std::printf("a leftover of %zu files: entries touched per start %s\n", kFiles, touchedText.c_str());
    EXPECT_FALSE(pathExists(leftover))
        << countFiles(leftover) << " files left; entries touched: " << touchedText << "\n"
        << log(static_cast<int>(entriesTouched().size()));
}
