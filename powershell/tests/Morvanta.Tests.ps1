# The module over real PowerShell remoting: loopback computers, each an sshd
# whose sessions run MorvantaCli.exe under Wine in a prefix of their own.
# Three real runs in BeforeAll, their assertions as rows.
BeforeAll {
    Import-Module (Join-Path $PSScriptRoot 'Fleet.psm1') -Force
    Import-Module $env:MORVANTA_MODULE -Force
    $script:Typical = '%SystemRoot%\system32\csrss.exe ObjectDirectory=\Windows SharedSection={0} Windows=On SubSystemType=Windows ServerDll=basesrv,1 ServerDll=winsrv:UserServerDllInitialization,3 ServerDll=sxssrv,4 ProfileControl=Off MaxRequestThreads=16'
    $script:Hosts = @(Get-FleetHost)
    function Get-MorvantaTempItem {
        $script:Hosts | ForEach-Object { Get-ChildItem -LiteralPath $_.TempFolder -Filter 'Morvanta-*' }
    }
}

Describe 'Get-DesktopHeap over sessions from the pipeline, one of them broken' {
    BeforeAll {
        $values = '1024,3072,512', '1024,20480,768', '1024,3072', '1024,4096,1024'
        for ($index = 0; $index -lt 4; $index++) {
            Set-FleetValue -FleetHost $Hosts[$index] -Value ($Typical -f $values[$index])
        }
        $script:Sessions = @(New-FleetSession -FleetHost $Hosts[0..3])
        Stop-FleetHost -FleetHost $Hosts[3]
        $script:Heaps = @($Sessions | Get-DesktopHeap -ErrorAction SilentlyContinue -ErrorVariable readErrors)
        $script:ReadErrors = @($readErrors)
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
    }

    It 'gives one SessionBroken error, naming the broken computer' {
        $ReadErrors.Count | Should -Be 1
        $ReadErrors[0].FullyQualifiedErrorId | Should -BeLike 'SessionBroken,*'
        $ReadErrors[0].CategoryInfo.Category | Should -Be 'ResourceUnavailable'
        $ReadErrors[0].TargetObject | Should -Be '127.0.0.5'
    }

    It 'leaves the sessions it was given open' {
        # Sessions open in any order: the broken one is found by its name.
        @($Sessions | Where-Object { $_.ComputerName -ne '127.0.0.5' -and $_.State -eq 'Opened' }).Count | Should -Be 3
    }

    It 'leaves no temporary folder behind' {
        $Left.Count | Should -Be 0
    }

    It 'exports exactly its own columns' {
        $Csv[0] | Should -Be '"ComputerName","SharedKb","InteractiveKb","NonInteractiveKb","InEffectSharedKb","InEffectInteractiveKb","InEffectNonInteractiveKb","RestartPending","InEffectUnknownReason"'
        $Csv.Count | Should -Be 4
    }
}

