// advapi32.dll (the registry and the service control manager), loaded at the first call of one of its
// functions instead of at the start of every process. Under Wine its loading, with the two libraries it
// needs, makes a small console program a quarter slower; the usage line and the cleanup helper use none of
// it, and a run needs it only once it reads the version cache.
//
// The launcher calls these functions as declared in windows.h, through their import slots. This file
// defines those slots itself: each holds a stub that loads the library, puts the real function into the
// slot and calls it, so that later calls go straight to the library. The linker then takes no slot from
// the import library, and the template's import table does not name advapi32.dll (a test checks that).
// A function used without a slot here comes from the import library again, and the test fails.
#include "common/handles.h"

#include <windows.h>

namespace morix {
namespace {

HMODULE advapi32() {
    // A system library: it is taken from the system directory, whatever lies beside the launcher.
    static const HMODULE module = LoadLibraryW(L"advapi32.dll");
    return module;
}

// The real function, stored in its slot; null, with the last error set, when it cannot be had. Two
// threads that get here at once store the same address.
template <typename Function>
Function resolve(const char* name, Function& slot) {
    HMODULE module = advapi32();
    auto function = lookupFunction<Function>(module, name);
    if (function == nullptr) {
        SetLastError(module == nullptr ? ERROR_MOD_NOT_FOUND : ERROR_PROC_NOT_FOUND);
        return nullptr;
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

// One function: its name, its stdcall argument size in bytes, its return type, what it returns when the
// library cannot be had (for the registry an error code, otherwise a null handle or FALSE with the last
// error set), its parameter list and the names of the parameters. The slot's type is the declared one,
// so a stub of another signature or calling convention does not compile.
#define MORIX_LAZY_IMPORT(name, bytes, result, failure, parameters, arguments)                               \
    extern "C" decltype(&::name) morixImport_##name asm(MORIX_IMPORT_SLOT(name, bytes));                     \
    namespace {                                                                                              \
    result WINAPI lazy_##name parameters {                                                                   \
        auto function = morix::resolve(#name, morixImport_##name);                                           \
        return function != nullptr ? function arguments : failure;                                           \
    }                                                                                                        \
    }                                                                                                        \
    decltype(&::name) morixImport_##name = lazy_##name;

// The registry.
MORIX_LAZY_IMPORT(RegCloseKey, 4, LSTATUS, ERROR_MOD_NOT_FOUND, (HKEY key), (key))
MORIX_LAZY_IMPORT(RegCreateKeyExA, 36, LSTATUS, ERROR_MOD_NOT_FOUND,
                  (HKEY key, LPCSTR subKey, DWORD reserved, LPSTR keyClass, DWORD options, REGSAM access,
                   LPSECURITY_ATTRIBUTES security, PHKEY result, LPDWORD disposition),
                  (key, subKey, reserved, keyClass, options, access, security, result, disposition))
MORIX_LAZY_IMPORT(RegEnumKeyExA, 32, LSTATUS, ERROR_MOD_NOT_FOUND,
                  (HKEY key, DWORD index, LPSTR name, LPDWORD nameSize, LPDWORD reserved, LPSTR keyClass,
                   LPDWORD classSize, PFILETIME lastWrite),
                  (key, index, name, nameSize, reserved, keyClass, classSize, lastWrite))
MORIX_LAZY_IMPORT(RegOpenKeyExA, 20, LSTATUS, ERROR_MOD_NOT_FOUND,
                  (HKEY key, LPCSTR subKey, DWORD options, REGSAM access, PHKEY result),
                  (key, subKey, options, access, result))
MORIX_LAZY_IMPORT(RegQueryValueExA, 24, LSTATUS, ERROR_MOD_NOT_FOUND,
                  (HKEY key, LPCSTR name, LPDWORD reserved, LPDWORD type, LPBYTE data, LPDWORD size),
                  (key, name, reserved, type, data, size))
MORIX_LAZY_IMPORT(RegQueryValueExW, 24, LSTATUS, ERROR_MOD_NOT_FOUND,
                  (HKEY key, LPCWSTR name, LPDWORD reserved, LPDWORD type, LPBYTE data, LPDWORD size),
                  (key, name, reserved, type, data, size))
MORIX_LAZY_IMPORT(RegSetValueExA, 24, LSTATUS, ERROR_MOD_NOT_FOUND,
                  (HKEY key, LPCSTR name, DWORD reserved, DWORD type, const BYTE* data, DWORD size),
                  (key, name, reserved, type, data, size))

// The service control manager.
MORIX_LAZY_IMPORT(CloseServiceHandle, 4, BOOL, FALSE, (SC_HANDLE handle), (handle))
MORIX_LAZY_IMPORT(ControlService, 12, BOOL, FALSE,
                  (SC_HANDLE service, DWORD control, LPSERVICE_STATUS status), (service, control, status))
MORIX_LAZY_IMPORT(CreateServiceW, 52, SC_HANDLE, nullptr,
                  (SC_HANDLE manager, LPCWSTR name, LPCWSTR displayName, DWORD access, DWORD serviceType,
                   DWORD startType, DWORD errorControl, LPCWSTR binaryPath, LPCWSTR loadOrderGroup,
                   LPDWORD tagId, LPCWSTR dependencies, LPCWSTR account, LPCWSTR password),
                  (manager, name, displayName, access, serviceType, startType, errorControl, binaryPath,
                   loadOrderGroup, tagId, dependencies, account, password))
MORIX_LAZY_IMPORT(DeleteService, 4, BOOL, FALSE, (SC_HANDLE service), (service))
MORIX_LAZY_IMPORT(OpenSCManagerA, 12, SC_HANDLE, nullptr, (LPCSTR machine, LPCSTR database, DWORD access),
                  (machine, database, access))
MORIX_LAZY_IMPORT(OpenServiceW, 12, SC_HANDLE, nullptr, (SC_HANDLE manager, LPCWSTR name, DWORD access),
                  (manager, name, access))
MORIX_LAZY_IMPORT(QueryServiceConfigA, 16, BOOL, FALSE,
                  (SC_HANDLE service, LPQUERY_SERVICE_CONFIGA config, DWORD size, LPDWORD needed),
                  (service, config, size, needed))
MORIX_LAZY_IMPORT(QueryServiceStatus, 8, BOOL, FALSE, (SC_HANDLE service, LPSERVICE_STATUS status),
                  (service, status))
MORIX_LAZY_IMPORT(RegisterServiceCtrlHandlerW, 8, SERVICE_STATUS_HANDLE, nullptr,
                  (LPCWSTR name, LPHANDLER_FUNCTION handler), (name, handler))
MORIX_LAZY_IMPORT(SetServiceStatus, 8, BOOL, FALSE, (SERVICE_STATUS_HANDLE handle, LPSERVICE_STATUS status),
                  (handle, status))
MORIX_LAZY_IMPORT(StartServiceCtrlDispatcherW, 4, BOOL, FALSE, (const SERVICE_TABLE_ENTRYW* table), (table))
MORIX_LAZY_IMPORT(StartServiceW, 12, BOOL, FALSE, (SC_HANDLE service, DWORD count, LPCWSTR* arguments),
                  (service, count, arguments))
