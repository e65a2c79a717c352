# The module over real PowerShell remoting: loopback computers, each an sshd
# whose sessions run MorvantaCli.exe under Wine in a prefix of their own.
# Three real runs in BeforeAll, their assertions as rows.
BeforeAll {
    Import-Module (Join-Path $PSScriptRoot 'Fleet.psm1') -Force
    Import-Module $env:MORVANTA_MODULE -Force
    $script:Typical = '%SystemRoot%\system32\csrss.exe ObjectDirectory=\Windows SharedSection={0} Windows=On SubSystemType=Windows ServerDll=basesrv,1 ServerDll=winsrv:UserServerDllInitialization,3 ServerDll=sxssrv,4 ProfileControl=Off MaxRequestThreads=16'
    $script:Hosts = @(Get-FleetHost)
    # The System log of 127.0.0.3, newest first: two 243 (one from each
    # provider name), a 244, three popups with 0xC0000142 from two programs;
    # not counted: a popup of another status and a 243 from 2000, before the
    # start. The others keep Wine's own wevtapi, which reads nothing.
    $script:LogRead = [datetime]::UtcNow
    Set-FleetEventLog -FleetHost $Hosts[1] -StandIn $env:MORVANTA_EVENT_LOG -Line @(
        '-30|Microsoft-Windows-Win32k|243|\Sessions\1'
        '-40|Application Popup|26|worker.exe - Application Error|The application was unable to start correctly (0xc0000142).'
        '-50|Win32k|244|'
        '-60|Application Popup|26|node.exe - Application Error|(0XC0000142)'
        '-70|Application Popup|26|notepad.exe - Application Error|(0xc0000005)'
        '-80|Win32k|243|'
        '-90|Application Popup|26|worker.exe - Application Error|(0xc0000142)'
        '12591158400|Win32k|243|'
    )
    function Get-MorvantaTempItem {
        $script:Hosts | ForEach-Object { Get-ChildItem -LiteralPath $_.TempFolder -Filter 'Morvanta-*' }
    }
}

AfterAll {
    Set-FleetEventLog -FleetHost $Hosts[1]
}

