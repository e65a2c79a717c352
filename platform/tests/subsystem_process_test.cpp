// The sizes in effect through the process binding, for what Wine cannot
// show: the command line query of Windows 8.1 and later with its protected
// subsystem process, the older parameters read from another bitness, and
// every refusal. Every row must close each handle and release each text.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "counting_text_heap.h"
#include "fake_processes.h"
#include "subsystem_process.h"

namespace {

FakeProcess &Subsystem()
{
    return g_fakeProcesses.processes[0];
}

// Windows before 8.1: no command line query; a caller with access to the
// process (LocalSystem) reads its parameters.
void BeforeWindows81()
{
    Subsystem().answer = kAnswerInvalidClass;
    Subsystem().protectedProcess = false;
}

FakeProcess Impostor(const std::wstring &imagePath, ULONG sessionId)
{
    FakeProcess impostor = Subsystem();
    impostor.pid = 700;
    impostor.imagePath = imagePath;
    impostor.sessionId = sessionId;
    impostor.commandLine = L"csrss.exe SharedSection=1,2,3";
    return impostor;
}

struct ReaderCase {
    const char *name;
    void (*pfnChange)();
    InEffectStatus status;
    bool readsMemory; // ReadProcessMemory is called at all
};

TEST(ReadSizesInEffect, FromTheSubsystemProcessOfThisSessionOnly)
{
    const ReaderCase cases[] = {
        {"Windows 8.1: the query, without PROCESS_VM_READ", [] {}, kInEffectRead, false},
        {"a command line longer than the first buffer",
         [] { Subsystem().commandLine += std::wstring(1200, L'x'); },
         kInEffectRead,
         false},
        {"path in other letter case",
         [] {
             std::transform(Subsystem().imagePath.begin(),
                            Subsystem().imagePath.end(),
                            Subsystem().imagePath.begin(),
                            [](wchar_t ch) { return ch >= L'a' && ch <= L'z' ? static_cast<wchar_t>(ch - 32) : ch; });
         },
         kInEffectRead,
         false},
        {"before 8.1: the parameters", BeforeWindows81, kInEffectRead, true},
        {"before 8.1, the query not implemented",
         [] {
             BeforeWindows81();
             Subsystem().answer = kAnswerNotImplemented;
         },
         kInEffectRead,
         true},
        {"before 8.1, another bitness",
         [] {
             BeforeWindows81();
             Subsystem().wow64 = true;
         },
         kInEffectOtherBitness,
         false},
        {"before 8.1, a 32-bit reader of a 64-bit process",
         [] {
             BeforeWindows81();
             g_fakeProcesses.ownWow64 = true;
         },
         kInEffectOtherBitness,
         false},
        {"before 8.1, both 32-bit on 64-bit Windows",
         [] {
             BeforeWindows81();
             g_fakeProcesses.ownWow64 = true;
             Subsystem().wow64 = true;
         },
         kInEffectRead,
         true},
        {"before 8.1, without access to its memory",
         [] {
             BeforeWindows81();
             Subsystem().protectedProcess = true;
         },
         kInEffectAccessDenied,
         true},
        {"the query refused: no fallback", [] { Subsystem().answer = kAnswerDenied; }, kInEffectAccessDenied, false},
        {"the query failing otherwise: no fallback",
         [] { Subsystem().answer = kAnswerFailure; },
         kInEffectUnreadable,
         false},
        {"the process refuses to open", [] { Subsystem().refusesOpen = true; }, kInEffectAccessDenied, false},
        {"an odd length", [] { Subsystem().damage = kOddLength; }, kInEffectUnreadable, false},
        {"an odd length in the parameters",
         [] {
             BeforeWindows81();
             Subsystem().damage = kOddLength;
         },
         kInEffectUnreadable,
         true},
        {"a string past what was returned", [] { Subsystem().damage = kOutsideAnswer; }, kInEffectUnreadable, false},
        {"no SharedSection=",
         [] { Subsystem().commandLine = L"csrss.exe Windows=On"; },
         kInEffectNoSharedSection,
         false},
        {"a shared heap size only: nothing of it kept",
         [] { Subsystem().commandLine = L"csrss.exe SharedSection=1024"; },
         kInEffectNoSharedSection,
         false},
        {"a command line that ends in its digits",
         [] { Subsystem().commandLine = L"csrss.exe SharedSection=1024,4096,768"; },
         kInEffectRead,
         false},
        {"only in another session", [] { Subsystem().sessionId = 0; }, kInEffectNotFound, false},
        {"this session's, not another's",
         [] {
             g_fakeProcesses.ownSessionId = 2;
             Subsystem().sessionId = 2;
             g_fakeProcesses.processes.insert(g_fakeProcesses.processes.begin(), Impostor(SubsystemImagePath(), 1));
         },
         kInEffectRead,
         false},
        {"only a csrss.exe elsewhere",
         [] { Subsystem().imagePath = L"C:\\Temp\\csrss.exe"; },
         kInEffectNotFound,
         false},
        {"a csrss.exe elsewhere first",
         [] { g_fakeProcesses.processes.insert(g_fakeProcesses.processes.begin(), Impostor(L"C:\\csrss.exe", 1)); },
         kInEffectRead,
         false},
        {"only a csrss.exe elsewhere with a path too long for the system directory",
         [] { Subsystem().imagePath = L"C:\\" + std::wstring(600, L'd') + L"\\csrss.exe"; },
         kInEffectNotFound,
         false},
        {"this process not listed", [] { g_fakeProcesses.ownListed = false; }, kInEffectUnreadable, false},
        {"a function missing", [] { g_processApi.pfnQueryFullProcessImageNameW = NULL; }, kInEffectNotSupported, false},
    };
    for (const ReaderCase &c : cases) {
        SCOPED_TRACE(c.name);
        InstallFakeProcesses();
        InstallCountingTextHeap(false);
        c.pfnChange();
        SharedSectionSizes sizes = {9, 9, 9};
        DWORD dwSessionId = 9;
        EXPECT_EQ(c.status, ReadSizesInEffect(&sizes, &dwSessionId));
        const bool read = c.status == kInEffectRead;
        EXPECT_EQ(read ? 1024u : 0u, sizes.sharedKb);
        EXPECT_EQ(read ? 4096u : 0u, sizes.interactiveKb);
        EXPECT_EQ(read ? 768u : 0u, sizes.nonInteractiveKb);
        EXPECT_EQ(read ? g_fakeProcesses.ownSessionId : 0u, dwSessionId);
        const std::vector<std::string> &log = g_fakeProcesses.log;
        EXPECT_EQ(c.readsMemory, std::find(log.begin(), log.end(), "read") != log.end());
        if (read) {
            // The copy has room for the terminator after the text the codec reads.
            const FakeProcess &subsystem = *std::find_if(
                g_fakeProcesses.processes.begin(), g_fakeProcesses.processes.end(), [](const FakeProcess &process) {
                    return process.commandLine.find(L"1024,4096,768") != std::wstring::npos;
                });
            EXPECT_EQ(subsystem.commandLine.size() + 1, g_textCounts.cchLast);
        }
        EXPECT_EQ(0, g_fakeProcesses.openHandles);
        EXPECT_EQ(g_textCounts.allocated, g_textCounts.released);
        RemoveCountingTextHeap();
        RemoveFakeProcesses();
    }
}

TEST(ReadSizesInEffect, OpensNoProcessOfAnotherSessionOrName)
{
    InstallFakeProcesses();
    Subsystem().sessionId = 2;
    g_fakeProcesses.processes.push_back(Impostor(SubsystemImagePath(), 1));
    g_fakeProcesses.processes.back().listName = L"csrss.exe.exe";
    SharedSectionSizes sizes = {};
    DWORD dwSessionId = 0;
    EXPECT_EQ(kInEffectNotFound, ReadSizesInEffect(&sizes, &dwSessionId));
    EXPECT_EQ(std::vector<std::string>(), g_fakeProcesses.log);
    RemoveFakeProcesses();
}

} // namespace
