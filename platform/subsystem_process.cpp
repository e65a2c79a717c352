// The sizes in effect, from the command line of the session's subsystem process.
#include "subsystem_process.h"

#include "ascii_case.h"
#include "bounded_string.h"
#include "text_buffer.h"

ProcessBinding g_processApi = {NULL, NULL, NULL, NULL, NULL, NULL, NULL, LookupSystemFunction};

// ntdll's status codes; <ntstatus.h> does not mix with <windows.h>.
static const LONG kStatusBufferOverflow = static_cast<LONG>(0x80000005u);
static const LONG kStatusNotImplemented = static_cast<LONG>(0xC0000002u);
static const LONG kStatusInvalidInfoClass = static_cast<LONG>(0xC0000003u);
static const LONG kStatusInfoLengthMismatch = static_cast<LONG>(0xC0000004u);
static const LONG kStatusAccessDenied = static_cast<LONG>(0xC0000022u);
static const LONG kStatusBufferTooSmall = static_cast<LONG>(0xC0000023u);

// Windows 8.1 and later: the command line for PROCESS_QUERY_LIMITED_INFORMATION,
// which the protected subsystem process grants to elevated administrators.
static const ULONG kProcessCommandLineInformation = 60;
static const ULONG kSystemProcessInformation = 5;
static const DWORD kMaxCommandLineChars = 32767; // the longest a command line can be
static const ULONG kMaxProcessListBytes = 64u << 20;
static const WCHAR kSubsystemImageName[] = L"csrss.exe";

SystemFunction LookupSystemFunction(LPCWSTR pszModule, LPCSTR pszName)
{
    HMODULE hModule = GetModuleHandleW(pszModule);
    return hModule != NULL ? reinterpret_cast<SystemFunction>(GetProcAddress(hModule, pszName)) : NULL;
}

template <typename Proc> static bool Bind(Proc *ppfn, LPCWSTR pszModule, LPCSTR pszName)
{
    if (*ppfn == NULL && g_processApi.pfnLookup != NULL)
        *ppfn = reinterpret_cast<Proc>(g_processApi.pfnLookup(pszModule, pszName));
    return *ppfn != NULL;
}

static bool BindProcessFunctions(void)
{
    bool bound = Bind(&g_processApi.pfnNtQuerySystemInformation, L"ntdll.dll", "NtQuerySystemInformation");
    bound = Bind(&g_processApi.pfnNtQueryInformationProcess, L"ntdll.dll", "NtQueryInformationProcess") && bound;
    bound = Bind(&g_processApi.pfnOpenProcess, L"kernel32.dll", "OpenProcess") && bound;
    bound = Bind(&g_processApi.pfnQueryFullProcessImageNameW, L"kernel32.dll", "QueryFullProcessImageNameW") && bound;
    bound = Bind(&g_processApi.pfnIsWow64Process, L"kernel32.dll", "IsWow64Process") && bound;
    bound = Bind(&g_processApi.pfnReadProcessMemory, L"kernel32.dll", "ReadProcessMemory") && bound;
    return Bind(&g_processApi.pfnCloseHandle, L"kernel32.dll", "CloseHandle") && bound;
}

bool IsWithinBlock(const void *pBlock, size_t cbBlock, const void *pPart, size_t cbPart)
{
    const BYTE *pbBlock = static_cast<const BYTE *>(pBlock);
    const BYTE *pbPart = static_cast<const BYTE *>(pPart);
    return pbPart >= pbBlock && cbPart <= cbBlock && static_cast<size_t>(pbPart - pbBlock) <= cbBlock - cbPart;
}

static InEffectStatus FailureOf(LONG ntStatus)
{
    return ntStatus == kStatusAccessDenied ? kInEffectAccessDenied : kInEffectUnreadable;
}

static InEffectStatus LastErrorFailure(void)
{
    return GetLastError() == ERROR_ACCESS_DENIED ? kInEffectAccessDenied : kInEffectUnreadable;
}

// A command line as Windows hands it over is not terminated: its length in
// bytes must be even and at most that of the longest command line.
static bool IsCommandLineLength(USHORT cbLength)
{
    return cbLength % sizeof(WCHAR) == 0 && cbLength / sizeof(WCHAR) <= kMaxCommandLineChars;
}

