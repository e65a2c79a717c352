// The heap field codec over command lines real and odd. Every row is also
// put to the independent model (heap_size_model.h), so the literal
// expectations here check the model as much as the codec.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <vector>

#include "heap_size_field.h"
#include "heap_size_model.h"
#include "wide_text.h"

namespace {

const char kXpValue[] =
    "%SystemRoot%\\system32\\csrss.exe ObjectDirectory=\\Windows SharedSection=1024,3072,512 Windows=On "
    "SubSystemType=Windows ServerDll=basesrv,1 ServerDll=winsrv:UserServerDllInitialization,3 "
    "ServerDll=winsrv:ConServerDllInitialization,2 ProfileControl=Off MaxRequestThreads=16";
const char kWin10Value[] =
    "%SystemRoot%\\system32\\csrss.exe ObjectDirectory=\\Windows SharedSection=1024,20480,768 Windows=On "
    "SubSystemType=Windows ServerDll=basesrv,1 ServerDll=winsrv:UserServerDllInitialization,3 "
    "ServerDll=sxssrv,4 ProfileControl=Off MaxRequestThreads=16";

// The registry's data size of a text stored with its terminator.
uint32_t WithTerminator(const WideString &text)
{
    return static_cast<uint32_t>((text.size() + 1) * 2);
}

CodecJudgement Judge(const WideString &data, uint32_t dataBytes, HeapSizeKb newSizeKb, bool failAllocation = false)
{
    CodecCall call = {data, dataBytes, newSizeKb, failAllocation};
    return JudgeCodec(call);
}

// A text, the size ReadHeapSize finds in it, and what ReplaceHeapSize makes
// of it with the new size (NULL: the rewrite is refused).
struct FieldCase {
    const char *text;
    HeapSizeKb size;
    HeapSizeKb newSizeKb;
    const char *result;
};

TEST(HeapSizeField, ReadAndRewriteFollowTheFieldRules)
{
    std::string xpAfter = kXpValue, win10After = kWin10Value;
    xpAfter.replace(xpAfter.find("3072"), 4, "12288");
    win10After.replace(win10After.find("20480"), 5, "4096");
    const FieldCase cases[] = {
        {kXpValue, 3072, 12288, xpAfter.c_str()},
        {kWin10Value, 20480, 4096, win10After.c_str()},
        {"", 0, 4096, NULL},
        {"Windows=On", 0, 4096, NULL},
        {"sharedsection=1024,3072,512", 0, 4096, NULL},                                         // case matters
        {"SharedSection =1024,3072,512", 0, 4096, NULL},                                        // space before '='
        {"xSharedSection=1,2 SharedSection=3,4", 2, 9, "xSharedSection=1,9 SharedSection=3,4"}, // glued; first
        {"a SharedSection=1024,3072,512 b=c", 3072, 4096, "a SharedSection=1024,4096,512 b=c"},
        {"SharedSection=1024,3072", 3072, 4096, "SharedSection=1024,4096"},
        {"SharedSection=1024,3072 Windows=On", 3072, 4096, "SharedSection=1024,4096 Windows=On"},
        {"SharedSection=1,3072,5,6,7 x", 3072, 4096, "SharedSection=1,4096,5,6,7 x"},
        {"SharedSection=1024 x,3072", 0, 4096, NULL}, // first number ended by a space
        {"SharedSection=1024", 0, 4096, NULL},        // ... or by the end
        {"SharedSection=1024,", 0, 4096, NULL},
        {"SharedSection=,3072", 3072, 4096, "SharedSection=,4096"},
        {"SharedSection=1k=x\t,3072", 3072, 4096, "SharedSection=1k=x\t,4096"}, // a tab does not stop the search
        {"SharedSection=1024,\t\n\v\f\r 3072", 3072, 4096, NULL},               // the conversion skips white space
        {"SharedSection=1024,+3072", 3072, 4096, NULL},
        {"SharedSection=1024,-3072", 4294964224u, 4096, NULL},
        {"SharedSection=1024,+-3072", 0, 4096, NULL}, // one sign at most
        {"SharedSection=1024,,512", 0, 4096, NULL},
        {"SharedSection=1024,x3072", 0, 4096, NULL},
        {"SharedSection=1024,3072K,512", 3072, 4096, "SharedSection=1024,4096,512"},
        {"SharedSection=1024,3\t7 x", 3, 4096, "SharedSection=1024,4096 x"}, // the run to a stop goes
        {"SharedSection=1024,0003072", 3072, 4096, "SharedSection=1024,4096"},
        {"SharedSection=1024,000,512", 0, 4096, "SharedSection=1024,4096,512"}, // the old value is not judged
        {"SharedSection=1024,7", 7, 4294967295u, "SharedSection=1024,4294967295"},
        {"SharedSection=1024,31000,512", 31000, 8, "SharedSection=1024,8,512"},
        {"SharedSection=1024,3072", 3072, 0, "SharedSection=1024,0"},
        {"SharedSection=1024,4294967295", 4294967295u, 1, "SharedSection=1024,1"},
        {"SharedSection=1024,4294967296", 4294967295u, 4096, "SharedSection=1024,4096"},
        {"SharedSection=1024,99999999999", 4294967295u, 4096, "SharedSection=1024,4096"},
        {"SharedSection=1024,4294967290", 4294967290u, 4096, "SharedSection=1024,4096"},
        {"SharedSection=1024,429496729x", 429496729u, 4096, "SharedSection=1024,4096"},
        {"SharedSection=1024,-1", 4294967295u, 4096, NULL},
        {"SharedSection=1024,-0", 0, 4096, NULL},
        {"SharedSection=1024,-99999999999", 1, 4096, NULL}, // saturates, then negates
        {"SharedSection=1024,-", 0, 4096, NULL},
    };
    for (const FieldCase &c : cases) {
        SCOPED_TRACE(testing::Message() << c.text << " -> " << c.newSizeKb);
        WideString text = Widen(c.text);
        ModelVerdict model = ModelHeapSize(text, WithTerminator(text), c.newSizeKb);
        EXPECT_EQ(c.size, model.size);
        EXPECT_EQ(c.result != NULL, model.heapField.hasDigitField && model.heapField.fits);
        if (c.result != NULL) {
            EXPECT_EQ(Narrow(Widen(c.result)), Narrow(model.heapField.rewritten));
        }
        CodecJudgement judgement = Judge(text, WithTerminator(text), c.newSizeKb); // the codec against the model
        EXPECT_EQ("", judgement.broken);
        EXPECT_EQ(c.size, judgement.size);
        EXPECT_EQ(c.result != NULL, judgement.replaced);
    }
}

// A text, its three numbers, and what ReplaceNonInteractiveHeapSize makes
// of it with the new size (NULL: refused).
struct SizesCase {
    const char *text;
    HeapSizeKb sharedKb, interactiveKb, nonInteractiveKb;
    HeapSizeKb newSizeKb;
    const char *result;
};

TEST(SharedSectionSizes, ReadAllThreeAndRewriteTheThird)
{
    std::string xpAfter = kXpValue;
    xpAfter.replace(xpAfter.find(",512"), 4, ",1024");
    const SizesCase cases[] = {
        {kXpValue, 1024, 3072, 512, 1024, xpAfter.c_str()},
        {"SharedSection=1024,3072,512", 1024, 3072, 512, 1024, "SharedSection=1024,3072,1024"},
        {"SharedSection=1024,3072 Windows=On", 1024, 3072, 3072, 4096, "SharedSection=1024,3072,4096 Windows=On"},
        {"SharedSection=1024,3072", 1024, 3072, 3072, 4294967295u, "SharedSection=1024,3072,4294967295"},
        {"SharedSection=1024,3072K", 1024, 3072, 3072, 8, "SharedSection=1024,3072K,8"}, // after the whole run
        {"SharedSection=1024,3072,512,9 x", 1024, 3072, 512, 768, "SharedSection=1024,3072,768,9 x"},
        {"SharedSection=1024,3072,512K x", 1024, 3072, 512, 768, "SharedSection=1024,3072,768 x"},
        {"SharedSection=1024,3072,0005", 1024, 3072, 5, 768, "SharedSection=1024,3072,768"},
        {"SharedSection=1024,3072,0", 1024, 3072, 0, 768, "SharedSection=1024,3072,768"}, // 0 is not judged
        {"SharedSection=1024,3072,", 1024, 3072, 0, 768, NULL},                           // an empty third
        {"SharedSection=1024,3072,,512", 1024, 3072, 0, 768, NULL},
        {"SharedSection=1024,3072, 512", 1024, 3072, 512, 768, NULL}, // read like the heap field, not rewritten
        {"SharedSection=1024,3072,+512", 1024, 3072, 512, 768, NULL},
        {"SharedSection=1024,3072,-1", 1024, 3072, 4294967295u, 768, NULL},
        {"SharedSection=1024,3072,99999999999", 1024, 3072, 4294967295u, 768, "SharedSection=1024,3072,768"},
        {"SharedSection=1024,,512", 1024, 0, 512, 768, "SharedSection=1024,,768"},
        {"SharedSection=1024,+3072", 1024, 3072, 3072, 768, NULL},     // nothing goes after a malformed field
        {"SharedSection=1024, 3072,512", 1024, 3072, 3072, 768, NULL}, // a space ends SharedSection
        {"SharedSection=1024,", 1024, 0, 0, 768, NULL},
        {"SharedSection=1024 x,3,4", 1024, 0, 0, 768, NULL},
        {"SharedSection=,3072,512", 0, 3072, 512, 768, "SharedSection=,3072,768"},
        {"SharedSection=\t+1024k,3072,512", 1024, 3072, 512, 768, "SharedSection=\t+1024k,3072,768"},
        {"SharedSection= 7,3072,512", 7, 0, 0, 768, NULL},
        {"SharedSection=99999999999,1,2", 4294967295u, 1, 2, 3, "SharedSection=99999999999,1,3"},
        {"sharedsection=1024,3072,512", 0, 0, 0, 768, NULL},
        {"xSharedSection=1,2,3 SharedSection=4,5,6", 1, 2, 3, 9, "xSharedSection=1,2,9 SharedSection=4,5,6"},
    };
    for (const SizesCase &c : cases) {
        SCOPED_TRACE(testing::Message() << c.text << " -> " << c.newSizeKb);
        WideString text = Widen(c.text);
        ModelVerdict model = ModelHeapSize(text, WithTerminator(text), c.newSizeKb);
        EXPECT_EQ(c.sharedKb, model.sharedKb);
        EXPECT_EQ(c.interactiveKb, model.size);
        EXPECT_EQ(c.nonInteractiveKb, model.nonInteractiveKb);
        EXPECT_EQ(c.result != NULL, model.thirdNumber.hasDigitField && model.thirdNumber.fits);
        if (c.result != NULL) {
            EXPECT_EQ(Narrow(Widen(c.result)), Narrow(model.thirdNumber.rewritten));
        }
        CodecJudgement judgement = Judge(text, WithTerminator(text), c.newSizeKb);
        EXPECT_EQ("", judgement.broken);
        EXPECT_EQ(c.nonInteractiveKb, judgement.sizes.nonInteractiveKb);
        EXPECT_EQ(c.result != NULL, judgement.thirdReplaced);
    }
}

TEST(ReadHeapSize, NonAsciiIsNeitherDigitNorSpace)
{
    // Fullwidth digit, Arabic-Indic digit, no-break space, ideographic space.
    const WideChar kOthers[] = {0xFF13, 0x0663, 0x00A0, 0x3000};
    for (WideChar other : kOthers) {
        SCOPED_TRACE(testing::Message() << std::hex << static_cast<unsigned>(other));
        WideString text = Widen("SharedSection=1024,") + other + Widen("3072");
        CodecJudgement judgement = Judge(text, WithTerminator(text), 4096);
        EXPECT_EQ("", judgement.broken);
        EXPECT_EQ(0u, judgement.size);
        EXPECT_FALSE(judgement.replaced);
    }
}

struct DataSizeCase {
    const char *name;
    const char *text;
    uint32_t dataBytes;
    bool failAllocation;
    bool replaced;
    bool thirdReplaced; // a third number inserted needs one character more, and the comma
};

TEST(ReplaceHeapSize, DataSizesAndAllocation)
{
    // kShort has 20 characters; with a ten-digit size the result needs 30
    // characters and its terminator, so dataBytes / 2 + 11 must reach 30.
    const char kShort[] = "SharedSection=1024,7";
    const DataSizeCase cases[] = {
        {"stored with its terminator", kShort, 42, false, true, true},
        {"stored without a terminator", kShort, 40, false, true, true},
        {"odd count, last unit half data", kShort, 39, false, true, true},
        {"odd count past the terminator", kShort, 43, false, true, true},
        {"understated: the rewrite would be cut", "SharedSection=1024,7,512 Windows=On", 20, false, false, false},
        {"understated by one character too many", kShort, 37, false, false, false},
        {"understated, yet the result fits", kShort, 38, false, true, true},
        {"allocation fails", kShort, 42, true, false, false},
        {"capacity at the limit is asked for", kShort, 0xFFFFFFE9u, false, false, false},
        {"capacity above the limit is refused", kShort, 0xFFFFFFEAu, false, false, false},
        {"largest data size", kShort, 0xFFFFFFFFu, false, false, false},
    };
    for (const DataSizeCase &c : cases) {
        SCOPED_TRACE(c.name);
        CodecJudgement judgement = Judge(Widen(c.text), c.dataBytes, 4294967295u, c.failAllocation);
        EXPECT_EQ("", judgement.broken);
        EXPECT_EQ(c.replaced, judgement.replaced);
        EXPECT_EQ(c.thirdReplaced, judgement.thirdReplaced);
    }
}

// Texts assembled from pieces chosen to meet the field rules at their corners.
const char *const kLeads[] = {"", "x", "%SystemRoot%\\system32\\csrss.exe ", "Windows=On ", ",1 "};
const char *const kKeywords[] = {"SharedSection=",
                                 "SharedSection=",
                                 "SharedSection=",
                                 "sharedsection=",
                                 "SHAREDSECTION=",
                                 "SharedSection ",
                                 "SharedSection:",
                                 "SharedSection =",
                                 "Shared Section=",
                                 "SharedSectio=",
                                 "xSharedSection=",
                                 "SharedSection==",
                                 "SharedSection=SharedSection=",
                                 ""};
const char *const kFirstPieces[] = {"1024", "", "\t", "=", "k", ",", " ", "0", "-"};
const char *const kSeparators[] = {",", ",", ",", " ", "", ",,", ", "};
const char *const kSigns[] = {"", "", "", "+", "-", " ", "\t", "+-", "\n"};
const char *const kZeros[] = {"", "", "0", "000"};
const char *const kNumbers[] = {
    "7", "3072", "20480", "4294967295", "4294967296", "429496729", "4294967290", "99999999999", "0", ""};
const char *const kTails[] = {"", "", "K", "\t7", "x", "="};
const char *const kRests[] = {
    "", ",512", " Windows=On", ",512 SharedSection=1,2", ",", " ", ",512,9,8", ",,", ",0", ", 512", ",+512", ",512K x"};
const WideChar kOddUnits[] = {0x0663, 0xFF13, 0x00A0, 0x3000, 0xD800, 0};
const HeapSizeKb kNewSizes[] = {0, 1, 8, 4096, 12288, 429496729, 4294967295u};

template <size_t N> const char *Pick(const char *const (&pieces)[N])
{
    return pieces[static_cast<size_t>(rand()) % N];
}

TEST(ReplaceHeapSize, AgreesWithTheModelOverGeneratedTexts)
{
    srand(20261208);
    int replaced = 0, refused = 0, thirdReplaced = 0, thirdRefused = 0;
    for (int round = 0; round < 30000; round++) {
        std::string ascii = std::string(Pick(kLeads)) + Pick(kKeywords);
        for (int i = rand() % 3; i > 0; i--)
            ascii += Pick(kFirstPieces);
        ascii +=
            std::string(Pick(kSeparators)) + Pick(kSigns) + Pick(kZeros) + Pick(kNumbers) + Pick(kTails) + Pick(kRests);
        WideString text = Widen(ascii);
        if (rand() % 8 == 0) // a character outside ASCII, or a zero inside the data
            text.insert(static_cast<size_t>(rand()) % (text.size() + 1), 1, kOddUnits[rand() % 6]);

        uint32_t exact = static_cast<uint32_t>(text.size() * 2);
        const uint32_t dataSizes[] = {exact + 2, exact, exact - 1, exact + 1, exact / 2, exact + 40, 0xFFFFFFFFu};
        uint32_t dataBytes = dataSizes[rand() % 7];
        HeapSizeKb newSizeKb = rand() % 4 == 0 ? static_cast<HeapSizeKb>(rand()) * 7919u : kNewSizes[rand() % 7];
        CodecJudgement judgement = Judge(text, dataBytes, newSizeKb, rand() % 20 == 0);
        ASSERT_EQ("", judgement.broken) << Narrow(text) << " (" << dataBytes << " bytes) -> " << newSizeKb;
        (judgement.replaced ? replaced : refused)++;
        (judgement.thirdReplaced ? thirdReplaced : thirdRefused)++;
    }
    EXPECT_GT(replaced, 2000); // the generator reaches every outcome
    EXPECT_GT(refused, 2000);
    EXPECT_GT(thirdReplaced, 2000);
    EXPECT_GT(thirdRefused, 2000);
}

} // namespace
