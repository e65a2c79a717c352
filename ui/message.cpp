// Message boxes with a text from the string table and the program's caption.
#include "message.h"

#include "program.h"

int ShowMessage(HWND hwndOwner, UINT idText, UINT uType)
{
    WCHAR szText[kMessageBufferChars] = {};
    LoadStringW(g_hInstance, idText, szText, kMessageBufferChars);
    return MessageBoxW(hwndOwner, szText, kCaption, uType);
}
