// The heap field codec over command lines real and odd.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <vector>

#include "heap_size_field.h"
#include "replace_property.h"
#include "text_buffer.h"
#include "wide_text.h"

namespace {

const char kXpValue[] =
    "%SystemRoot%\\system32\\csrss.exe ObjectDirectory=\\Windows SharedSection=1024,3072,512 Windows=On "
    "SubSystemType=Windows ServerDll=basesrv,1 ServerDll=winsrv:UserServerDllInitialization,3 "
    "ServerDll=winsrv:ConServerDllInitialization,2 ProfileControl=Off MaxRequestThreads=16";
const char kWin7Value[] =
    "%SystemRoot%\\system32\\csrss.exe ObjectDirectory=\\Windows SharedSection=1024,20480,768 Windows=On "
    "SubSystemType=Windows ServerDll=basesrv,1 ServerDll=winsrv:UserServerDllInitialization,3 "
    "ServerDll=winsrv:ConServerDllInitialization,2 ServerDll=sxssrv,4 ProfileControl=Off MaxRequestThreads=16";
const char kWin10Value[] =
    "%SystemRoot%\\system32\\csrss.exe ObjectDirectory=\\Windows SharedSection=1024,20480,768 Windows=On "
    "SubSystemType=Windows ServerDll=basesrv,1 ServerDll=winsrv:UserServerDllInitialization,3 "
    "ServerDll=sxssrv,4 ProfileControl=Off MaxRequestThreads=16";

struct ReadCase {
    const char *text;
    HeapSizeKb size;
};

TEST(ReadHeapSize, FindsAndConvertsTheSecondNumber)
{
    const ReadCase cases[] = {
        {kXpValue, 3072},
        {kWin7Value, 20480},
        {kWin10Value, 20480},
        {"", 0},
        {"Windows=On", 0},
        {"sharedsection=1024,3072,512", 0},     // case matters
        {"SharedSection =1024,3072,512", 0},    // space before '='
        {"xSharedSection=1024,3072,512", 3072}, // glued to a word
        {"SharedSection=1,2 SharedSection=3,4", 2},
        {"SharedSection=1024,3072", 3072},
        {"SharedSection=1024,3072 Windows=On", 3072},
        {"SharedSection=1024,3072,512,9,8", 3072},
        {"SharedSection=1024 x,3072", 0}, // first number ended by a space
        {"SharedSection=1024", 0},        // ... or by the end
        {"SharedSection=", 0},
        {"SharedSection=,3072", 3072},
        {"SharedSection=1024\t,3072", 3072}, // a tab does not stop the search
        {"SharedSection=1k=x\t,3072", 3072},
        {"SharedSection=1024, 3072", 3072}, // conversion skips white space
        {"SharedSection=1024,\t\n\v\f\r3072", 3072},
        {"SharedSection=1024,+3072", 3072},
        {"SharedSection=1024,-3072", 4294964224u},
        {"SharedSection=1024,+-3072", 0}, // one sign at most
        {"SharedSection=1024,,512", 0},
        {"SharedSection=1024,3072K,512", 3072},
        {"SharedSection=1024,0003072", 3072},
        {"SharedSection=1024,0", 0},
        {"SharedSection=1024,000", 0},
        {"SharedSection=1024,4294967295", 4294967295u},
        {"SharedSection=1024,4294967296", 4294967295u},
        {"SharedSection=1024,99999999999", 4294967295u},
        {"SharedSection=1024,4294967290", 4294967290u},
        {"SharedSection=1024,429496729x", 429496729u},
        {"SharedSection=1024,-1", 4294967295u},
        {"SharedSection=1024,-0", 0},
        {"SharedSection=1024,-99999999999", 1}, // saturates, then negates
        {"SharedSection=1024,-", 0},
        {"SharedSection=1024,7", 7},
    };
    for (const ReadCase &c : cases) {
        SCOPED_TRACE(c.text);
        WideString text = Widen(c.text);
        EXPECT_EQ(c.size, ReadHeapSize(text.c_str()));
    }
}

TEST(ReadHeapSize, NonAsciiIsNeitherDigitNorSpace)
{
    // Fullwidth digit, Arabic-Indic digit, no-break space, ideographic space.
    const WideChar kOthers[] = {0xFF13, 0x0663, 0x00A0, 0x3000};
    for (WideChar other : kOthers) {
        WideString text = Widen("SharedSection=1024,");
        text.push_back(other);
        text += Widen("3072");
        EXPECT_EQ(0u, ReadHeapSize(text.c_str())) << std::hex << static_cast<unsigned>(other);
    }
}

struct ReplaceCase {
    const char *text;
    HeapSizeKb newSizeKb;
    const char *result; // NULL: the rewrite is refused
};

TEST(ReplaceHeapSize, ReplacesOnlyTheField)
{
    const ReplaceCase cases[] = {
        {"a SharedSection=1024,3072,512 b=c", 4096, "a SharedSection=1024,4096,512 b=c"},
        {"SharedSection=1024,3072", 4096, "SharedSection=1024,4096"},
        {"SharedSection=1024,3072 Windows=On", 4096, "SharedSection=1024,4096 Windows=On"},
        {"SharedSection=1,3072,5,6,7 x", 4096, "SharedSection=1,4096,5,6,7 x"},
        {"SharedSection=,3072", 4096, "SharedSection=,4096"},
        {"SharedSection=1024\t,3072", 4096, "SharedSection=1024\t,4096"},
        {"SharedSection=1024,3072K,512", 4096, "SharedSection=1024,4096,512"},
        {"SharedSection=1024,3\t7 x", 4096, "SharedSection=1024,4096 x"}, // the run to a stop goes
        {"SharedSection=1024,0003072", 4096, "SharedSection=1024,4096"},
        {"SharedSection=1024,0,512", 4096, "SharedSection=1024,4096,512"}, // the old value is not judged
        {"SharedSection=1024,7", 4294967295u, "SharedSection=1024,4294967295"},
        {"SharedSection=1024,31000,512", 8, "SharedSection=1024,8,512"},
        {"SharedSection=1024,3072", 0, "SharedSection=1024,0"},
        {"xSharedSection=1,2 SharedSection=3,4", 9, "xSharedSection=1,9 SharedSection=3,4"},
        {"Windows=On", 4096, NULL},
        {"sharedsection=1024,3072", 4096, NULL},
        {"SharedSection =1024,3072", 4096, NULL},
        {"SharedSection=1024 x,3072", 4096, NULL},
        {"SharedSection=1024", 4096, NULL},
        {"SharedSection=1024, 3072", 4096, NULL},
        {"SharedSection=1024,+3072", 4096, NULL},
        {"SharedSection=1024,-3072", 4096, NULL},
        {"SharedSection=1024,,512", 4096, NULL},
        {"SharedSection=1024,", 4096, NULL},
        {"SharedSection=1024,x3072", 4096, NULL},
    };
    for (const ReplaceCase &c : cases) {
        SCOPED_TRACE(testing::Message() << c.text << " -> " << c.newSizeKb);
        WideString text = Widen(c.text);
        WideString original = text;
        uint32_t dataBytes = static_cast<uint32_t>((text.size() + 1) * 2);
        WideChar *pszNew = ReplaceHeapSize(&text[0], dataBytes, c.newSizeKb);
        if (c.result == NULL) {
            EXPECT_TRUE(pszNew == NULL);
            EXPECT_EQ(Narrow(original), Narrow(text));
        } else {
            ASSERT_TRUE(pszNew != NULL);
            EXPECT_EQ(Narrow(Widen(c.result)), Narrow(WideString(pszNew)));
        }
        ReleaseText(pszNew);

        bool replaced = false;
        EXPECT_EQ("", CheckReplaceHeapSize(original.data(), original.size(), dataBytes, c.newSizeKb, &replaced));
        EXPECT_EQ(c.result != NULL, replaced);
    }
}

TEST(ReplaceHeapSize, RealValuesChangeOnlyTheHeapSize)
{
    const char *values[] = {kXpValue, kWin7Value, kWin10Value};
    for (const char *value : values) {
        SCOPED_TRACE(value);
        std::string expected = value;
        size_t at = expected.find("SharedSection=1024,") + 19;
        expected.replace(at, expected.find(',', at) - at, "12288");

        WideString text = Widen(value);
        uint32_t dataBytes = static_cast<uint32_t>((text.size() + 1) * 2);
        WideChar *pszNew = ReplaceHeapSize(&text[0], dataBytes, 12288);
        ASSERT_TRUE(pszNew != NULL);
        EXPECT_EQ(expected, Narrow(WideString(pszNew)));
        ReleaseText(pszNew);
    }
}

TEST(ReplaceHeapSize, DataSizesAsTheRegistryReportsThem)
{
    // Stored without a terminator, and with an odd byte count whose last
    // unit is half data: the buffer behind the data is zero either way.
    WideString text = Widen("SharedSection=1024,7");
    uint32_t noTerminator = static_cast<uint32_t>(text.size() * 2);
    const uint32_t dataSizes[] = {noTerminator, noTerminator - 1, noTerminator + 1, noTerminator + 2};
    for (uint32_t dataBytes : dataSizes) {
        SCOPED_TRACE(dataBytes);
        bool replaced = false;
        EXPECT_EQ("", CheckReplaceHeapSize(text.data(), text.size(), dataBytes, 4294967295u, &replaced));
        EXPECT_TRUE(replaced);
    }
}

TEST(ReplaceHeapSize, RefusesATextLongerThanItsDataSize)
{
    // A caller whose dataBytes understates the text would otherwise store a
    // command line cut short.
    WideString text = Widen("SharedSection=1024,7,512 Windows=On SubSystemType=Windows");
    WideString original = text;
    WideChar *pszNew = ReplaceHeapSize(&text[0], 20, 4294967295u);
    EXPECT_TRUE(pszNew == NULL);
    EXPECT_EQ(Narrow(original), Narrow(text));
}

void *FailingAllocate(size_t, size_t)
{
    return NULL;
}

TEST(ReplaceHeapSize, FailedAllocationLeavesTextUnchanged)
{
    WideString text = Widen("SharedSection=1024,3072,512");
    TextAllocateProc pfnSaved = g_pfnTextAllocate;
    g_pfnTextAllocate = FailingAllocate;
    WideChar *pszNew = ReplaceHeapSize(&text[0], static_cast<uint32_t>((text.size() + 1) * 2), 4096);
    g_pfnTextAllocate = pfnSaved;
    EXPECT_TRUE(pszNew == NULL);
    EXPECT_EQ("SharedSection=1024,3072,512", Narrow(text));
}

TEST(ReplaceHeapSize, PropertyHoldsOverGeneratedTexts)
{
    // Texts drawn from the characters that matter to the field, so that the
    // keyword, the stops and the digits meet in every order.
    const char *pieces[] = {"SharedSection=", ",", " ", "\t", "0", "7", "31000", "K", "+", "-", "=", "x"};
    const HeapSizeKb sizes[] = {0, 8, 4096, 4294967295u};
    srand(20261208);
    int replacedCount = 0;
    for (int round = 0; round < 20000; round++) {
        std::string ascii;
        for (int i = rand() % 3; i > 0; i--)
            ascii += pieces[static_cast<size_t>(rand()) % (sizeof pieces / sizeof pieces[0])];
        if (rand() % 4 != 0)
            ascii += "SharedSection=";
        for (int i = rand() % 7; i > 0; i--)
            ascii += pieces[static_cast<size_t>(rand()) % (sizeof pieces / sizeof pieces[0])];
        WideString text = Widen(ascii);
        uint32_t dataBytes = static_cast<uint32_t>(text.size() * 2 + static_cast<size_t>(rand() % 3));
        HeapSizeKb newSizeKb = sizes[rand() % 4];
        bool replaced = false;
        std::string broken = CheckReplaceHeapSize(text.data(), text.size(), dataBytes, newSizeKb, &replaced);
        ASSERT_EQ("", broken) << ascii << " (" << dataBytes << " bytes) -> " << newSizeKb;
        replacedCount += replaced ? 1 : 0;
    }
    EXPECT_GT(replacedCount, 300); // the generator does reach the rewrite
}

} // namespace
