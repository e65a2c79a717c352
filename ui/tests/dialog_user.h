// A second thread that plays the user of the heap size dialog run on the
// test's thread: it waits for windows by polling with a time-out, reads
// them, presses keys and buttons. Whatever is still open once the script is
// done is recorded as a problem, then dismissed so that nothing hangs.
#ifndef MORVANTA_TESTS_DIALOG_USER_H
#define MORVANTA_TESTS_DIALOG_USER_H

#include <windows.h>

#include <commctrl.h>

#include <string>
#include <vector>

#include "morvanta_windows.h"

// What the user saw; gtest assertions run on the test's thread afterwards.
struct UserRecord {
    HWND hwndDialog; // NULL if the dialog was never visible
    std::vector<BoxSeen> boxes;
    std::vector<std::string> problems; // steps that timed out, windows left open
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

// Steps for scripts; each records a problem and returns NULL/false on time-out.
HWND WaitForDialog(UserRecord *pRecord);
HWND WaitForMessageBox(UserRecord *pRecord);
bool ReadAndAnswerBox(UserRecord *pRecord, int idButton); // waits for it, and until it is gone
bool WaitUntilGone(UserRecord *pRecord, HWND hwnd);
void ReadSpinner(UserRecord *pRecord, HWND hwndDialog);

// A script: reads the one message box that comes and answers OK.
void AnswerOneBox(UserRecord *pRecord, void *pContext);

#endif
