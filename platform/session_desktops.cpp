// The desktops of this session and who holds objects on them.
#include "session_desktops.h"

#include "bounded_string.h"
#include "subsystem_process.h"

DesktopBinding g_desktopApi = {};

// GetGuiResources' flags in the order of GuiObjectCount; the peaks and the
// session's totals (GR_GLOBAL) are Windows 7's, and fail before it.
static const DWORD kGuiFlags[kGuiObjectCounts] = {1, 4, 0, 2};
static const int kHeapSizeIndex = 5; // UOI_HEAPSIZE, Windows Vista and later: the heap size in KB
static const WCHAR kQuotaKeyPath[] = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Windows";
static const DWORD kServicesBytes = 64u << 10;

DesktopFunction LookupDesktopFunction(LPCWSTR pszModule, LPCSTR pszName)
{
    if (lstrcmpiW(pszModule, L"advapi32.dll") == 0)
        return reinterpret_cast<DesktopFunction>(LookupAdvapiFunction(pszName));
    // user32 is a known DLL, loaded from the system directory; the console
    // program does not import it, so that it starts with no window station.
    static HMODULE s_hUser32;
    static bool s_loadTried;
    if (!s_loadTried) {
        s_loadTried = true;
        s_hUser32 = LoadLibraryW(L"user32.dll");
    }
    return s_hUser32 != NULL ? reinterpret_cast<DesktopFunction>(GetProcAddress(s_hUser32, pszName)) : NULL;
}

template <typename Proc> static bool Bind(Proc *ppfn, LPCWSTR pszModule, LPCSTR pszName)
{
    if (*ppfn == NULL && g_desktopApi.pfnLookup != NULL)
        *ppfn = reinterpret_cast<Proc>(g_desktopApi.pfnLookup(pszModule, pszName));
    return *ppfn != NULL;
}

static bool BindOwnDesktopFunctions(void)
{
    bool bound = Bind(&g_desktopApi.pfnGetProcessWindowStation, L"user32.dll", "GetProcessWindowStation");
    bound = Bind(&g_desktopApi.pfnGetThreadDesktop, L"user32.dll", "GetThreadDesktop") && bound;
    return Bind(&g_desktopApi.pfnGetUserObjectInformationW, L"user32.dll", "GetUserObjectInformationW") && bound;
}

static bool BindStationFunctions(void)
{
    bool bound = Bind(&g_desktopApi.pfnEnumWindowStationsW, L"user32.dll", "EnumWindowStationsW");
    bound = Bind(&g_desktopApi.pfnOpenWindowStationW, L"user32.dll", "OpenWindowStationW") && bound;
    bound = Bind(&g_desktopApi.pfnSetProcessWindowStation, L"user32.dll", "SetProcessWindowStation") && bound;
    bound = Bind(&g_desktopApi.pfnCloseWindowStation, L"user32.dll", "CloseWindowStation") && bound;
    bound = Bind(&g_desktopApi.pfnEnumDesktopsW, L"user32.dll", "EnumDesktopsW") && bound;
    bound = Bind(&g_desktopApi.pfnOpenDesktopW, L"user32.dll", "OpenDesktopW") && bound;
    bound = Bind(&g_desktopApi.pfnCloseDesktop, L"user32.dll", "CloseDesktop") && bound;
    return BindOwnDesktopFunctions() && bound;
}

static ObjectCount Known(DWORD value)
{
    ObjectCount count = {true, value, 0};
    return count;
}

static ObjectCount Unknown(DWORD dwError)
{
    ObjectCount count = {false, 0, dwError};
    return count;
}

// A user object's name, or false with the last error set.
static bool ReadObjectName(HANDLE hObject, WCHAR (&szName)[kObjectNameChars])
{
    DWORD cbNeeded = 0;
    if (!g_desktopApi.pfnGetUserObjectInformationW(hObject, UOI_NAME, szName, sizeof szName, &cbNeeded))
        return false;
    szName[kObjectNameChars - 1] = 0;
    return true;
}

static ObjectCount ReadHeapSize(HDESK hDesktop)
{
    ULONG heapKb = 0;
    DWORD cbNeeded = 0;
    if (!g_desktopApi.pfnGetUserObjectInformationW(hDesktop, kHeapSizeIndex, &heapKb, sizeof heapKb, &cbNeeded))
        return Unknown(GetLastError());
    return Known(heapKb);
}

