#include "service_fixture.h"

#include "common/handles.h"

#include <cstdlib>
#include <cwctype>

namespace morix::test {
namespace {

constexpr const wchar_t* kPriorityKey = L"SOFTWARE\\quarrystone\\morix\\priority";
constexpr const wchar_t* kServicesKey = L"SYSTEM\\CurrentControlSet\\Services\\";

std::wstring directoryOf(const std::wstring& file) {
    return file.substr(0, file.find_last_of(L'\\'));
}

// Ends a process this test started that may still run. A process id alone is no name for it: Wine gives
// a dead process's id to the next processes and threads after a few hundred others (soon, with the
// short id table of a freshly started wineserver), and a stale id then names a launcher of the test
// running beside this one, which ended with exit code 1. So the process is ended through a handle
// opened while it was known to be ours, or only when it runs the expected program.
void endProcess(HANDLE process) {
    if (process && WaitForSingleObject(process, 0) == WAIT_TIMEOUT) {
        TerminateProcess(process, 1);
        WaitForSingleObject(process, 5000);
    }
}

void endProcess(DWORD pid, const std::wstring& image) {
    if (pid == 0) {
        return;
    }
    UniqueHandle process(
        OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
    if (!process) {
        return;
    }
    std::vector<wchar_t> name(32768, L'\0');
    DWORD size = static_cast<DWORD>(name.size());
    if (QueryFullProcessImageNameW(process.get(), 0, name.data(), &size) &&
        CompareStringOrdinal(name.data(), static_cast<int>(size), image.c_str(),
                             static_cast<int>(image.size()), TRUE) == CSTR_EQUAL) {
        endProcess(process.get());
    }
}

} // namespace

std::string systemText(DWORD error) {
    wchar_t buffer[1024] = {};
    DWORD length = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error,
                                  0, buffer, 1024, nullptr);
    std::wstring text(buffer, length);
    while (!text.empty() && (iswspace(text.back()) || text.back() == L'.')) {
        text.pop_back();
    }
    return narrow(text);
}

std::optional<std::wstring> registryText(const std::wstring& name, const wchar_t* value) {
    std::vector<wchar_t> data(4096, L'\0');
    DWORD size = static_cast<DWORD>(data.size() * sizeof(wchar_t));
    if (RegGetValueW(HKEY_LOCAL_MACHINE, (kServicesKey + name).c_str(), value, RRF_RT_REG_SZ, nullptr,
                     data.data(), &size) != ERROR_SUCCESS) {
        return std::nullopt;
    }
    return std::wstring(data.data());
}

std::optional<DWORD> registryNumber(const std::wstring& name, const wchar_t* value) {
    DWORD data = 0;
    DWORD size = sizeof(data);
    if (RegGetValueW(HKEY_LOCAL_MACHINE, (kServicesKey + name).c_str(), value, RRF_RT_REG_DWORD, nullptr,
                     &data, &size) != ERROR_SUCCESS) {
        return std::nullopt;
    }
    return data;
}

std::vector<std::wstring> registryList(const std::wstring& name, const wchar_t* value) {
    std::vector<wchar_t> data(8192, L'\0');
    DWORD size = static_cast<DWORD>(data.size() * sizeof(wchar_t));
    std::vector<std::wstring> names;
    if (RegGetValueW(HKEY_LOCAL_MACHINE, (kServicesKey + name).c_str(), value, RRF_RT_REG_MULTI_SZ, nullptr,
                     data.data(), &size) != ERROR_SUCCESS) {
        return names;
    }
    for (const wchar_t* entry = data.data(); *entry; entry += wcslen(entry) + 1) {
        names.emplace_back(entry);
    }
    return names;
}

bool registryHas(const std::wstring& name, const wchar_t* value) {
    return RegGetValueW(HKEY_LOCAL_MACHINE, (kServicesKey + name).c_str(), value, RRF_RT_ANY, nullptr,
                        nullptr, nullptr) == ERROR_SUCCESS;
}

ServiceTest::~ServiceTest() {
    for (const std::wstring& name : names_) {
        removeService(name);
    }
    // A scripted child that waits for a release file outlives its host: end it too.
    for (const std::wstring& probe : probes_) {
        std::string started = readFile(directoryOf(probe) + L"\\child-started.txt");
        if (size_t pid = started.find("pid="); pid != std::string::npos) {
            endProcess(static_cast<DWORD>(std::strtoul(started.c_str() + pid + 4, nullptr, 10)), probe);
        }
    }
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kPriorityKey, 0, KEY_SET_VALUE, &key) == ERROR_SUCCESS) {
        for (const std::wstring& name : priorityValues_) {
            RegDeleteValueW(key, name.c_str());
        }
        RegCloseKey(key);
    }
}

