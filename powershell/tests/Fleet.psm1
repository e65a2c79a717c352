# The loopback computers that scripts/lib/fleet.sh started, as the module's
# tests and scripts/bench-fleet see them: their sessions, their values under
# their own Wine prefix, and their ends.
Set-StrictMode -Version 2.0

$script:FleetDirectory = [System.IO.Path]::GetFullPath((Join-Path $PSScriptRoot '../../build/fleet'))
$script:SubsystemsKey = 'HKLM\SYSTEM\CurrentControlSet\Control\Session Manager\SubSystems'

function Get-FleetHost {
    [CmdletBinding()]
    param()
    $count = [int](Get-Content -LiteralPath (Join-Path $script:FleetDirectory 'count'))
    for ($number = 2; $number -lt $count + 2; $number++) {
        $folder = Join-Path $script:FleetDirectory "host$number"
        [pscustomobject]@{
            Address    = "127.0.0.$number"
            HostName   = "root@127.0.0.${number}:2222"
            Prefix     = Join-Path $folder 'prefix'
            TempFolder = Join-Path $folder 'tmp'
            PidFile    = Join-Path $folder 'sshd.pid'
            WineEnv    = Join-Path $folder 'wine.env'
            DelayFile  = Join-Path $folder 'delay'
        }
    }
}

# One session per computer, or an error that names the computers whose
# session did not open (and no session left open).
function New-FleetSession {
    [CmdletBinding()]
    param([Parameter(Mandatory = $true)] [object[]] $FleetHost)
    $options = @{ StrictHostKeyChecking = 'yes'; UserKnownHostsFile = (Join-Path $script:FleetDirectory 'known_hosts') }
    $failed = @()
    $sessions = @(New-PSSession -HostName ($FleetHost | ForEach-Object { $_.HostName }) -KeyFilePath (Join-Path $script:FleetDirectory 'client_key') -Options $options -ErrorAction SilentlyContinue -ErrorVariable failed)
    if ($failed.Count -gt 0 -or $sessions.Count -ne $FleetHost.Count) {
        $sessions | Remove-PSSession
        throw "A session to a loopback computer did not open: $(@($failed | ForEach-Object { "$($_.TargetObject): $($_.Exception.Message)" }) -join '; ')"
    }
    $sessions
}

# Wine in a computer's prefix, talking to the server its sessions use.
function Invoke-FleetWine {
    [CmdletBinding()]
    param([Parameter(Mandatory = $true)] [object] $FleetHost, [Parameter(Mandatory = $true)] [string[]] $Arguments)
    # The environment its sessions get, as scripts/lib/fleet.sh wrote it.
    $environment = @{}
    foreach ($line in Get-Content -LiteralPath $FleetHost.WineEnv) {
        $name, $value = $line -split '=', 2
        $environment[$name] = $value
    }
    $saved = @{}
    foreach ($name in $environment.Keys) {
        $saved[$name] = [System.Environment]::GetEnvironmentVariable($name)
        [System.Environment]::SetEnvironmentVariable($name, $environment[$name])
    }
    try {
        & $environment.WINELOADER @Arguments 2>$null
        $LASTEXITCODE
    }
    finally {
        foreach ($name in $saved.Keys) {
            [System.Environment]::SetEnvironmentVariable($name, $saved[$name])
        }
    }
}

function Set-FleetValue {
    [CmdletBinding(SupportsShouldProcess = $true)]
    param([Parameter(Mandatory = $true)] [object] $FleetHost, [Parameter(Mandatory = $true)] [string] $Value)
    if ($PSCmdlet.ShouldProcess($FleetHost.Address, 'Seed the SubSystems value')) {
        $output = Invoke-FleetWine -FleetHost $FleetHost -Arguments 'reg', 'add', $script:SubsystemsKey, '/v', 'Windows', '/t', 'REG_EXPAND_SZ', '/d', $Value, '/f'
        if ($output[-1] -ne 0) {
            throw "reg add failed on $($FleetHost.Address)"
        }
    }
}

# The value's type and text, as reg query prints them.
function Get-FleetValue {
    [CmdletBinding()]
    param([Parameter(Mandatory = $true)] [object] $FleetHost)
    $lines = Invoke-FleetWine -FleetHost $FleetHost -Arguments 'reg', 'query', $script:SubsystemsKey, '/v', 'Windows'
    foreach ($line in $lines) {
        if ("$line" -match '^\s+Windows\s+(REG_\w+)\s+(.*?)\r?$') {
            return [pscustomobject]@{ Type = $Matches[1]; Text = $Matches[2] }
        }
    }
}

# Writes refused on the key while the computer's server runs.
function Deny-FleetWrite {
    [CmdletBinding()]
    param([Parameter(Mandatory = $true)] [object] $FleetHost, [Parameter(Mandatory = $true)] [string] $Helper)
    $output = Invoke-FleetWine -FleetHost $FleetHost -Arguments $Helper, 'D:(D;;0x2;;;WD)(A;;KA;;;WD)'
    if ($output[-1] -ne 0) {
        throw "the DACL could not be set on $($FleetHost.Address)"
    }
}

