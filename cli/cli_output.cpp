// Text for the console companion's standard output and error.
#include "cli_output.h"

static void WritePiece(HANDLE hOutput, const WCHAR *pszText)
{
    DWORD dwMode = 0;
    DWORD cbWritten = 0;
    char *pszUtf8 = NULL;
    // cppcheck-suppress lstrlenWCalled ; every piece is a terminated program text or a codec's text
    int cchText = lstrlenW(pszText);
    int cbUtf8 = 0;

    if (cchText == 0)
        return;
    if (GetConsoleMode(hOutput, &dwMode)) {
        WriteConsoleW(hOutput, pszText, static_cast<DWORD>(cchText), &cbWritten, NULL);
        return;
    }
    cbUtf8 = WideCharToMultiByte(CP_UTF8, 0, pszText, cchText, NULL, 0, NULL, NULL);
    if (cbUtf8 <= 0)
        return;
    pszUtf8 = static_cast<char *>(HeapAlloc(GetProcessHeap(), 0, static_cast<SIZE_T>(cbUtf8)));
    if (pszUtf8 == NULL)
        return;
    if (WideCharToMultiByte(CP_UTF8, 0, pszText, cchText, pszUtf8, cbUtf8, NULL, NULL) == cbUtf8)
        WriteFile(hOutput, pszUtf8, static_cast<DWORD>(cbUtf8), &cbWritten, NULL);
    HeapFree(GetProcessHeap(), 0, pszUtf8);
}

void WriteText(DWORD nStdHandle, const WCHAR *const *ppszPieces, size_t cPieces)
{
    HANDLE hOutput = GetStdHandle(nStdHandle);
    if (hOutput == NULL || hOutput == INVALID_HANDLE_VALUE)
        return;
    for (size_t i = 0; i < cPieces; i++)
        WritePiece(hOutput, ppszPieces[i]);
}
