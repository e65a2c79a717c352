// advapi32 is bound lazily, one function at its own first call; a missing
// function fails the way callers already handle; and no test can reach the
// real restart functions.
#include <windows.h>

#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "advapi_binding.h"
#include "advapi_guard.h"
#include "restart.h"
#include "subsystem_store.h"

namespace {

std::vector<std::string> s_lookups;

// A stub with the real signature of whichever function it stands for,
// answering a value of its own, so that a wrapper bound to the wrong name shows.
template <int kAnswer, typename Result, typename... Args> Result WINAPI Stub(Args...)
{
    return kAnswer;
}

template <typename Proc> AdvapiFunction AsFunction(Proc pfn)
{
    return reinterpret_cast<AdvapiFunction>(pfn);
}

AdvapiFunction StubLookup(LPCSTR pszName)
{
    s_lookups.push_back(pszName);
    const std::pair<const char *, AdvapiFunction> stubs[] = {
        {"RegOpenKeyExW", AsFunction<RegOpenKeyExWProc>(Stub<101>)},
        {"RegQueryValueExW", AsFunction<RegQueryValueExWProc>(Stub<102>)},
        {"RegSetValueExW", AsFunction<RegSetValueExWProc>(Stub<103>)},
        {"RegCloseKey", AsFunction<RegCloseKeyProc>(Stub<104>)},
        {"OpenProcessToken", AsFunction<OpenProcessTokenProc>(Stub<105>)},
        {"LookupPrivilegeValueW", AsFunction<LookupPrivilegeValueWProc>(Stub<106>)},
        {"AdjustTokenPrivileges", AsFunction<AdjustTokenPrivilegesProc>(Stub<107>)},
        {"InitiateSystemShutdownExW", AsFunction<InitiateSystemShutdownExWProc>(Stub<108>)},
    };
    for (const auto &stub : stubs) {
        if (lstrcmpA(stub.first, pszName) == 0)
            return stub.second;
    }
    return NULL;
}

AdvapiFunction MissingLookup(LPCSTR pszName)
{
    s_lookups.push_back(pszName);
    return NULL;
}

TEST(LazyBinding, EachFunctionIsLookedUpAtItsOwnFirstCall)
{
    s_lookups.clear();
    g_advapi.pfnLookup = StubLookup;
    HKEY hKey = NULL;
    HANDLE hToken = NULL;
    LUID luid = {};
    TOKEN_PRIVILEGES privileges = {};
    for (int round = 0; round < 2; round++) {
        EXPECT_EQ(101, LazyRegOpenKeyExW(NULL, L"x", 0, 0, &hKey));
        EXPECT_EQ(102, LazyRegQueryValueExW(NULL, L"x", NULL, NULL, NULL, NULL));
        EXPECT_EQ(103, LazyRegSetValueExW(NULL, L"x", 0, REG_EXPAND_SZ, NULL, 0));
        EXPECT_EQ(104, LazyRegCloseKey(NULL));
        EXPECT_EQ(105, LazyOpenProcessToken(NULL, 0, &hToken));
        EXPECT_EQ(106, LazyLookupPrivilegeValueW(NULL, L"x", &luid));
        EXPECT_EQ(107, LazyAdjustTokenPrivileges(NULL, FALSE, &privileges, 0, NULL, NULL));
        EXPECT_EQ(108, LazyInitiateSystemShutdownExW(NULL, NULL, 0, FALSE, TRUE, 0));
    }
    EXPECT_EQ(std::vector<std::string>({"RegOpenKeyExW",
                                        "RegQueryValueExW",
                                        "RegSetValueExW",
                                        "RegCloseKey",
                                        "OpenProcessToken",
                                        "LookupPrivilegeValueW",
                                        "AdjustTokenPrivileges",
                                        "InitiateSystemShutdownExW"}),
              s_lookups);
}

TEST(LazyBinding, MissingFunctionsGiveTheFailuresCallersHandle)
{
    s_lookups.clear();
    g_advapi.pfnLookup = MissingLookup;

    HKEY hKey = reinterpret_cast<HKEY>(1);
    EXPECT_EQ(ERROR_PROC_NOT_FOUND, OpenSubsystemKey(KEY_QUERY_VALUE | KEY_SET_VALUE, &hKey));
    EXPECT_TRUE(hKey == NULL);
    WCHAR *pszText = NULL;
    DWORD cbData = 0;
    EXPECT_FALSE(QuerySubsystemValue(reinterpret_cast<HKEY>(1), &pszText, &cbData));
    EXPECT_TRUE(pszText == NULL);
    EXPECT_NE(ERROR_SUCCESS, StoreSubsystemValue(reinterpret_cast<HKEY>(1), L"x"));
    CloseSubsystemKey(reinterpret_cast<HKEY>(1));
    EXPECT_FALSE(RestartSystem());
    EXPECT_EQ(std::vector<std::string>(
                  {"RegOpenKeyExW", "RegQueryValueExW", "RegSetValueExW", "RegCloseKey", "OpenProcessToken"}),
              s_lookups);

    // The token functions leave a last-error code, which the restart judges.
    HANDLE hToken = NULL;
    LUID luid = {};
    TOKEN_PRIVILEGES privileges = {};
    SetLastError(0);
    EXPECT_FALSE(LazyLookupPrivilegeValueW(NULL, SE_SHUTDOWN_NAME, &luid));
    EXPECT_EQ(static_cast<DWORD>(ERROR_PROC_NOT_FOUND), GetLastError());
    SetLastError(0);
    EXPECT_FALSE(LazyAdjustTokenPrivileges(hToken, FALSE, &privileges, 0, NULL, NULL));
    EXPECT_EQ(static_cast<DWORD>(ERROR_PROC_NOT_FOUND), GetLastError());
    SetLastError(0);
    EXPECT_FALSE(LazyInitiateSystemShutdownExW(NULL, NULL, 0, FALSE, TRUE, 0));
    EXPECT_EQ(static_cast<DWORD>(ERROR_PROC_NOT_FOUND), GetLastError());
}

BOOL s_guardedResult;

TEST(AdvapiGuard, NoTestReachesTheRealRestart)
{
    // Nothing set up here: the guard is in place before any test.
    EXPECT_NONFATAL_FAILURE(s_guardedResult = LazyInitiateSystemShutdownExW(NULL, NULL, 0, FALSE, TRUE, 0),
                            "InitiateSystemShutdownExW");
    EXPECT_FALSE(s_guardedResult);
    EXPECT_NONFATAL_FAILURE(s_guardedResult = RestartSystem(), "AdjustTokenPrivileges");
    EXPECT_FALSE(s_guardedResult);
}

} // namespace
