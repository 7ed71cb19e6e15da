// The parts of the service that need no service control manager: the child's command line, the
// dependency list, the shutdown line, the service name in serviceMain, the control handler's failure
// lines and the priority value.
#include "log_tail.h"

#include "config/payload.h"
#include "frame/command_line.h"
#include "frame/process_state.h"
#include "service/service_control.h"
#include "service/service_host.h"

#include <gtest/gtest.h>

using namespace morix;
using morix::test::LogTail;

namespace {

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// Reads a pipe to its end, as the child reads its standard input.
std::string readToEnd(HANDLE pipe) {
    std::string bytes;
    char buffer[64];
    DWORD bytesRead = 0;
    while (bytes.size() < 4096 && ReadFile(pipe, buffer, sizeof buffer, &bytesRead, nullptr) &&
           bytesRead > 0) {
        bytes.append(buffer, bytesRead);
    }
    return bytes;
}

class ConfigValue {
public:
    ConfigValue(int32_t id, const std::string& value) : id_(id) { configStrings[id] = value; }
    ~ConfigValue() { configStrings.erase(id_); }

private:
    int32_t id_;
};

} // namespace

TEST(ChildCommandLine, QuotesEveryArgumentSoThatTheChildsCRuntimeSplitGivesItBack) {
    EXPECT_EQ(buildChildCommandLine({L"C:\\Program Files\\App\\svc.exe"}, L"My Service", {}),
              L"\"C:\\Program Files\\App\\svc.exe\" \"My Service\" __vrk_restart");
    EXPECT_EQ(buildChildCommandLine({L"C:\\app\\svc.exe", L"own"}, L"svc", {L"a", L"b c"}),
              L"C:\\app\\svc.exe svc own a \"b c\" __vrk_restart");
    // Every start parameter can be carried, both quote characters and trailing backslashes included.
    const std::vector<std::wstring> awkward = {L"tab\there",     L"don't",     L"say \"hi\"",    L"",
                                               L"it's \"both\"", L"C:\\dir\\", L"gr\u00fc\u00df"};
    const std::optional<std::wstring> line = buildChildCommandLine({L"C:\\it's\\svc.exe"}, L"svc", awkward);
    ASSERT_TRUE(line);
    ArgumentList expected{L"C:\\it's\\svc.exe", L"svc"};
    expected.insert(expected.end(), awkward.begin(), awkward.end());
    expected.push_back(L"__vrk_restart");
    EXPECT_EQ(morix::splitProcessCommandLine(*line), expected);
}

// The messy lists are shown against real registrations; here the boundaries.
TEST(ServiceDependencies, NoNamesGiveNoListAndTheLongestNameFitsWithBothTerminators) {
    EXPECT_FALSE(getServiceDependencies());
    {
        ConfigValue setting(149, ",,,");
        EXPECT_FALSE(getServiceDependencies());
    }
    ConfigValue setting(149, std::string(5999, 'n'));
    EXPECT_EQ(getServiceDependencies(), std::wstring(5999, L'n') + std::wstring(L"\0\0", 2));
}

TEST(ShutdownChannel, SendsTheLineOnceAndClosesTheWriteEndOnce) {
    UniqueHandle read, write;
    ASSERT_TRUE(CreatePipe(read.receive(), write.receive(), nullptr, 0));
    ShutdownChannel channel;
    channel.open(std::move(write));
    LogTail tail;
    channel.send(0);
    EXPECT_EQ(readToEnd(read.get()), "0\n"); // then the end of input: the write end is closed
    channel.send(0);
    EXPECT_TRUE(contains(tail.text(), "] sending shutdown1 0\n")) << tail.text();
    EXPECT_TRUE(contains(tail.text(), "] ERROR: sending shutdown failed\n")) << tail.text();
    EXPECT_TRUE(contains(tail.text(), "] ERROR: error code 6\n")) << tail.text();
}

TEST(ShutdownChannel, ARequestBeforeThePipeExistsIsSentWhenItOpens) {
    ShutdownChannel channel;
    channel.send(0);
    UniqueHandle read, write;
    ASSERT_TRUE(CreatePipe(read.receive(), write.receive(), nullptr, 0));
    channel.open(std::move(write));
    EXPECT_EQ(readToEnd(read.get()), "0\n");
}

