// The account that /install registers the service under, with its password, and the right to log on as
// a service that a user account needs. The password never comes from the configuration: it is read from
// the variable kPasswordVariable, or typed on the console without echo.
#pragma once

#include <windows.h>

#include <optional>
#include <string>

namespace morix {

inline constexpr wchar_t kPasswordVariable[] = L"MORIX_SERVICE_PASSWORD";
// How long /install waits for a password to be typed.
inline constexpr DWORD kPasswordPromptTimeoutMs = 5 * 60 * 1000;

enum class AccountKind {
    LocalSystem, // no account name at all: the default of every registration
    BuiltIn,     // LocalService, NetworkService and other accounts that have no password
    User,        // needs a password and the right to log on as a service
};

struct ServiceAccount {
    AccountKind kind = AccountKind::LocalSystem;
    std::wstring name;     // as the service control manager takes it; empty for LocalSystem
    std::wstring password; // a user account's only
    ServiceAccount() = default;
    ServiceAccount(const ServiceAccount&) = delete;
    ServiceAccount& operator=(const ServiceAccount&) = delete;
    ServiceAccount(ServiceAccount&&) = default;
    ~ServiceAccount();

    const wchar_t* accountName() const { return name.empty() ? nullptr : name.c_str(); }
    const wchar_t* accountPassword() const { return kind == AccountKind::User ? password.c_str() : nullptr; }
};

// The account a configured name stands for (the short names of the built-in accounts become their full
// names); the password is not read here.
ServiceAccount accountForName(const std::wstring& configured);

// The configured account with its password. None, after a message on standard output, when a user
// account has no password: the variable is not set and there is no console to ask on, or none was typed.
std::optional<ServiceAccount> serviceAccount();

// Gives a user account the right to log on as a service, as the Services console does when an account
// is chosen there. Where that fails, prints what the administrator has to do instead and returns false;
// the service stays installed either way.
bool grantServiceLogonRight(const ServiceAccount& account);

} // namespace morix
