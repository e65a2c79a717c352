// The heap size dialog: shows the current size in a spinner and stores a
// changed one.
#ifndef MORVANTA_UI_HEAP_SIZE_DIALOG_H
#define MORVANTA_UI_HEAP_SIZE_DIALOG_H

#include <windows.h>

#include "heap_size_field.h"

// Set by the dialog start to the size it read; 0 until then.
extern HeapSizeKb g_currentHeapSizeKb;

INT_PTR CALLBACK HeapSizeDlgProc(HWND hwndDlg, UINT uMsg, WPARAM wParam, LPARAM lParam);
void OnInitHeapSizeDialog(HWND hwndDlg);
void OnApplyHeapSize(HWND hwndDlg);

#endif
