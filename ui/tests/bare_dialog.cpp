// A fixture, not a product: the heap size dialog template with no logic,
// built with Morvanta's flags, as the floor for its size and start-up time.
#include <windows.h>

#include <commctrl.h>

#include "resource.h"

static INT_PTR CALLBACK BareDlgProc(HWND hwndDlg, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    (void)lParam;
    if (uMsg == WM_INITDIALOG)
        return TRUE;
    if (uMsg == WM_COMMAND && (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL)) {
        EndDialog(hwndDlg, 0);
        return TRUE;
    }
    return FALSE;
}

int WINAPI wWinMain(HINSTANCE hInstance, HINSTANCE hPrevInstance, PWSTR pszCmdLine, int nCmdShow)
{
    (void)hPrevInstance;
    (void)pszCmdLine;
    (void)nCmdShow;
    INITCOMMONCONTROLSEX initControls = {sizeof initControls, ICC_UPDOWN_CLASS};
    InitCommonControlsEx(&initControls);
    return static_cast<int>(DialogBoxParamW(hInstance, MAKEINTRESOURCEW(IDD_HEAPSIZE), NULL, BareDlgProc, 0));
}
