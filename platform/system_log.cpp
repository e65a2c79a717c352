// The desktop heap events since the start, from the System log.
#include "system_log.h"

#include "bounded_string.h"

EventLogBinding g_eventLogApi = {NULL, NULL, NULL, NULL, NULL, NULL, LookupEventLogFunction};

static const DWORD kEventBatch = 32;
static const DWORD kMaxRenderBytes = 1u << 20;
static const DWORD kFirstRenderBytes = 4096;
static const size_t kMaxPopupStrings = 8; // a popup has two: its caption and its text
static const ULONGLONG kTicksPerMillisecond = 10000;

// One query, so that a large log is not read in full: the providers and ids
// that count, logged since the start, newest first. The time limit is
// appended in milliseconds.
static const WCHAR kQueryStart[] =
    L"*[System[((Provider[@Name='Win32k' or @Name='Microsoft-Windows-Win32k'] and "
    L"(EventID=243 or EventID=244 or EventID=1046)) or "
    L"(Provider[@Name='Application Popup'] and EventID=26)) and TimeCreated[timediff(@SystemTime) <= ";
static const WCHAR kQueryEnd[] = L"]]]";
static const size_t kQueryChars = sizeof kQueryStart / sizeof kQueryStart[0] + 20 + 4;

EventLogFunction LookupEventLogFunction(LPCWSTR pszModule, LPCSTR pszName)
{
    // wevtapi is no known DLL: a full path keeps the loader from taking a
    // wevtapi.dll that lies beside the program or in the current folder.
    static HMODULE s_hWevtapi;
    HMODULE hModule = NULL;
    if (lstrcmpiW(pszModule, L"wevtapi.dll") != 0) {
        hModule = GetModuleHandleW(pszModule);
    } else {
        static bool s_loadTried;
        if (!s_loadTried) {
            WCHAR szPath[MAX_PATH] = {};
            UINT cchSystem = GetSystemDirectoryW(szPath, MAX_PATH);
            s_loadTried = true;
            if (cchSystem > 0 && cchSystem < MAX_PATH && BoundedAppend(szPath, MAX_PATH, L"\\") == kBoundedOk &&
                BoundedAppend(szPath, MAX_PATH, pszModule) == kBoundedOk)
                s_hWevtapi = LoadLibraryW(szPath);
        }
        hModule = s_hWevtapi;
    }
    return hModule != NULL ? reinterpret_cast<EventLogFunction>(GetProcAddress(hModule, pszName)) : NULL;
}

template <typename Proc> static bool Bind(Proc *ppfn, LPCWSTR pszModule, LPCSTR pszName)
{
    if (*ppfn == NULL && g_eventLogApi.pfnLookup != NULL)
        *ppfn = reinterpret_cast<Proc>(g_eventLogApi.pfnLookup(pszModule, pszName));
    return *ppfn != NULL;
}

static bool BindEventLogFunctions(void)
{
    bool bound = Bind(&g_eventLogApi.pfnGetTickCount64, L"kernel32.dll", "GetTickCount64");
    bound = Bind(&g_eventLogApi.pfnEvtQuery, L"wevtapi.dll", "EvtQuery") && bound;
    bound = Bind(&g_eventLogApi.pfnEvtNext, L"wevtapi.dll", "EvtNext") && bound;
    bound = Bind(&g_eventLogApi.pfnEvtCreateRenderContext, L"wevtapi.dll", "EvtCreateRenderContext") && bound;
    bound = Bind(&g_eventLogApi.pfnEvtRender, L"wevtapi.dll", "EvtRender") && bound;
    return Bind(&g_eventLogApi.pfnEvtClose, L"wevtapi.dll", "EvtClose") && bound;
}

static void AppendNumber(WCHAR (&szText)[kQueryChars], ULONGLONG number)
{
    WCHAR szDigits[21] = {};
    size_t i = 20;
    do {
        szDigits[--i] = static_cast<WCHAR>(L'0' + number % 10);
        number /= 10;
    } while (number != 0);
    BoundedAppend(szText, kQueryChars, szDigits + i);
}

static void CloseEventHandle(EVT_HANDLE hObject)
{
    if (hObject != NULL)
        g_eventLogApi.pfnEvtClose(hObject);
}

