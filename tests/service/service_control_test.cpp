// The service commands against real registrations: what install registers, the start types, the
// dependencies and the description, and every console line and exit code of the commands.
#include "service_fixture.h"

using namespace morix::test;
using morix::payload::Payload;

namespace {

Payload named(const std::wstring& name, const char* executableType = "0") {
    Payload p;
    p.strings = {{101, narrow(name)}, {107, executableType}};
    return p;
}

struct Registration {
    std::wstring path;
    std::wstring displayName;
    DWORD type = 0;
    DWORD startType = 0;
    std::wstring description;
    bool exists = false;
};

Registration registration(const std::wstring& name) {
    Registration r;
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    SC_HANDLE service = OpenServiceW(manager, name.c_str(), SERVICE_QUERY_CONFIG);
    if (service) {
        r.exists = true;
        std::vector<BYTE> buffer(64 * 1024);
        DWORD needed = 0;
        if (QueryServiceConfigW(service, reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer.data()),
                                static_cast<DWORD>(buffer.size()), &needed)) {
            auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer.data());
            r.path = config->lpBinaryPathName;
            r.displayName = config->lpDisplayName;
            r.type = config->dwServiceType;
            r.startType = config->dwStartType;
        }
        if (QueryServiceConfig2W(service, SERVICE_CONFIG_DESCRIPTION, buffer.data(),
                                 static_cast<DWORD>(buffer.size()), &needed)) {
            auto* description = reinterpret_cast<SERVICE_DESCRIPTIONW*>(buffer.data());
            r.description = description->lpDescription ? description->lpDescription : L"";
        }
        CloseServiceHandle(service);
    }
    CloseServiceHandle(manager);
    return r;
}

std::vector<std::wstring> dependencies(const std::wstring& name) {
    return registryList(name, L"DependOnService");
}

} // namespace

class ServiceControlTest : public ServiceTest {};

TEST_F(ServiceControlTest, InstallRegistersTheQuotedProgramAloneAndUninstallRemovesIt) {
    const std::wstring name = uniqueName();
    const std::wstring launcher = makeLauncher(named(name));
    const std::string n = narrow(name);

    ProcessResult install = run(launcher, L"/install");
    EXPECT_EQ(install.output, "Installed service '" + n + "'.\n");
    EXPECT_EQ(install.exitCode, 0u);
    Registration r = registration(name);
    EXPECT_EQ(r.path, L"\"" + launcher + L"\"");
    EXPECT_EQ(r.displayName, name);
    EXPECT_EQ(r.type, static_cast<DWORD>(SERVICE_WIN32_OWN_PROCESS));
    EXPECT_EQ(r.startType, static_cast<DWORD>(SERVICE_DEMAND_START));
    EXPECT_TRUE(dependencies(name).empty());
    EXPECT_EQ(r.description, L"");

    ProcessResult status = run(launcher, L"/status");
    EXPECT_EQ(status.output, "Not running.\n");
    EXPECT_EQ(status.exitCode, 3u);
    ProcessResult stop = run(launcher, L"/stop");
    EXPECT_EQ(stop.output, "Service is already stopped.\n");
    EXPECT_EQ(stop.exitCode, 0u);

    // The quiet stop of uninstall still reports a service that was not running.
    ProcessResult uninstall = run(launcher, L"/uninstall");
    EXPECT_EQ(uninstall.output, "Service is already stopped.\nUninstalled service '" + n + "'.\n");
    EXPECT_EQ(uninstall.exitCode, 0u);
    EXPECT_TRUE(waitUntil(10000, [&] { return !registration(name).exists; }));
}

// Each failure keeps its message and is followed by one line with the system's reason and the remedy.
TEST_F(ServiceControlTest, CommandsOnAMissingServiceFailWithTheirMessagesAndTheReason) {
    const std::wstring launcher = makeLauncher(named(uniqueName()));
    const std::string reason = "Reason: " + systemText(ERROR_SERVICE_DOES_NOT_EXIST) +
                               " (error 1060). The service is not installed: install it with /install.\n";
    const std::pair<const wchar_t*, const char*> cases[] = {
        {L"/uninstall", "Could not delete service.\n"},
        {L"/stop", "Could not stop service.\n"},
        {L"/start", "Could not start service. Error code: 1060\n"},
        {L"/restart", "Could not start service. Error code: 1060\n"},
        {L"/status", "Could not get status.\n"},
    };
    for (const auto& [command, message] : cases) {
        ProcessResult result = run(launcher, command);
        EXPECT_EQ(result.output, message + reason) << narrow(command);
        EXPECT_EQ(result.exitCode, 1u) << narrow(command);
    }
}

