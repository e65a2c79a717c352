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

function New-MorvantaErrorRecord {
    [CmdletBinding()]
    [OutputType([System.Management.Automation.ErrorRecord])]
    param(
        [Parameter(Mandatory = $true)] [string] $Message,
        [Parameter(Mandatory = $true)] [string] $ErrorId,
        [Parameter(Mandatory = $true)] [System.Management.Automation.ErrorCategory] $Category,
        [AllowNull()] [object] $TargetObject
    )
    $exception = New-Object System.InvalidOperationException -ArgumentList $Message
    New-Object System.Management.Automation.ErrorRecord -ArgumentList $exception, $ErrorId, $Category, $TargetObject
}

# The program's own sentence, without its name in front.
function Get-ProgramSentence {
    [CmdletBinding()]
    [OutputType([string])]
    param([AllowNull()] [AllowEmptyString()] [string] $Text)
    if ([string]::IsNullOrWhiteSpace($Text)) {
        return $null
    }
    $sentence = ($Text.Trim() -split '\r?\n')[0]
    if ($sentence.StartsWith('MorvantaCli: ')) {
        $sentence = $sentence.Substring('MorvantaCli: '.Length)
    }
    $sentence
}

# An exit code that is not a result, as an error record for the computer.
function ConvertTo-ProgramErrorRecord {
    [CmdletBinding()]
    [OutputType([System.Management.Automation.ErrorRecord])]
    param(
        [Parameter(Mandatory = $true)] [object] $Run,
        [Parameter(Mandatory = $true)] [string] $ComputerName,
        [string] $Prefix = ''
    )
    $kinds = @{
        5  = 'AccessDenied', 'PermissionDenied'
        13 = 'InvalidData', 'InvalidData'
        87 = 'SizeOutOfRange', 'InvalidArgument'
        1  = 'NotSupported', 'NotImplemented'
    }
    $kind = $kinds[[int]$Run.ExitCode]
    if ($null -eq $kind) {
        $kind = 'StoreFailed', 'WriteError'
    }
    $sentence = Get-ProgramSentence -Text $Run.Error
    if ($null -eq $sentence) {
        $sentence = "MorvantaCli.exe $($Run.CommandLine) ended with exit code $($Run.ExitCode)."
    }
    New-MorvantaErrorRecord -Message ("${ComputerName}: $Prefix$sentence") -ErrorId $kind[0] -Category $kind[1] -TargetObject $ComputerName
}

