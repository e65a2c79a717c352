// Fakes behind the advapi32 binding: a binding reset to nothing bound, and
// a count of text buffers taken and given back.
#ifndef MORVANTA_TESTS_ADVAPI_FAKES_H
#define MORVANTA_TESTS_ADVAPI_FAKES_H

#include "advapi_binding.h"

// Every entry unbound and the lookup restored; tests start from here.
void ResetAdvapiBinding();

// Counts AllocateText and ReleaseText calls while installed.
struct TextCounts {
    int allocated;
    int released;
    size_t cchLast; // characters asked for by the last allocation
};
extern TextCounts g_textCounts;
void InstallCountingTextHeap(bool failAllocations);
void RemoveCountingTextHeap();

#endif
