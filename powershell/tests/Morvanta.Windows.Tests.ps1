# The module's Windows code on PowerShell for Windows: the signed release's
# module, this computer without remoting, the program started directly and its
# whole exit code read from the process. Runs only under Wine (the DACL helper
# refuses anywhere else, before the suite writes anything), where this
# computer is a throwaway prefix whose SubSystems value the suite writes.
BeforeAll {
    $script:KeyPath = 'SYSTEM\CurrentControlSet\Control\Session Manager\SubSystems'
    $script:Typical = '%SystemRoot%\system32\csrss.exe ObjectDirectory=\Windows SharedSection={0} Windows=On SubSystemType=Windows ServerDll=basesrv,1 ServerDll=winsrv:UserServerDllInitialization,3 ServerDll=sxssrv,4 ProfileControl=Off MaxRequestThreads=16'
    function Set-KeyDacl([string] $Sddl) {
        & $env:MORVANTA_DACL_HELPER $Sddl
        if ($LASTEXITCODE -ne 0) {
            throw "The DACL helper refused ($LASTEXITCODE): not under Wine, or the key is missing."
        }
    }
    function Set-TestValue([string] $Sizes) {
        $key = [Microsoft.Win32.Registry]::LocalMachine.CreateSubKey($KeyPath)
        try { $key.SetValue('Windows', ($Typical -f $Sizes), [Microsoft.Win32.RegistryValueKind]::ExpandString) } finally { $key.Dispose() }
    }
    # The value as stored: its kind and its text, unexpanded.
    function Get-TestValue {
        $key = [Microsoft.Win32.Registry]::LocalMachine.OpenSubKey($KeyPath)
        try {
            [pscustomobject]@{
                Kind = $key.GetValueKind('Windows')
                Text = $key.GetValue('Windows', $null, [Microsoft.Win32.RegistryValueOptions]::DoNotExpandEnvironmentNames)
            }
        }
        finally { $key.Dispose() }
    }

    Set-TestValue '1024,3072,512'
    Set-KeyDacl 'D:(A;;KA;;;WD)'
    Import-Module $env:MORVANTA_MODULE -Force
    $script:Me = [System.Environment]::MachineName

    $script:Heap = @(Get-DesktopHeap -ErrorVariable readErrors)
    $script:ReadErrors = @($readErrors)
    # The tests' own wevtapi.dll in place of Wine's, whose query reads
    # nothing, serving a log in which a desktop heap ran out.
    $system = [System.Environment]::SystemDirectory
    Move-Item -LiteralPath (Join-Path $system 'wevtapi.dll') -Destination (Join-Path $system 'wevtapi.dll.wine')
    try {
        Copy-Item -LiteralPath $env:MORVANTA_EVENT_LOG -Destination (Join-Path $system 'wevtapi.dll')
        Set-Content -LiteralPath (Join-Path $system 'wevtapi.events') -Value '-30|Win32k|244|', '-40|Application Popup|26|agent.exe - Application Error|(0xc0000142)', '-50|Win32k|1046|'
        $script:Logged = @(Get-DesktopHeap)
    }
    finally {
        Remove-Item -LiteralPath (Join-Path $system 'wevtapi.events')
        Move-Item -LiteralPath (Join-Path $system 'wevtapi.dll.wine') -Destination (Join-Path $system 'wevtapi.dll') -Force
    }
    $script:EmptyNames = @($null, '' | Get-DesktopHeap -ErrorAction SilentlyContinue -ErrorVariable emptyErrors)
    $script:EmptyErrors = @($emptyErrors)

    Set-TestValue '1024,20480,768'
    $script:Before = Get-TestValue
    Set-DesktopHeap -NonInteractiveKb 20480 -WhatIf
    '' | Set-DesktopHeap -NonInteractiveKb 20480 -Confirm:$false -ErrorAction SilentlyContinue
    $script:AfterWhatIf = Get-TestValue
    $script:Stored = @(Set-DesktopHeap -NonInteractiveKb 20480 -Confirm:$false -PassThru -Verbose -ErrorVariable storeErrors 4>&1)
    $script:StoreErrors = @($storeErrors)
    $script:After = Get-TestValue

    $null = Set-DesktopHeap -InteractiveKb 99999 -Confirm:$false -ErrorAction SilentlyContinue -ErrorVariable rangeErrors
    Set-KeyDacl 'D:(D;;0x2;;;WD)(A;;KA;;;WD)'
    try {
        $null = Set-DesktopHeap -InteractiveKb 30720 -Confirm:$false -ErrorAction SilentlyContinue -ErrorVariable deniedErrors
    }
    finally {
        Set-KeyDacl 'D:(A;;KA;;;WD)'
    }
    $script:Refusals = @(@($rangeErrors) + @($deniedErrors))
    $script:Left = @(Get-ChildItem -LiteralPath ([System.IO.Path]::GetTempPath()) -Filter 'Morvanta-*')
}

