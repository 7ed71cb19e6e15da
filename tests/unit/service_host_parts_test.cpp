// The service host's restart policy, output log and environment, without a service control manager.
#include "harness/harness.h"

#include "common/handles.h"
#include "config/payload.h"
#include "service/restart_policy.h"
#include "service/service_environment.h"
#include "service/service_log.h"

#include "morix/config_ids.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>

using namespace morix;
using test::readFile;
using test::TestDirectory;

namespace {

RestartPolicy policy(DWORD delayMs, DWORD maxDelayMs, size_t limit, ULONGLONG windowMs) {
    return {delayMs, maxDelayMs, limit, windowMs, {0}};
}

// Every line of the files, counted.
std::map<std::string, int> linesIn(const std::vector<std::wstring>& files) {
    std::map<std::string, int> lines;
    for (const std::wstring& file : files) {
        const std::string text = test::pathExists(file) ? readFile(file) : "";
        size_t start = 0;
        for (size_t end = text.find('\n'); end != std::string::npos; end = text.find('\n', start)) {
            ++lines[text.substr(start, end - start)];
            start = end + 1;
        }
        EXPECT_EQ(start, text.size()) << "a file ends within a line: " << test::narrow(file);
    }
    return lines;
}

class PayloadIds {
public:
    ~PayloadIds() {
        for (int32_t id : ids_) {
            configStrings.erase(id);
            configWideStrings.erase(id);
        }
    }
    void set(int32_t id, const std::string& value) {
        configStrings[id] = value;
        ids_.push_back(id);
    }
    void setWide(int32_t id, const std::wstring& value) {
        configWideStrings[id] = value;
        ids_.push_back(id);
    }

private:
    std::vector<int32_t> ids_;
};

} // namespace

TEST(RestartPolicy, TheDelayDoublesUpToItsMaximumAndTheLimitCountsWithinTheWindow) {
    RestartTracker tracker(policy(1000, 5000, 4, 60000));
    std::vector<DWORD> delays;
    for (ULONGLONG now = 0; now < 4000; now += 1000) {
        const RestartDecision decision = tracker.childEnded(1, now);
        ASSERT_EQ(decision.action, ChildEndAction::Restart);
        EXPECT_EQ(decision.attempt, delays.size() + 1);
        delays.push_back(decision.delayMs);
    }
    EXPECT_EQ(delays, (std::vector<DWORD>{1000, 2000, 4000, 5000}));
    const RestartDecision fifth = tracker.childEnded(1, 4000);
    EXPECT_EQ(fifth.action, ChildEndAction::GiveUp);
    EXPECT_EQ(fifth.attempt, 4u);
    // Once the first restarts have left the window, the child gets restarts again, with shorter delays.
    const RestartDecision later = tracker.childEnded(1, 61500);
    EXPECT_EQ(later.action, ChildEndAction::Restart);
    EXPECT_EQ(later.delayMs, 4000u);
    // A success code ends the service whatever the count.
    EXPECT_EQ(tracker.childEnded(0, 61600).action, ChildEndAction::EndService);

    // A child that could not be started failed, whatever the success codes hold.
    RestartPolicy anyCode = policy(1000, 1000, 1, 60000);
    anyCode.successCodes = {0, 5000};
    RestartTracker unstarted(anyCode);
    EXPECT_EQ(unstarted.childFailed(0).action, ChildEndAction::Restart);
    EXPECT_EQ(unstarted.childFailed(10).action, ChildEndAction::GiveUp);
}

TEST(RestartPolicy, ALimitOfNoneGivesUpAtOnceAndAnEmptyListCountsEveryCodeAsAFailure) {
    RestartTracker never(policy(1000, 1000, 0, 1000));
    EXPECT_EQ(never.childEnded(1, 0).action, ChildEndAction::GiveUp);
    RestartPolicy noSuccess = policy(0, 0, 1, 1000);
    noSuccess.successCodes.clear();
    RestartTracker always(noSuccess);
    EXPECT_EQ(always.childEnded(0, 0).action, ChildEndAction::Restart);
    EXPECT_EQ(always.childEnded(0, 10).action, ChildEndAction::GiveUp);
}

TEST(RestartPolicy, ThePayloadsPolicyIsReadWithItsDefaultsAndABrokenOneIsNotUsed) {
    EXPECT_FALSE(readRestartPolicy());
    PayloadIds ids;
    ids.set(ids::kServiceRestartDelay, "2");
    std::optional<RestartPolicy> read = readRestartPolicy();
    ASSERT_TRUE(read);
    EXPECT_EQ(read->delayMs, 2000u);
    EXPECT_EQ(read->maxDelayMs, 60000u);
    EXPECT_EQ(read->limit, 5u);
    EXPECT_EQ(read->windowMs, 600000u);
    EXPECT_EQ(read->successCodes, std::vector<DWORD>{0});
    ids.set(ids::kServiceRestartSuccessCodes, "0,143");
    EXPECT_EQ(readRestartPolicy()->successCodes, (std::vector<DWORD>{0, 143}));
    ids.set(ids::kServiceRestartLimit, "many");
    EXPECT_FALSE(readRestartPolicy());
}

