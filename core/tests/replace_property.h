// The contract of ReplaceHeapSize as one check, shared by the unit tests and
// the fuzz target: the result is the old text with exactly the heap field
// replaced, fits its capacity, is zero beyond the text and reads back as the
// new size; a failure leaves the caller's text as it was.
#ifndef MORVANTA_TESTS_REPLACE_PROPERTY_H
#define MORVANTA_TESTS_REPLACE_PROPERTY_H

#include <stdint.h>

#include <string>

#include "heap_size_field.h"

// Runs ReplaceHeapSize on a copy of the data units (a zero unit is added
// behind them, as the registry store does) and returns "" when the contract
// holds, otherwise what broke. *pReplaced tells whether a new text came back.
std::string
CheckReplaceHeapSize(const WideChar *pData, size_t cchData, uint32_t dataBytes, HeapSizeKb newSizeKb, bool *pReplaced);

#endif
