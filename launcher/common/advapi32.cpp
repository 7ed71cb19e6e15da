// advapi32.dll (the registry and the service control manager), loaded at the first call of one of its
// functions instead of at the start of every process. Under Wine its loading, with the two libraries it
// needs, makes a small console program a quarter slower (a run that extracts files, by 5 to 12 ms), and only
// the service commands and the service host need it: the registry functions are taken from kernel32.dll
// where it has them (Windows 7 and later, where advapi32.dll forwards them there; Wine), and the token
// and security descriptor functions from kernelbase.dll (Windows 8 and later; Wine), so a run loads it
// not at all.
//
// The launcher calls these functions as declared in windows.h, through their import slots. This file
// defines those slots itself: each holds a stub that finds the real function, puts it into the slot and
// calls it, so that later calls go straight to it. The linker then takes no slot from the import library,
// and the template's import table does not name advapi32.dll (a test checks that). A function used
// without a slot here comes from the import library again, and the test fails.
#include "common/handles.h"

#include <windows.h>

namespace morix {
namespace {

HMODULE advapi32() {
    // A system library: it is taken from the system directory, whatever lies beside the launcher.
    static const HMODULE module = LoadLibraryW(L"advapi32.dll");
    return module;
}

// The real function, from kernel32.dll or kernelbase.dll first when `inCore` says it may be there (both
// are in every process), stored in its slot; null, with the last error set, when it cannot be had. Two
// threads that get here at once store the same address.
template <typename Function>
Function resolve(const char* name, Function& slot, bool inCore) {
    Function function = nullptr;
    for (const wchar_t* core : {L"kernel32.dll", L"kernelbase.dll"}) {
        if (inCore && function == nullptr) {
            function = lookupFunction<Function>(GetModuleHandleW(core), name);
        }
    }
    if (function == nullptr) {
        HMODULE module = advapi32();
        function = lookupFunction<Function>(module, name);
        if (function == nullptr) {
            SetLastError(module == nullptr ? ERROR_MOD_NOT_FOUND : ERROR_PROC_NOT_FOUND);
            return nullptr;
        }
    }
    InterlockedExchangePointer(reinterpret_cast<void**>(&slot), reinterpret_cast<void*>(function));
    return function;
}

} // namespace
} // namespace morix

// The slot's symbol: 32-bit names carry the leading underscore and the stdcall argument size.
#ifdef _WIN64
#define MORIX_IMPORT_SLOT(name, bytes) "__imp_" #name
#else
#define MORIX_IMPORT_SLOT(name, bytes) "__imp__" #name "@" #bytes
#endif

// One function: its name, its stdcall argument size in bytes, whether kernel32.dll or kernelbase.dll may
// have it, its
// return type, what it returns when it cannot be had (for the registry an error code, otherwise a null
// handle or FALSE with the last error set), its parameter list and the names of the parameters. The
// slot's type is the declared one, so a stub of another signature or calling convention does not compile.
#define MORIX_LAZY_IMPORT(name, bytes, inCore, result, failure, parameters, arguments)                       \
    extern "C" decltype(&::name) morixImport_##name asm(MORIX_IMPORT_SLOT(name, bytes));                     \
    namespace {                                                                                              \
    result WINAPI lazy_##name parameters {                                                                   \
        auto function = morix::resolve(#name, morixImport_##name, inCore);                                   \
        return function != nullptr ? function arguments : failure;                                           \
    }                                                                                                        \
    }                                                                                                        \
    decltype(&::name) morixImport_##name = lazy_##name;

// The registry.
MORIX_LAZY_IMPORT(RegCloseKey, 4, true, LSTATUS, ERROR_MOD_NOT_FOUND, (HKEY key), (key))
MORIX_LAZY_IMPORT(RegCreateKeyExA, 36, true, LSTATUS, ERROR_MOD_NOT_FOUND,
                  (HKEY key, LPCSTR subKey, DWORD reserved, LPSTR keyClass, DWORD options, REGSAM access,
                   LPSECURITY_ATTRIBUTES security, PHKEY result, LPDWORD disposition),
                  (key, subKey, reserved, keyClass, options, access, security, result, disposition))
MORIX_LAZY_IMPORT(RegEnumKeyExA, 32, true, LSTATUS, ERROR_MOD_NOT_FOUND,
                  (HKEY key, DWORD index, LPSTR name, LPDWORD nameSize, LPDWORD reserved, LPSTR keyClass,
                   LPDWORD classSize, PFILETIME lastWrite),
                  (key, index, name, nameSize, reserved, keyClass, classSize, lastWrite))
MORIX_LAZY_IMPORT(RegOpenKeyExA, 20, true, LSTATUS, ERROR_MOD_NOT_FOUND,
                  (HKEY key, LPCSTR subKey, DWORD options, REGSAM access, PHKEY result),
                  (key, subKey, options, access, result))
MORIX_LAZY_IMPORT(RegQueryValueExA, 24, true, LSTATUS, ERROR_MOD_NOT_FOUND,
                  (HKEY key, LPCSTR name, LPDWORD reserved, LPDWORD type, LPBYTE data, LPDWORD size),
                  (key, name, reserved, type, data, size))
MORIX_LAZY_IMPORT(RegQueryValueExW, 24, true, LSTATUS, ERROR_MOD_NOT_FOUND,
                  (HKEY key, LPCWSTR name, LPDWORD reserved, LPDWORD type, LPBYTE data, LPDWORD size),
                  (key, name, reserved, type, data, size))
