// advapi32 bound at first use, so the executable's import table never names it.
#include "advapi_binding.h"

AdvapiBinding g_advapi = {NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, LookupAdvapiFunction};

AdvapiFunction LookupAdvapiFunction(LPCSTR pszName)
{
    // advapi32 is a known DLL: the loader takes it from the system directory.
    static HMODULE s_hAdvapi;
    static bool s_loadTried;
    if (!s_loadTried) {
        s_loadTried = true;
        s_hAdvapi = LoadLibraryW(L"advapi32.dll");
    }
    if (s_hAdvapi == NULL)
        return NULL;
    return reinterpret_cast<AdvapiFunction>(GetProcAddress(s_hAdvapi, pszName));
}

static AdvapiFunction Lookup(LPCSTR pszName)
{
    return g_advapi.pfnLookup != NULL ? g_advapi.pfnLookup(pszName) : NULL;
}

LONG LazyRegOpenKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD ulOptions, REGSAM samDesired, PHKEY phkResult)
{
    if (g_advapi.pfnRegOpenKeyExW == NULL)
        g_advapi.pfnRegOpenKeyExW = reinterpret_cast<RegOpenKeyExWProc>(Lookup("RegOpenKeyExW"));
    if (g_advapi.pfnRegOpenKeyExW == NULL)
        return ERROR_PROC_NOT_FOUND;
    return g_advapi.pfnRegOpenKeyExW(hKey, lpSubKey, ulOptions, samDesired, phkResult);
}

LONG LazyRegQueryValueExW(
    HKEY hKey, LPCWSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData)
{
    if (g_advapi.pfnRegQueryValueExW == NULL)
        g_advapi.pfnRegQueryValueExW = reinterpret_cast<RegQueryValueExWProc>(Lookup("RegQueryValueExW"));
    if (g_advapi.pfnRegQueryValueExW == NULL)
        return ERROR_PROC_NOT_FOUND;
    return g_advapi.pfnRegQueryValueExW(hKey, lpValueName, lpReserved, lpType, lpData, lpcbData);
}

LONG LazyRegSetValueExW(HKEY hKey, LPCWSTR lpValueName, DWORD Reserved, DWORD dwType, const BYTE *lpData, DWORD cbData)
{
    if (g_advapi.pfnRegSetValueExW == NULL)
        g_advapi.pfnRegSetValueExW = reinterpret_cast<RegSetValueExWProc>(Lookup("RegSetValueExW"));
    if (g_advapi.pfnRegSetValueExW == NULL)
        return ERROR_PROC_NOT_FOUND;
    return g_advapi.pfnRegSetValueExW(hKey, lpValueName, Reserved, dwType, lpData, cbData);
}

LONG LazyRegCloseKey(HKEY hKey)
{
    if (g_advapi.pfnRegCloseKey == NULL)
        g_advapi.pfnRegCloseKey = reinterpret_cast<RegCloseKeyProc>(Lookup("RegCloseKey"));
    if (g_advapi.pfnRegCloseKey == NULL)
        return ERROR_PROC_NOT_FOUND;
    return g_advapi.pfnRegCloseKey(hKey);
}

// The token functions report failure through the last-error code, which
// RestartSystem judges: a missing function must leave a non-zero one.
BOOL LazyOpenProcessToken(HANDLE ProcessHandle, DWORD DesiredAccess, PHANDLE TokenHandle)
{
    if (g_advapi.pfnOpenProcessToken == NULL)
        g_advapi.pfnOpenProcessToken = reinterpret_cast<OpenProcessTokenProc>(Lookup("OpenProcessToken"));
    if (g_advapi.pfnOpenProcessToken == NULL) {
        SetLastError(ERROR_PROC_NOT_FOUND);
        return FALSE;
    }
    return g_advapi.pfnOpenProcessToken(ProcessHandle, DesiredAccess, TokenHandle);
}

BOOL LazyLookupPrivilegeValueW(LPCWSTR lpSystemName, LPCWSTR lpName, PLUID lpLuid)
{
    if (g_advapi.pfnLookupPrivilegeValueW == NULL)
        g_advapi.pfnLookupPrivilegeValueW =
            reinterpret_cast<LookupPrivilegeValueWProc>(Lookup("LookupPrivilegeValueW"));
    if (g_advapi.pfnLookupPrivilegeValueW == NULL) {
        SetLastError(ERROR_PROC_NOT_FOUND);
        return FALSE;
    }
    return g_advapi.pfnLookupPrivilegeValueW(lpSystemName, lpName, lpLuid);
}

BOOL LazyAdjustTokenPrivileges(HANDLE TokenHandle,
                               BOOL DisableAllPrivileges,
                               PTOKEN_PRIVILEGES NewState,
                               DWORD BufferLength,
                               PTOKEN_PRIVILEGES PreviousState,
                               PDWORD ReturnLength)
{
    if (g_advapi.pfnAdjustTokenPrivileges == NULL)
        g_advapi.pfnAdjustTokenPrivileges =
            reinterpret_cast<AdjustTokenPrivilegesProc>(Lookup("AdjustTokenPrivileges"));
    if (g_advapi.pfnAdjustTokenPrivileges == NULL) {
        SetLastError(ERROR_PROC_NOT_FOUND);
        return FALSE;
    }
    return g_advapi.pfnAdjustTokenPrivileges(
        TokenHandle, DisableAllPrivileges, NewState, BufferLength, PreviousState, ReturnLength);
}

BOOL LazyInitiateSystemShutdownExW(LPWSTR lpMachineName,
                                   LPWSTR lpMessage,
                                   DWORD dwTimeout,
                                   BOOL bForceAppsClosed,
                                   BOOL bRebootAfterShutdown,
                                   DWORD dwReason)
{
    if (g_advapi.pfnInitiateSystemShutdownExW == NULL)
        g_advapi.pfnInitiateSystemShutdownExW =
            reinterpret_cast<InitiateSystemShutdownExWProc>(Lookup("InitiateSystemShutdownExW"));
    if (g_advapi.pfnInitiateSystemShutdownExW == NULL) {
        SetLastError(ERROR_PROC_NOT_FOUND);
        return FALSE;
    }
    return g_advapi.pfnInitiateSystemShutdownExW(
        lpMachineName, lpMessage, dwTimeout, bForceAppsClosed, bRebootAfterShutdown, dwReason);
}
