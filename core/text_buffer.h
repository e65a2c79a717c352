// Heap buffers for value texts, shared by the codec and the registry store so
// that a handler releases every text it holds the same way.
#ifndef MORVANTA_CORE_TEXT_BUFFER_H
#define MORVANTA_CORE_TEXT_BUFFER_H

#include <stddef.h>

#include "wide_char.h"

// A zero-filled buffer of cchText characters from the C run-time heap, or NULL.
WideChar *AllocateText(size_t cchText);

// Releases a buffer from AllocateText; NULL is ignored.
void ReleaseText(WideChar *pszText);

// Test seam: the allocator behind AllocateText, with calloc's contract. Tests
// swap it to fail an allocation or to count outstanding buffers.
typedef void *(*TextAllocateProc)(size_t count, size_t size);
typedef void (*TextReleaseProc)(void *block);
extern TextAllocateProc g_pfnTextAllocate;
extern TextReleaseProc g_pfnTextRelease;

#endif
