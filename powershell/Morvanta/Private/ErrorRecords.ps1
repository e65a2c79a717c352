# Error records for one computer each, with the program's own sentence.

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

# The program's own sentence, without its name in front: its first line, or
# the first that begins with Lead.
function Get-ProgramSentence {
    [CmdletBinding()]
    [OutputType([string])]
    param([AllowNull()] [AllowEmptyString()] [string] $Text, [string] $Lead = '')
    if ([string]::IsNullOrWhiteSpace($Text)) {
        return $null
    }
    $sentence = @($Text.Trim() -split '\r?\n' | Where-Object { $_.StartsWith("MorvantaCli: $Lead") -or $_.StartsWith($Lead) } | Select-Object -First 1)
    if ($sentence.Count -eq 0) {
        return $null
    }
    $sentence = $sentence[0]
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
