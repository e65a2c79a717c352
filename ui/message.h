// Message boxes with a text from the string table and the program's caption.
#ifndef MORVANTA_UI_MESSAGE_H
#define MORVANTA_UI_MESSAGE_H

#include <windows.h>

// Loads the text into an empty buffer (a text that cannot be loaded shows
// empty) and returns the box's answer.
int ShowMessage(HWND hwndOwner, UINT idText, UINT uType);

#endif
