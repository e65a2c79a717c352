// The bounded operations against the platform's StrSafe functions, whose
// status codes and contract they share, over one table of cases.
#include <windows.h>

#include <strsafe.h>

#include <gtest/gtest.h>

#include <vector>

#include "bounded_string.h"

namespace {

static_assert(kBoundedOk == S_OK, "status values are StrSafe's");
static_assert(kBoundedInvalidArg == STRSAFE_E_INVALID_PARAMETER, "status values are StrSafe's");
static_assert(kBoundedInsufficientBuffer == STRSAFE_E_INSUFFICIENT_BUFFER, "status values are StrSafe's");
static_assert(kMaxBoundedChars == STRSAFE_MAX_CCH, "the capacity limits are the same");

const size_t kBufferChars = 12;
const size_t kOverMax = static_cast<size_t>(STRSAFE_MAX_CCH) + 1;
const wchar_t kGuard = 0xBDBD;

struct Case {
    size_t cch;
    const wchar_t *dest; // initial text of the destination, or NULL for no terminator
    const wchar_t *src;
};

const Case kCases[] = {
    {0, L"", L"abc"},
    {kOverMax, L"", L"abc"},
    {1, L"", L""},
    {1, L"", L"hello"},
    {5, L"", L"hello"},
    {6, L"", L"hello"},
    {8, L"ab", L"cde"},
    {5, L"ab", L"cde"},
    {4, L"abc", L""},
    {4, L"abc", L"x"},
    {4, NULL, L"x"},
    {STRSAFE_MAX_CCH, L"a", L"b"},
    {kBufferChars, L"", L"abcdefghijklmnop"},
};

std::vector<wchar_t> Destination(const Case &c)
{
    std::vector<wchar_t> buffer(kBufferChars + 2, kGuard);
    if (c.dest != NULL) {
        for (size_t i = 0; i <= wcslen(c.dest); i++)
            buffer[i] = c.dest[i];
    } else {
        for (size_t i = 0; i < kBufferChars; i++)
            buffer[i] = L'z';
    }
    return buffer;
}

// Where StrSafe differs by design (a length failure zeroes its out-parameter,
// and it refuses a limit above STRSAFE_MAX_CCH), bounded_string_test pins ours.
TEST(StrSafeDifferential, CopyAppendAndLengthMatchStrSafe)
{
    for (const Case &c : kCases) {
        SCOPED_TRACE(testing::Message() << "cch " << c.cch);
        std::vector<wchar_t> ours = Destination(c), theirs = Destination(c);
        EXPECT_EQ(StringCchCopyW(theirs.data(), c.cch, c.src), BoundedCopy(ours.data(), c.cch, c.src));
        EXPECT_EQ(theirs, ours);

        ours = theirs = Destination(c);
        EXPECT_EQ(StringCchCatW(theirs.data(), c.cch, c.src), BoundedAppend(ours.data(), c.cch, c.src));
        EXPECT_EQ(theirs, ours);

        if (c.cch > kMaxBoundedChars)
            continue;
        std::vector<wchar_t> text = Destination(c);
        size_t cchOurs = 77, cchTheirs = 77;
        HRESULT hrTheirs = StringCchLengthW(text.data(), c.cch, &cchTheirs);
        EXPECT_EQ(hrTheirs, BoundedLength(text.data(), c.cch, &cchOurs));
        if (SUCCEEDED(hrTheirs)) {
            EXPECT_EQ(cchTheirs, cchOurs);
        }
    }
}

} // namespace
