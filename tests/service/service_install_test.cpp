// What /install registers beyond the name, read back from what Wine's service control manager stores
// under the service's key: the account, the display name, the delayed start and the system's recovery,
// and the refusal of a user account without a password.
#include "service_fixture.h"

#include "morix/config_ids.h"

using namespace morix::test;
using morix::payload::Payload;
namespace ids = morix::ids;

namespace {

Payload named(const std::wstring& name, const char* executableType = "0") {
    Payload p;
    p.setString(ids::kServiceName, narrow(name));
    p.setString(ids::kExecutableType, executableType);
    return p;
}

std::wstring ascii(const std::string& text) {
    return std::wstring(text.begin(), text.end());
}

std::u16string utf16(const std::wstring& text) {
    return std::u16string(text.begin(), text.end());
}

std::string currentUser() {
    wchar_t user[256] = {};
    DWORD size = 256;
    GetUserNameW(user, &size);
    return narrow(user);
}

} // namespace

class ServiceInstallTest : public ServiceTest {};

TEST_F(ServiceInstallTest, WithoutTheNewKeysTheRegistrationIsTheOneOfLocalSystem) {
    const std::wstring name = uniqueName();
    ProcessResult install = run(makeLauncher(named(name, "4")), L"/install");
    EXPECT_EQ(install.output, "Installed service '" + narrow(name) + "'.\n");
    EXPECT_EQ(install.exitCode, 0u);
    EXPECT_EQ(registryText(name, L"ObjectName"), L"LocalSystem");
    EXPECT_EQ(registryText(name, L"DisplayName"), name);
    EXPECT_FALSE(registryHas(name, L"DelayedAutostart"));
    EXPECT_FALSE(registryHas(name, L"FailureActions"));
}

TEST_F(ServiceInstallTest, ABuiltInAccountAndADisplayNameAreStoredAsConfigured) {
    const std::wstring name = uniqueName();
    const std::wstring display = L"Morix Test \u00c9t\u00e9 \u03a9 " + name;
    for (const char* account : {"NetworkService", "localservice"}) {
        Payload p = named(name);
        p.setWideString(ids::kServiceAccount, utf16(ascii(account)));
        p.setWideString(ids::kServiceDisplayName, utf16(display));
        ProcessResult install = run(makeLauncher(p, ascii(account) + L".exe"), L"/install");
        EXPECT_TRUE(contains(install.output, "Installed service '" + narrow(name) + "'.\n"))
            << install.output;
        EXPECT_EQ(install.exitCode, 0u) << install.output;
        const std::wstring expected = std::string(account) == "NetworkService"
                                          ? L"NT AUTHORITY\\NetworkService"
                                          : L"NT AUTHORITY\\LocalService";
        EXPECT_EQ(registryText(name, L"ObjectName"), expected);
        EXPECT_EQ(registryText(name, L"DisplayName"), display);
        EXPECT_FALSE(registryHas(name, L"Password"));
    }
}

TEST_F(ServiceInstallTest, AUserAccountWithoutAPasswordIsRefusedAndTheOldRegistrationStays) {
    const std::wstring name = uniqueName();
    ASSERT_EQ(run(makeLauncher(named(name), L"plain.exe"), L"/install").exitCode, 0u);
    Payload p = named(name);
    p.setWideString(ids::kServiceAccount, u".\\appuser");
    const std::wstring launcher = makeLauncher(p, L"user.exe");
    const std::string refusal =
        "Could not create service.\nReason: the account '.\\appuser' needs a password: ";

    ProcessResult none = run(launcher, L"/install", {{L"MORIX_SERVICE_PASSWORD", std::nullopt}});
    EXPECT_EQ(none.output, refusal + "set the variable MORIX_SERVICE_PASSWORD, or run /install in a console "
                                     "to type it.\n");
    EXPECT_EQ(none.exitCode, 1u);
    ProcessResult empty = run(launcher, L"/install-and-start", {{L"MORIX_SERVICE_PASSWORD", L""}});
    EXPECT_TRUE(contains(empty.output, refusal)) << empty.output;
    ProcessResult tooLong =
        run(launcher, L"/install", {{L"MORIX_SERVICE_PASSWORD", std::wstring(257, L'p')}});
    EXPECT_EQ(tooLong.output,
              refusal + "the variable MORIX_SERVICE_PASSWORD holds more than 256 characters.\n");
    // Nothing was stopped or deleted: the plain registration is still the one of LocalSystem.
    EXPECT_EQ(registryText(name, L"ObjectName"), L"LocalSystem");
    EXPECT_TRUE(contains(narrow(registryText(name, L"ImagePath").value_or(L"")), "plain.exe"));
}

