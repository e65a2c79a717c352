// Text for the console companion's standard output and error.
#ifndef MORVANTA_CLI_CLI_OUTPUT_H
#define MORVANTA_CLI_CLI_OUTPUT_H

#include <stddef.h>

#include <windows.h>

#include "desktop_holders.h"

// Writes the pieces to STD_OUTPUT_HANDLE or STD_ERROR_HANDLE: to a console
// through WriteConsoleW, to anything else (a pipe, a file) as UTF-8 without
// a byte-order mark, so that every character arrives whatever the code page.
// Nothing is reported: the exit code never depends on the output, and the
// program may have been started with no usable standard handles.
void WriteText(DWORD nStdHandle, const WCHAR *const *ppszPieces, size_t cPieces);

// An argument of WriteFormat: a terminated text, a number, or a count that
// may be unknown, in one word; the directive that takes it says which.
union FormatArgument {
    explicit FormatArgument(const WCHAR *pszArgument) : pszText(pszArgument) {}
    explicit FormatArgument(unsigned int number) : value(number) {}
    explicit FormatArgument(unsigned long number) : value(number) {}
    explicit FormatArgument(const ObjectCount &count) : pCount(&count) {}
    const WCHAR *pszText;
    uintptr_t value;
    const ObjectCount *pCount; // lives as long as the call
};

// Writes the format, program text in ASCII (half the size of wide text in
// the executable), to STD_OUTPUT_HANDLE or STD_ERROR_HANDLE as WriteText
// does, each directive replaced by the next argument, which must be of its
// kind: %s a text (NULL writes nothing), %j a text as a JSON string in
// quotes, or null for NULL or an empty text, %u a number; a count as %c for
// a person, 812 or "unknown (error 120)", as %n for JSON, 812 or null, and
// %e, its error in JSON, null where it is known or Windows gave none.
void WriteFormatted(DWORD nStdHandle, const char *pszFormat, const FormatArgument *pArguments, size_t cArguments);

template <typename... Arguments>
void WriteFormat(DWORD nStdHandle, const char *pszFormat, const Arguments &...arguments)
{
    const FormatArgument list[] = {FormatArgument(arguments)..., FormatArgument(0u)};
    WriteFormatted(nStdHandle, pszFormat, list, sizeof...(arguments));
}

template <size_t N> void WriteText(DWORD nStdHandle, const WCHAR *const (&pieces)[N])
{
    WriteText(nStdHandle, pieces, N);
}

#endif
