// The heap field rules read straight from the design, and the judge.
#include "heap_size_model.h"

#include <stdlib.h>

#include <vector>

#include "text_buffer.h"

static bool IsModelSpace(WideChar ch)
{
    return ch == 0x20 || (ch >= 0x09 && ch <= 0x0D);
}

static bool IsModelDigit(WideChar ch)
{
    return ch >= 0x30 && ch <= 0x39;
}

// Characters are compared as numbers: the model needs no WideChar literals.
static const WideString &Keyword()
{
    static const WideString keyword = Widen("SharedSection=");
    return keyword;
}

ModelVerdict ModelHeapSize(const WideString &text, uint32_t dataBytes, HeapSizeKb newSizeKb)
{
    ModelVerdict verdict = {};
    verdict.capacity = dataBytes / 2 + 11;
    verdict.capacityRefused = verdict.capacity > 2147483647u;

    // The first keyword, then the first comma after it before any space.
    size_t at = text.find(Keyword());
    if (at == WideString::npos)
        return verdict;
    size_t field = WideString::npos;
    for (size_t i = at + Keyword().size(); i < text.size() && text[i] != 0x20; i++) {
        if (text[i] == 0x2C) {
            field = i + 1;
            break;
        }
    }
    if (field == WideString::npos)
        return verdict;

    // strtoul on 32 bits: white space, one sign, saturation, negation mod 2^32.
    size_t i = field;
    while (i < text.size() && IsModelSpace(text[i]))
        i++;
    bool negative = i < text.size() && text[i] == 0x2D;
    if (i < text.size() && (text[i] == 0x2D || text[i] == 0x2B))
        i++;
    uint64_t value = 0;
    for (; i < text.size() && IsModelDigit(text[i]); i++) {
        value = value * 10 + static_cast<uint64_t>(text[i] - 0x30);
        if (value > 0xFFFFFFFFu)
            value = 0x100000000u; // stays above the limit whatever follows
    }
    if (value > 0xFFFFFFFFu)
        value = 0xFFFFFFFFu;
    verdict.size = static_cast<HeapSizeKb>(negative ? (0x100000000u - value) & 0xFFFFFFFFu : value);

    if (field >= text.size() || !IsModelDigit(text[field]))
        return verdict;
    verdict.hasDigitField = true;
    verdict.fieldStart = field;
    size_t rest = field + 1;
    while (rest < text.size() && text[rest] != 0x20 && text[rest] != 0x2C)
        rest++;
    verdict.rewritten = text.substr(0, field) + Widen(std::to_string(newSizeKb)) + text.substr(rest);
    verdict.fits = verdict.rewritten.size() + 1 <= verdict.capacity;
    return verdict;
}

namespace {

const uint64_t kLargestTestBuffer = 1u << 24;

struct AllocationLog {
    bool fail;
    size_t requests;
    size_t cchRequested;
    size_t outstanding;
};
AllocationLog s_allocations;

void *LoggingAllocate(size_t count, size_t size)
{
    s_allocations.requests++;
    s_allocations.cchRequested = count;
    if (s_allocations.fail)
        return NULL;
    void *block = calloc(count, size);
    if (block != NULL)
        s_allocations.outstanding++;
    return block;
}

void LoggingRelease(void *block)
{
    s_allocations.outstanding--;
    free(block);
}

std::string JudgeRewrite(const ModelVerdict &model,
                         const std::vector<WideChar> &before,
                         const std::vector<WideChar> &after,
                         const WideChar *pszNew)
{
    const bool mustSucceed = model.hasDigitField && !model.capacityRefused && !s_allocations.fail && model.fits;
    if (model.hasDigitField && !model.capacityRefused) {
        if (s_allocations.requests != 1 || s_allocations.cchRequested != model.capacity)
            return "did not ask once for a buffer of dataBytes / 2 + 11 characters";
    } else if (s_allocations.requests != 0) {
        return "asked for a buffer although the rewrite is refused before that";
    }

    if (!mustSucceed) {
        if (pszNew != NULL)
            return "rewrote a text that the rules refuse";
        if (after != before)
            return "a refusal changed the caller's text";
        if (s_allocations.outstanding != 0)
            return "a refusal kept its buffer";
        return "";
    }

    if (pszNew == NULL)
        return "refused a rewrite that the rules allow";
    if (WideString(pszNew) != model.rewritten)
        return "rewrote to " + Narrow(WideString(pszNew)) + ", not " + Narrow(model.rewritten);
    for (size_t i = model.rewritten.size(); i < model.capacity; i++) {
        if (pszNew[i] != 0)
            return "the new buffer is not zero behind the text";
    }
    std::vector<WideChar> cut = before;
    cut[model.fieldStart] = 0;
    if (after != cut)
        return "the caller's text was not cut exactly at the old field";
    return "";
}

} // namespace

CodecJudgement JudgeCodec(const CodecCall &call)
{
    CodecJudgement judgement = {};
    std::vector<WideChar> buffer(call.data.begin(), call.data.end());
    buffer.push_back(0);
    const std::vector<WideChar> before = buffer;
    const WideString text(buffer.data());
    const ModelVerdict model = ModelHeapSize(text, call.dataBytes, call.newSizeKb);

    judgement.size = ReadHeapSize(buffer.data());
    if (buffer != before)
        judgement.broken = "ReadHeapSize changed its text";
    else if (judgement.size != model.size)
        judgement.broken =
            "ReadHeapSize gave " + std::to_string(judgement.size) + ", not " + std::to_string(model.size);

    // A buffer of gigabytes is refused as a failed allocation: the judge
    // still sees the size asked for, which is what such a case is about.
    TextAllocateProc pfnAllocate = g_pfnTextAllocate;
    TextReleaseProc pfnRelease = g_pfnTextRelease;
    s_allocations = AllocationLog();
    s_allocations.fail = call.failAllocation || model.capacity > kLargestTestBuffer;
    g_pfnTextAllocate = LoggingAllocate;
    g_pfnTextRelease = LoggingRelease;
    WideChar *pszNew = ReplaceHeapSize(buffer.data(), call.dataBytes, call.newSizeKb);
    std::string broken = JudgeRewrite(model, before, buffer, pszNew);
    ReleaseText(pszNew);
    g_pfnTextAllocate = pfnAllocate;
    g_pfnTextRelease = pfnRelease;

    if (judgement.broken.empty() && !broken.empty())
        judgement.broken = "ReplaceHeapSize " + broken;
    judgement.replaced = pszNew != NULL;
    return judgement;
}
