# Runs the program's command lines on every target at once and gives one
# result per target: its computer name and either the runs or an error record.

function Get-MorvantaProgramBytes {
    [CmdletBinding()]
    [OutputType([byte[]])]
    param(
        [Parameter(Mandatory = $true)]
        [ValidateSet('x86', 'x64')]
        [string] $Architecture
    )
    $path = Join-Path $PSScriptRoot "..\bin\$Architecture\MorvantaCli.exe"
    $path = [System.IO.Path]::GetFullPath($path.Replace('\', [System.IO.Path]::DirectorySeparatorChar))
    if (-not [System.IO.File]::Exists($path)) {
        throw "The module's copy of MorvantaCli.exe is missing: $path"
    }
    , [System.IO.File]::ReadAllBytes($path)
}

# One result per target, in the order of the targets: ComputerName, and Runs
# (what the program said) or ErrorRecord. Targets are objects with
# ComputerName and Session ($null: this computer).
function Invoke-MorvantaFanOut {
    [CmdletBinding()]
    param(
        [Parameter(Mandatory = $true)] [AllowEmptyCollection()] [object[]] $Target,
        [Parameter(Mandatory = $true)] [string[]] $CommandLine,
        [int] $ThrottleLimit = 32,
        [string] $Activity = 'MorvantaCli.exe'
    )
    if ($Target.Count -eq 0) {
        return
    }
    $arguments = (Get-MorvantaProgramBytes -Architecture x86), (Get-MorvantaProgramBytes -Architecture x64), $CommandLine
    $answers = @{}
    $causes = @{}
    $remote = @($Target | Where-Object { $null -ne $_.Session })
    $open = @($remote | Where-Object { $_.Session.State -eq 'Opened' } | ForEach-Object { $_.Session })
    $total = $open.Count
    $done = 0
    while ($open.Count -gt 0) {
        $remoteErrors = @()
        $answered = $done
        try {
            Invoke-Command -Session $open -ScriptBlock $script:ProgramRunner -ArgumentList $arguments -ThrottleLimit $ThrottleLimit -ErrorAction SilentlyContinue -ErrorVariable remoteErrors |
                ForEach-Object {
                    $answers[[string]$_.RunspaceId] = $_
                    $done++
                    Write-Progress -Activity $Activity -Status "$done of $total computers answered" -PercentComplete (100 * $done / $total)
                }
            $open = @()
        }
        catch {
            # A session that breaks just as the round trip starts makes
            # Invoke-Command throw for all of them before any has answered:
            # again without it, so that one broken computer stops none of the
            # others. Whatever else throws is the cause for each one left.
            $waiting = @($open | Where-Object { -not $answers.ContainsKey([string]$_.InstanceId) })
            $still = @($waiting | Where-Object { $_.State -eq 'Opened' })
            foreach ($session in $waiting) {
                $causes[[string]$session.InstanceId] = $_
            }
            $open = @()
            if ($done -eq $answered -and $still.Count -lt $waiting.Count) {
                $open = $still
            }
        }
        foreach ($failure in $remoteErrors) {
            $origin = $failure.PSObject.Properties['OriginInfo']
            if ($null -ne $origin -and $null -ne $origin.Value) {
                $causes[[string]$origin.Value.RunspaceID] = $failure
            }
        }
    }
    Write-Progress -Activity $Activity -Completed
    foreach ($item in $Target) {
        $name = $item.ComputerName
        $answer = $null
        if ($null -eq $item.Session) {
            $answer = & $script:ProgramRunner @arguments
        }
        else {
            $answer = $answers[[string]$item.Session.InstanceId]
        }
        if ($null -ne $answer) {
            $answer = ConvertFrom-ProgramAnswer -Answer @($answer) -CommandLine $CommandLine
        }
        if ($null -eq $answer) {
            $message = "${name}: the session is broken (state $($item.Session.State))"
            $cause = $causes[[string]$item.Session.InstanceId]
            if ($null -ne $cause) {
                $message += ": $($cause.Exception.Message)"
            }
            $record = New-MorvantaErrorRecord -Message $message -ErrorId 'SessionBroken' -Category ResourceUnavailable -TargetObject $name
            [pscustomobject]@{ ComputerName = $name; Runs = @(); ErrorRecord = $record }
        }
        elseif ($null -ne $answer.NotStarted) {
            $record = New-MorvantaErrorRecord -Message "${name}: $($answer.NotStarted)" -ErrorId 'ProgramNotStarted' -Category PermissionDenied -TargetObject $name
            [pscustomobject]@{ ComputerName = $name; Runs = @(); ErrorRecord = $record }
        }
        else {
            [pscustomobject]@{ ComputerName = $name; Runs = @($answer.Runs); ErrorRecord = $null }
        }
    }
}

# The current sizes of each target, as objects with Target and Heap, or with
# Top, the processes that hold the most USER objects there, as objects with
# Target and Processes; a target that fails gives its error through the
# cmdlet instead.
function Read-DesktopHeap {
    [CmdletBinding()]
    param(
        [Parameter(Mandatory = $true)] [System.Management.Automation.PSCmdlet] $Cmdlet,
        [Parameter(Mandatory = $true)] [AllowEmptyCollection()] [object[]] $Target,
        [int] $ThrottleLimit = 32,
        [ValidateRange(0, 1000)] [int] $Top = 0
    )
    $commandLine = 'status --json'
    $activity = 'Reading desktop heap sizes'
    if ($Top -gt 0) {
        $commandLine = "desktops --json --top $Top"
        $activity = 'Reading who holds objects on the desktops'
    }
    $results = @(Invoke-MorvantaFanOut -Target $Target -CommandLine $commandLine -ThrottleLimit $ThrottleLimit -Activity $activity)
    for ($index = 0; $index -lt $results.Count; $index++) {
        $result = $results[$index]
        if ($null -ne $result.ErrorRecord) {
            $Cmdlet.WriteError($result.ErrorRecord)
        }
        elseif ($result.Runs[0].ExitCode -notin 0, 3010, 1168) {
            $Cmdlet.WriteError((ConvertTo-ProgramErrorRecord -Run $result.Runs[0] -ComputerName $result.ComputerName))
        }
        elseif ($Top -gt 0) {
            [pscustomobject]@{ Target = $Target[$index]; Processes = @(ConvertTo-DesktopHeapProcess -ComputerName $result.ComputerName -Run $result.Runs[0]) }
        }
        else {
            [pscustomobject]@{ Target = $Target[$index]; Heap = ConvertTo-DesktopHeap -ComputerName $result.ComputerName -Run $result.Runs[0] }
        }
    }
}
