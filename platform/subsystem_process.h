// The SharedSection sizes this session runs with: Windows reads them once,
// when the session's subsystem process (csrss.exe in the system directory)
// starts, from its command line; the registry holds those of the next start.
// Everything newer than Windows 2000 and XP, and ntdll's functions, are bound
// at first use: where they are missing the sizes in effect are unknown.
#ifndef MORVANTA_PLATFORM_SUBSYSTEM_PROCESS_H
#define MORVANTA_PLATFORM_SUBSYSTEM_PROCESS_H

#include <windows.h>

#include "heap_size_field.h"

enum InEffectStatus {
    kInEffectRead,            // the sizes were read
    kInEffectNotSupported,    // this Windows lacks a function the reading needs
    kInEffectNotFound,        // no subsystem process in the caller's session
    kInEffectAccessDenied,    // the process, or its command line, refused the access
    kInEffectOtherBitness,    // only its memory holds the command line, and it has another bitness
    kInEffectUnreadable,      // its command line could not be had whole
    kInEffectNoSharedSection, // its command line holds no desktop heap size
};

// The sizes in the command line of the caller's session's subsystem process,
// and that session; on anything but kInEffectRead both are zero, never a guess.
InEffectStatus ReadSizesInEffect(SharedSectionSizes *pSizes, DWORD *pdwSessionId);

typedef LONG(NTAPI *NtQuerySystemInformationProc)(ULONG, PVOID, ULONG, PULONG);
typedef LONG(NTAPI *NtQueryInformationProcessProc)(HANDLE, ULONG, PVOID, ULONG, PULONG);
typedef HANDLE(WINAPI *OpenProcessProc)(DWORD, BOOL, DWORD);
typedef BOOL(WINAPI *QueryFullProcessImageNameWProc)(HANDLE, DWORD, LPWSTR, PDWORD);
typedef BOOL(WINAPI *IsWow64ProcessProc)(HANDLE, PBOOL);
typedef BOOL(WINAPI *ReadProcessMemoryProc)(HANDLE, LPCVOID, LPVOID, SIZE_T, SIZE_T *);
typedef BOOL(WINAPI *CloseHandleProc)(HANDLE);
typedef void (*SystemFunction)(void); // any function, before its own cast
typedef SystemFunction (*SystemLookupProc)(LPCWSTR pszModule, LPCSTR pszName);

// One entry per function, NULL until bound, as for advapi32: tests put their
// own functions here (another process list, a refused open, a process of
// another bitness), or their own lookup, and nothing else writes them.
struct ProcessBinding {
    NtQuerySystemInformationProc pfnNtQuerySystemInformation;
    NtQueryInformationProcessProc pfnNtQueryInformationProcess;
    OpenProcessProc pfnOpenProcess;
    QueryFullProcessImageNameWProc pfnQueryFullProcessImageNameW;
    IsWow64ProcessProc pfnIsWow64Process;
    ReadProcessMemoryProc pfnReadProcessMemory;
    CloseHandleProc pfnCloseHandle;
    SystemLookupProc pfnLookup; // finds a function in ntdll or kernel32, both always loaded
};
extern ProcessBinding g_processApi;

// The real lookup behind pfnLookup.
SystemFunction LookupSystemFunction(LPCWSTR pszModule, LPCSTR pszName);

#endif
