# Get-DesktopHeap against its floor over the loopback computers of
# scripts/lib/fleet.sh: a bare Invoke-Command over the same sessions that
# starts MorvantaCli.exe status --json, written beforehand into each
# computer's temporary folder, through the same Wine line as the module and
# with no cmdlet.
# For each count of computers: one warm-up each, then alternated pairs;
# medians of the times, the client's own processor time per computer, each
# computer's own (its session's process) per call, and the ratio of the
# medians.
param(
    [Parameter(Mandatory = $true)] [string] $ModuleManifest,
    [int[]] $Count = @(1, 4, 16),
    [int] $Pairs = 7
)
$ErrorActionPreference = 'Stop'
Import-Module (Join-Path $PSScriptRoot '../tests/Fleet.psm1')
Import-Module $ModuleManifest
$hosts = @(Get-FleetHost)
foreach ($fleetHost in $hosts) {
    Set-FleetValue -FleetHost $fleetHost -Value '%SystemRoot%\system32\csrss.exe ObjectDirectory=\Windows SharedSection=1024,3072,512 Windows=On SubSystemType=Windows'
}
$program = [System.IO.File]::ReadAllBytes((Join-Path (Split-Path $ModuleManifest) 'bin/x64/MorvantaCli.exe'))

$floor = {
    $path = [System.IO.Path]::Combine([System.IO.Path]::GetTempPath(), 'MorvantaBench', 'MorvantaCli.exe')
    $info = [System.Diagnostics.ProcessStartInfo]::new('wine', "cmd /v:on /c `"Z:$($path.Replace('/', '\')) status --json & echo !errorlevel!`"")
    $info.UseShellExecute = $false
    $info.RedirectStandardOutput = $info.RedirectStandardError = $true
    $process = [System.Diagnostics.Process]::Start($info)
    $outputTask = $process.StandardOutput.ReadToEndAsync()
    $null = $process.StandardError.ReadToEnd()
    $process.WaitForExit()
    $outputTask.Result
}

function Get-Median([double[]] $Values) {
    $sorted = @($Values | Sort-Object)
    $sorted[[int][math]::Floor($sorted.Count / 2)]
}

# The processor time of every session's own process so far, in ms, summed:
# read by a call of its own, outside the timed one.
function Get-SessionProcessorMs([object[]] $Sessions) {
    $times = Invoke-Command -Session $Sessions { [System.Diagnostics.Process]::GetCurrentProcess().TotalProcessorTime.TotalMilliseconds }
    ($times | Measure-Object -Sum).Sum
}

# Seconds of the call, the processor time this process spent in it, and
# that of the sessions' processes on the computers.
function Measure-Call([object[]] $Sessions, [scriptblock] $Call) {
    $process = [System.Diagnostics.Process]::GetCurrentProcess()
    $remoteBefore = Get-SessionProcessorMs $Sessions
    $before = $process.TotalProcessorTime
    $seconds = (Measure-Command $Call).TotalSeconds
    $process.Refresh()
    $clientMs = ($process.TotalProcessorTime - $before).TotalMilliseconds
    [pscustomobject]@{ Seconds = $seconds; ProcessorMs = $clientMs; RemoteMs = (Get-SessionProcessorMs $Sessions) - $remoteBefore }
}

foreach ($computers in $Count) {
    if ($computers -gt $hosts.Count) {
        throw "$computers computers asked for, $($hosts.Count) started."
    }
    $sessions = @(New-FleetSession -FleetHost $hosts[0..($computers - 1)])
    try {
        Invoke-Command -Session $sessions -ArgumentList (, $program) {
            param($bytes)
            $folder = Join-Path ([System.IO.Path]::GetTempPath()) 'MorvantaBench'
            $null = [System.IO.Directory]::CreateDirectory($folder)
            [System.IO.File]::WriteAllBytes((Join-Path $folder 'MorvantaCli.exe'), $bytes)
        }
        $read = @(Get-DesktopHeap -Session $sessions)
        if ($read.Count -ne $computers) {
            throw "Get-DesktopHeap answered for $($read.Count) of $computers computers."
        }
        $null = Invoke-Command -Session $sessions -ScriptBlock $floor
        $module = New-Object System.Collections.Generic.List[object]
        $bare = New-Object System.Collections.Generic.List[object]
        # The sessions' processes are still warming up, call by call: each
        # goes first in every other pair, so that neither always follows
        # the other.
        for ($pair = 0; $pair -lt $Pairs; $pair++) {
            if ($pair % 2 -eq 1) {
                $bare.Add((Measure-Call $sessions { $null = Invoke-Command -Session $sessions -ScriptBlock $floor }))
            }
            $module.Add((Measure-Call $sessions { $null = Get-DesktopHeap -Session $sessions }))
            if ($pair % 2 -eq 0) {
                $bare.Add((Measure-Call $sessions { $null = Invoke-Command -Session $sessions -ScriptBlock $floor }))
            }
        }
        $moduleMedian = Get-Median ($module | ForEach-Object Seconds)
        $floorMedian = Get-Median ($bare | ForEach-Object Seconds)
        '{0} computers: Get-DesktopHeap {1:F3} s, floor {2:F3} s (medians of {3} pairs); client processor time per computer: module {4:F1} ms, floor {5:F1} ms; each computer''s own per call: module {6:F1} ms, floor {7:F1} ms; ratio {8:F2}' -f
            $computers, $moduleMedian, $floorMedian, $Pairs,
            ((Get-Median ($module | ForEach-Object ProcessorMs)) / $computers),
            ((Get-Median ($bare | ForEach-Object ProcessorMs)) / $computers),
            ((Get-Median ($module | ForEach-Object RemoteMs)) / $computers),
            ((Get-Median ($bare | ForEach-Object RemoteMs)) / $computers),
            ($moduleMedian / $floorMedian)
    }
    finally {
        Invoke-Command -Session $sessions {
            [System.IO.Directory]::Delete((Join-Path ([System.IO.Path]::GetTempPath()) 'MorvantaBench'), $true)
        }
        $sessions | Remove-PSSession
    }
}
