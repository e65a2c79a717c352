// The console companion's status report.
#include "cli_status.h"

#include <windows.h>

#include "bounded_string.h"
#include "cli_desktops.h"
#include "cli_output.h"
#include "subsystem_process.h"
#include "system_log.h"

enum RestartPending { kPendingUnknown, kPendingNo, kPendingYes };

const size_t kReportLineChars = 256; // the longest line of the report, JSON included
const size_t kEventTimeChars = 24;   // "2026-12-09 14:02:11 UTC"

// Why the sizes in effect are unknown, in a sentence an administrator can act on.
static const char *UnknownReason(InEffectStatus status)
{
    switch (status) {
    case kInEffectNotSupported:
        return "this version of Windows lacks what reading them needs (Windows Vista or later)";
    case kInEffectNotFound:
        return "no Windows subsystem process (csrss.exe in the system directory) was found in this session";
    case kInEffectAccessDenied:
        return "the Windows subsystem process refused access; run from an elevated prompt (before Windows 8.1, as "
               "SYSTEM)";
    case kInEffectOtherBitness:
        return "this Windows gives the command line of the Windows subsystem process only from that process's "
               "memory, which a program of another bitness cannot read soundly";
    case kInEffectNoSharedSection:
        return "the command line of the Windows subsystem process holds no desktop heap size";
    default:
        return "the command line of the Windows subsystem process could not be read";
    }
}

// Why the events since the start are unknown.
static const char *EventsUnknownReason(EventsStatus status)
{
    switch (status) {
    case kEventsNotSupported:
        return "reading them needs the Windows Event Log (Windows Vista or later)";
    case kEventsAccessDenied:
        return "this account may not read the System log; run as an administrator or as a member of Event Log "
               "Readers";
    case kEventsReadFailed:
        return "the System log could not be read to the end";
    default:
        return "the System log could not be queried";
    }
}

// A size that cannot be had (0) is unknown on its side and decides nothing.
static RestartPending CompareSizes(const SharedSectionSizes &configured, const SharedSectionSizes *pInEffect)
{
    if (pInEffect == NULL)
        return kPendingUnknown;
    const HeapSizeKb configuredKb[] = {configured.sharedKb, configured.interactiveKb, configured.nonInteractiveKb};
    const HeapSizeKb inEffectKb[] = {pInEffect->sharedKb, pInEffect->interactiveKb, pInEffect->nonInteractiveKb};
    RestartPending pending = kPendingNo;
    for (int i = 0; i < 3; i++) {
        if (configuredKb[i] == 0 || inEffectKb[i] == 0)
            pending = kPendingUnknown;
        else if (configuredKb[i] != inEffectKb[i])
            return kPendingYes;
    }
    return pending;
}

// The pieces are short program texts and numbers: the line cannot be cut.
static void Append(WCHAR (&szLine)[kReportLineChars], const WCHAR *pszPiece)
{
    BoundedAppend(szLine, kReportLineChars, pszPiece);
}

static void AppendSize(WCHAR (&szLine)[kReportLineChars], HeapSizeKb sizeKb, const WCHAR *pszUnknown)
{
    WCHAR szDigits[kHeapSizeTextChars] = {};
    FormatHeapSize(sizeKb, szDigits);
    Append(szLine, sizeKb != 0 ? szDigits : pszUnknown);
}

static void AppendJsonSizes(WCHAR (&szLine)[kReportLineChars], const SharedSectionSizes *pSizes)
{
    if (pSizes == NULL) {
        Append(szLine, L"null");
        return;
    }
    Append(szLine, L"{\"sharedKb\":");
    AppendSize(szLine, pSizes->sharedKb, L"null");
    Append(szLine, L",\"interactiveKb\":");
    AppendSize(szLine, pSizes->interactiveKb, L"null");
    Append(szLine, L",\"nonInteractiveKb\":");
    AppendSize(szLine, pSizes->nonInteractiveKb, L"null");
    Append(szLine, L"}");
}

