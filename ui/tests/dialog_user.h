// A second thread that plays the user of the heap size dialog: it waits for
// windows by polling with a timeout, reads them, presses keys and buttons.
// Whatever it leaves open is dismissed, so a failed script never hangs.
#ifndef MORVANTA_TESTS_DIALOG_USER_H
#define MORVANTA_TESTS_DIALOG_USER_H

#include <windows.h>

#include <commctrl.h>

#include <string>
#include <vector>

const DWORD kUserTimeoutMs = 10000;

// A message box as the user saw it.
struct BoxSeen {
    std::wstring text;
    HWND hwndOwner;
    bool yesNo;       // Yes and No buttons, else a single OK
    std::string icon; // "warning", "question", "information" or "other"
};

// What the user saw; gtest assertions run on the test's thread afterwards.
struct UserRecord {
    HWND hwndDialog; // NULL if the dialog was never visible
    std::vector<BoxSeen> boxes;
    std::vector<std::string> problems; // steps that timed out or went wrong
    std::wstring editText;             // as first shown
    int rangeMin, rangeMax, position;
    int accelCount;
    UDACCEL accel[8];
};

typedef void (*UserScript)(UserRecord *pRecord, void *pContext);

// Runs the dialog on this thread with g_hInstance and HeapSizeDlgProc while
// the script acts on another; returns DialogBoxParamW's result.
INT_PTR RunDialogWithUser(UserScript pfnScript, void *pContext, UserRecord *pRecord);

// The same around the whole start-up, RunHeapSizeProgram.
INT_PTR RunProgramWithUser(UserScript pfnScript, void *pContext, UserRecord *pRecord);

// Steps for scripts; each records a problem and returns NULL/false on timeout.
HWND WaitForDialog(UserRecord *pRecord);
HWND WaitForMessageBox(UserRecord *pRecord);
void ReadBox(UserRecord *pRecord, HWND hwndBox);
bool Answer(UserRecord *pRecord, HWND hwndBox, int idButton); // and wait until it is gone
void PressOk(HWND hwndDialog);
bool StepSpinner(UserRecord *pRecord, HWND hwndDialog, int direction); // Up (+1) or Down (-1) in the edit
int SpinnerPosition(HWND hwndDialog, BOOL *pfError);
void ReadSpinner(UserRecord *pRecord, HWND hwndDialog);
bool WaitUntilGone(HWND hwnd);

// A script: reads the one message box that comes and answers OK.
void AnswerOneBox(UserRecord *pRecord, void *pContext);

#endif
