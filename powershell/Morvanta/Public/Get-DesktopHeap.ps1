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
        $names = New-Object System.Collections.Generic.List[string]
        $sessions = New-Object System.Collections.Generic.List[object]
        $anyComputerName = $false
    }

    process {
        if ($PSCmdlet.ParameterSetName -eq 'Session') {
            $sessions.AddRange([object[]]$Session)
            return
        }
        if ($PSBoundParameters.ContainsKey('ComputerName')) {
            $anyComputerName = $true
            foreach ($name in @($ComputerName)) {
                if ([string]::IsNullOrWhiteSpace($name)) {
                    $PSCmdlet.WriteError((New-MorvantaErrorRecord -Message 'A computer name is null or empty; it is not taken as this computer.' -ErrorId 'EmptyComputerName' -Category InvalidArgument -TargetObject $name))
                }
                else {
                    $names.Add($name)
                }
            }
        }
    }

    end {
        $targets = @(Resolve-MorvantaTarget -ParameterSetName $PSCmdlet.ParameterSetName -ComputerName $names.ToArray() -Session $sessions.ToArray() -AnyComputerName $anyComputerName -Credential $Credential -ThrottleLimit $ThrottleLimit)
        try {
            foreach ($target in $targets) {
                if ($null -ne $target.ErrorRecord) {
                    $PSCmdlet.WriteError($target.ErrorRecord)
                }
            }
            $reachable = @($targets | Where-Object { $null -eq $_.ErrorRecord })
            foreach ($result in Invoke-MorvantaFanOut -Target $reachable -CommandLine 'status --json' -ThrottleLimit $ThrottleLimit -Activity 'Reading desktop heap sizes') {
                if ($null -ne $result.ErrorRecord) {
                    $PSCmdlet.WriteError($result.ErrorRecord)
                    continue
                }
                $run = $result.Runs[0]
                if ($run.ExitCode -in 0, 3010, 1168) {
                    ConvertTo-DesktopHeap -ComputerName $result.ComputerName -Run $run
                }
                else {
                    $PSCmdlet.WriteError((ConvertTo-ProgramErrorRecord -Run $run -ComputerName $result.ComputerName))
                }
            }
        }
        finally {
            $opened = @($targets | Where-Object { $_.Opened } | ForEach-Object { $_.Session })
            if ($opened.Count -gt 0) {
                Remove-PSSession -Session $opened
            }
        }
    }
}
