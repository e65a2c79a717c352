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

// What the rules say of one rewrite: whether it is attempted (the number to
// replace, or the heap field a third number goes after, starts with an ASCII
// digit), the buffer it asks for, and the text it must give.
struct ModelRewrite {
    bool hasDigitField;
    size_t cutAt;         // where the caller's text is left cut on success; npos: kept whole
    uint64_t capacity;    // dataBytes / 2 + 11 for the heap field, + 13 for the third number
    bool capacityRefused; // above 2147483647: refused before any allocation
    bool fits;            // the rewritten text and its terminator fit the capacity
    WideString rewritten;
};

// What the rules say of one text: the three numbers read and, for the given
// data size and new size, the rewrite of the heap field and of the third number.
struct ModelVerdict {
    HeapSizeKb size; // the heap field, the interactive size
    HeapSizeKb sharedKb;
    HeapSizeKb nonInteractiveKb;
    ModelRewrite heapField;
    ModelRewrite thirdNumber;
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
    std::string broken; // empty when every operation agrees with the model
    HeapSizeKb size;    // what ReadHeapSize gave
    bool replaced;      // ReplaceHeapSize returned a text
    SharedSectionSizes sizes;
    bool thirdReplaced; // ReplaceNonInteractiveHeapSize returned a text
};

CodecJudgement JudgeCodec(const CodecCall &call);

#endif
