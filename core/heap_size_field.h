// The desktop heap fields: the numbers of SharedSection= in the Windows
// subsystem command line, read and rewritten in place. The second number is
// the interactive heap, the field of ReadHeapSize and ReplaceHeapSize.
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

// The three numbers of SharedSection=, each 0 when it cannot be had: the
// shared heap (from the keyword to the first comma), the interactive heap
// (the heap field) and the non-interactive heap (after the comma that ends
// the heap field, up to the next comma, space or end). A command line with
// no third number gives non-interactive desktops the interactive size.
struct SharedSectionSizes {
    HeapSizeKb sharedKb;
    HeapSizeKb interactiveKb;
    HeapSizeKb nonInteractiveKb;
};
void ReadSharedSectionSizes(const WideChar *pszText, SharedSectionSizes *pSizes);

// Builds a copy of the text with the third number replaced by newSizeKb, or,
// when there is none, with a comma and newSizeKb inserted right after the
// heap field; everything else is kept. The replaced number, or the heap field
// that gets one inserted after it, must start with a digit. Returns a buffer
// of dataBytes / 2 + kHeapSizeTextChars + 2 characters, zero beyond the text,
// to be released with ReleaseText; or NULL. pszText is unchanged either way.
WideChar *ReplaceNonInteractiveHeapSize(WideChar *pszText, uint32_t dataBytes, HeapSizeKb newSizeKb);

#endif
