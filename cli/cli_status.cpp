// The console companion's status report.
#include "cli_status.h"

#include <windows.h>

#include "bounded_string.h"
#include "cli_output.h"
#include "subsystem_process.h"

enum RestartPending { kPendingUnknown, kPendingNo, kPendingYes };

const size_t kReportLineChars = 256; // the longest line of the report, JSON included

// Why the sizes in effect are unknown, in a sentence an administrator can act on.
static const WCHAR *UnknownReason(InEffectStatus status)
{
    switch (status) {
    case kInEffectNotSupported:
        return L"this version of Windows lacks what reading them needs (Windows Vista or later)";
    case kInEffectNotFound:
        return L"no Windows subsystem process (csrss.exe in the system directory) was found in this session";
    case kInEffectAccessDenied:
        return L"the Windows subsystem process refused access; run from an elevated prompt (before Windows 8.1, as "
               L"SYSTEM)";
    case kInEffectOtherBitness:
        return L"this Windows gives the command line of the Windows subsystem process only from that process's "
               L"memory, which a program of another bitness cannot read soundly";
    case kInEffectNoSharedSection:
        return L"the command line of the Windows subsystem process holds no desktop heap size";
    default:
        return L"the command line of the Windows subsystem process could not be read";
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

static void
WriteJsonReport(const SharedSectionSizes &configured, const SharedSectionSizes *pInEffect, RestartPending pending)
{
    static const WCHAR *const kPending[] = {L"null", L"false", L"true"};
    WCHAR szLine[kReportLineChars] = L"{\"configured\":";
    AppendJsonSizes(szLine, &configured);
    Append(szLine, L",\"inEffect\":");
    AppendJsonSizes(szLine, pInEffect);
    Append(szLine, L",\"restartPending\":");
    Append(szLine, kPending[pending]);
    Append(szLine, L"}\r\n");
    WriteText(STD_OUTPUT_HANDLE, {szLine});
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
                             RestartPending pending)
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
        WriteText(STD_OUTPUT_HANDLE,
                  {L"A restart is pending: the configured sizes take effect when Windows restarts.\r\n"});
    else if (pending == kPendingNo)
        WriteText(STD_OUTPUT_HANDLE, {L"No restart is pending: the configured sizes are in effect.\r\n"});
    else if (pInEffect == NULL)
        WriteText(STD_OUTPUT_HANDLE,
                  {L"Whether a restart is pending cannot be told: the sizes in effect are unknown.\r\n"});
    else
        WriteText(STD_OUTPUT_HANDLE,
                  {L"Whether a restart is pending cannot be told: the sizes that are known agree, and a size "
                   L"cannot be read on one side.\r\n"});
}

int ReportHeapStatus(const SharedSectionSizes &configured, bool json)
{
    SharedSectionSizes inEffect = {};
    DWORD dwSessionId = 0;
    InEffectStatus status = ReadSizesInEffect(&inEffect, &dwSessionId);
    const SharedSectionSizes *pInEffect = status == kInEffectRead ? &inEffect : NULL;
    RestartPending pending = CompareSizes(configured, pInEffect);

    if (pInEffect == NULL)
        WriteText(STD_ERROR_HANDLE,
                  {L"MorvantaCli: the sizes in effect are unknown: ", UnknownReason(status), L".\r\n"});
    if (json)
        WriteJsonReport(configured, pInEffect, pending);
    else
        WriteTableReport(configured, pInEffect, dwSessionId, pending);

    if (pending == kPendingYes)
        return ERROR_SUCCESS_REBOOT_REQUIRED;
    return pending == kPendingNo ? ERROR_SUCCESS : ERROR_NOT_FOUND;
}