void ReadOwnDesktop(SessionDesktop *pDesktop)
{
    ZeroMemory(pDesktop, sizeof *pDesktop);
    pDesktop->current = true;
    pDesktop->heapKb = Unknown(ERROR_PROC_NOT_FOUND);
    if (!BindOwnDesktopFunctions())
        return;
    // The process's own station and the thread's desktop: handles that are
    // never closed.
    HWINSTA hStation = g_desktopApi.pfnGetProcessWindowStation();
    HDESK hDesktop = g_desktopApi.pfnGetThreadDesktop(GetCurrentThreadId());
    if (hStation == NULL || hDesktop == NULL || !ReadObjectName(hStation, pDesktop->station) ||
        !ReadObjectName(hDesktop, pDesktop->desktop)) {
        pDesktop->heapKb = Unknown(GetLastError());
        pDesktop->station[0] = pDesktop->desktop[0] = 0;
        return;
    }
    pDesktop->heapKb = ReadHeapSize(hDesktop);
}

// Grows a heap block of elements by half again, to 8 at least; false, with
// the block as it was, when memory runs out.
static bool Grow(void **ppBlock, size_t *pCapacity, size_t cbElement)
{
    size_t capacity = *pCapacity < 8 ? 8 : *pCapacity + *pCapacity / 2;
    void *pBlock = *ppBlock == NULL ? HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, capacity * cbElement)
                                    : HeapReAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, *ppBlock, capacity * cbElement);
    if (pBlock == NULL)
        return false;
    *ppBlock = pBlock;
    *pCapacity = capacity;
    return true;
}

// Names of window stations or desktops, in a growing heap block.
struct NameList {
    WCHAR (*pNames)[kObjectNameChars];
    size_t count;
    size_t capacity;
    bool outOfMemory;
};

static bool AddName(NameList *pList, const WCHAR *pszName)
{
    if (pList->count == pList->capacity &&
        !Grow(reinterpret_cast<void **>(&pList->pNames), &pList->capacity, sizeof pList->pNames[0])) {
        pList->outOfMemory = true;
        return false;
    }
    // A name too long for the list is kept cut, and never opened.
    BoundedCopy(pList->pNames[pList->count++], kObjectNameChars, pszName);
    return true;
}

static BOOL CALLBACK CollectName(LPWSTR pszName, LPARAM lParam)
{
    // NOLINTNEXTLINE(performance-no-int-to-ptr): the enumeration hands back the list it was given
    return AddName(reinterpret_cast<NameList *>(lParam), pszName);
}

static void FreeNames(NameList *pList)
{
    if (pList->pNames != NULL)
        HeapFree(GetProcessHeap(), 0, pList->pNames);
    ZeroMemory(pList, sizeof *pList);
}

static bool IsNameCut(const WCHAR *pszName)
{
    return BoundedLength(pszName, kObjectNameChars - 1, NULL) != kBoundedOk;
}

// A new entry for a desktop of the station, or NULL when memory ran out.
static SessionDesktop *AddDesktop(SessionDesktops *pDesktops, size_t *pCapacity, const WCHAR *pszStation)
{
    if (pDesktops->count == *pCapacity &&
        !Grow(reinterpret_cast<void **>(&pDesktops->pDesktops), pCapacity, sizeof pDesktops->pDesktops[0]))
        return NULL;
    SessionDesktop *pDesktop = &pDesktops->pDesktops[pDesktops->count++];
    BoundedCopy(pDesktop->station, kObjectNameChars, pszStation);
    return pDesktop;
}

// One desktop of the station the process is on.
static void ReadDesktopHeap(SessionDesktop *pDesktop)
{
    if (IsNameCut(pDesktop->desktop)) {
        pDesktop->heapKb = Unknown(ERROR_FILENAME_EXCED_RANGE);
        return;
    }
    HDESK hDesktop = g_desktopApi.pfnOpenDesktopW(pDesktop->desktop, 0, FALSE, DESKTOP_READOBJECTS);
    if (hDesktop == NULL) {
        pDesktop->heapKb = Unknown(GetLastError());
        return;
    }
    pDesktop->heapKb = ReadHeapSize(hDesktop);
    g_desktopApi.pfnCloseDesktop(hDesktop);
}

enum StationOutcome { kStationRead, kStationOutOfMemory, kStationNotRestored };

