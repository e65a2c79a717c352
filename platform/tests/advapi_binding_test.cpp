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
std::vector<std::string> s_calls;

// Stubs with the real signatures, each recording its call and answering a
// value of its own, so that a wrapper bound to the wrong name shows.
LONG WINAPI StubOpen(HKEY, LPCWSTR, DWORD, REGSAM sam, PHKEY)
{
    s_calls.push_back("open " + std::to_string(sam));
    return 101;
}
LONG WINAPI StubQuery(HKEY, LPCWSTR pszName, LPDWORD, LPDWORD, LPBYTE, LPDWORD)
{
    s_calls.push_back(lstrcmpW(pszName, L"Windows") == 0 ? "query Windows" : "query");
    return 102;
}
LONG WINAPI StubSet(HKEY, LPCWSTR, DWORD, DWORD dwType, const BYTE *, DWORD cb)
{
    s_calls.push_back("set " + std::to_string(dwType) + " " + std::to_string(cb));
    return 103;
}
LONG WINAPI StubClose(HKEY hKey)
{
    s_calls.push_back("close " + std::to_string(reinterpret_cast<UINT_PTR>(hKey)));
    return 104;
}
BOOL WINAPI StubOpenToken(HANDLE, DWORD dwAccess, PHANDLE)
{
    s_calls.push_back("token " + std::to_string(dwAccess));
    return 105;
}
BOOL WINAPI StubLookupPrivilege(LPCWSTR, LPCWSTR, PLUID)
{
    s_calls.push_back("privilege");
    return 106;
}
BOOL WINAPI StubAdjust(HANDLE, BOOL, PTOKEN_PRIVILEGES, DWORD cbBuffer, PTOKEN_PRIVILEGES, PDWORD)
{
    s_calls.push_back("adjust " + std::to_string(cbBuffer));
    return 107;
}
BOOL WINAPI StubShutdown(LPWSTR, LPWSTR, DWORD dwTimeout, BOOL, BOOL, DWORD dwReason)
{
    s_calls.push_back("shutdown " + std::to_string(dwTimeout) + " " + std::to_string(dwReason));
    return 108;
}

template <typename Proc> AdvapiFunction AsFunction(Proc pfn)
{
    return reinterpret_cast<AdvapiFunction>(pfn);
}

AdvapiFunction StubLookup(LPCSTR pszName)
{
    s_lookups.push_back(pszName);
    const struct {
        const char *name;
        AdvapiFunction pfn;
    } stubs[] = {
        {"RegOpenKeyExW", AsFunction(StubOpen)},
        {"RegQueryValueExW", AsFunction(StubQuery)},
        {"RegSetValueExW", AsFunction(StubSet)},
        {"RegCloseKey", AsFunction(StubClose)},
        {"OpenProcessToken", AsFunction(StubOpenToken)},
        {"LookupPrivilegeValueW", AsFunction(StubLookupPrivilege)},
        {"AdjustTokenPrivileges", AsFunction(StubAdjust)},
        {"InitiateSystemShutdownExW", AsFunction(StubShutdown)},
    };
    for (const auto &stub : stubs) {
        if (lstrcmpA(stub.name, pszName) == 0)
            return stub.pfn;
    }
    return NULL;
}

AdvapiFunction MissingLookup(LPCSTR pszName)
{
    s_lookups.push_back(pszName);
    return NULL;
}

class LazyBinding : public testing::Test {
  protected:
    void SetUp() override
    {
        s_lookups.clear();
        s_calls.clear();
    }
};

TEST_F(LazyBinding, EachFunctionIsLookedUpAtItsOwnFirstCallAndPassedThrough)
{
    g_advapi.pfnLookup = StubLookup;
    HKEY hKey = NULL;
    HANDLE hToken = NULL;
    LUID luid = {};
    TOKEN_PRIVILEGES privileges = {};
    for (int round = 0; round < 2; round++) {
        EXPECT_EQ(101, LazyRegOpenKeyExW(HKEY_LOCAL_MACHINE, L"x", 0, KEY_SET_VALUE, &hKey));
        EXPECT_EQ(102, LazyRegQueryValueExW(NULL, L"Windows", NULL, NULL, NULL, NULL));
        EXPECT_EQ(103, LazyRegSetValueExW(NULL, L"Windows", 0, REG_EXPAND_SZ, NULL, 6));
        EXPECT_EQ(104, LazyRegCloseKey(reinterpret_cast<HKEY>(7)));
        EXPECT_EQ(105, LazyOpenProcessToken(NULL, TOKEN_ADJUST_PRIVILEGES, &hToken));
        EXPECT_EQ(106, LazyLookupPrivilegeValueW(NULL, L"x", &luid));
        EXPECT_EQ(107, LazyAdjustTokenPrivileges(NULL, FALSE, &privileges, 9, NULL, NULL));
        EXPECT_EQ(108, LazyInitiateSystemShutdownExW(NULL, NULL, 5, FALSE, TRUE, 0x80020004));
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
    const std::vector<std::string> once = {
        "open 2", "query Windows", "set 2 6", "close 7", "token 32", "privilege", "adjust 9", "shutdown 5 2147614724"};
    std::vector<std::string> twice = once;
    twice.insert(twice.end(), once.begin(), once.end());
    EXPECT_EQ(twice, s_calls);
}

TEST_F(LazyBinding, MissingFunctionsGiveTheFailuresCallersHandle)
{
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
    const struct {
        const char *name;
        BOOL (*pfnCall)(HANDLE *, LUID *, TOKEN_PRIVILEGES *);
    } calls[] = {
        {"OpenProcessToken",
         [](HANDLE *phToken, LUID *, TOKEN_PRIVILEGES *) { return LazyOpenProcessToken(NULL, 0, phToken); }},
        {"LookupPrivilegeValueW",
         [](HANDLE *, LUID *pLuid, TOKEN_PRIVILEGES *) { return LazyLookupPrivilegeValueW(NULL, L"x", pLuid); }},
        {"AdjustTokenPrivileges",
         [](HANDLE *, LUID *, TOKEN_PRIVILEGES *pNew) {
             return LazyAdjustTokenPrivileges(NULL, FALSE, pNew, 0, NULL, NULL);
         }},
        {"InitiateSystemShutdownExW",
         [](HANDLE *, LUID *, TOKEN_PRIVILEGES *) {
             return LazyInitiateSystemShutdownExW(NULL, NULL, 0, FALSE, TRUE, 0);
         }},
    };
    for (const auto &call : calls) {
        SCOPED_TRACE(call.name);
        SetLastError(0);
        EXPECT_FALSE(call.pfnCall(&hToken, &luid, &privileges));
        EXPECT_EQ(static_cast<DWORD>(ERROR_PROC_NOT_FOUND), GetLastError());
    }
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
