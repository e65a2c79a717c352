// Text compared without regard to ASCII letter case only, so that no
// locale's rules (the Turkish dotless i) decide whether a command-line option
// is understood or a process image is the subsystem's.
#ifndef MORVANTA_CORE_ASCII_CASE_H
#define MORVANTA_CORE_ASCII_CASE_H

#include <stddef.h>

#include "wide_char.h"

// True when the cchText characters at pchText are the terminated pszOther,
// A to Z matching a to z and every other character only itself.
bool IsSameIgnoringAsciiCase(const WideChar *pchText, size_t cchText, const WideChar *pszOther);

#endif
