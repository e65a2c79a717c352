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
# Whatever stops the suite, it ends with the closing line and says why: a
# Pester that throws, a BeforeAll or AfterAll that fails outside any test.
try {
    $result = Invoke-Pester -Configuration $configuration
}
catch {
    "The suite stopped: $($_.Exception.Message)"
    '0 passed, 1 failed'
    exit 1
}
foreach ($failure in @($result.FailedBlocks) + @($result.FailedContainers)) {
    "Failed outside a test, in $($failure.ExpandedPath): $(@($failure.ErrorRecord | ForEach-Object { $_.Exception.Message }) -join '; ')"
}
$failed = $result.FailedCount + $result.FailedBlocksCount + $result.FailedContainersCount
if ($failed -eq 0 -and $result.Result -ne 'Passed') {
    "The suite ended as $($result.Result) with no test failed."
    $failed = 1
}
"$($result.PassedCount) passed, $failed failed"
if ($failed -gt 0) {
    exit 1
}
