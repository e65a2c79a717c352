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

// An argument of WriteFormat: a terminated text, or an unsigned number.
struct FormatArgument {
    explicit FormatArgument(const WCHAR *pszArgument) : pszText(pszArgument), value(0) {}
    explicit FormatArgument(unsigned int number) : pszText(NULL), value(number) {}
    explicit FormatArgument(unsigned long number) : pszText(NULL), value(number) {}
    const WCHAR *pszText;
    unsigned long value;
};

// Writes the format, program text in ASCII (half the size of wide text in
// the executable), to STD_OUTPUT_HANDLE or STD_ERROR_HANDLE as WriteText
// does, each %s replaced by the next argument, a text (NULL writes nothing),
// each %j by the next text as a JSON string in quotes, or null for NULL or
// an empty text, and each %u by the next argument, a number.
void WriteFormatted(DWORD nStdHandle, const char *pszFormat, const FormatArgument *pArguments, size_t cArguments);

template <typename... Arguments> void WriteFormat(DWORD nStdHandle, const char *pszFormat, Arguments... arguments)
{
    const FormatArgument list[] = {FormatArgument(arguments)..., FormatArgument(0u)};
    WriteFormatted(nStdHandle, pszFormat, list, sizeof...(arguments));
}

template <size_t N> void WriteText(DWORD nStdHandle, const WCHAR *const (&pieces)[N])
{
    WriteText(nStdHandle, pieces, N);
}

#endif