// The desktops of one window station. OpenDesktopW opens a desktop of the
// process's current station, so the process is switched to this one and
// back to hOwnStation as soon as its desktops are read, before anything else.
static StationOutcome ReadStation(HWINSTA hOwnStation,
                                  const WCHAR *pszStation,
                                  const WCHAR *pszOwnDesktop,
                                  SessionDesktops *pDesktops,
                                  size_t *pCapacity)
{
    NameList names = {};
    LogonId logon = {};
    const bool serviceStation = ParseServiceStation(pszStation, &logon);
    DWORD dwListError = 0;
    StationOutcome outcome = kStationRead;
    HWINSTA hStation = NULL;

    if (IsNameCut(pszStation)) {
        dwListError = ERROR_FILENAME_EXCED_RANGE;
        goto finish;
    }
    hStation = g_desktopApi.pfnOpenWindowStationW(pszStation, FALSE, WINSTA_ENUMDESKTOPS);
    // Windows lets no one list a service station's desktops, SYSTEM
    // included: such a station is still tried by its Default desktop.
    if (hStation == NULL) {
        dwListError = GetLastError();
        if (serviceStation)
            hStation = g_desktopApi.pfnOpenWindowStationW(pszStation, FALSE, MAXIMUM_ALLOWED);
        if (hStation == NULL)
            goto finish;
    }
    if (!g_desktopApi.pfnSetProcessWindowStation(hStation)) {
        dwListError = GetLastError();
        goto close;
    }
    if (dwListError == 0 && !g_desktopApi.pfnEnumDesktopsW(hStation, CollectName, reinterpret_cast<LPARAM>(&names)))
        dwListError = names.outOfMemory ? ERROR_NOT_ENOUGH_MEMORY : GetLastError();
    if (dwListError != 0 && serviceStation && !names.outOfMemory) {
        names.count = 0;
        AddName(&names, L"Default");
    }
    for (size_t i = 0; i < names.count; i++) {
        SessionDesktop *pDesktop = AddDesktop(pDesktops, pCapacity, pszStation);
        if (pDesktop == NULL) {
            outcome = kStationOutOfMemory;
            break;
        }
        BoundedCopy(pDesktop->desktop, kObjectNameChars, names.pNames[i]);
        ReadDesktopHeap(pDesktop);
        pDesktop->current = pszOwnDesktop != NULL && lstrcmpiW(pDesktop->desktop, pszOwnDesktop) == 0;
    }
    if (!g_desktopApi.pfnSetProcessWindowStation(hOwnStation)) {
        pDesktops->restoreError = GetLastError();
        outcome = kStationNotRestored;
    }

close:
    g_desktopApi.pfnCloseWindowStation(hStation);
finish:
    if (names.outOfMemory)
        outcome = kStationOutOfMemory;
    if (outcome == kStationRead && dwListError != 0 && names.count == 0) {
        SessionDesktop *pFailed = AddDesktop(pDesktops, pCapacity, pszStation);
        if (pFailed == NULL)
            outcome = kStationOutOfMemory;
        else
            pFailed->heapKb = Unknown(dwListError);
    }
    FreeNames(&names);
    return outcome;
}

bool ReadSessionDesktops(SessionDesktops *pDesktops)
{
    NameList stations = {};
    SessionDesktop own = {};
    size_t capacity = 0;
    StationOutcome outcome = kStationRead;

    ZeroMemory(pDesktops, sizeof *pDesktops);
    if (!BindStationFunctions()) {
        pDesktops->stationsError = ERROR_PROC_NOT_FOUND;
        return true;
    }
    ReadOwnDesktop(&own);
    HWINSTA hOwnStation = g_desktopApi.pfnGetProcessWindowStation();
    if (hOwnStation == NULL) {
        pDesktops->stationsError = GetLastError();
        return true;
    }
    if (!g_desktopApi.pfnEnumWindowStationsW(CollectName, reinterpret_cast<LPARAM>(&stations)) && !stations.outOfMemory)
        pDesktops->stationsError = GetLastError();
    if (stations.outOfMemory)
        outcome = kStationOutOfMemory;
    for (size_t i = 0; i < stations.count && outcome == kStationRead; i++) {
        bool ownStation = own.station[0] != 0 && lstrcmpiW(stations.pNames[i], own.station) == 0;
        outcome = ReadStation(hOwnStation, stations.pNames[i], ownStation ? own.desktop : NULL, pDesktops, &capacity);
    }
    // A process left on another station reads nothing more: what was read stands.
    FreeNames(&stations);
    if (outcome == kStationOutOfMemory)
        ReleaseSessionDesktops(pDesktops);
    return outcome != kStationOutOfMemory;
}

