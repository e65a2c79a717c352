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
};

struct FakeProcesses {
    std::vector<FakeProcess> processes; // this process's own entry is added to the list
    ULONG ownSessionId;
    bool ownListed;
    bool ownWow64;                // this process is 32-bit on 64-bit Windows
    int listCalls;                // the list answers too small to its first call
    int openHandles;              // handles not yet closed
    std::vector<std::string> log; // "open PID ACCESS", "image", "query 60", "basic", "read", "close"
};
extern FakeProcesses g_fakeProcesses;

// csrss.exe in the system directory, as GetSystemDirectoryW names it.
std::wstring SubsystemImagePath();

// The subsystem process of session 1 on Windows 8.1 and later, started with
// SharedSection=1024,4096,768, and this process in session 1.
void InstallFakeProcesses();
void RemoveFakeProcesses();

#endif
