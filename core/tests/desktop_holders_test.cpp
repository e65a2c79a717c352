// Who holds objects on a session's desktops: the ranking, the grouping by
// logon session, the service window station of a logon session and the
// quota verdict.
#include <gtest/gtest.h>

#include <vector>

#include "desktop_holders.h"
#include "wide_text.h"

namespace {

const ObjectCount kUnknown = {false, 0, 120};

ObjectCount Known(uint32_t value)
{
    return {true, value, 0};
}

HolderProcess Process(uint32_t processId, ObjectCount user, ObjectCount gdi, LogonId logon, const char *account = "")
{
    HolderProcess process = {};
    process.processId = processId;
    process.logonKnown = logon.high != 0xFFFFFFFF;
    process.logon = logon;
    process.counts[kUserObjects] = user;
    process.counts[kGdiObjects] = gdi;
    WideString text = Widen(account);
    std::copy(text.begin(), text.end(), process.account);
    return process;
}

const LogonId kSystem = {0, 0x3e7};
const LogonId kAgent = {0, 0x1a2b3};
const LogonId kNoToken = {0xFFFFFFFF, 0};

TEST(ServiceStation, NameOfALogonSessionAndBack)
{
    const struct {
        LogonId logon;
        const char *name;
    } rows[] = {
        {{0, 0x3e7}, "Service-0x0-3e7$"},
        {{0, 0x3e4}, "Service-0x0-3e4$"},
        {{0x1, 0xabcdef01}, "Service-0x1-abcdef01$"},
        {{0xffffffff, 0xffffffff}, "Service-0xffffffff-ffffffff$"},
        {{0, 0}, "Service-0x0-0$"},
    };
    for (const auto &row : rows) {
        WideChar szStation[kServiceStationChars] = {};
        FormatServiceStation(row.logon, szStation);
        EXPECT_EQ(row.name, Narrow(szStation, Widen(row.name).size()));
        EXPECT_EQ(0, szStation[Widen(row.name).size()]);
        LogonId parsed = {7, 7};
        ASSERT_TRUE(ParseServiceStation(szStation, &parsed)) << row.name;
        EXPECT_EQ(row.logon.high, parsed.high);
        EXPECT_EQ(row.logon.low, parsed.low);
    }
    // Object names do not differ by letter case; anything else is no service station.
    LogonId parsed = {};
    EXPECT_TRUE(ParseServiceStation(Widen("SERVICE-0X0-3E7$").c_str(), &parsed));
    EXPECT_EQ(0x3e7u, parsed.low);
    for (const char *name : {"WinSta0",
                             "Service-0x0-3e7",
                             "Service-0x0-3e7$x",
                             "Service-0x-3e7$",
                             "Service-0x0-$",
                             "Service-0x0_3e7$",
                             "Service-0x123456789-3e7$",
                             "Service-0x0-3g7$",
                             "Service-0x",
                             ""}) {
        EXPECT_FALSE(ParseServiceStation(Widen(name).c_str(), &parsed)) << name;
    }
}

TEST(RankHolders, MostUserObjectsFirstUnknownLast)
{
    std::vector<HolderProcess> processes = {
        Process(40, Known(12), kUnknown, kSystem),
        Process(30, kUnknown, Known(5), kSystem),
        Process(20, Known(900), Known(1), kSystem),
        Process(10, Known(12), Known(3), kSystem),
        Process(5, kUnknown, kUnknown, kSystem),
        Process(50, Known(0), Known(0), kSystem),
    };
    RankHolders(processes.data(), processes.size());
    std::vector<uint32_t> order;
    for (const HolderProcess &process : processes)
        order.push_back(process.processId);
    EXPECT_EQ(std::vector<uint32_t>({20, 10, 40, 50, 5, 30}), order);
}

TEST(GroupByLogonSession, SumsTheKnownAndCountsTheUnknownApart)
{
    const std::vector<HolderProcess> processes = {
        Process(1, Known(10), Known(20), kSystem, "NT AUTHORITY\\SYSTEM"),
        Process(2, Known(100), kUnknown, kAgent),
        Process(3, kUnknown, Known(7), kNoToken),
        Process(4, Known(5), Known(6), kSystem),
        Process(5, Known(4000000000u), Known(3), kAgent, "BUILD\\agent"),
        Process(6, Known(4000000000u), Known(3), kAgent),
    };
    std::vector<LogonSessionTotals> totals(processes.size());
    ASSERT_EQ(3u, GroupByLogonSession(processes.data(), processes.size(), totals.data()));
    const struct {
        bool logonKnown;
        uint32_t low, processes;
        uint32_t user, gdi;
        uint32_t userUnknown, gdiUnknown;
    } rows[] = {
        {true, 0x3e7, 2, 15, 26, 0, 0},
        {true, 0x1a2b3, 3, 4294967295u, 6, 0, 1}, // the sum stops at the top
        {false, 0, 1, 0, 7, 1, 0},
    };
    for (size_t i = 0; i < 3; i++) {
        SCOPED_TRACE(i);
        EXPECT_EQ(rows[i].logonKnown, totals[i].logonKnown);
        EXPECT_EQ(rows[i].low, totals[i].logon.low);
        EXPECT_EQ(rows[i].processes, totals[i].processes);
        EXPECT_EQ(rows[i].user, totals[i].userObjects);
        EXPECT_EQ(rows[i].gdi, totals[i].gdiObjects);
        EXPECT_EQ(rows[i].userUnknown, totals[i].userUnknown);
        EXPECT_EQ(rows[i].gdiUnknown, totals[i].gdiUnknown);
    }
    // The account: fixed for the well-known sessions, else from a process of the session.
    const struct {
        LogonId logon;
        const char *account; // NULL: unknown
    } accounts[] = {
        {{0, 0x3e7}, "NT AUTHORITY\\SYSTEM"},
        {{0, 0x3e5}, "NT AUTHORITY\\LOCAL SERVICE"},
        {{0, 0x3e4}, "NT AUTHORITY\\NETWORK SERVICE"},
        {kAgent, "BUILD\\agent"},
        {{1, 0x3e7}, NULL},
        {{0, 0x99}, NULL},
    };
    for (const auto &row : accounts) {
        const WideChar *pszAccount = AccountOfLogon(row.logon, processes.data(), processes.size());
        if (row.account == NULL) {
            EXPECT_EQ(nullptr, pszAccount) << row.logon.low;
        } else {
            ASSERT_NE(nullptr, pszAccount) << row.account;
            EXPECT_EQ(Widen(row.account), WideString(pszAccount));
        }
    }
}

TEST(NearQuota, NinetyPercentOfEitherQuota)
{
    const struct {
        const char *name;
        ObjectCount user, gdi, userQuota, gdiQuota;
        unsigned near;
    } rows[] = {
        {"the default quota, at 90 %", Known(9000), Known(8999), Known(10000), Known(10000), kNearUserQuota},
        {"just under", Known(8999), Known(100), Known(10000), Known(10000), 0},
        {"GDI only", Known(1), Known(9000), Known(10000), Known(10000), kNearGdiQuota},
        {"both, at the quota", Known(18000), Known(65536), Known(18000), Known(65536), kNearUserQuota | kNearGdiQuota},
        {"a quota from the registry", Known(1800), Known(0), Known(2000), Known(10000), kNearUserQuota},
        {"a count unknown", kUnknown, Known(9500), Known(10000), Known(10000), kNearGdiQuota},
        {"a quota unknown", Known(9999), Known(9999), kUnknown, Known(10000), kNearGdiQuota},
        {"a quota of 0 tells nothing", Known(0), Known(0), Known(0), Known(0), 0},
        {"no wrap in 32 bits", Known(4294967295u), Known(0), Known(4294967295u), Known(10000), kNearUserQuota},
        {"just under near the top", Known(3865470565u), Known(0), Known(4294967295u), Known(10000), 0},
    };
    for (const auto &row : rows) {
        HolderProcess process = Process(1, row.user, row.gdi, kSystem);
        const ObjectQuotas quotas = {row.userQuota, row.gdiQuota};
        EXPECT_EQ(row.near, NearQuota(process, quotas)) << row.name;
    }
}

} // namespace