void ReleaseSessionDesktops(SessionDesktops *pDesktops)
{
    if (pDesktops->pDesktops != NULL)
        HeapFree(GetProcessHeap(), 0, pDesktops->pDesktops);
    ZeroMemory(pDesktops, sizeof *pDesktops);
}

// Binds the counts and the token functions; true when the tokens can be read.
static bool BindProcessReaders(void)
{
    Bind(&g_desktopApi.pfnGetGuiResources, L"user32.dll", "GetGuiResources");
    bool bound = Bind(&g_desktopApi.pfnOpenProcessToken, L"advapi32.dll", "OpenProcessToken");
    bound = Bind(&g_desktopApi.pfnGetTokenInformation, L"advapi32.dll", "GetTokenInformation") && bound;
    return Bind(&g_desktopApi.pfnLookupAccountSidW, L"advapi32.dll", "LookupAccountSidW") && bound;
}

// The four counts of a process, or of the session through GR_GLOBAL. 0 is
// a count only where Windows set no error: Wine's stub answers 0 with 120,
// and Windows before 7 refuses the peaks and the session's totals.
static void ReadCounts(HANDLE hProcess, ObjectCount (&counts)[kGuiObjectCounts])
{
    for (int i = 0; i < kGuiObjectCounts; i++) {
        if (g_desktopApi.pfnGetGuiResources == NULL) {
            counts[i] = Unknown(ERROR_PROC_NOT_FOUND);
            continue;
        }
        SetLastError(ERROR_SUCCESS);
        DWORD value = g_desktopApi.pfnGetGuiResources(hProcess, kGuiFlags[i]);
        DWORD dwError = GetLastError();
        counts[i] = value == 0 && dwError != ERROR_SUCCESS ? Unknown(dwError) : Known(value);
    }
}

// DOMAIN\name of a SID, or its error. LSA keeps the names it looked up, so
// a hundred processes of one domain account ask the domain once.
static DWORD LookupAccount(PSID pSid, WCHAR (&szAccount)[kAccountChars])
{
    WCHAR szName[kAccountChars] = {}, szDomain[kAccountChars] = {};
    DWORD cchName = kAccountChars, cchDomain = kAccountChars;
    SID_NAME_USE use = SidTypeUnknown;
    if (!g_desktopApi.pfnLookupAccountSidW(NULL, pSid, szName, &cchName, szDomain, &cchDomain, &use))
        return GetLastError();
    if ((szDomain[0] != 0 && (BoundedCopy(szAccount, kAccountChars, szDomain) != kBoundedOk ||
                              BoundedAppend(szAccount, kAccountChars, L"\\") != kBoundedOk)) ||
        BoundedAppend(szAccount, kAccountChars, szName) != kBoundedOk) {
        szAccount[0] = 0;
        return ERROR_INSUFFICIENT_BUFFER;
    }
    return ERROR_SUCCESS;
}

