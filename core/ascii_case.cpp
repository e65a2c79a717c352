// Text compared without regard to ASCII letter case only.
#include "ascii_case.h"

static WideChar LowerAscii(WideChar ch)
{
    return ch >= WIDE_TEXT('A') && ch <= WIDE_TEXT('Z') ? static_cast<WideChar>(ch + (WIDE_TEXT('a') - WIDE_TEXT('A')))
                                                        : ch;
}

bool IsSameIgnoringAsciiCase(const WideChar *pchText, size_t cchText, const WideChar *pszOther)
{
    for (size_t i = 0; i < cchText; i++, pszOther++) {
        if (*pszOther == 0 || LowerAscii(pchText[i]) != LowerAscii(*pszOther))
            return false;
    }
    return *pszOther == 0;
}
