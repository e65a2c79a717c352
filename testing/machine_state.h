// What the Windows-side tests read and change on the machine: the SubSystems
// key with its Windows value and its DACL, and Morvanta's AppDefaults key
// under Wine. Whatever a test changes goes back through MachineStateGuard,
// and every test that touches this state runs only under Wine: on a real
// machine it would replace the csrss command line, which must never happen.
#ifndef MORVANTA_TESTING_MACHINE_STATE_H
#define MORVANTA_TESTING_MACHINE_STATE_H

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

typedef std::vector<BYTE> Bytes;

const WCHAR kSubsystemsKeyPath[] = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager\\SubSystems";

// A Windows XP command line with the given SharedSection numbers.
std::wstring TypicalValue(const std::wstring &sharedSection = L"1024,3072,512");

// The text's units as bytes, with or without one terminator.
Bytes BytesOf(const std::wstring &text, bool withTerminator = true);

bool IsRunningUnderWine();

#define SKIP_UNLESS_WINE()                                                                                             \
    if (!IsRunningUnderWine())                                                                                         \
    GTEST_SKIP() << "touches the real SubSystems key or the machine's settings: runs only under Wine"

// Sets the Windows value with exactly these bytes and this type, creating
// the key; RegSetValueExW may add a terminator, so this is the native call.
bool PutSubsystemsValue(DWORD dwType, const Bytes &data);
bool PutSubsystemsValue(const std::wstring &text);

bool ReadSubsystemsValue(DWORD *pdwType, Bytes *pData);
bool DeleteSubsystemsKey();

// Sets the DACL of the SubSystems key from an SDDL string.
bool SetSubsystemsKeyDacl(const wchar_t *pszSddl);

// Makes Wine report another Windows version to one program (NULL: its own).
bool SetAppDefaultsVersion(const wchar_t *pszProgram, const wchar_t *pszVersion);

// Takes the state of the SubSystems key on construction and puts it back on
// destruction, DACL first, and removes the AppDefaults entries of
// Morvanta.exe and MorvantaCli.exe, which no test run starts with; a failure
// to put things back fails the test.
class MachineStateGuard {
  public:
    MachineStateGuard();
    ~MachineStateGuard();
    MachineStateGuard(const MachineStateGuard &) = delete;
    MachineStateGuard &operator=(const MachineStateGuard &) = delete;

  private:
    bool keyExisted_, valueExisted_;
    DWORD type_;
    Bytes value_, dacl_;
};

#endif
