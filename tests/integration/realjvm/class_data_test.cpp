// Application class-data sharing with a real VM: the first run makes the archive, later runs map the
// application's classes from it, a damaged archive never reaches the VM and is made anew, a changed
// archive on the class path gets an archive of its own, and no run leaves anything of its own behind.
#include "../launcher_fixture.h"
#include "harness/bridged_runtime.h"

#include "morix/config_ids.h"

#include <algorithm>

using namespace morix::test;
using morix::UniqueHandle;
namespace payload = morix::payload;
namespace ids = morix::ids;

namespace {

constexpr const char* kMappedFromArchive =
    "com.morix.launchertest.ProbeApp source: shared objects file (top)";

class ClassDataSharingTest : public LauncherTest {
protected:
    ClassDataSharingTest() : local_(dir_.file(L"local")), cache_(local_ + L"\\Morix\\cache") {
        installBridgedRuntime(dir_.file(L"jre"));
        createDirectory(local_);
        createDirectory(dir_.file(L"lib"));
        CopyFileW(binFile(L"launcher-test-lib.jar").c_str(), dir_.file(L"lib\\launcher-test-lib.jar").c_str(),
                  FALSE);
        payload::Payload p;
        p.strings = {{128, "A" + narrow(dir_.file(L"jre"))},
                     {121, "A1lib\\launcher-test-lib.jar"},
                     {122, "com.morix.launchertest.ProbeApp"},
                     {ids::kVmOptions, "-Xlog:class+load=info"},
                     {ids::kClassDataSharing, "1"}};
        // Both archives come from the payload, so that the class path holds their stable copies.
        p.files = {{"morix-runtime.jar", readFile(binFile(L"morix-runtime.jar"))},
                   {"launcher-test-app.jar", readFile(binFile(L"launcher-test-app.jar"))}};
        p.describeIncludedFiles();
        launcher_ = makeLauncher(p);
    }

    ProcessResult launch(const std::wstring& arguments) {
        clearLogs();
        return run(launcher_, arguments, {{L"LOCALAPPDATA", local_}}, 180000);
    }

    std::vector<std::wstring> archives() const {
        std::vector<std::wstring> found;
        for (const std::wstring& name : listDirectory(cache_)) {
            if (name.ends_with(L".jsa") || name.ends_with(L".tmp")) {
                found.push_back(name);
            }
        }
        return found;
    }

    // What runs leave in the temporary root besides their logs: nothing.
    std::vector<std::wstring> leftovers() const {
        std::vector<std::wstring> found;
        for (const std::wstring& name : listDirectory(tmp_)) {
            if (!name.starts_with(L"vrk_nlog_")) {
                found.push_back(name);
            }
        }
        return found;
    }

    std::wstring local_;
    std::wstring cache_;
    std::wstring launcher_;
};

// Overwrites the middle of a file, keeping its size: what a bad sector or a stray write leaves.
void damage(const std::wstring& path) {
    std::string content = readFile(path);
    ASSERT_GT(content.size(), 3000u);
    const auto third = static_cast<std::ptrdiff_t>(content.size() / 3);
    std::fill(content.begin() + third, content.begin() + 2 * third, '\xff');
    writeFile(path, content);
}

} // namespace

TEST_F(ClassDataSharingTest, TheFirstRunMakesTheArchiveAndLaterRunsMapTheApplicationFromIt) {
    ProcessResult first = launch(L"/run print");
    ASSERT_EQ(first.exitCode, 0u) << first.errors << log();
    EXPECT_TRUE(contains(log(), "this run makes")) << log();
    EXPECT_TRUE(contains(log(), "class-data archive made: " + narrow(cache_) + "\\cds-")) << log();
    EXPECT_FALSE(contains(first.output, kMappedFromArchive));
    EXPECT_FALSE(contains(first.output, "[cds")) << first.output; // the VM's notes stay out of the output
    const std::vector<std::wstring> made = archives();
    ASSERT_EQ(made.size(), 1u);
    EXPECT_TRUE(made[0].ends_with(L".jsa"));
    EXPECT_EQ(leftovers(), std::vector<std::wstring>{});

    ProcessResult second = launch(L"/run print");
    ASSERT_EQ(second.exitCode, 0u) << second.errors << log();
    EXPECT_TRUE(contains(log(), "class-data sharing: using " + narrow(cache_ + L"\\" + made[0]))) << log();
    EXPECT_TRUE(contains(second.output, kMappedFromArchive)) << second.output;
    EXPECT_TRUE(contains(second.output, "main done")) << second.output;
    // System.exit ends the run through the exit hook, with the archive still in use and in place.
    ProcessResult exited = launch(L"/run exit=3");
    EXPECT_EQ(exited.exitCode, 3u) << exited.errors << log();
    EXPECT_TRUE(contains(exited.output, kMappedFromArchive)) << exited.output;
    EXPECT_EQ(archives(), made);
    EXPECT_EQ(leftovers(), std::vector<std::wstring>{});
}

TEST_F(ClassDataSharingTest, ADamagedArchiveIsRemovedAndMadeAnewAndAChangedArchiveOnTheClassPathGetsItsOwn) {
    // Made by a run that ends through System.exit.
    ProcessResult first = launch(L"/run exit=0");
    ASSERT_EQ(first.exitCode, 0u) << first.errors << log();
    EXPECT_TRUE(contains(log(), "class-data archive made")) << log();
    std::vector<std::wstring> made = archives();
    ASSERT_EQ(made.size(), 1u);

    // The VM itself would crash on it: the launcher does not hand it over.
    damage(cache_ + L"\\" + made[0]);
    ProcessResult damaged = launch(L"/run print");
    ASSERT_EQ(damaged.exitCode, 0u) << damaged.errors << log();
    EXPECT_TRUE(contains(log(), "is damaged")) << log();
    EXPECT_TRUE(contains(log(), "this run makes")) << log();
    EXPECT_FALSE(contains(damaged.output, kMappedFromArchive));
    EXPECT_TRUE(contains(damaged.output, "main done")) << damaged.output;
    made = archives();
    ASSERT_EQ(made.size(), 1u);
    ProcessResult remade = launch(L"/run print");
    EXPECT_TRUE(contains(remade.output, kMappedFromArchive)) << remade.output << log();

    // A class path archive that changed (a new write time is all the VM checks) needs an archive of its own.
    CopyFileW(binFile(L"launcher-test-lib.jar").c_str(), dir_.file(L"lib\\launcher-test-lib.jar").c_str(),
              FALSE);
    UniqueHandle jar(CreateFileW(dir_.file(L"lib\\launcher-test-lib.jar").c_str(), FILE_WRITE_ATTRIBUTES, 0,
                                 nullptr, OPEN_EXISTING, 0, nullptr));
    FILETIME now{};
    GetSystemTimeAsFileTime(&now);
    ULARGE_INTEGER time{{now.dwLowDateTime, now.dwHighDateTime}};
    time.QuadPart += 20000000; // two seconds on
    const FILETIME later{time.LowPart, time.HighPart};
    SetFileTime(jar.get(), nullptr, nullptr, &later);
    jar.reset();
    ProcessResult changed = launch(L"/run print");
    ASSERT_EQ(changed.exitCode, 0u) << changed.errors << log();
    EXPECT_TRUE(contains(log(), "this run makes")) << log();
    EXPECT_EQ(archives().size(), 2u);
    EXPECT_EQ(leftovers(), std::vector<std::wstring>{});
}
