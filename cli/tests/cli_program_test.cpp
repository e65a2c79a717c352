// The console companion in-process, for what cannot be caused from outside:
// a store the platform refuses, a key that goes between the read and the
// write, and a subsystem process that Wine cannot give (protected, of
// another bitness). The registry and the processes are in-memory fakes.
#include <windows.h>

#include <gtest/gtest.h>

#include <string.h>

#include <algorithm>
#include <string>
#include <vector>

#include "cli_program.h"
#include "fake_desktops.h"
#include "fake_event_log.h"
#include "fake_processes.h"
#include "fake_system.h"
#include "machine_state.h"
#include "morvanta_windows.h"
#include "session_desktops.h"
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
        InstallFakeDesktops();
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

    // The program with its standard output and error read back.
    static int RunCaptured(std::vector<const wchar_t *> argv, std::string *pOut, std::string *pErr)
    {
        argv.insert(argv.begin(), L"MorvantaCli.exe");
        HANDLE hOutRead = NULL, hOutWrite = NULL, hErrRead = NULL, hErrWrite = NULL;
        if (!CreatePipe(&hOutRead, &hOutWrite, NULL, 1 << 16) || !CreatePipe(&hErrRead, &hErrWrite, NULL, 1 << 16))
            return -1;
        SetStdHandle(STD_OUTPUT_HANDLE, hOutWrite);
        SetStdHandle(STD_ERROR_HANDLE, hErrWrite);
        int exitCode = RunHeapSizeCommand(static_cast<int>(argv.size()), argv.data());
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

// One desktop of the fake session as the JSON gives it; heap "null" with an
// error, or a number with "null".
std::string DesktopJson(const char *station, const char *desktop, const char *heap, const char *error, bool current)
{
    const std::string name = desktop != NULL ? std::string("\"") + desktop + "\"" : "null";
    const char *account = strstr(station, "3e7") != NULL   ? "\"NT AUTHORITY\\\\SYSTEM\""
                          : strstr(station, "3e5") != NULL ? "\"NT AUTHORITY\\\\LOCAL SERVICE\""
                          : strstr(station, "3e4") != NULL ? "\"NT AUTHORITY\\\\NETWORK SERVICE\""
                                                           : "null";
    return std::string("{\"windowStation\":\"") + station + "\",\"desktop\":" + name + ",\"heapKb\":" + heap +
           ",\"error\":" + error + ",\"account\":" + account + ",\"current\":" + (current ? "true}" : "false}");
}

// The members "desktop" and "desktops" of status --json over the fake
// session: this program on WinSta0\Default, or on SYSTEM's service station
// as deployment tools run it; every heap size unknown (87) before Vista.
std::string DesktopsJson(bool onService, bool beforeVista)
{
    const char *const heaps[] = {"20480", "192", "96", "768", "512"};
    auto heap = [&](int i) { return beforeVista ? "null" : heaps[i]; };
    const char *error = beforeVista ? "87" : "null";
    const std::string own = onService ? DesktopJson("Service-0x0-3e7$", "Default", heap(3), error, true)
                                      : DesktopJson("WinSta0", "Default", heap(0), error, true);
    return "\"desktop\":" + own + ",\"desktops\":[" + DesktopJson("WinSta0", "Default", heap(0), error, !onService) +
           "," + DesktopJson("WinSta0", "Winlogon", heap(1), error, false) + "," +
           DesktopJson("WinSta0", "Disconnect", heap(2), error, false) + "," +
           DesktopJson("Service-0x0-3e7$", "Default", heap(3), error, onService) + "," +
           DesktopJson("Service-0x0-3e5$", "Default", heap(4), error, false) + "," +
           DesktopJson("Service-0x0-3e4$", NULL, "null", "5", false) + "],";
}

TEST_F(CliProgram, StatusOfWhatWineCannotShow)
{
    const char kConfigured[] = "{\"configured\":{\"sharedKb\":1024,\"interactiveKb\":3072,\"nonInteractiveKb\":512},";
    const std::string kUnknown =
        "\"inEffect\":null,\"restartPending\":null," + DesktopsJson(false, false) + "\"sinceStart\":null}\r\n";
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
             g_fakeDesktops.ownStation = 1;
         },
         ERROR_SUCCESS_REBOOT_REQUIRED,
         std::string(kConfigured) +
             "\"inEffect\":{\"sharedKb\":1024,\"interactiveKb\":4096,\"nonInteractiveKb\":768},"
             "\"restartPending\":true," +
             DesktopsJson(true, false) + sinceStart + "}\r\n",
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
             for (FakeStation &station : g_fakeDesktops.stations) {
                 for (FakeDesktop &desktop : station.desktops)
                     desktop.heapError = ERROR_INVALID_PARAMETER;
             }
         },
         ERROR_NOT_FOUND,
         std::string(kConfigured) + "\"inEffect\":null,\"restartPending\":null," + DesktopsJson(false, true) +
             "\"sinceStart\":null}\r\n",
         "MorvantaCli: the sizes in effect are unknown: this version of Windows lacks what reading them needs "
         "(Windows Vista or later).\r\n"
         "MorvantaCli: the events since the last start are unknown: reading them needs the Windows Event Log "
         "(Windows Vista or later).\r\n"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        InstallFakeProcesses();
        InstallFakeEventLog();
        InstallFakeDesktops();
        g_fakeEventLog.startTime = start;
        c.pfnChange();
        std::string out, err;
        EXPECT_EQ(c.exitCode, RunCaptured({L"status", L"--json"}, &out, &err));
        EXPECT_EQ(c.out, out);
        EXPECT_EQ(c.err, err);
        EXPECT_EQ(BytesOf(TypicalValue()), g_fake.data);
        EXPECT_EQ(0, g_fakeProcesses.openHandles);
        EXPECT_EQ(0, g_fakeEventLog.openHandles);
        EXPECT_EQ(0, g_fakeDesktops.openHandles);
        EXPECT_EQ(g_fakeDesktops.ownStation, g_fakeDesktops.currentStation);
        RemoveFakeProcesses();
    }
}

