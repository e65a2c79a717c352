// A System log behind the event log binding, for what Wine cannot show: its
// EvtQuery gives nothing, and its EvtRender ends the process. The events are
// placed in time from the fake's start, which its GetTickCount64 keeps; handles
// are numbers that never reach the system. The same fake, built as a
// wevtapi.dll of its own, serves the real programs under Wine.
#ifndef MORVANTA_TESTING_FAKE_EVENT_LOG_H
#define MORVANTA_TESTING_FAKE_EVENT_LOG_H

#include <windows.h>

#include <winevt.h>

#include <string>
#include <vector>

// What one event does when it is read.
enum FakeEventDamage {
    kEventWhole,
    kEventRenderFails,          // EvtRender refuses it
    kEventTimeNotFileTime,      // its TimeCreated comes as another type
    kEventProviderOutside,      // its provider string points past what was rendered
    kEventProviderNotString,    // its provider comes as another type
    kEventProviderUnterminated, // what was rendered ends just before its provider's terminator
    kEventDataRenderFails       // EvtRender refuses its data (the user context) alone
};

struct FakeEvent {
    std::wstring provider;
    DWORD id;
    LONGLONG secondsAfterStart; // negative: logged before the current start
    std::vector<std::wstring> data;
    FakeEventDamage damage;
};

// How the query answers: with the events, with NULL and the last error
// untouched (Wine's stub), or with NULL and an error.
enum FakeQueryAnswer { kQueryEvents, kQueryNullUntouched, kQueryDenied, kQueryChannelMissing };

struct FakeEventLog {
    std::vector<FakeEvent> events; // newest first, as the query returns them
    FakeQueryAnswer queryAnswer;
    int nextFailsAfter;           // EvtNext fails after this many events (-1: never)
    DWORD nextError;              // ... with this error
    DWORD batchLimit;             // EvtNext gives at most this many at once
    ULONGLONG startTime;          // FILETIME ticks of the start: GetTickCount64 gives the time since
    std::vector<std::string> log; // "query System FLAGS QUERY", "context N", "next", "render system|user", "close"
    int openHandles;
};
extern FakeEventLog g_fakeEventLog;

// Puts the fake in the binding: no events, a start five hours ago (half a
// second past a whole second, so that its second never depends on when the
// reader looks), every call answering.
void InstallFakeEventLog();
void RemoveFakeEventLog();

// A time of the log in UTC as the status report writes it:
// "2026-12-09T14:02:11Z" for JSON, "2026-12-09 14:02:11 UTC" for a person.
std::string LogTimeText(ULONGLONG time, bool json);

// The fake's functions, as the stand-in wevtapi.dll exports them.
EVT_HANDLE WINAPI FakeEvtQuery(EVT_HANDLE hSession, LPCWSTR pszPath, LPCWSTR pszQuery, DWORD dwFlags);
BOOL WINAPI
FakeEvtNext(EVT_HANDLE hResults, DWORD cEvents, EVT_HANDLE *pEvents, DWORD dwTimeout, DWORD dwFlags, PDWORD pcReturned);
EVT_HANDLE WINAPI FakeEvtCreateRenderContext(DWORD cPaths, LPCWSTR *ppszPaths, DWORD dwFlags);
BOOL WINAPI FakeEvtRender(EVT_HANDLE hContext,
                          EVT_HANDLE hFragment,
                          DWORD dwFlags,
                          DWORD cbBuffer,
                          PVOID pBuffer,
                          PDWORD pcbUsed,
                          PDWORD pcProperties);
BOOL WINAPI FakeEvtClose(EVT_HANDLE hObject);

#endif
