// advapi32 bound at first use: the library is loaded by the first call of
// any of these and never unloaded; each function is looked up at its own
// first call. When either is missing the wrapper fails the way its callers
// already handle: a registry status, or FALSE with a last-error code.
#ifndef MORVANTA_PLATFORM_ADVAPI_BINDING_H
#define MORVANTA_PLATFORM_ADVAPI_BINDING_H

#include <windows.h>

typedef LONG(WINAPI *RegOpenKeyExWProc)(HKEY, LPCWSTR, DWORD, REGSAM, PHKEY);
typedef LONG(WINAPI *RegQueryValueExWProc)(HKEY, LPCWSTR, LPDWORD, LPDWORD, LPBYTE, LPDWORD);
typedef LONG(WINAPI *RegSetValueExWProc)(HKEY, LPCWSTR, DWORD, DWORD, const BYTE *, DWORD);
typedef LONG(WINAPI *RegCloseKeyProc)(HKEY);
typedef BOOL(WINAPI *OpenProcessTokenProc)(HANDLE, DWORD, PHANDLE);
typedef BOOL(WINAPI *LookupPrivilegeValueWProc)(LPCWSTR, LPCWSTR, PLUID);
typedef BOOL(WINAPI *AdjustTokenPrivilegesProc)(HANDLE, BOOL, PTOKEN_PRIVILEGES, DWORD, PTOKEN_PRIVILEGES, PDWORD);
typedef BOOL(WINAPI *InitiateSystemShutdownExWProc)(LPWSTR, LPWSTR, DWORD, BOOL, BOOL, DWORD);
typedef void (*AdvapiFunction)(void); // any function, before its own cast
typedef AdvapiFunction (*AdvapiLookupProc)(LPCSTR pszName);

// One entry per function, NULL until bound. Tests put their own functions
// here (a fake registry, a recorder instead of the shutdown request) or
// their own lookup, and nothing else writes them.
struct AdvapiBinding {
    RegOpenKeyExWProc pfnRegOpenKeyExW;
    RegQueryValueExWProc pfnRegQueryValueExW;
    RegSetValueExWProc pfnRegSetValueExW;
    RegCloseKeyProc pfnRegCloseKey;
    OpenProcessTokenProc pfnOpenProcessToken;
    LookupPrivilegeValueWProc pfnLookupPrivilegeValueW;
    AdjustTokenPrivilegesProc pfnAdjustTokenPrivileges;
    InitiateSystemShutdownExWProc pfnInitiateSystemShutdownExW;
    AdvapiLookupProc pfnLookup; // loads advapi32 once and finds a function
};
extern AdvapiBinding g_advapi;

// The real lookup behind pfnLookup.
AdvapiFunction LookupAdvapiFunction(LPCSTR pszName);

LONG LazyRegOpenKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD ulOptions, REGSAM samDesired, PHKEY phkResult);
LONG LazyRegQueryValueExW(
    HKEY hKey, LPCWSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData);
LONG LazyRegSetValueExW(HKEY hKey, LPCWSTR lpValueName, DWORD Reserved, DWORD dwType, const BYTE *lpData, DWORD cbData);
LONG LazyRegCloseKey(HKEY hKey);
BOOL LazyOpenProcessToken(HANDLE ProcessHandle, DWORD DesiredAccess, PHANDLE TokenHandle);
BOOL LazyLookupPrivilegeValueW(LPCWSTR lpSystemName, LPCWSTR lpName, PLUID lpLuid);
BOOL LazyAdjustTokenPrivileges(HANDLE TokenHandle,
                               BOOL DisableAllPrivileges,
                               PTOKEN_PRIVILEGES NewState,
                               DWORD BufferLength,
                               PTOKEN_PRIVILEGES PreviousState,
                               PDWORD ReturnLength);
BOOL LazyInitiateSystemShutdownExW(LPWSTR lpMachineName,
                                   LPWSTR lpMessage,
                                   DWORD dwTimeout,
                                   BOOL bForceAppsClosed,
                                   BOOL bRebootAfterShutdown,
                                   DWORD dwReason);

#endif