Describe 'Set-DesktopHeap: -WhatIf, then for real' {
    BeforeAll {
        # 127.0.0.2 refuses writes, .3 goes from 768 to 20480 in one step, .4
        # takes both sizes (the non-interactive one only once the interactive
        # one is stored), .6 is out of range.
        $plan = @(
            @{ Host = $Hosts[0]; Value = '1024,10240,512' }
            @{ Host = $Hosts[1]; Value = '1024,20480,768' }
            @{ Host = $Hosts[2]; Value = '1024,10240,512' }
            @{ Host = $Hosts[4]; Value = '1024,3072,512' }
        )
        foreach ($step in $plan) {
            Set-FleetValue -FleetHost $step.Host -Value ($Typical -f $step.Value)
        }
        $script:Before = @($plan | ForEach-Object { (Get-FleetValue -FleetHost $_.Host).Text })
        Deny-FleetWrite -FleetHost $Hosts[0] -Helper $env:MORVANTA_DACL_HELPER
        $script:Targets = @(New-FleetSession -FleetHost ($plan | ForEach-Object { $_.Host }))

        $transcript = Join-Path $TestDrive 'whatif.txt'
        Start-Transcript -LiteralPath $transcript
        # -Force skips the questions, never -WhatIf.
        Set-DesktopHeap -Session $Targets -InteractiveKb 20480 -NonInteractiveKb 20480 -WhatIf -Force
        Stop-Transcript
        $script:WhatIf = Get-Content -LiteralPath $transcript -Raw
        $script:AfterWhatIf = @($plan | ForEach-Object { (Get-FleetValue -FleetHost $_.Host).Text })

        $script:Verbose = @(Set-DesktopHeap -Session $Targets -InteractiveKb 20480 -NonInteractiveKb 20480 -Force -PassThru -ErrorAction SilentlyContinue -ErrorVariable storeErrors -Verbose 4>&1)
        $script:StoreErrors = @($storeErrors)
        $script:Passed = @($Verbose | Where-Object { $_ -isnot [System.Management.Automation.VerboseRecord] })
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

    It 'stores <Address> as <Expected>' -ForEach @(
        @{ Index = 0; Address = '127.0.0.2'; Expected = '1024,10240,512' }
        @{ Index = 1; Address = '127.0.0.3'; Expected = '1024,20480,20480' }
        @{ Index = 2; Address = '127.0.0.4'; Expected = '1024,20480,20480' }
        @{ Index = 3; Address = '127.0.0.6'; Expected = '1024,3072,512' }
    ) {
        $After[$Index].Type | Should -Be 'REG_EXPAND_SZ'
        $After[$Index].Text | Should -BeExactly ($Typical -f $Expected)
    }

    It 'reports <Address> as <ErrorId>' -ForEach @(
        @{ Address = '127.0.0.2'; ErrorId = 'AccessDenied'; Category = 'PermissionDenied'; Message = '127.0.0.2: an elevated administrator is needed to change the desktop heap size.' }
        @{ Address = '127.0.0.6'; ErrorId = 'SizeOutOfRange'; Category = 'InvalidArgument'; Message = '127.0.0.6: the new size must lie between 1536 and 6144 KB.' }
    ) {
        $record = @($StoreErrors | Where-Object TargetObject -EQ $Address)
        $record.Count | Should -Be 1
        $record[0].FullyQualifiedErrorId | Should -BeLike "$ErrorId,*"
        $record[0].CategoryInfo.Category | Should -Be $Category
        $record[0].Exception.Message | Should -BeExactly $Message
    }

    It 'has no other error' {
        $StoreErrors.Count | Should -Be 2
    }

    It 'says per heap what it stored: <Text>' -ForEach @(
        @{ Text = '127.0.0.3: the interactive desktop heap is already 20480 KB.' }
        @{ Text = '127.0.0.3: the non-interactive desktop heap was stored as 20480 KB; it takes effect when Windows restarts.' }
        @{ Text = '127.0.0.4: the interactive desktop heap was stored as 20480 KB; it takes effect when Windows restarts.' }
    ) {
        @($Verbose | Where-Object { $_ -is [System.Management.Automation.VerboseRecord] } | ForEach-Object Message) | Should -Contain $Text
    }

    It 'passes through the sizes read after the change' {
        $sorted = @($Passed | Sort-Object ComputerName)
        @($sorted | ForEach-Object ComputerName) | Should -Be @('127.0.0.3', '127.0.0.4')
        @($sorted | ForEach-Object NonInteractiveKb) | Should -Be @(20480, 20480)
        @($sorted | ForEach-Object InteractiveKb) | Should -Be @(20480, 20480)
    }

    It 'leaves no temporary folder behind' {
        $Left.Count | Should -Be 0
    }
}

Describe 'Get-DesktopHeap -ComputerName, sessions opened for it (New-PSSession mocked: no WinRM here)' {
    BeforeAll {
        $script:Opened = New-Object System.Collections.Generic.List[object]
        Mock -ModuleName Morvanta New-PSSession {
            $options = @{ StrictHostKeyChecking = 'yes'; UserKnownHostsFile = (Join-Path $env:MORVANTA_FLEET 'known_hosts') }
            $key = Join-Path $env:MORVANTA_FLEET 'client_key'
            foreach ($session in Microsoft.PowerShell.Core\New-PSSession -HostName ($ComputerName | ForEach-Object { "root@${_}:2222" }) -KeyFilePath $key -Options $options) {
                $Opened.Add($session)
                $session
            }
        }
        Set-FleetValue -FleetHost $Hosts[1] -Value ($Typical -f '1024,3072,768')
        $inputs = @('127.0.0.3', [pscustomobject]@{ DNSHostName = '127.0.0.4' }, [pscustomobject]@{ Name = '127.0.0.6' }, $null, '')
        $script:Heaps = @($inputs | Get-DesktopHeap -ErrorAction SilentlyContinue -ErrorVariable nameErrors)
        $script:NameErrors = @($nameErrors)
    }

    It 'reads <Address> given <How>' -ForEach @(
        @{ Address = '127.0.0.3'; How = 'by value'; NonInteractive = 768 }
        @{ Address = '127.0.0.4'; How = 'as DNSHostName'; NonInteractive = 20480 }
        @{ Address = '127.0.0.6'; How = 'as Name'; NonInteractive = 512 }
    ) {
        @($Heaps | Where-Object ComputerName -EQ $Address | ForEach-Object NonInteractiveKb) | Should -Be @($NonInteractive)
    }

    It 'opens the sessions for all names in one call' {
        Should -Invoke -ModuleName Morvanta New-PSSession -Times 1 -Exactly -Scope Describe
        $Opened.Count | Should -Be 3
    }

    It 'removes the sessions it opened' {
        @($Opened | Where-Object State -NE 'Closed').Count | Should -Be 0
    }

    It 'gives an EmptyComputerName error for each null or empty name' {
        @($NameErrors | Where-Object { $_.FullyQualifiedErrorId -like 'EmptyComputerName,*' }).Count | Should -Be 2
        $NameErrors.Count | Should -Be 2
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
        $manifest.FunctionsToExport | Should -Be @('Get-DesktopHeap', 'Set-DesktopHeap')
    }

    It 'has help with examples for <Command>' -ForEach @(@{ Command = 'Get-DesktopHeap' }, @{ Command = 'Set-DesktopHeap' }) {
        @((Get-Help $Command -Examples).examples.example).Count | Should -BeGreaterThan 1
    }
}
