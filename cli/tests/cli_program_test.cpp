// The console companion in-process, for what cannot be caused from outside:
// a store the platform refuses, a key that goes between the read and the
// write, and a subsystem process that Wine cannot give (protected, of
// another bitness). The registry and the processes are in-memory fakes.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli_program.h"
#include "fake_event_log.h"
#include "fake_processes.h"
#include "fake_system.h"
#include "machine_state.h"
#include "morvanta_windows.h"
#include "subsystem_process.h"
#include "system_log.h"

namespace {

typedef std::vector<std::string> Log;

class CliProgram : public testing::Test {
  protected:
    HANDLE hNul = INVALID_HANDLE_VALUE;
    HANDLE hOut = NULL, hErr = NULL;

    void SetUp() override
    {
        InstallFakeSystem(TypicalValue());
        InstallFakeEventLog();
        // The program's lines go nowhere: only its exit code and effects count here.
        hOut = GetStdHandle(STD_OUTPUT_HANDLE);
        hErr = GetStdHandle(STD_ERROR_HANDLE);
        hNul = CreateFileW(L"NUL", GENERIC_WRITE, 0, NULL, OPEN_EXISTING, 0, NULL);
        SetStdHandle(STD_OUTPUT_HANDLE, hNul);
        SetStdHandle(STD_ERROR_HANDLE, hNul);
    }
    void TearDown() override
    {
        SetStdHandle(STD_OUTPUT_HANDLE, hOut);
        SetStdHandle(STD_ERROR_HANDLE, hErr);
        if (hNul != INVALID_HANDLE_VALUE)
            CloseHandle(hNul);
        RemoveFakeEventLog();
        RemoveFakeSystem();
    }

    static int Set(const wchar_t *pszSize)
    {
        const wchar_t *argv[] = {L"MorvantaCli.exe", L"set", pszSize};
        return RunHeapSizeCommand(3, argv);
    }

