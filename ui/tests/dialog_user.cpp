// A second thread that plays the user of the heap size dialog.
#include "dialog_user.h"

#include "heap_size_dialog.h"
#include "program.h"
#include "resource.h"
#include "startup.h"

namespace {

struct UserThreadArgs {
    UserScript pfnScript;
    void *pContext;
    UserRecord *pRecord;
    volatile LONG dialogEnded;
};

HWND FindOwn(bool wantDialog)
{
    return FindMorvantaWindow(GetCurrentProcessId(), wantDialog);
}

// A window still open after the script is a failure of the test, not
// something to click away quietly: a test that expects none must be able to fail.
void DismissLeftovers(UserThreadArgs *pArgs)
{
    if (PollUntil([&] { return pArgs->dialogEnded != 0; }))
        return;
    PollUntil(
        [&] {
            HWND hwndBox = FindOwn(false);
            HWND hwndDialog = FindOwn(true);
            if (hwndBox != NULL) {
                std::string text;
                for (wchar_t ch : WindowText(GetDlgItem(hwndBox, 0xFFFF)))
                    text.push_back(ch < 0x80 ? static_cast<char>(ch) : '?');
                pArgs->pRecord->problems.push_back("left open: the message box \"" + text + "\"");
                PostClick(hwndBox, GetDlgItem(hwndBox, IDNO) != NULL ? IDNO : IDOK);
                WaitUntilGone(pArgs->pRecord, hwndBox);
            } else if (hwndDialog != NULL && IsWindowEnabled(hwndDialog)) {
                pArgs->pRecord->problems.push_back("left open: the dialog");
                PostClick(hwndDialog, IDCANCEL);
                WaitUntilGone(pArgs->pRecord, hwndDialog);
            }
            return pArgs->dialogEnded != 0;
        },
        3 * kWaitMs);
}

DWORD WINAPI UserThread(LPVOID pParam)
{
    UserThreadArgs *pArgs = static_cast<UserThreadArgs *>(pParam);
    pArgs->pfnScript(pArgs->pRecord, pArgs->pContext);
    DismissLeftovers(pArgs);
    return 0;
}

INT_PTR RunDialog(void)
{
    return DialogBoxParamW(g_hInstance, MAKEINTRESOURCEW(IDD_HEAPSIZE), NULL, HeapSizeDlgProc, 0);
}

INT_PTR RunProgram(void)
{
    return RunHeapSizeProgram();
}

INT_PTR RunWithUser(INT_PTR (*pfnRun)(void), UserScript pfnScript, void *pContext, UserRecord *pRecord)
{
    *pRecord = UserRecord();
    UserThreadArgs args = {pfnScript, pContext, pRecord, 0};
    HANDLE hThread = CreateThread(NULL, 0, UserThread, &args, 0, NULL);
    if (hThread == NULL) {
        pRecord->problems.push_back("the user thread could not be started");
        return -2; // without a user the modal dialog would never end
    }
    INT_PTR result = pfnRun();
    InterlockedExchange(&args.dialogEnded, 1);
    if (WaitForSingleObject(hThread, 5 * kWaitMs) != WAIT_OBJECT_0)
        pRecord->problems.push_back("the user thread did not end");
    CloseHandle(hThread);
    return result;
}

} // namespace

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
    HWND hwnd = NULL;
    if (PollUntil([&] { return (hwnd = FindOwn(true)) != NULL && IsWindowEnabled(hwnd); })) {
        pRecord->hwndDialog = hwnd;
        return hwnd;
    }
    pRecord->problems.push_back("no dialog appeared");
    return NULL;
}

HWND WaitForMessageBox(UserRecord *pRecord)
{
    HWND hwndBox = NULL;
    if (PollUntil([&] {
            HWND hwndDialog = FindOwn(true);
            if (hwndDialog != NULL)
                pRecord->hwndDialog = hwndDialog; // seen, even if only in passing
            return (hwndBox = FindOwn(false)) != NULL;
        }))
        return hwndBox;
    pRecord->problems.push_back("no message box appeared");
    return NULL;
}

bool WaitUntilGone(UserRecord *pRecord, HWND hwnd)
{
    if (PollUntil([&] { return !IsWindow(hwnd) || !IsWindowVisible(hwnd); }))
        return true;
    pRecord->problems.push_back("a window did not close");
    return false;
}

bool ReadAndAnswerBox(UserRecord *pRecord, int idButton)
{
    HWND hwndBox = WaitForMessageBox(pRecord);
    if (hwndBox == NULL)
        return false;
    pRecord->boxes.push_back(ReadBox(hwndBox));
    PostClick(hwndBox, idButton);
    return WaitUntilGone(pRecord, hwndBox);
}

void ReadSpinner(UserRecord *pRecord, HWND hwndDialog)
{
    pRecord->editText = WindowText(GetDlgItem(hwndDialog, IDC_HEAPSIZE_EDIT));
    SendDlgItemMessageW(hwndDialog,
                        IDC_HEAPSIZE_SPIN,
                        UDM_GETRANGE32,
                        reinterpret_cast<WPARAM>(&pRecord->rangeMin),
                        reinterpret_cast<LPARAM>(&pRecord->rangeMax));
    pRecord->position = SpinnerPosition(hwndDialog);
    pRecord->accelCount = static_cast<int>(
        SendDlgItemMessageW(hwndDialog, IDC_HEAPSIZE_SPIN, UDM_GETACCEL, 8, reinterpret_cast<LPARAM>(pRecord->accel)));
}

void AnswerOneBox(UserRecord *pRecord, void *)
{
    ReadAndAnswerBox(pRecord, IDOK);
}
