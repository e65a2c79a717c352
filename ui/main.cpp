// Morvanta: changes the size of the interactive desktop heap.
#include <windows.h>

#include "program.h"
#include "startup.h"

int WINAPI wWinMain(HINSTANCE hInstance, HINSTANCE hPrevInstance, PWSTR pszCmdLine, int nCmdShow)
{
    (void)hPrevInstance;
    (void)pszCmdLine; // no arguments are read
    (void)nCmdShow;

    g_hInstance = hInstance;
    return RunHeapSizeProgram();
}
