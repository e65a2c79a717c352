// What Windows logged about desktop heaps since it started, as the System log
// holds it: the counts and last times of four kinds of event, the programs
// that failed to start, and the verdicts that follow. Platform-free: the
// reader of the log hands each event over as its provider, id, time and data.
#ifndef MORVANTA_CORE_HEAP_EVENTS_H
#define MORVANTA_CORE_HEAP_EVENTS_H

#include <stddef.h>
#include <stdint.h>

#include "wide_char.h"

enum HeapEventKind {
    kHeapAllocationFailed,  // Win32k 243
    kDesktopCreationFailed, // Win32k 244
    kSizesRejected,         // Win32k 1046
    kStartFailure,          // Application Popup 26 with 0xC0000142
    kHeapEventKinds,
    kNotHeapEvent = kHeapEventKinds
};

const size_t kMaxStartFailurePrograms = 8;
const size_t kProgramNameChars = 261; // a file name and its terminator

// Times are FILETIME ticks (100 ns since 1601, UTC); 0 is "none".
struct HeapEventTally {
    uint32_t count;
    uint64_t lastTime;
};

struct HeapEventsSinceStart {
    uint64_t startTime; // events logged before it belong to an earlier start
    HeapEventTally tallies[kHeapEventKinds];
    size_t programCount; // distinct, the newest first
    WideChar programs[kMaxStartFailurePrograms][kProgramNameChars];
};

// The kind of an event by its provider (either name of Win32k, or
// "Application Popup") and id; a popup is kStartFailure only by its id, its
// data decide whether it counts.
HeapEventKind ClassifyHeapEvent(const WideChar *pszProvider, uint32_t eventId);

// Whether a popup's data strings name the status 0xC0000142, in any letter
// case; when they do, szProgram gets the name before the last " - " of the
// first string, or stays empty when there is none that can be shown.
bool ReadStartFailure(const WideChar *const *ppszData, size_t cData, WideChar (&szProgram)[kProgramNameChars]);

// Counts one event; one logged before pEvents->startTime is not counted.
// pszProgram, for kStartFailure, may be empty. Events come newest first, but
// the last time is the latest whatever the order.
void CountHeapEvent(HeapEventsSinceStart *pEvents, HeapEventKind kind, uint64_t time, const WideChar *pszProgram);

// The verdicts that apply, in the order they are told.
enum HeapVerdict {
    kVerdictHeapRanOut = 1,        // a 243
    kVerdictDesktopNotCreated = 2, // a 244
    kVerdictSizesRejected = 4,     // a 1046
    kVerdictStartFailures = 8,     // start failures, and no 243
    kVerdictNoEvent = 16,          // none of these
};
unsigned ChooseHeapVerdicts(const HeapEventsSinceStart &events);

// Copies text into a JSON string's contents (no quotes): " and \ escaped,
// characters below U+0020 as \u00XX. False, with an empty result, when it
// does not fit in cchDest characters.
bool EscapeJsonText(const WideChar *pszText, WideChar *pszDest, size_t cchDest);

#endif
