// RestartSystem with every advapi32 call injected: no test reaches the real
// shutdown request.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "advapi_binding.h"
#include "advapi_fakes.h"
#include "program.h"
#include "restart.h"

namespace {

const LUID kShutdownLuid = {0x13, 0};

struct Row {
    const char *name;
    BOOL tokenOpens;
    BOOL privilegeKnown;
    DWORD adjustError; // the last-error code the adjustment leaves
    BOOL requestAccepted;
    bool result;
    bool requestMade;
};

// What the fakes saw.
struct Seen {
    const Row *row;
    HANDLE hToken;
    int opens, lookups, adjusts, requests;
    DWORD openAccess;
    bool lookupArgsRight, adjustArgsRight;
    bool requestMachineNull;
    std::wstring requestMessage;
    DWORD requestTimeout, requestReason;
    BOOL requestForce, requestReboot;
};
Seen s_seen;

BOOL WINAPI FakeOpenProcessToken(HANDLE hProcess, DWORD dwAccess, PHANDLE phToken)
{
    s_seen.opens++;
    s_seen.openAccess = dwAccess;
    if (hProcess != GetCurrentProcess() || !s_seen.row->tokenOpens)
        return FALSE;
    // A real handle, so that closing it can be observed.
    *phToken = s_seen.hToken = CreateEventW(NULL, FALSE, FALSE, NULL);
    return TRUE;
}

BOOL WINAPI FakeLookupPrivilegeValueW(LPCWSTR pszSystem, LPCWSTR pszName, PLUID pLuid)
{
    s_seen.lookups++;
    s_seen.lookupArgsRight = pszSystem == NULL && lstrcmpW(pszName, L"SeShutdownPrivilege") == 0 &&
                             pLuid->LowPart == 0 && pLuid->HighPart == 0;
    if (!s_seen.row->privilegeKnown)
        return FALSE;
    *pLuid = kShutdownLuid;
    return TRUE;
}

BOOL WINAPI FakeAdjustTokenPrivileges(HANDLE hToken,
                                      BOOL disableAll,
                                      PTOKEN_PRIVILEGES pNew,
                                      DWORD cbBuffer,
                                      PTOKEN_PRIVILEGES pPrevious,
                                      PDWORD pcbReturn)
{
    s_seen.adjusts++;
    s_seen.adjustArgsRight = hToken == s_seen.hToken && !disableAll && pNew->PrivilegeCount == 1 &&
                             pNew->Privileges[0].Luid.LowPart == kShutdownLuid.LowPart &&
                             pNew->Privileges[0].Luid.HighPart == kShutdownLuid.HighPart &&
                             pNew->Privileges[0].Attributes == SE_PRIVILEGE_ENABLED && cbBuffer == 0 &&
                             pPrevious == NULL && pcbReturn == NULL;
    SetLastError(s_seen.row->adjustError);
    // Not consulted by the restart: TRUE even for ERROR_NOT_ALL_ASSIGNED.
    return s_seen.row->adjustError == ERROR_SUCCESS || s_seen.row->adjustError == ERROR_NOT_ALL_ASSIGNED;
}

BOOL WINAPI FakeInitiateSystemShutdownExW(
    LPWSTR pszMachine, LPWSTR pszMessage, DWORD dwTimeout, BOOL force, BOOL reboot, DWORD dwReason)
{
    s_seen.requests++;
    s_seen.requestMachineNull = pszMachine == NULL;
    s_seen.requestMessage = pszMessage != NULL ? pszMessage : L"(null)";
    s_seen.requestTimeout = dwTimeout;
    s_seen.requestForce = force;
    s_seen.requestReboot = reboot;
    s_seen.requestReason = dwReason;
    return s_seen.row->requestAccepted;
}

bool IsHandleOpen(HANDLE h)
{
    DWORD flags = 0;
    return h != NULL && GetHandleInformation(h, &flags);
}

class RestartSystemTest : public testing::Test {
  protected:
    void SetUp() override
    {
        ResetAdvapiBinding();
        g_advapi.pfnOpenProcessToken = FakeOpenProcessToken;
        g_advapi.pfnLookupPrivilegeValueW = FakeLookupPrivilegeValueW;
        g_advapi.pfnAdjustTokenPrivileges = FakeAdjustTokenPrivileges;
        g_advapi.pfnInitiateSystemShutdownExW = FakeInitiateSystemShutdownExW;
        g_hInstance = GetModuleHandleW(NULL); // this test program carries the string table
    }
    void TearDown() override
    {
        ResetAdvapiBinding();
    }

    bool Run(const Row &row)
    {
        Seen fresh = {};
        s_seen = fresh;
        s_seen.row = &row;
        return RestartSystem();
    }
};

TEST_F(RestartSystemTest, FailureTable)
{
    const Row rows[] = {
        {"token not opened", FALSE, TRUE, ERROR_SUCCESS, TRUE, false, false},
        {"privilege unknown", TRUE, FALSE, ERROR_SUCCESS, TRUE, false, false},
        {"privilege not held", TRUE, TRUE, ERROR_NOT_ALL_ASSIGNED, TRUE, false, false},
        {"adjustment failed", TRUE, TRUE, ERROR_ACCESS_DENIED, TRUE, false, false},
        {"request refused", TRUE, TRUE, ERROR_SUCCESS, FALSE, false, true},
        {"request accepted", TRUE, TRUE, ERROR_SUCCESS, TRUE, true, true},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(row.result, Run(row));
        EXPECT_EQ(1, s_seen.opens);
        EXPECT_EQ(static_cast<DWORD>(TOKEN_ADJUST_PRIVILEGES), s_seen.openAccess);
        EXPECT_EQ(row.tokenOpens ? 1 : 0, s_seen.lookups);
        EXPECT_EQ(row.tokenOpens && row.privilegeKnown ? 1 : 0, s_seen.adjusts);
        EXPECT_EQ(row.requestMade ? 1 : 0, s_seen.requests);
        if (row.tokenOpens) {
            EXPECT_TRUE(s_seen.lookupArgsRight);
            EXPECT_FALSE(IsHandleOpen(s_seen.hToken)) << "the token is closed on every path";
        }
        if (row.tokenOpens && row.privilegeKnown) {
            EXPECT_TRUE(s_seen.adjustArgsRight);
        }
    }
}

TEST_F(RestartSystemTest, RequestsAPlannedRebootWithTheReasonText)
{
    Row accepted = {"accepted", TRUE, TRUE, ERROR_SUCCESS, TRUE, true, true};
    ASSERT_TRUE(Run(accepted));
    EXPECT_TRUE(s_seen.requestMachineNull);
    EXPECT_EQ(L"System restart to change desktop heap size.", s_seen.requestMessage);
    EXPECT_EQ(0u, s_seen.requestTimeout);
    EXPECT_FALSE(s_seen.requestForce);
    EXPECT_TRUE(s_seen.requestReboot);
    EXPECT_EQ(0x80020004u, s_seen.requestReason);
}

TEST_F(RestartSystemTest, MissingReasonTextStillRequestsTheReboot)
{
    HMODULE hNoStrings = GetModuleHandleW(L"ntdll.dll");
    WCHAR probe[8];
    ASSERT_EQ(0, LoadStringW(hNoStrings, 105, probe, 8)) << "ntdll unexpectedly holds string 105";
    g_hInstance = hNoStrings;

    Row accepted = {"accepted", TRUE, TRUE, ERROR_SUCCESS, TRUE, true, true};
    EXPECT_TRUE(Run(accepted));
    EXPECT_EQ(1, s_seen.requests);
    EXPECT_EQ(L"", s_seen.requestMessage);
}

} // namespace
