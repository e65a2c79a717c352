# The computers a call works on: gathered from the pipeline, then this
# computer, the sessions given, or sessions opened for the names given.

function New-MorvantaTargetInput {
    [CmdletBinding()]
    param()
    [pscustomobject]@{
        Names           = New-Object System.Collections.Generic.List[string]
        Sessions        = New-Object System.Collections.Generic.List[object]
        AnyComputerName = $false
    }
}

# Adds one pipeline input; a null or empty name is an error for that input,
# never this computer.
function Add-MorvantaTargetInput {
    [CmdletBinding()]
    param(
        [Parameter(Mandatory = $true)] [object] $TargetInput,
        [Parameter(Mandatory = $true)] [System.Management.Automation.PSCmdlet] $Cmdlet,
        [bool] $ComputerNameBound,
        [AllowNull()] [AllowEmptyString()] [AllowEmptyCollection()] [string[]] $ComputerName,
        [AllowNull()] [object[]] $Session
    )
    if ($Cmdlet.ParameterSetName -eq 'Session') {
        $TargetInput.Sessions.AddRange($Session)
        return
    }
    if (-not $ComputerNameBound) {
        return
    }
    $TargetInput.AnyComputerName = $true
    foreach ($name in @($ComputerName)) {
        if ([string]::IsNullOrWhiteSpace($name)) {
            $Cmdlet.WriteError((New-MorvantaErrorRecord -Message 'A computer name is null or empty; it is not taken as this computer.' -ErrorId 'EmptyComputerName' -Category InvalidArgument -TargetObject $name))
        }
        else {
            $TargetInput.Names.Add($name)
        }
    }
}

# Sessions opened for computer names, one error record per name that got none.
# Every session opened is removed again if anything fails here.
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
    try {
        $opened = @{}
        foreach ($session in $sessions) {
            $opened[$session.ComputerName] = $true
            [pscustomobject]@{ ComputerName = $session.ComputerName; Session = $session; ErrorRecord = $null; Opened = $true }
        }
        foreach ($name in $ComputerName) {
            if ($opened.ContainsKey($name)) {
                continue
            }
            $cause = $openErrors | Where-Object { (Get-FailedComputerName -ErrorRecord $_) -eq $name } | Select-Object -First 1
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
                Opened       = $false
            }
        }
    }
    catch {
        if ($sessions.Count -gt 0) {
            Remove-PSSession -Session $sessions -WhatIf:$false -Confirm:$false
        }
        throw
    }
}

# The computer that a New-PSSession error is about. Its target is the runspace
# that failed, whose name is in its ConnectionInfo, not in a property of its own.
function Get-FailedComputerName {
    [CmdletBinding()]
    [OutputType([string])]
    param([Parameter(Mandatory = $true)] [System.Management.Automation.ErrorRecord] $ErrorRecord)
    $target = $ErrorRecord.TargetObject
    if ($null -eq $target -or $target -is [string]) {
        return $target
    }
    $connection = $target.PSObject.Properties['ConnectionInfo']
    if ($null -ne $connection -and $null -ne $connection.Value) {
        $target = $connection.Value
    }
    $name = $target.PSObject.Properties['ComputerName']
    if ($null -ne $name) {
        [string]$name.Value
    }
}

# Every target with ComputerName, Session ($null: this computer), Opened (a
# session this call opened) and ErrorRecord (a session that could not be).
function Resolve-MorvantaTarget {
    [CmdletBinding()]
    param(
        [Parameter(Mandatory = $true)] [object] $TargetInput,
        [Parameter(Mandatory = $true)] [string] $ParameterSetName,
        [System.Management.Automation.PSCredential] $Credential,
        [int] $ThrottleLimit = 32
    )
    if ($ParameterSetName -eq 'Session') {
        foreach ($item in $TargetInput.Sessions) {
            [pscustomobject]@{ ComputerName = $item.ComputerName; Session = $item; ErrorRecord = $null; Opened = $false }
        }
    }
    elseif (-not $TargetInput.AnyComputerName) {
        [pscustomobject]@{ ComputerName = [System.Environment]::MachineName; Session = $null; ErrorRecord = $null; Opened = $false }
    }
    elseif ($TargetInput.Names.Count -gt 0) {
        Open-MorvantaSession -ComputerName $TargetInput.Names.ToArray() -Credential $Credential -ThrottleLimit $ThrottleLimit
    }
}

# The targets that could be reached; each that could not gives its error.
function Select-ReachableTarget {
    [CmdletBinding()]
    param(
        [Parameter(Mandatory = $true)] [System.Management.Automation.PSCmdlet] $Cmdlet,
        [Parameter(Mandatory = $true)] [AllowEmptyCollection()] [object[]] $Target
    )
    foreach ($item in $Target) {
        if ($null -ne $item.ErrorRecord) {
            $Cmdlet.WriteError($item.ErrorRecord)
        }
        else {
            $item
        }
    }
}

# Removes the sessions this call opened, and only those: under -WhatIf too,
# which would otherwise reach Remove-PSSession and leave them open.
function Close-MorvantaSession {
    [CmdletBinding()]
    param([Parameter(Mandatory = $true)] [AllowEmptyCollection()] [object[]] $Target)
    $opened = @($Target | Where-Object { $_.Opened } | ForEach-Object { $_.Session })
    if ($opened.Count -gt 0) {
        Remove-PSSession -Session $opened -WhatIf:$false -Confirm:$false
    }
}
