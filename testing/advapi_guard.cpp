// The guard between the tests and advapi32.
#include "advapi_guard.h"

#include <string.h>

#include <gtest/gtest.h>

#include "fake_desktops.h"
#include "fake_event_log.h"
#include "machine_state.h"
#include "subsystem_process.h"

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

SystemFunction GuardedSystemLookup(LPCWSTR pszModule, LPCSTR pszName)
{
    if (!IsRunningUnderWine()) {
        ADD_FAILURE() << "a test reached the real " << pszName << " outside Wine: use the fake processes";
        return NULL;
    }
    return LookupSystemFunction(pszModule, pszName);
}

class AdvapiGuardListener : public testing::EmptyTestEventListener {
    // The event log and the desktops are only read (the process's own
    // window station is switched back), and reading changes nothing: their
    // bindings go back to the real lookup, so that no test inherits another's
    // fake. The processes they read come through the guarded process binding.
    void OnTestStart(const testing::TestInfo &) override
    {
        ResetAdvapiBinding();
        ResetProcessBinding();
        RemoveFakeEventLog();
        RemoveFakeDesktops();
    }
    void OnTestEnd(const testing::TestInfo &) override
    {
        ResetAdvapiBinding();
        ResetProcessBinding();
        RemoveFakeEventLog();
        RemoveFakeDesktops();
    }
};

} // namespace

void ResetAdvapiBinding()
{
    AdvapiBinding unbound = {NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, GuardedLookup};
    g_advapi = unbound;
}

void ResetProcessBinding()
{
    ProcessBinding unbound = {NULL, NULL, NULL, NULL, NULL, NULL, NULL, GuardedSystemLookup};
    g_processApi = unbound;
}

void InstallAdvapiGuard()
{
    ResetAdvapiBinding();
    ResetProcessBinding();
    testing::UnitTest::GetInstance()->listeners().Append(new AdvapiGuardListener);
}
