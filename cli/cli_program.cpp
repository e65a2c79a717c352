// The console companion: show, set and its dry run, and the status report.
#include "cli_program.h"

#include <windows.h>

#include "cli_arguments.h"
#include "cli_desktops.h"
#include "cli_output.h"
#include "cli_status.h"
#include "heap_size_field.h"
#include "nt_family.h"
#include "subsystem_store.h"
#include "text_buffer.h"

static const char kUsage[] = "Usage: MorvantaCli [show]\r\n"
                             "       MorvantaCli show --non-interactive\r\n"
                             "       MorvantaCli set SIZE [--non-interactive] [--dry-run]\r\n"
                             "       MorvantaCli status [--json]\r\n"
                             "       MorvantaCli desktops [--top N] [--json]\r\n"
                             "       MorvantaCli --help | /?\r\n"
                             "\r\n"
                             "Sizes are in KB and come from SharedSection= in the Windows subsystem command\r\n"
                             "line: its second number sizes the interactive desktop heap (the user's desktops),\r\n"
                             "its third the non-interactive one (the desktops of services and what they start;\r\n"
                             "without a third number they get the interactive size).\r\n"
                             "\r\n"
                             "show prints the interactive size, or with --non-interactive the non-interactive\r\n"
                             "one. set stores SIZE as the interactive size, or with --non-interactive as the\r\n"
                             "non-interactive one (adding the third number when there is none). SIZE is\r\n"
                             "digits only and lies between half and double the current size of that heap;\r\n"
                             "the non-interactive heap may also go up to the interactive size in one run.\r\n"
                             "--dry-run prints the value as it would be written and writes nothing. status\r\n"
                             "prints all three sizes as configured for the next start and as in effect now,\r\n"
                             "read from this session's subsystem process, then what the System log holds\r\n"
                             "about desktop heaps since Windows started (events 243, 244 and 1046, and\r\n"
                             "programs that failed to start with 0xC0000142) and what to do about it;\r\n"
                             "--json prints all of it as one line.\r\n"
                             "\r\n"
                             "desktops lists the desktops of this session with the heap size each was created\r\n"
                             "with, the N processes (10 unless --top says, up to 1000) that hold the most USER\r\n"
                             "objects with their GDI objects, accounts and services, the counts by logon\r\n"
                             "session and for the whole session, and the processes near their own USER or GDI\r\n"
                             "object quota. How much of a heap is used cannot be read. It needs no rights and\r\n"
                             "shows what those it has allow; --json prints it as one line.\r\n"
                             "\r\n"
                             "Exit codes: 0 shown or nothing to do (status: no restart pending), 3010 stored\r\n"
                             "(status: a restart is pending), 1168 status cannot tell, 87 bad argument or size\r\n"
                             "out of range, 13 value cannot be read or rewritten, 5 access denied, 1 not\r\n"
                             "Windows 2000/XP or later, else the error with which Windows refused to store\r\n"
                             "the value.\r\n";

// The heap a show or set speaks of: its name in messages and its rewrite.
struct HeapChoice {
    const WCHAR *pszName;
    WCHAR *(*pfnRewrite)(WCHAR *pszText, uint32_t dataBytes, HeapSizeKb newSizeKb);
};
static const HeapChoice kInteractiveHeap = {L"desktop heap", ReplaceHeapSize};
static const HeapChoice kNonInteractiveHeap = {L"non-interactive desktop heap", ReplaceNonInteractiveHeapSize};

static const WCHAR kNewLine[] = L"\r\n";

