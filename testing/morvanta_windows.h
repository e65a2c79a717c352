// Morvanta's windows as a user meets them, in this process or another: the
// heap size dialog and its message boxes (both "#32770" windows captioned
// "Morvanta"), read and worked through messages that cross processes, and
// waits that poll with a time-out.
#ifndef MORVANTA_TESTING_MORVANTA_WINDOWS_H
#define MORVANTA_TESTING_MORVANTA_WINDOWS_H

#include <windows.h>

#include <string>

const DWORD kPollMs = 10;
const DWORD kWaitMs = 10000; // for anything a user would wait for

// Polls done() until it holds or timeoutMs have passed; a handle that gets
// signalled meanwhile (a process that ended) stops the wait early.
template <typename Done> bool PollUntil(Done done, DWORD timeoutMs = kWaitMs, HANDLE hGiveUp = NULL)
{
    DWORD start = GetTickCount();
    while (!done()) {
        if (GetTickCount() - start >= timeoutMs)
            return false;
        if (hGiveUp == NULL)
            Sleep(kPollMs);
        else if (WaitForSingleObject(hGiveUp, kPollMs) == WAIT_OBJECT_0)
            return done();
    }
    return true;
}

// CreateProcessW for a test's own programs. Wine's loader now and then fails
// a new process before the program's first instruction, and CreateProcessW
// then returns FALSE after about half a second (seen on loaded machines);
// such a start ran nothing of the program, so it is tried again, at most
// three times in all. *pdwError is the last start's error, 0 once started.
bool StartTestProcess(std::wstring commandLine,
                      LPCWSTR pszApplication,
                      BOOL inheritHandles,
                      DWORD dwFlags,
                      STARTUPINFOW *pStartup,
                      PROCESS_INFORMATION *pProcess,
                      DWORD *pdwError);

// All that was written into a pipe, read from its read end once every write
// end is closed.
std::string ReadPipe(HANDLE hRead);

// The full path of a file in the folder of this test program.
std::wstring PathBesideThisProgram(const wchar_t *pszFile);

// A visible dialog (it holds the spinner) or message box (it holds the text
// static 0xFFFF) of process pid, or NULL.
HWND FindMorvantaWindow(DWORD pid, bool wantDialog);

// A message box as the user saw it.
struct BoxSeen {
    std::wstring text;
    HWND hwndOwner;
    bool yesNo;        // Yes and No buttons, else a single OK
    int defaultButton; // the button Enter presses
    bool topmost;
    std::string icon; // "warning", "question", "information", "none" or "other"; only in-process
};
BoxSeen ReadBox(HWND hwndBox);

std::wstring WindowText(HWND hwnd);
int SpinnerPosition(HWND hwndDialog);

// Posted, not sent: a click or key may open a modal box, which a sent one would wait for.
void PostKey(HWND hwnd, WPARAM vk);
void PostClick(HWND hwndParent, int idButton);

// Up (+1) or Down (-1) in the edit control; false when the position did not move.
bool StepSpinner(HWND hwndDialog, int direction);

#endif
