// Wide text is 16-bit everywhere: the platform's WCHAR on Windows, char16_t elsewhere.
#ifndef MORVANTA_CORE_WIDE_CHAR_H
#define MORVANTA_CORE_WIDE_CHAR_H

#ifdef _WIN32
typedef wchar_t WideChar; // no casts at the Win32 boundary
#define WIDE_TEXT(s) L##s
#else
typedef char16_t WideChar;
#define WIDE_TEXT(s) u##s
#endif

static_assert(sizeof(WideChar) == 2, "wide text must be UTF-16 code units");

#endif
