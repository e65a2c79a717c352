// Who holds objects on a session's desktops, at the edges the desktops
// report's own run does not reach: the longest station names, sums and
// quotas near the top of 32 bits. The ranking, the grouping and the verdict
// on an ordinary session are rows of CliProgram.DesktopsOfWhatWineCannotShow;
// the fuzzer judges station names both ways.
#include <gtest/gtest.h>

#include <vector>

#include "desktop_holders.h"
#include "wide_text.h"

namespace {

ObjectCount Known(uint32_t value)
{
    return {true, value, 0};
}

TEST(ServiceStation, NameOfALogonSessionAndBack)
{
    const struct {
        LogonId logon;
        const char *name;
    } rows[] = {
        {{0, 0x3e7}, "Service-0x0-3e7$"},
        {{0xffffffff, 0xffffffff}, "Service-0xffffffff-ffffffff$"},
        {{0, 0}, "Service-0x0-0$"},
    };
    for (const auto &row : rows) {
        WideChar szStation[kServiceStationChars] = {};
        LogonId parsed = {7, 7};
        FormatServiceStation(row.logon, szStation);
        EXPECT_EQ(Widen(row.name), WideString(szStation));
        ASSERT_TRUE(ParseServiceStation(szStation, &parsed)) << row.name;
        EXPECT_EQ(row.logon.high, parsed.high);
        EXPECT_EQ(row.logon.low, parsed.low);
    }
    LogonId parsed = {};
    EXPECT_TRUE(ParseServiceStation(Widen("SERVICE-0X0-3E7$").c_str(), &parsed)); // names know no letter case
    for (const char *name : {"WinSta0", "Service-0x0-3e7", "Service-0x123456789-3e7$", "Service-0x-3e7$"})
        EXPECT_FALSE(ParseServiceStation(Widen(name).c_str(), &parsed)) << name;
}

TEST(GroupByLogonSession, TheSumStopsAtTheTopOf32Bits)
{
    std::vector<HolderProcess> processes(3);
    for (HolderProcess &process : processes) {
        process.logonKnown = true;
        process.counts[kUserObjects] = Known(2000000000u);
        process.counts[kGdiObjects] = Known(1);
    }
    std::vector<LogonSessionTotals> totals(processes.size());
    ASSERT_EQ(1u, GroupByLogonSession(processes.data(), processes.size(), totals.data()));
    EXPECT_EQ(4294967295u, totals[0].userObjects);
    EXPECT_EQ(3u, totals[0].gdiObjects);
}

TEST(NearQuota, NinetyPercentOfEitherQuota)
{
    const ObjectCount kUnknown = {false, 0, 120};
    const struct {
        const char *name;
        ObjectCount user, gdi, userQuota, gdiQuota;
        unsigned near;
    } rows[] = {
        {"both, at the quota", Known(18000), Known(65536), Known(18000), Known(65536), kNearUserQuota | kNearGdiQuota},
        {"a quota unknown", Known(9999), Known(9999), kUnknown, Known(10000), kNearGdiQuota},
        {"a quota of 0 tells nothing", Known(0), Known(0), Known(0), Known(0), 0},
        {"no wrap in 32 bits", Known(4294967295u), Known(0), Known(4294967295u), Known(10000), kNearUserQuota},
        {"just under near the top", Known(3865470565u), Known(0), Known(4294967295u), Known(10000), 0},
    };
    for (const auto &row : rows) {
        HolderProcess process = {};
        process.counts[kUserObjects] = row.user;
        process.counts[kGdiObjects] = row.gdi;
        const ObjectQuotas quotas = {row.userQuota, row.gdiQuota};
        EXPECT_EQ(row.near, NearQuota(process, quotas)) << row.name;
    }
}

} // namespace