// The new size goes through the same store and codec as the dialog's apply,
// in the same order: open for query and set access, read afresh, rewrite,
// store, release, close.
static int StoreHeapSize(const HeapChoice &heap, HeapSizeKb currentKb, HeapSizeKb newSizeKb)
{
    HKEY hKey = NULL;
    WCHAR *pszText = NULL;
    WCHAR *pszNewText = NULL;
    DWORD cbData = 0;
    WCHAR szOld[kHeapSizeTextChars] = {};
    WCHAR szNew[kHeapSizeTextChars] = {};
    WCHAR szStatus[kHeapSizeTextChars] = {};
    LONG status = ERROR_SUCCESS;
    int exitCode = ERROR_INVALID_DATA; // the key gone, the value unreadable, or a rewrite refused

    status = OpenSubsystemKey(KEY_QUERY_VALUE | KEY_SET_VALUE, &hKey);
    if (hKey == NULL) {
        if (status == ERROR_ACCESS_DENIED)
            exitCode = ERROR_ACCESS_DENIED;
        goto finish;
    }
    if (!QuerySubsystemValue(hKey, &pszText, &cbData))
        goto release;
    pszNewText = heap.pfnRewrite(pszText, cbData, newSizeKb);
    if (pszNewText == NULL)
        goto release;
    status = StoreSubsystemValue(hKey, pszNewText);
    exitCode = status == ERROR_SUCCESS ? ERROR_SUCCESS_REBOOT_REQUIRED : static_cast<int>(status);

release:
    ReleaseText(pszNewText);
    ReleaseText(pszText);
    CloseSubsystemKey(hKey);

finish:
    FormatHeapSize(currentKb, szOld);
    FormatHeapSize(newSizeKb, szNew);
    FormatHeapSize(static_cast<HeapSizeKb>(status), szStatus);
    if (exitCode == ERROR_SUCCESS_REBOOT_REQUIRED)
        WriteText(STD_OUTPUT_HANDLE,
                  {L"The ",
                   heap.pszName,
                   L" size changed from ",
                   szOld,
                   L" KB to ",
                   szNew,
                   L" KB; it takes effect when Windows restarts.\r\n"});
    else if (exitCode == ERROR_ACCESS_DENIED)
        WriteText(STD_ERROR_HANDLE,
                  {L"MorvantaCli: an elevated administrator is needed to change the ", heap.pszName, L" size.\r\n"});
    else if (exitCode == ERROR_INVALID_DATA)
        WriteText(STD_ERROR_HANDLE, {L"MorvantaCli: the value cannot be rewritten; nothing was changed.\r\n"});
    else
        WriteText(STD_ERROR_HANDLE,
                  {L"MorvantaCli: Windows refused to store the new value (error ", szStatus, L").\r\n"});
    return exitCode;
}

// The value as it would be written, from the text read under query access.
static int ShowRewrite(const HeapChoice &heap, WCHAR *pszText, DWORD cbData, HeapSizeKb newSizeKb)
{
    WCHAR *pszNewText = heap.pfnRewrite(pszText, cbData, newSizeKb);
    if (pszNewText == NULL) {
        WriteText(STD_ERROR_HANDLE, {L"MorvantaCli: the value cannot be rewritten.\r\n"});
        return ERROR_INVALID_DATA;
    }
    WriteText(STD_OUTPUT_HANDLE, {pszNewText, kNewLine});
    ReleaseText(pszNewText);
    return ERROR_SUCCESS;
}

// Half the current size to double it, doubled without wrapping so that a
// damaged huge value can still be brought back; never 0. The non-interactive
// heap may also go up to the interactive size in one run: Windows itself
// gives non-interactive desktops that size when there is no third number.
static int ChangeHeapSize(const CliRequest &request,
                          const HeapChoice &heap,
                          const SharedSectionSizes &sizes,
                          HeapSizeKb currentKb,
                          WCHAR *pszText,
                          DWORD cbData)
{
    const uint64_t minKb = currentKb / 2 > 0 ? currentKb / 2 : 1;
    uint64_t maxKb = currentKb * 2ull;
    if (request.nonInteractive && sizes.interactiveKb > maxKb)
        maxKb = sizes.interactiveKb;
    if (maxKb > 0xFFFFFFFFu)
        maxKb = 0xFFFFFFFFu;

    if (request.newSizeKb < minKb || request.newSizeKb > maxKb) {
        WCHAR szMin[kHeapSizeTextChars] = {};
        WCHAR szMax[kHeapSizeTextChars] = {};
        FormatHeapSize(static_cast<HeapSizeKb>(minKb), szMin);
        FormatHeapSize(static_cast<HeapSizeKb>(maxKb), szMax);
        WriteText(STD_ERROR_HANDLE,
                  {L"MorvantaCli: the new size must lie between ", szMin, L" and ", szMax, L" KB.\r\n"});
        return ERROR_INVALID_PARAMETER;
    }
    if (request.newSizeKb == currentKb) {
        WCHAR szCurrent[kHeapSizeTextChars] = {};
        FormatHeapSize(currentKb, szCurrent);
        WriteText(STD_OUTPUT_HANDLE,
                  {L"The ", heap.pszName, L" size is already ", szCurrent, L" KB; nothing changed.\r\n"});
        return ERROR_SUCCESS;
    }
    if (request.dryRun)
        return ShowRewrite(heap, pszText, cbData, static_cast<HeapSizeKb>(request.newSizeKb));
    return StoreHeapSize(heap, currentKb, static_cast<HeapSizeKb>(request.newSizeKb));
}