    // status --json with its standard output and error read back.
    static int RunStatusJson(std::string *pOut, std::string *pErr)
    {
        const wchar_t *argv[] = {L"MorvantaCli.exe", L"status", L"--json"};
        HANDLE hOutRead = NULL, hOutWrite = NULL, hErrRead = NULL, hErrWrite = NULL;
        if (!CreatePipe(&hOutRead, &hOutWrite, NULL, 1 << 16) || !CreatePipe(&hErrRead, &hErrWrite, NULL, 1 << 16))
            return -1;
        SetStdHandle(STD_OUTPUT_HANDLE, hOutWrite);
        SetStdHandle(STD_ERROR_HANDLE, hErrWrite);
        int exitCode = RunHeapSizeCommand(3, argv);
        CloseHandle(hOutWrite);
        CloseHandle(hErrWrite);
        *pOut = ReadPipe(hOutRead);
        *pErr = ReadPipe(hErrRead);
        CloseHandle(hOutRead);
        CloseHandle(hErrRead);
        return exitCode;
    }
};

TEST_F(CliProgram, StoresInTheOrderOfTheDialogsApply)
{
    EXPECT_EQ(ERROR_SUCCESS_REBOOT_REQUIRED, Set(L"4096"));
    EXPECT_EQ(BytesOf(TypicalValue(L"1024,4096,512")), g_fake.data);
    EXPECT_EQ(Log({"open 1",
                   "probe",
                   "alloc 1",
                   "query",
                   "close",
                   "open 3",
                   "probe",
                   "alloc 2",
                   "query",
                   "alloc 3",
                   "set",
                   "free 3",
                   "free 2",
                   "close",
                   "free 1"}),
              g_fake.log);
    EXPECT_EQ(0, g_fake.openKeys);
}

TEST_F(CliProgram, WriteFailuresThatCannotBeCausedFromOutside)
{
    const struct {
        const char *name;
        LONG openStatusForWrite, setStatus;
        int exitCode;
    } cases[] = {
        {"the key is gone before the write", ERROR_FILE_NOT_FOUND, ERROR_SUCCESS, ERROR_INVALID_DATA},
        {"the store is refused", ERROR_SUCCESS, ERROR_WRITE_PROTECT, ERROR_WRITE_PROTECT},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        InstallFakeSystem(TypicalValue());
        g_fake.openStatusForWrite = c.openStatusForWrite;
        g_fake.setStatus = c.setStatus;
        EXPECT_EQ(c.exitCode, Set(L"4096"));
        EXPECT_EQ(BytesOf(TypicalValue()), g_fake.data);
        EXPECT_EQ(0, g_fake.openKeys);
    }
}

TEST_F(CliProgram, StatusOfWhatWineCannotShow)
{
    const char kConfigured[] = "{\"configured\":{\"sharedKb\":1024,\"interactiveKb\":3072,\"nonInteractiveKb\":512},";
    const char kUnknown[] = "\"inEffect\":null,\"restartPending\":null,\"sinceStart\":null}\r\n";
    const char kEventsDenied[] = "MorvantaCli: the events since the last start are unknown: this account may not read "
                                 "the System log; run as an administrator or as a member of Event Log Readers.\r\n";
    // A name from the log goes into the JSON escaped, whatever it holds.
    const ULONGLONG start = g_fakeEventLog.startTime;
    const std::string sinceStart =
        "\"sinceStart\":{\"start\":\"" + LogTimeText(start, true) +
        "\",\"heapAllocationFailed\":{\"count\":0,\"last\":null},\"desktopCreationFailed\":{\"count\":0,\"last\":"
        "null},\"sizesRejected\":{\"count\":1,\"last\":\"" +
        LogTimeText(start + 70 * 10000000ull, true) + "\"},\"startFailures\":{\"count\":1,\"last\":\"" +
        LogTimeText(start + 80 * 10000000ull, true) + "\",\"programs\":[\"say \\\"hi\\\"\\\\.exe\"]}}";
    const struct {
        const char *name;
        void (*pfnChange)();
        int exitCode;
        std::string out, err;
    } cases[] = {
        {"the protected process of Windows 8.1",
         [] {
             g_fakeEventLog.events = {{L"Application Popup",
                                       26,
                                       80,
                                       {L"say \"hi\"\\.exe - Application Error", L"(0xc0000142)"},
                                       kEventWhole},
                                      {L"Microsoft-Windows-Win32k", 1046, 70, {}, kEventWhole}};
         },
         ERROR_SUCCESS_REBOOT_REQUIRED,
         std::string(kConfigured) +
             "\"inEffect\":{\"sharedKb\":1024,\"interactiveKb\":4096,\"nonInteractiveKb\":768},"
             "\"restartPending\":true," +
             sinceStart + "}\r\n",
         ""},
        {"access refused",
         [] {
             g_fakeProcesses.processes[0].refusesOpen = true;
             g_fakeEventLog.queryAnswer = kQueryDenied;
         },
         ERROR_NOT_FOUND,
         std::string(kConfigured) + kUnknown,
         "MorvantaCli: the sizes in effect are unknown: the Windows subsystem process refused access; run from an "
         "elevated prompt (before Windows 8.1, as SYSTEM).\r\n" +
             std::string(kEventsDenied)},
        {"another bitness before Windows 8.1",
         [] {
             g_fakeProcesses.processes[0].answer = kAnswerInvalidClass;
             g_fakeProcesses.processes[0].wow64 = true;
             g_fakeEventLog.events = {{L"Win32k", 243, 10, {}, kEventRenderFails}};
         },
         ERROR_NOT_FOUND,
         std::string(kConfigured) + kUnknown,
         "MorvantaCli: the sizes in effect are unknown: this Windows gives the command line of the Windows subsystem "
         "process only from that process's memory, which a program of another bitness cannot read soundly.\r\n"
         "MorvantaCli: the events since the last start are unknown: the System log could not be read to the end.\r\n"},
        {"Windows XP",
         [] {
             g_processApi.pfnQueryFullProcessImageNameW = NULL;
             g_eventLogApi.pfnGetTickCount64 = NULL;
             g_eventLogApi.pfnLookup = NULL;
         },
         ERROR_NOT_FOUND,
         std::string(kConfigured) + kUnknown,
         "MorvantaCli: the sizes in effect are unknown: this version of Windows lacks what reading them needs "
         "(Windows Vista or later).\r\n"
         "MorvantaCli: the events since the last start are unknown: reading them needs the Windows Event Log "
         "(Windows Vista or later).\r\n"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        InstallFakeProcesses();
        InstallFakeEventLog();
        g_fakeEventLog.startTime = start;
        c.pfnChange();
        std::string out, err;
        EXPECT_EQ(c.exitCode, RunStatusJson(&out, &err));
        EXPECT_EQ(c.out, out);
        EXPECT_EQ(c.err, err);
        EXPECT_EQ(BytesOf(TypicalValue()), g_fake.data);
        EXPECT_EQ(0, g_fakeProcesses.openHandles);
        EXPECT_EQ(0, g_fakeEventLog.openHandles);
        RemoveFakeProcesses();
    }
}

} // namespace
