// RestartSystem with every advapi32 call faked: the failure table, the
// exact request, and a reason text that cannot be loaded.
#include <windows.h>

#include <gtest/gtest.h>

#include "message_texts.h"
#include "program.h"
#include "restart.h"
#include "token_fakes.h"

namespace {

bool IsHandleOpen(HANDLE h)
{
    DWORD flags = 0;
    return h != NULL && GetHandleInformation(h, &flags);
}

struct Row {
    const char *name;
    TokenScript script;
    bool result;
    bool requestMade;
};

const TokenScript kAllGoes = {TRUE, TRUE, ERROR_SUCCESS, TRUE, NULL};

class RestartSystemTest : public testing::Test {
  protected:
    void SetUp() override
    {
        g_hInstance = GetModuleHandleW(NULL); // this test program carries the string table
    }
};

TEST_F(RestartSystemTest, FailureTable)
{
    const Row rows[] = {
        {"token not opened", {FALSE, TRUE, ERROR_SUCCESS, TRUE, NULL}, false, false},
        {"privilege unknown", {TRUE, FALSE, ERROR_SUCCESS, TRUE, NULL}, false, false},
        {"privilege not held", {TRUE, TRUE, ERROR_NOT_ALL_ASSIGNED, TRUE, NULL}, false, false},
        {"adjustment failed", {TRUE, TRUE, ERROR_ACCESS_DENIED, TRUE, NULL}, false, false},
        {"request refused", {TRUE, TRUE, ERROR_SUCCESS, FALSE, NULL}, false, true},
        {"request accepted", kAllGoes, true, true},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        InstallTokenFakes(row.script);
        EXPECT_EQ(row.result, RestartSystem());
        EXPECT_EQ(1, g_tokenSeen.opens);
        EXPECT_EQ(static_cast<DWORD>(TOKEN_ADJUST_PRIVILEGES), g_tokenSeen.openAccess);
        EXPECT_EQ(row.script.tokenOpens ? 1 : 0, g_tokenSeen.lookups);
        EXPECT_EQ(row.script.tokenOpens && row.script.privilegeKnown ? 1 : 0, g_tokenSeen.adjusts);
        EXPECT_EQ(row.requestMade ? 1 : 0, g_tokenSeen.requests);
        EXPECT_EQ(!row.script.tokenOpens, IsHandleOpen(g_tokenSeen.hToken)) << "closed exactly when it was opened";
        CloseHandle(g_tokenSeen.hToken);
        if (row.script.tokenOpens) {
            EXPECT_TRUE(g_tokenSeen.lookupArgsRight);
        }
        if (row.script.tokenOpens && row.script.privilegeKnown) {
            EXPECT_TRUE(g_tokenSeen.adjustArgsRight);
        }
    }
}

TEST_F(RestartSystemTest, RequestsAPlannedRebootWithTheReasonText)
{
    InstallTokenFakes(kAllGoes);
    ASSERT_TRUE(RestartSystem());
    EXPECT_TRUE(g_tokenSeen.requestMachineNull);
    EXPECT_EQ(MessageTextOf(IDS_RESTART_REASON), g_tokenSeen.requestMessage);
    EXPECT_EQ(0u, g_tokenSeen.requestTimeout);
    EXPECT_FALSE(g_tokenSeen.requestForce);
    EXPECT_TRUE(g_tokenSeen.requestReboot);
    EXPECT_EQ(0x80020004u, g_tokenSeen.requestReason);

    // A reason text that cannot be loaded leaves the message empty.
    g_hInstance = GetModuleHandleW(L"ntdll.dll");
    WCHAR szProbe[8];
    ASSERT_EQ(0, LoadStringW(g_hInstance, IDS_RESTART_REASON, szProbe, 8)) << "ntdll unexpectedly holds the string";
    InstallTokenFakes(kAllGoes);
    EXPECT_TRUE(RestartSystem());
    EXPECT_EQ(1, g_tokenSeen.requests);
    EXPECT_EQ(L"", g_tokenSeen.requestMessage);
}

} // namespace
