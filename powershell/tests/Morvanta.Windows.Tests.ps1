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
    function Set-TestValue([string] $Sizes, [string] $Text = ($Typical -f $Sizes), [Microsoft.Win32.RegistryValueKind] $Kind = 'ExpandString') {
        $key = [Microsoft.Win32.Registry]::LocalMachine.CreateSubKey($KeyPath)
        try { $key.SetValue('Windows', $Text, $Kind) } finally { $key.Dispose() }
    }
    # Runs Script with the tests' own wevtapi.dll in place of Wine's, whose
    # query reads nothing, serving the events given.
    function Use-EventLogStandIn([string[]] $Line, [scriptblock] $Script) {
        $system = [System.Environment]::SystemDirectory
        Move-Item -LiteralPath (Join-Path $system 'wevtapi.dll') -Destination (Join-Path $system 'wevtapi.dll.wine')
        try {
            Copy-Item -LiteralPath $env:MORVANTA_EVENT_LOG -Destination (Join-Path $system 'wevtapi.dll')
            Set-Content -LiteralPath (Join-Path $system 'wevtapi.events') -Value $Line
            & $Script
        }
        finally {
            Remove-Item -LiteralPath (Join-Path $system 'wevtapi.events')
            Move-Item -LiteralPath (Join-Path $system 'wevtapi.dll.wine') -Destination (Join-Path $system 'wevtapi.dll') -Force
        }
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
    $script:Holders = @(Get-DesktopHeapProcess -Top 1000 -ErrorVariable holderErrors)
    $script:HolderErrors = @($holderErrors)
    # A log in which a desktop heap ran out.
    Use-EventLogStandIn '-30|Win32k|244|', '-40|Application Popup|26|agent.exe - Application Error|(0xc0000142)', '-50|Win32k|1046|' {
        $script:Logged = @(Get-DesktopHeap)
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
    It 'runs the Windows code, and has its help topic without a download' {
        $IsWindows | Should -BeTrue
        Get-Help about_Morvanta | Out-String | Should -BeLike '*SHORT DESCRIPTION*Set-DesktopHeap*ERRORS*RIGHTS*EXAMPLES*'
    }

    It 'reads the sizes configured, and none in effect with the reason' {
        $ReadErrors.Count | Should -Be 0
        $Heap.Count | Should -Be 1
        $Heap[0].ComputerName | Should -Be $Me
        @($Heap[0].SharedKb, $Heap[0].InteractiveKb, $Heap[0].NonInteractiveKb) | Should -Be @(1024, 3072, 512)
        $Heap[0].InEffectInteractiveKb | Should -BeNullOrEmpty
        $Heap[0].RestartPending | Should -BeNullOrEmpty
        $Heap[0].InEffectUnknownReason | Should -BeLike 'the sizes in effect are unknown: *'
        $Heap[0].Desktop | Should -Be 'WinSta0\Default'
        $Heap[0].DesktopHeapKb | Should -BeNullOrEmpty
    }

    It 'lists the processes of this session with their counts unknown under Wine, never 0' {
        $HolderErrors.Count | Should -Be 0
        $program = @($Holders | Where-Object Name -EQ 'MorvantaCli.exe')
        $program.Count | Should -Be 1
        $program[0].ComputerName | Should -Be $Me
        $program[0].Account | Should -Not -BeNullOrEmpty
        @($Holders | Where-Object { $null -ne $_.UserObjects -or $null -ne $_.GdiObjects }).Count | Should -Be 0
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

Describe 'Remediation scripts, each run as the engines run it' {
    BeforeAll {
        # A new PowerShell without a profile for each script, as the engines
        # start it, with the key's access list given; the value before and
        # after with what it wrote.
        function Invoke-EngineScript([string] $Path, [string] $Dacl) {
            $info = New-Object System.Diagnostics.ProcessStartInfo
            $info.FileName = (Get-Process -Id $PID).Path
            $info.Arguments = "-NoProfile -NonInteractive -ExecutionPolicy Bypass -File `"$Path`""
            $info.UseShellExecute = $false
            $info.RedirectStandardOutput = $true
            $info.RedirectStandardError = $true
            $before = Get-TestValue
            if ($Dacl) { Set-KeyDacl $Dacl }
            try {
                $process = [System.Diagnostics.Process]::Start($info)
                $output = $process.StandardOutput.ReadToEndAsync()
                $errorText = $process.StandardError.ReadToEnd()
                $process.WaitForExit()
            }
            finally {
                if ($Dacl) { Set-KeyDacl 'D:(A;;KA;;;WD)' }
            }
            [pscustomobject]@{
                ExitCode = $process.ExitCode
                Output   = @($output.Result -split '\r?\n' | Where-Object { $_ })
                Error    = @($errorText -split '\r?\n' | Where-Object { $_ })
                Before   = $before
                After    = Get-TestValue
            }
        }
        $script:Runs = @{}
        $made = @{}
        foreach ($engine in 'Intune', 'ConfigurationManager') {
            $made[$engine] = @(New-DesktopHeapRemediation -NonInteractiveKb 4096 -Engine $engine -Path (Join-Path $TestDrive $engine))
        }
        $both = @(New-DesktopHeapRemediation -InteractiveKb 6144 -NonInteractiveKb 4096 -Path (Join-Path $TestDrive 'both'))
        # One byte of the embedded 64-bit program changed: one letter of its base64.
        $changed = Join-Path $TestDrive 'Remediate-Changed.ps1'
        $lines = [System.IO.File]::ReadAllLines($made['Intune'][1].FullName)
        $at = [array]::IndexOf($lines, "    x64 = @'") + 100
        $lines[$at] = $lines[$at].Substring(0, 10) + [char](([int][char]'A') + ($lines[$at][10] -eq 'A')) + $lines[$at].Substring(11)
        [System.IO.File]::WriteAllLines($changed, $lines)

        foreach ($engine in $made.Keys) {
            $detect, $remediate = $made[$engine].FullName
            Set-TestValue '1024,20480,768'
            $Runs["$engine detects 768"] = Invoke-EngineScript $detect
            $Runs["$engine raises 768"] = Invoke-EngineScript $remediate
            $Runs["$engine detects 4096"] = Invoke-EngineScript $detect
            Set-TestValue '1024,20480,20480'
            $Runs["$engine detects 20480"] = Invoke-EngineScript $detect
            $Runs["$engine keeps 20480"] = Invoke-EngineScript $remediate
            Set-TestValue -Text '%SystemRoot%\system32\csrss.exe ObjectDirectory=\Windows Windows=On'
            $Runs["$engine detects no SharedSection"] = Invoke-EngineScript $detect
            $Runs["$engine raises no SharedSection"] = Invoke-EngineScript $remediate
            Set-TestValue '1024,20480,768' -Kind String
            $Runs["$engine detects REG_SZ"] = Invoke-EngineScript $detect
            $Runs["$engine raises REG_SZ"] = Invoke-EngineScript $remediate
            Set-TestValue '1024,20480,768'
            $Runs["$engine raises a key that denies writes"] = Invoke-EngineScript $remediate -Dacl 'D:(D;;0x2;;;WD)(A;;KA;;;WD)'
        }
        $Runs['a key that denies reads'] = Invoke-EngineScript $made['Intune'][0].FullName -Dacl 'D:(D;;0x1;;;WD)(A;;KA;;;WD)'
        $Runs['a changed script'] = Invoke-EngineScript $changed
        Set-TestValue '1024,3072'
        $Runs['both raised'] = Invoke-EngineScript $both[1].FullName
        Set-TestValue '1024,20480,4096'
        Use-EventLogStandIn '-30|Win32k|244|', '-40|Win32k|243|', '-50|Win32k|243|' {
            $Runs['events'] = Invoke-EngineScript $made['Intune'][0].FullName
        }
        Use-EventLogStandIn '-50|Win32k|1046|' {
            $Runs['no events'] = Invoke-EngineScript $made['Intune'][0].FullName
        }
        Use-EventLogStandIn '-30|Win32k|244|', '-40|Win32k|244|' {
            $Runs['244 alone'] = Invoke-EngineScript $made['Intune'][0].FullName
        }
        $script:Left = @(Get-ChildItem -LiteralPath ([System.IO.Path]::GetTempPath()) -Filter 'Morvanta-*')

        # The folder's access list, from the functions of a script as made.
        $ast = [System.Management.Automation.Language.Parser]::ParseFile($made['Intune'][0].FullName, [ref]$null, [ref]$null)
        $functions = $ast.FindAll({ param($node) $node -is [System.Management.Automation.Language.FunctionDefinitionAst] }, $false)
        . ([scriptblock]::Create(($functions | ForEach-Object { $_.Extent.Text }) -join "`n"))
        $script:Sddl = (New-FolderSecurity).GetSecurityDescriptorSddlForm('Access')
        $folder = New-ProtectedFolder -Parent $TestDrive
        $script:FolderAccess = @((Get-Acl -LiteralPath $folder).Access | ForEach-Object { $_.IdentityReference.Value })
        $script:PlainAccess = @((Get-Acl -LiteralPath (New-Item -ItemType Directory -Path (Join-Path $TestDrive 'plain')).FullName).Access | ForEach-Object { $_.IdentityReference.Value })
    }

    It '<Run>: exit code <ExitCode>, <Line>' -ForEach @(
        foreach ($engine in 'Intune', 'ConfigurationManager') {
            $intune = $engine -eq 'Intune'
            $facts = 'non-interactive desktop heap {0} KB (at least 4096 KB wanted). Configured SharedSection=1024,20480,{0}; in effect: unknown; this desktop: WinSta0\Default unknown; restart pending: unknown; a desktop heap ran out since Windows started: unknown.'
            $noSize = 'failed to get the current size of the desktop heap: the Windows value holds no SharedSection= desktop heap size that can be read.'
            $regSz = 'failed to get the current size of the desktop heap: the Windows value is of type REG_SZ, not REG_EXPAND_SZ.'
            @{ Run = "$engine detects 768"; ExitCode = [int]$intune; Line = @('NonCompliant: ', 'Not compliant: ')[$intune] + ($facts -f 768) }
            @{ Run = "$engine raises 768"; ExitCode = 0; Line = 'Stored: the non-interactive desktop heap from 768 KB to 4096 KB; this takes effect at the next restart.'; Sizes = '1024,20480,4096' }
            @{ Run = "$engine detects 4096"; ExitCode = 0; Line = @('Compliant', ('Compliant: ' + ($facts -f 4096)))[$intune] }
            @{ Run = "$engine detects 20480"; ExitCode = 0; Line = @('Compliant', ('Compliant: ' + ($facts -f 20480)))[$intune] }
            @{ Run = "$engine keeps 20480"; ExitCode = 0; Line = 'Already in place, nothing changed: ' + ($facts -f 20480) }
            @{ Run = "$engine detects no SharedSection"; ExitCode = 1; Line = @('The sizes cannot be checked: ', 'Not compliant: the sizes cannot be checked: ')[$intune] + $noSize; ToError = -not $intune }
            @{ Run = "$engine raises no SharedSection"; ExitCode = 1; Line = "Not stored: $noSize"; ToError = $true }
            @{ Run = "$engine detects REG_SZ"; ExitCode = 1; Line = @('The sizes cannot be checked: ', 'Not compliant: the sizes cannot be checked: ')[$intune] + $regSz; ToError = -not $intune }
            @{ Run = "$engine raises REG_SZ"; ExitCode = 1; Line = "Not stored: $regSz"; ToError = $true }
            @{ Run = "$engine raises a key that denies writes"; ExitCode = 1; Line = 'Not stored: the non-interactive desktop heap stays 768 KB: an elevated administrator is needed to change the non-interactive desktop heap size.'; ToError = $true }
        }
        @{ Run = 'a key that denies reads'; ExitCode = 1; Line = 'Not compliant: the sizes cannot be checked: failed to get the current size of the desktop heap: access to the SubSystems key was denied; run as SYSTEM or as an elevated administrator.' }
        @{ Run = 'a changed script'; ExitCode = 1; Line = 'Not stored: the MorvantaCli.exe for x64 that this script carries does not match its SHA-256, so it was not started: the script was changed after it was made.'; ToError = $true }
        @{ Run = 'both raised'; ExitCode = 0; Line = 'Stored: the interactive desktop heap from 3072 KB to 6144 KB; this takes effect at the next restart.'; Sizes = '1024,6144' }
        foreach ($logged in @(@('events', 'yes (event 243: 2, event 244: 1)'), @('244 alone', 'yes (event 243: 0, event 244: 2)'), @('no events', 'no'))) {
            @{ Run = $logged[0]; ExitCode = 0; Line = "Compliant: non-interactive desktop heap 4096 KB (at least 4096 KB wanted). Configured SharedSection=1024,20480,4096; in effect: unknown; this desktop: WinSta0\Default unknown; restart pending: unknown; a desktop heap ran out since Windows started: $($logged[1])." }
        }
    ) {
        $result = $Runs[$Run]
        $result.ExitCode | Should -Be $ExitCode
        $lines = if ($ToError) { $result.Error } else { $result.Output }
        @($result.Output + $result.Error) | Should -HaveCount 1
        $lines | Should -BeExactly $Line
        $result.After.Kind | Should -Be $result.Before.Kind
        if ($Sizes) {
            $result.After.Text | Should -BeExactly ($Typical -f $Sizes)
        }
        else {
            $result.After.Text | Should -BeExactly $result.Before.Text
        }
    }

    It 'leaves no folder in the temporary folder' {
        $Left.Count | Should -Be 0
    }

    It 'makes the folder with full control for SYSTEM, the Administrators and this account alone, nothing inherited' {
        $Sddl | Should -BeExactly "D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;FA;;;$([System.Security.Principal.WindowsIdentity]::GetCurrent().User.Value))"
        # Wine keeps an access list as the owner's Unix mode: none for Everyone.
        $PlainAccess | Should -Contain 'Everyone'
        $FolderAccess | Should -Not -Contain 'Everyone'
    }
}
