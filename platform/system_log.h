// What the System log holds about desktop heaps since Windows started, read
// through the Windows Event Log API. wevtapi.dll (Windows Vista and later)
// and GetTickCount64 are bound at first use, from the system folder, so the
// programs still start on Windows 2000, XP and 2003, where the events are
// unknown.
#ifndef MORVANTA_PLATFORM_SYSTEM_LOG_H
#define MORVANTA_PLATFORM_SYSTEM_LOG_H

#include <windows.h>

#include <winevt.h>

#include "heap_events.h"

enum EventsStatus {
    kEventsRead,
    kEventsNotSupported, // no Windows Event Log here (before Windows Vista)
    kEventsAccessDenied, // this account may not read the System log
    kEventsQueryFailed,  // the query was refused or gave nothing to read
    kEventsReadFailed,   // an event could not be read whole
};

// The events of the current start of Windows; on anything but kEventsRead
// the counts are all zero and the programs none: unknown, never partial.
EventsStatus ReadHeapEventsSinceStart(HeapEventsSinceStart *pEvents);

typedef EVT_HANDLE(WINAPI *EvtQueryProc)(EVT_HANDLE, LPCWSTR, LPCWSTR, DWORD);
typedef BOOL(WINAPI *EvtNextProc)(EVT_HANDLE, DWORD, EVT_HANDLE *, DWORD, DWORD, PDWORD);
typedef EVT_HANDLE(WINAPI *EvtCreateRenderContextProc)(DWORD, LPCWSTR *, DWORD);
typedef BOOL(WINAPI *EvtRenderProc)(EVT_HANDLE, EVT_HANDLE, DWORD, DWORD, PVOID, PDWORD, PDWORD);
typedef BOOL(WINAPI *EvtCloseProc)(EVT_HANDLE);
typedef ULONGLONG(WINAPI *GetTickCount64Proc)(void);
typedef void (*EventLogFunction)(void); // any function, before its own cast
typedef EventLogFunction (*EventLogLookupProc)(LPCWSTR pszModule, LPCSTR pszName);

// One entry per function, NULL until bound, as for advapi32: tests put their
// own event source here, or their own lookup, and nothing else writes them.
struct EventLogBinding {
    EvtQueryProc pfnEvtQuery;
    EvtNextProc pfnEvtNext;
    EvtCreateRenderContextProc pfnEvtCreateRenderContext;
    EvtRenderProc pfnEvtRender;
    EvtCloseProc pfnEvtClose;
    GetTickCount64Proc pfnGetTickCount64;
    EventLogLookupProc pfnLookup; // wevtapi.dll from the system folder, kernel32 as loaded
};
extern EventLogBinding g_eventLogApi;

// The real lookup behind pfnLookup.
EventLogFunction LookupEventLogFunction(LPCWSTR pszModule, LPCSTR pszName);

#endif
