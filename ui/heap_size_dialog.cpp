// The heap size dialog: shows the current size in a spinner and stores a
// changed one.
#include "heap_size_dialog.h"

#include <commctrl.h>

#include "message.h"
#include "resource.h"
#include "restart.h"
#include "subsystem_store.h"
#include "text_buffer.h"

HeapSizeKb g_currentHeapSizeKb;

void OnInitHeapSizeDialog(HWND hwndDlg)
{
    HKEY hKey = NULL;
    WCHAR *pszText = NULL;
    DWORD cbData = 0;
    HWND hwndSpin = NULL;
    // Holding an arrow speeds the spinner up: 1 at first, 256 after 8 seconds.
    UDACCEL accel[] = {{0, 1}, {2, 8}, {4, 16}, {6, 64}, {8, 256}};

    OpenSubsystemKey(KEY_QUERY_VALUE, &hKey);
    if (hKey != NULL) {
        if (QuerySubsystemValue(hKey, &pszText, &cbData)) {
            g_currentHeapSizeKb = ReadHeapSize(pszText);
            ReleaseText(pszText);
        }
        CloseSubsystemKey(hKey);
    }

    // The dialog is not visible yet, so the box has no owner.
    if (g_currentHeapSizeKb == 0) {
        ShowMessage(NULL, IDS_READ_FAILED, MB_ICONWARNING);
        EndDialog(hwndDlg, 1);
        return;
    }

    // Half to double the current size; the doubled bound wraps as a 32-bit value.
    hwndSpin = GetDlgItem(hwndDlg, IDC_HEAPSIZE_SPIN);
    SendMessageW(hwndSpin,
                 UDM_SETRANGE32,
                 static_cast<WPARAM>(g_currentHeapSizeKb / 2),
                 static_cast<LPARAM>(static_cast<INT>(g_currentHeapSizeKb * 2)));
    SendMessageW(hwndSpin, UDM_SETPOS32, 0, static_cast<LPARAM>(static_cast<INT>(g_currentHeapSizeKb)));
    SendMessageW(hwndSpin, UDM_SETACCEL, ARRAYSIZE(accel), reinterpret_cast<LPARAM>(accel));
}

void OnApplyHeapSize(HWND hwndDlg)
{
    HKEY hKey = NULL;
    WCHAR *pszText = NULL;
    WCHAR *pszNewText = NULL;
    DWORD cbData = 0;
    BOOL fPositionError = TRUE; // stays set when the control does not answer
    HeapSizeKb newSizeKb = 0;
    bool endDialog = false; // the size is unchanged, or the new one is stored

    newSizeKb = static_cast<HeapSizeKb>(SendMessageW(
        GetDlgItem(hwndDlg, IDC_HEAPSIZE_SPIN), UDM_GETPOS32, 0, reinterpret_cast<LPARAM>(&fPositionError)));
    if (fPositionError)
        newSizeKb = 0;
    endDialog = newSizeKb == g_currentHeapSizeKb;
    if (newSizeKb == 0 || endDialog)
        goto finish;

    // Read afresh and write under one handle: the rewrite keeps whatever
    // else the command line holds now, not what the dialog start saw.
    OpenSubsystemKey(KEY_QUERY_VALUE | KEY_SET_VALUE, &hKey);
    if (hKey == NULL)
        goto finish;
    if (!QuerySubsystemValue(hKey, &pszText, &cbData))
        goto release;
    pszNewText = ReplaceHeapSize(pszText, cbData, newSizeKb);
    if (pszNewText == NULL)
        goto release;
    if (StoreSubsystemValue(hKey, pszNewText) != ERROR_SUCCESS)
        goto release;

    endDialog = true;
    if (ShowMessage(hwndDlg, IDS_RESTART_PROMPT, MB_YESNO | MB_ICONQUESTION) == IDYES && !RestartSystem())
        ShowMessage(hwndDlg, IDS_RESTART_FAILED, MB_ICONWARNING);

release:
    ReleaseText(pszNewText);
    ReleaseText(pszText);
    CloseSubsystemKey(hKey);

finish:
    if (endDialog)
        EndDialog(hwndDlg, 0);
    else
        ShowMessage(hwndDlg, IDS_WRITE_FAILED, MB_ICONWARNING);
}

INT_PTR CALLBACK HeapSizeDlgProc(HWND hwndDlg, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    (void)lParam; // the initialisation value is not used

    switch (uMsg) {
    case WM_INITDIALOG:
        OnInitHeapSizeDialog(hwndDlg);
        return TRUE; // the focus goes to the first tab stop, the edit control

    case WM_COMMAND:
        // Esc, the close box and Enter away from OK all arrive as IDCANCEL.
        switch (LOWORD(wParam)) {
        case IDOK:
            OnApplyHeapSize(hwndDlg);
            return TRUE;
        case IDCANCEL:
            EndDialog(hwndDlg, 0);
            return TRUE;
        }
        return FALSE;
    }
    return FALSE;
}
