// The planned reboot that makes a new heap size take effect.
#include "restart.h"

#include <windows.h>

#include "advapi_binding.h"
#include "program.h"
#include "resource.h"

// Planned, operating system, reconfiguration.
static const DWORD kRestartReason =
    SHTDN_REASON_FLAG_PLANNED | SHTDN_REASON_MAJOR_OPERATINGSYSTEM | SHTDN_REASON_MINOR_RECONFIG;

bool RestartSystem(void)
{
    HANDLE hToken = NULL;
    LUID luidShutdown = {};
    TOKEN_PRIVILEGES privileges = {};
    WCHAR szMessage[kMessageBufferChars] = {};
    bool requested = false;

    if (!LazyOpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES, &hToken))
        return false;

    if (!LazyLookupPrivilegeValueW(NULL, SE_SHUTDOWN_NAME, &luidShutdown))
        goto done;

    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Luid = luidShutdown;
    privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    LazyAdjustTokenPrivileges(hToken, FALSE, &privileges, 0, NULL, NULL);
    // Success can still mean the token does not hold the privilege
    // (ERROR_NOT_ALL_ASSIGNED): only the last-error code tells.
    if (GetLastError() != ERROR_SUCCESS)
        goto done;

    // A text that cannot be loaded leaves the message empty; the reboot still goes ahead.
    LoadStringW(g_hInstance, IDS_RESTART_REASON, szMessage, kMessageBufferChars);
    requested = LazyInitiateSystemShutdownExW(NULL, szMessage, 0, FALSE, TRUE, kRestartReason) != FALSE;

done:
    CloseHandle(hToken);
    return requested;
}
