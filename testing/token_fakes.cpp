// Fakes of the restart's four advapi32 functions.
#include "token_fakes.h"

#include "advapi_binding.h"

TokenSeen g_tokenSeen;
static TokenScript s_script;

static BOOL WINAPI FakeOpenProcessToken(HANDLE hProcess, DWORD dwAccess, PHANDLE phToken)
{
    g_tokenSeen.opens++;
    g_tokenSeen.openAccess = dwAccess;
    // Even a failed open leaves a handle behind, which must not be closed.
    *phToken = g_tokenSeen.hToken = CreateEventW(NULL, FALSE, FALSE, NULL);
    return hProcess == GetCurrentProcess() && s_script.tokenOpens;
}

static BOOL WINAPI FakeLookupPrivilegeValueW(LPCWSTR pszSystem, LPCWSTR pszName, PLUID pLuid)
{
    g_tokenSeen.lookups++;
    g_tokenSeen.lookupArgsRight = pszSystem == NULL && lstrcmpW(pszName, L"SeShutdownPrivilege") == 0;
    if (!s_script.privilegeKnown)
        return FALSE;
    *pLuid = kFakeShutdownLuid;
    return TRUE;
}

static BOOL WINAPI FakeAdjustTokenPrivileges(HANDLE hToken,
                                             BOOL disableAll,
                                             PTOKEN_PRIVILEGES pNew,
                                             DWORD cbBuffer,
                                             PTOKEN_PRIVILEGES pPrevious,
                                             PDWORD pcbReturn)
{
    g_tokenSeen.adjusts++;
    g_tokenSeen.adjustArgsRight = hToken == g_tokenSeen.hToken && !disableAll && pNew->PrivilegeCount == 1 &&
                                  pNew->Privileges[0].Luid.LowPart == kFakeShutdownLuid.LowPart &&
                                  pNew->Privileges[0].Luid.HighPart == kFakeShutdownLuid.HighPart &&
                                  pNew->Privileges[0].Attributes == SE_PRIVILEGE_ENABLED && cbBuffer == 0 &&
                                  pPrevious == NULL && pcbReturn == NULL;
    SetLastError(s_script.adjustError);
    // Like the platform: TRUE even when the privilege was not assigned.
    return s_script.adjustError == ERROR_SUCCESS || s_script.adjustError == ERROR_NOT_ALL_ASSIGNED;
}

static BOOL WINAPI FakeInitiateSystemShutdownExW(
    LPWSTR pszMachine, LPWSTR pszMessage, DWORD dwTimeout, BOOL force, BOOL reboot, DWORD dwReason)
{
    g_tokenSeen.requests++;
    g_tokenSeen.requestMachineNull = pszMachine == NULL;
    g_tokenSeen.requestMessage = pszMessage != NULL ? pszMessage : L"(null)";
    g_tokenSeen.requestTimeout = dwTimeout;
    g_tokenSeen.requestForce = force;
    g_tokenSeen.requestReboot = reboot;
    g_tokenSeen.requestReason = dwReason;
    if (s_script.pfnOnRequest != NULL)
        s_script.pfnOnRequest();
    return s_script.requestAccepted;
}

void InstallTokenFakes(const TokenScript &script)
{
    s_script = script;
    g_tokenSeen = TokenSeen();
    g_advapi.pfnOpenProcessToken = FakeOpenProcessToken;
    g_advapi.pfnLookupPrivilegeValueW = FakeLookupPrivilegeValueW;
    g_advapi.pfnAdjustTokenPrivileges = FakeAdjustTokenPrivileges;
    g_advapi.pfnInitiateSystemShutdownExW = FakeInitiateSystemShutdownExW;
}
