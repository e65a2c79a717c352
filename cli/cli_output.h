// Text for the console companion's standard output and error.
#ifndef MORVANTA_CLI_CLI_OUTPUT_H
#define MORVANTA_CLI_CLI_OUTPUT_H

#include <stddef.h>

#include <windows.h>

// Writes the pieces to STD_OUTPUT_HANDLE or STD_ERROR_HANDLE: to a console
// through WriteConsoleW, to anything else (a pipe, a file) as UTF-8 without
// a byte-order mark, so that every character arrives whatever the code page.
// Nothing is reported: the exit code never depends on the output, and the
// program may have been started with no usable standard handles.
void WriteText(DWORD nStdHandle, const WCHAR *const *ppszPieces, size_t cPieces);

template <size_t N> void WriteText(DWORD nStdHandle, const WCHAR *const (&pieces)[N])
{
    WriteText(nStdHandle, pieces, N);
}

#endif
