// MorvantaCli.exe run from this driver as a deployment tool runs it: exit
// codes through GetExitCodeProcess (Wine's own launcher keeps only their low
// byte), standard output and error through pipes, and the value's bytes and
// type afterwards. Every row writes the real SubSystems key, so these run
// only under Wine and put everything back.
#include <windows.h>

#include <gtest/gtest.h>

#include <string.h>

#include <memory>
#include <string>

#include "fake_event_log.h"
#include "machine_state.h"
#include "morvanta_windows.h"

namespace {

struct CliRun {
    DWORD exitCode;
    std::string out, err;
    DWORD startError; // why the program could not be started or waited for
    DWORD elapsedMs;
};

// Runs MorvantaCli.exe with the arguments; without handles it gets no
// standard handles at all, as some agents and services start programs.
bool RunCli(const std::wstring &args, CliRun *pRun, bool withHandles = true)
{
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, NULL, TRUE};
    HANDLE hOutRead = NULL, hOutWrite = NULL, hErrRead = NULL, hErrWrite = NULL;
    if (!CreatePipe(&hOutRead, &hOutWrite, &inherit, 1 << 16) || !CreatePipe(&hErrRead, &hErrWrite, &inherit, 1 << 16))
        return false;
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = withHandles ? hOutWrite : NULL;
    startup.hStdError = withHandles ? hErrWrite : NULL;
    std::wstring commandLine = L"\"" + PathBesideThisProgram(L"MorvantaCli.exe") + L"\" " + args;
    PROCESS_INFORMATION process = {};
    DWORD dwStart = GetTickCount();
    bool ran = StartTestProcess(commandLine, NULL, TRUE, CREATE_NO_WINDOW, &startup, &process, &pRun->startError);
    CloseHandle(hOutWrite);
    CloseHandle(hErrWrite);
    if (ran) {
        if (WaitForSingleObject(process.hProcess, kWaitMs) != WAIT_OBJECT_0) {
            TerminateProcess(process.hProcess, 0xDEAD);
            WaitForSingleObject(process.hProcess, kWaitMs);
            ran = false;
            pRun->startError = WAIT_TIMEOUT;
        }
        GetExitCodeProcess(process.hProcess, &pRun->exitCode);
        pRun->out = ReadPipe(hOutRead);
        pRun->err = ReadPipe(hErrRead);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
    CloseHandle(hOutRead);
    CloseHandle(hErrRead);
    pRun->elapsedMs = GetTickCount() - dwStart;
    return ran;
}

std::string Utf8(const std::wstring &text)
{
    int cb = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), NULL, 0, NULL, NULL);
    std::string utf8(static_cast<size_t>(cb), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), &utf8[0], cb, NULL, NULL);
    return utf8;
}

bool DenyQuery()
{
    return SetSubsystemsKeyDacl(L"D:(D;;0x1;;;WD)(A;;KA;;;WD)");
}
bool DenySet()
{
    return SetSubsystemsKeyDacl(L"D:(D;;0x2;;;WD)(A;;KA;;;WD)");
}
bool OlderPlatform()
{
    return SetAppDefaultsVersion(L"MorvantaCli.exe", L"win98");
}

typedef BOOL(WINAPI *Wow64DisableProc)(PVOID *);
typedef BOOL(WINAPI *Wow64RevertProc)(PVOID);

// File system redirection turned off for a 32-bit test in a 64-bit prefix,
// so that the copy lands in, and the stand-in runs from, the real system
// directory; elsewhere the functions are missing or do nothing.
class SystemDirectoryAccess {
  public:
    SystemDirectoryAccess() : pOldValue_(NULL), disabled_(false)
    {
        Wow64DisableProc pfnDisable = Kernel32Function<Wow64DisableProc>("Wow64DisableWow64FsRedirection");
        disabled_ = pfnDisable != NULL && pfnDisable(&pOldValue_);
    }
    ~SystemDirectoryAccess()
    {
        Wow64RevertProc pfnRevert = Kernel32Function<Wow64RevertProc>("Wow64RevertWow64FsRedirection");
        if (disabled_ && pfnRevert != NULL)
            pfnRevert(pOldValue_);
    }
    SystemDirectoryAccess(const SystemDirectoryAccess &) = delete;
    SystemDirectoryAccess &operator=(const SystemDirectoryAccess &) = delete;

  private:
    template <typename Proc> static Proc Kernel32Function(const char *pszName)
    {
        return reinterpret_cast<Proc>(
            reinterpret_cast<void (*)(void)>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), pszName)));
    }
    PVOID pOldValue_;
    bool disabled_;
};

// A stand-in subsystem process, under Wine only: SubsystemStandIn.exe copied
// as csrss.exe into the system directory (or, to be ignored, into this
// program's folder), never over a file there, and started with the command
// line of TypicalValue(sharedSection). It is ended only through the handle
// its own start returned, never one found by a search, and the copy is
// deleted, whatever the outcome.
class StandInSubsystem {
  public:
    StandInSubsystem(const std::wstring &sharedSection, bool inSystemDirectory) : copied_(false), process_()
    {
        WCHAR szSystem[MAX_PATH] = {};
        if (!IsRunningUnderWine() || GetSystemDirectoryW(szSystem, MAX_PATH) == 0)
            return;
        path_ = (inSystemDirectory ? std::wstring(szSystem) + L"\\csrss.exe" : PathBesideThisProgram(L"csrss.exe"));
        std::wstring commandLine = TypicalValue(sharedSection);
        commandLine.replace(0, commandLine.find(L' '), path_);
        HANDLE hReady = CreateEventW(NULL, TRUE, FALSE, L"MorvantaSubsystemStandInReady");
        STARTUPINFOW startup = {};
        startup.cb = sizeof startup;
        SystemDirectoryAccess access;
        copied_ = CopyFileW(PathBesideThisProgram(L"SubsystemStandIn.exe").c_str(), path_.c_str(), TRUE) != FALSE;
        DWORD dwError = 0;
        if (copied_ && hReady != NULL &&
            StartTestProcess(commandLine, path_.c_str(), FALSE, CREATE_NO_WINDOW, &startup, &process_, &dwError))
            WaitForSingleObject(hReady, kWaitMs);
        if (hReady != NULL)
            CloseHandle(hReady);
    }
    ~StandInSubsystem()
    {
        if (process_.hProcess != NULL) {
            TerminateProcess(process_.hProcess, 0);
            WaitForSingleObject(process_.hProcess, kWaitMs);
            CloseHandle(process_.hThread);
            CloseHandle(process_.hProcess);
        }
        SystemDirectoryAccess access;
        if (copied_) {
            EXPECT_TRUE(PollUntil([this] { return DeleteFileW(path_.c_str()) != FALSE; })) << "csrss.exe left behind";
        }
    }
    StandInSubsystem(const StandInSubsystem &) = delete;
    StandInSubsystem &operator=(const StandInSubsystem &) = delete;