Describe 'Get-DesktopHeap over sessions from the pipeline, one of them broken' {
    BeforeAll {
        $values = '1024,3072,512', '1024,20480,768', '1024,3072', '1024,4096,1024'
        for ($index = 0; $index -lt 4; $index++) {
            Set-FleetValue -FleetHost $Hosts[$index] -Value ($Typical -f $values[$index])
        }
        # No SharedSection= at all: the program cannot read a size there (13).
        Set-FleetValue -FleetHost $Hosts[4] -Value '%SystemRoot%\system32\csrss.exe ObjectDirectory=\Windows Windows=On'
        $script:Sessions = @(New-FleetSession -FleetHost $Hosts[0..4] | Sort-Object ComputerName)
        Stop-FleetHost -FleetHost $Hosts[3]
        # The first computer answers last: answers belong to their session, whatever their order.
        Set-FleetDelay -FleetHost $Hosts[0] -Seconds 2
        try {
            $script:Heaps = @($Sessions | Get-DesktopHeap -ErrorAction SilentlyContinue -ErrorVariable readErrors)
            $script:ReadDone = [datetime]::UtcNow
            $script:Holders = @(Get-DesktopHeapProcess -Session $Sessions -Top 3 -ErrorAction SilentlyContinue -ErrorVariable holderErrors)
        }
        finally {
            Set-FleetDelay -FleetHost $Hosts[0] -Seconds 0
        }
        $script:ReadErrors = @($readErrors)
        $script:HolderErrors = @($holderErrors)
        $script:Csv = @($Heaps | ConvertTo-Csv -NoTypeInformation)
        $script:Left = @(Get-MorvantaTempItem)
    }
    AfterAll {
        $Sessions | Remove-PSSession
    }

    It 'reads <Address> as <Interactive>/<NonInteractive>' -ForEach @(
        @{ Address = '127.0.0.2'; Shared = 1024; Interactive = 3072; NonInteractive = 512 }
        @{ Address = '127.0.0.3'; Shared = 1024; Interactive = 20480; NonInteractive = 768 }
        @{ Address = '127.0.0.4'; Shared = 1024; Interactive = 3072; NonInteractive = 3072 }
    ) {
        $heap = @($Heaps | Where-Object ComputerName -EQ $Address)
        $heap.Count | Should -Be 1
        $heap[0].PSObject.TypeNames[0] | Should -Be 'Morvanta.DesktopHeap'
        $heap[0].SharedKb | Should -Be $Shared
        $heap[0].InteractiveKb | Should -Be $Interactive
        $heap[0].NonInteractiveKb | Should -Be $NonInteractive
        # Wine has no subsystem process: nothing is known in effect, and the program says why.
        $heap[0].InEffectInteractiveKb | Should -BeNullOrEmpty
        $heap[0].RestartPending | Should -BeNullOrEmpty
        $heap[0].InEffectUnknownReason | Should -BeLike 'the sizes in effect are unknown: no Windows subsystem process*'
        # Wine names its desktops but gives no heap size.
        $heap[0].Desktop | Should -Be 'WinSta0\Default'
        $heap[0].DesktopHeapKb | Should -BeNullOrEmpty
        @($heap[0].Desktops -split '; ') | Should -Contain 'WinSta0\Default=unknown'
    }

    It 'lists the processes of <Address> that hold the most USER objects, their counts unknown under Wine' -ForEach @(
        @{ Address = '127.0.0.2' }, @{ Address = '127.0.0.3' }, @{ Address = '127.0.0.6' }
    ) {
        $holders = @($Holders | Where-Object ComputerName -EQ $Address)
        $holders.Count | Should -BeGreaterThan 0
        $holders.Count | Should -BeLessOrEqual 3
        $holders[0].PSObject.TypeNames[0] | Should -Be 'Morvanta.DesktopHeapProcess'
        @($holders | Where-Object { $_.ProcessId -gt 0 -and $_.Name -and $_.Account -and $_.WindowStation -like 'Service-0x*$' }).Count | Should -Be $holders.Count
        @($holders | Where-Object { $null -ne $_.UserObjects -or $null -ne $_.GdiObjectsPeak -or $null -ne $_.NearQuota }).Count | Should -Be 0
        @($HolderErrors | ForEach-Object { "$($_.FullyQualifiedErrorId) $($_.TargetObject)" }) | Should -Be @('SessionBroken,Get-DesktopHeapProcess 127.0.0.5')
    }

    It 'tells from the System log of <Address> whether a desktop heap ran out: <Exhausted>' -ForEach @(
        @{ Address = '127.0.0.2'; Exhausted = $null; Counts = @($null, $null, $null, $null); Programs = $null; Reason = 'the events since the last start are unknown: the System log could not be queried.' }
        @{ Address = '127.0.0.3'; Exhausted = $true; Counts = @(2, 1, 0, 3); Programs = 'worker.exe, node.exe'; Reason = $null }
        @{ Address = '127.0.0.4'; Exhausted = $null; Counts = @($null, $null, $null, $null); Programs = $null; Reason = 'the events since the last start are unknown: the System log could not be queried.' }
    ) {
        $heap = @($Heaps | Where-Object ComputerName -EQ $Address)
        $heap[0].HeapExhausted | Should -Be $Exhausted
        @($heap[0].HeapAllocationFailures, $heap[0].DesktopCreationFailures, $heap[0].SizesRejected, $heap[0].StartFailures) | Should -Be $Counts
        $heap[0].StartFailurePrograms | Should -Be $Programs
        $heap[0].SinceStartUnknownReason | Should -Be $Reason
        if ($null -eq $Exhausted) {
            $heap[0].LastHeapExhaustion | Should -BeNullOrEmpty
        }
        else {
            # The last 243 was logged 30 s before the program read the log.
            $heap[0].LastHeapExhaustion | Should -BeOfType [datetime]
            $heap[0].LastHeapExhaustion.Kind | Should -Be 'Utc'
            $heap[0].LastHeapExhaustion | Should -BeGreaterOrEqual $LogRead.AddSeconds(-31)
            $heap[0].LastHeapExhaustion | Should -BeLessOrEqual $ReadDone.AddSeconds(-29)
        }
    }

    It 'shows one line a computer in 80 columns, whether a heap ran out among them, and one a process' {
        $lines = @($Heaps | Format-Table | Out-String -Width 80 -Stream | Where-Object { $_.Trim() })
        $lines.Count | Should -Be 5
        @($lines | Where-Object Length -GT 79).Count | Should -Be 0
        $processLines = @($Holders | Format-Table | Out-String -Width 80 -Stream | Where-Object { $_.Trim() })
        $processLines.Count | Should -Be ($Holders.Count + 2)
        $processLines[0] | Should -Match '^ComputerName +Id Name +UserObjects GdiObjects NearQuota'
        @($processLines | Where-Object Length -GT 79).Count | Should -Be 0
        $lines[0] | Should -Match 'HeapExhausted'
        @($lines | Where-Object { $_ -match '^127\.0\.0\.3 ' })[0] | Should -Match ' True\s*$'
    }

    It 'reads a time given <How> as UTC' -ForEach @(
        @{ How = 'as text, by Windows PowerShell'; Value = '2026-12-09T14:02:11Z' }
        @{ How = 'in local time'; Value = [datetime]::new(2026, 12, 9, 14, 2, 11, [System.DateTimeKind]::Utc).ToLocalTime() }
    ) {
        $time = InModuleScope Morvanta -Parameters @{ Value = $Value } { param($Value) ConvertTo-UtcTime -Value $Value }
        $time.Kind | Should -Be 'Utc'
        $time | Should -Be ([datetime]::new(2026, 12, 9, 14, 2, 11, [System.DateTimeKind]::Utc))
    }

    It 'takes from <Log> HeapExhausted <Exhausted> and the last exhaustion <Last>' -ForEach @(
        @{ Log = 'a 243 after a 244'; Last243 = '"2026-12-09T14:02:11Z"'; Last244 = '"2026-12-09T13:00:00Z"'; Exhausted = $true; Last = '2026-12-09T14:02:11' }
        @{ Log = 'a 244 after a 243'; Last243 = '"2026-12-09T14:02:11Z"'; Last244 = '"2026-12-09T15:00:00Z"'; Exhausted = $true; Last = '2026-12-09T15:00:00' }
        @{ Log = 'neither'; Last243 = 'null'; Last244 = 'null'; Exhausted = $false; Last = $null }
    ) {
        $json = '{{"heapAllocationFailed":{{"count":{0},"last":{1}}},"desktopCreationFailed":{{"count":{2},"last":{3}}},"sizesRejected":{{"count":0,"last":null}},"startFailures":{{"count":0,"last":null,"programs":[]}}}}' -f
            [int]($Last243 -ne 'null'), $Last243, [int]($Last244 -ne 'null'), $Last244
        $events = InModuleScope Morvanta -Parameters @{ Json = $json } { param($Json) ConvertTo-HeapEventProperty -SinceStart ($Json | ConvertFrom-Json) -ErrorText '' }
        $events.HeapExhausted | Should -Be $Exhausted
        if ($Last) {
            $events.LastHeapExhaustion.ToString('s') | Should -Be $Last
        }
        else {
            $events.LastHeapExhaustion | Should -BeNullOrEmpty
        }
    }

    It 'makes runs of <Case>' -ForEach @(
        @{ Case = 'two runs under Wine and on Windows'; Answer = @('3010', 'stored', '', 1168, '{}', 'unknown'); Codes = @(3010, 1168); NotStarted = $null }
        @{ Case = 'a 9009 of the program on Windows'; Answer = @(9009, 'out', 'err'); Codes = @(9009); NotStarted = $null }
        @{ Case = 'the 9009 of cmd under Wine'; Answer = @('0', '{}', '', '9009', '', "'x' is not recognized "); Codes = @(0); NotStarted = "The program could not be started there: 'x' is not recognized" }
        @{ Case = 'no code under Wine'; Answer = @('', '', "Can't recognize 'Z:\x'"); Codes = @(); NotStarted = "The program could not be started there through Wine: Can't recognize 'Z:\x'" }
        @{ Case = 'a run, then an exception'; Answer = @('0', '{}', '', 'The program could not be started there: denied'); Codes = @(0); NotStarted = 'The program could not be started there: denied' }
    ) {
        $read = InModuleScope Morvanta -Parameters @{ Answer = $Answer } { param($Answer) ConvertFrom-ProgramAnswer -Answer $Answer -CommandLine 'set 4096', 'status --json' }
        @($read.Runs | ForEach-Object ExitCode) | Should -Be $Codes
        @($read.Runs | ForEach-Object CommandLine) | Should -Be @('set 4096', 'status --json' | Select-Object -First $Codes.Count)
        $read.NotStarted | Should -Be $NotStarted
    }

    It 'reports <Address> as <ErrorId>' -ForEach @(
        @{ Address = '127.0.0.5'; ErrorId = 'SessionBroken'; Category = 'ResourceUnavailable'; Message = '127.0.0.5: the session is broken*' }
        @{ Address = '127.0.0.6'; ErrorId = 'InvalidData'; Category = 'InvalidData'; Message = '127.0.0.6: failed to get the current size of the desktop heap.' }
    ) {
        $ReadErrors.Count | Should -Be 2
        $record = @($ReadErrors | Where-Object TargetObject -EQ $Address)
        $record.Count | Should -Be 1
        $record[0].FullyQualifiedErrorId | Should -BeLike "$ErrorId,*"
        $record[0].CategoryInfo.Category | Should -Be $Category
        $record[0].Exception.Message | Should -BeLike $Message
    }

    It 'leaves the sessions it was given open' {
        # Sessions open in any order: the broken one is found by its name.
        @($Sessions | Where-Object { $_.ComputerName -ne '127.0.0.5' -and $_.State -eq 'Opened' }).Count | Should -Be 4
    }

    It 'leaves no temporary folder behind' {
        $Left.Count | Should -Be 0
    }

    It 'exports exactly its own columns' {
        $Csv[0] | Should -Be '"ComputerName","SharedKb","InteractiveKb","NonInteractiveKb","InEffectSharedKb","InEffectInteractiveKb","InEffectNonInteractiveKb","RestartPending","InEffectUnknownReason","Desktop","DesktopHeapKb","Desktops","HeapExhausted","HeapAllocationFailures","DesktopCreationFailures","SizesRejected","StartFailures","LastHeapExhaustion","StartFailurePrograms","SinceStartUnknownReason"'
        $Csv.Count | Should -Be 4
    }
}

