// Heap buffers for value texts.
#include "text_buffer.h"

#include <stdlib.h>

TextAllocateProc g_pfnTextAllocate = calloc;
TextReleaseProc g_pfnTextRelease = free;

WideChar *AllocateText(size_t cchText)
{
    // calloc refuses a count whose byte size overflows
    return static_cast<WideChar *>(g_pfnTextAllocate(cchText, sizeof(WideChar)));
}

void ReleaseText(WideChar *pszText)
{
    if (pszText != NULL)
        g_pfnTextRelease(pszText);
}