HDESK WINAPI NoThreadDesktop(DWORD)
{
    SetLastError(ERROR_INVALID_HANDLE);
    return NULL;
}

TEST_F(CliProgram, StatusNamesItsOwnDesktopAndWhenItsSizeChanges)
{
    const struct {
        const char *name;
        const wchar_t *sizes; // configured
        size_t station;       // of the fake session
        const wchar_t *desktop;
        DWORD heapError;
        bool noThreadDesktop;
        const char *line;
    } rows[] = {
        {"the interactive heap, another size configured",
         L"1024,3072,512",
         0,
         L"Default",
         0,
         false,
         "This desktop: WinSta0\\Default: heap 20480 KB; the configured 3072 KB takes effect when Windows restarts."},
        {"the interactive heap as configured",
         L"1024,20480,512",
         0,
         L"Default",
         0,
         false,
         "This desktop: WinSta0\\Default: heap 20480 KB."},
        {"SYSTEM's service desktop, another size configured",
         L"1024,20480,512",
         1,
         L"Default",
         0,
         false,
         "This desktop: Service-0x0-3e7$\\Default: heap 768 KB; the configured 512 KB takes effect when Windows "
         "restarts."},
        {"SYSTEM's service desktop as configured",
         L"1024,3072,768",
         1,
         L"Default",
         0,
         false,
         "This desktop: Service-0x0-3e7$\\Default: heap 768 KB."},
        {"Winlogon has a size of its own",
         L"1024,3072,512",
         0,
         L"Winlogon",
         0,
         false,
         "This desktop: WinSta0\\Winlogon: heap 192 KB."},
        {"before Vista",
         L"1024,3072,512",
         0,
         L"Default",
         ERROR_INVALID_PARAMETER,
         false,
         "This desktop: WinSta0\\Default: heap unknown (error 87)."},
        {"no desktop", L"1024,3072,512", 0, L"Default", 0, true, "This desktop: unknown (error 6)."},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        InstallFakeSystem(TypicalValue(row.sizes));
        InstallFakeDesktops();
        g_fakeDesktops.ownStation = row.station;
        g_fakeDesktops.ownDesktop = row.desktop;
        g_fakeDesktops.stations[0].desktops[0].heapError = row.heapError;
        if (row.noThreadDesktop)
            g_desktopApi.pfnGetThreadDesktop = NoThreadDesktop;
        std::string out, err;
        RunCaptured({L"status"}, &out, &err);
        size_t at = out.find("This desktop: ");
        ASSERT_NE(std::string::npos, at) << out;
        EXPECT_EQ(std::string(row.line) + "\r\n", out.substr(at, out.find("\r\n", at) + 2 - at));
    }
}

// A process of session 1 for the desktops report: its counts (USER, peak,
// GDI, peak), account, logon session and services.
void AddHolder(DWORD pid,
               const wchar_t *name,
               std::vector<DWORD> counts,
               const wchar_t *account,
               DWORD logonLow,
               std::vector<std::wstring> services = {})
{
    FakeProcess process = {};
    process.pid = pid;
    process.sessionId = 1;
    process.listName = name;
    std::copy(counts.begin(), counts.end(), process.guiCounts);
    process.account = account;
    process.logon.LowPart = logonLow;
    process.services = services;
    g_fakeProcesses.processes.push_back(process);
}