# Sessions opened for computer names, one error record per name that got none.
function Open-MorvantaSession {
    [CmdletBinding()]
    param(
        [Parameter(Mandatory = $true)] [string[]] $ComputerName,
        [System.Management.Automation.PSCredential] $Credential,
        [int] $ThrottleLimit = 32
    )
    $parameters = @{ ComputerName = $ComputerName; ThrottleLimit = $ThrottleLimit; ErrorAction = 'SilentlyContinue'; ErrorVariable = 'openErrors' }
    if ($null -ne $Credential -and $Credential -ne [System.Management.Automation.PSCredential]::Empty) {
        $parameters.Credential = $Credential
    }
    $openErrors = @()
    $sessions = @()
    try {
        $sessions = @(New-PSSession @parameters)
    }
    catch {
        # Without WinRM (PowerShell on Linux) the call throws once for all names.
        $openErrors = @($_)
    }
    $opened = @{}
    foreach ($session in $sessions) {
        $opened[$session.ComputerName] = $true
        [pscustomobject]@{ ComputerName = $session.ComputerName; Session = $session; ErrorRecord = $null }
    }
    foreach ($name in $ComputerName) {
        if ($opened.ContainsKey($name)) {
            continue
        }
        $cause = $openErrors | Where-Object { $_.TargetObject -and "$($_.TargetObject.ComputerName)" -eq $name } | Select-Object -First 1
        if ($null -eq $cause) {
            $cause = $openErrors | Select-Object -First 1
        }
        $message = 'the session cannot be opened'
        if ($null -ne $cause) {
            $message = "the session cannot be opened: $($cause.Exception.Message)"
        }
        [pscustomobject]@{
            ComputerName = $name
            Session      = $null
            ErrorRecord  = New-MorvantaErrorRecord -Message "${name}: $message" -ErrorId 'ConnectionFailed' -Category OpenError -TargetObject $name
        }
    }
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
    if ($open.Count -gt 0) {
        $done = 0
        $remoteErrors = @()
        Invoke-Command -Session $open -ScriptBlock $script:ProgramRunner -ArgumentList $arguments -ThrottleLimit $ThrottleLimit -ErrorAction SilentlyContinue -ErrorVariable remoteErrors |
            ForEach-Object {
                $answers[[string]$_.RunspaceId] = $_
                $done++
                Write-Progress -Activity $Activity -Status "$done of $($open.Count) computers answered" -PercentComplete (100 * $done / $open.Count)
            }
        Write-Progress -Activity $Activity -Completed
        foreach ($failure in $remoteErrors) {
            $origin = $failure.PSObject.Properties['OriginInfo']
            if ($null -ne $origin -and $null -ne $origin.Value) {
                $causes[[string]$origin.Value.RunspaceID] = $failure
            }
        }
    }
    foreach ($item in $Target) {
        $name = $item.ComputerName
        $answer = $null
        if ($null -eq $item.Session) {
            $answer = & $script:ProgramRunner @arguments
        }
        else {
            $answer = $answers[[string]$item.Session.InstanceId]
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

# The sizes as status --json reports them, in a fresh flat object.
function ConvertTo-DesktopHeap {
    [CmdletBinding()]
    [OutputType('Morvanta.DesktopHeap')]
    param(
        [Parameter(Mandatory = $true)] [string] $ComputerName,
        [Parameter(Mandatory = $true)] [object] $Run
    )
    $status = $Run.Output | ConvertFrom-Json
    $inEffect = $status.inEffect
    $reason = $null
    if ($null -eq $inEffect) {
        $inEffect = [pscustomobject]@{ sharedKb = $null; interactiveKb = $null; nonInteractiveKb = $null }
        $reason = Get-ProgramSentence -Text $Run.Error
    }
    [pscustomobject]@{
        PSTypeName               = 'Morvanta.DesktopHeap'
        ComputerName             = $ComputerName
        SharedKb                 = ConvertTo-Size $status.configured.sharedKb
        InteractiveKb            = ConvertTo-Size $status.configured.interactiveKb
        NonInteractiveKb         = ConvertTo-Size $status.configured.nonInteractiveKb
        InEffectSharedKb         = ConvertTo-Size $inEffect.sharedKb
        InEffectInteractiveKb    = ConvertTo-Size $inEffect.interactiveKb
        InEffectNonInteractiveKb = ConvertTo-Size $inEffect.nonInteractiveKb
        RestartPending           = $status.restartPending
        InEffectUnknownReason    = $reason
    }
}

function ConvertTo-Size {
    param([AllowNull()] [object] $Value)
    if ($null -eq $Value) {
        return $null
    }
    [uint32]$Value
}

# The targets of a call: this computer when none is given, else the sessions
# given, or sessions opened for the names given.
function Resolve-MorvantaTarget {
    [CmdletBinding()]
    param(
        [Parameter(Mandatory = $true)] [string] $ParameterSetName,
        [AllowEmptyCollection()] [string[]] $ComputerName,
        [AllowEmptyCollection()] [object[]] $Session,
        [bool] $AnyComputerName,
        [System.Management.Automation.PSCredential] $Credential,
        [int] $ThrottleLimit
    )
    if ($ParameterSetName -eq 'Session') {
        foreach ($item in $Session) {
            [pscustomobject]@{ ComputerName = $item.ComputerName; Session = $item; ErrorRecord = $null; Opened = $false }
        }
    }
    elseif (-not $AnyComputerName) {
        [pscustomobject]@{ ComputerName = [System.Environment]::MachineName; Session = $null; ErrorRecord = $null; Opened = $false }
    }
    elseif ($ComputerName.Count -gt 0) {
        Open-MorvantaSession -ComputerName $ComputerName -Credential $Credential -ThrottleLimit $ThrottleLimit |
            ForEach-Object { $_ | Add-Member -NotePropertyName Opened -NotePropertyValue ($null -ne $_.Session) -PassThru }
    }
}
