// A second, independent reading of the heap field rules, written the plainest
// way (index arithmetic, 64-bit conversion) and sharing no code with the
// codec, and the judge that holds the codec to it. Used by the unit tests and
// the fuzz target.
#ifndef MORVANTA_TESTS_HEAP_SIZE_MODEL_H
#define MORVANTA_TESTS_HEAP_SIZE_MODEL_H

#include <stddef.h>
#include <stdint.h>

#include <string>

#include "heap_size_field.h"
#include "wide_text.h"

// What the rules say of one text: the size read and, for a rewrite with the
// given data size and new size, whether it must succeed and to what.
struct ModelVerdict {
    HeapSizeKb size;
    bool hasDigitField;   // a field whose first character is an ASCII digit
    size_t fieldStart;    // index of that first character
    uint64_t capacity;    // dataBytes / 2 + 11
    bool capacityRefused; // above 2147483647: refused before any allocation
    bool fits;            // the rewritten text and its terminator fit the capacity
    WideString rewritten;
};

// text: the units before the first zero.
ModelVerdict ModelHeapSize(const WideString &text, uint32_t dataBytes, HeapSizeKb newSizeKb);

// One call of each codec operation on data as the registry store hands it
// over: the data units with a zero unit behind them.
struct CodecCall {
    WideString data; // may hold zeros; the text ends at the first
    uint32_t dataBytes;
    HeapSizeKb newSizeKb;
    bool failAllocation; // the buffer for the rewrite cannot be had
};

struct CodecJudgement {
    std::string broken; // empty when both operations agree with the model
    HeapSizeKb size;    // what ReadHeapSize gave
    bool replaced;      // ReplaceHeapSize returned a text
};

CodecJudgement JudgeCodec(const CodecCall &call);

#endif
