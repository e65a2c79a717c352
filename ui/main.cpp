// Morvanta: changes the size of the interactive desktop heap.
#include <windows.h>

#include "program.h"
#include "startup.h"

// NOLINTNEXTLINE(readability-non-const-parameter): the entry's signature is the platform's
int WINAPI wWinMain(HINSTANCE hInstance, HINSTANCE hPrevInstance, LPWSTR lpCmdLine, int nShowCmd)
{
    (void)hPrevInstance;
    (void)lpCmdLine; // no arguments are read
    (void)nShowCmd;

    g_hInstance = hInstance;
    return RunHeapSizeProgram();
}
