// Sets the DACL of the SubSystems key from an SDDL string, for the module's
// tests under Wine only (a real machine's key is never touched): Wine keeps
// it while the prefix's server runs. Usage: SubsystemsKeyDacl SDDL
#include <windows.h>

#include <sddl.h>

int wmain(int argc, wchar_t **argv)
{
    HMODULE hNtdll = GetModuleHandleW(L"ntdll.dll");
    if (argc != 2 || hNtdll == NULL || GetProcAddress(hNtdll, "wine_get_version") == NULL)
        return ERROR_INVALID_PARAMETER;
    PSECURITY_DESCRIPTOR pDescriptor = NULL;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(argv[1], SDDL_REVISION_1, &pDescriptor, NULL))
        return static_cast<int>(GetLastError());
    HKEY hKey = NULL;
    LONG status = RegOpenKeyExW(HKEY_LOCAL_MACHINE,
                                L"SYSTEM\\CurrentControlSet\\Control\\Session Manager\\SubSystems",
                                0,
                                WRITE_DAC,
                                &hKey);
    if (status == ERROR_SUCCESS) {
        status = RegSetKeySecurity(hKey, DACL_SECURITY_INFORMATION, pDescriptor);
        RegCloseKey(hKey);
    }
    LocalFree(pDescriptor);
    return static_cast<int>(status);
}
