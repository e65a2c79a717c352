// Window stations, desktops, USER and GDI counts, tokens and services behind
// the desktop binding, for what Wine cannot show: its heap sizes fail with
// 87, its GetGuiResources is a stub, and it has one logon session. The
// processes, with their counts, tokens and services, are those of the fake
// process list (fake_processes.h); every handle is a number that never
// reaches the system.
#ifndef MORVANTA_TESTING_FAKE_DESKTOPS_H
#define MORVANTA_TESTING_FAKE_DESKTOPS_H

#include <windows.h>

#include <string>
#include <vector>

struct FakeDesktop {
    std::wstring name;
    DWORD heapKb;
    DWORD heapError; // UOI_HEAPSIZE fails with it (0: answers)
    DWORD openError; // OpenDesktopW fails with it
};

struct FakeStation {
    std::wstring name;
    std::vector<FakeDesktop> desktops;
    DWORD listError;    // opening it to list its desktops fails with it
    DWORD openError;    // opening it at all fails with it
    bool refusesSwitch; // SetProcessWindowStation to it fails
};

struct FakeDesktops {
    std::vector<FakeStation> stations;
    size_t ownStation;            // index of this process's station
    std::wstring ownDesktop;      // the desktop of GetThreadDesktop there
    size_t currentStation;        // where SetProcessWindowStation left the process
    int openHandles;              // station and desktop handles not yet closed
    std::vector<std::string> log; // "switch STATION", "enum STATION", "open STATION\DESKTOP"
};
extern FakeDesktops g_fakeDesktops;

// A session as a build agent's host shows it, installed in the binding:
// WinSta0 with Default (20480 KB), Winlogon and Disconnect; the service
// stations of SYSTEM (768 KB), of LOCAL SERVICE (desktops not listed, its
// Default found), of NETWORK SERVICE (not opened); this process on
// WinSta0\Default. The processes' counts, tokens and services come from
// the fake process list, which must be installed.
void InstallFakeDesktops();
void RemoveFakeDesktops();

#endif