MORIX_LAZY_IMPORT(RegSetValueExA, 24, true, LSTATUS, ERROR_MOD_NOT_FOUND,
                  (HKEY key, LPCSTR name, DWORD reserved, DWORD type, const BYTE* data, DWORD size),
                  (key, name, reserved, type, data, size))

// The service control manager.
MORIX_LAZY_IMPORT(CloseServiceHandle, 4, false, BOOL, FALSE, (SC_HANDLE handle), (handle))
MORIX_LAZY_IMPORT(ControlService, 12, false, BOOL, FALSE,
                  (SC_HANDLE service, DWORD control, LPSERVICE_STATUS status), (service, control, status))
MORIX_LAZY_IMPORT(CreateServiceW, 52, false, SC_HANDLE, nullptr,
                  (SC_HANDLE manager, LPCWSTR name, LPCWSTR displayName, DWORD access, DWORD serviceType,
                   DWORD startType, DWORD errorControl, LPCWSTR binaryPath, LPCWSTR loadOrderGroup,
                   LPDWORD tagId, LPCWSTR dependencies, LPCWSTR account, LPCWSTR password),
                  (manager, name, displayName, access, serviceType, startType, errorControl, binaryPath,
                   loadOrderGroup, tagId, dependencies, account, password))
MORIX_LAZY_IMPORT(DeleteService, 4, false, BOOL, FALSE, (SC_HANDLE service), (service))
MORIX_LAZY_IMPORT(OpenSCManagerA, 12, false, SC_HANDLE, nullptr,
                  (LPCSTR machine, LPCSTR database, DWORD access), (machine, database, access))
MORIX_LAZY_IMPORT(OpenServiceW, 12, false, SC_HANDLE, nullptr,
                  (SC_HANDLE manager, LPCWSTR name, DWORD access), (manager, name, access))
MORIX_LAZY_IMPORT(QueryServiceConfigA, 16, false, BOOL, FALSE,
                  (SC_HANDLE service, LPQUERY_SERVICE_CONFIGA config, DWORD size, LPDWORD needed),
                  (service, config, size, needed))
MORIX_LAZY_IMPORT(QueryServiceStatus, 8, false, BOOL, FALSE, (SC_HANDLE service, LPSERVICE_STATUS status),
                  (service, status))
MORIX_LAZY_IMPORT(RegisterServiceCtrlHandlerW, 8, false, SERVICE_STATUS_HANDLE, nullptr,
                  (LPCWSTR name, LPHANDLER_FUNCTION handler), (name, handler))
MORIX_LAZY_IMPORT(SetServiceStatus, 8, false, BOOL, FALSE,
                  (SERVICE_STATUS_HANDLE handle, LPSERVICE_STATUS status), (handle, status))
MORIX_LAZY_IMPORT(StartServiceCtrlDispatcherW, 4, false, BOOL, FALSE, (const SERVICE_TABLE_ENTRYW* table),
                  (table))
MORIX_LAZY_IMPORT(StartServiceW, 12, false, BOOL, FALSE, (SC_HANDLE service, DWORD count, LPCWSTR* arguments),
                  (service, count, arguments))

// The account's own identity and the security descriptor of the private directory of a run.
MORIX_LAZY_IMPORT(OpenProcessToken, 12, true, BOOL, FALSE, (HANDLE process, DWORD access, PHANDLE token),
                  (process, access, token))
MORIX_LAZY_IMPORT(GetTokenInformation, 20, true, BOOL, FALSE,
                  (HANDLE token, TOKEN_INFORMATION_CLASS kind, LPVOID information, DWORD size, PDWORD needed),
                  (token, kind, information, size, needed))
MORIX_LAZY_IMPORT(CreateWellKnownSid, 16, true, BOOL, FALSE,
                  (WELL_KNOWN_SID_TYPE type, PSID domain, PSID sid, DWORD* size), (type, domain, sid, size))
MORIX_LAZY_IMPORT(GetLengthSid, 4, true, DWORD, 0, (PSID sid), (sid))
MORIX_LAZY_IMPORT(InitializeAcl, 12, true, BOOL, FALSE, (PACL acl, DWORD size, DWORD revision),
                  (acl, size, revision))
MORIX_LAZY_IMPORT(AddAccessAllowedAceEx, 20, true, BOOL, FALSE,
                  (PACL acl, DWORD revision, DWORD flags, DWORD access, PSID sid),
                  (acl, revision, flags, access, sid))
MORIX_LAZY_IMPORT(InitializeSecurityDescriptor, 8, true, BOOL, FALSE,
                  (PSECURITY_DESCRIPTOR descriptor, DWORD revision), (descriptor, revision))
MORIX_LAZY_IMPORT(SetSecurityDescriptorDacl, 16, true, BOOL, FALSE,
                  (PSECURITY_DESCRIPTOR descriptor, BOOL present, PACL acl, BOOL defaulted),
                  (descriptor, present, acl, defaulted))
MORIX_LAZY_IMPORT(SetSecurityDescriptorControl, 12, true, BOOL, FALSE,
                  (PSECURITY_DESCRIPTOR descriptor, SECURITY_DESCRIPTOR_CONTROL mask,
                   SECURITY_DESCRIPTOR_CONTROL bits),
                  (descriptor, mask, bits))

// The account that /install gives the right to log on as a service. (The LSA functions that grant it are
// declared without an import slot: the service commands look them up at run time.)
MORIX_LAZY_IMPORT(LookupAccountNameW, 28, false, BOOL, FALSE,
                  (LPCWSTR system, LPCWSTR account, PSID sid, LPDWORD sidSize, LPWSTR domain,
                   LPDWORD domainSize, PSID_NAME_USE use),
                  (system, account, sid, sidSize, domain, domainSize, use))
