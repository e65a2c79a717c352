// The SharedSection sizes this session runs with: Windows reads them once,
// when the session's subsystem process (csrss.exe in the system directory)
// starts, from its command line; the registry holds those of the next start.
// Everything newer than Windows 2000 and XP, and ntdll's functions, are bound
// at first use: where they are missing the sizes in effect are unknown.
#ifndef MORVANTA_PLATFORM_SUBSYSTEM_PROCESS_H
#define MORVANTA_PLATFORM_SUBSYSTEM_PROCESS_H

#include <windows.h>

#include <winternl.h>

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

// The system's process list, which gives every process's session and image
// name without opening it: the entries from the process heap, NULL when it
// cannot be had. The caller frees it with HeapFree.
BYTE *QueryProcessList(ULONG *pcbList);

// The entry after pEntry (the first when NULL), or NULL at the end of the
// list or where an entry would not lie whole within it.
const SYSTEM_PROCESS_INFORMATION *
NextProcessEntry(const BYTE *pbList, ULONG cbList, const SYSTEM_PROCESS_INFORMATION *pEntry);

// The session of this process, as the list gives it; false when it is not listed.
bool FindOwnSession(const BYTE *pbList, ULONG cbList, DWORD *pdwSessionId);

// Binds what reading the list and opening its processes needs, all of which
// Windows 2000 has; false when one is missing.
bool BindProcessListFunctions(void);

// Whether this is a 32-bit process on 64-bit Windows.
bool RunsUnderWow64(void);

// Whether cbPart bytes at pPart lie within the cbBlock bytes at pBlock.
bool IsWithinBlock(const void *pBlock, size_t cbBlock, const void *pPart, size_t cbPart);

// Whether processes can be opened with PROCESS_QUERY_LIMITED_INFORMATION
// (Windows Vista and later), told by a function new with it.
bool HasLimitedProcessQuery(void);

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
