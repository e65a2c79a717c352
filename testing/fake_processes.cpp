// A process list and its processes behind the process binding.
#include "fake_processes.h"

#include <map>

#include "advapi_guard.h"
#include "session_desktops.h"
#include "subsystem_process.h"

FakeProcesses g_fakeProcesses;

static std::map<HANDLE, DWORD> s_handleAccess;
static const ULONG_PTR kFirstHandle = 0x7A000;
static const ULONG_PTR kFirstToken = 0x7B000;
static const ULONG_PTR kServiceManager = 0x7C000;
static const DWORD kSidPrefix = 0x15050000; // S-1-5-21-PID: the process's SID carries its id

static const LONG kStatusInfoLengthMismatch = static_cast<LONG>(0xC0000004u);

static FakeProcess *ProcessOf(HANDLE hProcess)
{
    ULONG_PTR handle = reinterpret_cast<ULONG_PTR>(hProcess);
    if (s_handleAccess.count(hProcess) == 0 || handle < kFirstHandle || handle >= kFirstToken)
        return NULL;
    return &g_fakeProcesses.processes[(handle - kFirstHandle) / 4];
}

static HANDLE AddHandle(ULONG_PTR handle, DWORD dwAccess)
{
    s_handleAccess[reinterpret_cast<HANDLE>(handle)] = dwAccess;
    g_fakeProcesses.openHandles++;
    return reinterpret_cast<HANDLE>(handle);
}

static size_t Aligned(size_t cb)
{
    return (cb + 7) & ~static_cast<size_t>(7);
}

static LONG NTAPI FakeNtQuerySystemInformation(ULONG infoClass, PVOID pBuffer, ULONG cbBuffer, PULONG pcbReturned)
{
    // This process first, as a plain entry of its own session.
    FakeProcess own = {};
    own.pid = GetCurrentProcessId();
    own.sessionId = g_fakeProcesses.ownSessionId;
    own.listName = L"tests.exe";
    std::vector<const FakeProcess *> entries;
    if (g_fakeProcesses.ownListed)
        entries.push_back(&own);
    for (const FakeProcess &process : g_fakeProcesses.processes)
        entries.push_back(&process);
    size_t cbNeeded = 0;
    for (const FakeProcess *pEntry : entries)
        cbNeeded += Aligned(sizeof(SYSTEM_PROCESS_INFORMATION) + pEntry->listName.size() * sizeof(WCHAR));
    *pcbReturned = static_cast<ULONG>(cbNeeded);
    if (infoClass != 5 || g_fakeProcesses.listCalls++ == 0 || cbBuffer < cbNeeded)
        return kStatusInfoLengthMismatch;

    BYTE *pb = static_cast<BYTE *>(pBuffer);
    SYSTEM_PROCESS_INFORMATION *pPrevious = NULL;
    for (const FakeProcess *pEntry : entries) {
        SYSTEM_PROCESS_INFORMATION *pInfo = reinterpret_cast<SYSTEM_PROCESS_INFORMATION *>(pb);
        ZeroMemory(pInfo, sizeof *pInfo);
        pInfo->UniqueProcessId = reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(pEntry->pid));
        pInfo->SessionId = pEntry->sessionId;
        pInfo->ImageName.Length = static_cast<USHORT>(pEntry->listName.size() * sizeof(WCHAR));
        pInfo->ImageName.MaximumLength = pInfo->ImageName.Length;
        pInfo->ImageName.Buffer = reinterpret_cast<PWSTR>(pInfo + 1);
        CopyMemory(pInfo + 1, pEntry->listName.data(), pInfo->ImageName.Length);
        if (pPrevious != NULL)
            pPrevious->NextEntryOffset = static_cast<ULONG>(pb - reinterpret_cast<BYTE *>(pPrevious));
        pPrevious = pInfo;
        pb += Aligned(sizeof *pInfo + pInfo->ImageName.Length);
    }
    return 0;
}

static HANDLE WINAPI FakeOpenProcess(DWORD dwAccess, BOOL, DWORD dwProcessId)
{
    g_fakeProcesses.log.push_back("open " + std::to_string(dwProcessId) + " " + std::to_string(dwAccess));
    for (size_t i = 0; i < g_fakeProcesses.processes.size(); i++) {
        const FakeProcess &process = g_fakeProcesses.processes[i];
        if (process.pid != dwProcessId)
            continue;
        if (process.refusesOpen || (process.protectedProcess && (dwAccess & PROCESS_VM_READ))) {
            SetLastError(ERROR_ACCESS_DENIED);
            return NULL;
        }
        return AddHandle(kFirstHandle + i * 4, dwAccess);
    }
    SetLastError(ERROR_INVALID_PARAMETER); // the process has ended
    return NULL;
}

