// Tests that write the real SubSystems key run only under Wine: on a real
// machine they would replace the csrss command line and it would not start.
#ifndef MORVANTA_TESTS_WINE_ONLY_H
#define MORVANTA_TESTS_WINE_ONLY_H

#include <windows.h>

#include <gtest/gtest.h>

inline bool IsRunningUnderWine()
{
    HMODULE hNtdll = GetModuleHandleW(L"ntdll.dll");
    return hNtdll != NULL && GetProcAddress(hNtdll, "wine_get_version") != NULL;
}

#define SKIP_UNLESS_WINE()                                                                                             \
    if (!IsRunningUnderWine())                                                                                         \
    GTEST_SKIP() << "writes the real SubSystems key: runs only under Wine"

#endif
