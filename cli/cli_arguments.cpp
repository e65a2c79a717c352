// The console companion's command line.
#include "cli_arguments.h"

// ASCII case only: a locale's rules (the Turkish dotless i) must not decide
// whether a deployment script's option is understood.
static bool IsArgument(const wchar_t *pszArg, const wchar_t *pszName)
{
    for (; *pszArg != 0 && *pszName != 0; pszArg++, pszName++) {
        wchar_t ch = *pszArg >= L'A' && *pszArg <= L'Z' ? static_cast<wchar_t>(*pszArg + (L'a' - L'A')) : *pszArg;
        if (ch != *pszName)
            return false;
    }
    return *pszArg == *pszName;
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

bool ParseCliArguments(int argc, const wchar_t *const *argv, CliRequest *pRequest)
{
    pRequest->action = kCliShow;
    pRequest->newSizeKb = 0;
    pRequest->dryRun = false;

    if (argc <= 1)
        return true;
    if (argc == 2 && (IsArgument(argv[1], L"--help") || IsArgument(argv[1], L"/?"))) {
        pRequest->action = kCliHelp;
        return true;
    }
    if (argc == 2 && IsArgument(argv[1], L"show"))
        return true;
    if ((argc == 3 || argc == 4) && IsArgument(argv[1], L"set") && ParseSize(argv[2], &pRequest->newSizeKb)) {
        pRequest->action = kCliSet;
        pRequest->dryRun = argc == 4;
        return argc == 3 || IsArgument(argv[3], L"--dry-run");
    }
    return false;
}
