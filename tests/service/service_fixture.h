// Tests against the real service control manager of the test prefix. Every service has a name of its own
// (test name and process id), and the fixture stops and deletes it, and ends whatever processes it left,
// however the test ends. These tests run one at a time (one ctest resource lock).
#pragma once

#include "launcher_fixture.h"

#include <windows.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace morix::test {

class ServiceTest : public LauncherTest {
protected:
    ~ServiceTest() override;

    // A service name of this test; `tag` tells several apart. Removed at the end of the test.
    std::wstring uniqueName(const std::wstring& tag = L"");

    // The probe with a payload, in the test directory or a subdirectory of it, with the environment that
    // makes it log into this test's directory when the service control manager starts it.
    std::wstring makeServiceProbe(const payload::Payload& payload, const std::wstring& subdirectory = L"");
    // The child's script beside the probe.
    void writeScript(const std::wstring& probe, const std::string& script);
    // A file that the scripted child writes beside the probe, once it exists (empty after the time limit).
    std::string awaitChildFile(const std::wstring& probe, const std::wstring& name, DWORD timeoutMs = 20000);
    void forgetChildFiles(const std::wstring& probe);

    SERVICE_STATUS_PROCESS queryStatus(const std::wstring& name);
    bool waitForState(const std::wstring& name, DWORD state, DWORD timeoutMs = 20000);
    // The text of every diagnostic log in this test's directory that a service host wrote.
    std::string hostLogs() const;
    // The one host log that holds the text, or empty.
    std::string hostLogContaining(const std::string& text) const;

    // Sets the priority value of a service, removed at the end of the test.
    void setPriorityValue(const std::wstring& name, DWORD type, const std::string& data);

private:
    void removeService(const std::wstring& name);

    std::vector<std::wstring> names_;
    std::vector<std::wstring> probes_;
    std::vector<std::wstring> priorityValues_;
};

// The system's text for an error as a reason line gives it: one line, without its final full stop.
std::string systemText(DWORD error);

// A value of the service's own registry key (SYSTEM\CurrentControlSet\Services\<name>), where the
// service control manager keeps the registration: none when it is missing or of another type.
std::optional<std::wstring> registryText(const std::wstring& name, const wchar_t* value);
std::optional<DWORD> registryNumber(const std::wstring& name, const wchar_t* value);
// The bytes "a\0b\0\0" of a REG_MULTI_SZ value as a list, or an empty list when it is missing.
std::vector<std::wstring> registryList(const std::wstring& name, const wchar_t* value);
bool registryHas(const std::wstring& name, const wchar_t* value);

} // namespace morix::test
