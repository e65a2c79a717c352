// Bounded wide-string copy, append and length with the StrSafe status contract.
#ifndef MORVANTA_CORE_BOUNDED_STRING_H
#define MORVANTA_CORE_BOUNDED_STRING_H

#include <stddef.h>
#include <stdint.h>

#include "wide_char.h"

typedef int32_t BoundedStatus; // HRESULT-style: negative means failure

// S_OK, E_INVALIDARG and HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER); this
// header stays free of <windows.h>, so the values are spelled out.
const BoundedStatus kBoundedOk = 0;
const BoundedStatus kBoundedInvalidArg = static_cast<BoundedStatus>(0x80070057u);
const BoundedStatus kBoundedInsufficientBuffer = static_cast<BoundedStatus>(0x8007007Au);

const size_t kMaxBoundedChars = 2147483647; // capacities are in characters

// Copies src into a buffer of cchDest characters; on a cut the destination
// holds the first cchDest - 1 characters and a terminator.
BoundedStatus BoundedCopy(WideChar *pszDest, size_t cchDest, const WideChar *pszSrc);

// Appends src to the terminated text in a buffer of cchDest characters.
BoundedStatus BoundedAppend(WideChar *pszDest, size_t cchDest, const WideChar *pszSrc);

// Counts the characters before the terminator, looking at no more than
// cchMax of them; pcchLength may be NULL and is untouched on failure.
BoundedStatus BoundedLength(const WideChar *psz, size_t cchMax, size_t *pcchLength);

#endif
