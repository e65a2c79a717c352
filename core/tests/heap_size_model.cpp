// The SharedSection field rules read straight from the design, and the judge.
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

// strtoul on 32 bits from index i: white space, one sign, saturation,
// negation mod 2^32; not bounded by the end of the field it starts.
static HeapSizeKb ModelConvert(const WideString &text, size_t i)
{
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
    return static_cast<HeapSizeKb>(negative ? (0x100000000u - value) & 0xFFFFFFFFu : value);
}

// The index of the first space, comma or end at or after i.
static size_t ModelRunEnd(const WideString &text, size_t i)
{
    while (i < text.size() && text[i] != 0x20 && text[i] != 0x2C)
        i++;
    return i;
}

static bool DigitAt(const WideString &text, size_t i)
{
    return i < text.size() && IsModelDigit(text[i]);
}

// The text with [from, to) replaced by the inserted units and the new size.
static void ModelSplice(
    ModelRewrite *pRewrite, const WideString &text, size_t from, size_t to, const char *pszInsert, HeapSizeKb newSizeKb)
{
    pRewrite->hasDigitField = true;
    pRewrite->rewritten = text.substr(0, from) + Widen(pszInsert) + Widen(std::to_string(newSizeKb)) + text.substr(to);
    pRewrite->fits = pRewrite->rewritten.size() + 1 <= pRewrite->capacity;
}

ModelVerdict ModelHeapSize(const WideString &text, uint32_t dataBytes, HeapSizeKb newSizeKb)
{
    ModelVerdict verdict = {};
    verdict.heapField.capacity = dataBytes / 2 + 11;
    verdict.thirdNumber.capacity = dataBytes / 2 + 13;
    verdict.heapField.capacityRefused = verdict.heapField.capacity > 2147483647u;
    verdict.thirdNumber.capacityRefused = verdict.thirdNumber.capacity > 2147483647u;
    verdict.thirdNumber.cutAt = WideString::npos;

    // The first keyword, then the first comma after it before any space.
    size_t at = text.find(Keyword());
    if (at == WideString::npos)
        return verdict;
    verdict.sharedKb = ModelConvert(text, at + Keyword().size());
    size_t field = WideString::npos;
    for (size_t i = at + Keyword().size(); i < text.size() && text[i] != 0x20; i++) {
        if (text[i] == 0x2C) {
            field = i + 1;
            break;
        }
    }
    if (field == WideString::npos)
        return verdict;
    verdict.size = ModelConvert(text, field);

    // A third number only after a comma that ends the heap field; without
    // one, the interactive size stands for it and one is inserted.
    size_t fieldEnd = ModelRunEnd(text, field);
    if (fieldEnd < text.size() && text[fieldEnd] == 0x2C) {
        verdict.nonInteractiveKb = ModelConvert(text, fieldEnd + 1);
        if (DigitAt(text, fieldEnd + 1))
            ModelSplice(&verdict.thirdNumber, text, fieldEnd + 1, ModelRunEnd(text, fieldEnd + 2), "", newSizeKb);
    } else {
        verdict.nonInteractiveKb = verdict.size;
        if (DigitAt(text, field))
            ModelSplice(&verdict.thirdNumber, text, fieldEnd, fieldEnd, ",", newSizeKb);
    }

    if (DigitAt(text, field)) {
        verdict.heapField.cutAt = field;
        ModelSplice(&verdict.heapField, text, field, ModelRunEnd(text, field + 1), "", newSizeKb);
    }
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

std::string CheckRewrite(const ModelRewrite &model,
                         const std::vector<WideChar> &before,
                         const std::vector<WideChar> &after,
                         const WideChar *pszNew)
{
    const bool mustSucceed = model.hasDigitField && !model.capacityRefused && !s_allocations.fail && model.fits;
    if (model.hasDigitField && !model.capacityRefused) {
        if (s_allocations.requests != 1 || s_allocations.cchRequested != model.capacity)
            return "did not ask once for a buffer of " + std::to_string(model.capacity) + " characters";
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
    if (model.cutAt != WideString::npos)
        cut[model.cutAt] = 0;
    if (after != cut)
        return model.cutAt != WideString::npos ? "the caller's text was not cut exactly at the old field"
                                               : "the caller's text was changed";
    return "";
}

typedef WideChar *(*RewriteProc)(WideChar *pszText, uint32_t dataBytes, HeapSizeKb newSizeKb);

// One rewrite on a fresh copy of the caller's buffer, with the allocations logged.
std::string JudgeRewrite(const ModelRewrite &model, const CodecCall &call, RewriteProc pfnRewrite, bool *pReplaced)
{
    std::vector<WideChar> buffer(call.data.begin(), call.data.end());
    buffer.push_back(0);
    const std::vector<WideChar> before = buffer;

    // A buffer of gigabytes is refused as a failed allocation: the judge
    // still sees the size asked for, which is what such a case is about.
    TextAllocateProc pfnAllocate = g_pfnTextAllocate;
    TextReleaseProc pfnRelease = g_pfnTextRelease;
    s_allocations = AllocationLog();
    s_allocations.fail = call.failAllocation || model.capacity > kLargestTestBuffer;
    g_pfnTextAllocate = LoggingAllocate;
    g_pfnTextRelease = LoggingRelease;
    WideChar *pszNew = pfnRewrite(buffer.data(), call.dataBytes, call.newSizeKb);
    std::string broken = CheckRewrite(model, before, buffer, pszNew);
    *pReplaced = pszNew != NULL;
    ReleaseText(pszNew);
    g_pfnTextAllocate = pfnAllocate;
    g_pfnTextRelease = pfnRelease;
    return broken;
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
    ReadSharedSectionSizes(buffer.data(), &judgement.sizes);
    const SharedSectionSizes &sizes = judgement.sizes;
    if (buffer != before)
        judgement.broken = "a read changed its text";
    else if (judgement.size != model.size)
        judgement.broken =
            "ReadHeapSize gave " + std::to_string(judgement.size) + ", not " + std::to_string(model.size);
    else if (sizes.sharedKb != model.sharedKb || sizes.interactiveKb != model.size ||
             sizes.nonInteractiveKb != model.nonInteractiveKb)
        judgement.broken = "ReadSharedSectionSizes gave " + std::to_string(sizes.sharedKb) + "," +
                           std::to_string(sizes.interactiveKb) + "," + std::to_string(sizes.nonInteractiveKb) +
                           ", not " + std::to_string(model.sharedKb) + "," + std::to_string(model.size) + "," +
                           std::to_string(model.nonInteractiveKb);

    std::string broken = JudgeRewrite(model.heapField, call, ReplaceHeapSize, &judgement.replaced);
    if (judgement.broken.empty() && !broken.empty())
        judgement.broken = "ReplaceHeapSize " + broken;
    broken = JudgeRewrite(model.thirdNumber, call, ReplaceNonInteractiveHeapSize, &judgement.thirdReplaced);
    if (judgement.broken.empty() && !broken.empty())
        judgement.broken = "ReplaceNonInteractiveHeapSize " + broken;
    return judgement;
}
