// The console companion's desktops report.
#include "cli_desktops.h"

#include <windows.h>

#include "ascii_case.h"
#include "bounded_string.h"
#include "cli_output.h"

static const DWORD kOut = STD_OUTPUT_HANDLE;

// "812", or "unknown (error 120)".
static void WriteCount(const ObjectCount &count)
{
    if (count.known)
        WriteFormat(kOut, "%u", count.value);
    else if (count.error != 0)
        WriteFormat(kOut, "unknown (error %u)", count.error);
    else
        WriteFormat(kOut, "unknown");
}

// "USER 812 (peak 900)"; the peak only where the count now is known.
static void WriteCountPair(const char *pszLabel, const ObjectCount &now, const ObjectCount &peak)
{
    WriteFormat(kOut, pszLabel);
    WriteCount(now);
    if (!now.known)
        return;
    WriteFormat(kOut, " (peak ");
    WriteCount(peak);
    WriteFormat(kOut, ")");
}

// ,"key":812 or ,"key":null,"keyError":120, the error only where there is one.
static void WriteJsonCount(const WCHAR *pszKey, const ObjectCount &count)
{
    if (count.known)
        WriteFormat(kOut, ",\"%s\":%u", pszKey, count.value);
    else if (count.error != 0)
        WriteFormat(kOut, ",\"%s\":null,\"%sError\":%u", pszKey, pszKey, count.error);
    else
        WriteFormat(kOut, ",\"%s\":null", pszKey);
}

