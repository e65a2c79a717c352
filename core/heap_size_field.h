// The desktop heap field: the second number of SharedSection= in the
// Windows subsystem command line, read and rewritten in place.
#ifndef MORVANTA_CORE_HEAP_SIZE_FIELD_H
#define MORVANTA_CORE_HEAP_SIZE_FIELD_H

#include <stddef.h>
#include <stdint.h>

#include "wide_char.h"

typedef uint32_t HeapSizeKb; // kilobytes; 0 means no size could be had

// Ten digits of 4294967295 and a terminator; also the growth margin of a rewrite.
const size_t kHeapSizeTextChars = 11;

// The value of the heap field of a terminated text, or 0 when there is none.
HeapSizeKb ReadHeapSize(const WideChar *pszText);

// The unsigned decimal text of a size: most significant digit first, no
// sign, grouping or leading zeros; 0 gives "0".
void FormatHeapSize(HeapSizeKb value, WideChar (&szDigits)[kHeapSizeTextChars]);

// Builds a copy of the text with the heap field replaced by newSizeKb and
// everything else kept. dataBytes is the registry's data size of the text.
// Returns a buffer of dataBytes / 2 + kHeapSizeTextChars characters, zero
// beyond the text, to be released with ReleaseText; or NULL, leaving pszText
// unchanged. On success pszText is cut short and is only fit for release.
WideChar *ReplaceHeapSize(WideChar *pszText, uint32_t dataBytes, HeapSizeKb newSizeKb);

#endif
