// The Windows value under the SubSystems key: open, read, store, close.
// Texts come from AllocateText and go back through ReleaseText.
#ifndef MORVANTA_PLATFORM_SUBSYSTEM_STORE_H
#define MORVANTA_PLATFORM_SUBSYSTEM_STORE_H

#include <windows.h>

// Opens the key with samDesired; *phKey is NULL unless it was opened.
LONG OpenSubsystemKey(REGSAM samDesired, HKEY *phKey);

// Reads the REG_EXPAND_SZ value into a zero-filled buffer one character
// longer than the data, so the text is terminated even when the stored data
// is not. *pcbData is the data size in bytes as the read reported it. On
// failure nothing is left allocated.
bool QuerySubsystemValue(HKEY hKey, WCHAR **ppszText, DWORD *pcbData);

// Writes the text and exactly one terminator as the new REG_EXPAND_SZ value.
LONG StoreSubsystemValue(HKEY hKey, const WCHAR *pszText);

void CloseSubsystemKey(HKEY hKey);

#endif
