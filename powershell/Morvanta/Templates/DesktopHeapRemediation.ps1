# The desktop heap sizes of this computer, for the engine that manages it
# (Intune Remediations, or a Configuration Manager configuration item), made
# by New-DesktopHeapRemediation of the Morvanta module. It runs as SYSTEM in
# Windows PowerShell 5.1 or PowerShell 7, 32-bit or 64-bit, and needs nothing
# installed: it carries MorvantaCli.exe for x86 and x64, which reads the sizes
# from SharedSection= of the Windows subsystem command line and rewrites only
# the number asked for, every other character of that command line kept.
# A size already larger is never lowered. It never restarts the computer.
#
# Change nothing: each program is checked against its SHA-256 before it
# starts, and a signature covers every line.

#%%SETTINGS%%

Set-StrictMode -Version 2.0
$ErrorActionPreference = 'Stop'

$KeyPath = 'SYSTEM\CurrentControlSet\Control\Session Manager\SubSystems'
$MaxLineChars = 2048 # what Intune keeps of a line

# Full control for SYSTEM, the Administrators and this account, for the
# folder and all in it, and nothing inherited. SYSTEM's temporary folder lets
# other users create files, and a folder that inherited from it would too.
function New-FolderSecurity {
    $security = New-Object System.Security.AccessControl.DirectorySecurity
    $security.SetAccessRuleProtection($true, $false)
    $accounts = @('S-1-5-18', 'S-1-5-32-544', [System.Security.Principal.WindowsIdentity]::GetCurrent().User.Value) | Select-Object -Unique
    foreach ($account in $accounts) {
        $identity = New-Object System.Security.Principal.SecurityIdentifier -ArgumentList $account
        $security.AddAccessRule((New-Object System.Security.AccessControl.FileSystemAccessRule -ArgumentList $identity, 'FullControl', 'ContainerInherit, ObjectInherit', 'None', 'Allow'))
    }
    $security
}

# A new folder under the temporary folder with that access list, given as it
# is made, never afterwards.
function New-ProtectedFolder {
    param([Parameter(Mandatory = $true)] [string] $Parent)
    $folder = Join-Path $Parent ('Morvanta-' + [guid]::NewGuid().ToString('N'))
    $security = New-FolderSecurity
    $directory = New-Object System.IO.DirectoryInfo -ArgumentList $folder
    if ($directory.Exists) {
        throw "the folder $folder exists already"
    }
    # .NET Framework makes it through DirectoryInfo, .NET through the extension.
    $extensions = 'System.IO.FileSystemAclExtensions' -as [type]
    if ($null -ne $extensions) {
        $extensions::Create($directory, $security)
    }
    else {
        $directory.Create($security)
    }
    $folder
}

function Get-Sha256 {
    param([Parameter(Mandatory = $true)] [string] $Path)
    $algorithm = [System.Security.Cryptography.SHA256]::Create()
    try {
        [System.BitConverter]::ToString($algorithm.ComputeHash([System.IO.File]::ReadAllBytes($Path))).Replace('-', '')
    }
    finally {
        $algorithm.Dispose()
    }
}

# The program's exit code and what it wrote, both streams read at once: a
# full pipe would stop it.
function Invoke-Program {
    param([Parameter(Mandatory = $true)] [string] $Program, [Parameter(Mandatory = $true)] [string] $Arguments)
    $utf8 = New-Object System.Text.UTF8Encoding -ArgumentList $false
    $info = New-Object System.Diagnostics.ProcessStartInfo
    $info.FileName = $Program
    $info.Arguments = $Arguments
    $info.UseShellExecute = $false
    $info.CreateNoWindow = $true
    $info.RedirectStandardOutput = $true
    $info.RedirectStandardError = $true
    $info.StandardOutputEncoding = $utf8
    $info.StandardErrorEncoding = $utf8
    $process = [System.Diagnostics.Process]::Start($info)
    try {
        $outputTask = $process.StandardOutput.ReadToEndAsync()
        $errorText = $process.StandardError.ReadToEnd()
        $process.WaitForExit()
        [pscustomobject]@{ Arguments = $Arguments; ExitCode = $process.ExitCode; Output = $outputTask.Result; Error = $errorText }
    }
    finally {
        $process.Dispose()
    }
}

# Why the value gives no size, which the program does not tell apart.
function Get-ValueProblem {
    $kinds = @{ String = 'REG_SZ'; MultiString = 'REG_MULTI_SZ'; DWord = 'REG_DWORD'; QWord = 'REG_QWORD'; Binary = 'REG_BINARY' }
    try {
        $key = [Microsoft.Win32.Registry]::LocalMachine.OpenSubKey($KeyPath)
        if ($null -eq $key) {
            return 'there is no SubSystems key'
        }
        try {
            if ($key.GetValueNames() -notcontains 'Windows') {
                return 'there is no Windows value under the SubSystems key'
            }
            $kind = [string]$key.GetValueKind('Windows')
            if ($kind -eq 'ExpandString') {
                return 'the Windows value holds no SharedSection= desktop heap size that can be read'
            }
            if ($kinds.ContainsKey($kind)) {
                $kind = $kinds[$kind]
            }
            "the Windows value is of type $kind, not REG_EXPAND_SZ"
        }
        finally {
            $key.Dispose()
        }
    }
    catch {
        $null
    }
}