std::wstring ServiceTest::uniqueName(const std::wstring& tag) {
    const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::wstring name = L"morix-" + wide(info->name()) + tag + L"-" + std::to_wstring(GetCurrentProcessId());
    names_.push_back(name);
    return name;
}

std::wstring ServiceTest::makeServiceProbe(const payload::Payload& payload,
                                           const std::wstring& subdirectory) {
    std::wstring directory = dir_.path();
    if (!subdirectory.empty()) {
        directory = dir_.file(subdirectory);
        createDirectory(directory);
    }
    std::wstring probe = directory + L"\\probe.exe";
    writeLauncher(probe, payload, binFile(L"morix-probe.exe"));
    writeFile(directory + L"\\probe-environment.txt",
              "MORIX_LOG=yes\nTMP=" + narrow(tmp_) + "\nTEMP=" + narrow(tmp_) + "\n");
    probes_.push_back(probe);
    return probe;
}

void ServiceTest::writeScript(const std::wstring& probe, const std::string& script) {
    writeFile(directoryOf(probe) + L"\\child-script.txt", script);
}

std::string ServiceTest::awaitChildFile(const std::wstring& probe, const std::wstring& name,
                                        DWORD timeoutMs) {
    const std::wstring path = directoryOf(probe) + L"\\" + name;
    waitUntil(timeoutMs, [&] { return pathExists(path); });
    return readFile(path);
}

void ServiceTest::forgetChildFiles(const std::wstring& probe) {
    for (const wchar_t* name :
         {L"child-command-line.txt", L"child-started.txt", L"child-wrote.txt", L"child-input.bin",
          L"child-finished.txt", L"child-release", L"host-exit-handlers.txt"}) {
        DeleteFileW((directoryOf(probe) + L"\\" + name).c_str());
    }
}

SERVICE_STATUS_PROCESS ServiceTest::queryStatus(const std::wstring& name) {
    SERVICE_STATUS_PROCESS status{};
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    SC_HANDLE service = manager ? OpenServiceW(manager, name.c_str(), SERVICE_QUERY_STATUS) : nullptr;
    DWORD needed = 0;
    if (service) {
        QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status), sizeof status,
                             &needed);
        CloseServiceHandle(service);
    }
    if (manager) {
        CloseServiceHandle(manager);
    }
    return status;
}

bool ServiceTest::waitForState(const std::wstring& name, DWORD state, DWORD timeoutMs) {
    return waitUntil(timeoutMs, [&] { return queryStatus(name).dwCurrentState == state; });
}

std::string ServiceTest::hostLogs() const {
    std::string logs;
    for (const std::wstring& file : listDirectory(tmp_)) {
        std::string text = readLogFile(tmp_ + L"\\" + file);
        if (contains(text, "] service main\n")) {
            logs += text;
        }
    }
    return logs;
}

std::string ServiceTest::hostLogContaining(const std::string& text) const {
    for (const std::wstring& file : listDirectory(tmp_)) {
        std::string log = readLogFile(tmp_ + L"\\" + file);
        if (contains(log, "] service main\n") && contains(log, text)) {
            return log;
        }
    }
    return {};
}

void ServiceTest::setPriorityValue(const std::wstring& name, DWORD type, const std::string& data) {
    priorityValues_.push_back(name);
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, kPriorityKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key,
                              nullptr),
              ERROR_SUCCESS);
    RegSetValueExW(key, name.c_str(), 0, type, reinterpret_cast<const BYTE*>(data.data()),
                   static_cast<DWORD>(data.size()));
    RegCloseKey(key);
}

void ServiceTest::removeService(const std::wstring& name) {
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    if (!manager) {
        return;
    }
    if (SC_HANDLE service = OpenServiceW(manager, name.c_str(), SERVICE_ALL_ACCESS)) {
        // The host's handle is taken while the service manager reports it running.
        const DWORD hostId = queryStatus(name).dwProcessId;
        UniqueHandle host(hostId == 0 ? nullptr
                                      : OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, hostId));
        SERVICE_STATUS status{};
        if (ControlService(service, SERVICE_CONTROL_STOP, &status)) {
            waitForState(name, SERVICE_STOPPED, 10000);
        }
        endProcess(host.get());
        DeleteService(service);
        CloseServiceHandle(service);
        waitUntil(10000, [&] {
            SC_HANDLE left = OpenServiceW(manager, name.c_str(), SERVICE_QUERY_STATUS);
            if (left) {
                CloseServiceHandle(left);
            }
            return left == nullptr;
        });
    }
    CloseServiceHandle(manager);
}

} // namespace morix::test
