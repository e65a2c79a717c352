// What Windows tells of the session this program runs in, the one session it
// lets a program read: each desktop of each window station with the heap
// size it was created with, and each process with the USER and GDI objects
// it holds, its account and its services, beside the per-process quotas.
// How much of a heap is used is told nowhere. user32 and every other
// function are bound at first use, so the programs still start on Windows
// 2000; what a missing function would read is unknown.
#ifndef MORVANTA_PLATFORM_SESSION_DESKTOPS_H
#define MORVANTA_PLATFORM_SESSION_DESKTOPS_H

#include <windows.h>

#include "advapi_binding.h"
#include "desktop_holders.h"

const size_t kObjectNameChars = 261; // a window station's or desktop's name and its terminator

// One desktop; desktop is empty for a station whose desktops could not be
// listed, and heapKb then holds why.
struct SessionDesktop {
    WCHAR station[kObjectNameChars];
    WCHAR desktop[kObjectNameChars];
    ObjectCount heapKb;
    bool current; // this program's own desktop
};

struct SessionDesktops {
    SessionDesktop *pDesktops; // from the process heap
    size_t count;
    DWORD stationsError; // why no station could be listed, or 0
    DWORD restoreError;  // why the process could not go back to its own station, or 0
};

// This program's own desktop and its heap size, read through its own handles.
void ReadOwnDesktop(SessionDesktop *pDesktop);

// Every desktop of every window station of the session. The process is
// switched to each station in turn, and back to its own before the next
// step; false when memory ran out, with nothing to release.
bool ReadSessionDesktops(SessionDesktops *pDesktops);
void ReleaseSessionDesktops(SessionDesktops *pDesktops);

struct SessionProcesses {
    bool listed; // false: the process list or this process's session could not be had
    DWORD sessionId;
    HolderProcess *pProcesses; // from the process heap
    size_t count;
    size_t notOpened;
    ObjectCount totals[kGuiObjectCounts]; // the session's, Windows 7 and later
    ObjectQuotas quotas;
    bool userQuotaDefault; // the registry names no quota: Windows' default
    bool gdiQuotaDefault;
    DWORD servicesError; // why the services could not be listed, or 0
};

// The processes of this session, with their counts, accounts, logon
// sessions and services, in the order of the process list; false when
// memory ran out, with nothing to release.
bool ReadSessionProcesses(SessionProcesses *pProcesses);
void ReleaseSessionProcesses(SessionProcesses *pProcesses);

typedef BOOL(WINAPI *EnumWindowStationsWProc)(WINSTAENUMPROCW, LPARAM);
typedef HWINSTA(WINAPI *OpenWindowStationWProc)(LPCWSTR, BOOL, ACCESS_MASK);
typedef HWINSTA(WINAPI *GetProcessWindowStationProc)(void);
typedef BOOL(WINAPI *SetProcessWindowStationProc)(HWINSTA);
typedef BOOL(WINAPI *CloseWindowStationProc)(HWINSTA);
typedef BOOL(WINAPI *EnumDesktopsWProc)(HWINSTA, DESKTOPENUMPROCW, LPARAM);
typedef HDESK(WINAPI *OpenDesktopWProc)(LPCWSTR, DWORD, BOOL, ACCESS_MASK);
typedef HDESK(WINAPI *GetThreadDesktopProc)(DWORD);
typedef BOOL(WINAPI *CloseDesktopProc)(HDESK);
typedef BOOL(WINAPI *GetUserObjectInformationWProc)(HANDLE, int, PVOID, DWORD, LPDWORD);
typedef DWORD(WINAPI *GetGuiResourcesProc)(HANDLE, DWORD);
typedef BOOL(WINAPI *GetTokenInformationProc)(HANDLE, TOKEN_INFORMATION_CLASS, LPVOID, DWORD, PDWORD);
typedef BOOL(WINAPI *LookupAccountSidWProc)(LPCWSTR, PSID, LPWSTR, LPDWORD, LPWSTR, LPDWORD, PSID_NAME_USE);
typedef SC_HANDLE(WINAPI *OpenSCManagerWProc)(LPCWSTR, LPCWSTR, DWORD);
typedef BOOL(WINAPI *EnumServicesStatusExWProc)(
    SC_HANDLE, SC_ENUM_TYPE, DWORD, DWORD, LPBYTE, DWORD, LPDWORD, LPDWORD, LPDWORD, LPCWSTR);
typedef BOOL(WINAPI *CloseServiceHandleProc)(SC_HANDLE);
typedef void (*DesktopFunction)(void); // any function, before its own cast
typedef DesktopFunction (*DesktopLookupProc)(LPCWSTR pszModule, LPCSTR pszName);

// The real lookup behind pfnLookup.
DesktopFunction LookupDesktopFunction(LPCWSTR pszModule, LPCSTR pszName);

// The lookup first, then one entry per function, NULL until bound: tests put
// their own window stations, counts, tokens and services here, or their own
// lookup.
struct DesktopBinding {
    DesktopLookupProc pfnLookup = LookupDesktopFunction; // user32 loaded once, advapi32 as the store loads it
    EnumWindowStationsWProc pfnEnumWindowStationsW;
    OpenWindowStationWProc pfnOpenWindowStationW;
    GetProcessWindowStationProc pfnGetProcessWindowStation;
    SetProcessWindowStationProc pfnSetProcessWindowStation;
    CloseWindowStationProc pfnCloseWindowStation;
    EnumDesktopsWProc pfnEnumDesktopsW;
    OpenDesktopWProc pfnOpenDesktopW;
    GetThreadDesktopProc pfnGetThreadDesktop;
    CloseDesktopProc pfnCloseDesktop;
    GetUserObjectInformationWProc pfnGetUserObjectInformationW;
    GetGuiResourcesProc pfnGetGuiResources;
    OpenProcessTokenProc pfnOpenProcessToken;
    GetTokenInformationProc pfnGetTokenInformation;
    LookupAccountSidWProc pfnLookupAccountSidW;
    OpenSCManagerWProc pfnOpenSCManagerW;
    EnumServicesStatusExWProc pfnEnumServicesStatusExW;
    CloseServiceHandleProc pfnCloseServiceHandle;
};
extern DesktopBinding g_desktopApi;

#endif
