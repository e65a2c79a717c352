// Wide strings built from ASCII tables, and readable forms for failure output.
#include "wide_text.h"

#include <stdio.h>

WideString Widen(const std::string &ascii)
{
    WideString wide;
    for (char ch : ascii)
        wide.push_back(static_cast<WideChar>(static_cast<unsigned char>(ch)));
    return wide;
}

std::string Narrow(const WideChar *pch, size_t cch)
{
    std::string ascii;
    for (size_t i = 0; i < cch; i++) {
        unsigned unit = static_cast<unsigned>(pch[i]);
        if (unit >= 0x20 && unit < 0x7F) {
            ascii.push_back(static_cast<char>(unit));
        } else {
            char escaped[8];
            snprintf(escaped, sizeof escaped, "\\u%04X", unit);
            ascii += escaped;
        }
    }
    return ascii;
}

std::string Narrow(const WideString &text)
{
    return Narrow(text.data(), text.size());
}
