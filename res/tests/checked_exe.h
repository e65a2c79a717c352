// Which executables the resource and header checks read: those beside the
// test program, or those in the folder named by MORVANTA_SHIPPED_DIR (the
// shipped 32-bit build, when the tests themselves run as 64-bit programs).
#ifndef MORVANTA_TESTS_CHECKED_EXE_H
#define MORVANTA_TESTS_CHECKED_EXE_H

#include <windows.h>

#include <string>
#include <vector>

std::wstring CheckedExePath(const wchar_t *pszProgram = L"Morvanta.exe");

// IMAGE_FILE_MACHINE_I386 for the shipped build, otherwise this test's own.
WORD ExpectedMachine();

std::vector<BYTE> ReadWholeFile(const std::wstring &path);

#endif