# The program's own sentence for a run that failed, without its name and
# full stop, and what it cannot tell of the value.
function Get-ProgramReason {
    param([Parameter(Mandatory = $true)] [object] $Run)
    $lines = @($Run.Error -split '\r?\n' | Where-Object { $_.Trim().Length -gt 0 })
    if ($lines.Count -eq 0) {
        $reason = "MorvantaCli.exe $($Run.Arguments) ended with exit code $($Run.ExitCode)"
    }
    else {
        $reason = $lines[0].Trim() -replace '^MorvantaCli: ', '' -replace '\.$', ''
    }
    $problem = $null
    if ($Run.ExitCode -eq 13) {
        $problem = Get-ValueProblem
    }
    elseif ($Run.ExitCode -eq 5 -and $reason -notmatch 'administrator') {
        $problem = 'access to the SubSystems key was denied; run as SYSTEM or as an elevated administrator'
    }
    if ($null -ne $problem) {
        $reason += ": $problem"
    }
    $reason
}

function Format-Sizes {
    param([AllowNull()] [object] $Sizes)
    if ($null -eq $Sizes) {
        return 'unknown'
    }
    $numbers = foreach ($value in $Sizes.sharedKb, $Sizes.interactiveKb, $Sizes.nonInteractiveKb) {
        if ($null -eq $value) { '?' } else { $value }
    }
    $numbers -join ','
}

# The facts of one line: each size asked for against the configured one, the
# sizes configured and in effect, this desktop's heap, a restart pending, and
# whether a desktop heap ran out since Windows started.
function Format-State {
    param([Parameter(Mandatory = $true)] [object] $Status, [Parameter(Mandatory = $true)] [object[]] $Heap)
    $sizes = foreach ($item in $Heap) {
        "$($item.Name) $($Status.configured.($item.Key)) KB (at least $($item.WantedKb) KB wanted)"
    }
    $pending = 'unknown'
    if ($null -ne $Status.restartPending) {
        $pending = if ($Status.restartPending) { 'yes' } else { 'no' }
    }
    $ranOut = 'unknown'
    $events = $Status.sinceStart
    if ($null -ne $events) {
        $allocations = $events.heapAllocationFailed.count
        $desktops = $events.desktopCreationFailed.count
        $ranOut = 'no'
        if ($allocations + $desktops -gt 0) {
            $ranOut = "yes (event 243: $allocations, event 244: $desktops)"
        }
    }
    # The desktop this runs on, Service-0x0-3e7$\Default as SYSTEM: its heap
    # size is the non-interactive size in effect, as Windows made it.
    $desktop = 'unknown'
    if ($null -ne $Status.desktop.windowStation -and $null -ne $Status.desktop.desktop) {
        $desktop = "$($Status.desktop.windowStation)\$($Status.desktop.desktop) unknown"
        if ($null -ne $Status.desktop.heapKb) {
            $desktop = "$($Status.desktop.windowStation)\$($Status.desktop.desktop) $($Status.desktop.heapKb) KB"
        }
    }
    ($sizes -join ', ') + ". Configured SharedSection=$(Format-Sizes $Status.configured); in effect: $(Format-Sizes $Status.inEffect); " +
    "this desktop: $desktop; restart pending: $pending; a desktop heap ran out since Windows started: $ranOut."
}

function Test-Compliant {
    param([Parameter(Mandatory = $true)] [object] $Status, [Parameter(Mandatory = $true)] [object[]] $Heap)
    foreach ($item in $Heap) {
        $configuredKb = $Status.configured.($item.Key)
        if ($null -eq $configuredKb -or [long]$configuredKb -lt $item.WantedKb) {
            return $false
        }
    }
    $true
}

# One line, never more, within what Intune keeps.
function Write-Line {
    param([Parameter(Mandatory = $true)] [string] $Text, [switch] $ToError)
    $Text = $Text -replace '\s*[\r\n]+\s*', ' '
    if ($Text.Length -gt $MaxLineChars) {
        $Text = $Text.Substring(0, $MaxLineChars - 3) + '...'
    }
    if ($ToError) {
        [System.Console]::Error.WriteLine($Text)
    }
    else {
        [System.Console]::Out.WriteLine($Text)
    }
}

