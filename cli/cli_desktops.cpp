// The console companion's desktops report.
#include "cli_desktops.h"

#include <windows.h>

#include "ascii_case.h"
#include "bounded_string.h"
#include "cli_output.h"

static const DWORD kOut = STD_OUTPUT_HANDLE;

// "USER 812 (peak 900)"; the peak only where the count now is known.
static void WriteCountPair(const WCHAR *pszLabel, const ObjectCount &now, const ObjectCount &peak)
{
    WriteFormat(kOut, now.known ? "%s%c (peak %c)" : "%s%c", pszLabel, now, peak);
}

// The four counts as JSON members, each with its error beside it.
static void WriteJsonCounts(const ObjectCount (&counts)[kGuiObjectCounts])
{
    WriteFormat(kOut,
                ",\"userObjects\":%n,\"userObjectsError\":%e,\"userObjectsPeak\":%n,\"userObjectsPeakError\":%e"
                ",\"gdiObjects\":%n,\"gdiObjectsError\":%e,\"gdiObjectsPeak\":%n,\"gdiObjectsPeakError\":%e",
                counts[kUserObjects],
                counts[kUserObjects],
                counts[kUserObjectsPeak],
                counts[kUserObjectsPeak],
                counts[kGdiObjects],
                counts[kGdiObjects],
                counts[kGdiObjectsPeak],
                counts[kGdiObjectsPeak]);
}

// The account of a service station's logon session, where it can be told.
static const WCHAR *StationAccount(const WCHAR *pszStation, const SessionProcesses *pProcesses)
{
    LogonId logon = {};
    if (!ParseServiceStation(pszStation, &logon))
        return NULL;
    return pProcesses != NULL ? AccountOfLogon(logon, pProcesses->pProcesses, pProcesses->count)
                              : AccountOfLogon(logon, NULL, 0);
}

static void WriteJsonDesktop(const SessionDesktop &desktop, const SessionProcesses *pProcesses)
{
    WriteFormat(kOut,
                "{\"windowStation\":%j,\"desktop\":%j,\"heapKb\":%n,\"error\":%e,\"account\":%j,\"current\":%s}",
                desktop.station,
                desktop.desktop,
                desktop.heapKb,
                desktop.heapKb,
                StationAccount(desktop.station, pProcesses),
                desktop.current ? L"true" : L"false");
}

static void WriteJsonDesktopList(const SessionDesktops &desktops, const SessionProcesses *pProcesses)
{
    WriteFormat(kOut, ",\"desktops\":[");
    for (size_t i = 0; i < desktops.count; i++) {
        WriteFormat(kOut, i > 0 ? "," : "");
        WriteJsonDesktop(desktops.pDesktops[i], pProcesses);
    }
    WriteFormat(kOut, "]");
}

void WriteJsonDesktopMembers(const SessionDesktop &own, const SessionDesktops &desktops)
{
    WriteFormat(kOut, ",\"desktop\":");
    WriteJsonDesktop(own, NULL);
    WriteJsonDesktopList(desktops, NULL);
}

// "WinSta0\Default: heap 768 KB", "Service-0x0-3e5$: its desktops cannot be
// listed (error 5)", "unknown (error 6)" when not even the name is known.
static void WriteDesktopHeap(const SessionDesktop &desktop)
{
    const ObjectCount &heap = desktop.heapKb;
    if (desktop.station[0] == 0)
        WriteFormat(kOut, "%c", heap);
    else if (desktop.desktop[0] == 0)
        WriteFormat(kOut,
                    heap.error != 0 ? "%s: its desktops cannot be listed (error %u)"
                                    : "%s: its desktops cannot be listed",
                    desktop.station,
                    heap.error);
    else
        WriteFormat(
            kOut, heap.known ? "%s\\%s: heap %c KB" : "%s\\%s: heap %c", desktop.station, desktop.desktop, heap);
}

static bool IsName(const WCHAR *pszText, const WCHAR *pszName)
{
    size_t cchText = 0;
    BoundedLength(pszText, kObjectNameChars, &cchText);
    return IsSameIgnoringAsciiCase(pszText, cchText, pszName);
}

