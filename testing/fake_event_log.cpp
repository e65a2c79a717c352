// A System log behind the event log binding.
#include "fake_event_log.h"

#include <stdio.h>

#include <set>

#include "system_log.h"

FakeEventLog g_fakeEventLog;

static std::set<ULONG_PTR> s_openHandles;
static const ULONG_PTR kResultsHandle = 0xE1000;
static const ULONG_PTR kSystemContextHandle = 0xE2000;
static const ULONG_PTR kUserContextHandle = 0xE2004;
static const ULONG_PTR kFirstEventHandle = 0xE3000;
static size_t s_nextEvent;
static const LONGLONG kTicksPerSecond = 10000000;

static EVT_HANDLE OpenHandle(ULONG_PTR value)
{
    s_openHandles.insert(value);
    g_fakeEventLog.openHandles++;
    return reinterpret_cast<EVT_HANDLE>(value);
}

static bool IsOpen(EVT_HANDLE hObject)
{
    return s_openHandles.count(reinterpret_cast<ULONG_PTR>(hObject)) != 0;
}

EVT_HANDLE WINAPI FakeEvtQuery(EVT_HANDLE hSession, LPCWSTR pszPath, LPCWSTR pszQuery, DWORD dwFlags)
{
    std::string query;
    for (const WCHAR *pch = pszQuery; pch != NULL && *pch != 0; pch++)
        query += static_cast<char>(*pch < 0x80 ? *pch : '?');
    g_fakeEventLog.log.push_back(std::string("query ") + (hSession == NULL ? "" : "remote ") +
                                 (pszPath != NULL && lstrcmpW(pszPath, L"System") == 0 ? "System " : "other ") +
                                 std::to_string(dwFlags) + " " + query);
    switch (g_fakeEventLog.queryAnswer) {
    case kQueryNullUntouched:
        return NULL;
    case kQueryDenied:
        SetLastError(ERROR_ACCESS_DENIED);
        return NULL;
    case kQueryChannelMissing:
        SetLastError(15007); // ERROR_EVT_CHANNEL_NOT_FOUND
        return NULL;
    default:
        s_nextEvent = 0;
        return OpenHandle(kResultsHandle);
    }
}