Describe 'Set-DesktopHeap: -WhatIf, then for real with an answer per computer' {
    BeforeAll {
        # 127.0.0.2 refuses writes, .3 goes from 768 to 20480 in one step, .4
        # takes both sizes (the non-interactive one only once the interactive
        # one is stored), .6 is out of range, .7 is answered No, and the
        # session of .8 breaks between the read and the store.
        $plan = @(
            @{ Host = $Hosts[0]; Value = '1024,10240,512' }
            @{ Host = $Hosts[1]; Value = '1024,20480,768' }
            @{ Host = $Hosts[2]; Value = '1024,10240,512' }
            @{ Host = $Hosts[4]; Value = '1024,3072,512' }
            @{ Host = $Hosts[5]; Value = '1024,3072,512' }
            @{ Host = $Hosts[6]; Value = '1024,3072,512' }
        )
        foreach ($step in $plan) {
            Set-FleetValue -FleetHost $step.Host -Value ($Typical -f $step.Value)
        }
        $script:Before = @($plan | ForEach-Object { (Get-FleetValue -FleetHost $_.Host).Text })
        Deny-FleetWrite -FleetHost $Hosts[0] -Helper $env:MORVANTA_DACL_HELPER
        # The computer whose session breaks comes first: the others follow it.
        $script:Targets = @(New-FleetSession -FleetHost ($plan | ForEach-Object { $_.Host }) | Sort-Object { $_.ComputerName -ne '127.0.0.8' }, ComputerName)

        $transcript = Join-Path $TestDrive 'whatif.txt'
        Start-Transcript -LiteralPath $transcript
        # -Force skips the questions, never -WhatIf.
        Set-DesktopHeap -Session $Targets -InteractiveKb 20480 -NonInteractiveKb 20480 -WhatIf -Force
        Stop-Transcript
        $script:WhatIf = Get-Content -LiteralPath $transcript -Raw
        $script:AfterWhatIf = @($plan | ForEach-Object { (Get-FleetValue -FleetHost $_.Host).Text })

        $script:Run = Invoke-WithAnswer -Refuse '127.0.0.7' -Command @{ '127.0.0.8' = Get-FleetStopCommand -FleetHost $Hosts[6] } -ArgumentList $env:MORVANTA_MODULE, $Targets -ScriptBlock {
            param($Module, $Sessions)
            Import-Module $Module
            Set-DesktopHeap -Session $Sessions -InteractiveKb 20480 -NonInteractiveKb 20480 -Confirm -PassThru -Verbose
        }
        $script:After = @($plan | ForEach-Object { Get-FleetValue -FleetHost $_.Host })
        $script:Left = @(Get-MorvantaTempItem)
    }
    AfterAll {
        $Targets | Remove-PSSession
    }

    It '-WhatIf says <Text>' -ForEach @(
        @{ Text = 'the interactive desktop heap from 10240 KB to 20480 KB and the non-interactive desktop heap from 512 KB to 20480 KB" on target "127.0.0.2"' }
        @{ Text = 'Set the non-interactive desktop heap from 768 KB to 20480 KB" on target "127.0.0.3"' }
        @{ Text = 'the interactive desktop heap from 3072 KB to 20480 KB and the non-interactive desktop heap from 512 KB to 20480 KB" on target "127.0.0.6"' }
    ) {
        $WhatIf | Should -BeLike "*$Text*"
    }

    It '-WhatIf stores nothing' {
        $AfterWhatIf | Should -Be $Before
    }

    It 'asks once for each computer' {
        @($Run.Questions | ForEach-Object { ([regex]::Match($_, 'on target "([^"]+)"')).Groups[1].Value } | Sort-Object) |
            Should -Be @('127.0.0.2', '127.0.0.3', '127.0.0.4', '127.0.0.6', '127.0.0.7', '127.0.0.8')
    }

    It 'stores <Address> as <Expected>' -ForEach @(
        @{ Index = 0; Address = '127.0.0.2'; Expected = '1024,10240,512' }
        @{ Index = 1; Address = '127.0.0.3'; Expected = '1024,20480,20480' }
        @{ Index = 2; Address = '127.0.0.4'; Expected = '1024,20480,20480' }
        @{ Index = 3; Address = '127.0.0.6'; Expected = '1024,3072,512' }
        @{ Index = 4; Address = '127.0.0.7'; Expected = '1024,3072,512' }
    ) {
        $After[$Index].Type | Should -Be 'REG_EXPAND_SZ'
        $After[$Index].Text | Should -BeExactly ($Typical -f $Expected)
    }

    It 'reports <Address> as <ErrorId>' -ForEach @(
        @{ Address = '127.0.0.2'; ErrorId = 'AccessDenied'; Category = 'PermissionDenied'; Message = '127.0.0.2: an elevated administrator is needed to change the desktop heap size.' }
        @{ Address = '127.0.0.6'; ErrorId = 'SizeOutOfRange'; Category = 'InvalidArgument'; Message = '127.0.0.6: the new size must lie between 1536 and 6144 KB.' }
        @{ Address = '127.0.0.8'; ErrorId = 'SessionBroken'; Category = 'ResourceUnavailable'; Message = '127.0.0.8: the session is broken*' }
    ) {
        # Every error in the message should one be missing or too many.
        @($Run.Errors | ForEach-Object { "$($_.FullyQualifiedErrorId) $($_.TargetObject): $($_.Exception.Message)" }) | Should -HaveCount 3
        $record = @($Run.Errors | Where-Object TargetObject -EQ $Address)
        $record.Count | Should -Be 1
        $record[0].FullyQualifiedErrorId | Should -BeLike "$ErrorId,*"
        $record[0].CategoryInfo.Category | Should -Be $Category
        $record[0].Exception.Message | Should -BeLike $Message
    }

    It 'says per heap what it stored: <Text>' -ForEach @(
        @{ Text = '127.0.0.3: the interactive desktop heap is already 20480 KB.' }
        @{ Text = '127.0.0.3: the non-interactive desktop heap was stored as 20480 KB; it takes effect when Windows restarts.' }
        @{ Text = '127.0.0.4: the interactive desktop heap was stored as 20480 KB; it takes effect when Windows restarts.' }
    ) {
        $Run.Verbose | Should -Contain $Text
    }

    It 'passes through the sizes read after the change' {
        $sorted = @($Run.Output | Sort-Object ComputerName)
        @($sorted | ForEach-Object ComputerName) | Should -Be @('127.0.0.3', '127.0.0.4')
        @($sorted | ForEach-Object NonInteractiveKb) | Should -Be @(20480, 20480)
        @($sorted | ForEach-Object InteractiveKb) | Should -Be @(20480, 20480)
    }

    It 'leaves no temporary folder behind' {
        $Left.Count | Should -Be 0
    }
}