// A time of the log in UTC: "2026-12-09T14:02:11Z" for JSON, "2026-12-09
// 14:02:11 UTC" for a person.
static void FormatEventTime(ULONGLONG time, bool json, WCHAR (&szTime)[kEventTimeChars])
{
    FILETIME fileTime = {static_cast<DWORD>(time), static_cast<DWORD>(time >> 32)};
    SYSTEMTIME utc = {};
    szTime[0] = 0;
    if (!FileTimeToSystemTime(&fileTime, &utc))
        return;
    const WORD parts[] = {utc.wYear, utc.wMonth, utc.wDay, utc.wHour, utc.wMinute, utc.wSecond};
    const WCHAR *const separators[] = {L"-", L"-", json ? L"T" : L" ", L":", L":", json ? L"Z" : L" UTC"};
    for (int i = 0; i < 6; i++) {
        WCHAR szDigits[5] = {};
        int cchDigits = i == 0 ? 4 : 2;
        for (int j = cchDigits - 1, value = parts[i]; j >= 0; j--, value /= 10)
            szDigits[j] = static_cast<WCHAR>(L'0' + value % 10);
        BoundedAppend(szTime, kEventTimeChars, szDigits);
        BoundedAppend(szTime, kEventTimeChars, separators[i]);
    }
}

static void AppendJsonTally(WCHAR (&szLine)[kReportLineChars], const WCHAR *pszKey, const HeapEventTally &tally)
{
    Append(szLine, L",\"");
    Append(szLine, pszKey);
    Append(szLine, L"\":{\"count\":");
    AppendSize(szLine, tally.count, L"0");
    Append(szLine, L",\"last\":");
    if (tally.count == 0) {
        Append(szLine, L"null");
    } else {
        WCHAR szTime[kEventTimeChars] = {};
        FormatEventTime(tally.lastTime, true, szTime);
        Append(szLine, L"\"");
        Append(szLine, szTime);
        Append(szLine, L"\"");
    }
}

// The events as JSON: names from the log are escaped, each in a piece of
// its own, so that no line buffer can cut them.
static void WriteJsonEvents(const HeapEventsSinceStart *pEvents)
{
    static const WCHAR *const kKeys[] = {
        L"heapAllocationFailed", L"desktopCreationFailed", L"sizesRejected", L"startFailures"};
    WCHAR szLine[kReportLineChars] = L",\"sinceStart\":";
    if (pEvents == NULL) {
        WriteText(STD_OUTPUT_HANDLE, {szLine, L"null"});
        return;
    }
    WCHAR szTime[kEventTimeChars] = {};
    FormatEventTime(pEvents->startTime, true, szTime);
    WriteText(STD_OUTPUT_HANDLE, {szLine, L"{\"start\":\"", szTime, L"\""});
    for (int kind = 0; kind < kHeapEventKinds; kind++) {
        szLine[0] = 0;
        AppendJsonTally(szLine, kKeys[kind], pEvents->tallies[kind]);
        if (kind != kStartFailure)
            Append(szLine, L"}");
        WriteText(STD_OUTPUT_HANDLE, {szLine});
    }
    WriteText(STD_OUTPUT_HANDLE, {L",\"programs\":["});
    for (size_t i = 0; i < pEvents->programCount; i++) {
        WCHAR szName[kProgramNameChars * 6] = {};
        EscapeJsonText(pEvents->programs[i], szName, kProgramNameChars * 6);
        WriteText(STD_OUTPUT_HANDLE, {i == 0 ? L"\"" : L",\"", szName, L"\""});
    }
    WriteText(STD_OUTPUT_HANDLE, {L"]}}"});
}

static void WriteJsonReport(const SharedSectionSizes &configured,
                            const SharedSectionSizes *pInEffect,
                            RestartPending pending,
                            const SessionDesktop &own,
                            const HeapEventsSinceStart *pEvents)
{
    SessionDesktops desktops = {};
    static const WCHAR *const kPending[] = {L"null", L"false", L"true"};
    WCHAR szLine[kReportLineChars] = L"{\"configured\":";
    AppendJsonSizes(szLine, &configured);
    Append(szLine, L",\"inEffect\":");
    AppendJsonSizes(szLine, pInEffect);
    Append(szLine, L",\"restartPending\":");
    Append(szLine, kPending[pending]);
    WriteText(STD_OUTPUT_HANDLE, {szLine});
    // Out of memory, the list is empty: the members stay, the status does not depend on them.
    ReadSessionDesktops(&desktops);
    WriteJsonDesktopMembers(own, desktops);
    ReleaseSessionDesktops(&desktops);
    WriteJsonEvents(pEvents);
    WriteText(STD_OUTPUT_HANDLE, {L"}\r\n"});
}

