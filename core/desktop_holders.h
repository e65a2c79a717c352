// Who holds objects on the desktops of a session: the processes' USER and
// GDI object counts ranked and grouped by logon session, the window station
// that a service of a logon session gets, and how near a process is to its
// own object quotas. Platform-free: the reader hands over what Windows told,
// and a count it could not read stays unknown, never 0.
#ifndef MORVANTA_CORE_DESKTOP_HOLDERS_H
#define MORVANTA_CORE_DESKTOP_HOLDERS_H

#include <stddef.h>
#include <stdint.h>

#include "wide_char.h"

enum GuiObjectCount { kUserObjects, kUserObjectsPeak, kGdiObjects, kGdiObjectsPeak, kGuiObjectCounts };

// A count as Windows gave it, or unknown with the Win32 error that kept it
// from being read (0 when Windows gave none).
struct ObjectCount {
    bool known;
    uint32_t value;
    uint32_t error;
};

// A logon session's id (a LUID) as its two halves.
struct LogonId {
    uint32_t high;
    uint32_t low;
};

const size_t kImageNameChars = 261;     // a file name and its terminator
const size_t kAccountChars = 128;       // DOMAIN\user and its terminator
const size_t kServiceListChars = 512;   // "name, name, ..." and its terminator
const size_t kServiceStationChars = 29; // "Service-0xffffffff-ffffffff$" and its terminator

struct HolderProcess {
    uint32_t processId;
    uint32_t openError; // 0 when the process could be opened
    bool logonKnown;
    LogonId logon;
    ObjectCount counts[kGuiObjectCounts];
    uint32_t accountError; // why account is empty
    WideChar name[kImageNameChars];
    WideChar account[kAccountChars];
    WideChar services[kServiceListChars]; // the services it hosts, by name
};

// The most USER objects now first, every unknown count after the known ones,
// equal counts by process id.
void RankHolders(HolderProcess *pProcesses, size_t count);

// One logon session's processes and what they hold; the sums are of the
// counts known (at most 4294967295: a session holds at most 65,536 USER
// objects), and the processes whose count now is unknown are counted apart.
struct LogonSessionTotals {
    bool logonKnown; // false: the processes whose token could not be read
    LogonId logon;
    uint32_t processes;
    uint32_t userObjects;
    uint32_t gdiObjects;
    uint32_t userUnknown;
    uint32_t gdiUnknown;
};

// Groups the processes by logon session into pTotals, which has room for
// count entries, in the order of each session's first process; returns the
// number of entries.
size_t GroupByLogonSession(const HolderProcess *pProcesses, size_t count, LogonSessionTotals *pTotals);

// The window station Windows gives a service of the logon session:
// Service-0x<high>-<low>$, both in lower-case hexadecimal without leading zeros.
void FormatServiceStation(LogonId logon, WideChar (&szStation)[kServiceStationChars]);

// The logon session of a service window station's name; false for any other name.
bool ParseServiceStation(const WideChar *pszStation, LogonId *pLogon);

// The account of a logon session: SYSTEM, LOCAL SERVICE and NETWORK SERVICE by
// their fixed ids, any other from the first of the processes of that session
// whose account is known; NULL when there is none.
const WideChar *AccountOfLogon(LogonId logon, const HolderProcess *pProcesses, size_t count);

// The per-process quotas: USERProcessHandleQuota and GDIProcessHandleQuota,
// 10,000 each where the registry holds none.
const uint32_t kDefaultObjectQuota = 10000;
struct ObjectQuotas {
    ObjectCount user;
    ObjectCount gdi;
};

// Which of its own quotas a process has reached 90 % of, by its counts now.
enum { kNearUserQuota = 1, kNearGdiQuota = 2 };
unsigned NearQuota(const HolderProcess &process, const ObjectQuotas &quotas);

#endif