BOOL WINAPI FakeEvtNext(EVT_HANDLE hResults, DWORD cEvents, EVT_HANDLE *pEvents, DWORD, DWORD, PDWORD pcReturned)
{
    g_fakeEventLog.log.push_back("next");
    *pcReturned = 0;
    if (hResults != reinterpret_cast<EVT_HANDLE>(kResultsHandle) || !IsOpen(hResults)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    DWORD cGiven = 0;
    while (cGiven < cEvents && cGiven < g_fakeEventLog.batchLimit && s_nextEvent < g_fakeEventLog.events.size()) {
        if (g_fakeEventLog.nextFailsAfter >= 0 && s_nextEvent >= static_cast<size_t>(g_fakeEventLog.nextFailsAfter))
            break;
        pEvents[cGiven++] = OpenHandle(kFirstEventHandle + 4 * s_nextEvent++);
    }
    *pcReturned = cGiven;
    if (cGiven > 0)
        return TRUE;
    bool failing =
        g_fakeEventLog.nextFailsAfter >= 0 && s_nextEvent >= static_cast<size_t>(g_fakeEventLog.nextFailsAfter);
    SetLastError(failing ? g_fakeEventLog.nextError : ERROR_NO_MORE_ITEMS);
    return FALSE;
}

EVT_HANDLE WINAPI FakeEvtCreateRenderContext(DWORD cPaths, LPCWSTR *, DWORD dwFlags)
{
    g_fakeEventLog.log.push_back("context " + std::to_string(cPaths) + " " + std::to_string(dwFlags));
    if (dwFlags == EvtRenderContextSystem)
        return OpenHandle(kSystemContextHandle);
    if (dwFlags == EvtRenderContextUser)
        return OpenHandle(kUserContextHandle);
    SetLastError(ERROR_INVALID_PARAMETER);
    return NULL;
}

// The values as Windows lays them out: the variants, then their strings.
static BOOL RenderValues(const std::vector<EVT_VARIANT> &values,
                         const std::vector<const std::wstring *> &strings,
                         DWORD cbBuffer,
                         PVOID pBuffer,
                         PDWORD pcbUsed,
                         PDWORD pcProperties)
{
    size_t cbNeeded = values.size() * sizeof(EVT_VARIANT);
    for (const std::wstring *pString : strings)
        cbNeeded += pString != NULL ? (pString->size() + 1) * sizeof(WCHAR) : 0;
    *pcbUsed = static_cast<DWORD>(cbNeeded);
    *pcProperties = static_cast<DWORD>(values.size());
    if (cbBuffer < cbNeeded || pBuffer == NULL) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    EVT_VARIANT *pValues = static_cast<EVT_VARIANT *>(pBuffer);
    BYTE *pbString = static_cast<BYTE *>(pBuffer) + values.size() * sizeof(EVT_VARIANT);
    for (size_t i = 0; i < values.size(); i++) {
        pValues[i] = values[i];
        if (strings[i] != NULL) {
            CopyMemory(pbString, strings[i]->c_str(), (strings[i]->size() + 1) * sizeof(WCHAR));
            pValues[i].StringVal = reinterpret_cast<LPCWSTR>(pbString);
            pbString += (strings[i]->size() + 1) * sizeof(WCHAR);
        }
    }
    return TRUE;
}

BOOL WINAPI FakeEvtRender(EVT_HANDLE hContext,
                          EVT_HANDLE hFragment,
                          DWORD dwFlags,
                          DWORD cbBuffer,
                          PVOID pBuffer,
                          PDWORD pcbUsed,
                          PDWORD pcProperties)
{
    ULONG_PTR context = reinterpret_cast<ULONG_PTR>(hContext);
    size_t index = (reinterpret_cast<ULONG_PTR>(hFragment) - kFirstEventHandle) / 4;
    g_fakeEventLog.log.push_back(context == kSystemContextHandle ? "render system" : "render user");
    if (!IsOpen(hContext) || !IsOpen(hFragment) || dwFlags != EvtRenderEventValues ||
        index >= g_fakeEventLog.events.size()) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const FakeEvent &event = g_fakeEventLog.events[index];
    if (event.damage == kEventRenderFails || (event.damage == kEventDataRenderFails && context == kUserContextHandle)) {
        SetLastError(ERROR_EVT_MESSAGE_NOT_FOUND);
        return FALSE;
    }
    std::vector<EVT_VARIANT> values;
    std::vector<const std::wstring *> strings;
    if (context == kUserContextHandle) {
        for (const std::wstring &data : event.data) {
            EVT_VARIANT value = {};
            value.Type = EvtVarTypeString;
            values.push_back(value);
            strings.push_back(&data);
        }
        return RenderValues(values, strings, cbBuffer, pBuffer, pcbUsed, pcProperties);
    }
    values.assign(EvtSystemPropertyIdEND, EVT_VARIANT());
    strings.assign(EvtSystemPropertyIdEND, NULL);
    for (EVT_VARIANT &value : values)
        value.Type = EvtVarTypeNull;
    values[EvtSystemProviderName].Type = EvtVarTypeString;
    strings[EvtSystemProviderName] = &event.provider;
    values[EvtSystemEventID].Type = EvtVarTypeUInt16;
    values[EvtSystemEventID].UInt16Val = static_cast<UINT16>(event.id);
    values[EvtSystemTimeCreated].Type = event.damage == kEventTimeNotFileTime ? EvtVarTypeUInt64 : EvtVarTypeFileTime;
    values[EvtSystemTimeCreated].FileTimeVal =
        g_fakeEventLog.startTime + static_cast<ULONGLONG>(event.secondsAfterStart * kTicksPerSecond);
    if (event.damage == kEventProviderNotString) {
        values[EvtSystemProviderName].Type = EvtVarTypeGuid;
        strings[EvtSystemProviderName] = NULL;
    }
    if (!RenderValues(values, strings, cbBuffer, pBuffer, pcbUsed, pcProperties))
        return FALSE;
    if (event.damage == kEventProviderOutside)
        static_cast<EVT_VARIANT *>(pBuffer)[EvtSystemProviderName].StringVal = event.provider.c_str();
    if (event.damage == kEventProviderUnterminated)
        *pcbUsed -= static_cast<DWORD>(sizeof(WCHAR)); // the provider's string comes last
    return TRUE;
}

BOOL WINAPI FakeEvtClose(EVT_HANDLE hObject)
{
    g_fakeEventLog.log.push_back("close");
    if (!IsOpen(hObject)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    s_openHandles.erase(reinterpret_cast<ULONG_PTR>(hObject));
    g_fakeEventLog.openHandles--;
    return TRUE;
}

std::string LogTimeText(ULONGLONG time, bool json)
{
    FILETIME fileTime = {static_cast<DWORD>(time), static_cast<DWORD>(time >> 32)};
    SYSTEMTIME utc = {};
    char szText[32] = {};
    FileTimeToSystemTime(&fileTime, &utc);
    snprintf(szText,
             sizeof szText,
             json ? "%04u-%02u-%02uT%02u:%02u:%02uZ" : "%04u-%02u-%02u %02u:%02u:%02u UTC",
             utc.wYear,
             utc.wMonth,
             utc.wDay,
             utc.wHour,
             utc.wMinute,
             utc.wSecond);
    return szText;
}

static ULONGLONG Now()
{
    FILETIME now = {};
    GetSystemTimeAsFileTime(&now);
    return (static_cast<ULONGLONG>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
}

static ULONGLONG WINAPI FakeGetTickCount64(void)
{
    return (Now() - g_fakeEventLog.startTime) / 10000;
}

void InstallFakeEventLog()
{
    g_fakeEventLog = FakeEventLog();
    g_fakeEventLog.queryAnswer = kQueryEvents;
    g_fakeEventLog.nextFailsAfter = -1;
    g_fakeEventLog.batchLimit = 1000;
    g_fakeEventLog.startTime =
        (Now() - 5ull * 3600 * kTicksPerSecond) / kTicksPerSecond * kTicksPerSecond + kTicksPerSecond / 2;
    s_openHandles.clear();
    EventLogBinding fake = {
        FakeEvtQuery, FakeEvtNext, FakeEvtCreateRenderContext, FakeEvtRender, FakeEvtClose, FakeGetTickCount64, NULL};
    g_eventLogApi = fake;
}

void RemoveFakeEventLog()
{
    EventLogBinding real = {NULL, NULL, NULL, NULL, NULL, NULL, LookupEventLogFunction};
    g_eventLogApi = real;
    s_openHandles.clear();
}
