// A second thread that plays the user of the heap size dialog.
#include "dialog_user.h"

#include <commctrl.h>

#include "heap_size_dialog.h"
#include "morvanta_windows.h"
#include "program.h"
#include "resource.h"
#include "startup.h"

namespace {

const DWORD kPollMs = 10;

HWND FindMorvanta(bool wantDialog)
{
    return FindMorvantaWindow(GetCurrentProcessId(), wantDialog);
}

struct UserThreadArgs {
    UserScript pfnScript;
    void *pContext;
    UserRecord *pRecord;
    volatile LONG dialogEnded;
};

// Closes whatever is still open until the dialog has ended.
void DismissEverything(UserThreadArgs *pArgs)
{
    DWORD start = GetTickCount();
    while (!pArgs->dialogEnded && GetTickCount() - start < 3 * kUserTimeoutMs) {
        HWND hwndBox = FindMorvanta(false);
        if (hwndBox != NULL) {
            HWND hwndButton = GetDlgItem(hwndBox, IDNO);
            PostMessageW(hwndButton != NULL ? hwndButton : GetDlgItem(hwndBox, IDOK), BM_CLICK, 0, 0);
        } else {
            HWND hwndDialog = FindMorvanta(true);
            if (hwndDialog != NULL && IsWindowEnabled(hwndDialog))
                PostMessageW(hwndDialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
        }
        Sleep(50);
    }
}

DWORD WINAPI UserThread(LPVOID pParam)
{
    UserThreadArgs *pArgs = static_cast<UserThreadArgs *>(pParam);
    pArgs->pfnScript(pArgs->pRecord, pArgs->pContext);
    DismissEverything(pArgs);
    return 0;
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

static INT_PTR RunDialog(void)
{
    return DialogBoxParamW(g_hInstance, MAKEINTRESOURCEW(IDD_HEAPSIZE), NULL, HeapSizeDlgProc, 0);
}

static INT_PTR RunProgram(void)
{
    return RunHeapSizeProgram();
}

static INT_PTR RunWithUser(INT_PTR (*pfnRun)(void), UserScript pfnScript, void *pContext, UserRecord *pRecord)
{
    *pRecord = UserRecord();
    UserThreadArgs args = {pfnScript, pContext, pRecord, 0};
    HANDLE hThread = CreateThread(NULL, 0, UserThread, &args, 0, NULL);
    INT_PTR result = pfnRun();
    InterlockedExchange(&args.dialogEnded, 1);
    if (WaitForSingleObject(hThread, 4 * kUserTimeoutMs) != WAIT_OBJECT_0)
        pRecord->problems.push_back("the user thread did not end");
    CloseHandle(hThread);
    return result;
}

INT_PTR RunDialogWithUser(UserScript pfnScript, void *pContext, UserRecord *pRecord)
{
    return RunWithUser(RunDialog, pfnScript, pContext, pRecord);
}

INT_PTR RunProgramWithUser(UserScript pfnScript, void *pContext, UserRecord *pRecord)
{
    return RunWithUser(RunProgram, pfnScript, pContext, pRecord);
}

HWND WaitForDialog(UserRecord *pRecord)
{
    DWORD start = GetTickCount();
    do {
        HWND hwnd = FindMorvanta(true);
        if (hwnd != NULL && IsWindowEnabled(hwnd)) {
            pRecord->hwndDialog = hwnd;
            return hwnd;
        }
        Sleep(kPollMs);
    } while (GetTickCount() - start < kUserTimeoutMs);
    pRecord->problems.push_back("no dialog appeared");
    return NULL;
}

HWND WaitForMessageBox(UserRecord *pRecord)
{
    DWORD start = GetTickCount();
    do {
        HWND hwndDialog = FindMorvanta(true);
        if (hwndDialog != NULL)
            pRecord->hwndDialog = hwndDialog; // seen, even if only in passing
        HWND hwnd = FindMorvanta(false);
        if (hwnd != NULL)
            return hwnd;
        Sleep(kPollMs);
    } while (GetTickCount() - start < kUserTimeoutMs);
    pRecord->problems.push_back("no message box appeared");
    return NULL;
}

void ReadBox(UserRecord *pRecord, HWND hwndBox)
{
    BoxSeen box;
    WCHAR szText[kMessageBufferChars] = {};
    GetDlgItemTextW(hwndBox, 0xFFFF, szText, kMessageBufferChars);
    box.text = szText;
    box.hwndOwner = GetWindow(hwndBox, GW_OWNER);
    box.yesNo = GetDlgItem(hwndBox, IDYES) != NULL && GetDlgItem(hwndBox, IDNO) != NULL;
    box.icon = IconOf(hwndBox);
    pRecord->boxes.push_back(box);
}

bool WaitUntilGone(HWND hwnd)
{
    DWORD start = GetTickCount();
    while (IsWindow(hwnd) && IsWindowVisible(hwnd)) {
        if (GetTickCount() - start > kUserTimeoutMs)
            return false;
        Sleep(kPollMs);
    }
    return true;
}

bool Answer(UserRecord *pRecord, HWND hwndBox, int idButton)
{
    PostMessageW(GetDlgItem(hwndBox, idButton), BM_CLICK, 0, 0);
    if (WaitUntilGone(hwndBox))
        return true;
    pRecord->problems.push_back("a message box did not close");
    return false;
}

void PressOk(HWND hwndDialog)
{
    // Posted: OK may open a modal box, which a sent click would wait for.
    PostMessageW(GetDlgItem(hwndDialog, IDOK), BM_CLICK, 0, 0);
}

int SpinnerPosition(HWND hwndDialog, BOOL *pfError)
{
    return static_cast<int>(
        SendDlgItemMessageW(hwndDialog, IDC_HEAPSIZE_SPIN, UDM_GETPOS32, 0, reinterpret_cast<LPARAM>(pfError)));
}

bool StepSpinner(UserRecord *pRecord, HWND hwndDialog, int direction)
{
    BOOL fError = FALSE;
    int before = SpinnerPosition(hwndDialog, &fError);
    PostMessageW(GetDlgItem(hwndDialog, IDC_HEAPSIZE_EDIT), WM_KEYDOWN, direction > 0 ? VK_UP : VK_DOWN, 1);
    PostMessageW(GetDlgItem(hwndDialog, IDC_HEAPSIZE_EDIT),
                 WM_KEYUP,
                 direction > 0 ? VK_UP : VK_DOWN,
                 static_cast<LPARAM>(0xC0000001u));
    DWORD start = GetTickCount();
    while (SpinnerPosition(hwndDialog, &fError) == before) {
        if (GetTickCount() - start > kUserTimeoutMs) {
            pRecord->problems.push_back("the spinner did not move");
            return false;
        }
        Sleep(kPollMs);
    }
    return true;
}

void ReadSpinner(UserRecord *pRecord, HWND hwndDialog)
{
    WCHAR szText[64] = {};
    GetDlgItemTextW(hwndDialog, IDC_HEAPSIZE_EDIT, szText, 64);
    pRecord->editText = szText;
    SendDlgItemMessageW(hwndDialog,
                        IDC_HEAPSIZE_SPIN,
                        UDM_GETRANGE32,
                        reinterpret_cast<WPARAM>(&pRecord->rangeMin),
                        reinterpret_cast<LPARAM>(&pRecord->rangeMax));
    BOOL fError = FALSE;
    pRecord->position = SpinnerPosition(hwndDialog, &fError);
    pRecord->accelCount = static_cast<int>(
        SendDlgItemMessageW(hwndDialog, IDC_HEAPSIZE_SPIN, UDM_GETACCEL, 8, reinterpret_cast<LPARAM>(pRecord->accel)));
}

void AnswerOneBox(UserRecord *pRecord, void *)
{
    HWND hwndBox = WaitForMessageBox(pRecord);
    if (hwndBox == NULL)
        return;
    ReadBox(pRecord, hwndBox);
    Answer(pRecord, hwndBox, IDOK);
}
