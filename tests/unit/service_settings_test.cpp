// What /install derives from the configuration without the service control manager: the account that a
// configured name stands for, the failure actions of the system's recovery, and the reason lines that
// follow a failed service command.
#include "config/payload.h"
#include "service/service_account.h"
#include "service/service_messages.h"
#include "service/service_settings.h"

#include "morix/config_ids.h"

#include <gtest/gtest.h>

using namespace morix;

namespace {

class ConfigValues {
public:
    ConfigValues(std::initializer_list<std::pair<int32_t, std::string>> values) {
        for (const auto& [id, value] : values) {
            configStrings[id] = value;
            ids_.push_back(id);
        }
    }
    ~ConfigValues() {
        for (int32_t id : ids_) {
            configStrings.erase(id);
        }
    }

private:
    std::vector<int32_t> ids_;
};

std::vector<std::pair<DWORD, DWORD>> actionsOf(const RecoveryPlan& plan) {
    std::vector<std::pair<DWORD, DWORD>> actions;
    for (const SC_ACTION& action : plan.actions) {
        actions.emplace_back(static_cast<DWORD>(action.Type), action.Delay);
    }
    return actions;
}

} // namespace

TEST(ServiceAccountName, BuiltInAccountsNeedNoPasswordAndUserAccountsDo) {
    struct Case {
        const wchar_t* configured;
        AccountKind kind;
        const wchar_t* name;
    };
    const Case cases[] = {
        {L"", AccountKind::LocalSystem, L""},
        {L"LocalSystem", AccountKind::LocalSystem, L""},
        {L"localsystem", AccountKind::LocalSystem, L""},
        {L"LocalService", AccountKind::BuiltIn, L"NT AUTHORITY\\LocalService"},
        {L"NETWORKSERVICE", AccountKind::BuiltIn, L"NT AUTHORITY\\NetworkService"},
        {L"NT AUTHORITY\\LocalService", AccountKind::BuiltIn, L"NT AUTHORITY\\LocalService"},
        {L"NT SERVICE\\MyService", AccountKind::BuiltIn, L"NT SERVICE\\MyService"},
        {L"CORP\\app-gmsa$", AccountKind::BuiltIn, L"CORP\\app-gmsa$"},
        {L".\\appuser", AccountKind::User, L".\\appuser"},
        {L"CORP\\appuser", AccountKind::User, L"CORP\\appuser"},
    };
    for (const Case& c : cases) {
        ServiceAccount account = accountForName(c.configured);
        EXPECT_EQ(account.kind, c.kind) << wideToUtf8(c.configured);
        EXPECT_EQ(account.name, c.name) << wideToUtf8(c.configured);
        // Only a user account passes a password on (none has been read yet).
        EXPECT_EQ(account.accountPassword() == nullptr, c.kind != AccountKind::User);
        EXPECT_EQ(account.accountName() == nullptr, c.kind == AccountKind::LocalSystem);
    }
}

TEST(ServiceRecovery, RestartsAsOftenAsConfiguredThenNothingOrOnEveryFailure) {
    EXPECT_FALSE(configuredRecovery()) << "no recovery unless configured";
    {
        ConfigValues values{{ids::kServiceRecoveryDelay, "30"}, {ids::kServiceRecoveryReset, "3600"}};
        std::optional<RecoveryPlan> plan = configuredRecovery();
        ASSERT_TRUE(plan);
        EXPECT_EQ(plan->resetSeconds, 3600u);
        // The system repeats the last action: one restart action covers every failure.
        EXPECT_EQ(actionsOf(*plan), (std::vector<std::pair<DWORD, DWORD>>{{SC_ACTION_RESTART, 30000}}));
    }
    {
        ConfigValues values{{ids::kServiceRecoveryDelay, "5"},
                            {ids::kServiceRecoveryReset, "86400"},
                            {ids::kServiceRecoveryRestarts, "2"}};
        std::optional<RecoveryPlan> plan = configuredRecovery();
        ASSERT_TRUE(plan);
        EXPECT_EQ(actionsOf(*plan),
                  (std::vector<std::pair<DWORD, DWORD>>{
                      {SC_ACTION_RESTART, 5000}, {SC_ACTION_RESTART, 5000}, {SC_ACTION_NONE, 0}}));
    }
    {
        // Values that another tool wrote out of range are bounded, never wrapped.
        ConfigValues values{{ids::kServiceRecoveryDelay, "-7"}, {ids::kServiceRecoveryRestarts, "100000"}};
        std::optional<RecoveryPlan> plan = configuredRecovery();
        ASSERT_TRUE(plan);
        EXPECT_EQ(plan->resetSeconds, 86400u);
        EXPECT_EQ(plan->actions.size(), 101u);
        EXPECT_EQ(plan->actions.front().Delay, 0u);
    }
}

TEST(ServiceFailureReason, TheSystemsTextTheCodeAndTheRemedyOnOneLine) {
    const std::string notInstalled = failureReasonLine(ERROR_SERVICE_DOES_NOT_EXIST);
    const std::string systemText = wideToNarrow(systemErrorText(ERROR_SERVICE_DOES_NOT_EXIST));
    ASSERT_FALSE(systemText.empty());
    EXPECT_EQ(notInstalled, "Reason: " + systemText +
                                " (error 1060). The service is not installed: install it with /install.\n");
    EXPECT_EQ(notInstalled.find('\r'), std::string::npos);
    EXPECT_EQ(notInstalled.find('\n'), notInstalled.size() - 1);

    const std::pair<DWORD, const char*> hints[] = {
        {ERROR_ACCESS_DENIED, "as administrator"},
        {ERROR_SERVICE_MARKED_FOR_DELETE, "close the Services console"},
        {ERROR_SERVICE_ALREADY_RUNNING, "already running"},
        {ERROR_SERVICE_NOT_ACTIVE, "start it with /start"},
        {ERROR_SERVICE_EXISTS, "/uninstall"},
        {ERROR_DUPLICATE_SERVICE_NAME, "display_name"},
        {ERROR_SERVICE_LOGON_FAILED, "log on as a service"},
    };
    for (const auto& [error, hint] : hints) {
        const std::string line = failureReasonLine(error);
        EXPECT_NE(line.find(hint), std::string::npos) << line;
        EXPECT_NE(line.find(" (error " + std::to_string(error) + ")."), std::string::npos) << line;
    }
    // A code without a text of its own still gives its number; a remedy of the caller's replaces the
    // common one.
    EXPECT_EQ(failureReasonLine(0x2FFFFFFF), "Reason: error 805306367.\n");
    EXPECT_EQ(failureReasonLine(0x2FFFFFFF, "Do this."), "Reason: error 805306367. Do this.\n");
}