TEST_F(ServiceInstallTest, AUserAccountGetsItsPasswordFromTheVariableAndTheLogOnRight) {
    const std::wstring name = uniqueName();
    const std::string user = ".\\" + currentUser();
    Payload p = named(name);
    p.setWideString(ids::kServiceAccount, utf16(ascii(user)));
    const std::wstring secret = L"s3cr\u00e9t \"quoted\"";
    ProcessResult install = run(makeLauncher(p), L"/install", {{L"MORIX_SERVICE_PASSWORD", secret}});
    EXPECT_EQ(install.output, "Installed service '" + narrow(name) + "'.\n");
    EXPECT_EQ(install.exitCode, 0u);
    EXPECT_EQ(registryText(name, L"ObjectName"), ascii(user));
    EXPECT_FALSE(registryHas(name, L"Password"));
    EXPECT_TRUE(contains(log(), "granted SeServiceLogonRight to '" + user + "'")) << log();
    EXPECT_FALSE(contains(log(), "s3cr")) << "the password never reaches the log";

    // An account that the system does not know: installed, with exactly what to do about the right.
    p.setWideString(ids::kServiceAccount, u".\\nobody-here");
    ProcessResult unknown =
        run(makeLauncher(p, L"unknown.exe"), L"/install", {{L"MORIX_SERVICE_PASSWORD", secret}});
    EXPECT_TRUE(
        contains(unknown.output, "Installed service '" + narrow(name) +
                                     "'.\n"
                                     "Could not give the account '.\\nobody-here' the right to log on as a "
                                     "service.\nReason: " +
                                     systemText(ERROR_NONE_MAPPED) +
                                     " (error 1332). Grant it in Local "
                                     "Security Policy (secpol.msc)"))
        << unknown.output;
    EXPECT_EQ(unknown.exitCode, 1u);
    EXPECT_EQ(registryText(name, L"ObjectName"), L".\\nobody-here");
}

// Wine keeps neither the delayed start nor the failure actions (it refuses the one and accepts the other
// without storing it); Windows keeps both. Either way the install says exactly what it could not set.
TEST_F(ServiceInstallTest, DelayedStartAndRecoveryAreStoredOrTheInstallSaysWhyNot) {
    const std::wstring name = uniqueName();
    Payload p = named(name, "4");
    p.setString(ids::kServiceDelayedStart, "1");
    p.setString(ids::kServiceRecoveryDelay, "60");
    p.setString(ids::kServiceRecoveryReset, "86400");
    p.setString(ids::kServiceRecoveryRestarts, "3");
    ProcessResult install = run(makeLauncher(p), L"/install");
    EXPECT_TRUE(contains(install.output, "Installed service '" + narrow(name) + "'.\n")) << install.output;

    const bool delayed = registryNumber(name, L"DelayedAutostart") == 1u;
    const bool recovery = registryHas(name, L"FailureActions");
    EXPECT_EQ(contains(install.output, "Could not set the delayed start: the service starts automatically "
                                       "without the delay.\nReason: "),
              !delayed)
        << install.output;
    EXPECT_EQ(contains(install.output, "Could not set the system's recovery: Windows will not restart the "
                                       "service when it fails.\nReason: "),
              !recovery)
        << install.output;
    EXPECT_EQ(install.exitCode, delayed && recovery ? 0u : 1u);
    EXPECT_EQ(registryNumber(name, L"Start"), static_cast<DWORD>(SERVICE_AUTO_START));
    if (!delayed) {
        EXPECT_TRUE(contains(install.output, "(error " + std::to_string(ERROR_INVALID_LEVEL) + ")"))
            << install.output;
    }

    // The delay belongs to automatic start: a demand start has none to set, and says nothing about it.
    ProcessResult demand = run(makeLauncher(p, L"demand.exe"), L"/install-demand");
    EXPECT_FALSE(contains(demand.output, "delayed start")) << demand.output;
    EXPECT_EQ(registryNumber(name, L"Start"), static_cast<DWORD>(SERVICE_DEMAND_START));
}

TEST_F(ServiceInstallTest, ANameThatWindowsStillHoldsOrThatIsTakenGivesTheReasonAndTheRemedy) {
    const std::wstring name = uniqueName();
    const std::wstring launcher = makeLauncher(named(name));
    ASSERT_EQ(run(launcher, L"/install").exitCode, 0u);
    // An open handle keeps a deleted service until it is closed, as the Services console does.
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    SC_HANDLE held = OpenServiceW(manager, name.c_str(), SERVICE_ALL_ACCESS);
    ASSERT_TRUE(DeleteService(held));
    ProcessResult install = run(launcher, L"/install");
    CloseServiceHandle(held);
    CloseServiceHandle(manager);
    EXPECT_TRUE(contains(install.output,
                         "Could not create service.\nReason: " + systemText(ERROR_SERVICE_MARKED_FOR_DELETE) +
                             " (error 1072). Windows removes the service once nothing holds it "
                             "open: close the Services console"))
        << install.output;
    EXPECT_EQ(install.exitCode, 1u);

    // A display name that another service already has.
    const std::wstring other = uniqueName(L"-other");
    ASSERT_EQ(run(makeLauncher(named(other), L"other.exe"), L"/install").exitCode, 0u);
    Payload p = named(uniqueName(L"-third"));
    p.setWideString(ids::kServiceDisplayName, utf16(other));
    ProcessResult taken = run(makeLauncher(p, L"third.exe"), L"/install");
    EXPECT_TRUE(contains(taken.output, "Could not create service.\nReason: " +
                                           systemText(ERROR_DUPLICATE_SERVICE_NAME) + " (error 1078)."))
        << taken.output;
    EXPECT_EQ(taken.exitCode, 1u);
}
