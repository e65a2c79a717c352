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
        $reason = Get-ProgramSentence -Text $Run.Error -Lead 'the sizes in effect are unknown: '
    }
    $heap = [ordered]@{
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
        Desktop                  = ConvertTo-DesktopName $status.desktop
        DesktopHeapKb            = ConvertTo-Size $status.desktop.heapKb
        Desktops                 = (@($status.desktops | Where-Object { $null -ne $_.desktop } |
                    ForEach-Object { "$(ConvertTo-DesktopName $_)=$(if ($null -eq $_.heapKb) { 'unknown' } else { $_.heapKb })" }) -join '; ')
    }
    $events = ConvertTo-HeapEventProperty -SinceStart $status.sinceStart -ErrorText $Run.Error
    foreach ($name in $events.Keys) {
        $heap[$name] = $events[$name]
    }
    [pscustomobject]$heap
}

# What the System log holds since the start, as flat properties; all $null
# but the reason when the program could not read it.
function ConvertTo-HeapEventProperty {
    [CmdletBinding()]
    param([AllowNull()] [object] $SinceStart, [AllowNull()] [AllowEmptyString()] [string] $ErrorText)
    $events = [ordered]@{
        HeapExhausted = $null; HeapAllocationFailures = $null; DesktopCreationFailures = $null; SizesRejected = $null
        StartFailures = $null; LastHeapExhaustion = $null; StartFailurePrograms = $null; SinceStartUnknownReason = $null
    }
    if ($null -eq $SinceStart) {
        $events.SinceStartUnknownReason = Get-ProgramSentence -Text $ErrorText -Lead 'the events since the last start are unknown: '
        return $events
    }
    $exhaustions = @(@($SinceStart.heapAllocationFailed.last, $SinceStart.desktopCreationFailed.last) |
            Where-Object { $null -ne $_ } | ForEach-Object { ConvertTo-UtcTime $_ } | Sort-Object -Descending)
    $programs = @($SinceStart.startFailures.programs)
    $events.HeapExhausted = ($SinceStart.heapAllocationFailed.count + $SinceStart.desktopCreationFailed.count) -gt 0
    $events.HeapAllocationFailures = [uint32]$SinceStart.heapAllocationFailed.count
    $events.DesktopCreationFailures = [uint32]$SinceStart.desktopCreationFailed.count
    $events.SizesRejected = [uint32]$SinceStart.sizesRejected.count
    $events.StartFailures = [uint32]$SinceStart.startFailures.count
    if ($exhaustions.Count -gt 0) {
        $events.LastHeapExhaustion = $exhaustions[0]
    }
    if ($programs.Count -gt 0) {
        $events.StartFailurePrograms = $programs -join ', '
    }
    $events
}

# A time of the JSON as a UTC [datetime]: PowerShell 7 gives it as a
# [datetime] already, Windows PowerShell as its text.
function ConvertTo-UtcTime {
    param([Parameter(Mandatory = $true)] [object] $Value)
    if ($Value -is [datetime]) {
        return $Value.ToUniversalTime()
    }
    [datetime]::ParseExact([string]$Value, "yyyy-MM-dd'T'HH:mm:ss'Z'", [System.Globalization.CultureInfo]::InvariantCulture,
        [System.Globalization.DateTimeStyles]::AssumeUniversal -bor [System.Globalization.DateTimeStyles]::AdjustToUniversal)
}

# Station\Desktop, or $null when the program could not name it.
function ConvertTo-DesktopName {
    param([Parameter(Mandatory = $true)] [object] $Desktop)
    if ($null -eq $Desktop.windowStation -or $null -eq $Desktop.desktop) {
        return $null
    }
    '{0}\{1}' -f $Desktop.windowStation, $Desktop.desktop
}

# The processes of one run of desktops --json, in the program's order (the
# most USER objects first), as flat objects.
function ConvertTo-DesktopHeapProcess {
    [CmdletBinding()]
    [OutputType('Morvanta.DesktopHeapProcess')]
    param(
        [Parameter(Mandatory = $true)] [string] $ComputerName,
        [Parameter(Mandatory = $true)] [object] $Run
    )
    foreach ($process in @(($Run.Output | ConvertFrom-Json).processes)) {
        [pscustomobject][ordered]@{
            PSTypeName      = 'Morvanta.DesktopHeapProcess'
            ComputerName    = $ComputerName
            ProcessId       = [uint32]$process.processId
            Name            = $process.name
            Account         = $process.account
            UserObjects     = ConvertTo-Size $process.userObjects
            UserObjectsPeak = ConvertTo-Size $process.userObjectsPeak
            GdiObjects      = ConvertTo-Size $process.gdiObjects
            GdiObjectsPeak  = ConvertTo-Size $process.gdiObjectsPeak
            Services        = $process.services
            NearQuota       = $process.nearQuota
            WindowStation   = $process.windowStation
        }
    }
}

function ConvertTo-Size {
    param([AllowNull()] [object] $Value)
    if ($null -eq $Value) {
        return $null
    }
    [uint32]$Value
}
