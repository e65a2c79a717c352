// Fakes behind the advapi32 binding.
#include "advapi_fakes.h"

#include <stdlib.h>

#include "text_buffer.h"

TextCounts g_textCounts;
static bool s_failAllocations;

void ResetAdvapiBinding()
{
    AdvapiBinding unbound = {NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, LookupAdvapiFunction};
    g_advapi = unbound;
}

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
    TextCounts zero = {0, 0, 0};
    g_textCounts = zero;
    s_failAllocations = failAllocations;
    g_pfnTextAllocate = CountingAllocate;
    g_pfnTextRelease = CountingRelease;
}

void RemoveCountingTextHeap()
{
    g_pfnTextAllocate = calloc;
    g_pfnTextRelease = free;
}
