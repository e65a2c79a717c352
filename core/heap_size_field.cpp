// Reads and rewrites the desktop heap field of the subsystem command line.
#include "heap_size_field.h"

#include "bounded_string.h"
#include "text_buffer.h"

static const WideChar kSharedSectionKeyword[] = WIDE_TEXT("SharedSection=");
static const size_t kKeywordChars = sizeof(kSharedSectionKeyword) / sizeof(WideChar) - 1;

// Character classes are ASCII only, so every platform and locale reads the
// same size from the same text. This departs on purpose from the platform's
// wide-character classification, which would count, say, a fullwidth digit
// or a no-break space and so read a size that depends on the machine.
static bool IsConversionSpace(WideChar ch)
{
    return (ch >= 0x09 && ch <= 0x0D) || ch == WIDE_TEXT(' ');
}

static bool IsDecimalDigit(WideChar ch)
{
    return ch >= WIDE_TEXT('0') && ch <= WIDE_TEXT('9');
}

static bool IsStopChar(WideChar ch)
{
    return ch == 0 || ch == WIDE_TEXT(' ') || ch == WIDE_TEXT(',');
}

static bool StartsWithKeyword(const WideChar *psz)
{
    for (size_t i = 0; i < kKeywordChars; i++) {
        if (psz[i] != kSharedSectionKeyword[i])
            return false; // also stops at the text's terminator
    }
    return true;
}

// The character just after the first keyword, or NULL when there is none.
static WideChar *FindSharedSectionNumbers(const WideChar *pszText)
{
    const WideChar *psz = pszText;
    while (*psz != 0 && !StartsWithKeyword(psz))
        psz++;
    if (*psz == 0)
        return NULL;
    return const_cast<WideChar *>(psz + kKeywordChars);
}

// The first character of the heap field, given what follows the keyword
// (NULL when the text has none), or NULL when there is no field.
static WideChar *FindHeapSizeField(WideChar *pszNumbers)
{
    WideChar *psz = pszNumbers;
    if (psz == NULL)
        return NULL;

    // Only a space or the end stops the search for the first comma: tabs,
    // letters and '=' before it belong to the first number's run.
    for (; *psz != 0 && *psz != WIDE_TEXT(' '); psz++) {
        if (*psz == WIDE_TEXT(','))
            return psz + 1;
    }
    return NULL;
}

// The stop character that ends the field run starting at psz.
static WideChar *FindFieldEnd(WideChar *psz)
{
    while (!IsStopChar(*psz))
        psz++;
    return psz;
}

// Unsigned decimal conversion with strtoul's rules: leading white space, one
// optional sign, saturation at the maximum and negation modulo 2^32.
static HeapSizeKb ConvertDecimal(const WideChar *psz)
{
    const HeapSizeKb kLimit = 0xFFFFFFFFu / 10;
    const HeapSizeKb kLastDigit = 0xFFFFFFFFu % 10;

    while (IsConversionSpace(*psz))
        psz++;

    bool negate = false;
    if (*psz == WIDE_TEXT('-')) {
        negate = true;
        psz++;
    } else if (*psz == WIDE_TEXT('+')) {
        psz++;
    }

    HeapSizeKb value = 0;
    bool overflow = false;
    for (; IsDecimalDigit(*psz); psz++) {
        HeapSizeKb digit = static_cast<HeapSizeKb>(*psz - WIDE_TEXT('0'));
        if (value < kLimit || (value == kLimit && digit <= kLastDigit))
            value = value * 10 + digit;
        else
            overflow = true;
    }

    if (overflow)
        value = 0xFFFFFFFFu;
    return negate ? 0u - value : value;
}

HeapSizeKb ReadHeapSize(const WideChar *pszText)
{
    const WideChar *pszField = FindHeapSizeField(FindSharedSectionNumbers(pszText));
    if (pszField == NULL)
        return 0;
    return ConvertDecimal(pszField);
}

void FormatHeapSize(HeapSizeKb value, WideChar (&szDigits)[kHeapSizeTextChars])
{
    WideChar szReversed[kHeapSizeTextChars] = {};
    size_t cch = 0;
    do {
        szReversed[cch++] = static_cast<WideChar>(WIDE_TEXT('0') + value % 10);
        value /= 10;
    } while (value != 0);

    for (size_t i = 0; i < cch; i++)
        szDigits[i] = szReversed[cch - 1 - i];
    szDigits[cch] = 0;
}