// The answer to the command line query: the string must lie within what was
// returned, and it is copied with a terminator before the codec sees it.
static InEffectStatus
CopyReturnedCommandLine(const BYTE *pbBuffer, ULONG cbBuffer, ULONG cbReturned, WCHAR **ppszCommandLine)
{
    const UNICODE_STRING *pCommandLine = reinterpret_cast<const UNICODE_STRING *>(pbBuffer);
    if (cbReturned < sizeof(UNICODE_STRING) || cbReturned > cbBuffer || !IsCommandLineLength(pCommandLine->Length))
        return kInEffectUnreadable;
    if (pCommandLine->Length > 0 && !IsWithinBlock(pbBuffer, cbReturned, pCommandLine->Buffer, pCommandLine->Length))
        return kInEffectUnreadable;
    WCHAR *pszCommandLine = AllocateText(pCommandLine->Length / sizeof(WCHAR) + 1);
    if (pszCommandLine == NULL)
        return kInEffectUnreadable;
    if (pCommandLine->Length > 0)
        CopyMemory(pszCommandLine, pCommandLine->Buffer, pCommandLine->Length);
    *ppszCommandLine = pszCommandLine;
    return kInEffectRead;
}

// Windows 8.1 and later answer in one call; a buffer too small is retried
// with the size asked for. kInEffectNotSupported sends the caller to the
// process's own memory.
static InEffectStatus QueryCommandLine(HANDLE hProcess, WCHAR **ppszCommandLine)
{
    ULONG cbBuffer = sizeof(UNICODE_STRING) + 1024;
    InEffectStatus status = kInEffectUnreadable;
    for (int attempt = 0; attempt < 4; attempt++) {
        BYTE *pbBuffer = static_cast<BYTE *>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, cbBuffer));
        ULONG cbReturned = 0;
        if (pbBuffer == NULL)
            return kInEffectUnreadable;
        LONG ntStatus = g_processApi.pfnNtQueryInformationProcess(
            hProcess, kProcessCommandLineInformation, pbBuffer, cbBuffer, &cbReturned);
        bool retry = false;
        if (ntStatus >= 0) {
            status = CopyReturnedCommandLine(pbBuffer, cbBuffer, cbReturned, ppszCommandLine);
        } else if (ntStatus == kStatusInvalidInfoClass || ntStatus == kStatusNotImplemented) {
            status = kInEffectNotSupported;
        } else if (ntStatus == kStatusInfoLengthMismatch || ntStatus == kStatusBufferTooSmall ||
                   ntStatus == kStatusBufferOverflow) {
            retry = cbReturned > cbBuffer && cbReturned <= sizeof(UNICODE_STRING) + kMaxCommandLineChars * 2;
            cbBuffer = cbReturned;
        } else {
            status = FailureOf(ntStatus);
        }
        HeapFree(GetProcessHeap(), 0, pbBuffer);
        if (!retry)
            return status;
    }
    return kInEffectUnreadable;
}

// Before Windows 8.1 only the process's own parameters hold its command
// line. Their layout is that of the reader's own bitness, so a process of
// another bitness is never read this way.
static InEffectStatus ReadCommandLineFromParameters(HANDLE hProcess, WCHAR **ppszCommandLine)
{
    BOOL readerIsWow64 = FALSE, processIsWow64 = FALSE;
    PROCESS_BASIC_INFORMATION basic = {};
    PEB peb = {};
    RTL_USER_PROCESS_PARAMETERS parameters = {};
    SIZE_T cbRead = 0;
    ULONG cbReturned = 0;

    if (!g_processApi.pfnIsWow64Process(GetCurrentProcess(), &readerIsWow64) ||
        !g_processApi.pfnIsWow64Process(hProcess, &processIsWow64))
        return LastErrorFailure();
    if (readerIsWow64 != processIsWow64)
        return kInEffectOtherBitness;

    LONG ntStatus =
        g_processApi.pfnNtQueryInformationProcess(hProcess, ProcessBasicInformation, &basic, sizeof basic, &cbReturned);
    if (ntStatus < 0)
        return FailureOf(ntStatus);
    if (!g_processApi.pfnReadProcessMemory(hProcess, basic.PebBaseAddress, &peb, sizeof peb, &cbRead) ||
        cbRead != sizeof peb ||
        !g_processApi.pfnReadProcessMemory(hProcess, peb.ProcessParameters, &parameters, sizeof parameters, &cbRead) ||
        cbRead != sizeof parameters)
        return LastErrorFailure();

    const UNICODE_STRING &commandLine = parameters.CommandLine;
    if (!IsCommandLineLength(commandLine.Length))
        return kInEffectUnreadable;
    WCHAR *pszCommandLine = AllocateText(commandLine.Length / sizeof(WCHAR) + 1);
    if (pszCommandLine == NULL)
        return kInEffectUnreadable;
    if (commandLine.Length > 0 && (!g_processApi.pfnReadProcessMemory(
                                       hProcess, commandLine.Buffer, pszCommandLine, commandLine.Length, &cbRead) ||
                                   cbRead != commandLine.Length)) {
        InEffectStatus status = LastErrorFailure();
        ReleaseText(pszCommandLine);
        return status;
    }
    *ppszCommandLine = pszCommandLine;
    return kInEffectRead;
}

