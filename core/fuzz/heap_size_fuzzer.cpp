// libFuzzer target for the heap field codec. Input: four bytes of the new
// size (little-endian), then the value's data bytes as the registry hands
// them over (UTF-16LE, any length, odd included).
#include <stdint.h>
#include <stdlib.h>
#include <stdio.h>

#include <string>
#include <vector>

#include "heap_size_field.h"
#include "replace_property.h"

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
    std::vector<WideChar> units((size + 1) / 2, 0);
    for (size_t i = 0; i < size; i++)
        units[i / 2] = static_cast<WideChar>(units[i / 2] | static_cast<unsigned>(data[i]) << (8 * (i % 2)));

    std::vector<WideChar> text = units;
    text.push_back(0);
    (void)ReadHeapSize(text.data());

    bool replaced = false;
    std::string broken =
        CheckReplaceHeapSize(units.data(), units.size(), static_cast<uint32_t>(size), newSizeKb, &replaced);
    if (!broken.empty()) {
        fprintf(stderr, "ReplaceHeapSize broke its contract: %s\n", broken.c_str());
        abort();
    }
    return 0;
}
