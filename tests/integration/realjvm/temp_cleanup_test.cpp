// What real runs leave in the temporary root: nothing, by whatever road they end, while a directory that
// belongs to a running instance is never touched, and what a killed run left goes at the next start.
#include "../launcher_fixture.h"
#include "harness/bridged_runtime.h"

#include "common/handles.h"

#include <algorithm>
#include <cstdio>
#include <sstream>

using namespace morix::test;
using morix::UniqueHandle;
namespace payload = morix::payload;

namespace {

class TempCleanupTest : public LauncherTest {
protected:
    TempCleanupTest() {
        installBridgedRuntime(dir_.file(L"jre"));
        createDirectory(dir_.file(L"lib"));
        for (const wchar_t* jar : {L"morix-runtime.jar", L"launcher-test-app.jar"}) {
            CopyFileW(binFile(jar).c_str(), dir_.file(std::wstring(L"lib\\") + jar).c_str(), FALSE);
        }
        payload::Payload p;
        p.strings = {{128, "A" + narrow(dir_.file(L"jre"))},
                     {121, "A1lib\\morix-runtime.jar;A1lib\\launcher-test-app.jar"},
                     {122, "com.morix.launchertest.ProbeApp"}};
        // A jar that goes on the class path from the temporary directory, and a file one level down.
        p.files = {{"launcher-test-lib.jar", readFile(binFile(L"launcher-test-lib.jar"))},
                   {"conf\\settings.txt", "included"}};
        p.describeIncludedFiles();
        launcher_ = makeLauncher(p);
    }

    ProcessOptions options() const {
        ProcessOptions o;
        o.environment = {{L"TMP", tmp_}, {L"TEMP", tmp_}, {L"MORIX_LOG", L"yes"}};
        return o;
    }

    ProcessResult launch(const std::wstring& arguments) { return run(launcher_, arguments, {}, 120000); }

    // The launcher's entries in the temporary root: markers and directories.
    std::vector<std::wstring> leftovers() const {
        std::vector<std::wstring> found;
        for (const std::wstring& name : listDirectory(tmp_)) {
            if (name.rfind(L"mrx", 0) == 0) {
                found.push_back(name);
            }
        }
        return found;
    }

    // The directory of a run that has just started (the one entry ending in a "_dir" number), or empty.
    std::wstring awaitNewDirectory(const std::vector<std::wstring>& before) {
        std::wstring found;
        waitUntil(60000, [&] {
            for (const std::wstring& name : leftovers()) {
                if (name.find(L"_dir") != std::wstring::npos &&
                    std::find(before.begin(), before.end(), name) == before.end() &&
                    pathExists(tmp_ + L"\\" + name + L"\\conf\\settings.txt")) {
                    found = tmp_ + L"\\" + name;
                    return true;
                }
            }
            return false;
        });
        return found;
    }

    static std::wstring markerOf(const std::wstring& directory) {
        return directory.substr(0, directory.rfind(L"_dir"));
    }