Describe 'Windows: this computer' {
    It 'runs the Windows code' {
        $IsWindows | Should -BeTrue
    }

    It 'reads the sizes configured, and none in effect with the reason' {
        $ReadErrors.Count | Should -Be 0
        $Heap.Count | Should -Be 1
        $Heap[0].ComputerName | Should -Be $Me
        @($Heap[0].SharedKb, $Heap[0].InteractiveKb, $Heap[0].NonInteractiveKb) | Should -Be @(1024, 3072, 512)
        $Heap[0].InEffectInteractiveKb | Should -BeNullOrEmpty
        $Heap[0].RestartPending | Should -BeNullOrEmpty
        $Heap[0].InEffectUnknownReason | Should -BeLike 'the sizes in effect are unknown: *'
    }

    It 'tells whether a desktop heap ran out: unknown with the reason under Wine, else from the log' {
        $Heap[0].HeapExhausted | Should -BeNullOrEmpty
        $Heap[0].StartFailures | Should -BeNullOrEmpty
        $Heap[0].SinceStartUnknownReason | Should -Be 'the events since the last start are unknown: the System log could not be queried.'
        $Logged.Count | Should -Be 1
        $Logged[0].HeapExhausted | Should -BeTrue
        @($Logged[0].HeapAllocationFailures, $Logged[0].DesktopCreationFailures, $Logged[0].SizesRejected, $Logged[0].StartFailures) | Should -Be @(0, 1, 1, 1)
        $Logged[0].StartFailurePrograms | Should -Be 'agent.exe'
        $Logged[0].LastHeapExhaustion.Kind | Should -Be 'Utc'
        $Logged[0].SinceStartUnknownReason | Should -BeNullOrEmpty
    }

    It 'takes only null or empty names as errors, never as this computer' {
        $EmptyNames.Count | Should -Be 0
        @($EmptyErrors | Where-Object { $_.FullyQualifiedErrorId -like 'EmptyComputerName,*' }).Count | Should -Be 2
    }

    It 'stores nothing with -WhatIf or an empty name' {
        $AfterWhatIf.Kind | Should -Be 'ExpandString'
        $AfterWhatIf.Text | Should -BeExactly $Before.Text
    }

    It 'stores 768 to 20480, every other character kept' {
        $After.Kind | Should -Be 'ExpandString'
        $After.Text | Should -BeExactly ($Typical -f '1024,20480,20480')
    }

    It 'reads exit code 3010 whole: stored, no error, the sizes passed through' {
        $StoreErrors.Count | Should -Be 0
        @($Stored | Where-Object { $_ -is [System.Management.Automation.VerboseRecord] } | ForEach-Object Message) |
            Should -Contain "${Me}: the non-interactive desktop heap was stored as 20480 KB; it takes effect when Windows restarts."
        $passed = @($Stored | Where-Object { $_ -isnot [System.Management.Automation.VerboseRecord] })
        $passed.Count | Should -Be 1
        $passed[0].NonInteractiveKb | Should -Be 20480
    }

    It 'reports exit code <Code> as <ErrorId>' -ForEach @(
        @{ Code = 87; Index = 0; ErrorId = 'SizeOutOfRange'; Category = 'InvalidArgument'; Message = 'the new size must lie between 10240 and 40960 KB.' }
        @{ Code = 5; Index = 1; ErrorId = 'AccessDenied'; Category = 'PermissionDenied'; Message = 'an elevated administrator is needed to change the desktop heap size.' }
    ) {
        $Refusals.Count | Should -Be 2
        $record = $Refusals[$Index]
        $record.FullyQualifiedErrorId | Should -BeLike "$ErrorId,*"
        $record.CategoryInfo.Category | Should -Be $Category
        $record.TargetObject | Should -Be $Me
        $record.Exception.Message | Should -BeExactly "${Me}: $Message"
    }

    It 'leaves no folder in the temporary folder' {
        $Left.Count | Should -Be 0
    }
}
