# The scripts for fleet engines: one template, and the settings that make a
# detection or a remediation script of it.

# The template as text with CR LF ends, without the signature that a signed
# release gives it: a script made of it is signed, if at all, on its own.
function Get-RemediationTemplate {
    [CmdletBinding()]
    [OutputType([string])]
    param()
    $path = Join-Path $PSScriptRoot '..\Templates\DesktopHeapRemediation.ps1'
    $path = [System.IO.Path]::GetFullPath($path.Replace('\', [System.IO.Path]::DirectorySeparatorChar))
    $text = [System.IO.File]::ReadAllText($path) -replace '(?s)\r?\n# SIG # Begin signature block\r?\n.*$', "`n"
    $text -replace '\r?\n', "`r`n"
}

# What both scripts are made with: the engine, the sizes wanted (0: not
# asked), and both programs with their SHA-256.
function Get-RemediationSetting {
    [CmdletBinding()]
    [OutputType([string])]
    param(
        [Parameter(Mandatory = $true)] [string] $Engine,
        [uint32] $InteractiveKb,
        [uint32] $NonInteractiveKb
    )
    $module = $MyInvocation.MyCommand.Module
    $lines = @(
        "# Made by New-DesktopHeapRemediation of $($module.Name) $($module.Version)."
        '#%%ACTION%%'
        "`$Engine = '$Engine'"
        "`$WantedInteractiveKb = $InteractiveKb"
        "`$WantedNonInteractiveKb = $NonInteractiveKb"
    )
    $hashes = @('$ProgramSha256 = @{')
    $programs = @('$ProgramBase64 = @{')
    $algorithm = [System.Security.Cryptography.SHA256]::Create()
    try {
        foreach ($architecture in 'x86', 'x64') {
            $bytes = Get-MorvantaProgramBytes -Architecture $architecture
            $hashes += "    $architecture = '$([System.BitConverter]::ToString($algorithm.ComputeHash($bytes)).Replace('-', ''))'"
            $programs += "    $architecture = @'", [System.Convert]::ToBase64String($bytes, [System.Base64FormattingOptions]::InsertLineBreaks), "'@"
        }
    }
    finally {
        $algorithm.Dispose()
    }
    ($lines + $hashes + '}' + $programs + '}') -join "`r`n"
}
