// Morvanta's windows as a user meets them.
#include "morvanta_windows.h"

#include <commctrl.h>
#include <stdio.h>

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

std::string IconOf(HWND hwndBox)
{
    HICON hIcon = reinterpret_cast<HICON>(SendDlgItemMessageW(hwndBox, 0x440, STM_GETICON, 0, 0));
    if (hIcon == NULL)
        return "none";
    if (hIcon == LoadIconW(NULL, IDI_WARNING))
        return "warning";
    if (hIcon == LoadIconW(NULL, IDI_QUESTION))
        return "question";
    if (hIcon == LoadIconW(NULL, IDI_INFORMATION))
        return "information";
    return "other";
}

} // namespace

std::wstring PathBesideThisProgram(const wchar_t *pszFile)
{
    WCHAR szPath[MAX_PATH] = {};
    GetModuleFileNameW(NULL, szPath, MAX_PATH);
    std::wstring path = szPath;
    return path.substr(0, path.find_last_of(L"\\/") + 1) + pszFile;
}

HWND FindMorvantaWindow(DWORD pid, bool wantDialog)
{
    FindState state = {pid, wantDialog, NULL};
    EnumWindows(MatchMorvantaWindow, reinterpret_cast<LPARAM>(&state));
    return state.hwndFound;
}

BoxSeen ReadBox(HWND hwndBox)
{
    BoxSeen box;
    box.text = WindowText(GetDlgItem(hwndBox, 0xFFFF));
    box.hwndOwner = GetWindow(hwndBox, GW_OWNER);
    box.yesNo = GetDlgItem(hwndBox, IDYES) != NULL && GetDlgItem(hwndBox, IDNO) != NULL;
    box.defaultButton = 0;
    for (int id : {IDOK, IDYES, IDNO}) {
        HWND hwndButton = GetDlgItem(hwndBox, id);
        if (hwndButton != NULL && (GetWindowLongW(hwndButton, GWL_STYLE) & BS_TYPEMASK) == BS_DEFPUSHBUTTON)
            box.defaultButton = id;
    }
    box.topmost = (GetWindowLongW(hwndBox, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0;
    box.icon = IconOf(hwndBox);
    return box;
}

// Another process's control answers only to a real WM_GETTEXT.
std::wstring WindowText(HWND hwnd)
{
    WCHAR szText[1024] = {};
    DWORD_PTR result = 0;
    SendMessageTimeoutW(hwnd, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(szText), SMTO_ABORTIFHUNG, kWaitMs, &result);
    return szText;
}

// Pointers do not cross processes: the position comes as the result.
int SpinnerPosition(HWND hwndDialog)
{
    DWORD_PTR result = 0;
    SendMessageTimeoutW(
        GetDlgItem(hwndDialog, IDC_HEAPSIZE_SPIN), UDM_GETPOS32, 0, 0, SMTO_ABORTIFHUNG, kWaitMs, &result);
    return static_cast<int>(result);
}

void PostKey(HWND hwnd, WPARAM vk)
{
    PostMessageW(hwnd, WM_KEYDOWN, vk, 1);
    PostMessageW(hwnd, WM_KEYUP, vk, static_cast<LPARAM>(0xC0000001u));
}

void PostClick(HWND hwndParent, int idButton)
{
    PostMessageW(GetDlgItem(hwndParent, idButton), BM_CLICK, 0, 0);
}

bool StepSpinner(HWND hwndDialog, int direction)
{
    int before = SpinnerPosition(hwndDialog);
    PostKey(GetDlgItem(hwndDialog, IDC_HEAPSIZE_EDIT), direction > 0 ? VK_UP : VK_DOWN);
    return PollUntil([&] { return SpinnerPosition(hwndDialog) != before; });
}

bool StartTestProcess(std::wstring commandLine,
                      LPCWSTR pszApplication,
                      BOOL inheritHandles,
                      DWORD dwFlags,
                      STARTUPINFOW *pStartup,
                      PROCESS_INFORMATION *pProcess,
                      DWORD *pdwError)
{
    for (int attempt = 0; attempt < 3; attempt++) {
        std::wstring mutableLine = commandLine; // CreateProcessW may write into it
        if (CreateProcessW(
                pszApplication, &mutableLine[0], NULL, NULL, inheritHandles, dwFlags, NULL, NULL, pStartup, pProcess)) {
            *pdwError = 0;
            return true;
        }
        *pdwError = GetLastError();
        fprintf(stderr, "start %d of a test program failed with error %lu\n", attempt + 1, *pdwError);
    }
    return false;
}

std::string ReadPipe(HANDLE hRead)
{
    std::string text;
    char buffer[4096];
    DWORD cbRead = 0;
    while (ReadFile(hRead, buffer, sizeof buffer, &cbRead, NULL) && cbRead > 0)
        text.append(buffer, cbRead);
    return text;
}