TEST_F(ServiceControlTest, StartTypesFollowTheCommandAndExecutableTypeFour) {
    const std::wstring name = uniqueName();
    const std::string installed = "Installed service '" + narrow(name) + "'.\n";
    const std::wstring automatic = makeLauncher(named(name, "4"), L"auto.exe");
    const std::wstring manual = makeLauncher(named(name, "0"), L"manual.exe");

    EXPECT_EQ(run(automatic, L"/install").output, installed);
    EXPECT_EQ(registration(name).startType, static_cast<DWORD>(SERVICE_AUTO_START));
    for (const wchar_t* status : {L"/status", L"-status", L"--status"}) {
        ProcessResult result = run(automatic, status);
        EXPECT_EQ(result.output, "Not running.\nAuto-start.\n") << narrow(status);
        EXPECT_EQ(result.exitCode, 3u);
    }
    EXPECT_EQ(run(automatic, L"/install-demand").output, "Service is already stopped.\n" + installed);
    EXPECT_EQ(registration(name).startType, static_cast<DWORD>(SERVICE_DEMAND_START));
    EXPECT_EQ(run(automatic, L"/status").output, "Not running.\n");
    run(manual, L"/install-auto");
    EXPECT_EQ(registration(name).startType, static_cast<DWORD>(SERVICE_AUTO_START));
    EXPECT_EQ(registration(name).path, L"\"" + manual + L"\"");
    run(manual, L"/install");
    EXPECT_EQ(registration(name).startType, static_cast<DWORD>(SERVICE_DEMAND_START));
}

TEST_F(ServiceControlTest, DependenciesAreExactlyTheNamedServicesAndTheDescriptionIsOptional) {
    const std::wstring name = uniqueName();
    Payload p = named(name);
    p.setString(149, ",Tcpip,,Afd,");
    p.setWideString(20017, u"Runs the application");
    EXPECT_EQ(run(makeLauncher(p, L"described.exe"), L"/install").exitCode, 0u);
    EXPECT_EQ(dependencies(name), (std::vector<std::wstring>{L"Tcpip", L"Afd"}));
    EXPECT_EQ(registration(name).description, L"Runs the application");

    // Spaces belong to the names; without a description the new registration has none.
    p.setString(149, " Tcpip , Afd");
    p.wideStrings.clear();
    EXPECT_EQ(run(makeLauncher(p, L"plain.exe"), L"/install").exitCode, 0u);
    EXPECT_EQ(dependencies(name), (std::vector<std::wstring>{L" Tcpip ", L" Afd"}));
    EXPECT_EQ(registration(name).description, L"");
}

TEST_F(ServiceControlTest, AProgramPathLongerThanTheConfigBufferStillGivesTheStatus) {
    const std::wstring name = uniqueName();
    const std::wstring launcher = makeLauncher(named(name, "4"));
    run(launcher, L"/install");
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    SC_HANDLE service = OpenServiceW(manager, name.c_str(), SERVICE_CHANGE_CONFIG);
    const std::wstring longPath = L"\"C:\\" + std::wstring(7000, L'p') + L"\\app.exe\"";
    EXPECT_TRUE(ChangeServiceConfigW(service, SERVICE_NO_CHANGE, SERVICE_NO_CHANGE, SERVICE_NO_CHANGE,
                                     longPath.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr));
    CloseServiceHandle(service);
    CloseServiceHandle(manager);
    ProcessResult status = run(launcher, L"/status");
    EXPECT_EQ(status.output, "Not running.\nAuto-start.\n");
    EXPECT_EQ(status.exitCode, 3u);
}

// Messages are 8-bit text: a name is shown in the ANSI code page when the output is a file or pipe, with
// "?" for characters that the code page does not have.
TEST_F(ServiceControlTest, ANameOutsideTheCodePageIsShownWithQuestionMarks) {
    const std::wstring name = uniqueName(L"-caf\u00e9-\u03a9");
    ProcessResult install = run(makeLauncher(named(L"x")), L"/install " + quoteArgument(name));
    std::string shown;
    for (wchar_t c : name) {
        shown += c == L'\u00e9' ? '\xE9' : c < 0x80 ? static_cast<char>(c) : '?';
    }
    EXPECT_EQ(install.output, "Installed service '" + shown + "'.\n");
    EXPECT_TRUE(registration(name).exists);
}
