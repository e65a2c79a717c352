// A count of the text buffers taken and given back.
#include "counting_text_heap.h"

#include <stdlib.h>

#include <map>

#include "text_buffer.h"

TextCounts g_textCounts;
static bool s_failAllocations;
static std::vector<std::string> *s_pLog;
static std::map<void *, int> s_bufferNumbers;

static void *CountingAllocate(size_t count, size_t size)
{
    g_textCounts.requested++;
    g_textCounts.cchLast = count;
    void *block = s_failAllocations ? NULL : calloc(count, size);
    if (block == NULL)
        return NULL;
    s_bufferNumbers[block] = ++g_textCounts.allocated;
    if (s_pLog != NULL)
        s_pLog->push_back("alloc " + std::to_string(g_textCounts.allocated));
    return block;
}

static void CountingRelease(void *block)
{
    g_textCounts.released++;
    if (s_pLog != NULL)
        s_pLog->push_back("free " + std::to_string(s_bufferNumbers[block]));
    s_bufferNumbers.erase(block);
    free(block);
}

void InstallCountingTextHeap(bool failAllocations, std::vector<std::string> *pLog)
{
    g_textCounts = TextCounts();
    s_failAllocations = failAllocations;
    s_pLog = pLog;
    s_bufferNumbers.clear();
    g_pfnTextAllocate = CountingAllocate;
    g_pfnTextRelease = CountingRelease;
}

void RemoveCountingTextHeap()
{
    g_pfnTextAllocate = calloc;
    g_pfnTextRelease = free;
}
