# Get-DesktopHeap against its floor over the loopback computers of
# scripts/lib/fleet.sh: a bare Invoke-Command over the same sessions that
# starts MorvantaCli.exe status --json, written beforehand into each
# computer's temporary folder, through the same Wine line as the module.
# One warm-up each, then alternated pairs; medians, and their ratio.
param(
    [Parameter(Mandatory = $true)] [string] $ModuleManifest,
    [int] $Pairs = 9
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
    $path = Join-Path ([System.IO.Path]::GetTempPath()) 'MorvantaBench/MorvantaCli.exe'
    $info = New-Object System.Diagnostics.ProcessStartInfo
    $info.UseShellExecute = $false
    $info.RedirectStandardOutput = $true
    $info.RedirectStandardError = $true
    $info.FileName = 'wine'
    foreach ($argument in 'cmd', '/v:on', '/c', ('Z:' + $path.Replace('/', '\') + ' status --json & echo !errorlevel!')) {
        $info.ArgumentList.Add($argument)
    }
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

foreach ($count in 1, 4) {
    $sessions = @(New-FleetSession -FleetHost $hosts[0..($count - 1)])
    try {
        Invoke-Command -Session $sessions -ArgumentList (, $program) {
            param($bytes)
            $folder = Join-Path ([System.IO.Path]::GetTempPath()) 'MorvantaBench'
            $null = [System.IO.Directory]::CreateDirectory($folder)
            [System.IO.File]::WriteAllBytes((Join-Path $folder 'MorvantaCli.exe'), $bytes)
        }
        $null = Get-DesktopHeap -Session $sessions
        $null = Invoke-Command -Session $sessions -ScriptBlock $floor
        $moduleSeconds = New-Object System.Collections.Generic.List[double]
        $floorSeconds = New-Object System.Collections.Generic.List[double]
        for ($pair = 0; $pair -lt $Pairs; $pair++) {
            $moduleSeconds.Add((Measure-Command { $null = Get-DesktopHeap -Session $sessions }).TotalSeconds)
            $floorSeconds.Add((Measure-Command { $null = Invoke-Command -Session $sessions -ScriptBlock $floor }).TotalSeconds)
        }
        $moduleMedian = Get-Median $moduleSeconds.ToArray()
        $floorMedian = Get-Median $floorSeconds.ToArray()
        '{0} computer(s): Get-DesktopHeap {1:F3} s, floor {2:F3} s (medians of {3} pairs)' -f $count, $moduleMedian, $floorMedian, $Pairs
        $ratio = $moduleMedian / $floorMedian
    }
    finally {
        Invoke-Command -Session $sessions {
            [System.IO.Directory]::Delete((Join-Path ([System.IO.Path]::GetTempPath()) 'MorvantaBench'), $true)
        }
        $sessions | Remove-PSSession
    }
}
'ratio {0:F2}' -f $ratio
