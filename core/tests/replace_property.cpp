// The contract of ReplaceHeapSize as one check.
#include "replace_property.h"

#include <stdlib.h>

#include <vector>

#include "text_buffer.h"
#include "wide_text.h"

static size_t s_cchLastAllocation;

static void *RecordingAllocate(size_t count, size_t size)
{
    s_cchLastAllocation = count;
    return calloc(count, size);
}

static bool IsStop(WideChar ch)
{
    return ch == 0 || ch == ' ' || ch == ',';
}

static size_t TextLength(const WideChar *psz)
{
    size_t cch = 0;
    while (psz[cch] != 0)
        cch++;
    return cch;
}

static std::string Check(const std::vector<WideChar> &original,
                         size_t cchOriginal,
                         const std::vector<WideChar> &afterCall,
                         const WideChar *pszNew,
                         size_t cchCapacity,
                         uint32_t dataBytes,
                         HeapSizeKb newSizeKb)
{
    if (pszNew == NULL)
        return afterCall == original ? "" : "failure changed the caller's text";

    if (cchCapacity != dataBytes / 2 + kHeapSizeTextChars)
        return "capacity is not dataBytes / 2 + 11";

    // The caller's text was cut exactly where the old field began.
    size_t iField = TextLength(afterCall.data());
    std::vector<WideChar> expectedCut = original;
    expectedCut[iField] = 0;
    if (afterCall != expectedCut)
        return "caller's text changed other than at the field start";
    if (iField == 0 || original[iField - 1] != ',' || original[iField] < '0' || original[iField] > '9')
        return "the replaced run does not start with a digit after a comma";

    const WideString keyword = Widen("SharedSection=");
    WideString prefix(original.data(), iField);
    size_t iKeyword = prefix.find(keyword);
    if (iKeyword == WideString::npos)
        return "no keyword before the replaced field";
    WideString between = prefix.substr(iKeyword + keyword.size(), iField - 1 - iKeyword - keyword.size());
    if (between.find_first_of(Widen(" ,")) != WideString::npos)
        return "the replaced field is not after the first comma of the first keyword";

    size_t cchNew = TextLength(pszNew);
    if (cchNew + 1 > cchCapacity)
        return "result overruns its capacity";
    for (size_t i = cchNew; i < cchCapacity; i++) {
        if (pszNew[i] != 0)
            return "result is not zero beyond its text";
    }

    std::string digits = std::to_string(newSizeKb);
    WideString result(pszNew, cchNew);
    WideString head(original.data(), iField);
    if (result.compare(0, iField, head) != 0 || Narrow(result.substr(iField, digits.size())) != digits)
        return "result does not start with the old prefix and the new digits";

    // The old field runs from its digit to the first stop character behind it.
    size_t iRest = iField + 1;
    while (!IsStop(original[iRest]))
        iRest++;
    WideString rest(original.data() + iRest, cchOriginal - iRest);
    if (result.substr(iField + digits.size()) != rest)
        return "result does not end with the old text behind the field";

    if (ReadHeapSize(pszNew) != newSizeKb)
        return "result does not read back as the new size";
    return "";
}

std::string
CheckReplaceHeapSize(const WideChar *pData, size_t cchData, uint32_t dataBytes, HeapSizeKb newSizeKb, bool *pReplaced)
{
    std::vector<WideChar> text(pData, pData + cchData);
    text.push_back(0);
    const std::vector<WideChar> original = text;
    size_t cchOriginal = TextLength(original.data());

    TextAllocateProc pfnSaved = g_pfnTextAllocate;
    g_pfnTextAllocate = RecordingAllocate;
    s_cchLastAllocation = 0;
    WideChar *pszNew = ReplaceHeapSize(text.data(), dataBytes, newSizeKb);
    g_pfnTextAllocate = pfnSaved;

    std::string broken = Check(original, cchOriginal, text, pszNew, s_cchLastAllocation, dataBytes, newSizeKb);
    *pReplaced = pszNew != NULL;
    ReleaseText(pszNew);
    return broken;
}