// The logon session and the account of a process's token.
static void ReadToken(HANDLE hProcess, HolderProcess *pProcess)
{
    union {
        TOKEN_USER user;
        BYTE bytes[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
    } user = {};
    TOKEN_STATISTICS statistics = {};
    HANDLE hToken = NULL;
    DWORD cbReturned = 0;

    if (!g_desktopApi.pfnOpenProcessToken(hProcess, TOKEN_QUERY, &hToken)) {
        pProcess->accountError = GetLastError();
        return;
    }
    if (g_desktopApi.pfnGetTokenInformation(hToken, TokenStatistics, &statistics, sizeof statistics, &cbReturned)) {
        pProcess->logonKnown = true;
        pProcess->logon.high = static_cast<uint32_t>(statistics.AuthenticationId.HighPart);
        pProcess->logon.low = statistics.AuthenticationId.LowPart;
    }
    if (!g_desktopApi.pfnGetTokenInformation(hToken, TokenUser, user.bytes, sizeof user.bytes, &cbReturned))
        pProcess->accountError = GetLastError();
    else
        pProcess->accountError = LookupAccount(user.user.User.Sid, pProcess->account);
    g_processApi.pfnCloseHandle(hToken);
}

// A name that does not fit ends the list with "...".
static void AppendService(HolderProcess *pProcess, const WCHAR *pszService)
{
    WCHAR *pszList = pProcess->services;
    const size_t cchRoom = kServiceListChars - 4;
    size_t cchList = 0;
    BoundedLength(pszList, kServiceListChars, &cchList);
    if (cchList >= 3 && lstrcmpW(pszList + cchList - 3, L"...") == 0)
        return; // cut already
    if ((cchList > 0 && BoundedAppend(pszList, cchRoom, L", ") != kBoundedOk) ||
        BoundedAppend(pszList, cchRoom, pszService) != kBoundedOk) {
        pszList[cchList] = 0;
        BoundedAppend(pszList, kServiceListChars, L"...");
    }
}

// The services each process hosts; an error when they cannot be listed.
static DWORD ReadServices(HolderProcess *pProcesses, size_t count)
{
    DWORD dwError = ERROR_SUCCESS;
    DWORD resume = 0;
    BYTE *pbServices = NULL;
    SC_HANDLE hManager = NULL;

    if (!Bind(&g_desktopApi.pfnOpenSCManagerW, L"advapi32.dll", "OpenSCManagerW") ||
        !Bind(&g_desktopApi.pfnEnumServicesStatusExW, L"advapi32.dll", "EnumServicesStatusExW") ||
        !Bind(&g_desktopApi.pfnCloseServiceHandle, L"advapi32.dll", "CloseServiceHandle"))
        return ERROR_PROC_NOT_FOUND;
    hManager = g_desktopApi.pfnOpenSCManagerW(NULL, NULL, SC_MANAGER_ENUMERATE_SERVICE);
    if (hManager == NULL)
        return GetLastError();
    pbServices = static_cast<BYTE *>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, kServicesBytes));
    for (bool more = pbServices != NULL; more;) {
        DWORD cbNeeded = 0, cReturned = 0;
        more = !g_desktopApi.pfnEnumServicesStatusExW(hManager,
                                                      SC_ENUM_PROCESS_INFO,
                                                      SERVICE_WIN32,
                                                      SERVICE_ACTIVE,
                                                      pbServices,
                                                      kServicesBytes,
                                                      &cbNeeded,
                                                      &cReturned,
                                                      &resume,
                                                      NULL);
        if (more && GetLastError() != ERROR_MORE_DATA) {
            dwError = GetLastError();
            break;
        }
        // Each name must lie, terminated, within what was returned.
        const ENUM_SERVICE_STATUS_PROCESSW *pServices = reinterpret_cast<ENUM_SERVICE_STATUS_PROCESSW *>(pbServices);
        for (DWORD i = 0; i < cReturned && (i + 1) * sizeof *pServices <= kServicesBytes; i++) {
            const WCHAR *pszName = pServices[i].lpServiceName;
            const BYTE *pbName = reinterpret_cast<const BYTE *>(pszName);
            if (pszName == NULL || !IsWithinBlock(pbServices, kServicesBytes, pszName, sizeof(WCHAR)) ||
                BoundedLength(pszName,
                              static_cast<size_t>(pbServices + kServicesBytes - pbName) / sizeof(WCHAR),
                              NULL) != kBoundedOk)
                continue;
            for (size_t j = 0; j < count; j++) {
                if (pProcesses[j].processId == pServices[i].ServiceStatusProcess.dwProcessId)
                    AppendService(&pProcesses[j], pszName);
            }
        }
        if (more && cReturned == 0) {
            dwError = ERROR_MORE_DATA; // no progress: one entry larger than the buffer
            break;
        }
    }
    if (pbServices == NULL)
        dwError = ERROR_NOT_ENOUGH_MEMORY;
    else
        HeapFree(GetProcessHeap(), 0, pbServices);
    g_desktopApi.pfnCloseServiceHandle(hManager);
    return dwError;
}

// A quota under the Windows key: Windows' default where the registry holds
// none, unknown where it holds something else than a DWORD.
static ObjectCount ReadQuota(HKEY hKey, LONG openStatus, LPCWSTR pszName, bool *pDefault)
{
    DWORD dwType = REG_NONE, dwValue = 0, cbValue = sizeof dwValue;
    LONG status = openStatus;
    *pDefault = false;
    if (status == ERROR_SUCCESS)
        status = LazyRegQueryValueExW(hKey, pszName, NULL, &dwType, reinterpret_cast<LPBYTE>(&dwValue), &cbValue);
    if (status == ERROR_FILE_NOT_FOUND) {
        *pDefault = true;
        return Known(kDefaultObjectQuota);
    }
    if (status == ERROR_SUCCESS && (dwType != REG_DWORD || cbValue != sizeof dwValue))
        status = ERROR_INVALID_DATA;
    return status == ERROR_SUCCESS ? Known(dwValue) : Unknown(static_cast<DWORD>(status));
}