    bool IsRunning() const
    {
        return process_.hProcess != NULL && WaitForSingleObject(process_.hProcess, 0) == WAIT_TIMEOUT;
    }

  private:
    std::wstring path_;
    bool copied_;
    PROCESS_INFORMATION process_;
};

// The tests' own wevtapi.dll in the system folder in place of Wine's, or
// beside the programs, with its events file beside it, under Wine only;
// Wine's file is put back, or the copy beside the programs deleted, and the
// events file deleted whatever the outcome. A 32-bit test keeps file system
// redirection, so that the copy lands where a 32-bit program loads it.
class StandInEventLog {
  public:
    StandInEventLog(const std::string &lines, bool besidePrograms) : placed_(false), beside_(besidePrograms)
    {
        WCHAR szSystem[MAX_PATH] = {};
        if (!IsRunningUnderWine() || GetSystemDirectoryW(szSystem, MAX_PATH) == 0)
            return;
        path_ = beside_ ? PathBesideThisProgram(L"wevtapi.dll") : std::wstring(szSystem) + L"\\wevtapi.dll";
        placed_ = beside_ || MoveFileW(path_.c_str(), (path_ + L".wine").c_str()) != FALSE;
        if (!placed_ || !CopyFileW(PathBesideThisProgram(L"EventLogStandIn.dll").c_str(), path_.c_str(), !beside_))
            return;
        HANDLE hFile = CreateFileW(EventsPath().c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
        DWORD cbWritten = 0;
        ready_ = hFile != INVALID_HANDLE_VALUE &&
                 WriteFile(hFile, lines.data(), static_cast<DWORD>(lines.size()), &cbWritten, NULL) &&
                 cbWritten == lines.size();
        if (hFile != INVALID_HANDLE_VALUE)
            CloseHandle(hFile);
    }
    ~StandInEventLog()
    {
        if (!placed_)
            return;
        DeleteFileW(EventsPath().c_str());
        EXPECT_TRUE(PollUntil([this] {
            return beside_ ? DeleteFileW(path_.c_str()) != FALSE
                           : MoveFileExW((path_ + L".wine").c_str(), path_.c_str(), MOVEFILE_REPLACE_EXISTING) != FALSE;
        })) << "wevtapi.dll not put back as it was";
    }
    StandInEventLog(const StandInEventLog &) = delete;
    StandInEventLog &operator=(const StandInEventLog &) = delete;

    bool IsReady() const
    {
        return ready_;
    }

  private:
    std::wstring EventsPath() const
    {
        return path_.substr(0, path_.size() - 4) + L".events";
    }
    std::wstring path_;
    bool placed_;
    bool beside_;
    bool ready_ = false;
};

const char kEventsUnknown[] =
    "MorvantaCli: the events since the last start are unknown: the System log could not be queried.\r\n";
const char kEventsUnknownText[] = "Desktop heap allocation failures (event 243): unknown\r\n"
                                  "Desktops not created (event 244): unknown\r\n"
                                  "SharedSection sizes rejected (event 1046): unknown\r\n"
                                  "Programs that failed to start with 0xC0000142: unknown\r\n";

// The start of Windows in seconds since 1601, as now minus the uptime.
LONGLONG StartSeconds()
{
    FILETIME now = {};
    GetSystemTimeAsFileTime(&now);
    ULONGLONG nowTime = (static_cast<ULONGLONG>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
    return static_cast<LONGLONG>(nowTime / 10000000 - GetTickCount64() / 1000);
}

// A time of the log, in seconds since 1601, as the report gives it.
std::string UtcText(LONGLONG seconds, bool json)
{
    return LogTimeText(static_cast<ULONGLONG>(seconds) * 10000000, json);
}

// The start in a report becomes START when it lies within three seconds of
// the start as this test sees it: the program reads the clock a moment later.
void MaskStart(std::string *pOut)
{
    const LONGLONG startSeconds = StartSeconds();
    for (bool json : {true, false}) {
        const char *pszLead = json ? "\"start\":\"" : "Since Windows started at ";
        size_t at = pOut->find(pszLead);
        if (at == std::string::npos)
            continue;
        at += strlen(pszLead);
        for (LONGLONG delta = -3; delta <= 3; delta++) {
            std::string candidate = UtcText(startSeconds + delta, json);
            if (pOut->compare(at, candidate.size(), candidate) == 0) {
                pOut->replace(at, candidate.size(), "START");
                break;
            }
        }
    }
}

// Wine's own desktop, whose heap size it cannot give.
const char kWineDesktop[] = "{\"windowStation\":\"WinSta0\",\"desktop\":\"Default\",\"heapKb\":null,\"error\":87,"
                            "\"account\":null,\"current\":true}";
const char kWineDesktopLine[] = "This desktop: WinSta0\\Default: heap unknown (error 87).\r\n";

// The desktops of status --json become DESKTOPS where they are Wine's own
// desktop and a list that holds it: the other stations are Wine's services'.
void MaskDesktops(std::string *pOut)
{
    const std::string lead = std::string("\"desktop\":") + kWineDesktop + ",\"desktops\":[";
    size_t at = pOut->find(lead);
    size_t end = pOut->find("],", at);
    if (at == std::string::npos || end == std::string::npos ||
        pOut->substr(at + lead.size(), end - at - lead.size()).find(kWineDesktop) == std::string::npos)
        return;
    pOut->replace(at, end + 2 - at, "DESKTOPS,");
}

const char kUsage[] = "Usage: MorvantaCli";
const char kError[] = "MorvantaCli: ";

struct Row {
    const char *name;
    const wchar_t *args;
    std::wstring value; // seeded as REG_EXPAND_SZ; empty: no key at all
    bool (*pfnPrepare)();
    DWORD exitCode;
    std::string out;                   // exact, or the start of the usage text
    const char *err;                   // NULL: nothing; else how it starts
    std::wstring after;                // empty: the value as it was
    const wchar_t *standIn = NULL;     // a stand-in subsystem started with these SharedSection numbers
    bool standInElsewhere = false;     // ... as a csrss.exe outside the system directory
    const char *events = NULL;         // status: a stand-in System log with these lines; NULL: Wine's own
    bool eventsBesidePrograms = false; // ... beside the programs, where the program must not load it
};

class CliEndToEnd : public testing::Test {
  protected:
    std::unique_ptr<MachineStateGuard> machine;

    void SetUp() override
    {
        SKIP_UNLESS_WINE();
        machine.reset(new MachineStateGuard);
    }
    void TearDown() override
    {
        machine.reset();
    }

    void RunRows(const Row *pRows, size_t count)
    {
        for (const Row *pRow = pRows; pRow < pRows + count; pRow++) {
            const Row &row = *pRow;
            SCOPED_TRACE(row.name);
            MachineStateGuard rowState; // each row's DACL and AppDefaults go again
            ASSERT_TRUE(SetAppDefaultsVersion(L"MorvantaCli.exe", NULL));
            ASSERT_TRUE(row.value.empty() ? DeleteSubsystemsKey() : PutSubsystemsValue(row.value));
            if (row.pfnPrepare != NULL) {
                ASSERT_TRUE(row.pfnPrepare());
            }
            std::unique_ptr<StandInSubsystem> standIn;
            if (row.standIn != NULL) {
                standIn.reset(new StandInSubsystem(row.standIn, !row.standInElsewhere));
                ASSERT_TRUE(standIn->IsRunning()) << "the stand-in did not start: is a csrss.exe there already?";
            }
            std::unique_ptr<StandInEventLog> eventLog;
            if (row.events != NULL) {
                eventLog.reset(new StandInEventLog(row.events, row.eventsBesidePrograms));
                ASSERT_TRUE(eventLog->IsReady()) << "the stand-in wevtapi.dll is not in place";
            }
            DWORD typeBefore = 0, typeAfter = 0;
            Bytes before, after;
            bool presentBefore = ReadSubsystemsValue(&typeBefore, &before);

            CliRun run = {};
            ASSERT_TRUE(RunCli(row.args, &run)) << "error " << run.startError << " after " << run.elapsedMs << " ms";
            EXPECT_EQ(row.exitCode, run.exitCode);
            MaskStart(&run.out);
            MaskDesktops(&run.out);
            // A status report under Wine's own wevtapi ends its errors with
            // the events' line; the rows speak of the rest.
            bool reported = _wcsnicmp(row.args, L"status", 6) == 0 && !row.out.empty();
            if (reported && (row.events == NULL || row.eventsBesidePrograms)) {
                size_t at = run.err.rfind(kEventsUnknown);
                EXPECT_TRUE(at != std::string::npos && at + strlen(kEventsUnknown) == run.err.size()) << run.err;
                if (at != std::string::npos)
                    run.err.erase(at);
            }
            if (row.out == kUsage) {
                EXPECT_EQ(0u, run.out.find(kUsage)) << run.out;
            } else {
                EXPECT_EQ(row.out, run.out);
            }
            if (row.err == NULL) {
                EXPECT_EQ("", run.err);
            } else {
                EXPECT_EQ(0u, run.err.find(row.err)) << run.err;
                EXPECT_EQ("\r\n", run.err.substr(run.err.size() < 2 ? 0 : run.err.size() - 2));
            }
            EXPECT_EQ(presentBefore, ReadSubsystemsValue(&typeAfter, &after));
            if (presentBefore) {
                EXPECT_EQ(static_cast<DWORD>(REG_EXPAND_SZ), typeAfter) << "the type is kept";
            }
            EXPECT_EQ(row.after.empty() ? before : BytesOf(row.after), after);
        }
    }
};

TEST_F(CliEndToEnd, ShowAndTheReadFailures)
{
    const std::wstring typical = TypicalValue();
    const Row rows[] = {
        {"show", L"show", typical, NULL, 0, "3072\r\n", NULL, L""},
        {"no command is show", L"", typical, NULL, 0, "3072\r\n", NULL, L""},
        {"commands ignore case", L"ShOw", typical, NULL, 0, "3072\r\n", NULL, L""},
        {"help", L"--help", typical, NULL, 0, kUsage, NULL, L""},
        {"help the Windows way", L"/?", typical, NULL, 0, kUsage, NULL, L""},
        {"no key", L"show", L"", NULL, ERROR_INVALID_DATA, "", kError, L""},
        {"no heap field",
         L"show",
         L"csrss.exe SharedSection=1024 Windows=On",
         NULL,
         ERROR_INVALID_DATA,
         "",
         kError,
         L""},
        {"field of 0", L"show", TypicalValue(L"1024,0,512"), NULL, ERROR_INVALID_DATA, "", kError, L""},
        {"key not readable", L"show", typical, DenyQuery, ERROR_ACCESS_DENIED, "", kError, L""},
        {"older platform", L"show", typical, OlderPlatform, 1, "", kError, L""},
        {"older platform: the arguments are judged first", L"frobnicate", typical, OlderPlatform, 87, "", kUsage, L""},
        {"older platform: help is still help", L"--help", typical, OlderPlatform, 0, kUsage, NULL, L""},
        {"older platform without the key: the platform is judged before the value",
         L"show",
         L"",
         OlderPlatform,
         1,
         "",
         "MorvantaCli: changing the desktop heap size is only supported on Windows 2000/XP and later.",
         L""},
        {"non-interactive", L"show --non-interactive", typical, NULL, 0, "512\r\n", NULL, L""},
        {"non-interactive in capitals", L"SHOW --NON-INTERACTIVE", typical, NULL, 0, "512\r\n", NULL, L""},
        {"no third number: the interactive size",
         L"show --non-interactive",
         TypicalValue(L"1024,3072"),
         NULL,
         0,
         "3072\r\n",
         NULL,
         L""},
        {"third number of 0",
         L"show --non-interactive",
         TypicalValue(L"1024,3072,0"),
         NULL,
         ERROR_INVALID_DATA,
         "",
         "MorvantaCli: failed to get the current size of the non-interactive desktop heap.",
         L""},
        {"a bad third number leaves show alone", L"show", TypicalValue(L"1024,3072,0"), NULL, 0, "3072\r\n", NULL, L""},
    };
    RunRows(rows, sizeof rows / sizeof rows[0]);
}

TEST_F(CliEndToEnd, SetRewritesOnlyTheFieldOrNothing)
{
    const std::wstring typical = TypicalValue();
    const std::wstring huge = TypicalValue(L"1024,3000000000,512");
    const std::wstring unicode =
        L"%SystemRoot%\\system32\\csrss.exe Caf\u00e9=\u4e2d\u6587 SharedSection=1024,3072,512";
    const std::wstring unicodeAfter =
        L"%SystemRoot%\\system32\\csrss.exe Caf\u00e9=\u4e2d\u6587 SharedSection=1024,4096,512";
    const Row rows[] = {
        {"in range",
         L"set 4096",
         typical,
         NULL,
         ERROR_SUCCESS_REBOOT_REQUIRED,
         "The desktop heap size changed from 3072 KB to 4096 KB; it takes effect when Windows restarts.\r\n",
         NULL,
         TypicalValue(L"1024,4096,512")},
        {"half",
         L"SET 1536",
         typical,
         NULL,
         ERROR_SUCCESS_REBOOT_REQUIRED,
         "The desktop heap size changed from 3072 KB to 1536 KB; it takes effect when Windows restarts.\r\n",
         NULL,
         TypicalValue(L"1024,1536,512")},
        {"double",
         L"set 6144",
         typical,
         NULL,
         ERROR_SUCCESS_REBOOT_REQUIRED,
         "The desktop heap size changed from 3072 KB to 6144 KB; it takes effect when Windows restarts.\r\n",
         NULL,
         TypicalValue(L"1024,6144,512")},
        {"already stored",
         L"set 3072",
         typical,
         NULL,
         0,
         "The desktop heap size is already 3072 KB; nothing changed.\r\n",
         NULL,
         L""},
        {"below half",
         L"set 1535",
         typical,
         NULL,
         ERROR_INVALID_PARAMETER,
         "",
         "MorvantaCli: the new size must lie between 1536 and 6144 KB.",
         L""},
        {"above double", L"set 6145", typical, NULL, ERROR_INVALID_PARAMETER, "", kError, L""},
        {"zero",
         L"set 0",
         TypicalValue(L"1024,1,512"),
         NULL,
         ERROR_INVALID_PARAMETER,
         "",
         "MorvantaCli: the new size must lie between 1 and 2 KB.",
         L""},
        {"huge value: double is capped, not wrapped",
         L"set 4294967295",
         huge,
         NULL,
         ERROR_SUCCESS_REBOOT_REQUIRED,
         "The desktop heap size changed from 3000000000 KB to 4294967295 KB; it takes effect when Windows "
         "restarts.\r\n",
         NULL,
         TypicalValue(L"1024,4294967295,512")},
        {"ten digits above the cap",
         L"set 9999999999",
         huge,
         NULL,
         ERROR_INVALID_PARAMETER,
         "",
         "MorvantaCli: the new size must lie between 1500000000 and 4294967295 KB.",
         L""},
        {"dry run", L"set 4096 --dry-run", typical, NULL, 0, Utf8(TypicalValue(L"1024,4096,512")) + "\r\n", NULL, L""},
        {"dry run in capitals",
         L"SET 4096 --DRY-RUN",
         typical,
         NULL,
         0,
         Utf8(TypicalValue(L"1024,4096,512")) + "\r\n",
         NULL,
         L""},
        {"dry run of a text outside ASCII, as UTF-8",
         L"set 4096 --dry-run",
         unicode,
         NULL,
         0,
         Utf8(unicodeAfter) + "\r\n",
         NULL,
         L""},
        {"a text outside ASCII stored as it was",
         L"set 4096",
         unicode,
         NULL,
         ERROR_SUCCESS_REBOOT_REQUIRED,
         "The desktop heap size changed from 3072 KB to 4096 KB; it takes effect when Windows restarts.\r\n",
         NULL,
         unicodeAfter},
        {"write denied",
         L"set 4096",
         typical,
         DenySet,
         ERROR_ACCESS_DENIED,
         "",
         "MorvantaCli: an elevated administrator",
         L""},
        {"write denied, dry run reads only",
         L"set 4096 --dry-run",
         typical,
         DenySet,
         0,
         Utf8(TypicalValue(L"1024,4096,512")) + "\r\n",
         NULL,
         L""},
        {"a field the codec will not rewrite",
         L"set 4096",
         TypicalValue(L"1024,+3072,512"),
         NULL,
         ERROR_INVALID_DATA,
         "",
         kError,
         L""},
        {"no key", L"set 4096", L"", NULL, ERROR_INVALID_DATA, "", kError, L""},
        {"older platform", L"set 4096", typical, OlderPlatform, 1, "", kError, L""},
        {"non-interactive: only the third number",
         L"set 1024 --non-interactive",
         typical,
         NULL,
         ERROR_SUCCESS_REBOOT_REQUIRED,
         "The non-interactive desktop heap size changed from 512 KB to 1024 KB; it takes effect when Windows "
         "restarts.\r\n",
         NULL,
         TypicalValue(L"1024,3072,1024")},
        {"non-interactive: a third number added",
         L"set 4096 --NON-INTERACTIVE",
         TypicalValue(L"1024,3072"),
         NULL,
         ERROR_SUCCESS_REBOOT_REQUIRED,
         "The non-interactive desktop heap size changed from 3072 KB to 4096 KB; it takes effect when Windows "
         "restarts.\r\n",
         NULL,
         TypicalValue(L"1024,3072,4096")},
        {"non-interactive dry run, options in either order",
         L"set 256 --dry-run --non-interactive",
         typical,
         NULL,
         0,
         Utf8(TypicalValue(L"1024,3072,256")) + "\r\n",
         NULL,
         L""},
        {"non-interactive above double and the interactive size",
         L"set 3073 --non-interactive",
         typical,
         NULL,
         ERROR_INVALID_PARAMETER,
         "",
         "MorvantaCli: the new size must lie between 256 and 3072 KB.",
         L""},
        {"non-interactive up to the interactive size in one run",
         L"set 20480 --non-interactive",
         TypicalValue(L"1024,20480,768"),
         NULL,
         ERROR_SUCCESS_REBOOT_REQUIRED,
         "The non-interactive desktop heap size changed from 768 KB to 20480 KB; it takes effect when Windows "
         "restarts.\r\n",
         NULL,
         TypicalValue(L"1024,20480,20480")},
        {"non-interactive above the interactive size",
         L"set 20481 --non-interactive",
         TypicalValue(L"1024,20480,768"),
         NULL,
         ERROR_INVALID_PARAMETER,
         "",
         "MorvantaCli: the new size must lie between 384 and 20480 KB.",
         L""},
        {"non-interactive down to half",
         L"set 384 --non-interactive",
         TypicalValue(L"1024,20480,768"),
         NULL,
         ERROR_SUCCESS_REBOOT_REQUIRED,
         "The non-interactive desktop heap size changed from 768 KB to 384 KB; it takes effect when Windows "
         "restarts.\r\n",
         NULL,
         TypicalValue(L"1024,20480,384")},
        {"non-interactive below half",
         L"set 383 --non-interactive",
         TypicalValue(L"1024,20480,768"),
         NULL,
         87,
         "",
         kError,
         L""},
        {"non-interactive without a third number: double the interactive size",
         L"set 6144 --non-interactive",
         TypicalValue(L"1024,3072"),
         NULL,
         ERROR_SUCCESS_REBOOT_REQUIRED,
         "The non-interactive desktop heap size changed from 3072 KB to 6144 KB; it takes effect when Windows "
         "restarts.\r\n",
         NULL,
         TypicalValue(L"1024,3072,6144")},
        {"non-interactive without a third number: above double",
         L"set 6145 --non-interactive",
         TypicalValue(L"1024,3072"),
         NULL,
         ERROR_INVALID_PARAMETER,
         "",
         "MorvantaCli: the new size must lie between 1536 and 6144 KB.",
         L""},
        {"non-interactive without a third number: below half",
         L"set 1535 --non-interactive",
         TypicalValue(L"1024,3072"),
         NULL,
         ERROR_INVALID_PARAMETER,
         "",
         kError,
         L""},
        {"the interactive heap does not reach up to the non-interactive size",
         L"set 20480",
         TypicalValue(L"1024,1024,20480"),
         NULL,
         ERROR_INVALID_PARAMETER,
         "",
         "MorvantaCli: the new size must lie between 512 and 2048 KB.",
         L""},
        {"non-interactive already stored",
         L"set 512 --non-interactive",
         typical,
         NULL,
         0,
         "The non-interactive desktop heap size is already 512 KB; nothing changed.\r\n",
         NULL,
         L""},
        {"non-interactive: a third number the codec will not rewrite",
         L"set 1024 --non-interactive",
         TypicalValue(L"1024,3072,+512"),
         NULL,
         ERROR_INVALID_DATA,
         "",
         kError,
         L""},
        {"non-interactive write denied",
         L"set 1024 --non-interactive",
         typical,
         DenySet,
         ERROR_ACCESS_DENIED,
         "",
         "MorvantaCli: an elevated administrator is needed to change the non-interactive desktop heap size.",
         L""},
    };
    RunRows(rows, sizeof rows / sizeof rows[0]);
}

std::string StatusJson(const char *pszConfigured,
                       const char *pszInEffect,
                       const char *pszPending,
                       const std::string &sinceStart = "null")
{
    return std::string("{\"configured\":") + pszConfigured + ",\"inEffect\":" + pszInEffect +
           ",\"restartPending\":" + pszPending + ",DESKTOPS,\"sinceStart\":" + sinceStart + "}\r\n";
}

TEST_F(CliEndToEnd, StatusComparesTheValueWithTheSubsystemProcess)
{
    const std::wstring typical = TypicalValue();
    const std::string configured = "{\"sharedKb\":1024,\"interactiveKb\":3072,\"nonInteractiveKb\":512}";
    const char kUnknown[] = "MorvantaCli: the sizes in effect are unknown: ";
    const Row rows[] = {
        {"no subsystem process",
         L"status --json",
         typical,
         NULL,
         ERROR_NOT_FOUND,
         StatusJson(configured.c_str(), "null", "null"),
         "MorvantaCli: the sizes in effect are unknown: no Windows subsystem process",
         L""},
        {"a restart pending",
         L"status --json",
         typical,
         NULL,
         ERROR_SUCCESS_REBOOT_REQUIRED,
         StatusJson(configured.c_str(), "{\"sharedKb\":1024,\"interactiveKb\":4096,\"nonInteractiveKb\":512}", "true"),
         NULL,
         L"",
         L"1024,4096,512"},
        {"in effect",
         L"STATUS --JSON",
         typical,
         NULL,
         0,
         StatusJson(configured.c_str(), configured.c_str(), "false"),
         NULL,
         L"",
         L"1024,3072,512"},
        {"no third number on either side",
         L"status --json",
         TypicalValue(L"1024,3072"),
         NULL,
         0,
         StatusJson("{\"sharedKb\":1024,\"interactiveKb\":3072,\"nonInteractiveKb\":3072}",
                    "{\"sharedKb\":1024,\"interactiveKb\":3072,\"nonInteractiveKb\":3072}",
                    "false"),
         NULL,
         L"",
         L"1024,3072"},
        {"a size unknown on one side, the others equal",
         L"status --json",
         TypicalValue(L"1024,3072,0"),
         NULL,
         ERROR_NOT_FOUND,
         StatusJson("{\"sharedKb\":1024,\"interactiveKb\":3072,\"nonInteractiveKb\":null}", configured.c_str(), "null"),
         NULL,
         L"",
         L"1024,3072,512"},
        {"a size unknown on one side, another differs",
         L"status --json",
         TypicalValue(L"1024,3072,0"),
         NULL,
         ERROR_SUCCESS_REBOOT_REQUIRED,
         StatusJson("{\"sharedKb\":1024,\"interactiveKb\":3072,\"nonInteractiveKb\":null}",
                    "{\"sharedKb\":1024,\"interactiveKb\":4096,\"nonInteractiveKb\":512}",
                    "true"),
         NULL,
         L"",
         L"1024,4096,512"},
        {"a size unknown in effect, the others equal",
         L"status --json",
         typical,
         NULL,
         ERROR_NOT_FOUND,
         StatusJson(configured.c_str(), "{\"sharedKb\":null,\"interactiveKb\":3072,\"nonInteractiveKb\":512}", "null"),
         NULL,
         L"",
         L"x,3072,512"},
        {"a size unknown in effect before one that differs",
         L"status --json",
         typical,
         NULL,
         ERROR_SUCCESS_REBOOT_REQUIRED,
         StatusJson(configured.c_str(), "{\"sharedKb\":null,\"interactiveKb\":4096,\"nonInteractiveKb\":512}", "true"),
         NULL,
         L"",
         L"x,4096,512"},
        {"for a person, one size unknown in effect",
         L"status",
         typical,
         NULL,
         ERROR_NOT_FOUND,
         "Desktop heap (KB)    configured    in effect\r\n"
         "shared                     1024      unknown\r\n"
         "interactive                3072         3072\r\n"
         "non-interactive             512          512\r\n"
         "In effect: the command line of the Windows subsystem process of session 1.\r\n"
         "Whether a restart is pending cannot be told: the sizes that are known agree, and a size cannot be read "
         "on one side.\r\n" +
             std::string(kWineDesktopLine) + kEventsUnknownText,
         NULL,
         L"",
         L"x,3072,512"},
        {"a subsystem command line without the heap size",
         L"status --json",
         typical,
         NULL,
         ERROR_NOT_FOUND,
         StatusJson(configured.c_str(), "null", "null"),
         "MorvantaCli: the sizes in effect are unknown: the command line of the Windows subsystem process holds no "
         "desktop heap size.",
         L"",
         L"1024"},
        {"a csrss.exe outside the system directory is not the subsystem",
         L"status --json",
         typical,
         NULL,
         ERROR_NOT_FOUND,
         StatusJson(configured.c_str(), "null", "null"),
         "MorvantaCli: the sizes in effect are unknown: no Windows subsystem process",
         L"",
         L"1024,4096,512",
         true},
        {"for a person",
         L"status",
         typical,
         NULL,
         ERROR_SUCCESS_REBOOT_REQUIRED,
         "Desktop heap (KB)    configured    in effect\r\n"
         "shared                     1024         1024\r\n"
         "interactive                3072         4096\r\n"
         "non-interactive             512          512\r\n"
         "In effect: the command line of the Windows subsystem process of session 1.\r\n"
         "A restart is pending: the configured sizes take effect when Windows restarts.\r\n"
         "Only a restart counts: where Fast Startup is on (the default since Windows 8), a shut down keeps the "
         "running sizes.\r\n" +
             std::string(kWineDesktopLine) + kEventsUnknownText,
         NULL,
         L"",
         L"1024,4096,512"},
        {"for a person, unknown",
         L"status",
         typical,
         NULL,
         ERROR_NOT_FOUND,
         "Desktop heap (KB)    configured    in effect\r\n"
         "shared                     1024      unknown\r\n"
         "interactive                3072      unknown\r\n"
         "non-interactive             512      unknown\r\n"
         "Whether a restart is pending cannot be told: the sizes in effect are unknown.\r\n" +
             std::string(kWineDesktopLine) + kEventsUnknownText,
         kUnknown,
         L""},
        {"no interactive number",
         L"status --json",
         TypicalValue(L"1024,,512"),
         NULL,
         ERROR_INVALID_DATA,
         "",
         kError,
         L""},
        {"no key", L"status", L"", NULL, ERROR_INVALID_DATA, "", kError, L""},
        {"key not readable", L"status --json", typical, DenyQuery, ERROR_ACCESS_DENIED, "", kError, L""},
        {"older platform", L"status", typical, OlderPlatform, 1, "", kError, L""},
    };
    RunRows(rows, sizeof rows / sizeof rows[0]);
}

TEST_F(CliEndToEnd, StatusTellsWhatTheSystemLogHolds)
{
    const LONGLONG start = StartSeconds();
    auto at = [start](LONGLONG seconds) { return std::to_string(start + seconds); };
    const std::string failed = "|The application was unable to start correctly (0xc0000142).\n";
    // Newest first, as the query returns them: two 243 (one from each
    // provider name), a 244, three popups with 0xC0000142 from two programs,
    // and what does not count: a popup of another status, a 243 from before
    // the start, another Win32k event.
    const std::string typical =
        at(90) + "|Application Popup|26|worker.exe - Application Error" + failed + at(80) +
        "|Application Popup|26|notepad.exe - Application Error|The exception (0xc0000005) occurred.\n" + at(70) +
        "|Microsoft-Windows-Win32k|243|\\Sessions\\1\n" + at(60) +
        "|Application Popup|26|node.exe - Application Error" + "|(0XC0000142)\n" + at(50) + "|Win32k|244|\n" + at(45) +
        "|Win32k|260|\n" + at(40) + "|Application Popup|26|worker.exe - Application Error" + failed + at(30) +
        "|Win32k|243|\n" + at(-60) + "|Win32k|243|\n";
    const std::string popupsOnly =
        at(20) + "|Application Popup|26|agent.exe - Application Error" + failed + at(-5) + "|Win32k|1046|\n";
    const std::string configured = "{\"sharedKb\":1024,\"interactiveKb\":3072,\"nonInteractiveKb\":512}";
    const std::string sizesText = "Desktop heap (KB)    configured    in effect\r\n"
                                  "shared                     1024         1024\r\n"
                                  "interactive                3072         3072\r\n"
                                  "non-interactive             512          512\r\n"
                                  "In effect: the command line of the Windows subsystem process of session 1.\r\n"
                                  "No restart is pending: the configured sizes are in effect.\r\n" +
                                  std::string(kWineDesktopLine) + "Since Windows started at START:\r\n";
    const char kHeapRanOut[] =
        "A desktop heap ran out since Windows started (event 243). For services and build agents it is usually the "
        "non-interactive heap, the third number: raise it (MorvantaCli set 4096 --non-interactive) and restart. "
        "Windows logs 243 once per session, so the count is a lower bound.\r\n";
    const Row rows[] = {
        {"the typical log",
         L"status --json",
         TypicalValue(),
         NULL,
         0,
         StatusJson(configured.c_str(),
                    configured.c_str(),
                    "false",
                    "{\"start\":\"START\",\"heapAllocationFailed\":{\"count\":2,\"last\":\"" +
                        UtcText(start + 70, true) + "\"},\"desktopCreationFailed\":{\"count\":1,\"last\":\"" +
                        UtcText(start + 50, true) +
                        "\"},\"sizesRejected\":{\"count\":0,\"last\":null},\"startFailures\":{\"count\":3,\"last\":\"" +
                        UtcText(start + 90, true) + "\",\"programs\":[\"worker.exe\",\"node.exe\"]}}"),
         NULL,
         L"",
         L"1024,3072,512",
         false,
         typical.c_str()},
        {"the typical log for a person",
         L"status",
         TypicalValue(),
         NULL,
         0,
         sizesText + "Desktop heap allocation failures (event 243): 2, the last at " + UtcText(start + 70, false) +
             "\r\nDesktops not created (event 244): 1, the last at " + UtcText(start + 50, false) +
             "\r\nSharedSection sizes rejected (event 1046): 0\r\n"
             "Programs that failed to start with 0xC0000142: 3, the last at " +
             UtcText(start + 90, false) + ": worker.exe, node.exe\r\n" + kHeapRanOut +
             "Windows could not create a desktop for lack of room for its heap (event 244). Raising a size makes this "
             "worse: run fewer desktops, or give services smaller non-interactive heaps.\r\n",
         NULL,
         L"",
         L"1024,3072,512",
         false,
         typical.c_str()},
        {"start failures alone, for a person",
         L"status",
         TypicalValue(),
         NULL,
         0,
         sizesText +
             "Desktop heap allocation failures (event 243): 0\r\n"
             "Desktops not created (event 244): 0\r\n"
             "SharedSection sizes rejected (event 1046): 0\r\n"
             "Programs that failed to start with 0xC0000142: 1, the last at " +
             UtcText(start + 20, false) +
             ": agent.exe\r\n"
             "Programs failed to start with 0xC0000142 since Windows started. A full non-interactive heap (the third "
             "number) causes this, and so does a desktop that the program may not open; raise the third number if "
             "nothing else explains it.\r\n",
         NULL,
         L"",
         L"1024,3072,512",
         false,
         popupsOnly.c_str()},
        {"an empty log, for a person",
         L"status",
         TypicalValue(),
         NULL,
         0,
         sizesText + "Desktop heap allocation failures (event 243): 0\r\n"
                     "Desktops not created (event 244): 0\r\n"
                     "SharedSection sizes rejected (event 1046): 0\r\n"
                     "Programs that failed to start with 0xC0000142: 0\r\n"
                     "No desktop heap event since Windows started.\r\n",
         NULL,
         L"",
         L"1024,3072,512",
         false,
         ""},
        {"a log this account may not read",
         L"status --json",
         TypicalValue(),
         NULL,
         ERROR_SUCCESS_REBOOT_REQUIRED,
         StatusJson(configured.c_str(), "{\"sharedKb\":1024,\"interactiveKb\":4096,\"nonInteractiveKb\":512}", "true"),
         "MorvantaCli: the events since the last start are unknown: this account may not read the System log; run "
         "as an administrator or as a member of Event Log Readers.\r\n",
         L"",
         L"1024,4096,512",
         false,
         "!denied\n"},
        {"Wine's own wevtapi again",
         L"status --json",
         TypicalValue(),
         NULL,
         ERROR_SUCCESS_REBOOT_REQUIRED,
         StatusJson(configured.c_str(), "{\"sharedKb\":1024,\"interactiveKb\":4096,\"nonInteractiveKb\":512}", "true"),
         NULL,
         L"",
         L"1024,4096,512"},
        {"a wevtapi.dll beside the program is not the one loaded",
         L"status --json",
         TypicalValue(),
         NULL,
         ERROR_SUCCESS_REBOOT_REQUIRED,
         StatusJson(configured.c_str(), "{\"sharedKb\":1024,\"interactiveKb\":4096,\"nonInteractiveKb\":512}", "true"),
         NULL,
         L"",
         L"1024,4096,512",
         false,
         "-30|Win32k|243|\n",
         true},
    };
    RunRows(rows, sizeof rows / sizeof rows[0]);
}

TEST_F(CliEndToEnd, BadArgumentsWriteNothing)
{
    const std::wstring typical = TypicalValue();
    const wchar_t *const badArguments[] = {L"set",
                                           L"set +4096",
                                           L"set 4,096",
                                           L"set 4096k",
                                           L"set 00000004096",
                                           L"set --dry-run 4096",
                                           L"set 4096 --dry-run x",
                                           L"set 4096 --dryrun",
                                           L"show now",
                                           L"frobnicate",
                                           L"-?",
                                           L"set 4096 --dry-run --dry-run",
                                           L"set 4096 --non-interactive --non-interactive",
                                           L"set --non-interactive 4096",
                                           L"set 4096 --non-interactiv",
                                           L"set 4096 --non-interactive-",
                                           L"show --non-interactive x",
                                           L"show --non",
                                           L"show --json",
                                           L"shows",
                                           L"status --json --json",
                                           L"status --jsonx",
                                           L"status --non-interactive",
                                           L"status json",
                                           L"stat",
                                           L"statuses",
                                           L"desktops --json --json",
                                           L"desktops --top 5 --top 5",
                                           L"desktops x",
                                           L"desktop"};
    for (const wchar_t *pszArgs : badArguments) {
        const Row row = {"bad arguments", pszArgs, typical, NULL, ERROR_INVALID_PARAMETER, "", kUsage, L""};
        SCOPED_TRACE(testing::Message() << std::string(pszArgs, pszArgs + wcslen(pszArgs)));
        RunRows(&row, 1);
    }
}

TEST_F(CliEndToEnd, DesktopsTellWhatWineCannotGiveAndWhy)
{
    // The stations and desktops are real under Wine, its UOI_HEAPSIZE fails
    // with 87 and its GetGuiResources is a stub (0, error 120): unknown with
    // the error, never 0. A --top out of range is one line and 87.
    const char kTop[] = "MorvantaCli: --top takes a whole number from 1 to 1000.\r\n";
    const struct {
        const wchar_t *args;
        DWORD exitCode;
        std::vector<std::string> holds; // in the output, or for 87 the error
        const char *never;
    } rows[] = {
        {L"desktops",
         0,
         {"  WinSta0\\Default: heap unknown (error 87); this program's desktop\r\n",
          " MorvantaCli.exe: USER unknown (error 120), GDI unknown (error 120); ",
          "in all: USER unknown (error 120), GDI unknown (error 120).\r\n",
          "Quotas per process: USER 10000 (Windows' default), GDI 10000 (Windows' default).\r\n",
          "How much of a desktop heap is used cannot be read on Windows Vista and later without a kernel debugger"},
         "USER 0"},
        {L"DESKTOPS --TOP 1000 --JSON",
         0,
         {std::string(",\"desktops\":[") + kWineDesktop,
          "\"name\":\"MorvantaCli.exe\",",
          "\"userObjects\":null,\"userObjectsError\":120,\"userObjectsPeak\":null,\"userObjectsPeakError\":120,"
          "\"gdiObjects\":null,\"gdiObjectsError\":120,\"gdiObjectsPeak\":null,\"gdiObjectsPeakError\":120",
          "\"quotas\":{\"userObjects\":10000,\"userObjectsError\":null,\"userObjectsDefault\":true,\"gdiObjects\":"
          "10000,"
          "\"gdiObjectsError\":null,\"gdiObjectsDefault\":true},\"stationsError\":null,\"stationRestoreError\":null,"
          "\"servicesError\":null}\r\n"},
         "Objects\":0"},
        {L"desktops --top 0", ERROR_INVALID_PARAMETER, {kTop}, NULL},
        {L"desktops --json --top 1001", ERROR_INVALID_PARAMETER, {kTop}, NULL},
        {L"desktops --top -1", ERROR_INVALID_PARAMETER, {kTop}, NULL},
        {L"desktops --top", ERROR_INVALID_PARAMETER, {kTop}, NULL},
    };
    ASSERT_TRUE(PutSubsystemsValue(TypicalValue()));
    for (const auto &row : rows) {
        SCOPED_TRACE(testing::Message() << std::string(row.args, row.args + wcslen(row.args)));
        CliRun run = {};
        ASSERT_TRUE(RunCli(row.args, &run)) << "error " << run.startError;
        EXPECT_EQ(row.exitCode, run.exitCode);
        const std::string &text = row.exitCode == 0 ? run.out : run.err;
        EXPECT_EQ("", row.exitCode == 0 ? run.err : run.out);
        for (const std::string &part : row.holds) {
            EXPECT_NE(std::string::npos, text.find(part)) << part << "\n" << text;
        }
        if (row.never != NULL) {
            EXPECT_EQ(std::string::npos, text.find(row.never)) << text;
        }
        if (row.exitCode != 0) {
            EXPECT_EQ(row.holds[0], text);
        }
    }
}

TEST_F(CliEndToEnd, ExitCodeDoesNotDependOnTheOutput)
{
    ASSERT_TRUE(PutSubsystemsValue(TypicalValue()));
    CliRun run = {};
    ASSERT_TRUE(RunCli(L"set 4096", &run, false)) << "error " << run.startError;
    EXPECT_EQ(static_cast<DWORD>(ERROR_SUCCESS_REBOOT_REQUIRED), run.exitCode);
    DWORD dwType = 0;
    Bytes stored;
    ASSERT_TRUE(ReadSubsystemsValue(&dwType, &stored));
    EXPECT_EQ(BytesOf(TypicalValue(L"1024,4096,512")), stored);
    // Run again before the restart: the new size is found already stored.
    ASSERT_TRUE(RunCli(L"set 4096", &run, false)) << "error " << run.startError;
    EXPECT_EQ(0u, run.exitCode);
}

} // namespace