// Pads the line with spaces so that the size, or "unknown", ends at column cchEnd.
static void AppendAligned(WCHAR (&szLine)[kReportLineChars], HeapSizeKb sizeKb, size_t cchEnd)
{
    WCHAR szCell[kReportLineChars] = {};
    size_t cchLine = 0, cchCell = 0;
    AppendSize(szCell, sizeKb, L"unknown");
    BoundedLength(szLine, kReportLineChars, &cchLine);
    BoundedLength(szCell, kReportLineChars, &cchCell);
    for (; cchLine + cchCell < cchEnd; cchLine++)
        Append(szLine, L" ");
    Append(szLine, szCell);
}

static void WriteTableRow(const WCHAR *pszLabel, HeapSizeKb configuredKb, HeapSizeKb inEffectKb)
{
    WCHAR szLine[kReportLineChars] = {};
    Append(szLine, pszLabel);
    AppendAligned(szLine, configuredKb, 31); // under "configured" and "in effect"
    AppendAligned(szLine, inEffectKb, 44);
    Append(szLine, L"\r\n");
    WriteText(STD_OUTPUT_HANDLE, {szLine});
}

static void WriteTableReport(const SharedSectionSizes &configured,
                             const SharedSectionSizes *pInEffect,
                             DWORD dwSessionId,
                             RestartPending pending,
                             const SessionDesktop &own)
{
    const SharedSectionSizes unknown = {};
    const SharedSectionSizes &inEffect = pInEffect != NULL ? *pInEffect : unknown;
    WCHAR szSession[kHeapSizeTextChars] = {};
    FormatHeapSize(dwSessionId, szSession);
    WriteText(STD_OUTPUT_HANDLE, {L"Desktop heap (KB)    configured    in effect\r\n"});
    WriteTableRow(L"shared", configured.sharedKb, inEffect.sharedKb);
    WriteTableRow(L"interactive", configured.interactiveKb, inEffect.interactiveKb);
    WriteTableRow(L"non-interactive", configured.nonInteractiveKb, inEffect.nonInteractiveKb);
    if (pInEffect != NULL)
        WriteText(STD_OUTPUT_HANDLE,
                  {L"In effect: the command line of the Windows subsystem process of session ", szSession, L".\r\n"});
    if (pending == kPendingYes)
        WriteFormat(STD_OUTPUT_HANDLE,
                    "A restart is pending: the configured sizes take effect when Windows restarts.\r\n"
                    "Only a restart counts: where Fast Startup is on (the default since Windows 8), a shut down "
                    "keeps the running sizes.\r\n");
    else if (pending == kPendingNo)
        WriteFormat(STD_OUTPUT_HANDLE, "No restart is pending: the configured sizes are in effect.\r\n");
    else if (pInEffect == NULL)
        WriteFormat(STD_OUTPUT_HANDLE,
                    "Whether a restart is pending cannot be told: the sizes in effect are unknown.\r\n");
    else
        WriteFormat(STD_OUTPUT_HANDLE,
                    "Whether a restart is pending cannot be told: the sizes that are known agree, and a size cannot "
                    "be read on one side.\r\n");
    WriteOwnDesktopLine(own, configured);
}

