// Fakes of the restart's four advapi32 functions: each does what the script
// says and records what it was given. The token handed out, also by a failed
// open, is a real event handle, so that closing it can be observed.
#ifndef MORVANTA_TESTING_TOKEN_FAKES_H
#define MORVANTA_TESTING_TOKEN_FAKES_H

#include <windows.h>

#include <string>

struct TokenScript {
    BOOL tokenOpens;
    BOOL privilegeKnown;
    DWORD adjustError; // the last-error code the adjustment leaves
    BOOL requestAccepted;
    void (*pfnOnRequest)(void); // runs at the shutdown request; may be NULL
};

struct TokenSeen {
    HANDLE hToken;
    int opens, lookups, adjusts, requests;
    DWORD openAccess;
    bool lookupArgsRight, adjustArgsRight;
    bool requestMachineNull;
    std::wstring requestMessage;
    DWORD requestTimeout, requestReason;
    BOOL requestForce, requestReboot;
};
extern TokenSeen g_tokenSeen;

// Clears g_tokenSeen and puts the four fakes into g_advapi.
void InstallTokenFakes(const TokenScript &script);

const LUID kFakeShutdownLuid = {0x13, 0};

#endif