Describe 'Get-DesktopHeap and Set-DesktopHeap -ComputerName: sessions opened for names' {
    BeforeAll {
        # No WinRM here: the stand-in for New-PSSession opens the names over
        # SSH with the real cmdlet, so a name with nothing listening (127.0.0.9)
        # fails with the real cmdlet's own error record.
        $script:Opened = New-Object System.Collections.Generic.List[object]
        Mock -ModuleName Morvanta New-PSSession {
            $options = @{ StrictHostKeyChecking = 'yes'; UserKnownHostsFile = (Join-Path $env:MORVANTA_FLEET 'known_hosts') }
            $key = Join-Path $env:MORVANTA_FLEET 'client_key'
            foreach ($session in Microsoft.PowerShell.Core\New-PSSession -HostName ($ComputerName | ForEach-Object { "root@${_}:2222" }) -KeyFilePath $key -Options $options -ErrorAction SilentlyContinue) {
                $Opened.Add($session)
                $session
            }
        }
        Set-FleetValue -FleetHost $Hosts[1] -Value ($Typical -f '1024,3072,768')
        Set-FleetValue -FleetHost $Hosts[2] -Value ($Typical -f '1024,3072,512')
        $fleetAdmin = New-Object System.Management.Automation.PSCredential -ArgumentList 'fleet-admin', (ConvertTo-SecureString 'unused' -AsPlainText -Force)
        $inputs = @('127.0.0.3', '127.0.0.9', [pscustomobject]@{ DNSHostName = '127.0.0.4' }, [pscustomobject]@{ Name = '127.0.0.6' }, $null, '')
        $script:Heaps = @($inputs | Get-DesktopHeap -Credential $fleetAdmin -ErrorAction SilentlyContinue -ErrorVariable everyNameError)
        # The variable holds New-PSSession's own record too, as for any command
        # that calls another: the module's records are those under its name.
        $script:NameErrors = @($everyNameError | Where-Object FullyQualifiedErrorId -Like '*,Get-DesktopHeap')
        # .3 is at 768 already, .4 goes to it.
        $script:Stored = @(Set-DesktopHeap -ComputerName '127.0.0.3', '127.0.0.9', '127.0.0.4' -NonInteractiveKb 768 -Force -PassThru -ErrorAction SilentlyContinue -ErrorVariable everyStoreError)
        $script:StoreErrors = @($everyStoreError | Where-Object FullyQualifiedErrorId -Like '*,Set-DesktopHeap')
        $script:StoredValue = Get-FleetValue -FleetHost $Hosts[2]
        $script:Stopped = $null
        try {
            $null = Get-DesktopHeap -ComputerName '127.0.0.9', '127.0.0.3' -ErrorAction Stop
        }
        catch {
            $script:Stopped = $_
        }
        # A desktop heap ran out on .3 only: those computers, and no other, go on to the change.
        $transcript = Join-Path $TestDrive 'exhausted.txt'
        Start-Transcript -LiteralPath $transcript
        '127.0.0.3', '127.0.0.4' | Get-DesktopHeap | Where-Object HeapExhausted | Set-DesktopHeap -NonInteractiveKb 4096 -WhatIf
        Stop-Transcript
        $script:ExhaustedWhatIf = Get-Content -LiteralPath $transcript -Raw
        $script:AfterExhausted = @($Hosts[1], $Hosts[2] | ForEach-Object { (Get-FleetValue -FleetHost $_).Text })
    }

    It 'reads <Address> given <How>' -ForEach @(
        @{ Address = '127.0.0.3'; How = 'by value'; NonInteractive = 768 }
        @{ Address = '127.0.0.4'; How = 'as DNSHostName'; NonInteractive = 512 }
        @{ Address = '127.0.0.6'; How = 'as Name'; NonInteractive = 512 }
    ) {
        @($Heaps | Where-Object ComputerName -EQ $Address | ForEach-Object NonInteractiveKb) | Should -Be @($NonInteractive)
    }

    It 'gives <Count> <ErrorId> error(s) when reading' -ForEach @(
        @{ ErrorId = 'ConnectionFailed'; Count = 1 }
        @{ ErrorId = 'EmptyComputerName'; Count = 2 }
    ) {
        $NameErrors.Count | Should -Be 3
        @($NameErrors | Where-Object { $_.FullyQualifiedErrorId -like "$ErrorId,*" }).Count | Should -Be $Count
    }

    It '<Command> names the computer that cannot be reached' -ForEach @(
        @{ Command = 'Get-DesktopHeap'; Errors = 'NameErrors' }
        @{ Command = 'Set-DesktopHeap'; Errors = 'StoreErrors' }
    ) {
        $record = @((Get-Variable -Name $Errors -Scope Script -ValueOnly) | Where-Object { $_.FullyQualifiedErrorId -like 'ConnectionFailed,*' })
        $record.Count | Should -Be 1
        $record[0].TargetObject | Should -Be '127.0.0.9'
        $record[0].CategoryInfo.Category | Should -Be 'OpenError'
        $record[0].Exception.Message | Should -BeLike '127.0.0.9: the session cannot be opened: *'
    }

    It 'stores on the others, and passes through a computer already at that size' {
        $StoreErrors.Count | Should -Be 1
        $StoredValue.Text | Should -BeExactly ($Typical -f '1024,3072,768')
        @($Stored | Sort-Object ComputerName | ForEach-Object { "$($_.ComputerName) $($_.NonInteractiveKb)" }) | Should -Be @('127.0.0.3 768', '127.0.0.4 768')
    }

    It 'stops at the first error with -ErrorAction Stop' {
        $Stopped.FullyQualifiedErrorId | Should -BeLike 'ConnectionFailed,*'
    }

    It 'feeds the computers where a heap ran out to Set-DesktopHeap by their name' {
        $ExhaustedWhatIf | Should -BeLike '*Set the non-interactive desktop heap from 768 KB to 4096 KB" on target "127.0.0.3"*'
        $ExhaustedWhatIf | Should -Not -BeLike '*on target "127.0.0.4"*'
        $AfterExhausted | Should -Be @(($Typical -f '1024,3072,768'), ($Typical -f '1024,3072,768'))
    }

    It 'opens the sessions for all names in one call, with the credential given' {
        Should -Invoke -ModuleName Morvanta New-PSSession -Times 5 -Exactly -Scope Describe
        Should -Invoke -ModuleName Morvanta New-PSSession -Times 1 -Exactly -Scope Describe -ParameterFilter { $null -ne $Credential -and $Credential.UserName -eq 'fleet-admin' }
        $Opened.Count | Should -Be 9
    }

    It 'removes the sessions it opened, whatever failed' {
        @($Opened | Where-Object State -NE 'Closed' | ForEach-Object { "$($_.ComputerName) $($_.State) $($_.Id)" }) | Should -Be @()
    }
}