// The configured size that a desktop's heap follows, or 0 where none does:
// Winlogon, Disconnect and the desktops that programs make have sizes of their own.
static HeapSizeKb ConfiguredSizeOf(const SessionDesktop &desktop, const SharedSectionSizes &configured)
{
    LogonId logon = {};
    if (!IsName(desktop.desktop, L"Default"))
        return 0;
    if (IsName(desktop.station, L"WinSta0"))
        return configured.interactiveKb;
    return ParseServiceStation(desktop.station, &logon) ? configured.nonInteractiveKb : 0;
}

void WriteOwnDesktopLine(const SessionDesktop &own, const SharedSectionSizes &configured)
{
    const HeapSizeKb configuredKb = ConfiguredSizeOf(own, configured);
    WriteFormat(kOut, "This desktop: ");
    WriteDesktopHeap(own);
    if (own.heapKb.known && configuredKb != 0 && configuredKb != own.heapKb.value)
        WriteFormat(kOut, "; the configured %u KB takes effect when Windows restarts", configuredKb);
    WriteFormat(kOut, ".\r\n");
}

static const WCHAR *NearQuotaName(unsigned reached)
{
    static const WCHAR *const kNames[] = {NULL, L"USER", L"GDI", L"USER and GDI"};
    return kNames[reached & 3];
}

// The top processes and every process near a quota, in the order of the ranking.
static bool IsReported(const SessionProcesses &processes, size_t index, uint32_t top)
{
    return index < top || NearQuota(processes.pProcesses[index], processes.quotas) != 0;
}

// A logon session's sum: unknown when no process's count was known.
static ObjectCount SumOf(uint32_t sum, uint32_t unknown, uint32_t processes)
{
    const ObjectCount count = {unknown < processes, sum, 0};
    return count;
}

static const WCHAR *ServiceStation(bool logonKnown, LogonId logon, WCHAR (&szStation)[kServiceStationChars])
{
    FormatServiceStation(logon, szStation);
    return logonKnown ? szStation : NULL;
}

static ObjectCount ErrorOf(DWORD dwError)
{
    const ObjectCount count = {false, 0, dwError};
    return count;
}

static void WriteJsonReport(const SessionDesktops &desktops,
                            const SessionProcesses &processes,
                            const LogonSessionTotals *pTotals,
                            size_t cTotals,
                            uint32_t top)
{
    WCHAR szStation[kServiceStationChars] = {};
    const ObjectCount session = {processes.listed, processes.sessionId, 0};
    WriteFormat(kOut, "{\"sessionId\":%n", session);
    WriteJsonDesktopList(desktops, &processes);
    WriteFormat(kOut, ",\"logonSessions\":[");
    for (size_t i = 0; i < cTotals; i++) {
        const LogonSessionTotals &totals = pTotals[i];
        WriteFormat(kOut,
                    "%s{\"windowStation\":%j,\"account\":%j,\"processes\":%u,\"userObjects\":%n,\"gdiObjects\":%n,"
                    "\"userObjectsUnknown\":%u,\"gdiObjectsUnknown\":%u}",
                    i > 0 ? L"," : L"",
                    ServiceStation(totals.logonKnown, totals.logon, szStation),
                    totals.logonKnown ? AccountOfLogon(totals.logon, processes.pProcesses, processes.count) : NULL,
                    totals.processes,
                    SumOf(totals.userObjects, totals.userUnknown, totals.processes),
                    SumOf(totals.gdiObjects, totals.gdiUnknown, totals.processes),
                    totals.userUnknown,
                    totals.gdiUnknown);
    }
    WriteFormat(kOut, "],\"processes\":[");
    for (size_t i = 0, written = 0; i < processes.count; i++) {
        const HolderProcess &process = processes.pProcesses[i];
        if (!IsReported(processes, i, top))
            continue;
        WriteFormat(kOut,
                    "%s{\"processId\":%u,\"name\":%j,\"account\":%j,\"accountError\":%e",
                    written++ > 0 ? L"," : L"",
                    process.processId,
                    process.name,
                    process.account,
                    ErrorOf(process.account[0] == 0 ? process.accountError : 0));
        WriteJsonCounts(process.counts);
        WriteFormat(kOut,
                    ",\"services\":%j,\"nearQuota\":%j,\"windowStation\":%j}",
                    process.services,
                    NearQuotaName(NearQuota(process, processes.quotas)),
                    ServiceStation(process.logonKnown, process.logon, szStation));
    }
    WriteFormat(kOut,
                "],\"processesNotOpened\":%u,\"session\":{\"processes\":%u",
                static_cast<unsigned>(processes.notOpened),
                static_cast<unsigned>(processes.count));
    WriteJsonCounts(processes.totals);
    WriteFormat(kOut,
                "},\"quotas\":{\"userObjects\":%n,\"userObjectsError\":%e,\"userObjectsDefault\":%s,"
                "\"gdiObjects\":%n,\"gdiObjectsError\":%e,\"gdiObjectsDefault\":%s}",
                processes.quotas.user,
                processes.quotas.user,
                processes.userQuotaDefault ? L"true" : L"false",
                processes.quotas.gdi,
                processes.quotas.gdi,
                processes.gdiQuotaDefault ? L"true" : L"false");
    // The errors that kept a whole part from being read.
    WriteFormat(kOut,
                ",\"stationsError\":%e,\"stationRestoreError\":%e,\"servicesError\":%e}\r\n",
                ErrorOf(desktops.stationsError),
                ErrorOf(desktops.restoreError),
                ErrorOf(processes.servicesError));
}

