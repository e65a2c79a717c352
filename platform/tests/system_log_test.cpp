// The desktop heap events through the event log binding, for what Wine
// cannot show: a System log with events, a refusal, a read that fails half
// way. Every row must close each handle it opened, and a failed query is
// the last call.
#include <windows.h>

#include <gtest/gtest.h>

#include <stdlib.h>

#include <algorithm>
#include <string>
#include <vector>

#include "fake_event_log.h"
#include "system_log.h"

namespace {

const wchar_t kWin32k[] = L"Win32k";
const wchar_t kNewWin32k[] = L"Microsoft-Windows-Win32k";
const wchar_t kPopup[] = L"Application Popup";
const wchar_t kFailed[] =
    L"The application was unable to start correctly (0xc0000142). Click OK to close the application.";

FakeEvent Popup(LONGLONG seconds, const wchar_t *pszCaption, const wchar_t *pszText = kFailed)
{
    return {kPopup, 26, seconds, {pszCaption, pszText}, kEventWhole};
}

FakeEvent Win32k(DWORD id, LONGLONG seconds, const wchar_t *pszProvider = kWin32k, FakeEventDamage damage = kEventWhole)
{
    return {pszProvider, id, seconds, {L"\\Device\\Something"}, damage};
}

// The log of the typical case, newest first: two 243 (one from each
// provider name), a 244, three popups with 0xC0000142 from two programs, and
// what does not count: a 243 before the start, a popup of another status,
// another Win32k event.
std::vector<FakeEvent> TypicalLog()
{
    return {
        Popup(9000, L"worker.exe - Application Error"),
        Popup(8000, L"notepad.exe - Application Error", L"The instruction at 0x00 (0xc0000005)."),
        Win32k(243, 7000, kNewWin32k),
        Popup(6000, L"node.exe - Application Error"),
        Win32k(244, 5000),
        Win32k(9999, 4500),
        Popup(4000, L"worker.exe - Application Error"),
        Win32k(243, 3000),
        Win32k(243, -60),
        Popup(-30, L"before.exe - Application Error"),
    };
}

struct Expected {
    EventsStatus status;
    uint32_t counts[kHeapEventKinds];
    LONGLONG lastSeconds[kHeapEventKinds]; // -1: none
    std::vector<std::string> programs;
};

struct Row {
    const char *name;
    std::vector<FakeEvent> events;
    void (*pfnPrepare)();
    Expected expected;
};

void DenyQuery()
{
    g_fakeEventLog.queryAnswer = kQueryDenied;
}
void WineQuery()
{
    g_fakeEventLog.queryAnswer = kQueryNullUntouched;
    SetLastError(ERROR_ACCESS_DENIED); // the older error Wine leaves in place
}
void MissingChannel()
{
    g_fakeEventLog.queryAnswer = kQueryChannelMissing;
}
void FailHalfWay()
{
    g_fakeEventLog.batchLimit = 2;
    g_fakeEventLog.nextFailsAfter = 4;
    g_fakeEventLog.nextError = RPC_S_CALL_FAILED;
}
void DenyHalfWay()
{
    g_fakeEventLog.nextFailsAfter = 3;
    g_fakeEventLog.nextError = ERROR_ACCESS_DENIED;
}
void SmallBatches()
{
    g_fakeEventLog.batchLimit = 1;
}

const Expected kUnknown = {kEventsQueryFailed, {0, 0, 0, 0}, {-1, -1, -1, -1}, {}};

Expected Unknown(EventsStatus status)
{
    Expected expected = kUnknown;
    expected.status = status;
    return expected;
}

std::string Narrow(const WCHAR *psz)
{
    std::string text;
    for (; *psz != 0; psz++)
        text += static_cast<char>(*psz);
    return text;
}

class SystemLog : public testing::Test {
  protected:
    void SetUp() override
    {
        InstallFakeEventLog();
    }
    void TearDown() override
    {
        RemoveFakeEventLog();
    }
};

TEST_F(SystemLog, CountsOnlyWhatTheCurrentStartLoggedOrNothing)
{
    std::vector<FakeEvent> damaged = TypicalLog();
    const Expected typical = {kEventsRead, {2, 1, 0, 3}, {7000, 5000, -1, 9000}, {"worker.exe", "node.exe"}};
    std::vector<FakeEvent> longText = {
        Popup(10, L"a.exe - Application Error", (std::wstring(3000, L'x') + kFailed).c_str())};
    const Row rows[] = {
        {"the typical log", TypicalLog(), NULL, typical},
        {"the typical log one event at a time", TypicalLog(), SmallBatches, typical},
        {"an empty log", {}, NULL, {kEventsRead, {0, 0, 0, 0}, {-1, -1, -1, -1}, {}}},
        {"a 1046", {Win32k(1046, 1, kNewWin32k)}, NULL, {kEventsRead, {0, 0, 1, 0}, {-1, -1, 1, -1}, {}}},
        {"a popup text longer than the first buffer",
         longText,
         NULL,
         {kEventsRead, {0, 0, 0, 1}, {-1, -1, -1, 10}, {"a.exe"}}},
        {"more events than one batch holds",
         std::vector<FakeEvent>(40, Win32k(243, 100)),
         NULL,
         {kEventsRead, {40, 0, 0, 0}, {100, -1, -1, -1}, {}}},
        {"a popup whose caption names no program",
         {Popup(20, L"Application Error")},
         NULL,
         {kEventsRead, {0, 0, 0, 1}, {-1, -1, -1, 20}, {}}},
        {"access denied", TypicalLog(), DenyQuery, Unknown(kEventsAccessDenied)},
        {"Wine's query, with an older access denied left in place", TypicalLog(), WineQuery, kUnknown},
        {"no System channel", TypicalLog(), MissingChannel, kUnknown},
        {"a read that fails half way", TypicalLog(), FailHalfWay, Unknown(kEventsReadFailed)},
        {"access denied half way", TypicalLog(), DenyHalfWay, Unknown(kEventsAccessDenied)},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        InstallFakeEventLog();
        g_fakeEventLog.events = row.events;
        if (row.pfnPrepare != NULL)
            row.pfnPrepare();
        HeapEventsSinceStart events;
        memset(&events, 0x55, sizeof events);
        EXPECT_EQ(row.expected.status, ReadHeapEventsSinceStart(&events));
        EXPECT_EQ(0, g_fakeEventLog.openHandles) << "handles left open";
        EXPECT_GT(100000, llabs(static_cast<LONGLONG>(events.startTime - g_fakeEventLog.startTime)))
            << "the start as now minus the uptime";
        std::vector<std::string> programs;
        for (size_t i = 0; i < events.programCount && i < kMaxStartFailurePrograms; i++)
            programs.push_back(Narrow(events.programs[i]));
        EXPECT_EQ(row.expected.programs, programs);
        for (int kind = 0; kind < kHeapEventKinds; kind++) {
            const HeapEventTally &tally = events.tallies[kind];
            LONGLONG lastSeconds = row.expected.lastSeconds[kind];
            EXPECT_EQ(row.expected.counts[kind], tally.count) << "kind " << kind;
            EXPECT_EQ(lastSeconds < 0 ? 0 : g_fakeEventLog.startTime + static_cast<ULONGLONG>(lastSeconds) * 10000000,
                      tally.lastTime)
                << "kind " << kind;
        }
        if (row.expected.status != kEventsRead && g_fakeEventLog.log.size() == 1) {
            EXPECT_EQ(0u, g_fakeEventLog.log[0].find("query")) << "nothing but the query";
        }
    }
}

TEST_F(SystemLog, OneQueryOfTheSystemChannelNewestFirstSinceTheStart)
{
    g_fakeEventLog.events = {Win32k(243, 1)};
    HeapEventsSinceStart events = {};
    ASSERT_EQ(kEventsRead, ReadHeapEventsSinceStart(&events));
    ASSERT_LE(1u, g_fakeEventLog.log.size());
    const std::string query = g_fakeEventLog.log[0];
    const std::string lead = "query System 513 *[System[((Provider[@Name='Win32k' or @Name='Microsoft-Windows-Win32k'] "
                             "and (EventID=243 or EventID=244 or EventID=1046)) or (Provider[@Name='Application "
                             "Popup'] and EventID=26)) and TimeCreated[timediff(@SystemTime) <= ";
    ASSERT_EQ(lead, query.substr(0, lead.size()));
    EXPECT_EQ("]]]", query.substr(query.size() - 3));
    long long upMilliseconds = atoll(query.c_str() + lead.size());
    // The fake started five hours ago, give or take the half second it adds.
    EXPECT_LE(5 * 3600 * 1000LL - 1000, upMilliseconds) << "the time since the start, in milliseconds";
    EXPECT_GE(5 * 3600 * 1000LL + 1000, upMilliseconds);
    EXPECT_EQ(1, std::count(g_fakeEventLog.log.begin(), g_fakeEventLog.log.end(), g_fakeEventLog.log[0]));
    EXPECT_EQ(1u, events.tallies[kHeapAllocationFailed].count);
}

TEST_F(SystemLog, AnEventThatCannotBeReadWholeMakesAllUnknown)
{
    const FakeEventDamage damages[] = {kEventRenderFails,
                                       kEventTimeNotFileTime,
                                       kEventProviderOutside,
                                       kEventProviderNotString,
                                       kEventProviderUnterminated,
                                       kEventDataRenderFails};
    for (FakeEventDamage damage : damages) {
        SCOPED_TRACE(damage);
        InstallFakeEventLog();
        FakeEvent popup = Popup(20, L"a.exe - Application Error");
        popup.damage = damage;
        g_fakeEventLog.events = {Win32k(243, 30), Win32k(244, 20, kWin32k, damage), popup, Win32k(243, 10)};
        HeapEventsSinceStart events = {};
        EXPECT_EQ(kEventsReadFailed, ReadHeapEventsSinceStart(&events));
        EXPECT_EQ(0u, events.tallies[kHeapAllocationFailed].count) << "no partial counts";
        EXPECT_EQ(0u, events.tallies[kHeapAllocationFailed].lastTime);
        EXPECT_EQ(0, g_fakeEventLog.openHandles);
    }
}

TEST_F(SystemLog, WithoutTheEventLogApiTheEventsAreUnknown)
{
    // Windows 2000, XP and 2003: no wevtapi.dll, no GetTickCount64.
    const char *missing[] = {"EvtQuery", "EvtRender", "GetTickCount64"};
    static const char *s_pszMissing;
    for (const char *pszMissing : missing) {
        SCOPED_TRACE(pszMissing);
        s_pszMissing = pszMissing;
        RemoveFakeEventLog();
        g_eventLogApi.pfnLookup = [](LPCWSTR pszModule, LPCSTR pszName) -> EventLogFunction {
            return lstrcmpA(pszName, s_pszMissing) == 0 ? NULL : LookupEventLogFunction(pszModule, pszName);
        };
        HeapEventsSinceStart events = {};
        EXPECT_EQ(kEventsNotSupported, ReadHeapEventsSinceStart(&events));
    }
}

} // namespace