// The values of one event under a render context, in a buffer from the
// process heap that the caller frees; a buffer too small is asked for once
// more at the size wanted.
static EVT_VARIANT *RenderValues(EVT_HANDLE hContext, EVT_HANDLE hEvent, DWORD *pcbValues, DWORD *pcValues)
{
    DWORD cbBuffer = kFirstRenderBytes;
    for (int attempt = 0; attempt < 2; attempt++) {
        void *pBuffer = HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, cbBuffer);
        DWORD cbUsed = 0, cValues = 0;
        if (pBuffer == NULL)
            return NULL;
        BOOL rendered =
            g_eventLogApi.pfnEvtRender(hContext, hEvent, EvtRenderEventValues, cbBuffer, pBuffer, &cbUsed, &cValues);
        DWORD dwError = GetLastError();
        // An answer that cannot be so is a failure too.
        if (rendered && cbUsed <= cbBuffer && static_cast<ULONGLONG>(cValues) * sizeof(EVT_VARIANT) <= cbUsed) {
            *pcbValues = cbUsed;
            *pcValues = cValues;
            return static_cast<EVT_VARIANT *>(pBuffer);
        }
        HeapFree(GetProcessHeap(), 0, pBuffer);
        if (rendered || dwError != ERROR_INSUFFICIENT_BUFFER || cbUsed <= cbBuffer || cbUsed > kMaxRenderBytes)
            return NULL;
        cbBuffer = cbUsed;
    }
    return NULL;
}

// A string value must lie, with its terminator, within what was rendered.
static const WCHAR *StringValue(const EVT_VARIANT *pValues, DWORD cbValues, const EVT_VARIANT &value)
{
    if (value.Type != EvtVarTypeString || value.StringVal == NULL)
        return NULL;
    const BYTE *pbStart = reinterpret_cast<const BYTE *>(pValues);
    const BYTE *pbString = reinterpret_cast<const BYTE *>(value.StringVal);
    if (pbString < pbStart || pbString >= pbStart + cbValues ||
        static_cast<size_t>(pbString - pbStart) % sizeof(WCHAR) != 0)
        return NULL;
    size_t cchMax = (cbValues - static_cast<size_t>(pbString - pbStart)) / sizeof(WCHAR);
    return BoundedLength(value.StringVal, cchMax, NULL) == kBoundedOk ? value.StringVal : NULL;
}

// A popup counts when its data hold 0xC0000142; szProgram gets its program.
static EventsStatus ReadPopup(EVT_HANDLE hUser, EVT_HANDLE hEvent, bool *pCounts, WCHAR (&szProgram)[kProgramNameChars])
{
    DWORD cbValues = 0, cValues = 0;
    EVT_VARIANT *pValues = RenderValues(hUser, hEvent, &cbValues, &cValues);
    const WCHAR *data[kMaxPopupStrings] = {};
    if (pValues == NULL)
        return kEventsReadFailed;
    DWORD cData = cValues < kMaxPopupStrings ? cValues : kMaxPopupStrings;
    // cppcheck-suppress knownConditionTrueFalse ; RenderValues has set cValues
    for (DWORD i = 0; i < cData; i++)
        data[i] = StringValue(pValues, cbValues, pValues[i]);
    *pCounts = ReadStartFailure(data, cData, szProgram);
    HeapFree(GetProcessHeap(), 0, pValues);
    return kEventsRead;
}

static EventsStatus ReadEvent(EVT_HANDLE hSystem, EVT_HANDLE hUser, EVT_HANDLE hEvent, HeapEventsSinceStart *pEvents)
{
    DWORD cbValues = 0, cValues = 0;
    EVT_VARIANT *pValues = RenderValues(hSystem, hEvent, &cbValues, &cValues);
    EventsStatus status = kEventsReadFailed;
    if (pValues == NULL)
        return kEventsReadFailed;
    // The system values that decide: what is not there as its type is a
    // failure, never a guess.
    if (cValues > static_cast<DWORD>(EvtSystemTimeCreated) && pValues[EvtSystemEventID].Type == EvtVarTypeUInt16 &&
        pValues[EvtSystemTimeCreated].Type == EvtVarTypeFileTime) {
        const WCHAR *pszProvider = StringValue(pValues, cbValues, pValues[EvtSystemProviderName]);
        if (pszProvider != NULL) {
            HeapEventKind kind = ClassifyHeapEvent(pszProvider, pValues[EvtSystemEventID].UInt16Val);
            WCHAR szProgram[kProgramNameChars] = {};
            bool counts = true;
            status = kEventsRead;
            if (kind == kStartFailure)
                status = ReadPopup(hUser, hEvent, &counts, szProgram);
            if (status == kEventsRead && counts)
                CountHeapEvent(pEvents, kind, pValues[EvtSystemTimeCreated].FileTimeVal, szProgram);
        }
    }
    HeapFree(GetProcessHeap(), 0, pValues);
    return status;
}