// One candidate, through one handle: its image must be the subsystem's, and
// its image path and command line come from the same process.
static InEffectStatus ReadCandidate(DWORD dwProcessId, const WCHAR *pszSubsystemPath, SharedSectionSizes *pSizes)
{
    WCHAR szImage[MAX_PATH * 2] = {};
    DWORD cchImage = MAX_PATH * 2;
    WCHAR *pszCommandLine = NULL;
    InEffectStatus status = kInEffectUnreadable;

    // Reading the parameters needs PROCESS_VM_READ, which the protected
    // subsystem process of Windows 8.1 and later refuses; the command line
    // query there needs only the limited right.
    HANDLE hProcess =
        g_processApi.pfnOpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | PROCESS_VM_READ, FALSE, dwProcessId);
    if (hProcess == NULL)
        hProcess = g_processApi.pfnOpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, dwProcessId);
    if (hProcess == NULL)
        return GetLastError() == ERROR_ACCESS_DENIED ? kInEffectAccessDenied : kInEffectNotFound;

    if (!g_processApi.pfnQueryFullProcessImageNameW(hProcess, 0, szImage, &cchImage)) {
        // A path longer than the system directory's cannot be the subsystem's.
        status = GetLastError() == ERROR_INSUFFICIENT_BUFFER ? kInEffectNotFound : LastErrorFailure();
        goto close;
    }
    if (!IsSameIgnoringAsciiCase(szImage, cchImage, pszSubsystemPath)) {
        status = kInEffectNotFound; // a csrss.exe elsewhere is not the subsystem
        goto close;
    }

    status = QueryCommandLine(hProcess, &pszCommandLine);
    if (status == kInEffectNotSupported)
        status = ReadCommandLineFromParameters(hProcess, &pszCommandLine);
    if (status == kInEffectRead) {
        ReadSharedSectionSizes(pszCommandLine, pSizes);
        if (pSizes->interactiveKb == 0)
            status = kInEffectNoSharedSection;
    }
    ReleaseText(pszCommandLine);

close:
    g_processApi.pfnCloseHandle(hProcess);
    return status;
}

bool BindProcessListFunctions(void)
{
    bool bound = Bind(&g_processApi.pfnNtQuerySystemInformation, L"ntdll.dll", "NtQuerySystemInformation");
    bound = Bind(&g_processApi.pfnOpenProcess, L"kernel32.dll", "OpenProcess") && bound;
    return Bind(&g_processApi.pfnCloseHandle, L"kernel32.dll", "CloseHandle") && bound;
}

bool RunsUnderWow64(void)
{
    BOOL wow64 = FALSE;
    return Bind(&g_processApi.pfnIsWow64Process, L"kernel32.dll", "IsWow64Process") &&
           g_processApi.pfnIsWow64Process(GetCurrentProcess(), &wow64) && wow64;
}

bool HasLimitedProcessQuery(void)
{
    return Bind(&g_processApi.pfnQueryFullProcessImageNameW, L"kernel32.dll", "QueryFullProcessImageNameW");
}

