// What the Windows-side tests read and change on the machine.
#include "machine_state.h"

#include <sddl.h>
#include <winternl.h>

static const WCHAR kAppDefaultsPath[] = L"Software\\Wine\\AppDefaults\\";

std::wstring TypicalValue(const std::wstring &sharedSection)
{
    return L"%SystemRoot%\\system32\\csrss.exe ObjectDirectory=\\Windows SharedSection=" + sharedSection +
           L" Windows=On SubSystemType=Windows ServerDll=basesrv,1 ServerDll=winsrv:UserServerDllInitialization,3 "
           L"ServerDll=winsrv:ConServerDllInitialization,2 ProfileControl=Off MaxRequestThreads=16";
}

Bytes BytesOf(const std::wstring &text, bool withTerminator)
{
    const BYTE *pb = reinterpret_cast<const BYTE *>(text.c_str());
    return Bytes(pb, pb + (text.size() + (withTerminator ? 1 : 0)) * sizeof(WCHAR));
}

static FARPROC NtdllExport(const char *pszName)
{
    HMODULE hNtdll = GetModuleHandleW(L"ntdll.dll");
    return hNtdll != NULL ? GetProcAddress(hNtdll, pszName) : NULL;
}

bool IsRunningUnderWine()
{
    return NtdllExport("wine_get_version") != NULL;
}

typedef LONG(NTAPI *NtSetValueKeyProc)(HANDLE, PUNICODE_STRING, ULONG, ULONG, PVOID, ULONG);

bool PutSubsystemsValue(DWORD dwType, const Bytes &data)
{
    NtSetValueKeyProc pfnNtSetValueKey =
        reinterpret_cast<NtSetValueKeyProc>(reinterpret_cast<void (*)(void)>(NtdllExport("NtSetValueKey")));
    HKEY hKey = NULL;
    if (pfnNtSetValueKey == NULL ||
        RegCreateKeyExW(HKEY_LOCAL_MACHINE, kSubsystemsKeyPath, 0, NULL, 0, KEY_SET_VALUE, NULL, &hKey, NULL) !=
            ERROR_SUCCESS)
        return false;
    WCHAR szName[] = L"Windows";
    UNICODE_STRING name = {14, 16, szName};
    Bytes copy = data;
    copy.push_back(0); // a valid pointer for empty data
    LONG status = pfnNtSetValueKey(hKey, &name, 0, dwType, copy.data(), static_cast<ULONG>(data.size()));
    RegCloseKey(hKey);
    return status == 0;
}

bool PutSubsystemsValue(const std::wstring &text)
{
    return PutSubsystemsValue(REG_EXPAND_SZ, BytesOf(text));
}

bool ReadSubsystemsValue(DWORD *pdwType, Bytes *pData)
{
    BYTE buffer[8192];
    DWORD cb = sizeof buffer;
    if (RegGetValueW(
            HKEY_LOCAL_MACHINE, kSubsystemsKeyPath, L"Windows", RRF_RT_ANY | RRF_NOEXPAND, pdwType, buffer, &cb) !=
        ERROR_SUCCESS)
        return false;
    pData->assign(buffer, buffer + cb);
    return true;
}

bool DeleteSubsystemsKey()
{
    LONG status = RegDeleteKeyW(HKEY_LOCAL_MACHINE, kSubsystemsKeyPath);
    return status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND;
}

static bool SetKeyDacl(PSECURITY_DESCRIPTOR pDescriptor)
{
    HKEY hKey = NULL;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSubsystemsKeyPath, 0, WRITE_DAC, &hKey) != ERROR_SUCCESS)
        return false;
    LONG status = RegSetKeySecurity(hKey, DACL_SECURITY_INFORMATION, pDescriptor);
    RegCloseKey(hKey);
    return status == ERROR_SUCCESS;
}

bool SetSubsystemsKeyDacl(const wchar_t *pszSddl)
{
    PSECURITY_DESCRIPTOR pDescriptor = NULL;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(pszSddl, SDDL_REVISION_1, &pDescriptor, NULL))
        return false;
    bool set = SetKeyDacl(pDescriptor);
    LocalFree(pDescriptor);
    return set;
}

bool SetAppDefaultsVersion(const wchar_t *pszProgram, const wchar_t *pszVersion)
{
    std::wstring path = kAppDefaultsPath + std::wstring(pszProgram);
    if (pszVersion == NULL) {
        LONG status = RegDeleteKeyW(HKEY_CURRENT_USER, path.c_str());
        return status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND;
    }
    HKEY hKey = NULL;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, NULL, 0, KEY_SET_VALUE, NULL, &hKey, NULL) != ERROR_SUCCESS)
        return false;
    LONG status = RegSetValueExW(hKey,
                                 L"Version",
                                 0,
                                 REG_SZ,
                                 reinterpret_cast<const BYTE *>(pszVersion),
                                 static_cast<DWORD>((wcslen(pszVersion) + 1) * sizeof(WCHAR)));
    RegCloseKey(hKey);
    return status == ERROR_SUCCESS;
}

MachineStateGuard::MachineStateGuard() : keyExisted_(false), valueExisted_(false), type_(0)
{
    HKEY hKey = NULL;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSubsystemsKeyPath, 0, READ_CONTROL, &hKey) == ERROR_SUCCESS) {
        keyExisted_ = true;
        DWORD cb = 0;
        RegGetKeySecurity(hKey, DACL_SECURITY_INFORMATION, NULL, &cb);
        dacl_.resize(cb);
        if (cb == 0 || RegGetKeySecurity(hKey, DACL_SECURITY_INFORMATION, dacl_.data(), &cb) != ERROR_SUCCESS)
            dacl_.clear();
        RegCloseKey(hKey);
        valueExisted_ = ReadSubsystemsValue(&type_, &value_);
    }
}

MachineStateGuard::~MachineStateGuard()
{
    bool restored = true;
    if (!keyExisted_) {
        restored = DeleteSubsystemsKey();
    } else {
        HKEY hKey = NULL; // a test may have deleted it
        restored =
            RegCreateKeyExW(HKEY_LOCAL_MACHINE, kSubsystemsKeyPath, 0, NULL, 0, READ_CONTROL, NULL, &hKey, NULL) ==
            ERROR_SUCCESS;
        if (hKey != NULL)
            RegCloseKey(hKey);
        if (!dacl_.empty())
            restored = SetKeyDacl(dacl_.data()) && restored;
        if (valueExisted_)
            restored = PutSubsystemsValue(type_, value_) && restored;
        else
            RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kSubsystemsKeyPath, L"Windows");
    }
    restored = SetAppDefaultsVersion(L"Morvanta.exe", NULL) && restored;
    restored = SetAppDefaultsVersion(L"MorvantaCli.exe", NULL) && restored;
    EXPECT_TRUE(restored) << "the machine state a test changed could not be put back";
}
