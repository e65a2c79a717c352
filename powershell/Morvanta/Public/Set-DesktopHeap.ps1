function Set-DesktopHeap {
    <#
    .SYNOPSIS
    Sets the interactive and/or non-interactive desktop heap size of computers.

    .DESCRIPTION
    Rewrites only the second (interactive) or third (non-interactive) number of
    SharedSection= in the Windows subsystem command line of each computer, through
    MorvantaCli.exe set, keeping every other character of the command line as it
    was. The new sizes take effect when each computer restarts; this command never
    restarts one.

    It reads the current sizes of all computers first (one round trip), asks once
    per computer whether to go on (the value decides whether Windows starts), then
    stores on the computers approved (a second round trip). With both sizes, the
    interactive one is stored first, since the non-interactive one may go up to it.
    Each size must lie between half and double the current size of that heap; the
    non-interactive one may also go up to the interactive size. A computer outside
    that range gets an error (SizeOutOfRange) that gives the range, and the others
    are stored.

    With -ErrorAction Stop the first error ends the command; computers already
    stored in the same round trip stay stored.

    .PARAMETER ComputerName
    The computers to change, through PowerShell remoting (WinRM). Takes names from
    the pipeline, and the DNSHostName or Name of objects such as those of
    Get-ADComputer. Without ComputerName and Session, this computer is changed.

    .PARAMETER Credential
    The account for the remoting sessions opened for ComputerName: an administrator
    of the computers.

    .PARAMETER Session
    Remoting sessions to use, of any transport (SSH too). They are left open.

    .PARAMETER InteractiveKb
    The new interactive desktop heap size in KB (the second SharedSection number).

    .PARAMETER NonInteractiveKb
    The new non-interactive desktop heap size in KB (the third SharedSection number,
    added after the second when there is none).

    .PARAMETER Force
    Asks no questions, as -Confirm:$false does, for scheduled tasks and agents that
    run where nobody can answer. -WhatIf still stores nothing.

    .PARAMETER PassThru
    Returns each computer's Morvanta.DesktopHeap object as read after the change.

    .PARAMETER ThrottleLimit
    How many computers are worked on at the same time. The default is 32.

    .EXAMPLE
    Get-Content .\agents.txt | Set-DesktopHeap -NonInteractiveKb 4096 -WhatIf

    Says for each build agent from which size to which the non-interactive heap would
    go, and stores nothing.

    .EXAMPLE
    Get-Content .\agents.txt | Set-DesktopHeap -NonInteractiveKb 4096 -Force -PassThru | Where-Object RestartPending | Restart-Computer -ComputerName { $_.ComputerName } -WhatIf

    Stores 4096 KB on every agent without asking, then lists the restarts needed.

    .EXAMPLE
    Set-DesktopHeap -InteractiveKb 12288 -NonInteractiveKb 1024 -Verbose

    Changes this computer; -Verbose says for each heap whether it was stored or was
    already at that size.

    .INPUTS
    System.String, objects with a DNSHostName or Name property,
    System.Management.Automation.Runspaces.PSSession

    .OUTPUTS
    None, or Morvanta.DesktopHeap with -PassThru
    #>
    [CmdletBinding(DefaultParameterSetName = 'ComputerName', SupportsShouldProcess = $true, ConfirmImpact = 'High')]
    [OutputType('Morvanta.DesktopHeap')]
    param(
        [Parameter(ParameterSetName = 'ComputerName', Position = 0, ValueFromPipeline = $true, ValueFromPipelineByPropertyName = $true)]
        [Alias('DNSHostName', 'Name')]
        [AllowNull()]
        [AllowEmptyString()]
        [AllowEmptyCollection()]
        [string[]] $ComputerName,

        [Parameter(ParameterSetName = 'ComputerName')]
        [System.Management.Automation.PSCredential]
        [System.Management.Automation.Credential()]
        $Credential = [System.Management.Automation.PSCredential]::Empty,

        [Parameter(Mandatory = $true, ParameterSetName = 'Session', ValueFromPipeline = $true)]
        [System.Management.Automation.Runspaces.PSSession[]] $Session,

        [ValidateRange(1, 4294967295)]
        [uint32] $InteractiveKb,

        [ValidateRange(1, 4294967295)]
        [uint32] $NonInteractiveKb,

        [switch] $Force,

        [switch] $PassThru,

        [ValidateRange(1, 1024)]
        [int] $ThrottleLimit = 32
    )

    begin {
        if (-not $PSBoundParameters.ContainsKey('InteractiveKb') -and -not $PSBoundParameters.ContainsKey('NonInteractiveKb')) {
            $PSCmdlet.ThrowTerminatingError((New-MorvantaErrorRecord -Message 'Give -InteractiveKb, -NonInteractiveKb or both.' -ErrorId 'NoSizeGiven' -Category InvalidArgument -TargetObject $null))
        }
        if ($Force -and -not $PSBoundParameters.ContainsKey('Confirm')) {
            $ConfirmPreference = 'None'
        }
        # The interactive size first: the non-interactive one may go up to it.
        $heaps = @()
        if ($PSBoundParameters.ContainsKey('InteractiveKb')) {
            $heaps += [pscustomobject]@{ Name = 'interactive'; Property = 'InteractiveKb'; SizeKb = $InteractiveKb; CommandLine = "set $InteractiveKb" }
        }
        if ($PSBoundParameters.ContainsKey('NonInteractiveKb')) {
            $heaps += [pscustomobject]@{ Name = 'non-interactive'; Property = 'NonInteractiveKb'; SizeKb = $NonInteractiveKb; CommandLine = "set $NonInteractiveKb --non-interactive" }
        }
        $targetInput = New-MorvantaTargetInput
    }

    process {
        Add-MorvantaTargetInput -TargetInput $targetInput -Cmdlet $PSCmdlet -ComputerNameBound $PSBoundParameters.ContainsKey('ComputerName') -ComputerName $ComputerName -Session $Session
    }

    end {
        $targets = @(Resolve-MorvantaTarget -TargetInput $targetInput -ParameterSetName $PSCmdlet.ParameterSetName -Credential $Credential -ThrottleLimit $ThrottleLimit)
        try {
            $reachable = @(Select-ReachableTarget -Cmdlet $PSCmdlet -Target $targets)

            # The current sizes, then one question per computer.
            $approved = New-Object System.Collections.Generic.List[object]
            foreach ($read in Read-DesktopHeap -Cmdlet $PSCmdlet -Target $reachable -ThrottleLimit $ThrottleLimit) {
                $current = $read.Heap
                $changes = @()
                foreach ($heap in $heaps) {
                    $currentKb = $current.($heap.Property)
                    if ($currentKb -eq $heap.SizeKb) {
                        Write-Verbose "$($current.ComputerName): the $($heap.Name) desktop heap is already $($heap.SizeKb) KB."
                    }
                    elseif ($null -eq $currentKb) {
                        $changes += "the $($heap.Name) desktop heap from an unreadable size to $($heap.SizeKb) KB"
                    }
                    else {
                        $changes += "the $($heap.Name) desktop heap from $currentKb KB to $($heap.SizeKb) KB"
                    }
                }
                if ($changes.Count -eq 0) {
                    if ($PassThru) {
                        $current
                    }
                }
                elseif ($PSCmdlet.ShouldProcess($current.ComputerName, 'Set ' + ($changes -join ' and '))) {
                    $approved.Add($read.Target)
                }
            }

            # One store round trip for the computers approved.
            $commandLines = @($heaps | ForEach-Object { $_.CommandLine })
            if ($PassThru) {
                $commandLines += 'status --json'
            }
            foreach ($result in Invoke-MorvantaFanOut -Target $approved.ToArray() -CommandLine $commandLines -ThrottleLimit $ThrottleLimit -Activity 'Storing desktop heap sizes') {
                $name = $result.ComputerName
                if ($null -ne $result.ErrorRecord) {
                    $PSCmdlet.WriteError($result.ErrorRecord)
                    continue
                }
                $failed = $false
                $stored = @()
                for ($step = 0; $step -lt $heaps.Count -and $step -lt $result.Runs.Count; $step++) {
                    $run = $result.Runs[$step]
                    $heap = $heaps[$step]
                    if ($run.ExitCode -eq 3010) {
                        Write-Verbose "${name}: the $($heap.Name) desktop heap was stored as $($heap.SizeKb) KB; it takes effect when Windows restarts."
                        $stored += "the $($heap.Name) desktop heap was stored as $($heap.SizeKb) KB"
                    }
                    elseif ($run.ExitCode -eq 0) {
                        Write-Verbose "${name}: the $($heap.Name) desktop heap is already $($heap.SizeKb) KB."
                    }
                    else {
                        $prefix = ''
                        if ($stored.Count -gt 0) {
                            $prefix = ($stored -join ' and ') + ", but the $($heap.Name) one was not: "
                        }
                        $PSCmdlet.WriteError((ConvertTo-ProgramErrorRecord -Run $run -ComputerName $name -Prefix $prefix))
                        $failed = $true
                    }
                }
                if (-not $failed -and $PassThru) {
                    ConvertTo-DesktopHeap -ComputerName $name -Run $result.Runs[-1]
                }
            }
        }
        finally {
            Close-MorvantaSession -Target $targets
        }
    }
}
