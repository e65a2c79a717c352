// Bounded copy, append and length at their edges. Buffers are written as
// ASCII pictures: '.' is a terminator, '~' a guard unit that must survive.
#include <gtest/gtest.h>

#include <vector>

#include "bounded_string.h"
#include "wide_text.h"

namespace {

// The platform's StrSafe codes and limit, which callers may compare against.
static_assert(kBoundedOk == 0 && kBoundedInvalidArg == static_cast<BoundedStatus>(0x80070057u), "S_OK, E_INVALIDARG");
static_assert(kBoundedInsufficientBuffer == static_cast<BoundedStatus>(0x8007007Au), "a cut to fit");
static_assert(kMaxBoundedChars == 2147483647u, "STRSAFE_MAX_CCH");

const WideChar kGuard = static_cast<WideChar>(0xBDBD);
const size_t kOverMax = kMaxBoundedChars + 1;

std::vector<WideChar> Picture(const std::string &picture)
{
    std::vector<WideChar> units;
    for (char ch : picture)
        units.push_back(ch == '.' ? 0 : ch == '~' ? kGuard : static_cast<WideChar>(ch));
    return units;
}

std::string Picture(const std::vector<WideChar> &units)
{
    std::string picture;
    for (WideChar unit : units)
        picture.push_back(unit == 0 ? '.' : unit == kGuard ? '~' : static_cast<char>(unit));
    return picture;
}

struct CopyCase {
    size_t cchDest;
    const char *src;
    BoundedStatus status;
    const char *after; // the destination plus two guards behind it
};

TEST(BoundedCopy, StatusAndBuffer)
{
    const CopyCase cases[] = {
        {0, "abc", kBoundedInvalidArg, "~~~~~~~~"},
        {kOverMax, "abc", kBoundedInvalidArg, "~~~~~~~~"},
        {1, "", kBoundedOk, ".~~~~~~~"},
        {6, "hello", kBoundedOk, "hello.~~"},
        {5, "hello", kBoundedInsufficientBuffer, "hell.~~~"},
        {1, "hello", kBoundedInsufficientBuffer, ".~~~~~~~"},
        {6, "hi", kBoundedOk, "hi.~~~~~"},                 // nothing after the terminator
        {kMaxBoundedChars, "abc", kBoundedOk, "abc.~~~~"}, // the largest capacity is taken
    };
    for (const CopyCase &c : cases) {
        SCOPED_TRACE(testing::Message() << "cchDest " << c.cchDest << ", src \"" << c.src << "\"");
        std::vector<WideChar> dest = Picture("~~~~~~~~");
        WideString src = Widen(c.src);
        EXPECT_EQ(c.status, BoundedCopy(dest.data(), c.cchDest, src.c_str()));
        EXPECT_EQ(c.after, Picture(dest));
    }
}

TEST(BoundedCopy, ReadsNoFurtherThanCapacity)
{
    // An unterminated source is safe as long as it holds cchDest characters.
    const WideChar src[3] = {'x', 'y', 'z'};
    std::vector<WideChar> dest = Picture("~~~~~");
    EXPECT_EQ(kBoundedInsufficientBuffer, BoundedCopy(dest.data(), 3, src));
    EXPECT_EQ("xy.~~", Picture(dest));
}

struct LengthCase {
    const char *text; // picture; may hold no terminator
    size_t cchMax;
    BoundedStatus status;
    size_t length; // expected; 77 is the untouched sentinel
};

TEST(BoundedLength, StatusAndLength)
{
    const LengthCase cases[] = {
        {"abc.", 4, kBoundedOk, 3},
        {"abc.", 3, kBoundedInvalidArg, 77},
        {"abc.", 0, kBoundedInvalidArg, 77},
        {".", 1, kBoundedOk, 0},
        {"abcd", 4, kBoundedInvalidArg, 77},
        {"ab.", kOverMax, kBoundedOk, 2}, // no upper bound of its own
    };
    for (const LengthCase &c : cases) {
        SCOPED_TRACE(testing::Message() << "text " << c.text << ", cchMax " << c.cchMax);
        std::vector<WideChar> text = Picture(c.text);
        size_t length = 77;
        EXPECT_EQ(c.status, BoundedLength(text.data(), c.cchMax, &length));
        EXPECT_EQ(c.length, length);
        EXPECT_EQ(c.status, BoundedLength(text.data(), c.cchMax, NULL));
    }
}

struct AppendCase {
    size_t cchDest;
    const char *before; // the destination plus guards
    const char *src;
    BoundedStatus status;
    const char *after;
};

TEST(BoundedAppend, StatusAndBuffer)
{
    const AppendCase cases[] = {
        {8, "ab.~~~~~~~", "cde", kBoundedOk, "abcde.~~~~"},
        {5, "ab.~~~~", "cde", kBoundedInsufficientBuffer, "abcd.~~"},
        {4, "abc.~~", "", kBoundedOk, "abc.~~"},                  // full, empty source
        {4, "abc.~~", "x", kBoundedInsufficientBuffer, "abc.~~"}, // full: unchanged
        {4, "abcd~~", "x", kBoundedInvalidArg, "abcd~~"},         // no terminator
        {0, ".~~", "x", kBoundedInvalidArg, ".~~"},
        {kOverMax, "a.~~", "x", kBoundedInvalidArg, "a.~~"},
        {3, ".~~~~", "", kBoundedOk, ".~~~~"},
        {6, "ab.z~~~~", "c", kBoundedOk, "abc.~~~~"}, // appends at the terminator
        {kMaxBoundedChars, "a.~~", "b", kBoundedOk, "ab.~"},
    };
    for (const AppendCase &c : cases) {
        SCOPED_TRACE(testing::Message() << "cchDest " << c.cchDest << ", before " << c.before << ", src \"" << c.src
                                        << "\"");
        std::vector<WideChar> dest = Picture(c.before);
        WideString src = Widen(c.src);
        EXPECT_EQ(c.status, BoundedAppend(dest.data(), c.cchDest, src.c_str()));
        EXPECT_EQ(c.after, Picture(dest));
    }
}

} // namespace
