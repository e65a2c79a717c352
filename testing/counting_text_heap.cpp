// A count of the text buffers taken and given back.
#include "counting_text_heap.h"

#include <stdlib.h>

#include "text_buffer.h"

TextCounts g_textCounts;
static bool s_failAllocations;

static void *CountingAllocate(size_t count, size_t size)
{
    g_textCounts.cchLast = count;
    if (s_failAllocations)
        return NULL;
    g_textCounts.allocated++;
    return calloc(count, size);
}

static void CountingRelease(void *block)
{
    g_textCounts.released++;
    free(block);
}

void InstallCountingTextHeap(bool failAllocations)
{
    g_textCounts = TextCounts();
    s_failAllocations = failAllocations;
    g_pfnTextAllocate = CountingAllocate;
    g_pfnTextRelease = CountingRelease;
}

void RemoveCountingTextHeap()
{
    g_pfnTextAllocate = calloc;
    g_pfnTextRelease = free;
}
