// What every part of the program shares: the module instance, the caption
// and the size of a message text buffer.
#ifndef MORVANTA_PLATFORM_PROGRAM_H
#define MORVANTA_PLATFORM_PROGRAM_H

#include <windows.h>

// The executable's instance, stored by wWinMain before anything else.
extern HINSTANCE g_hInstance;

const int kMessageBufferChars = 1000;

// The caption of every message box; the narrow one is for the platform
// refusal, the one path that runs outside the NT family.
const WCHAR kCaption[] = L"Morvanta";
const CHAR kCaptionA[] = "Morvanta";

#endif
