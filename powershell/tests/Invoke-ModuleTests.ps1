# Runs one of the module's Pester suites and ends with the closing line that CI reads.
param(
    [Parameter(Mandatory = $true)] [string] $PesterManifest,
    [string] $Path = (Join-Path $PSScriptRoot 'Morvanta.Tests.ps1')
)
Import-Module $PesterManifest
$configuration = New-PesterConfiguration
$configuration.Run.Path = $Path
$configuration.Run.PassThru = $true
$configuration.Output.Verbosity = 'Detailed'
$result = Invoke-Pester -Configuration $configuration
"$($result.PassedCount) passed, $($result.FailedCount) failed"
if ($result.FailedCount -gt 0 -or $result.Result -ne 'Passed') {
    exit 1
}