Describe 'Get-DesktopHeap when Invoke-Command refuses every session for one that broke' {
    BeforeAll {
        # A session that breaks just as a round trip starts makes the real
        # Invoke-Command throw for all of them (InvalidRunspaceStateException
        # or PSRemotingDataStructureException) before any has answered.
        $script:Refused = New-Object System.Collections.Generic.List[object]
        Mock -ModuleName Morvanta Invoke-Command {
            if ($Refused.Count -eq 0) {
                $Refused.Add(@($Session | ForEach-Object ComputerName))
                $Session | Where-Object ComputerName -EQ '127.0.0.4' | Remove-PSSession
                throw (New-Object System.Management.Automation.Runspaces.InvalidRunspaceStateException -ArgumentList 'The runspace state is not valid for this operation.')
            }
            Microsoft.PowerShell.Core\Invoke-Command -Session $Session -ScriptBlock $ScriptBlock -ArgumentList $ArgumentList -ThrottleLimit $ThrottleLimit
        }
        $sessions = @(New-FleetSession -FleetHost $Hosts[1], $Hosts[2])
        $script:Heaps = @(Get-DesktopHeap -Session $sessions -ErrorAction SilentlyContinue -ErrorVariable readErrors)
        $script:ReadErrors = @($readErrors)
        $sessions | Remove-PSSession
    }

    It 'reads the others again without it, and reports it as broken' {
        $Refused[0].Count | Should -Be 2
        Should -Invoke -ModuleName Morvanta Invoke-Command -Times 2 -Exactly -Scope Describe
        @($Heaps | ForEach-Object ComputerName) | Should -Be @('127.0.0.3')
        @($ReadErrors | ForEach-Object { "$($_.FullyQualifiedErrorId) $($_.TargetObject)" }) | Should -Be @('SessionBroken,Get-DesktopHeap 127.0.0.4')
    }
}

