// The console companion's command line.
#include "cli_arguments.h"

#include <stddef.h>
#include <wchar.h>

#include "ascii_case.h"

static bool IsArgument(const wchar_t *pszArg, const wchar_t *pszName)
{
    return IsSameIgnoringAsciiCase(pszArg, wcslen(pszArg), pszName);
}

static bool ParseSize(const wchar_t *pszSize, uint64_t *pSizeKb)
{
    uint64_t sizeKb = 0;
    int cDigits = 0;
    for (; *pszSize >= L'0' && *pszSize <= L'9'; pszSize++, cDigits++)
        sizeKb = sizeKb * 10 + static_cast<uint64_t>(*pszSize - L'0');
    if (*pszSize != 0 || cDigits == 0 || cDigits > 10)
        return false;
    *pSizeKb = sizeKb;
    return true;
}

static bool ParseDesktopsOptions(int argc, const wchar_t *const *argv, CliRequest *pRequest)
{
    bool topGiven = false;
    for (int i = 2; i < argc; i++) {
        if (IsArgument(argv[i], L"--json") && !pRequest->json) {
            pRequest->json = true;
        } else if (IsArgument(argv[i], L"--top") && !topGiven) {
            uint64_t top = 0;
            topGiven = true;
            pRequest->badTop = i + 1 == argc || !ParseSize(argv[++i], &top) || top < 1 || top > kMaxTop;
            if (pRequest->badTop)
                return false;
            pRequest->top = static_cast<uint32_t>(top);
        } else {
            return false; // an unknown option, or one given twice
        }
    }
    return true;
}

bool ParseCliArguments(int argc, const wchar_t *const *argv, CliRequest *pRequest)
{
    pRequest->action = kCliShow;
    pRequest->newSizeKb = 0;
    pRequest->nonInteractive = false;
    pRequest->dryRun = false;
    pRequest->json = false;
    pRequest->top = kDefaultTop;
    pRequest->badTop = false;

    if (argc <= 1)
        return true;
    if (argc == 2 && (IsArgument(argv[1], L"--help") || IsArgument(argv[1], L"/?"))) {
        pRequest->action = kCliHelp;
        return true;
    }
    if (IsArgument(argv[1], L"show")) {
        pRequest->nonInteractive = argc == 3;
        return argc == 2 || (argc == 3 && IsArgument(argv[2], L"--non-interactive"));
    }
    if (IsArgument(argv[1], L"status")) {
        pRequest->action = kCliStatus;
        pRequest->json = argc == 3;
        return argc == 2 || (argc == 3 && IsArgument(argv[2], L"--json"));
    }
    if (IsArgument(argv[1], L"desktops")) {
        pRequest->action = kCliDesktops;
        return ParseDesktopsOptions(argc, argv, pRequest);
    }
    if (!IsArgument(argv[1], L"set") || argc < 3 || !ParseSize(argv[2], &pRequest->newSizeKb))
        return false;
    pRequest->action = kCliSet;
    for (int i = 3; i < argc; i++) {
        bool *pOption = IsArgument(argv[i], L"--dry-run")           ? &pRequest->dryRun
                        : IsArgument(argv[i], L"--non-interactive") ? &pRequest->nonInteractive
                                                                    : NULL;
        if (pOption == NULL || *pOption)
            return false; // an unknown option, or one given twice
        *pOption = true;
    }
    return true;
}
