// The Windows value under the SubSystems key: open, read, store, close.
#include "subsystem_store.h"

#include "advapi_binding.h"
#include "text_buffer.h"

static const WCHAR kSubsystemKeyPath[] = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager\\SubSystems";
static const WCHAR kWindowsValueName[] = L"Windows";

LONG OpenSubsystemKey(REGSAM samDesired, HKEY *phKey)
{
    *phKey = NULL;
    return LazyRegOpenKeyExW(HKEY_LOCAL_MACHINE, kSubsystemKeyPath, 0, samDesired, phKey);
}

bool QuerySubsystemValue(HKEY hKey, WCHAR **ppszText, DWORD *pcbData)
{
    WCHAR *pszText = NULL;
    DWORD cbData = 0;
    DWORD dwType = 0;

    *ppszText = NULL;
    *pcbData = 0;

    if (LazyRegQueryValueExW(hKey, kWindowsValueName, NULL, NULL, NULL, &cbData) != ERROR_SUCCESS)
        goto fail;
    // A size within 3 of 4 GiB is refused: adding the 2 bytes below and
    // rounding up to whole characters would wrap the 32-bit count, a tiny
    // buffer would be allocated, and the read would be told of a far larger
    // one and write past it. No real value comes near; this is a guard.
    if (cbData > MAXDWORD - 3)
        goto fail;

    // One zero character more than the data, rounded up to whole characters,
    // because the registry does not promise a terminator.
    cbData += 2;
    pszText = AllocateText((cbData + 1) / 2);
    if (pszText == NULL)
        goto fail;

    if (LazyRegQueryValueExW(hKey, kWindowsValueName, NULL, &dwType, reinterpret_cast<LPBYTE>(pszText), &cbData) !=
        ERROR_SUCCESS)
        goto fail;
    if (dwType != REG_EXPAND_SZ)
        goto fail;

    *ppszText = pszText;
    *pcbData = cbData;
    return true;

fail:
    ReleaseText(pszText);
    return false;
}

LONG StoreSubsystemValue(HKEY hKey, const WCHAR *pszText)
{
    // cppcheck-suppress lstrlenWCalled ; the text is the codec's, terminated in a zero-filled buffer
    DWORD cbText = (static_cast<DWORD>(lstrlenW(pszText)) + 1) * sizeof(WCHAR);
    return LazyRegSetValueExW(
        hKey, kWindowsValueName, 0, REG_EXPAND_SZ, reinterpret_cast<const BYTE *>(pszText), cbText);
}

void CloseSubsystemKey(HKEY hKey)
{
    LazyRegCloseKey(hKey);
}
