// Finds the windows of a running Morvanta.
#include "morvanta_windows.h"

#include "resource.h"

namespace {

struct FindState {
    DWORD pid;
    bool wantDialog;
    HWND hwndFound;
};

BOOL CALLBACK MatchMorvantaWindow(HWND hwnd, LPARAM lParam)
{
    FindState *pState = reinterpret_cast<FindState *>(lParam);
    DWORD pid = 0;
    WCHAR szClass[16] = {}, szTitle[16] = {};
    GetWindowThreadProcessId(hwnd, &pid);
    GetClassNameW(hwnd, szClass, 16);
    GetWindowTextW(hwnd, szTitle, 16);
    if (pid != pState->pid || !IsWindowVisible(hwnd) || lstrcmpW(szClass, L"#32770") != 0 ||
        lstrcmpW(szTitle, L"Morvanta") != 0)
        return TRUE;
    bool isDialog = GetDlgItem(hwnd, IDC_HEAPSIZE_SPIN) != NULL;
    if (isDialog == pState->wantDialog && (isDialog || GetDlgItem(hwnd, 0xFFFF) != NULL)) {
        pState->hwndFound = hwnd;
        return FALSE;
    }
    return TRUE;
}

} // namespace

HWND FindMorvantaWindow(DWORD pid, bool wantDialog)
{
    FindState state = {pid, wantDialog, NULL};
    EnumWindows(MatchMorvantaWindow, reinterpret_cast<LPARAM>(&state));
    return state.hwndFound;
}
