// An in-memory subsystem value and a restart recorder behind the advapi32
// binding, so that in-process tests touch no real registry and request no
// real shutdown. Every call lands in one event log, text buffers included.
#ifndef MORVANTA_TESTING_FAKE_SYSTEM_H
#define MORVANTA_TESTING_FAKE_SYSTEM_H

#include <windows.h>

#include <map>
#include <string>
#include <vector>

struct FakeSystem {
    bool keyExists;
    bool valueExists;
    DWORD type;
    std::vector<BYTE> data;
    LONG openStatusForWrite;              // forced status for an open with KEY_SET_VALUE, or ERROR_SUCCESS
    LONG setStatus;                       // forced status of the store, or ERROR_SUCCESS
    std::map<std::wstring, DWORD> quotas; // REG_DWORD values under ...\Windows NT\CurrentVersion\Windows
    int openKeys;                         // handles not yet closed
    std::vector<std::string> log;         // "open 1", "probe", "query", "set", "close", "alloc 1", "free 1", "restart"
};
extern FakeSystem g_fake;

// Resets the fake to a present REG_EXPAND_SZ value holding the text and a
// restart that is accepted, and installs it in the binding and the text heap.
void InstallFakeSystem(const std::wstring &value);
void RemoveFakeSystem();

void SetFakeValue(const std::wstring &value);
std::wstring FakeValueText(); // the data as text, without its terminator
void SetRestartAccepted(bool accepted);

#endif
