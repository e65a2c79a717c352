// What Windows logged about desktop heaps since it started.
#include "heap_events.h"

#include "ascii_case.h"
#include "bounded_string.h"

static const WideChar kStartFailureStatus[] = WIDE_TEXT("0xc0000142");

static size_t TextLength(const WideChar *psz)
{
    size_t cch = 0;
    BoundedLength(psz, kMaxBoundedChars, &cch);
    return cch;
}

HeapEventKind ClassifyHeapEvent(const WideChar *pszProvider, uint32_t eventId)
{
    // Provider names compare as the log compares them, without letter case.
    size_t cchProvider = TextLength(pszProvider);
    if (IsSameIgnoringAsciiCase(pszProvider, cchProvider, WIDE_TEXT("Win32k")) ||
        IsSameIgnoringAsciiCase(pszProvider, cchProvider, WIDE_TEXT("Microsoft-Windows-Win32k"))) {
        if (eventId == 243)
            return kHeapAllocationFailed;
        if (eventId == 244)
            return kDesktopCreationFailed;
        if (eventId == 1046)
            return kSizesRejected;
    } else if (IsSameIgnoringAsciiCase(pszProvider, cchProvider, WIDE_TEXT("Application Popup")) && eventId == 26) {
        return kStartFailure;
    }
    return kNotHeapEvent;
}

static bool HoldsStartFailureStatus(const WideChar *pszData)
{
    const size_t cchStatus = sizeof kStartFailureStatus / sizeof kStartFailureStatus[0] - 1;
    size_t cchData = TextLength(pszData);
    for (size_t i = 0; i + cchStatus <= cchData; i++) {
        if (IsSameIgnoringAsciiCase(pszData + i, cchStatus, kStartFailureStatus))
            return true;
    }
    return false;
}

// The caption is "worker.exe - Application Error", its second half in the
// language of the computer; a copied program ("worker - Copy.exe") keeps its
// own " - ", so the name ends at the last one.
static void ProgramOfCaption(const WideChar *pszCaption, WideChar (&szProgram)[kProgramNameChars])
{
    size_t cchName = 0;
    bool found = false;
    for (size_t i = 0; pszCaption[i] != 0; i++) {
        if (pszCaption[i] == ' ' && pszCaption[i + 1] == '-' && pszCaption[i + 2] == ' ') {
            cchName = i;
            found = true;
        }
    }
    if (!found || cchName == 0 || cchName >= kProgramNameChars)
        return;
    for (size_t i = 0; i < cchName; i++) {
        if (pszCaption[i] < 0x20)
            return; // a name that would break a line of the report is not shown
    }
    for (size_t i = 0; i < cchName; i++)
        szProgram[i] = pszCaption[i];
    szProgram[cchName] = 0;
}

bool ReadStartFailure(const WideChar *const *ppszData, size_t cData, WideChar (&szProgram)[kProgramNameChars])
{
    bool holdsStatus = false;
    szProgram[0] = 0;
    for (size_t i = 0; i < cData && !holdsStatus; i++)
        holdsStatus = ppszData[i] != NULL && HoldsStartFailureStatus(ppszData[i]);
    if (holdsStatus && cData > 0 && ppszData[0] != NULL)
        ProgramOfCaption(ppszData[0], szProgram);
    return holdsStatus;
}

void CountHeapEvent(HeapEventsSinceStart *pEvents, HeapEventKind kind, uint64_t time, const WideChar *pszProgram)
{
    if (kind >= kHeapEventKinds || time < pEvents->startTime)
        return;
    HeapEventTally &tally = pEvents->tallies[kind];
    tally.count++;
    if (time > tally.lastTime)
        tally.lastTime = time;
    if (kind != kStartFailure || pszProgram == NULL || pszProgram[0] == 0 ||
        pEvents->programCount == kMaxStartFailurePrograms)
        return;
    // File names do not differ by letter case: Worker.exe is worker.exe.
    size_t cchProgram = TextLength(pszProgram);
    for (size_t i = 0; i < pEvents->programCount; i++) {
        if (IsSameIgnoringAsciiCase(pszProgram, cchProgram, pEvents->programs[i]))
            return;
    }
    if (BoundedCopy(pEvents->programs[pEvents->programCount], kProgramNameChars, pszProgram) == kBoundedOk)
        pEvents->programCount++;
}

unsigned ChooseHeapVerdicts(const HeapEventsSinceStart &events)
{
    unsigned verdicts = 0;
    if (events.tallies[kHeapAllocationFailed].count > 0)
        verdicts |= kVerdictHeapRanOut;
    if (events.tallies[kDesktopCreationFailed].count > 0)
        verdicts |= kVerdictDesktopNotCreated;
    if (events.tallies[kSizesRejected].count > 0)
        verdicts |= kVerdictSizesRejected;
    if (events.tallies[kStartFailure].count > 0 && events.tallies[kHeapAllocationFailed].count == 0)
        verdicts |= kVerdictStartFailures;
    return verdicts != 0 ? verdicts : static_cast<unsigned>(kVerdictNoEvent);
}

bool EscapeJsonText(const WideChar *pszText, WideChar *pszDest, size_t cchDest)
{
    static const char kHex[] = "0123456789abcdef";
    size_t cchUsed = 0;
    if (cchDest == 0)
        return false;
    for (; *pszText != 0; pszText++) {
        WideChar ch = *pszText;
        WideChar escaped[6] = {ch};
        size_t cchEscaped = 1;
        if (ch == '"' || ch == '\\') {
            escaped[0] = '\\';
            escaped[1] = ch;
            cchEscaped = 2;
        } else if (ch < 0x20) {
            const WideChar unicode[6] = {
                '\\', 'u', '0', '0', static_cast<WideChar>(kHex[ch >> 4]), static_cast<WideChar>(kHex[ch & 15])};
            for (size_t i = 0; i < 6; i++)
                escaped[i] = unicode[i];
            cchEscaped = 6;
        }
        if (cchDest - cchUsed <= cchEscaped) {
            pszDest[0] = 0;
            return false;
        }
        for (size_t i = 0; i < cchEscaped; i++)
            pszDest[cchUsed++] = escaped[i];
    }
    pszDest[cchUsed] = 0;
    return true;
}
