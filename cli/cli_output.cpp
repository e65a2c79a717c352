// Text for the console companion's standard output and error.
#include "cli_output.h"

#include <string.h>

#include "heap_events.h"
#include "heap_size_field.h"

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

// Text on its way out, written a chunk at a time.
struct OutputChunk {
    HANDLE hOutput;
    size_t cch;
    WCHAR sz[256];
};

// A surrogate pair is never split between two chunks: UTF-8 has no half of one.
static void Flush(OutputChunk *pChunk)
{
    WCHAR chKept = 0;
    if (pChunk->cch > 0 && pChunk->sz[pChunk->cch - 1] >= 0xD800 && pChunk->sz[pChunk->cch - 1] <= 0xDBFF)
        chKept = pChunk->sz[--pChunk->cch];
    pChunk->sz[pChunk->cch] = 0;
    WritePiece(pChunk->hOutput, pChunk->sz);
    pChunk->cch = 0;
    if (chKept != 0)
        pChunk->sz[pChunk->cch++] = chKept;
}

static void Put(OutputChunk *pChunk, const WCHAR *pszText)
{
    for (; pszText != NULL && *pszText != 0; pszText++) {
        if (pChunk->cch == sizeof pChunk->sz / sizeof pChunk->sz[0] - 1)
            Flush(pChunk);
        pChunk->sz[pChunk->cch++] = *pszText;
    }
}

// Escaped one character at a time, as the events' names are.
static void PutJsonString(OutputChunk *pChunk, const WCHAR *pszText)
{
    if (pszText == NULL || pszText[0] == 0) {
        Put(pChunk, L"null");
        return;
    }
    Put(pChunk, L"\"");
    for (; *pszText != 0; pszText++) {
        const WCHAR szOne[2] = {*pszText, 0};
        WCHAR szEscaped[7] = {};
        EscapeJsonText(szOne, szEscaped, 7);
        Put(pChunk, szEscaped);
    }
    Put(pChunk, L"\"");
}

static void PutNumber(OutputChunk *pChunk, uint32_t value)
{
    WCHAR szDigits[kHeapSizeTextChars] = {};
    FormatHeapSize(value, szDigits);
    Put(pChunk, szDigits);
}

// A count in JSON, or its error: null where there is none.
static void PutJsonCount(OutputChunk *pChunk, const ObjectCount &count, bool error)
{
    if (error ? !count.known && count.error != 0 : count.known)
        PutNumber(pChunk, error ? count.error : count.value);
    else
        Put(pChunk, L"null");
}

// A count for a person: 812, or unknown with the error where there is one.
static void PutCount(OutputChunk *pChunk, const ObjectCount &count)
{
    if (count.known) {
        PutNumber(pChunk, count.value);
        return;
    }
    Put(pChunk, L"unknown");
    if (count.error != 0) {
        Put(pChunk, L" (error ");
        PutNumber(pChunk, count.error);
        Put(pChunk, L")");
    }
}

void WriteFormatted(DWORD nStdHandle, const char *pszFormat, const FormatArgument *pArguments, size_t cArguments)
{
    OutputChunk chunk = {GetStdHandle(nStdHandle), 0, {}};
    size_t next = 0;
    if (chunk.hOutput == NULL || chunk.hOutput == INVALID_HANDLE_VALUE)
        return;
    for (const char *pch = pszFormat; *pch != 0; pch++) {
        const WCHAR szLiteral[2] = {static_cast<WCHAR>(static_cast<unsigned char>(*pch)), 0};
        if (pch[0] != '%' || pch[1] == 0 || strchr("sjucne", pch[1]) == NULL || next == cArguments) {
            Put(&chunk, szLiteral);
            continue;
        }
        const FormatArgument &argument = pArguments[next++];
        switch (*++pch) {
        case 's':
            Put(&chunk, argument.pszText);
            break;
        case 'j':
            PutJsonString(&chunk, argument.pszText);
            break;
        case 'n':
        case 'e':
            PutJsonCount(&chunk, *argument.pCount, *pch == 'e');
            break;
        case 'c':
            PutCount(&chunk, *argument.pCount);
            break;
        default:
            PutNumber(&chunk, static_cast<uint32_t>(argument.value));
            break;
        }
    }
    Flush(&chunk);
}