// Every event of the query, in batches; each batch is closed whole, whatever
// happened to one of its events.
static EventsStatus ReadResults(EVT_HANDLE hResults, HeapEventsSinceStart *pEvents)
{
    EVT_HANDLE hSystem = g_eventLogApi.pfnEvtCreateRenderContext(0, NULL, EvtRenderContextSystem);
    EVT_HANDLE hUser = g_eventLogApi.pfnEvtCreateRenderContext(0, NULL, EvtRenderContextUser);
    EventsStatus status = hSystem != NULL && hUser != NULL ? kEventsRead : kEventsReadFailed;
    while (status == kEventsRead) {
        EVT_HANDLE events[kEventBatch] = {};
        DWORD cReturned = 0;
        if (!g_eventLogApi.pfnEvtNext(hResults, kEventBatch, events, INFINITE, 0, &cReturned)) {
            DWORD dwError = GetLastError();
            if (dwError != ERROR_NO_MORE_ITEMS)
                status = dwError == ERROR_ACCESS_DENIED ? kEventsAccessDenied : kEventsReadFailed;
            break;
        }
        if (cReturned == 0 || cReturned > kEventBatch) {
            status = kEventsReadFailed;
            break;
        }
        for (DWORD i = 0; i < cReturned; i++) {
            if (status == kEventsRead)
                status = ReadEvent(hSystem, hUser, events[i], pEvents);
            CloseEventHandle(events[i]);
        }
    }
    CloseEventHandle(hUser);
    CloseEventHandle(hSystem);
    return status;
}

EventsStatus ReadHeapEventsSinceStart(HeapEventsSinceStart *pEvents)
{
    FILETIME now = {};
    WCHAR szQuery[kQueryChars] = {};
    EventsStatus status = kEventsQueryFailed;

    ZeroMemory(pEvents, sizeof *pEvents);
    if (!BindEventLogFunctions())
        return kEventsNotSupported;
    GetSystemTimeAsFileTime(&now);
    ULONGLONG nowTime = (static_cast<ULONGLONG>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
    ULONGLONG upMilliseconds = g_eventLogApi.pfnGetTickCount64();
    if (upMilliseconds > nowTime / kTicksPerMillisecond)
        return kEventsQueryFailed; // a clock before 1601 cannot place the start
    pEvents->startTime = nowTime - upMilliseconds * kTicksPerMillisecond;

    BoundedCopy(szQuery, kQueryChars, kQueryStart);
    AppendNumber(szQuery, upMilliseconds);
    BoundedAppend(szQuery, kQueryChars, kQueryEnd);
    // Wine's EvtQuery returns NULL and leaves an older last error: NULL is a
    // failure whatever the last error says, and nothing is called after it.
    SetLastError(ERROR_SUCCESS);
    EVT_HANDLE hResults =
        g_eventLogApi.pfnEvtQuery(NULL, L"System", szQuery, EvtQueryChannelPath | EvtQueryReverseDirection);
    if (hResults == NULL) {
        status = GetLastError() == ERROR_ACCESS_DENIED ? kEventsAccessDenied : kEventsQueryFailed;
    } else {
        status = ReadResults(hResults, pEvents);
        CloseEventHandle(hResults);
    }
    if (status != kEventsRead) {
        ULONGLONG startTime = pEvents->startTime;
        ZeroMemory(pEvents, sizeof *pEvents);
        pEvents->startTime = startTime;
    }
    return status;
}