Describe 'Windows PowerShell 5.1' {
    BeforeAll {
        # What a file may not hold to load in 5.1, found in its syntax tree.
        function Find-NewerSyntax([System.Management.Automation.Language.Ast] $Ast) {
            $Ast.FindAll({
                    param($node)
                    $node.GetType().Name -in 'TernaryExpressionAst', 'PipelineChainAst' -or
                    ($node -is [System.Management.Automation.Language.BinaryExpressionAst] -and $node.Operator -eq 'QuestionQuestion') -or
                    ($node -is [System.Management.Automation.Language.AssignmentStatementAst] -and $node.Operator -eq 'QuestionQuestionEquals') -or
                    ($node -is [System.Management.Automation.Language.CommandParameterAst] -and $node.ParameterName -in 'Parallel', 'AsByteStream', 'AsHashtable', 'AdditionalChildPath') -or
                    ($node -is [System.Management.Automation.Language.VariableExpressionAst] -and $node.VariablePath.UserPath -in 'IsWindows', 'IsLinux', 'IsMacOS', 'IsCoreCLR') -or
                    ($node -is [System.Management.Automation.Language.ScriptBlockAst] -and $null -ne $node.PSObject.Properties['CleanBlock'] -and $null -ne $node.CleanBlock)
                }, $true)
        }
        function Find-NewerSyntaxInText([string] $Text) {
            Find-NewerSyntax ([System.Management.Automation.Language.Parser]::ParseInput($Text, [ref]$null, [ref]$null))
        }
    }

    It 'finds <Snippet>' -ForEach @(
        @{ Snippet = '$a ? 1 : 2' }
        @{ Snippet = '$a ?? 1' }
        @{ Snippet = '$a ??= 1' }
        @{ Snippet = 'git status && git log' }
        @{ Snippet = 'git status || git log' }
        @{ Snippet = '1..2 | ForEach-Object -Parallel { $_ }' }
        @{ Snippet = 'function f { clean { } }' }
        @{ Snippet = 'if ($IsWindows) { }' }
        @{ Snippet = 'Get-Content x -AsByteStream' }
        @{ Snippet = 'ConvertFrom-Json -AsHashtable' }
        @{ Snippet = 'Join-Path a b -AdditionalChildPath c' }
    ) {
        @(Find-NewerSyntaxInText $Snippet).Count | Should -BeGreaterThan 0
    }

    It '<Name> parses without errors and holds nothing newer' -ForEach @(
        Get-ChildItem -Path (Join-Path $PSScriptRoot '../Morvanta') -Recurse -Include '*.ps1', '*.psm1', '*.psd1' | ForEach-Object { @{ Name = $_.Name; Path = $_.FullName } }
    ) {
        $errors = $null
        $ast = [System.Management.Automation.Language.Parser]::ParseFile($Path, [ref]$null, [ref]$errors)
        $errors | Should -BeNullOrEmpty
        @(Find-NewerSyntax $ast | ForEach-Object { $_.Extent.Text }) | Should -BeNullOrEmpty
    }

    It 'the manifest says where it loads' {
        $manifest = Import-PowerShellDataFile -Path (Join-Path $PSScriptRoot '../Morvanta/Morvanta.psd1')
        $manifest.PowerShellVersion | Should -Be '5.1'
        $manifest.CompatiblePSEditions | Should -Be @('Desktop', 'Core')
        $manifest.FunctionsToExport | Should -Be @('Get-DesktopHeap', 'Get-DesktopHeapProcess', 'New-DesktopHeapRemediation', 'Set-DesktopHeap')
    }

    It 'has help with examples for <Command>' -ForEach @(@{ Command = 'Get-DesktopHeap' }, @{ Command = 'Get-DesktopHeapProcess' }, @{ Command = 'Set-DesktopHeap' }, @{ Command = 'New-DesktopHeapRemediation' }) {
        @((Get-Help $Command -Examples).examples.example).Count | Should -BeGreaterThan 1
    }

    It 'has an about_Morvanta topic that names every command and property' {
        $topic = Get-Help about_Morvanta | Out-String
        $desktop = '{"windowStation":"WinSta0","desktop":"Default","heapKb":20480,"error":null,"account":null,"current":true}'
        $names = @((Get-Module Morvanta).ExportedFunctions.Keys) + (InModuleScope Morvanta -Parameters @{ Desktop = $desktop } {
                param($Desktop)
                ConvertTo-DesktopHeap -ComputerName 'pc' -Run ([pscustomobject]@{ Output = '{"configured":{"sharedKb":1024,"interactiveKb":3072,"nonInteractiveKb":512},"inEffect":null,"restartPending":null,"desktop":' + $Desktop + ',"desktops":[' + $Desktop + '],"sinceStart":null}'; Error = '' })
                ConvertTo-DesktopHeapProcess -ComputerName 'pc' -Run ([pscustomobject]@{ Output = '{"processes":[{"processId":4,"name":"a.exe","account":null,"userObjects":1,"userObjectsPeak":2,"gdiObjects":3,"gdiObjectsPeak":4,"services":null,"nearQuota":null,"windowStation":null}]}'; Error = '' })
            } | ForEach-Object { $_.PSObject.Properties.Name })
        @($names | Where-Object { $topic -notmatch "\b$_\b" }) | Should -BeNullOrEmpty
    }
}