TEST_F(CliProgram, DesktopsOfWhatWineCannotShow)
{
    // A build agent's host: the agent near its USER quota (from the
    // registry), a process just under both quotas, node.exe near the GDI
    // quota (Windows' default) below the top three, a service host of three
    // services, a process that cannot be opened, one whose token cannot be
    // read, one whose counts cannot be read, and this process, not opened.
    InstallFakeProcesses();
    InstallFakeDesktops();
    g_fake.quotas[L"USERProcessHandleQuota"] = 10100;
    g_fakeProcesses.sessionCounts[0] = 5000;
    g_fakeProcesses.sessionCounts[1] = 6000;
    g_fakeProcesses.sessionCounts[2] = 7000;
    g_fakeProcesses.sessionCounts[3] = 8000;
    FakeProcess &subsystem = g_fakeProcesses.processes[0];
    std::copy_n(std::vector<DWORD>({30, 31, 40, 41}).begin(), 4, subsystem.guiCounts);
    subsystem.account = L"NT AUTHORITY\\SYSTEM";
    subsystem.logon.LowPart = 0x3e7;
    AddHolder(700, L"agent.exe", {9100, 9200, 400, 410}, L"BUILD\\agent", 0x1a2b3, {L"Agent\"Svc\"\t"});
    AddHolder(710, L"under.exe", {9089, 9089, 8999, 8999}, L"BUILD\\agent", 0x1a2b3);
    AddHolder(720, L"node.exe", {50, 60, 9000, 9100}, L"BUILD\\agent", 0x1a2b3);
    AddHolder(
        730, L"svchost.exe", {120, 130, 80, 90}, L"NT AUTHORITY\\SYSTEM", 0x3e7, {L"Schedule", L"Winmgmt", L"BITS"});
    AddHolder(740, L"lsass.exe", {1, 1, 1, 1}, L"NT AUTHORITY\\SYSTEM", 0x3e7);
    g_fakeProcesses.processes.back().refusesOpen = true;
    AddHolder(750, L"tokenless.exe", {5, 5, 5, 5}, L"", 0);
    g_fakeProcesses.processes.back().refusesToken = true;
    AddHolder(760, L"old\"win.exe", {0, 0, 0, 0}, L"NT AUTHORITY\\LOCAL SERVICE", 0x3e5);
    g_fakeProcesses.processes.back().guiError = ERROR_INVALID_PARAMETER;

    const std::string json =
        "{\"sessionId\":1,\"desktops\":[{\"windowStation\":\"WinSta0\",\"desktop\":\"Default\",\"heapKb\":20480,\"e"
        "rror\":null,\"account\":null,\"current\":true},{\"windowStation\":\"WinSta0\",\"desktop\":\"Winlogon\",\"h"
        "eapKb\":192,\"error\":null,\"account\":null,\"current\":false},{\"windowStation\":\"WinSta0\",\"desktop\":"
        "\"Disconnect\",\"heapKb\":96,\"error\":null,\"account\":null,\"current\":false},{\"windowStation\":\"Servi"
        "ce-0x0-3e7$\",\"desktop\":\"Default\",\"heapKb\":768,\"error\":null,\"account\":\"NT AUTHORITY\\\\SYSTEM\""
        ",\"current\":false},{\"windowStation\":\"Service-0x0-3e5$\",\"desktop\":\"Default\",\"heapKb\":512,\"error"
        "\":null,\"account\":\"NT AUTHORITY\\\\LOCAL SERVICE\",\"current\":false},{\"windowStation\":\"Service-0x0-"
        "3e4$\",\"desktop\":null,\"heapKb\":null,\"error\":5,\"account\":\"NT AUTHORITY\\\\NETWORK SERVICE\",\"curr"
        "ent\":false}],\"logonSessions\":[{\"windowStation\":\"Service-0x0-1a2b3$\",\"account\":\"BUILD\\\\agent\","
        "\"processes\":3,\"userObjects\":18239,\"gdiObjects\":18399,\"userObjectsUnknown\":0,\"gdiObjectsUnknown\":"
        "0},{\"windowStation\":\"Service-0x0-3e7$\",\"account\":\"NT AUTHORITY\\\\SYSTEM\",\"processes\":2,\"userOb"
        "jects\":150,\"gdiObjects\":120,\"userObjectsUnknown\":0,\"gdiObjectsUnknown\":0},{\"windowStation\":null,"
        "\"account\":null,\"processes\":3,\"userObjects\":5,\"gdiObjects\":5,\"userObjectsUnknown\":2,\"gdiObjectsU"
        "nknown\":2},{\"windowStation\":\"Service-0x0-3e5$\",\"account\":\"NT AUTHORITY\\\\LOCAL SERVICE\",\"proces"
        "ses\":1,\"userObjects\":null,\"gdiObjects\":null,\"userObjectsUnknown\":1,\"gdiObjectsUnknown\":1}],\"proc"
        "esses\":[{\"processId\":700,\"name\":\"agent.exe\",\"account\":\"BUILD\\\\agent\",\"accountError\":null,\""
        "userObjects\":9100,\"userObjectsError\":null,\"userObjectsPeak\":9200,\"userObjectsPeakError\":null,\"gdiO"
        "bjects\":400,\"gdiObjectsError\":null,\"gdiObjectsPeak\":410,\"gdiObjectsPeakError\":null,\"services\":\"A"
        "gent\\\"Svc\\\"\\u0009\",\"nearQuota\":\"USER\",\"windowStation\":\"Service-0x0-1a2b3$\"},{\"processId\":7"
        "10,\"name\":\"under.exe\",\"account\":\"BUILD\\\\agent\",\"accountError\":null,\"userObjects\":9089,\"user"
        "ObjectsError\":null,\"userObjectsPeak\":9089,\"userObjectsPeakError\":null,\"gdiObjects\":8999,\"gdiObject"
        "sError\":null,\"gdiObjectsPeak\":8999,\"gdiObjectsPeakError\":null,\"services\":null,\"nearQuota\":null,\""
        "windowStation\":\"Service-0x0-1a2b3$\"},{\"processId\":730,\"name\":\"svchost.exe\",\"account\":\"NT AUTHO"
        "RITY\\\\SYSTEM\",\"accountError\":null,\"userObjects\":120,\"userObjectsError\":null,\"userObjectsPeak\":1"
        "30,\"userObjectsPeakError\":null,\"gdiObjects\":80,\"gdiObjectsError\":null,\"gdiObjectsPeak\":90,\"gdiObj"
        "ectsPeakError\":null,\"services\":\"Schedule, Winmgmt, BITS\",\"nearQuota\":null,\"windowStation\":\"Servi"
        "ce-0x0-3e7$\"},{\"processId\":720,\"name\":\"node.exe\",\"account\":\"BUILD\\\\agent\",\"accountError\":nu"
        "ll,\"userObjects\":50,\"userObjectsError\":null,\"userObjectsPeak\":60,\"userObjectsPeakError\":null,\"gdi"
        "Objects\":9000,\"gdiObjectsError\":null,\"gdiObjectsPeak\":9100,\"gdiObjectsPeakError\":null,\"services\":"
        "null,\"nearQuota\":\"GDI\",\"windowStation\":\"Service-0x0-1a2b3$\"}],\"processesNotOpened\":2,\"session\""
        ":{\"processes\":9,\"userObjects\":5000,\"userObjectsError\":null,\"userObjectsPeak\":6000,\"userObjectsPea"
        "kError\":null,\"gdiObjects\":7000,\"gdiObjectsError\":null,\"gdiObjectsPeak\":8000,\"gdiObjectsPeakError\""
        ":null},\"quotas\":{\"userObjects\":10100,\"userObjectsError\":null,\"userObjectsDefault\":false,\"gdiObjec"
        "ts\":10000,\"gdiObjectsError\":null,\"gdiObjectsDefault\":true},\"stationsError\":null,\"stationRestoreErr"
        "or\":null,\"servicesError\":null}\r\n";
    const std::string text =
        "Desktops of this session, with the heap size each was created with:\r\n"
        "  WinSta0\\Default: heap 20480 KB; this program's desktop\r\n"
        "  WinSta0\\Winlogon: heap 192 KB\r\n"
        "  WinSta0\\Disconnect: heap 96 KB\r\n"
        "  Service-0x0-3e7$\\Default: heap 768 KB; NT AUTHORITY\\SYSTEM\r\n"
        "  Service-0x0-3e5$\\Default: heap 512 KB; NT AUTHORITY\\LOCAL SERVICE\r\n"
        "  Service-0x0-3e4$: its desktops cannot be listed (error 5); NT AUTHORITY\\NETWORK SERVICE\r\n"
        "Processes of session 1 by USER objects, the top 9 of 9; 2 could not be opened:\r\n"
        "  700 agent.exe: USER 9100 (peak 9200), GDI 400 (peak 410); BUILD\\agent; services: Agent\"Svc\"\t\r\n"
        "  710 under.exe: USER 9089 (peak 9089), GDI 8999 (peak 8999); BUILD\\agent\r\n"
        "  730 svchost.exe: USER 120 (peak 130), GDI 80 (peak 90); NT AUTHORITY\\SYSTEM; services: Schedule, Winmgm"
        "t, BITS\r\n"
        "  720 node.exe: USER 50 (peak 60), GDI 9000 (peak 9100); BUILD\\agent\r\n"
        "  600 csrss.exe: USER 30 (peak 31), GDI 40 (peak 41); NT AUTHORITY\\SYSTEM\r\n"
        "  750 tokenless.exe: USER 5 (peak 5), GDI 5 (peak 5); account unknown (error 5)\r\n"
        "  740 lsass.exe: USER unknown (error 5), GDI unknown (error 5); account unknown (error 5)\r\n"
        "  760 old\"win.exe: USER unknown (error 87), GDI unknown (error 87); NT AUTHORITY\\LOCAL SERVICE\r\n"
        "By logon session, with the window station a service of it gets:\r\n"
        "  Service-0x0-1a2b3$ (BUILD\\agent): processes 3, USER 18239, GDI 18399\r\n"
        "  Service-0x0-3e7$ (NT AUTHORITY\\SYSTEM): processes 2, USER 150, GDI 120\r\n"
        "  logon session unknown: processes 3, USER 5, GDI 5; not counted: the USER objects of 2, the GDI objects o"
        "f 2\r\n"
        "  Service-0x0-3e5$ (NT AUTHORITY\\LOCAL SERVICE): processes 1, USER unknown, GDI unknown; not counted: the"
        " USER objects of 1, the GDI objects of 1\r\n"
        "Session 1 in all: USER 5000 (peak 6000), GDI 7000 (peak 8000).\r\n"
        "Quotas per process: USER 10100, GDI 10000 (Windows' default).\r\n"
        "Process 700 (agent.exe) is near its own USER object quota: its failures are error 1158 in that process alo"
        "ne, and raising the desktop heap does not help it.\r\n"
        "Process 720 (node.exe) is near its own GDI object quota: its failures are error 1158 in that process alone"
        ", and raising the desktop heap does not help it.\r\n"
        "How much of a desktop heap is used cannot be read on Windows Vista and later without a kernel debugger: th"
        "ese counts show who holds objects on the session's desktops.\r\n";
    std::string out, err;
    EXPECT_EQ(0, RunCaptured({L"desktops", L"--top", L"3", L"--json"}, &out, &err));
    EXPECT_EQ("", err);
    EXPECT_EQ(json, out);
    EXPECT_EQ(0u, g_fakeDesktops.currentStation) << "back on its own window station";
    EXPECT_EQ(0, g_fakeDesktops.openHandles);
    EXPECT_EQ(0, g_fakeProcesses.openHandles);
    EXPECT_EQ(0, g_fake.openKeys);
    // Each station is left for the process's own before the next is read.
    EXPECT_EQ(Log({"switch WinSta0",
                   "enum WinSta0",
                   "open WinSta0\\Default",
                   "open WinSta0\\Winlogon",
                   "open WinSta0\\Disconnect",
                   "switch WinSta0",
                   "switch Service-0x0-3e7$",
                   "enum Service-0x0-3e7$",
                   "open Service-0x0-3e7$\\Default",
                   "switch WinSta0",
                   "switch Service-0x0-3e5$",
                   "open Service-0x0-3e5$\\Default",
                   "switch WinSta0"}),
              g_fakeDesktops.log);

    // Every process for a person, as Windows XP opens them (it has no limited
    // query right); this process, which the fake cannot open, where its id falls.
    EXPECT_NE(g_fakeProcesses.log.end(),
              std::find(g_fakeProcesses.log.begin(), g_fakeProcesses.log.end(), "open 700 4096"));
    g_processApi.pfnQueryFullProcessImageNameW = NULL;
    EXPECT_EQ(0, RunCaptured({L"DESKTOPS", L"--TOP", L"1000"}, &out, &err));
    EXPECT_NE(g_fakeProcesses.log.end(),
              std::find(g_fakeProcesses.log.begin(), g_fakeProcesses.log.end(), "open 700 1024"));
    const std::string own =
        "  " + std::to_string(GetCurrentProcessId()) +
        " tests.exe: USER unknown (error 87), GDI unknown (error 87); account unknown (error 87)\r\n";
    ASSERT_NE(std::string::npos, out.find(own)) << out;
    EXPECT_EQ(text, out.erase(out.find(own), own.size()));
    RemoveFakeProcesses();
}

} // namespace