static void WriteProcessLine(const HolderProcess &process)
{
    WriteFormat(kOut, "  %u %s", process.processId, process.name[0] != 0 ? process.name : L"(no name)");
    WriteCountPair(L": USER ", process.counts[kUserObjects], process.counts[kUserObjectsPeak]);
    WriteCountPair(L", GDI ", process.counts[kGdiObjects], process.counts[kGdiObjectsPeak]);
    if (process.account[0] != 0)
        WriteFormat(kOut, "; %s", process.account);
    else
        WriteFormat(kOut, "; account %c", ErrorOf(process.accountError));
    WriteFormat(kOut, process.services[0] != 0 ? "; services: %s\r\n" : "\r\n", process.services);
}

static void WriteTextReport(const SessionDesktops &desktops,
                            const SessionProcesses &processes,
                            const LogonSessionTotals *pTotals,
                            size_t cTotals,
                            uint32_t top)
{
    WCHAR szStation[kServiceStationChars] = {};
    WriteFormat(kOut, "Desktops of this session, with the heap size each was created with:\r\n");
    for (size_t i = 0; i < desktops.count; i++) {
        const SessionDesktop &desktop = desktops.pDesktops[i];
        const WCHAR *pszAccount = StationAccount(desktop.station, &processes);
        WriteFormat(kOut, "  ");
        WriteDesktopHeap(desktop);
        WriteFormat(kOut, pszAccount != NULL ? "; %s" : "", pszAccount);
        WriteFormat(kOut, desktop.current ? "; this program's desktop\r\n" : "\r\n");
    }
    if (desktops.stationsError != 0)
        WriteFormat(kOut, "  The window stations cannot be listed (error %u).\r\n", desktops.stationsError);
    if (processes.listed)
        WriteFormat(kOut,
                    "Processes of session %u by USER objects, the top %u of %u; %u could not be opened:\r\n",
                    processes.sessionId,
                    static_cast<unsigned>(top < processes.count ? top : processes.count),
                    static_cast<unsigned>(processes.count),
                    static_cast<unsigned>(processes.notOpened));
    else
        WriteFormat(kOut, "The processes of this session cannot be listed.\r\n");
    for (size_t i = 0; i < processes.count; i++) {
        if (IsReported(processes, i, top))
            WriteProcessLine(processes.pProcesses[i]);
    }
    WriteFormat(kOut, cTotals > 0 ? "By logon session, with the window station a service of it gets:\r\n" : "");
    for (size_t i = 0; i < cTotals; i++) {
        const LogonSessionTotals &totals = pTotals[i];
        const WCHAR *pszAccount = AccountOfLogon(totals.logon, processes.pProcesses, processes.count);
        if (totals.logonKnown)
            WriteFormat(kOut,
                        "  %s (%s): ",
                        ServiceStation(true, totals.logon, szStation),
                        pszAccount != NULL ? pszAccount : L"account unknown");
        else
            WriteFormat(kOut, "  logon session unknown: ");
        WriteFormat(kOut,
                    "processes %u, USER %c, GDI %c",
                    totals.processes,
                    SumOf(totals.userObjects, totals.userUnknown, totals.processes),
                    SumOf(totals.gdiObjects, totals.gdiUnknown, totals.processes));
        WriteFormat(kOut,
                    totals.userUnknown + totals.gdiUnknown > 0
                        ? "; not counted: the USER objects of %u, the GDI objects of %u\r\n"
                        : "\r\n",
                    totals.userUnknown,
                    totals.gdiUnknown);
    }
    if (processes.listed) {
        WriteFormat(kOut, "Session %u in all", processes.sessionId);
        WriteCountPair(L": USER ", processes.totals[kUserObjects], processes.totals[kUserObjectsPeak]);
        WriteCountPair(L", GDI ", processes.totals[kGdiObjects], processes.totals[kGdiObjectsPeak]);
        WriteFormat(kOut, ".\r\n");
    }
    WriteFormat(kOut,
                "Quotas per process: USER %c%s, GDI %c%s.\r\n",
                processes.quotas.user,
                processes.userQuotaDefault ? L" (Windows' default)" : L"",
                processes.quotas.gdi,
                processes.gdiQuotaDefault ? L" (Windows' default)" : L"");
    for (size_t i = 0; i < processes.count; i++) {
        const HolderProcess &process = processes.pProcesses[i];
        const unsigned reached = NearQuota(process, processes.quotas);
        if (reached != 0)
            WriteFormat(kOut,
                        "Process %u (%s) is near its own %s object quota: its failures are error 1158 in that "
                        "process alone, and raising the desktop heap does not help it.\r\n",
                        process.processId,
                        process.name,
                        NearQuotaName(reached));
    }
    WriteFormat(kOut,
                "How much of a desktop heap is used cannot be read on Windows Vista and later without a kernel "
                "debugger: these counts show who holds objects on the session's desktops.\r\n");
}