// The value read under query access, as the dialog's start reads it:
// ERROR_SUCCESS, or 5 when the key cannot be opened for it, else 13.
static int ReadConfiguredValue(WCHAR **ppszText, DWORD *pcbData)
{
    HKEY hKey = NULL;
    bool read = false;
    LONG status = OpenSubsystemKey(KEY_QUERY_VALUE, &hKey);
    if (hKey != NULL) {
        read = QuerySubsystemValue(hKey, ppszText, pcbData);
        CloseSubsystemKey(hKey);
    }
    if (read)
        return ERROR_SUCCESS;
    return status == ERROR_ACCESS_DENIED ? ERROR_ACCESS_DENIED : ERROR_INVALID_DATA;
}

int RunHeapSizeCommand(int argc, const wchar_t *const *argv)
{
    CliRequest request = {};
    WCHAR *pszText = NULL;
    DWORD cbData = 0;
    SharedSectionSizes sizes = {};
    HeapSizeKb currentKb = 0;
    WCHAR szCurrent[kHeapSizeTextChars] = {};
    int exitCode = ERROR_SUCCESS;

    if (!ParseCliArguments(argc, argv, &request)) {
        WriteFormat(STD_ERROR_HANDLE,
                    request.badTop ? "MorvantaCli: --top takes a whole number from 1 to 1000.\r\n" : kUsage);
        return ERROR_INVALID_PARAMETER;
    }
    if (request.action == kCliHelp) {
        WriteFormat(STD_OUTPUT_HANDLE, kUsage);
        return ERROR_SUCCESS;
    }
    if (!IsNtFamily()) {
        WriteText(STD_ERROR_HANDLE,
                  {L"MorvantaCli: changing the desktop heap size is only supported on Windows 2000/XP and later.\r\n"});
        return 1;
    }

    if (request.action == kCliDesktops)
        return ReportDesktops(request.top, request.json);

    // Every command stands on the interactive size: status as show does,
    // and a command line without it is not one that Windows can start with.
    const HeapChoice &heap = request.nonInteractive ? kNonInteractiveHeap : kInteractiveHeap;
    exitCode = ReadConfiguredValue(&pszText, &cbData);
    if (exitCode == ERROR_SUCCESS) {
        ReadSharedSectionSizes(pszText, &sizes);
        currentKb = request.nonInteractive ? sizes.nonInteractiveKb : sizes.interactiveKb;
        if (currentKb == 0)
            exitCode = ERROR_INVALID_DATA;
    }
    if (exitCode != ERROR_SUCCESS) {
        WriteText(STD_ERROR_HANDLE, {L"MorvantaCli: failed to get the current size of the ", heap.pszName, L".\r\n"});
    } else if (request.action == kCliStatus) {
        exitCode = ReportHeapStatus(sizes, request.json);
    } else if (request.action == kCliShow) {
        FormatHeapSize(currentKb, szCurrent);
        WriteText(STD_OUTPUT_HANDLE, {szCurrent, kNewLine});
    } else {
        exitCode = ChangeHeapSize(request, heap, sizes, currentKb, pszText, cbData);
    }
    ReleaseText(pszText);
    return exitCode;
}