// The text up to pszCut, then pszInsert and the digits of newSizeKb, then the
// text from pszRest, in a fresh buffer of cchCapacity characters; NULL when
// the buffer cannot be had or the result would be cut. The caller's text is
// cut at pszCut to copy its prefix, and put back unless keepCut asks that a
// successful rewrite leave it cut.
static WideChar *AssembleRewrite(WideChar *pszText,
                                 WideChar *pszCut,
                                 const WideChar *pszInsert,
                                 HeapSizeKb newSizeKb,
                                 const WideChar *pszRest,
                                 size_t cchCapacity,
                                 bool keepCut)
{
    // Refused rather than handed to the bounded copy, which would refuse it
    // only after a buffer of gigabytes had been asked for.
    if (cchCapacity > kMaxBoundedChars)
        return NULL;
    WideChar *pszNew = AllocateText(cchCapacity);
    if (pszNew == NULL)
        return NULL;

    WideChar szDigits[kHeapSizeTextChars] = {};
    FormatHeapSize(newSizeKb, szDigits);

    const WideChar chCut = *pszCut;
    *pszCut = 0;
    BoundedStatus status = BoundedCopy(pszNew, cchCapacity, pszText);
    if (!keepCut)
        *pszCut = chCut; // the rest may start right here
    if (status == kBoundedOk)
        status = BoundedAppend(pszNew, cchCapacity, pszInsert);
    if (status == kBoundedOk)
        status = BoundedAppend(pszNew, cchCapacity, szDigits);
    if (status == kBoundedOk)
        status = BoundedAppend(pszNew, cchCapacity, pszRest);

    // A cut would store a truncated command line: only a text longer than
    // its dataBytes claims can cause one, and it is refused whole, the
    // caller's text put back as it was.
    if (status != kBoundedOk) {
        *pszCut = chCut;
        ReleaseText(pszNew);
        return NULL;
    }
    return pszNew;
}

WideChar *ReplaceHeapSize(WideChar *pszText, uint32_t dataBytes, HeapSizeKb newSizeKb)
{
    WideChar *pszField = FindHeapSizeField(FindSharedSectionNumbers(pszText));
    if (pszField == NULL || !IsDecimalDigit(*pszField))
        return NULL;

    // The old field holds at least one character and the new number at most
    // ten, so the text grows by at most nine characters; the old text has at
    // most dataBytes / 2 rounded up characters. The prefix ends with the
    // comma; the rest starts at the character that ended the old field.
    const size_t cchCapacity = dataBytes / 2 + kHeapSizeTextChars;
    return AssembleRewrite(pszText, pszField, WIDE_TEXT(""), newSizeKb, FindFieldEnd(pszField + 1), cchCapacity, true);
}

void ReadSharedSectionSizes(const WideChar *pszText, SharedSectionSizes *pSizes)
{
    WideChar *pszNumbers = FindSharedSectionNumbers(pszText);
    WideChar *pszField = FindHeapSizeField(pszNumbers);

    pSizes->sharedKb = pszNumbers != NULL ? ConvertDecimal(pszNumbers) : 0;
    pSizes->interactiveKb = pszField != NULL ? ConvertDecimal(pszField) : 0;
    pSizes->nonInteractiveKb = pSizes->interactiveKb;
    if (pszField != NULL) {
        const WideChar *pszEnd = FindFieldEnd(pszField);
        if (*pszEnd == WIDE_TEXT(','))
            pSizes->nonInteractiveKb = ConvertDecimal(pszEnd + 1);
    }
}

WideChar *ReplaceNonInteractiveHeapSize(WideChar *pszText, uint32_t dataBytes, HeapSizeKb newSizeKb)
{
    WideChar *pszField = FindHeapSizeField(FindSharedSectionNumbers(pszText));
    if (pszField == NULL)
        return NULL;

    WideChar *pszEnd = FindFieldEnd(pszField);
    WideChar *pszCut = NULL;
    const WideChar *pszInsert = WIDE_TEXT("");
    const WideChar *pszRest = NULL;
    if (*pszEnd == WIDE_TEXT(',')) {
        pszCut = pszEnd + 1; // the third number, replaced like the heap field
        if (!IsDecimalDigit(*pszCut))
            return NULL;
        pszRest = FindFieldEnd(pszCut + 1);
    } else {
        // No third number: one goes right after a well-formed heap field,
        // before the space or end that closed it.
        if (!IsDecimalDigit(*pszField))
            return NULL;
        pszCut = pszEnd;
        pszInsert = WIDE_TEXT(",");
        pszRest = pszEnd;
    }

    // As for the heap field, and two characters more: an insertion adds a
    // comma and drops no old character, so the text grows by at most eleven
    // characters where a replacement grows it by at most nine.
    const size_t cchCapacity = dataBytes / 2 + kHeapSizeTextChars + 2;
    return AssembleRewrite(pszText, pszCut, pszInsert, newSizeKb, pszRest, cchCapacity, false);
}
