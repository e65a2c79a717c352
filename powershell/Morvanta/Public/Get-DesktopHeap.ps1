function Get-DesktopHeap {
    <#
    .SYNOPSIS
    Gets the desktop heap sizes of computers: as configured for the next start, and as in effect now.

    .DESCRIPTION
    Runs MorvantaCli.exe status --json on each computer, all at once through one
    Invoke-Command, and returns one Morvanta.DesktopHeap object per computer. The
    sizes come from SharedSection= of the Windows subsystem command line: SharedKb
    is the first number, InteractiveKb the second (the desktops of logged-on users),
    NonInteractiveKb the third (the desktops of services and what they start; the
    interactive size where there is no third number). The InEffect sizes are those
    of the running subsystem process of the session the command runs in; they are
    $null when they cannot be read, and InEffectUnknownReason then says why.
    RestartPending is $true when a size differs between the two, $false when all
    agree, and $null when that cannot be told.

    What the System log holds since Windows started comes with them: HeapExhausted
    is $true when Windows logged that a desktop heap ran out (event 243) or that a
    desktop could not be created for lack of room for its heap (event 244), and
    $false when it logged neither. HeapAllocationFailures, DesktopCreationFailures,
    SizesRejected (event 1046) and StartFailures (programs that failed to start with
    0xC0000142) are the counts, LastHeapExhaustion the time of the last 243 or 244
    (UTC), StartFailurePrograms the names of those programs, the newest first. When
    the log cannot be read (an account that may not read the System log, Windows
    before Vista), all of these are $null and SinceStartUnknownReason says why.

    The program is carried to each computer with the call, written into a new
    folder under that computer's temporary folder, run, and removed again; nothing
    is installed. A computer that fails gives one error, with the computer's name
    as its target, and every other computer still gives its result.

    .PARAMETER ComputerName
    The computers to read, through PowerShell remoting (WinRM). Takes names from the
    pipeline, and the DNSHostName or Name of objects such as those of Get-ADComputer.
    Without ComputerName and Session, this computer is read without remoting.

    .PARAMETER Credential
    The account for the remoting sessions opened for ComputerName: an administrator
    of the computers.

    .PARAMETER Session
    Remoting sessions to use, of any transport (SSH too). They are left open.

    .PARAMETER ThrottleLimit
    How many computers are worked on at the same time. The default is 32.

    .EXAMPLE
    Get-DesktopHeap

    Reads this computer.

    .EXAMPLE
    Get-ADComputer -Filter 'OperatingSystem -like "*Server*"' | Get-DesktopHeap | Where-Object RestartPending

    Reads every server in the domain and shows those that still run with other sizes
    than those configured.

    .EXAMPLE
    Get-Content .\agents.txt | Get-DesktopHeap | Where-Object HeapExhausted | Set-DesktopHeap -NonInteractiveKb 4096 -WhatIf

    Finds the build agents on which a desktop heap ran out since Windows started,
    and shows how their non-interactive heap would be raised to 4096 KB.

    .EXAMPLE
    Get-Content .\hosts.txt | Get-DesktopHeap -Credential (Get-Credential) | Export-Csv .\heaps.csv -NoTypeInformation

    Writes a report of the computers named in hosts.txt.

    .EXAMPLE
    $sessions = New-PSSession -HostName admin@ts01, admin@ts02
    Get-DesktopHeap -Session $sessions

    Reads two computers over existing SSH remoting sessions.

    .INPUTS
    System.String, objects with a DNSHostName or Name property,
    System.Management.Automation.Runspaces.PSSession

    .OUTPUTS
    Morvanta.DesktopHeap
    #>
    [CmdletBinding(DefaultParameterSetName = 'ComputerName')]
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

        [ValidateRange(1, 1024)]
        [int] $ThrottleLimit = 32
    )

    begin {
        $targetInput = New-MorvantaTargetInput
    }

    process {
        Add-MorvantaTargetInput -TargetInput $targetInput -Cmdlet $PSCmdlet -ComputerNameBound $PSBoundParameters.ContainsKey('ComputerName') -ComputerName $ComputerName -Session $Session
    }

    end {
        $targets = @(Resolve-MorvantaTarget -TargetInput $targetInput -ParameterSetName $PSCmdlet.ParameterSetName -Credential $Credential -ThrottleLimit $ThrottleLimit)
        try {
            $reachable = @(Select-ReachableTarget -Cmdlet $PSCmdlet -Target $targets)
            Read-DesktopHeap -Cmdlet $PSCmdlet -Target $reachable -ThrottleLimit $ThrottleLimit | ForEach-Object { $_.Heap }
        }
        finally {
            Close-MorvantaSession -Target $targets
        }
    }
}
