// A count of the text buffers taken and given back through AllocateText and
// ReleaseText, with allocations that can be made to fail and, when a log is
// given, "alloc N" and "free N" events in it (N numbers the buffers).
#ifndef MORVANTA_TESTING_COUNTING_TEXT_HEAP_H
#define MORVANTA_TESTING_COUNTING_TEXT_HEAP_H

#include <stddef.h>

#include <string>
#include <vector>

struct TextCounts {
    int requested; // failed allocations included
    int allocated;
    int released;
    size_t cchLast; // characters asked for by the last allocation
};
extern TextCounts g_textCounts;

void InstallCountingTextHeap(bool failAllocations, std::vector<std::string> *pLog = NULL);
void RemoveCountingTextHeap();

#endif
