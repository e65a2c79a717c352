// A process list and its processes behind the process binding, for what Wine
// cannot show: the command line query of Windows 8.1 and later, a protected
// subsystem process, another bitness, an access refused. Its handles are
// numbers that never reach the system, and no real process is ever opened.
#ifndef MORVANTA_TESTING_FAKE_PROCESSES_H
#define MORVANTA_TESTING_FAKE_PROCESSES_H

#include <windows.h>

#include <winternl.h>

#include <string>
#include <vector>

// How a process answers ProcessCommandLineInformation: with its command
// line, as Windows 8.1 and later do, or with a status.
enum CommandLineAnswer {
    kAnswerCommandLine,
    kAnswerInvalidClass,
    kAnswerNotImplemented,
    kAnswerDenied,
    kAnswerFailure
};

// A command line handed over whole, with an odd byte count, or (for the
// query) pointing past what was returned.
enum CommandLineDamage { kIntact, kOddLength, kOutsideAnswer };

struct FakeProcess {
    DWORD pid;
    ULONG sessionId;
    std::wstring listName;  // the image name in the process list
    std::wstring imagePath; // what QueryFullProcessImageNameW gives
    std::wstring commandLine;
    CommandLineAnswer answer;
    CommandLineDamage damage;
    bool protectedProcess; // refuses PROCESS_VM_READ, as from Windows 8.1 on
    bool refusesOpen;
    bool wow64;
    PEB peb; // its memory, read through ReadProcessMemory
    RTL_USER_PROCESS_PARAMETERS parameters;
    // What the desktop binding reads of it (fake_desktops.h).
    DWORD guiCounts[4];   // GetGuiResources' USER, USER peak, GDI, GDI peak
    DWORD guiError;       // each count answers 0 with it (0: the counts)
    std::wstring account; // DOMAIN\name; empty: LookupAccountSidW fails with 1332
    LUID logon;           // its token's AuthenticationId
    bool refusesToken;    // OpenProcessToken fails with 5
    std::vector<std::wstring> services;
};

struct FakeProcesses {
    std::vector<FakeProcess> processes; // this process's own entry is added to the list
    ULONG ownSessionId;
    bool ownListed;
    bool ownWow64;                // this process is 32-bit on 64-bit Windows
    int listCalls;                // the list answers too small to its first call
    int openHandles;              // handles not yet closed, tokens and the service manager's included
    DWORD sessionCounts[4];       // GetGuiResources(GR_GLOBAL, ...)
    DWORD serviceManagerError;    // OpenSCManagerW fails with it
    std::vector<std::string> log; // "open PID ACCESS", "image", "query 60", "basic", "read", "close"
};
extern FakeProcesses g_fakeProcesses;

// csrss.exe in the system directory, as GetSystemDirectoryW names it.
std::wstring SubsystemImagePath();

// The subsystem process of session 1 on Windows 8.1 and later, started with
// SharedSection=1024,4096,768, and this process in session 1.
void InstallFakeProcesses();
void RemoveFakeProcesses();

struct DesktopBinding;
// Puts the fake's GetGuiResources (GR_GLOBAL gives the session's counts),
// token functions and service manager into the binding.
void BindFakeHolders(DesktopBinding *pBinding);

#endif
