// The desktop heap events since the start: which events count, the program
// out of a popup, the tallies and the verdicts, and the JSON text of a name.
#include <gtest/gtest.h>

#include <string.h>

#include <vector>

#include "heap_events.h"
#include "wide_text.h"

namespace {

const uint64_t kStart = 134000000000000000ull; // a start in FILETIME ticks
const uint64_t kMinute = 600000000ull;

TEST(HeapEvents, KindByProviderAndId)
{
    const struct {
        const char *provider;
        uint32_t id;
        HeapEventKind kind;
    } rows[] = {
        {"Win32k", 243, kHeapAllocationFailed},
        {"Microsoft-Windows-Win32k", 243, kHeapAllocationFailed},
        {"WIN32K", 244, kDesktopCreationFailed},
        {"Microsoft-Windows-Win32k", 244, kDesktopCreationFailed},
        {"Win32k", 1046, kSizesRejected},
        {"Application Popup", 26, kStartFailure},
        {"Win32k", 26, kNotHeapEvent},
        {"Application Popup", 243, kNotHeapEvent},
        {"Win32k", 245, kNotHeapEvent},
        {"Win32", 243, kNotHeapEvent},
        {"Win32kx", 243, kNotHeapEvent},
        {"Microsoft-Windows-Win32k ", 243, kNotHeapEvent},
        {"", 243, kNotHeapEvent},
        {"Win32k", 243 + 65536, kNotHeapEvent},
    };
    for (const auto &row : rows) {
        EXPECT_EQ(row.kind, ClassifyHeapEvent(Widen(row.provider).c_str(), row.id)) << row.provider << " " << row.id;
    }
}

TEST(HeapEvents, StartFailureAndItsProgram)
{
    const char kMessage[] = "The application was unable to start correctly (0xc0000142). Click OK to close.";
    const struct {
        const char *name;
        std::vector<const char *> data; // NULL: a value that is not a string
        bool counts;
        const char *program;
    } rows[] = {
        {"the popup as Windows writes it", {"worker.exe - Application Error", kMessage}, true, "worker.exe"},
        {"upper case status", {"node.exe - Application Error", "(0XC0000142)"}, true, "node.exe"},
        {"mixed case status", {"a.exe - x", "0xC0000142"}, true, "a.exe"},
        {"the status in the caption", {"b.exe - 0xc0000142"}, true, "b.exe"},
        {"a copied program keeps its own dash",
         {"worker - Copy.exe - Application Error", kMessage},
         true,
         "worker - Copy.exe"},
        {"another language", {"worker.exe - Anwendungsfehler", kMessage}, true, "worker.exe"},
        {"a caption without the dash", {"worker.exe", kMessage}, true, ""},
        {"a caption with a dash only at its start", {" - Application Error", kMessage}, true, ""},
        {"a dash without spaces", {"worker-x.exe-Application Error", kMessage}, true, ""},
        {"a name with a line break", {"bad\r\nname.exe - Application Error", kMessage}, true, ""},
        {"a name with a tab", {"bad\tname.exe - Application Error", kMessage}, true, ""},
        {"a name with another control character", {"bad\x1fname.exe - Application Error", kMessage}, true, ""},
        {"an empty caption", {"", kMessage}, true, ""},
        {"a caption that is no string", {NULL, kMessage}, true, ""},
        {"another status", {"worker.exe - Application Error", "(0xc0000005)"}, false, ""},
        {"a status with a digit short", {"worker.exe - x", "0xc000014"}, false, ""},
        {"a status of other digits", {"worker.exe - x", "0xc0000143"}, false, ""},
        {"no data", {}, false, ""},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        std::vector<WideString> texts;
        for (const char *psz : row.data)
            texts.push_back(Widen(psz != NULL ? psz : ""));
        std::vector<const WideChar *> data;
        for (size_t i = 0; i < texts.size(); i++)
            data.push_back(row.data[i] != NULL ? texts[i].c_str() : NULL);
        WideChar szProgram[kProgramNameChars];
        memset(szProgram, 0x55, sizeof szProgram); // what the call must overwrite
        EXPECT_EQ(row.counts, ReadStartFailure(data.data(), data.size(), szProgram));
        EXPECT_EQ(row.program, Narrow(WideString(szProgram)));
    }
}

TEST(HeapEvents, LongestProgramNameThatFits)
{
    WideString fits(kProgramNameChars - 1, 'a'), tooLong(kProgramNameChars, 'a');
    WideString fitsCaption = fits + Widen(" - x 0xc0000142"), longCaption = tooLong + Widen(" - x 0xc0000142");
    const WideChar *fitsData[] = {fitsCaption.c_str()}, *longData[] = {longCaption.c_str()};
    WideChar szProgram[kProgramNameChars] = {};
    EXPECT_TRUE(ReadStartFailure(fitsData, 1, szProgram));
    EXPECT_EQ(fits, WideString(szProgram));
    EXPECT_TRUE(ReadStartFailure(longData, 1, szProgram));
    EXPECT_EQ(WideString(), WideString(szProgram));
}

struct Logged {
    HeapEventKind kind;
    int64_t minutesAfterStart;
    const char *program;
};

HeapEventsSinceStart Count(const std::vector<Logged> &events)
{
    HeapEventsSinceStart counted = {};
    counted.startTime = kStart;
    for (const Logged &event : events) {
        uint64_t time = kStart + static_cast<uint64_t>(event.minutesAfterStart * static_cast<int64_t>(kMinute));
        CountHeapEvent(&counted, event.kind, time, Widen(event.program).c_str());
    }
    return counted;
}

std::vector<std::string> Programs(const HeapEventsSinceStart &counted)
{
    std::vector<std::string> names;
    for (size_t i = 0; i < counted.programCount; i++)
        names.push_back(Narrow(WideString(counted.programs[i])));
    return names;
}

TEST(HeapEvents, TalliesSinceTheStart)
{
    // Newest first, as the query returns them.
    HeapEventsSinceStart counted = Count({
        {kStartFailure, 300, "worker.exe"},
        {kHeapAllocationFailed, 200, ""},
        {kStartFailure, 150, "node.exe"},
        {kStartFailure, 120, "Worker.exe"},
        {kHeapAllocationFailed, 100, ""},
        {kDesktopCreationFailed, 0, ""},
        {kStartFailure, 50, ""},
        {kHeapAllocationFailed, -1, ""},
        {kSizesRejected, -600, ""},
        {kStartFailure, -5, "before.exe"},
        {kNotHeapEvent, 10, ""},
    });
    EXPECT_EQ(2u, counted.tallies[kHeapAllocationFailed].count);
    EXPECT_EQ(kStart + 200 * kMinute, counted.tallies[kHeapAllocationFailed].lastTime);
    EXPECT_EQ(1u, counted.tallies[kDesktopCreationFailed].count) << "an event at the start itself counts";
    EXPECT_EQ(kStart, counted.tallies[kDesktopCreationFailed].lastTime);
    EXPECT_EQ(0u, counted.tallies[kSizesRejected].count);
    EXPECT_EQ(0u, counted.tallies[kSizesRejected].lastTime);
    EXPECT_EQ(4u, counted.tallies[kStartFailure].count);
    EXPECT_EQ(kStart + 300 * kMinute, counted.tallies[kStartFailure].lastTime);
    EXPECT_EQ(std::vector<std::string>({"worker.exe", "node.exe"}), Programs(counted));
}

TEST(HeapEvents, LastTimeIsTheLatestInAnyOrder)
{
    HeapEventsSinceStart counted = Count({{kSizesRejected, 1, ""}, {kSizesRejected, 9, ""}, {kSizesRejected, 4, ""}});
    EXPECT_EQ(3u, counted.tallies[kSizesRejected].count);
    EXPECT_EQ(kStart + 9 * kMinute, counted.tallies[kSizesRejected].lastTime);
}

TEST(HeapEvents, AtMostEightProgramsNewestFirst)
{
    std::vector<Logged> events;
    const char *names[] = {
        "p1.exe", "p2.exe", "p1.exe", "p3.exe", "p4.exe", "p5.exe", "p6.exe", "p7.exe", "p8.exe", "p9.exe", "p2.exe"};
    int minutes = 100;
    for (const char *pszName : names)
        events.push_back({kStartFailure, minutes--, pszName});
    HeapEventsSinceStart counted = Count(events);
    EXPECT_EQ(11u, counted.tallies[kStartFailure].count) << "every failure counts, listed or not";
    EXPECT_EQ(
        std::vector<std::string>({"p1.exe", "p2.exe", "p3.exe", "p4.exe", "p5.exe", "p6.exe", "p7.exe", "p8.exe"}),
        Programs(counted));
}

TEST(HeapEvents, Verdicts)
{
    const struct {
        const char *name;
        std::vector<Logged> events;
        unsigned verdicts;
    } rows[] = {
        {"nothing", {}, kVerdictNoEvent},
        {"only events before the start", {{kHeapAllocationFailed, -1, ""}}, kVerdictNoEvent},
        {"a 243", {{kHeapAllocationFailed, 1, ""}}, kVerdictHeapRanOut},
        {"a 244", {{kDesktopCreationFailed, 1, ""}}, kVerdictDesktopNotCreated},
        {"a 1046", {{kSizesRejected, 1, ""}}, kVerdictSizesRejected},
        {"start failures alone", {{kStartFailure, 1, "a.exe"}}, kVerdictStartFailures},
        {"start failures with a 243",
         {{kStartFailure, 2, "a.exe"}, {kHeapAllocationFailed, 1, ""}},
         kVerdictHeapRanOut},
        {"start failures with a 244",
         {{kStartFailure, 2, "a.exe"}, {kDesktopCreationFailed, 1, ""}},
         kVerdictDesktopNotCreated | kVerdictStartFailures},
        {"all four",
         {{kStartFailure, 4, ""},
          {kSizesRejected, 3, ""},
          {kDesktopCreationFailed, 2, ""},
          {kHeapAllocationFailed, 1, ""}},
         kVerdictHeapRanOut | kVerdictDesktopNotCreated | kVerdictSizesRejected},
    };
    for (const auto &row : rows) {
        EXPECT_EQ(row.verdicts, ChooseHeapVerdicts(Count(row.events))) << row.name;
    }
}

TEST(HeapEvents, JsonTextOfAName)
{
    const struct {
        WideString text;
        size_t cchDest;
        bool fits;
        const char *json;
    } rows[] = {
        {Widen("worker.exe"), 16, true, "worker.exe"},
        {Widen("a\"b\\c"), 16, true, "a\\\"b\\\\c"},
        {Widen("tab\tnl\n") + WideChar(0x1f), 32, true, "tab\\u0009nl\\u000a\\u001f"},
        {WideString(1, WideChar(0xe9)), 2, true, "\\u00E9"}, // kept as it is: Narrow shows it so
        {Widen("worker.exe"), 11, true, "worker.exe"},
        {Widen("worker.exe"), 10, false, ""},
        {Widen("a\\"), 3, false, ""},
        {Widen("\t"), 7, true, "\\u0009"},
        {Widen("\t"), 6, false, ""},
        {Widen(""), 1, true, ""},
    };
    for (const auto &row : rows) {
        std::vector<WideChar> dest(row.cchDest + 1, WideChar('#'));
        EXPECT_EQ(row.fits, EscapeJsonText(row.text.c_str(), dest.data(), row.cchDest)) << Narrow(row.text);
        EXPECT_EQ(row.json, Narrow(WideString(dest.data()))) << Narrow(row.text);
        EXPECT_EQ(WideChar('#'), dest[row.cchDest]) << "written past the buffer: " << Narrow(row.text);
    }
}

} // namespace
