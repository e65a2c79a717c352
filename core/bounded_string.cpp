// Bounded wide-string copy, append and length.
#include "bounded_string.h"

// Shared by copy and append: the destination gets a terminator whatever happens.
static BoundedStatus CopyWithin(WideChar *pszDest, size_t cchRemaining, const WideChar *pszSrc)
{
    while (*pszSrc != 0) {
        *pszDest++ = *pszSrc++;
        if (--cchRemaining == 0) {
            pszDest[-1] = 0; // capacity used up: the last character gives way
            return kBoundedInsufficientBuffer;
        }
    }
    *pszDest = 0;
    return kBoundedOk;
}

BoundedStatus BoundedCopy(WideChar *pszDest, size_t cchDest, const WideChar *pszSrc)
{
    if (cchDest > kMaxBoundedChars || cchDest == 0)
        return kBoundedInvalidArg;
    return CopyWithin(pszDest, cchDest, pszSrc);
}

BoundedStatus BoundedAppend(WideChar *pszDest, size_t cchDest, const WideChar *pszSrc)
{
    if (cchDest > kMaxBoundedChars)
        return kBoundedInvalidArg;

    size_t cchLength = 0;
    BoundedStatus status = BoundedLength(pszDest, cchDest, &cchLength);
    if (status < 0)
        return status;
    return CopyWithin(pszDest + cchLength, cchDest - cchLength, pszSrc);
}

BoundedStatus BoundedLength(const WideChar *psz, size_t cchMax, size_t *pcchLength)
{
    for (size_t i = 0; i < cchMax; i++) {
        if (psz[i] == 0) {
            if (pcchLength != NULL)
                *pcchLength = i;
            return kBoundedOk;
        }
    }
    return kBoundedInvalidArg; // also a limit of 0
}
