// The codec's cost against a plain copy of the same text, over values of
// 256 B, 64 KiB and 1 MiB with the heap field near the end.
#include <benchmark/benchmark.h>

#include <string.h>

#include <vector>

#include "heap_size_field.h"
#include "text_buffer.h"

namespace {

// A command line of about cbValue bytes whose SharedSection parameter comes
// last; *piField is where its heap field starts.
std::vector<WideChar> MakeValue(size_t cbValue, size_t *piField = NULL)
{
    const char kTail[] = " SharedSection=1024,3072,512 Windows=On";
    size_t cchValue = cbValue / sizeof(WideChar);
    std::vector<WideChar> text(cchValue + 1, 0);
    size_t cchTail = sizeof kTail - 1;
    for (size_t i = 0; i + cchTail < cchValue; i++)
        text[i] = static_cast<WideChar>(i % 23 == 22 ? ' ' : 'a' + i % 23);
    for (size_t i = 0; i < cchTail; i++)
        text[cchValue - cchTail + i] = static_cast<WideChar>(kTail[i]);
    if (piField != NULL)
        *piField = cchValue - cchTail + strlen(" SharedSection=1024,");
    return text;
}

void BM_Copy(benchmark::State &state)
{
    std::vector<WideChar> text = MakeValue(static_cast<size_t>(state.range(0)));
    for (auto _ : state) {
        WideChar *pszCopy = AllocateText(text.size());
        memcpy(pszCopy, text.data(), text.size() * sizeof(WideChar));
        benchmark::DoNotOptimize(pszCopy);
        ReleaseText(pszCopy);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}

void BM_ReadHeapSize(benchmark::State &state)
{
    std::vector<WideChar> text = MakeValue(static_cast<size_t>(state.range(0)));
    for (auto _ : state)
        benchmark::DoNotOptimize(ReadHeapSize(text.data()));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}

void BM_ReplaceHeapSize(benchmark::State &state)
{
    size_t iField = 0;
    std::vector<WideChar> text = MakeValue(static_cast<size_t>(state.range(0)), &iField);
    uint32_t dataBytes = static_cast<uint32_t>(text.size() * sizeof(WideChar));
    for (auto _ : state) {
        WideChar *pszNew = ReplaceHeapSize(text.data(), dataBytes, 4096);
        benchmark::DoNotOptimize(pszNew);
        text[iField] = '3'; // undo the cut for the next round
        ReleaseText(pszNew);
    }
    if (ReadHeapSize(text.data()) != 3072)
        state.SkipWithError("the benchmark text lost its heap field");
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}

BENCHMARK(BM_Copy)->Arg(256)->Arg(64 << 10)->Arg(1 << 20);
BENCHMARK(BM_ReadHeapSize)->Arg(256)->Arg(64 << 10)->Arg(1 << 20);
BENCHMARK(BM_ReplaceHeapSize)->Arg(256)->Arg(64 << 10)->Arg(1 << 20);

} // namespace

BENCHMARK_MAIN();
