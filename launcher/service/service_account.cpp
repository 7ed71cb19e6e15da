#include "service/service_account.h"

#include "common/handles.h"
#include "common/scope_guard.h"
#include "common/text.h"
#include "config/payload.h"
#include "frame/log.h"
#include "service/service_messages.h"

#include "morix/config_ids.h"
#include "morix/config_values.h"

#include <ntsecapi.h>

#include <iterator>

namespace morix {
namespace {

constexpr wchar_t kServiceLogonRight[] = L"SeServiceLogonRight";

// The whole buffer: characters taken back with Backspace lie beyond the text's end.
void wipe(std::wstring& text) {
    SecureZeroMemory(text.data(), text.capacity() * sizeof(wchar_t));
    text.clear();
}

bool equalsNoCase(std::wstring_view a, std::wstring_view b) {
    return CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(), static_cast<int>(b.size()),
                                TRUE) == CSTR_EQUAL;
}

bool startsWithNoCase(std::wstring_view text, std::wstring_view prefix) {
    return text.size() >= prefix.size() && equalsNoCase(text.substr(0, prefix.size()), prefix);
}

// The policy functions, looked up in advapi32.dll (loaded by the service calls before them).
struct LsaFunctions {
    decltype(&LsaOpenPolicy) open = nullptr;
    decltype(&LsaAddAccountRights) addRights = nullptr;
    decltype(&LsaClose) close = nullptr;
    decltype(&LsaNtStatusToWinError) toWinError = nullptr;