TEST(ServiceLog, RotationKeepsEveryLineOnceWholeInOneFileAndDropsOnlyPastTheKeptCount) {
    TestDirectory dir;
    const std::wstring logs = dir.file(L"logs");
    ServiceLog log({logs, 1024, 3, false});
    ASSERT_TRUE(log.open());
    // Lines written in pieces that end within lines, as a pipe hands them over.
    std::string all;
    for (int i = 0; i < 200; ++i) {
        all += "line " + std::to_string(i) + " " + std::string(i % 37, 'x') + "\n";
    }
    for (size_t at = 0; at < all.size(); at += 97) {
        log.write(all.data() + at, std::min<size_t>(97, all.size() - at));
    }
    std::vector<std::wstring> files;
    for (int n = 0; n <= 4; ++n) {
        files.push_back(serviceLogFile(logs, n));
    }
    EXPECT_FALSE(test::pathExists(files[4]));
    for (int n = 0; n <= 3; ++n) {
        ASSERT_TRUE(test::pathExists(files[n])) << n;
        EXPECT_LE(readFile(files[n]).size(), 1024u) << n;
    }
    // The newest lines are all there, each once and in order across service.3 .. service.1, service.log.
    const std::string kept =
        readFile(files[3]) + readFile(files[2]) + readFile(files[1]) + readFile(files[0]);
    EXPECT_EQ(all.substr(all.size() - kept.size()), kept);
    for (const auto& [line, count] : linesIn(files)) {
        EXPECT_EQ(count, 1) << line;
    }
}

TEST(ServiceLog, ANewDayRotatesAtALineStartAndAFailedRenameWritesOnToTheSameFile) {
    TestDirectory dir;
    const std::wstring logs = dir.file(L"logs");
    ServiceLog log({logs, 1 << 20, 2, true});
    ASSERT_TRUE(log.open());
    log.write("monday\npartial ", 15, 20261207);
    log.write("end\ntuesday\n", 12, 20261208);
    EXPECT_EQ(readFile(serviceLogFile(logs, 1)), "monday\npartial end\n");
    EXPECT_EQ(readFile(serviceLogFile(logs)), "tuesday\n");

    // service.1.log cannot be moved on while it is open without sharing for deletion: the rotation
    // fails, nothing is overwritten, and the output stays in service.log.
    UniqueHandle held(CreateFileW(serviceLogFile(logs, 1).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(held);
    const std::wstring oldest = serviceLogFile(logs, 2);
    test::writeFile(oldest, "oldest\n");
    UniqueHandle heldOldest(
        CreateFileW(oldest.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    log.write("wednesday\n", 10, 20261209);
    EXPECT_EQ(readFile(serviceLogFile(logs)), "tuesday\nwednesday\n");
    EXPECT_EQ(readFile(serviceLogFile(logs, 1)), "monday\npartial end\n");
    held.reset();
    heldOldest.reset();
    // The next day tries again.
    log.write("thursday\n", 9, 20261210);
    EXPECT_EQ(readFile(serviceLogFile(logs, 1)), "tuesday\nwednesday\n");
    EXPECT_EQ(readFile(serviceLogFile(logs)), "thursday\n");
}

TEST(ServiceLog, AnExistingFileIsAppendedToAndAPlantedHardLinkIsRefused) {
    TestDirectory dir;
    const std::wstring logs = dir.file(L"logs");
    test::createDirectory(logs);
    test::writeFile(serviceLogFile(logs), "before\n");
    {
        ServiceLog log({logs, 1 << 20, 2, false});
        ASSERT_TRUE(log.open());
        log.write("after\n", 6);
    }
    EXPECT_EQ(readFile(serviceLogFile(logs)), "before\nafter\n");

    const std::wstring elsewhere = dir.file(L"precious.txt");
    test::writeFile(elsewhere, "keep\n");
    ASSERT_TRUE(DeleteFileW(serviceLogFile(logs).c_str()));
    if (!CreateHardLinkW(serviceLogFile(logs).c_str(), elsewhere.c_str(), nullptr)) {
        GTEST_SKIP() << "no hard links here";
    }
    ServiceLog planted({logs, 1 << 20, 2, false});
    EXPECT_FALSE(planted.open());
    EXPECT_EQ(readFile(elsewhere), "keep\n");
}

TEST(ServiceEnvironment, EntriesAreSetWithLauncherVariablesExpandedAndNamelessOnesSkipped) {
    EXPECT_EQ(parseServiceEnvironment(L"A=1\n=bad\nB=x=y\nC="),
              (EnvironmentEntries{{L"A", L"1"}, {L"B", L"x=y"}, {L"C", L""}}));
    PayloadIds ids;
    ids.setWide(ids::kServiceEnvironment,
                L"MORIX_TEST_SVC_A=in ${MORIX_TEST_SVC_BASE}\nMORIX_TEST_SVC_B=two");
    SetEnvironmentVariableW(L"MORIX_TEST_SVC_BASE", L"base");
    EXPECT_EQ(applyServiceEnvironment(), 2u);
    wchar_t value[64] = {};
    GetEnvironmentVariableW(L"MORIX_TEST_SVC_A", value, 64);
    EXPECT_STREQ(value, L"in base");
    for (const wchar_t* name : {L"MORIX_TEST_SVC_A", L"MORIX_TEST_SVC_B", L"MORIX_TEST_SVC_BASE"}) {
        SetEnvironmentVariableW(name, nullptr);
    }
}
