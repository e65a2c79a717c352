@{
    RootModule           = 'Morvanta.psm1'
    ModuleVersion        = '1.0.0'
    GUID                 = '5b0f3a4e-8d2c-4f61-9a7e-2c6d1e9b7f43'
    Author               = 'Morvanta developers'
    CompanyName          = 'Morvanta'
    Copyright            = '(c) Morvanta developers. MIT license.'
    Description          = 'Reads and sets the desktop heap sizes (SharedSection= of the Windows subsystem command line) of many computers at once over PowerShell remoting, through MorvantaCli.exe.'
    PowerShellVersion    = '5.1'
    CompatiblePSEditions = @('Desktop', 'Core')
    FunctionsToExport    = @('Get-DesktopHeap', 'New-DesktopHeapRemediation', 'Set-DesktopHeap')
    CmdletsToExport      = @()
    VariablesToExport    = @()
    AliasesToExport      = @()
    FormatsToProcess     = @('Morvanta.Format.ps1xml')
    PrivateData          = @{
        PSData = @{
            Tags       = @('DesktopHeap', 'SharedSection', 'Windows', 'Remoting', 'Fleet')
        }
    }
}
