// The console companion: show, set and its dry run.
#include "cli_program.h"

#include <windows.h>

#include "cli_arguments.h"
#include "cli_output.h"
#include "heap_size_field.h"
#include "nt_family.h"
#include "subsystem_store.h"
#include "text_buffer.h"

static const WCHAR kUsage[] = L"Usage: MorvantaCli [show]\r\n"
                              L"       MorvantaCli set SIZE [--dry-run]\r\n"
                              L"       MorvantaCli --help | /?\r\n"
                              L"\r\n"
                              L"Shows or sets the size in KB of the interactive desktop heap, the second\r\n"
                              L"number of SharedSection= in the Windows subsystem command line. SIZE is\r\n"
                              L"digits only and lies between half and double the current size. --dry-run\r\n"
                              L"prints the value as it would be written and writes nothing.\r\n"
                              L"\r\n"
                              L"Exit codes: 0 shown or nothing to do, 3010 stored (restart pending),\r\n"
                              L"87 bad argument or size out of range, 13 value cannot be read or\r\n"
                              L"rewritten, 5 access denied, 1 not Windows 2000/XP or later, else the\r\n"
                              L"error with which Windows refused to store the value.\r\n";

static const WCHAR kNewLine[] = L"\r\n";

// The new size goes through the same store and codec as the dialog's apply,
// in the same order: open for query and set access, read afresh, rewrite,
// store, release, close.
static int StoreHeapSize(HeapSizeKb currentKb, HeapSizeKb newSizeKb)
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
    pszNewText = ReplaceHeapSize(pszText, cbData, newSizeKb);
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
                  {L"The desktop heap size changed from ",
                   szOld,
                   L" KB to ",
                   szNew,
                   L" KB; it takes effect when Windows restarts.\r\n"});
    else if (exitCode == ERROR_ACCESS_DENIED)
        WriteText(STD_ERROR_HANDLE,
                  {L"MorvantaCli: an elevated administrator is needed to change the desktop heap size.\r\n"});
    else if (exitCode == ERROR_INVALID_DATA)
        WriteText(STD_ERROR_HANDLE, {L"MorvantaCli: the value cannot be rewritten; nothing was changed.\r\n"});
    else
        WriteText(STD_ERROR_HANDLE,
                  {L"MorvantaCli: Windows refused to store the new value (error ", szStatus, L").\r\n"});
    return exitCode;
}

// The value as it would be written, from the text read under query access.
static int ShowRewrite(WCHAR *pszText, DWORD cbData, HeapSizeKb newSizeKb)
{
    WCHAR *pszNewText = ReplaceHeapSize(pszText, cbData, newSizeKb);
    if (pszNewText == NULL) {
        WriteText(STD_ERROR_HANDLE, {L"MorvantaCli: the value cannot be rewritten.\r\n"});
        return ERROR_INVALID_DATA;
    }
    WriteText(STD_OUTPUT_HANDLE, {pszNewText, kNewLine});
    ReleaseText(pszNewText);
    return ERROR_SUCCESS;
}

// Half the current size to double it, doubled without wrapping so that a
// damaged huge value can still be brought back; never 0.
static int ChangeHeapSize(const CliRequest &request, HeapSizeKb currentKb, WCHAR *pszText, DWORD cbData)
{
    const uint64_t minKb = currentKb / 2 > 0 ? currentKb / 2 : 1;
    const uint64_t maxKb = static_cast<uint64_t>(currentKb) * 2 < 0xFFFFFFFFu ? currentKb * 2ull : 0xFFFFFFFFu;

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
        WriteText(STD_OUTPUT_HANDLE, {L"The desktop heap size is already ", szCurrent, L" KB; nothing changed.\r\n"});
        return ERROR_SUCCESS;
    }
    if (request.dryRun)
        return ShowRewrite(pszText, cbData, static_cast<HeapSizeKb>(request.newSizeKb));
    return StoreHeapSize(currentKb, static_cast<HeapSizeKb>(request.newSizeKb));
}

int RunHeapSizeCommand(int argc, const wchar_t *const *argv)
{
    CliRequest request = {};
    HKEY hKey = NULL;
    WCHAR *pszText = NULL;
    DWORD cbData = 0;
    HeapSizeKb currentKb = 0;
    WCHAR szCurrent[kHeapSizeTextChars] = {};
    LONG status = ERROR_SUCCESS;
    int exitCode = ERROR_SUCCESS;

    if (!ParseCliArguments(argc, argv, &request)) {
        WriteText(STD_ERROR_HANDLE, {kUsage});
        return ERROR_INVALID_PARAMETER;
    }
    if (request.action == kCliHelp) {
        WriteText(STD_OUTPUT_HANDLE, {kUsage});
        return ERROR_SUCCESS;
    }
    if (!IsNtFamily()) {
        WriteText(STD_ERROR_HANDLE,
                  {L"MorvantaCli: changing the desktop heap size is only supported on Windows 2000/XP and later.\r\n"});
        return 1;
    }

    // The current size, read under query access as the dialog's start reads it.
    status = OpenSubsystemKey(KEY_QUERY_VALUE, &hKey);
    if (hKey != NULL) {
        if (QuerySubsystemValue(hKey, &pszText, &cbData))
            currentKb = ReadHeapSize(pszText);
        CloseSubsystemKey(hKey);
    }
    if (currentKb == 0) {
        WriteText(STD_ERROR_HANDLE, {L"MorvantaCli: failed to get the current size of the desktop heap.\r\n"});
        exitCode = status == ERROR_ACCESS_DENIED ? ERROR_ACCESS_DENIED : ERROR_INVALID_DATA;
    } else if (request.action == kCliShow) {
        FormatHeapSize(currentKb, szCurrent);
        WriteText(STD_OUTPUT_HANDLE, {szCurrent, kNewLine});
    } else {
        exitCode = ChangeHeapSize(request, currentKb, pszText, cbData);
    }
    ReleaseText(pszText);
    return exitCode;
}