    bool available() const { return open && addRights && close && toWinError; }
};

const LsaFunctions& lsa() {
    static const LsaFunctions functions = [] {
        HMODULE advapi32 = GetModuleHandleA("advapi32.dll");
        LsaFunctions f;
        f.open = lookupFunction<decltype(&LsaOpenPolicy)>(advapi32, "LsaOpenPolicy");
        f.addRights = lookupFunction<decltype(&LsaAddAccountRights)>(advapi32, "LsaAddAccountRights");
        f.close = lookupFunction<decltype(&LsaClose)>(advapi32, "LsaClose");
        f.toWinError = lookupFunction<decltype(&LsaNtStatusToWinError)>(advapi32, "LsaNtStatusToWinError");
        return f;
    }();
    return functions;
}

struct LsaHandleTraits {
    using Type = LSA_HANDLE;
    static Type invalid() { return nullptr; }
    static bool valid(Type h) { return h != nullptr; }
    static void close(Type h) { lsa().close(h); }
};
using UniqueLsaHandle = UniqueResource<LsaHandleTraits>;

enum class Prompt { Typed, NoConsole, NotTyped };

// Reads key presses until Enter, showing nothing; Escape, Ctrl+C or the time limit give up.
Prompt readHiddenLine(HANDLE input, std::wstring& typed) {
    const ULONGLONG deadline = GetTickCount64() + kPasswordPromptTimeoutMs;
    for (;;) {
        const ULONGLONG now = GetTickCount64();
        if (now >= deadline ||
            WaitForSingleObject(input, static_cast<DWORD>(deadline - now)) != WAIT_OBJECT_0) {
            return Prompt::NotTyped;
        }
        INPUT_RECORD record{};
        DWORD count = 0;
        if (!ReadConsoleInputW(input, &record, 1, &count)) {
            logError(L"ReadConsoleInputW failed (%d)", static_cast<int>(GetLastError()));
            return Prompt::NotTyped;
        }
        if (count == 0 || record.EventType != KEY_EVENT || !record.Event.KeyEvent.bKeyDown) {
            continue;
        }
        const wchar_t c = record.Event.KeyEvent.uChar.UnicodeChar;
        if (c == L'\r' || c == L'\n') {
            return Prompt::Typed;
        }
        if (c == 0x1B || c == 0x03) {
            return Prompt::NotTyped;
        }
        if (c == L'\b') {
            if (!typed.empty()) {
                typed.pop_back();
            }
        } else if (c >= L' ' && typed.size() < service_account::kMaxPasswordLength) {
            typed.push_back(c);
        }
    }
}

Prompt passwordFromConsole(const std::wstring& account, std::wstring& password) {
    HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    DWORD mode = 0;
    if (input == nullptr || input == INVALID_HANDLE_VALUE || GetFileType(input) != FILE_TYPE_CHAR ||
        !GetConsoleMode(input, &mode)) {
        return Prompt::NoConsole;
    }
    printText("Password for " + printableText(account) + ": ");
    const Prompt result = readHiddenLine(input, password);
    printText("\n");
    return result;
}

// The password from the variable, which is then removed so that nothing this process starts inherits it.
bool passwordFromVariable(std::wstring& password, bool& tooLong) {
    wchar_t buffer[service_account::kMaxPasswordLength + 2] = {};
    const DWORD length =
        GetEnvironmentVariableW(kPasswordVariable, buffer, static_cast<DWORD>(std::size(buffer)));
    SetEnvironmentVariableW(kPasswordVariable, nullptr);
    tooLong = length > service_account::kMaxPasswordLength;
    if (length > 0 && !tooLong) {
        password.assign(buffer, length);
    }
    SecureZeroMemory(buffer, sizeof(buffer));
    return !password.empty();
}

void refusePassword(const ServiceAccount& account, const char* why) {
    logError(L"no password for the account '%s'", account.name.c_str());
    printText("Could not create service.\n");
    printText("Reason: the account '" + printableText(account.name) + "' needs a password: " + why + "\n");
}

bool readPassword(ServiceAccount& account) {
    bool tooLong = false;
    if (passwordFromVariable(account.password, tooLong)) {
        return true;
    }
    if (tooLong) {
        refusePassword(account, "the variable MORIX_SERVICE_PASSWORD holds more than 256 characters.");
        return false;
    }
    switch (passwordFromConsole(account.name, account.password)) {
    case Prompt::Typed:
        if (!account.password.empty()) {
            return true;
        }
        refusePassword(account, "an empty one was typed.");
        return false;
    case Prompt::NoConsole:
        refusePassword(account, "set the variable MORIX_SERVICE_PASSWORD, or run /install in a console "
                                "to type it.");
        return false;
    case Prompt::NotTyped:
        break;
    }
    refusePassword(account, "none was typed.");
    return false;
}

// ".\user" names an account of this machine; the account lookup wants the machine's name for it.
std::wstring lookupName(const std::wstring& name) {
    wchar_t computer[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD size = static_cast<DWORD>(std::size(computer));
    if (startsWith(name, L".\\") && GetComputerNameW(computer, &size)) {
        return std::wstring(computer, size) + name.substr(1);
    }
    return name;
}

DWORD addLogonRight(const std::wstring& name) {
    const std::wstring lookup = lookupName(name);
    BYTE sid[SECURITY_MAX_SID_SIZE] = {};
    DWORD sidSize = sizeof(sid);
    wchar_t domain[256] = {};
    DWORD domainSize = static_cast<DWORD>(std::size(domain));
    SID_NAME_USE use{};
    if (!LookupAccountNameW(nullptr, lookup.c_str(), sid, &sidSize, domain, &domainSize, &use)) {
        const DWORD error = GetLastError();
        logError(L"LookupAccountNameW '%s' failed (%d)", lookup.c_str(), static_cast<int>(error));
        return error;
    }
    if (!lsa().available()) {
        logError(L"the LSA policy functions are not available");
        return ERROR_PROC_NOT_FOUND;
    }
    LSA_OBJECT_ATTRIBUTES attributes{};
    UniqueLsaHandle policy;
    NTSTATUS status =
        lsa().open(nullptr, &attributes, POLICY_LOOKUP_NAMES | POLICY_CREATE_ACCOUNT, policy.receive());
    if (status != 0) {
        const DWORD error = lsa().toWinError(status);
        logError(L"LsaOpenPolicy failed (%d)", static_cast<int>(error));
        return error;
    }
    std::wstring rightName = kServiceLogonRight;
    const USHORT bytes = static_cast<USHORT>(rightName.size() * sizeof(wchar_t));
    LSA_UNICODE_STRING right{bytes, static_cast<USHORT>(bytes + sizeof(wchar_t)), rightName.data()};
    status = lsa().addRights(policy.get(), sid, &right, 1);
    if (status != 0) {
        const DWORD error = lsa().toWinError(status);
        logError(L"LsaAddAccountRights '%s' %s failed (%d)", lookup.c_str(), kServiceLogonRight,
                 static_cast<int>(error));
        return error;
    }
    return ERROR_SUCCESS;
}

} // namespace

ServiceAccount::~ServiceAccount() {
    wipe(password);
}

ServiceAccount accountForName(const std::wstring& configured) {
    ServiceAccount account;
    if (configured.empty() || equalsNoCase(configured, utf8ToWide(service_account::kLocalSystem))) {
        return account;
    }
    account.kind = AccountKind::BuiltIn;
    if (equalsNoCase(configured, utf8ToWide(service_account::kLocalService))) {
        account.name = L"NT AUTHORITY\\LocalService";
    } else if (equalsNoCase(configured, utf8ToWide(service_account::kNetworkService))) {
        account.name = L"NT AUTHORITY\\NetworkService";
    } else {
        account.name = configured;
        // The system's own accounts, the virtual accounts of services and managed service accounts
        // (their names end in "$") have no password.
        const bool system = startsWithNoCase(configured, L"NT AUTHORITY\\") ||
                            startsWithNoCase(configured, L"NT SERVICE\\") || configured.back() == L'$';
        if (!system) {
            account.kind = AccountKind::User;
        }
    }
    return account;
}

std::optional<ServiceAccount> serviceAccount() {
    std::optional<ServiceAccount> account(
        accountForName(getConfigWideString(ids::kServiceAccount, service_account::kMaxNameLength + 1)));
    if (account->kind == AccountKind::User && !readPassword(*account)) {
        return std::nullopt;
    }
    return account;
}

bool grantServiceLogonRight(const ServiceAccount& account) {
    if (account.kind != AccountKind::User) {
        return true;
    }
    const DWORD error = addLogonRight(account.name);
    if (error == ERROR_SUCCESS) {
        logMessage(L"granted %s to '%s'", kServiceLogonRight, account.name.c_str());
        return true;
    }
    printText("Could not give the account '" + printableText(account.name) +
              "' the right to log on as a service.\n");
    printText(failureReasonLine(
        error, "Grant it in Local Security Policy (secpol.msc): Local Policies, User Rights Assignment, "
               "\"Log on as a service\"; or choose the account again on the service's Log On tab in the "
               "Services console, which grants it."));
    return false;
}

} // namespace morix