static void WriteJsonCounts(const ObjectCount (&counts)[kGuiObjectCounts])
{
    static const WCHAR *const kKeys[kGuiObjectCounts] = {
        L"userObjects", L"userObjectsPeak", L"gdiObjects", L"gdiObjectsPeak"};
    for (int i = 0; i < kGuiObjectCounts; i++)
        WriteJsonCount(kKeys[i], counts[i]);
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
    WriteFormat(kOut, "{\"windowStation\":%j,\"desktop\":%j,\"heapKb\":", desktop.station, desktop.desktop);
    if (desktop.heapKb.known)
        WriteFormat(kOut, "%u,\"error\":null", desktop.heapKb.value);
    else if (desktop.heapKb.error != 0)
        WriteFormat(kOut, "null,\"error\":%u", desktop.heapKb.error);
    else
        WriteFormat(kOut, "null,\"error\":null");
    WriteFormat(kOut,
                ",\"account\":%j,\"current\":%s}",
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
    if (desktop.station[0] == 0) {
        WriteCount(desktop.heapKb);
    } else if (desktop.desktop[0] == 0) {
        WriteFormat(kOut, "%s: its desktops cannot be listed", desktop.station);
        if (desktop.heapKb.error != 0)
            WriteFormat(kOut, " (error %u)", desktop.heapKb.error);
    } else {
        WriteFormat(kOut, "%s\\%s: heap ", desktop.station, desktop.desktop);
        WriteCount(desktop.heapKb);
        WriteFormat(kOut, desktop.heapKb.known ? " KB" : "");
    }
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

static void WriteJsonReport(const SessionDesktops &desktops,
                            const SessionProcesses &processes,
                            const LogonSessionTotals *pTotals,
                            size_t cTotals,
                            uint32_t top)
{
    WCHAR szStation[kServiceStationChars] = {};
    if (processes.listed)
        WriteFormat(kOut, "{\"sessionId\":%u", processes.sessionId);
    else
        WriteFormat(kOut, "{\"sessionId\":null");
    WriteJsonDesktopList(desktops, &processes);
    WriteFormat(kOut, ",\"logonSessions\":[");
    for (size_t i = 0; i < cTotals; i++) {
        const LogonSessionTotals &totals = pTotals[i];
        WriteFormat(kOut,
                    "%s{\"windowStation\":%j,\"account\":%j,\"processes\":%u",
                    i > 0 ? L"," : L"",
                    ServiceStation(totals.logonKnown, totals.logon, szStation),
                    totals.logonKnown ? AccountOfLogon(totals.logon, processes.pProcesses, processes.count) : NULL,
                    totals.processes);
        WriteJsonCount(L"userObjects", SumOf(totals.userObjects, totals.userUnknown, totals.processes));
        WriteJsonCount(L"gdiObjects", SumOf(totals.gdiObjects, totals.gdiUnknown, totals.processes));
        WriteFormat(
            kOut, ",\"userObjectsUnknown\":%u,\"gdiObjectsUnknown\":%u}", totals.userUnknown, totals.gdiUnknown);
    }
    WriteFormat(kOut, "],\"processes\":[");
    for (size_t i = 0, written = 0; i < processes.count; i++) {
        const HolderProcess &process = processes.pProcesses[i];
        if (!IsReported(processes, i, top))
            continue;
        WriteFormat(kOut,
                    "%s{\"processId\":%u,\"name\":%j,\"account\":%j",
                    written++ > 0 ? L"," : L"",
                    process.processId,
                    process.name,
                    process.account);
        if (process.account[0] == 0 && process.accountError != 0)
            WriteFormat(kOut, ",\"accountError\":%u", process.accountError);
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
    WriteFormat(kOut, "},\"quotas\":{\"userObjectsDefault\":%s", processes.userQuotaDefault ? L"true" : L"false");
    WriteJsonCount(L"userObjects", processes.quotas.user);
    WriteFormat(kOut, ",\"gdiObjectsDefault\":%s", processes.gdiQuotaDefault ? L"true" : L"false");
    WriteJsonCount(L"gdiObjects", processes.quotas.gdi);
    WriteFormat(kOut, "}");
    const struct {
        const WCHAR *pszKey;
        DWORD dwError;
    } errors[] = {{L"stationsError", desktops.stationsError},
                  {L"stationRestoreError", desktops.restoreError},
                  {L"servicesError", processes.servicesError}};
    for (const auto &error : errors) {
        if (error.dwError != 0)
            WriteFormat(kOut, ",\"%s\":%u", error.pszKey, static_cast<unsigned>(error.dwError));
    }
    WriteFormat(kOut, "}\r\n");
}

static void WriteProcessLine(const HolderProcess &process)
{
    const ObjectCount account = {false, 0, process.accountError};
    WriteFormat(kOut, "  %u %s", process.processId, process.name[0] != 0 ? process.name : L"(no name)");
    WriteCountPair(": USER ", process.counts[kUserObjects], process.counts[kUserObjectsPeak]);
    WriteCountPair(", GDI ", process.counts[kGdiObjects], process.counts[kGdiObjectsPeak]);
    if (process.account[0] != 0) {
        WriteFormat(kOut, "; %s", process.account);
    } else {
        WriteFormat(kOut, "; account ");
        WriteCount(account);
    }
    if (process.services[0] != 0)
        WriteFormat(kOut, "; services: %s", process.services);
    WriteFormat(kOut, "\r\n");
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
        if (pszAccount != NULL)
            WriteFormat(kOut, "; %s", pszAccount);
        WriteFormat(kOut, desktop.current ? "; this program's desktop\r\n" : "\r\n");
    }
    if (desktops.stationsError != 0)
        WriteFormat(kOut, "  The window stations cannot be listed (error %u).\r\n", desktops.stationsError);
    if (processes.listed) {
        WriteFormat(kOut,
                    "Processes of session %u by USER objects, the top %u of %u; %u could not be opened:\r\n",
                    processes.sessionId,
                    static_cast<unsigned>(top < processes.count ? top : processes.count),
                    static_cast<unsigned>(processes.count),
                    static_cast<unsigned>(processes.notOpened));
    } else {
        WriteFormat(kOut, "The processes of this session cannot be listed.\r\n");
    }
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
        WriteFormat(kOut, "processes %u, USER ", totals.processes);
        WriteCount(SumOf(totals.userObjects, totals.userUnknown, totals.processes));
        WriteFormat(kOut, ", GDI ");
        WriteCount(SumOf(totals.gdiObjects, totals.gdiUnknown, totals.processes));
        if (totals.userUnknown + totals.gdiUnknown > 0)
            WriteFormat(kOut,
                        "; not counted: the USER objects of %u, the GDI objects of %u",
                        totals.userUnknown,
                        totals.gdiUnknown);
        WriteFormat(kOut, "\r\n");
    }
    if (processes.listed) {
        WriteFormat(kOut, "Session %u in all", processes.sessionId);
        WriteCountPair(": USER ", processes.totals[kUserObjects], processes.totals[kUserObjectsPeak]);
        WriteCountPair(", GDI ", processes.totals[kGdiObjects], processes.totals[kGdiObjectsPeak]);
        WriteFormat(kOut, ".\r\n");
    }
    WriteFormat(kOut, "Quotas per process: USER ");
    WriteCount(processes.quotas.user);
    WriteFormat(kOut, processes.userQuotaDefault ? " (Windows' default), GDI " : ", GDI ");
    WriteCount(processes.quotas.gdi);
    WriteFormat(kOut, processes.gdiQuotaDefault ? " (Windows' default).\r\n" : ".\r\n");
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