// One line per kind of event, then the verdicts that apply; unknown events
// get no verdict: the line on standard error says why.
static void WriteTextEvents(const HeapEventsSinceStart *pEvents)
{
    static const WCHAR *const kLabels[] = {
        L"Desktop heap allocation failures (event 243): ",
        L"Desktops not created (event 244): ",
        L"SharedSection sizes rejected (event 1046): ",
        L"Programs that failed to start with 0xC0000142: ",
    };
    static const char *const kVerdicts[] = {
        "A desktop heap ran out since Windows started (event 243). For services and build agents it is usually "
        "the non-interactive heap, the third number: raise it (MorvantaCli set 4096 --non-interactive) and "
        "restart. Windows logs 243 once per session, so the count is a lower bound.\r\n",
        "Windows could not create a desktop for lack of room for its heap (event 244). Raising a size makes this "
        "worse: run fewer desktops, or give services smaller non-interactive heaps.\r\n",
        "Windows rejected the SharedSection sizes at this start (event 1046). Lower them, then restart.\r\n",
        "Programs failed to start with 0xC0000142 since Windows started. A full non-interactive heap (the third "
        "number) causes this, and so does a desktop that the program may not open; raise the third number if "
        "nothing else explains it.\r\n",
        "No desktop heap event since Windows started.\r\n",
    };
    WCHAR szTime[kEventTimeChars] = {};
    if (pEvents == NULL) {
        for (int kind = 0; kind < kHeapEventKinds; kind++)
            WriteText(STD_OUTPUT_HANDLE, {kLabels[kind], L"unknown\r\n"});
        return;
    }
    FormatEventTime(pEvents->startTime, false, szTime);
    WriteText(STD_OUTPUT_HANDLE, {L"Since Windows started at ", szTime, L":\r\n"});
    for (int kind = 0; kind < kHeapEventKinds; kind++) {
        const HeapEventTally &tally = pEvents->tallies[kind];
        WCHAR szLine[kReportLineChars] = {};
        Append(szLine, kLabels[kind]);
        AppendSize(szLine, tally.count, L"0");
        if (tally.count > 0) {
            FormatEventTime(tally.lastTime, false, szTime);
            Append(szLine, L", the last at ");
            Append(szLine, szTime);
        }
        WriteText(STD_OUTPUT_HANDLE, {szLine});
        for (size_t i = 0; kind == kStartFailure && i < pEvents->programCount; i++)
            WriteText(STD_OUTPUT_HANDLE, {i == 0 ? L": " : L", ", pEvents->programs[i]});
        WriteText(STD_OUTPUT_HANDLE, {L"\r\n"});
    }
    unsigned verdicts = ChooseHeapVerdicts(*pEvents);
    for (int i = 0; i < 5; i++) {
        if ((verdicts & (1u << i)) != 0)
            WriteFormat(STD_OUTPUT_HANDLE, kVerdicts[i]);
    }
}

int ReportHeapStatus(const SharedSectionSizes &configured, bool json)
{
    SharedSectionSizes inEffect = {};
    DWORD dwSessionId = 0;
    InEffectStatus status = ReadSizesInEffect(&inEffect, &dwSessionId);
    const SharedSectionSizes *pInEffect = status == kInEffectRead ? &inEffect : NULL;
    RestartPending pending = CompareSizes(configured, pInEffect);
    HeapEventsSinceStart events = {};
    EventsStatus eventsStatus = ReadHeapEventsSinceStart(&events);
    const HeapEventsSinceStart *pEvents = eventsStatus == kEventsRead ? &events : NULL;
    SessionDesktop own = {};
    ReadOwnDesktop(&own);

    if (pInEffect == NULL) {
        WriteFormat(STD_ERROR_HANDLE, "MorvantaCli: the sizes in effect are unknown: ");
        WriteFormat(STD_ERROR_HANDLE, UnknownReason(status));
        WriteFormat(STD_ERROR_HANDLE, ".\r\n");
    }
    if (pEvents == NULL) {
        WriteFormat(STD_ERROR_HANDLE, "MorvantaCli: the events since the last start are unknown: ");
        WriteFormat(STD_ERROR_HANDLE, EventsUnknownReason(eventsStatus));
        WriteFormat(STD_ERROR_HANDLE, ".\r\n");
    }
    if (json) {
        WriteJsonReport(configured, pInEffect, pending, own, pEvents);
    } else {
        WriteTableReport(configured, pInEffect, dwSessionId, pending, own);
        WriteTextEvents(pEvents);
    }

    // The exit code speaks of the sizes only.
    if (pending == kPendingYes)
        return ERROR_SUCCESS_REBOOT_REQUIRED;
    return pending == kPendingNo ? ERROR_SUCCESS : ERROR_NOT_FOUND;
}
