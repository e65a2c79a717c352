// Which executable the resource and header checks read.
#include "checked_exe.h"

#include <stdlib.h>

#include "morvanta_windows.h"

std::wstring CheckedExePath(const wchar_t *pszProgram)
{
    const wchar_t *pszShipped = _wgetenv(L"MORVANTA_SHIPPED_DIR");
    if (pszShipped != NULL && *pszShipped != 0)
        return std::wstring(pszShipped) + L"\\" + pszProgram;
    return PathBesideThisProgram(pszProgram);
}

WORD ExpectedMachine()
{
    // Programs in a folder named from outside are the shipped 32-bit ones.
    const wchar_t *pszShipped = _wgetenv(L"MORVANTA_SHIPPED_DIR");
    if (pszShipped != NULL && *pszShipped != 0)
        return IMAGE_FILE_MACHINE_I386;
    return sizeof(void *) == 8 ? IMAGE_FILE_MACHINE_AMD64 : IMAGE_FILE_MACHINE_I386;
}

std::vector<BYTE> ReadWholeFile(const std::wstring &path)
{
    std::vector<BYTE> bytes;
    HANDLE hFile = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    if (hFile == INVALID_HANDLE_VALUE)
        return bytes;
    DWORD cbFile = GetFileSize(hFile, NULL);
    bytes.resize(cbFile);
    DWORD cbRead = 0;
    if (!ReadFile(hFile, bytes.data(), cbFile, &cbRead, NULL) || cbRead != cbFile)
        bytes.clear();
    CloseHandle(hFile);
    return bytes;
}