static BOOL WINAPI FakeCloseHandle(HANDLE hObject)
{
    g_fakeProcesses.log.push_back("close");
    if (s_handleAccess.erase(hObject) == 0)
        return FALSE;
    g_fakeProcesses.openHandles--;
    return TRUE;
}

static BOOL WINAPI FakeQueryFullProcessImageNameW(HANDLE hProcess, DWORD, LPWSTR pszPath, PDWORD pcchPath)
{
    g_fakeProcesses.log.push_back("image");
    const FakeProcess *pProcess = ProcessOf(hProcess);
    if (pProcess == NULL || pProcess->imagePath.size() >= *pcchPath) {
        SetLastError(pProcess == NULL ? ERROR_INVALID_HANDLE : ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    lstrcpyW(pszPath, pProcess->imagePath.c_str());
    *pcchPath = static_cast<DWORD>(pProcess->imagePath.size());
    return TRUE;
}

static UNICODE_STRING CommandLineOf(FakeProcess &process)
{
    UNICODE_STRING commandLine = {};
    commandLine.Length =
        static_cast<USHORT>(process.commandLine.size() * sizeof(WCHAR) + (process.damage == kOddLength));
    commandLine.MaximumLength = commandLine.Length;
    commandLine.Buffer = &process.commandLine[0];
    return commandLine;
}

static LONG NTAPI
FakeNtQueryInformationProcess(HANDLE hProcess, ULONG infoClass, PVOID pBuffer, ULONG cbBuffer, PULONG pcbReturned)
{
    static const LONG kAnswers[] = {0,
                                    static_cast<LONG>(0xC0000003u),
                                    static_cast<LONG>(0xC0000002u),
                                    static_cast<LONG>(0xC0000022u),
                                    static_cast<LONG>(0xC0000001u)};
    g_fakeProcesses.log.push_back(infoClass == 0 ? "basic" : "query " + std::to_string(infoClass));
    FakeProcess *pProcess = ProcessOf(hProcess);
    if (pProcess == NULL)
        return static_cast<LONG>(0xC0000008u); // STATUS_INVALID_HANDLE
    if (infoClass == 0) {
        PROCESS_BASIC_INFORMATION basic = {};
        pProcess->peb.ProcessParameters = &pProcess->parameters;
        pProcess->parameters.CommandLine = CommandLineOf(*pProcess);
        basic.PebBaseAddress = &pProcess->peb;
        CopyMemory(pBuffer, &basic, sizeof basic);
        *pcbReturned = sizeof basic;
        return 0;
    }
    if (infoClass != 60 || pProcess->answer != kAnswerCommandLine)
        return infoClass != 60 ? static_cast<LONG>(0xC0000003u) : kAnswers[pProcess->answer];

    // The string follows its descriptor in the caller's buffer.
    UNICODE_STRING commandLine = CommandLineOf(*pProcess);
    *pcbReturned = static_cast<ULONG>(sizeof commandLine + pProcess->commandLine.size() * sizeof(WCHAR));
    if (cbBuffer < *pcbReturned)
        return kStatusInfoLengthMismatch;
    UNICODE_STRING *pAnswer = static_cast<UNICODE_STRING *>(pBuffer);
    *pAnswer = commandLine;
    pAnswer->Buffer = reinterpret_cast<PWSTR>(pAnswer + 1);
    CopyMemory(pAnswer->Buffer, pProcess->commandLine.data(), pProcess->commandLine.size() * sizeof(WCHAR));
    if (pProcess->damage == kOutsideAnswer)
        pAnswer->Buffer += 1;
    return 0;
}

static BOOL WINAPI FakeIsWow64Process(HANDLE hProcess, PBOOL pIsWow64)
{
    const FakeProcess *pProcess = ProcessOf(hProcess);
    *pIsWow64 = pProcess != NULL ? pProcess->wow64 : hProcess == GetCurrentProcess() && g_fakeProcesses.ownWow64;
    return pProcess != NULL || hProcess == GetCurrentProcess();
}

static BOOL WINAPI FakeReadProcessMemory(HANDLE hProcess, LPCVOID pAddress, LPVOID pBuffer, SIZE_T cb, SIZE_T *pcbRead)
{
    g_fakeProcesses.log.push_back("read");
    if (ProcessOf(hProcess) == NULL || !(s_handleAccess[hProcess] & PROCESS_VM_READ)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    CopyMemory(pBuffer, pAddress, cb); // the fake's memory is this process's own
    *pcbRead = cb;
    return TRUE;
}

static DWORD WINAPI FakeGetGuiResources(HANDLE hProcess, DWORD dwFlags)
{
    static const DWORD kIndexOfFlag[] = {2, 0, 3, 99, 1}; // GR_GDIOBJECTS, GR_USEROBJECTS, _PEAK (2), -, _PEAK (4)
    const FakeProcess *pProcess = ProcessOf(hProcess);
    const DWORD index = dwFlags < 5 ? kIndexOfFlag[dwFlags] : 99;
    if (index == 99 || (pProcess == NULL && hProcess != reinterpret_cast<HANDLE>(static_cast<LONG_PTR>(-2)))) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    if (pProcess == NULL)
        return g_fakeProcesses.sessionCounts[index];
    if (pProcess->guiError != 0)
        SetLastError(pProcess->guiError);
    return pProcess->guiError != 0 ? 0 : pProcess->guiCounts[index];
}

static BOOL WINAPI FakeOpenProcessToken(HANDLE hProcess, DWORD dwAccess, PHANDLE phToken)
{
    const FakeProcess *pProcess = ProcessOf(hProcess);
    if (pProcess == NULL || pProcess->refusesToken || dwAccess != TOKEN_QUERY) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    *phToken = AddHandle(kFirstToken + static_cast<ULONG_PTR>(pProcess - &g_fakeProcesses.processes[0]) * 4, dwAccess);
    return TRUE;
}

static BOOL WINAPI FakeGetTokenInformation(
    HANDLE hToken, TOKEN_INFORMATION_CLASS infoClass, LPVOID pInfo, DWORD cbInfo, PDWORD pcbReturned)
{
    ULONG_PTR handle = reinterpret_cast<ULONG_PTR>(hToken);
    if (s_handleAccess.count(hToken) == 0 || handle < kFirstToken || handle >= kServiceManager) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    const FakeProcess &process = g_fakeProcesses.processes[(handle - kFirstToken) / 4];
    if (infoClass == TokenStatistics && cbInfo >= sizeof(TOKEN_STATISTICS)) {
        TOKEN_STATISTICS statistics = {};
        statistics.AuthenticationId = process.logon;
        CopyMemory(pInfo, &statistics, sizeof statistics);
        *pcbReturned = sizeof statistics;
        return TRUE;
    }
    // The user's SID right after its TOKEN_USER: S-1-5-21-PID.
    const DWORD cbUser = sizeof(TOKEN_USER) + 12;
    if (infoClass != TokenUser || cbInfo < cbUser) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    BYTE *pbSid = static_cast<BYTE *>(pInfo) + sizeof(TOKEN_USER);
    const BYTE sid[12] = {1, 1, 0, 0, 0, 0, 0, 5, 0, 0, 0, 0};
    CopyMemory(pbSid, sid, sizeof sid);
    CopyMemory(pbSid + 8, &process.pid, sizeof process.pid);
    static_cast<TOKEN_USER *>(pInfo)->User.Sid = pbSid;
    *pcbReturned = cbUser;
    return TRUE;
}

static BOOL WINAPI FakeLookupAccountSidW(
    LPCWSTR, PSID pSid, LPWSTR pszName, LPDWORD pcchName, LPWSTR pszDomain, LPDWORD pcchDomain, PSID_NAME_USE pUse)
{
    DWORD dwProcessId = 0;
    CopyMemory(&dwProcessId, static_cast<BYTE *>(pSid) + 8, sizeof dwProcessId);
    for (const FakeProcess &process : g_fakeProcesses.processes) {
        size_t at = process.account.find(L'\\');
        if (process.pid != dwProcessId || process.account.empty())
            continue;
        std::wstring domain = at == std::wstring::npos ? L"" : process.account.substr(0, at);
        std::wstring name = at == std::wstring::npos ? process.account : process.account.substr(at + 1);
        if (name.size() >= *pcchName || domain.size() >= *pcchDomain) {
            SetLastError(ERROR_INSUFFICIENT_BUFFER);
            return FALSE;
        }
        lstrcpyW(pszName, name.c_str());
        lstrcpyW(pszDomain, domain.c_str());
        *pUse = SidTypeUser;
        return TRUE;
    }
    SetLastError(ERROR_NONE_MAPPED);
    return FALSE;
}

static SC_HANDLE WINAPI FakeOpenSCManagerW(LPCWSTR, LPCWSTR, DWORD)
{
    if (g_fakeProcesses.serviceManagerError != 0) {
        SetLastError(g_fakeProcesses.serviceManagerError);
        return NULL;
    }
    return reinterpret_cast<SC_HANDLE>(AddHandle(kServiceManager, 0));
}

// Two services a call at most, so that the reader must go on with the
// resume handle.
static BOOL WINAPI FakeEnumServicesStatusExW(SC_HANDLE hManager,
                                             SC_ENUM_TYPE,
                                             DWORD,
                                             DWORD,
                                             LPBYTE pbBuffer,
                                             DWORD cbBuffer,
                                             LPDWORD pcbNeeded,
                                             LPDWORD pcReturned,
                                             LPDWORD pResume,
                                             LPCWSTR)
{
    std::vector<std::pair<DWORD, const std::wstring *>> all;
    for (const FakeProcess &process : g_fakeProcesses.processes) {
        for (const std::wstring &service : process.services)
            all.push_back(std::make_pair(process.pid, &service));
    }
    ENUM_SERVICE_STATUS_PROCESSW *pEntries = reinterpret_cast<ENUM_SERVICE_STATUS_PROCESSW *>(pbBuffer);
    WCHAR *pszNames = reinterpret_cast<WCHAR *>(pbBuffer + cbBuffer);
    *pcReturned = 0;
    *pcbNeeded = 0;
    if (hManager != reinterpret_cast<SC_HANDLE>(kServiceManager) || cbBuffer < 4096) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    for (; *pResume < all.size() && *pcReturned < 2; ++*pResume, ++*pcReturned) {
        const std::wstring &name = *all[*pResume].second;
        pszNames -= name.size() + 1;
        lstrcpyW(pszNames, name.c_str());
        ENUM_SERVICE_STATUS_PROCESSW entry = {};
        entry.lpServiceName = pszNames;
        entry.lpDisplayName = pszNames;
        entry.ServiceStatusProcess.dwProcessId = all[*pResume].first;
        pEntries[*pcReturned] = entry;
    }
    if (*pResume < all.size()) {
        SetLastError(ERROR_MORE_DATA);
        return FALSE;
    }
    return TRUE;
}

static BOOL WINAPI FakeCloseServiceHandle(SC_HANDLE hManager)
{
    return FakeCloseHandle(reinterpret_cast<HANDLE>(hManager));
}

void BindFakeHolders(DesktopBinding *pBinding)
{
    pBinding->pfnGetGuiResources = FakeGetGuiResources;
    pBinding->pfnOpenProcessToken = FakeOpenProcessToken;
    pBinding->pfnGetTokenInformation = FakeGetTokenInformation;
    pBinding->pfnLookupAccountSidW = FakeLookupAccountSidW;
    pBinding->pfnOpenSCManagerW = FakeOpenSCManagerW;
    pBinding->pfnEnumServicesStatusExW = FakeEnumServicesStatusExW;
    pBinding->pfnCloseServiceHandle = FakeCloseServiceHandle;
}

static SystemFunction RefusingLookup(LPCWSTR, LPCSTR)
{
    return NULL; // nothing real is ever bound while the fake is in place
}

std::wstring SubsystemImagePath()
{
    WCHAR szSystem[MAX_PATH] = {};
    GetSystemDirectoryW(szSystem, MAX_PATH);
    return std::wstring(szSystem) + L"\\csrss.exe";
}

void InstallFakeProcesses()
{
    FakeProcess subsystem = {};
    subsystem.pid = 600;
    subsystem.sessionId = 1;
    subsystem.listName = L"csrss.exe";
    subsystem.imagePath = SubsystemImagePath();
    subsystem.commandLine = L"%SystemRoot%\\system32\\csrss.exe ObjectDirectory=\\Windows "
                            L"SharedSection=1024,4096,768 Windows=On SubSystemType=Windows";
    subsystem.protectedProcess = true;
    g_fakeProcesses = FakeProcesses();
    g_fakeProcesses.processes.push_back(subsystem);
    g_fakeProcesses.ownSessionId = 1;
    g_fakeProcesses.ownListed = true;
    s_handleAccess.clear();

    ProcessBinding fakes = {FakeNtQuerySystemInformation,
                            FakeNtQueryInformationProcess,
                            FakeOpenProcess,
                            FakeQueryFullProcessImageNameW,
                            FakeIsWow64Process,
                            FakeReadProcessMemory,
                            FakeCloseHandle,
                            RefusingLookup};
    g_processApi = fakes;
}

void RemoveFakeProcesses()
{
    ResetProcessBinding();
}
