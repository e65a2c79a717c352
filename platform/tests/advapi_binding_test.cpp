// advapi32 is bound lazily, one function at its own first call, and a
// missing function fails the way callers already handle.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "advapi_binding.h"
#include "advapi_fakes.h"
#include "restart.h"
#include "subsystem_store.h"

namespace {

// Taken during static initialisation, before any test could bind anything.
const AdvapiBinding s_bindingAtStart = g_advapi;

std::vector<std::string> s_lookups;
bool s_lookupsFail;

AdvapiFunction RecordingLookup(LPCSTR pszName)
{
    s_lookups.push_back(pszName);
    return s_lookupsFail ? NULL : LookupAdvapiFunction(pszName);
}

class AdvapiBindingTest : public testing::Test {
  protected:
    void SetUp() override
    {
        ResetAdvapiBinding();
        g_advapi.pfnLookup = RecordingLookup;
        s_lookups.clear();
        s_lookupsFail = false;
    }
    void TearDown() override
    {
        ResetAdvapiBinding();
    }
};

TEST_F(AdvapiBindingTest, NothingIsBoundAtStart)
{
    EXPECT_TRUE(s_bindingAtStart.pfnRegOpenKeyExW == NULL);
    EXPECT_TRUE(s_bindingAtStart.pfnRegQueryValueExW == NULL);
    EXPECT_TRUE(s_bindingAtStart.pfnRegSetValueExW == NULL);
    EXPECT_TRUE(s_bindingAtStart.pfnRegCloseKey == NULL);
    EXPECT_TRUE(s_bindingAtStart.pfnOpenProcessToken == NULL);
    EXPECT_TRUE(s_bindingAtStart.pfnLookupPrivilegeValueW == NULL);
    EXPECT_TRUE(s_bindingAtStart.pfnAdjustTokenPrivileges == NULL);
    EXPECT_TRUE(s_bindingAtStart.pfnInitiateSystemShutdownExW == NULL);
    EXPECT_TRUE(s_bindingAtStart.pfnLookup == LookupAdvapiFunction);
}

TEST_F(AdvapiBindingTest, EachFunctionIsLookedUpAtItsOwnFirstCall)
{
    HKEY hKey = NULL;
    OpenSubsystemKey(KEY_QUERY_VALUE, &hKey);
    EXPECT_EQ(std::vector<std::string>({"RegOpenKeyExW"}), s_lookups);
    EXPECT_TRUE(g_advapi.pfnRegQueryValueExW == NULL);

    OpenSubsystemKey(KEY_QUERY_VALUE, &hKey);
    if (hKey != NULL)
        CloseSubsystemKey(hKey);
    else
        LazyRegCloseKey(NULL);
    EXPECT_EQ(std::vector<std::string>({"RegOpenKeyExW", "RegCloseKey"}), s_lookups);
    EXPECT_TRUE(g_advapi.pfnRegOpenKeyExW != NULL);
    EXPECT_TRUE(g_advapi.pfnRegCloseKey != NULL);
}

TEST_F(AdvapiBindingTest, MissingFunctionsGiveTheFailuresCallersHandle)
{
    s_lookupsFail = true;

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
    EXPECT_FALSE(LazyOpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES, &hToken));
    EXPECT_EQ(static_cast<DWORD>(ERROR_PROC_NOT_FOUND), GetLastError());
    SetLastError(0);
    EXPECT_FALSE(LazyLookupPrivilegeValueW(NULL, SE_SHUTDOWN_NAME, &luid));
    EXPECT_EQ(static_cast<DWORD>(ERROR_PROC_NOT_FOUND), GetLastError());
    SetLastError(0);
    EXPECT_FALSE(LazyAdjustTokenPrivileges(NULL, FALSE, &privileges, 0, NULL, NULL));
    EXPECT_EQ(static_cast<DWORD>(ERROR_PROC_NOT_FOUND), GetLastError());
    SetLastError(0);
    EXPECT_FALSE(LazyInitiateSystemShutdownExW(NULL, NULL, 0, FALSE, TRUE, 0));
    EXPECT_EQ(static_cast<DWORD>(ERROR_PROC_NOT_FOUND), GetLastError());
}

} // namespace
