// Wide strings built from ASCII tables, and readable forms for failure output.
#ifndef MORVANTA_TESTS_WIDE_TEXT_H
#define MORVANTA_TESTS_WIDE_TEXT_H

#include <string>

#include "wide_char.h"

typedef std::basic_string<WideChar> WideString;

// ASCII to wide, unit for unit.
WideString Widen(const std::string &ascii);

// Wide to ASCII for comparisons and messages; other units as \uXXXX.
std::string Narrow(const WideChar *pch, size_t cch);
std::string Narrow(const WideString &text);

#endif