// A list grown between the calls is asked for again.
BYTE *QueryProcessList(ULONG *pcbList)
{
    ULONG cbList = 256u << 10;
    for (int attempt = 0; attempt < 8 && cbList <= kMaxProcessListBytes; attempt++) {
        BYTE *pbList = static_cast<BYTE *>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, cbList));
        ULONG cbReturned = 0;
        if (pbList == NULL)
            return NULL;
        LONG ntStatus =
            g_processApi.pfnNtQuerySystemInformation(kSystemProcessInformation, pbList, cbList, &cbReturned);
        if (ntStatus >= 0 && cbReturned <= cbList) {
            *pcbList = cbReturned;
            return pbList;
        }
        HeapFree(GetProcessHeap(), 0, pbList);
        if (ntStatus != kStatusInfoLengthMismatch)
            return NULL;
        cbList = cbReturned > cbList ? cbReturned + (64u << 10) : cbList * 2;
    }
    return NULL;
}

const SYSTEM_PROCESS_INFORMATION *
NextProcessEntry(const BYTE *pbList, ULONG cbList, const SYSTEM_PROCESS_INFORMATION *pEntry)
{
    size_t offset = 0;
    if (pEntry != NULL) {
        offset = static_cast<size_t>(reinterpret_cast<const BYTE *>(pEntry) - pbList);
        if (pEntry->NextEntryOffset == 0 || pEntry->NextEntryOffset > cbList - offset)
            return NULL;
        offset += pEntry->NextEntryOffset;
    }
    if (cbList - offset < sizeof(SYSTEM_PROCESS_INFORMATION))
        return NULL;
    return reinterpret_cast<const SYSTEM_PROCESS_INFORMATION *>(pbList + offset);
}

bool FindOwnSession(const BYTE *pbList, ULONG cbList, DWORD *pdwSessionId)
{
    const DWORD dwOwnId = GetCurrentProcessId();
    for (const SYSTEM_PROCESS_INFORMATION *pEntry = NULL;
         (pEntry = NextProcessEntry(pbList, cbList, pEntry)) != NULL;) {
        if (reinterpret_cast<ULONG_PTR>(pEntry->UniqueProcessId) == dwOwnId) {
            *pdwSessionId = pEntry->SessionId;
            return true;
        }
    }
    return false;
}

InEffectStatus ReadSizesInEffect(SharedSectionSizes *pSizes, DWORD *pdwSessionId)
{
    WCHAR szSubsystemPath[MAX_PATH] = {};
    BYTE *pbList = NULL;
    ULONG cbList = 0;
    const SYSTEM_PROCESS_INFORMATION *pEntry = NULL;
    DWORD dwSessionId = 0;
    bool ownSessionKnown = false;
    InEffectStatus status = kInEffectNotFound;

    ZeroMemory(pSizes, sizeof *pSizes);
    *pdwSessionId = 0;
    if (!BindProcessFunctions())
        return kInEffectNotSupported;

    UINT cchSystem = GetSystemDirectoryW(szSubsystemPath, MAX_PATH);
    if (cchSystem == 0 || cchSystem >= MAX_PATH || BoundedAppend(szSubsystemPath, MAX_PATH, L"\\") != kBoundedOk ||
        BoundedAppend(szSubsystemPath, MAX_PATH, kSubsystemImageName) != kBoundedOk)
        return kInEffectUnreadable;
    pbList = QueryProcessList(&cbList);
    if (pbList == NULL)
        return kInEffectUnreadable;

    ownSessionKnown = FindOwnSession(pbList, cbList, &dwSessionId);
    while (ownSessionKnown && (pEntry = NextProcessEntry(pbList, cbList, pEntry)) != NULL) {
        // Only processes of this session named like the subsystem are opened.
        const UNICODE_STRING &name = pEntry->ImageName;
        if (pEntry->SessionId != dwSessionId || !IsWithinBlock(pbList, cbList, name.Buffer, name.Length) ||
            !IsSameIgnoringAsciiCase(name.Buffer, name.Length / sizeof(WCHAR), kSubsystemImageName))
            continue;
        DWORD dwProcessId = static_cast<DWORD>(reinterpret_cast<ULONG_PTR>(pEntry->UniqueProcessId));
        InEffectStatus candidate = ReadCandidate(dwProcessId, szSubsystemPath, pSizes);
        if (candidate == kInEffectRead) {
            *pdwSessionId = dwSessionId;
            status = kInEffectRead;
            break;
        }
        ZeroMemory(pSizes, sizeof *pSizes);
        if (candidate != kInEffectNotFound)
            status = candidate; // what kept a likely subsystem process from being read
    }
    HeapFree(GetProcessHeap(), 0, pbList);
    return ownSessionKnown ? status : kInEffectUnreadable;
}
