@{
    RootModule           = 'Morvanta.psm1'
    ModuleVersion        = '1.0.0'
    GUID                 = '5b0f3a4e-8d2c-4f61-9a7e-2c6d1e9b7f43'
    Author               = 'Morvanta developers'
    CompanyName          = 'Morvanta'
    Copyright            = '(c) Morvanta developers. MIT license.'
    Description          = 'Reads and sets the desktop heap sizes of many Windows computers at once over PowerShell remoting: the numbers of SharedSection= in the Windows subsystem command line, rewritten one number at a time with every other character kept. Tells which sizes are in effect, whether Windows logged a desktop heap that ran out (events 243 and 244) since it started, and which processes hold the most USER and GDI objects on the desktops, and writes detection and remediation scripts for Intune and Configuration Manager. Carries MorvantaCli.exe (x86 and x64) to each computer with the call and leaves nothing behind. See about_Morvanta.'
    PowerShellVersion    = '5.1'
    CompatiblePSEditions = @('Desktop', 'Core')
    FunctionsToExport    = @('Get-DesktopHeap', 'Get-DesktopHeapProcess', 'New-DesktopHeapRemediation', 'Set-DesktopHeap')
    CmdletsToExport      = @()
    VariablesToExport    = @()
    AliasesToExport      = @()
    FormatsToProcess     = @('Morvanta.Format.ps1xml')
    PrivateData          = @{
        PSData = @{
            LicenseUri   = 'https://opensource.org/license/mit'
            Tags         = @('DesktopHeap', 'SharedSection', 'Windows', 'Remoting', 'Fleet', 'Intune', 'ConfigMgr', 'Remediation', 'Registry', 'PSEdition_Desktop', 'PSEdition_Core')
            ReleaseNotes = '1.0.0: Get-DesktopHeap, Set-DesktopHeap, Get-DesktopHeapProcess and New-DesktopHeapRemediation; both desktop heaps, the sizes in effect, each desktop''s heap size, the desktop heap events since the start and the processes that hold the most USER and GDI objects; Windows PowerShell 5.1 and PowerShell 7. The license is the file LICENSE in the module folder (MIT).'
        }
    }
}
