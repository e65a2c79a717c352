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