    std::wstring launcher_;
};

// The names one per line, in one order whatever order they come in.
std::string lines(std::vector<std::wstring> names) {
    std::sort(names.begin(), names.end());
    std::string text;
    for (const std::wstring& name : names) {
        text += narrow(name) + "\n";
    }
    return text;
}

void makeOld(const std::wstring& path) {
    UniqueHandle file(CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    ULARGE_INTEGER time{{now.dwLowDateTime, now.dwHighDateTime}};
    time.QuadPart -= 3600ULL * 10000000; // an hour ago
    FILETIME old{time.LowPart, time.HighPart};
    SetFileTime(file.get(), &old, &old, &old);
}

} // namespace

TEST_F(TempCleanupTest, EveryRoadOfARunLeavesNothingInTheTemporaryRoot) {
    const std::pair<std::wstring, DWORD> roads[] = {
        {L"/run greet", 0},
        {L"/run exit=7", 7},
        {L"/run throw-while-busy", 1},
        {L"/run late-marker=300:" + quoteArgument(unixPath(dir_.file(L"late.txt"))), 0},
        {L"/run halt=5", 5},
        {L"/run temp-tree exit=3", 3},
    };
    for (const auto& [arguments, exitCode] : roads) {
        ProcessResult result = launch(arguments);
        EXPECT_EQ(result.exitCode, exitCode) << narrow(arguments) << result.errors;
        EXPECT_EQ(lines(leftovers()), "") << narrow(arguments);
    }
    EXPECT_TRUE(contains(log(), "JVM exits with 7")) << log();
}

TEST_F(TempCleanupTest, AFileStillOpenAtTheEndIsRemovedByTheHelperOnceTheProcessHasEnded) {
    const std::wstring release = dir_.file(L"release");
    RunningProcess running(quoteArgument(launcher_) + L" /run wait-for=" + quoteArgument(unixPath(release)),
                           options());
    const std::wstring directory = awaitNewDirectory({});
    ASSERT_FALSE(directory.empty()) << lines(leftovers());
    // Held as the VM on Windows holds its class path: open, without delete sharing.
    UniqueHandle held(CreateFileW((directory + L"\\conf\\settings.txt").c_str(), GENERIC_READ,
                                  FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(held);
    writeFile(release, "");
    EXPECT_EQ(running.wait(60000).exitCode, 0u);
    EXPECT_TRUE(pathExists(directory + L"\\conf\\settings.txt"));
    EXPECT_FALSE(pathExists(markerOf(directory))); // it goes with its process
    EXPECT_TRUE(contains(log(), "still in use")) << log();
    EXPECT_TRUE(contains(log(), "removes " + narrow(directory) + " after this process")) << log();
    // The helper knows its owner by process id and creation time (a FILETIME of this century).
    const std::string text = log();
    const size_t helper = text.find("__mrx_cleanup ");
    ASSERT_NE(helper, std::string::npos) << text;
    std::istringstream words(text.substr(helper + 14));
    DWORD pid = 0;
    std::string created;
    words >> pid >> created;
    EXPECT_EQ(pid, running.pid());
    EXPECT_EQ(created.size(), 18u) << created;

    held.reset();
    EXPECT_TRUE(waitUntil(10000, [&] { return leftovers().empty(); })) << lines(leftovers());
}

TEST_F(TempCleanupTest, AStartRemovesWhatEndedRunsLeftAndNeverTouchesARunningInstance) {
    // The runtime is validated once (a run killed while it checks the runtime leaves the check's output
    // file, which a start removes only once it is old).
    ASSERT_EQ(launch(L"/run greet").exitCode, 0u);
    // A run that keeps running, and one that is killed: only the directory of the killed one remains.
    const std::wstring release = dir_.file(L"release");
    RunningProcess first(quoteArgument(launcher_) + L" /run wait-for=" + quoteArgument(unixPath(release)),
                         options());
    const std::wstring firstDirectory = awaitNewDirectory({});
    ASSERT_FALSE(firstDirectory.empty());
    std::wstring killedDirectory;
    {
        RunningProcess killed(quoteArgument(launcher_) + L" /run wait-for=" +
                                  quoteArgument(unixPath(dir_.file(L"never"))),
                              options());
        killedDirectory = awaitNewDirectory(leftovers());
        ASSERT_FALSE(killedDirectory.empty());
        TerminateProcess(killed.handle(), 9);
        killed.wait(10000);
    }
    EXPECT_TRUE(pathExists(killedDirectory));
    EXPECT_TRUE(waitUntil(5000, [&] { return !pathExists(markerOf(killedDirectory)); }));

    // Left by a lost run (its signed marker, which nobody holds, and its directory), an old marker alone,
    // a marker that a starting run has just made, a directory of someone else, and the entries of a
    // running launcher built before markers were signed (an empty marker that nobody holds, an hour old).
    const std::wstring lost = tmp_ + L"\\mrxBEEF.tmp_dir100";
    writeFile(tmp_ + L"\\mrxBEEF.tmp", "morix-owner 1\r\n4242\r\n");
    createDirectory(lost);
    createDirectory(lost + L"\\a");
    createDirectory(lost + L"\\a\\b");
    writeFile(lost + L"\\a\\b\\c.txt", "three levels");
    writeFile(tmp_ + L"\\mrxCAFE.tmp", "");
    makeOld(tmp_ + L"\\mrxCAFE.tmp");
    writeFile(tmp_ + L"\\mrxF00D.tmp", "");
    createDirectory(tmp_ + L"\\mrxnotours_dir1");
    writeFile(tmp_ + L"\\mrxD1CE.tmp", "");
    createDirectory(tmp_ + L"\\mrxD1CE.tmp_dir200");
    writeFile(tmp_ + L"\\mrxD1CE.tmp_dir200\\app.jar", "in use by an older launcher");
    makeOld(tmp_ + L"\\mrxD1CE.tmp");

    ProcessResult second = launch(L"/run greet");
    EXPECT_EQ(second.exitCode, 0u) << second.errors;
    EXPECT_EQ(lines(leftovers()),
              lines({markerOf(firstDirectory).substr(tmp_.size() + 1), firstDirectory.substr(tmp_.size() + 1),
                     L"mrxF00D.tmp", L"mrxnotours_dir1", L"mrxD1CE.tmp", L"mrxD1CE.tmp_dir200"}));
    EXPECT_TRUE(pathExists(firstDirectory + L"\\conf\\settings.txt"));
    EXPECT_EQ(readFile(tmp_ + L"\\mrxD1CE.tmp_dir200\\app.jar"), "in use by an older launcher");

    writeFile(release, "");
    EXPECT_EQ(first.wait(60000).exitCode, 0u);
    EXPECT_EQ(lines(leftovers()),
              lines({L"mrxF00D.tmp", L"mrxnotours_dir1", L"mrxD1CE.tmp", L"mrxD1CE.tmp_dir200"}));
}

// 50 launches, by every road in turn (a killed run's directory goes at the next start), leave the
// temporary root as it was.
TEST_F(TempCleanupTest, FiftyLaunchesByEveryRoadLeaveTheTemporaryRootAsItWas) {
    writeFile(tmp_ + L"\\unrelated.txt", "");
    const std::vector<std::wstring> before = listDirectory(tmp_);
    const std::wstring roads[] = {L"/run greet",
                                  L"/run exit=4",
                                  L"/run throw-while-busy",
                                  L"/run halt=6",
                                  L"/run late-marker=100:" + quoteArgument(unixPath(dir_.file(L"late.txt"))),
                                  L"kill"};
    Environment quiet = {{L"MORIX_LOG", std::nullopt}};
    for (int i = 0; i < 50; ++i) {
        const std::wstring& road = roads[i % 6];
        if (road == L"kill") {
            ProcessOptions o = options();
            o.environment.push_back({L"MORIX_LOG", std::nullopt});
            RunningProcess killed(quoteArgument(launcher_) + L" /run wait-for=" +
                                      quoteArgument(unixPath(dir_.file(L"never"))),
                                  o);
            ASSERT_FALSE(awaitNewDirectory(leftovers()).empty());
            TerminateProcess(killed.handle(), 9);
            killed.wait(10000);
            continue;
        }
        ProcessResult result = run(launcher_, road, quiet, 120000);
        ASSERT_FALSE(result.timedOut) << narrow(road);
    }
    const std::vector<std::wstring> after = listDirectory(tmp_);
    std::printf("temporary root: %zu entries before 50 launches, %zu after\n", before.size(), after.size());
    EXPECT_EQ(lines(after), lines(before));
}
