// The guard between the tests and advapi32.
#include "advapi_guard.h"

#include <string.h>

#include <gtest/gtest.h>

#include "machine_state.h"

namespace {

AdvapiFunction GuardedLookup(LPCSTR pszName)
{
    static const char *const kNeverReal[] = {"AdjustTokenPrivileges", "InitiateSystemShutdownExW"};
    static const char *const kOnlyUnderWine[] = {"RegOpenKeyExW", "RegQueryValueExW", "RegSetValueExW"};
    for (const char *pszRefused : kNeverReal) {
        if (strcmp(pszName, pszRefused) == 0) {
            ADD_FAILURE() << "a test reached the real " << pszName << ": put a fake into g_advapi first";
            return NULL;
        }
    }
    for (const char *pszRefused : kOnlyUnderWine) {
        if (strcmp(pszName, pszRefused) == 0 && !IsRunningUnderWine()) {
            ADD_FAILURE() << "a test reached the real " << pszName << " outside Wine: use the fake system";
            return NULL;
        }
    }
    return LookupAdvapiFunction(pszName);
}

class AdvapiGuardListener : public testing::EmptyTestEventListener {
    void OnTestStart(const testing::TestInfo &) override
    {
        ResetAdvapiBinding();
    }
    void OnTestEnd(const testing::TestInfo &) override
    {
        ResetAdvapiBinding();
    }
};

} // namespace

void ResetAdvapiBinding()
{
    AdvapiBinding unbound = {NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, GuardedLookup};
    g_advapi = unbound;
}

void InstallAdvapiGuard()
{
    ResetAdvapiBinding();
    testing::UnitTest::GetInstance()->listeners().Append(new AdvapiGuardListener);
}