$heaps = @(
    [pscustomobject]@{ Name = 'interactive desktop heap'; Key = 'interactiveKb'; WantedKb = $WantedInteractiveKb; Option = '' }
    [pscustomobject]@{ Name = 'non-interactive desktop heap'; Key = 'nonInteractiveKb'; WantedKb = $WantedNonInteractiveKb; Option = ' --non-interactive' }
) | Where-Object { $_.WantedKb -gt 0 }

$failure = $null # why the sizes could not be checked, or a size not stored
$status = $null
$stored = @()
$folder = $null
$leftBehind = ''
try {
    # The program of the computer's bitness: a 32-bit host on 64-bit Windows
    # still starts the 64-bit one, which reads the 64-bit subsystem process.
    $architecture = 'x86'
    if ([System.Environment]::Is64BitOperatingSystem) {
        $architecture = 'x64'
    }
    $folder = New-ProtectedFolder -Parent ([System.IO.Path]::GetTempPath())
    $program = Join-Path $folder 'MorvantaCli.exe'
    [System.IO.File]::WriteAllBytes($program, [System.Convert]::FromBase64String($ProgramBase64[$architecture]))
    if ((Get-Sha256 -Path $program) -ne $ProgramSha256[$architecture]) {
        $failure = "the MorvantaCli.exe for $architecture that this script carries does not match its SHA-256, so it was not started: the script was changed after it was made"
    }
    else {
        $run = Invoke-Program -Program $program -Arguments 'status --json'
        if ($run.ExitCode -notin 0, 3010, 1168) {
            $failure = Get-ProgramReason -Run $run
        }
        else {
            $status = $run.Output | ConvertFrom-Json
        }
    }
    # The interactive size first: the non-interactive one may go up to it.
    # After each store the sizes are read again: raising the interactive
    # size raises a non-interactive one that has no number of its own.
    foreach ($item in $heaps) {
        if ($Action -ne 'Remediate' -or $null -ne $failure) {
            break
        }
        $currentKb = $status.configured.($item.Key)
        if ($null -ne $currentKb -and [long]$currentKb -ge $item.WantedKb) {
            continue
        }
        $run = Invoke-Program -Program $program -Arguments "set $($item.WantedKb)$($item.Option)"
        if ($run.ExitCode -eq 3010) {
            $stored += "the $($item.Name) from $currentKb KB to $($item.WantedKb) KB"
            $run = Invoke-Program -Program $program -Arguments 'status --json'
            if ($run.ExitCode -notin 0, 3010, 1168) {
                $failure = Get-ProgramReason -Run $run
            }
            else {
                $status = $run.Output | ConvertFrom-Json
            }
        }
        elseif ($run.ExitCode -ne 0) {
            $failure = "the $($item.Name) stays $currentKb KB: $(Get-ProgramReason -Run $run)"
        }
    }
}
catch {
    $failure = "MorvantaCli.exe could not be run: $($_.Exception.Message)"
}
finally {
    if ($null -ne $folder -and [System.IO.Directory]::Exists($folder)) {
        try {
            [System.IO.Directory]::Delete($folder, $true)
        }
        catch {
            $leftBehind = " The folder $folder could not be removed: $($_.Exception.Message)"
        }
    }
}

$exitCode = 0
if ($Action -eq 'Remediate') {
    $done = ''
    if ($stored.Count -gt 0) {
        $done = 'Stored: ' + ($stored -join ' and ') + '; this takes effect at the next restart.'
    }
    if ($null -ne $failure) {
        if ($done.Length -gt 0) {
            $done = ' ' + $done
        }
        Write-Line -Text "Not stored: $failure.$done$leftBehind" -ToError
        $exitCode = 1
    }
    elseif ($done.Length -gt 0) {
        Write-Line -Text "$done$leftBehind"
    }
    else {
        Write-Line -Text "Already in place, nothing changed: $(Format-State -Status $status -Heap $heaps)$leftBehind"
    }
}
elseif ($null -ne $failure) {
    # Intune reads exit code 1 as not compliant and shows the line;
    # Configuration Manager reads it as a script that failed.
    if ($Engine -eq 'Intune') {
        Write-Line -Text "Not compliant: the sizes cannot be checked: $failure.$leftBehind"
    }
    else {
        Write-Line -Text "The sizes cannot be checked: $failure.$leftBehind" -ToError
    }
    $exitCode = 1
}
else {
    $compliant = Test-Compliant -Status $status -Heap $heaps
    $state = Format-State -Status $status -Heap $heaps
    if ($Engine -eq 'Intune') {
        if ($compliant) {
            Write-Line -Text "Compliant: $state$leftBehind"
        }
        else {
            Write-Line -Text "Not compliant: $state$leftBehind"
            $exitCode = 1
        }
    }
    elseif ($compliant) {
        # The rule of the configuration item compares the whole output.
        Write-Line -Text 'Compliant'
    }
    else {
        Write-Line -Text "NonCompliant: $state$leftBehind"
    }
}
exit $exitCode