TEST(ServiceMain, TakesTheNameFromTheManagerOrUnknown) {
    std::wstring tooLong(6000, L'n');
    std::wstring longest(5999, L'n');
    std::wstring empty;
    const std::pair<std::vector<LPWSTR>, std::wstring> cases[] = {
        {{}, L"unknown"},
        {{empty.data()}, L"unknown"},
        {{tooLong.data()}, L"unknown"},
        {{longest.data()}, longest},
    };
    for (auto [argv, expected] : cases) {
        LogTail tail;
        // Outside a service the handler cannot be registered: serviceMain returns after naming.
        serviceMain(static_cast<DWORD>(argv.size()), argv.empty() ? nullptr : argv.data());
        EXPECT_EQ(serviceName, expected);
        EXPECT_TRUE(contains(tail.text(), "] service name is '" + test::narrow(expected) + "'\n"));
    }
}

TEST(ServiceControlHandler, ReportsEachRequestAndLogsNumberedFailures) {
    const DWORD checkPoint = serviceStatus.dwCheckPoint;
    LogTail tail;
    serviceControlHandler(SERVICE_CONTROL_INTERROGATE);
    serviceControlHandler(SERVICE_CONTROL_SHUTDOWN);
    serviceControlHandler(SERVICE_CONTROL_STOP);
    const std::string text = tail.text();
    for (const char* line : {"] control handler request 4\n", "] ERROR: SetServiceStatus 3 failed 6\n",
                             "] control handler request 5\n", "] ERROR: SetServiceStatus 1 failed 6\n",
                             "] control handler request 1\n", "] ERROR: SetServiceStatus 2 failed 6\n"}) {
        EXPECT_TRUE(contains(text, line)) << line << "\n" << text;
    }
    EXPECT_EQ(serviceStatus.dwCurrentState, static_cast<DWORD>(SERVICE_STOP_PENDING));
    EXPECT_EQ(serviceStatus.dwCheckPoint, checkPoint + 1);
}

TEST(ServicePriority, OnlyAFourBytePriorityClassIsUsed) {
    const char* key = "SOFTWARE\\quarrystone\\morix\\priority";
    HKEY priorities = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, key, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &priorities,
                              nullptr),
              ERROR_SUCCESS);
    serviceName = L"unit-priority-" + std::to_wstring(GetCurrentProcessId());
    EXPECT_EQ(readServicePriority(), static_cast<DWORD>(NORMAL_PRIORITY_CLASS));
    const std::pair<std::string, DWORD> cases[] = {
        {std::string("\x00\x40\x00\x00", 4), BELOW_NORMAL_PRIORITY_CLASS},
        {std::string("\x80\x00", 2), NORMAL_PRIORITY_CLASS},
        {std::string("\x80\x00\x00\x00\x00", 5), NORMAL_PRIORITY_CLASS},
        // CREATE_SUSPENDED would start a child that never runs.
        {std::string("\x04\x00\x00\x00", 4), NORMAL_PRIORITY_CLASS},
    };
    for (const auto& [data, expected] : cases) {
        RegSetValueExW(priorities, serviceName.c_str(), 0, REG_BINARY,
                       reinterpret_cast<const BYTE*>(data.data()), static_cast<DWORD>(data.size()));
        EXPECT_EQ(readServicePriority(), expected) << data.size();
    }
    RegDeleteValueW(priorities, serviceName.c_str());
    RegCloseKey(priorities);
}

// The host's bound rests on the limit the child's Java side will use: the same value, read the same way.
TEST(ServiceHostStopBound, TheChildsLimitIsTheLastStopTimeoutOptionAsTheJavaSideReadsIt) {
    EXPECT_EQ(childStopTimeoutSeconds({}), 20);
    EXPECT_EQ(childStopTimeoutSeconds({"-Xmx64m", "-Dmorix.stopTimeout=5"}), 5);
    EXPECT_EQ(childStopTimeoutSeconds({"-Dmorix.stopTimeout=5", "-Dmorix.stopTimeout=3600"}), 3600);
    EXPECT_EQ(childStopTimeoutSeconds({"-Dmorix.stopTimeout= 7\t"}), 7);
    EXPECT_EQ(childStopTimeoutSeconds({"-Dmorix.stopTimeout=+9"}), 9);
    for (const char* refused : {"", "0", "-3", "3601", "2.5", "ten", "+", "+-4", "99999999999"}) {
        EXPECT_EQ(childStopTimeoutSeconds(
                      {"-Dmorix.stopTimeout=30", std::string("-Dmorix.stopTimeout=") + refused}),
                  20)
            << refused;
    }
}
