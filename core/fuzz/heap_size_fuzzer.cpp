// libFuzzer target for the heap field codec. Input: four bytes of the new
// size (little-endian), then the value's data bytes as the registry hands
// them over (UTF-16LE, any length, odd included). Both operations are judged
// against the independent model of the field rules.
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>

#include "heap_size_model.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 4)
        return 0;
    HeapSizeKb newSizeKb = 0;
    for (int i = 3; i >= 0; i--)
        newSizeKb = newSizeKb << 8 | data[i];
    data += 4;
    size -= 4;

    // The store's buffer: the data, rounded up to whole units, zero behind.
    CodecCall call = {WideString((size + 1) / 2, 0), static_cast<uint32_t>(size), newSizeKb, false};
    for (size_t i = 0; i < size; i++)
        call.data[i / 2] = static_cast<WideChar>(call.data[i / 2] | static_cast<unsigned>(data[i]) << (8 * (i % 2)));

    CodecJudgement judgement = JudgeCodec(call);
    if (!judgement.broken.empty()) {
        fprintf(stderr, "The codec broke the field rules: %s\n", judgement.broken.c_str());
        abort();
    }
    return 0;
}