int ReportDesktops(uint32_t top, bool json)
{
    SessionDesktops desktops = {};
    SessionProcesses processes = {};
    LogonSessionTotals *pTotals = NULL;
    size_t cTotals = 0;
    int exitCode = ERROR_NOT_ENOUGH_MEMORY;

    if (!ReadSessionDesktops(&desktops) || !ReadSessionProcesses(&processes))
        goto finish;
    pTotals = static_cast<LogonSessionTotals *>(
        HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, (processes.count + 1) * sizeof(LogonSessionTotals)));
    if (pTotals == NULL)
        goto finish;
    RankHolders(processes.pProcesses, processes.count);
    cTotals = GroupByLogonSession(processes.pProcesses, processes.count, pTotals);
    if (json)
        WriteJsonReport(desktops, processes, pTotals, cTotals, top);
    else
        WriteTextReport(desktops, processes, pTotals, cTotals, top);
    exitCode = ERROR_SUCCESS;

finish:
    if (exitCode != ERROR_SUCCESS)
        WriteFormat(STD_ERROR_HANDLE, "MorvantaCli: there is not enough memory to read the desktops.\r\n");
    if (pTotals != NULL)
        HeapFree(GetProcessHeap(), 0, pTotals);
    ReleaseSessionProcesses(&processes);
    ReleaseSessionDesktops(&desktops);
    return exitCode;
}