Describe 'New-DesktopHeapRemediation' {
    BeforeAll {
        $folder = Join-Path $TestDrive 'made/here'
        $script:Made = @(New-DesktopHeapRemediation -NonInteractiveKb 4096 -Engine ConfigurationManager -Path $folder)
        $script:Texts = @($Made | ForEach-Object { [System.IO.File]::ReadAllText($_.FullName) })
        Set-Content -LiteralPath $Made[1].FullName -Value 'kept'
        Remove-Item -LiteralPath $Made[0].FullName
        $script:Refused = @(New-DesktopHeapRemediation -NonInteractiveKb 4096 -Path $folder -ErrorAction SilentlyContinue -ErrorVariable refusals)
        $script:Refusals = @($refusals)
        $script:Kept = @(Get-ChildItem -LiteralPath $folder | ForEach-Object { "$($_.Name) $(Get-Content -LiteralPath $_.FullName)" })
        $script:Forced = @(New-DesktopHeapRemediation -InteractiveKb 20480 -Path $folder -Force)
        $script:ForcedText = [System.IO.File]::ReadAllText($Forced[1].FullName)
        New-DesktopHeapRemediation -NonInteractiveKb 4096 -Path (Join-Path $TestDrive 'what-if') -WhatIf
        $programs = Join-Path (Split-Path -Path $env:MORVANTA_MODULE) 'bin'
        $script:Hashes = @('x86', 'x64' | ForEach-Object { (Get-FileHash -Algorithm SHA256 -LiteralPath (Join-Path $programs "$_/MorvantaCli.exe")).Hash })
    }

    It 'writes both scripts into a folder it makes, and gives back their files' {
        @($Made | ForEach-Object { "$($_.GetType().Name) $($_.Name)" }) | Should -Be @('FileInfo Detect-DesktopHeap.ps1', 'FileInfo Remediate-DesktopHeap.ps1')
        $Texts[0] | Should -Match "(?m)^\`$Action = 'Detect'\r\n"
        $Texts[1] | Should -Match "(?m)^\`$Action = 'Remediate'\r\n"
        $Texts -match "\`$Engine = 'ConfigurationManager'\r\n\`$WantedInteractiveKb = 0\r\n\`$WantedNonInteractiveKb = 4096\r\n" | Should -HaveCount 2
        $Texts -match "x86 = '$($Hashes[0])'\r\n    x64 = '$($Hashes[1])'" | Should -HaveCount 2
    }

    It 'replaces nothing without -Force: an error naming the file, nothing written' {
        $Refused.Count | Should -Be 0
        @($Refusals | ForEach-Object { "$($_.FullyQualifiedErrorId) $($_.CategoryInfo.Category) $(Split-Path -Leaf $_.TargetObject)" }) | Should -Be @('ScriptExists,New-DesktopHeapRemediation ResourceExists Remediate-DesktopHeap.ps1')
        $Kept | Should -Be @('Remediate-DesktopHeap.ps1 kept')
    }

    It 'replaces both with -Force' {
        $Forced.Count | Should -Be 2
        $ForcedText | Should -Match "\`$Engine = 'Intune'\r\n\`$WantedInteractiveKb = 20480\r\n\`$WantedNonInteractiveKb = 0\r\n"
    }

    It 'writes nothing with -WhatIf, not even the folder' {
        Join-Path $TestDrive 'what-if' | Should -Not -Exist
    }

    It 'refuses <Name> with the error of Set-DesktopHeap' -ForEach @(
        @{ Name = 'no size'; Arguments = @{}; ErrorId = 'NoSizeGiven' }
        @{ Name = 'a size of 0'; Arguments = @{ NonInteractiveKb = 0 }; ErrorId = 'ParameterArgumentValidationError' }
        @{ Name = 'a size past 32 bits'; Arguments = @{ InteractiveKb = 4294967296 }; ErrorId = 'ParameterArgumentTransformationError' }
    ) {
        $errors = foreach ($command in 'New-DesktopHeapRemediation', 'Set-DesktopHeap') {
            try { & $command @Arguments -WhatIf; 'nothing' } catch { $_.FullyQualifiedErrorId -replace ',.*$' }
        }
        $errors | Should -Be @($ErrorId, $ErrorId)
    }
}
