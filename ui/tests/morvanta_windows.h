// Finds the windows of a running Morvanta: the heap size dialog or one of
// its message boxes, both "#32770" windows captioned "Morvanta".
#ifndef MORVANTA_TESTS_MORVANTA_WINDOWS_H
#define MORVANTA_TESTS_MORVANTA_WINDOWS_H

#include <windows.h>

// A visible dialog (it holds the spinner) or message box (it holds the text
// static 0xFFFF) of process pid, or NULL.
HWND FindMorvantaWindow(DWORD pid, bool wantDialog);

#endif