# The shell command that ends a computer's sshd and the connections it forked,
# by the id in its PidFile.
function Get-FleetStopCommand {
    [CmdletBinding()]
    [OutputType([string])]
    param([Parameter(Mandatory = $true)] [object] $FleetHost)
    $id = [int](Get-Content -LiteralPath $FleetHost.PidFile)
    "pkill -P $id; kill $id"
}

function Stop-FleetHost {
    [CmdletBinding(SupportsShouldProcess = $true)]
    param([Parameter(Mandatory = $true)] [object] $FleetHost)
    if ($PSCmdlet.ShouldProcess($FleetHost.Address, 'Stop sshd')) {
        & sh -c (Get-FleetStopCommand -FleetHost $FleetHost)
    }
}

# Each run of the program there starts this many seconds late (0: on time).
function Set-FleetDelay {
    [CmdletBinding(SupportsShouldProcess = $true)]
    param([Parameter(Mandatory = $true)] [object] $FleetHost, [Parameter(Mandatory = $true)] [int] $Seconds)
    if ($PSCmdlet.ShouldProcess($FleetHost.Address, "Delay the program by $Seconds s")) {
        if ($Seconds -eq 0) {
            Remove-Item -LiteralPath $FleetHost.DelayFile -ErrorAction SilentlyContinue
        }
        else {
            Set-Content -LiteralPath $FleetHost.DelayFile -Value $Seconds
        }
    }
}

# The tests' own wevtapi.dll in a computer's system folder in place of
# Wine's, serving the lines given (the stand-in's events file); with no
# Line, Wine's own goes back.
function Set-FleetEventLog {
    [CmdletBinding(SupportsShouldProcess = $true)]
    param([Parameter(Mandatory = $true)] [object] $FleetHost, [string] $StandIn, [string[]] $Line)
    $system = Join-Path $FleetHost.Prefix 'drive_c/windows/system32'
    $wine = Join-Path $system 'wevtapi.dll.wine'
    if (-not $PSCmdlet.ShouldProcess($FleetHost.Address, 'Swap wevtapi.dll')) {
        return
    }
    if ($null -eq $Line) {
        Remove-Item -LiteralPath (Join-Path $system 'wevtapi.events') -ErrorAction SilentlyContinue
        if (Test-Path -LiteralPath $wine) {
            Move-Item -LiteralPath $wine -Destination (Join-Path $system 'wevtapi.dll') -Force
        }
        return
    }
    if (-not (Test-Path -LiteralPath $wine)) {
        Move-Item -LiteralPath (Join-Path $system 'wevtapi.dll') -Destination $wine
    }
    Copy-Item -LiteralPath $StandIn -Destination (Join-Path $system 'wevtapi.dll') -Force
    Set-Content -LiteralPath (Join-Path $system 'wevtapi.events') -Value $Line
}

# Runs a script block in a runspace of its own whose host answers each
# confirmation question (AnswerHost.cs): No for the computers in Refuse, Yes
# for the others, after running the shell command that Command gives for the
# computer. Gives its output, errors, verbose messages and the questions asked.
function Invoke-WithAnswer {
    [CmdletBinding()]
    param(
        [Parameter(Mandatory = $true)] [scriptblock] $ScriptBlock,
        [object[]] $ArgumentList = @(),
        [string[]] $Refuse = @(),
        [hashtable] $Command = @{}
    )
    if (-not ('AnswerHost' -as [type])) {
        Add-Type -Path (Join-Path $PSScriptRoot 'AnswerHost.cs')
    }
    $commands = New-Object 'System.Collections.Generic.Dictionary[string,string]'
    foreach ($name in $Command.Keys) {
        $commands[$name] = $Command[$name]
    }
    $answerHost = New-Object AnswerHost -ArgumentList (, $Refuse), $commands
    $runspace = [runspacefactory]::CreateRunspace($answerHost)
    $runspace.Open()
    $shell = [powershell]::Create()
    try {
        $shell.Runspace = $runspace
        $null = $shell.AddScript($ScriptBlock.ToString())
        foreach ($argument in $ArgumentList) {
            $null = $shell.AddArgument($argument)
        }
        $output = @($shell.Invoke())
        [pscustomobject]@{
            Output    = $output
            Errors    = @($shell.Streams.Error)
            Verbose   = @($shell.Streams.Verbose | ForEach-Object Message)
            Questions = @($answerHost.Questions)
        }
    }
    finally {
        $shell.Dispose()
        $runspace.Dispose()
    }
}

Export-ModuleMember -Function Get-FleetHost, New-FleetSession, Invoke-FleetWine, Set-FleetValue, Get-FleetValue, Deny-FleetWrite, Get-FleetStopCommand, Stop-FleetHost, Set-FleetDelay, Set-FleetEventLog, Invoke-WithAnswer
