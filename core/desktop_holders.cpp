// Who holds objects on the desktops of a session.
#include "desktop_holders.h"

#include <stdlib.h>

#include "ascii_case.h"

static int CompareHolders(const void *pLeft, const void *pRight)
{
    const HolderProcess &left = *static_cast<const HolderProcess *>(pLeft);
    const HolderProcess &right = *static_cast<const HolderProcess *>(pRight);
    const ObjectCount &leftUser = left.counts[kUserObjects];
    const ObjectCount &rightUser = right.counts[kUserObjects];
    if (leftUser.known != rightUser.known)
        return leftUser.known ? -1 : 1;
    if (leftUser.known && leftUser.value != rightUser.value)
        return leftUser.value > rightUser.value ? -1 : 1;
    if (left.processId != right.processId)
        return left.processId < right.processId ? -1 : 1;
    return 0;
}

void RankHolders(HolderProcess *pProcesses, size_t count)
{
    if (count > 1)
        qsort(pProcesses, count, sizeof *pProcesses, CompareHolders);
}

static bool IsSameLogon(const LogonSessionTotals &totals, const HolderProcess &process)
{
    if (totals.logonKnown != process.logonKnown)
        return false;
    return !process.logonKnown || (totals.logon.high == process.logon.high && totals.logon.low == process.logon.low);
}

static void AddCount(const ObjectCount &count, uint32_t *pSum, uint32_t *pUnknown)
{
    if (count.known)
        *pSum = count.value > 0xFFFFFFFFu - *pSum ? 0xFFFFFFFFu : *pSum + count.value;
    else
        ++*pUnknown;
}

size_t GroupByLogonSession(const HolderProcess *pProcesses, size_t count, LogonSessionTotals *pTotals)
{
    size_t cTotals = 0;
    for (size_t i = 0; i < count; i++) {
        const HolderProcess &process = pProcesses[i];
        size_t at = 0;
        while (at < cTotals && !IsSameLogon(pTotals[at], process))
            at++;
        LogonSessionTotals &totals = pTotals[at];
        if (at == cTotals) {
            totals = LogonSessionTotals();
            totals.logonKnown = process.logonKnown;
            totals.logon = process.logon;
            cTotals++;
        }
        totals.processes++;
        AddCount(process.counts[kUserObjects], &totals.userObjects, &totals.userUnknown);
        AddCount(process.counts[kGdiObjects], &totals.gdiObjects, &totals.gdiUnknown);
    }
    return cTotals;
}

static const WideChar kStationPrefix[] = WIDE_TEXT("Service-0x");
static const size_t kStationPrefixChars = sizeof kStationPrefix / sizeof kStationPrefix[0] - 1;

static size_t AppendHex(WideChar *pszDest, uint32_t value)
{
    static const char kHex[] = "0123456789abcdef";
    WideChar digits[8];
    size_t cDigits = 0;
    do {
        digits[cDigits++] = static_cast<WideChar>(kHex[value & 15]);
        value >>= 4;
    } while (value != 0);
    for (size_t i = 0; i < cDigits; i++)
        pszDest[i] = digits[cDigits - 1 - i];
    return cDigits;
}

void FormatServiceStation(LogonId logon, WideChar (&szStation)[kServiceStationChars])
{
    size_t cch = 0;
    for (; cch < kStationPrefixChars; cch++)
        szStation[cch] = kStationPrefix[cch];
    cch += AppendHex(szStation + cch, logon.high);
    szStation[cch++] = '-';
    cch += AppendHex(szStation + cch, logon.low);
    szStation[cch++] = '$';
    szStation[cch] = 0;
}

// One to eight hexadecimal digits of either case; pszText moves past them.
static bool ReadHex(const WideChar **ppszText, uint32_t *pValue)
{
    uint32_t value = 0;
    size_t cDigits = 0;
    for (const WideChar *psz = *ppszText;; psz++, cDigits++) {
        WideChar ch = *psz;
        uint32_t digit = 16;
        if (ch >= '0' && ch <= '9')
            digit = static_cast<uint32_t>(ch - '0');
        else if ((ch | 0x20) >= 'a' && (ch | 0x20) <= 'f')
            digit = static_cast<uint32_t>((ch | 0x20) - 'a' + 10);
        if (digit == 16) {
            *ppszText = psz;
            *pValue = value;
            return cDigits > 0;
        }
        if (cDigits == 8)
            return false;
        value = value << 4 | digit;
    }
}

bool ParseServiceStation(const WideChar *pszStation, LogonId *pLogon)
{
    // Object names do not differ by letter case; the comparison stops at the
    // first character that differs, so a shorter name is never read past.
    LogonId logon = {};
    if (!IsSameIgnoringAsciiCase(pszStation, kStationPrefixChars, kStationPrefix))
        return false;
    const WideChar *psz = pszStation + kStationPrefixChars;
    if (!ReadHex(&psz, &logon.high) || *psz++ != '-' || !ReadHex(&psz, &logon.low) || psz[0] != '$' || psz[1] != 0)
        return false;
    *pLogon = logon;
    return true;
}

const WideChar *AccountOfLogon(LogonId logon, const HolderProcess *pProcesses, size_t count)
{
    if (logon.high == 0 && logon.low == 0x3e7)
        return WIDE_TEXT("NT AUTHORITY\\SYSTEM");
    if (logon.high == 0 && logon.low == 0x3e5)
        return WIDE_TEXT("NT AUTHORITY\\LOCAL SERVICE");
    if (logon.high == 0 && logon.low == 0x3e4)
        return WIDE_TEXT("NT AUTHORITY\\NETWORK SERVICE");
    for (size_t i = 0; i < count; i++) {
        const HolderProcess &process = pProcesses[i];
        if (process.logonKnown && process.logon.high == logon.high && process.logon.low == logon.low &&
            process.account[0] != 0)
            return process.account;
    }
    return NULL;
}

// At least 90 % of the quota, in 64 bits so that no count can wrap.
static bool IsNear(const ObjectCount &count, const ObjectCount &quota)
{
    return count.known && quota.known && quota.value > 0 &&
           static_cast<uint64_t>(count.value) * 10 >= static_cast<uint64_t>(quota.value) * 9;
}

unsigned NearQuota(const HolderProcess &process, const ObjectQuotas &quotas)
{
    unsigned reached = 0;
    if (IsNear(process.counts[kUserObjects], quotas.user))
        reached |= kNearUserQuota;
    if (IsNear(process.counts[kGdiObjects], quotas.gdi))
        reached |= kNearGdiQuota;
    return reached;
}