static void ReadQuotas(SessionProcesses *pProcesses)
{
    // Windows reads the 64-bit view.
    HKEY hKey = NULL;
    REGSAM sam = KEY_QUERY_VALUE | (RunsUnderWow64() ? KEY_WOW64_64KEY : 0);
    LONG status = LazyRegOpenKeyExW(HKEY_LOCAL_MACHINE, kQuotaKeyPath, 0, sam, &hKey);
    if (status == ERROR_SUCCESS && hKey == NULL)
        status = ERROR_INVALID_HANDLE;
    pProcesses->quotas.user = ReadQuota(hKey, status, L"USERProcessHandleQuota", &pProcesses->userQuotaDefault);
    pProcesses->quotas.gdi = ReadQuota(hKey, status, L"GDIProcessHandleQuota", &pProcesses->gdiQuotaDefault);
    if (hKey != NULL)
        LazyRegCloseKey(hKey);
}

// One process of the session: its counts and token through one handle.
static void ReadHolder(DWORD dwAccess, bool readTokens, HolderProcess *pProcess, size_t *pNotOpened)
{
    HANDLE hProcess = g_processApi.pfnOpenProcess(dwAccess, FALSE, pProcess->processId);
    if (hProcess == NULL) {
        pProcess->openError = GetLastError();
        pProcess->accountError = pProcess->openError;
        for (int i = 0; i < kGuiObjectCounts; i++)
            pProcess->counts[i] = Unknown(pProcess->openError);
        ++*pNotOpened;
        return;
    }
    ReadCounts(hProcess, pProcess->counts);
    if (readTokens)
        ReadToken(hProcess, pProcess);
    else
        pProcess->accountError = ERROR_PROC_NOT_FOUND;
    g_processApi.pfnCloseHandle(hProcess);
}

bool ReadSessionProcesses(SessionProcesses *pProcesses)
{
    BYTE *pbList = NULL;
    ULONG cbList = 0;
    const SYSTEM_PROCESS_INFORMATION *pEntry = NULL;
    const DWORD dwAccess = HasLimitedProcessQuery() ? PROCESS_QUERY_LIMITED_INFORMATION : PROCESS_QUERY_INFORMATION;
    size_t count = 0;
    bool enough = true;
    bool readTokens = false;

    ZeroMemory(pProcesses, sizeof *pProcesses);
    readTokens = BindProcessReaders();
    ReadCounts(GR_GLOBAL, pProcesses->totals);
    ReadQuotas(pProcesses);
    if (!BindProcessListFunctions() || (pbList = QueryProcessList(&cbList)) == NULL ||
        !FindOwnSession(pbList, cbList, &pProcesses->sessionId))
        goto finish;
    // The idle process (id 0) holds nothing and cannot be opened.
    while ((pEntry = NextProcessEntry(pbList, cbList, pEntry)) != NULL)
        count += pEntry->SessionId == pProcesses->sessionId && pEntry->UniqueProcessId != NULL;
    pProcesses->pProcesses = static_cast<HolderProcess *>(
        HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, (count + 1) * sizeof(HolderProcess)));
    enough = pProcesses->pProcesses != NULL;
    if (!enough)
        goto finish;
    pProcesses->listed = true;
    while ((pEntry = NextProcessEntry(pbList, cbList, pEntry)) != NULL && pProcesses->count < count) {
        if (pEntry->SessionId != pProcesses->sessionId || pEntry->UniqueProcessId == NULL)
            continue;
        HolderProcess *pProcess = &pProcesses->pProcesses[pProcesses->count++];
        const UNICODE_STRING &name = pEntry->ImageName;
        pProcess->processId = static_cast<DWORD>(reinterpret_cast<ULONG_PTR>(pEntry->UniqueProcessId));
        if (IsWithinBlock(pbList, cbList, name.Buffer, name.Length) && name.Length / sizeof(WCHAR) < kImageNameChars)
            CopyMemory(pProcess->name, name.Buffer, name.Length);
        ReadHolder(dwAccess, readTokens, pProcess, &pProcesses->notOpened);
    }
    pProcesses->servicesError = ReadServices(pProcesses->pProcesses, pProcesses->count);

finish:
    if (pbList != NULL)
        HeapFree(GetProcessHeap(), 0, pbList);
    if (!enough)
        ReleaseSessionProcesses(pProcesses);
    return enough;
}

void ReleaseSessionProcesses(SessionProcesses *pProcesses)
{
    if (pProcesses->pProcesses != NULL)
        HeapFree(GetProcessHeap(), 0, pProcesses->pProcesses);
    ZeroMemory(pProcesses, sizeof *pProcesses);
}
