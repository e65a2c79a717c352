function New-DesktopHeapRemediation {
    <#
    .SYNOPSIS
    Writes a detection and a remediation script that bring the desktop heap sizes of managed computers to at least the sizes given.

    .DESCRIPTION
    Writes Detect-DesktopHeap.ps1 and Remediate-DesktopHeap.ps1 for Intune
    Remediations or for a Configuration Manager configuration item. Both are
    self-contained: each carries MorvantaCli.exe for x86 and x64 with their
    SHA-256, runs as SYSTEM in Windows PowerShell 5.1 or PowerShell 7, in a 32-bit
    or a 64-bit host, and needs nothing installed on the computer. Each writes the
    program for the computer's bitness into a new folder of the temporary folder
    that only SYSTEM, the Administrators and the account that runs the script may
    enter, checks its SHA-256 before starting it, and removes the folder whatever
    happens.

    A computer is compliant when each size given is configured at least that large;
    a larger size is never lowered, and a restart still pending does not make a
    computer non-compliant. The remediation raises each size below the one given
    through MorvantaCli.exe set, which rewrites only that number and keeps every
    other character of the Windows subsystem command line. Neither script restarts
    the computer: the sizes take effect at its next restart.

    For Intune, detection writes one line that begins "Compliant:" or "Not
    compliant:" and ends with exit code 1 when the computer is not compliant or
    cannot be checked. For Configuration Manager, detection writes exactly
    "Compliant", or "NonCompliant: " and the facts, with exit code 0 either way
    (the rule of the setting compares the output); a computer that cannot be
    checked gives exit code 1 and one line on standard error. The remediation ends
    with exit code 0 and a line that begins "Stored:" when it stored a size, or
    with exit code 1 and a line on standard error that gives the reason.

    The scripts are ASCII with CR LF line ends, so they can be signed with
    Set-AuthenticodeSignature, or off Windows as the release's files are.

    .PARAMETER InteractiveKb
    The least interactive desktop heap size in KB (the second SharedSection number).

    .PARAMETER NonInteractiveKb
    The least non-interactive desktop heap size in KB (the third SharedSection
    number): the heap of services, build agents and what they start.

    .PARAMETER Path
    The folder to write the scripts into, made when missing. The default is the
    current folder.

    .PARAMETER Engine
    Intune (the default) or ConfigurationManager: how detection reports.

    .PARAMETER Force
    Replaces scripts that exist already.

    .EXAMPLE
    New-DesktopHeapRemediation -NonInteractiveKb 4096 -Path .\remediation

    Writes the pair for Intune Remediations: every computer gets a non-interactive
    desktop heap of at least 4096 KB.

    .EXAMPLE
    New-DesktopHeapRemediation -InteractiveKb 20480 -NonInteractiveKb 4096 -Engine ConfigurationManager -Path .\ci | Set-AuthenticodeSignature -Certificate (Get-ChildItem Cert:\CurrentUser\My -CodeSigningCert)[0]

    Writes the pair for a Configuration Manager configuration item and signs both
    scripts, for clients that run scripts under AllSigned.

    .OUTPUTS
    System.IO.FileInfo
    #>
    [CmdletBinding(SupportsShouldProcess = $true)]
    [OutputType([System.IO.FileInfo])]
    param(
        [ValidateRange(1, 4294967295)]
        [uint32] $InteractiveKb,

        [ValidateRange(1, 4294967295)]
        [uint32] $NonInteractiveKb,

        [Parameter(ValueFromPipeline = $true, ValueFromPipelineByPropertyName = $true)]
        [Alias('FullName')]
        [ValidateNotNullOrEmpty()]
        [string] $Path = '.',

        [ValidateSet('Intune', 'ConfigurationManager')]
        [string] $Engine = 'Intune',

        [switch] $Force
    )

    begin {
        if (-not $PSBoundParameters.ContainsKey('InteractiveKb') -and -not $PSBoundParameters.ContainsKey('NonInteractiveKb')) {
            $PSCmdlet.ThrowTerminatingError((New-MorvantaErrorRecord -Message 'Give -InteractiveKb, -NonInteractiveKb or both.' -ErrorId 'NoSizeGiven' -Category InvalidArgument -TargetObject $null))
        }
        $settings = Get-RemediationSetting -Engine $Engine -InteractiveKb $InteractiveKb -NonInteractiveKb $NonInteractiveKb
        $template = Get-RemediationTemplate
    }

    process {
        $folder = $PSCmdlet.GetUnresolvedProviderPathFromPSPath($Path)
        $scripts = [ordered]@{ 'Detect-DesktopHeap.ps1' = 'detection'; 'Remediate-DesktopHeap.ps1' = 'remediation' }
        $existing = @($scripts.Keys | ForEach-Object { Join-Path $folder $_ } | Where-Object { Test-Path -LiteralPath $_ })
        if ($existing.Count -gt 0 -and -not $Force) {
            foreach ($file in $existing) {
                $PSCmdlet.WriteError((New-MorvantaErrorRecord -Message "$file exists already; nothing was written. Give -Force to replace it." -ErrorId 'ScriptExists' -Category ResourceExists -TargetObject $file))
            }
            return
        }
        foreach ($name in $scripts.Keys) {
            $file = Join-Path $folder $name
            if (-not $PSCmdlet.ShouldProcess($file, "Write the $Engine $($scripts[$name]) script")) {
                continue
            }
            $null = [System.IO.Directory]::CreateDirectory($folder)
            $action = @{ detection = 'Detect'; remediation = 'Remediate' }[$scripts[$name]]
            $text = $template.Replace('#%%SETTINGS%%', $settings.Replace('#%%ACTION%%', "`$Action = '$action'"))
            [System.IO.File]::WriteAllText($file, $text, [System.Text.Encoding]::ASCII)
            Get-Item -LiteralPath $file
        }
    }
}
