function Get-DesktopHeapProcess {
    <#
    .SYNOPSIS
    Gets the processes that hold the most USER and GDI objects on the desktops of computers.

    .DESCRIPTION
    Runs MorvantaCli.exe desktops --json on each computer, all at once through one
    Invoke-Command, and returns one Morvanta.DesktopHeapProcess object per process,
    the processes of each computer in the order of their USER objects, the most
    first: the Top of them, and besides any process at 90 % of its own USER or GDI
    object quota.

    How much of a desktop heap is used cannot be read on Windows Vista and later.
    What Windows tells is how many USER and GDI objects each process holds now and
    at its peak (UserObjects, UserObjectsPeak, GdiObjects, GdiObjectsPeak; the peaks
    from Windows 7 on): the processes that fill a desktop heap are among those that
    hold the most. A count that cannot be read is $null, never 0. Account is the
    account of the process, Services the services it hosts, WindowStation the window
    station that a service of its logon session gets (Service-0x<high>-<low>$), where
    the processes of that service run. NearQuota is USER, GDI or USER and GDI for a
    process at 90 % of its own quota (USERProcessHandleQuota and GDIProcessHandleQuota,
    10,000 each by default): it fails with error 1158 alone, and a larger desktop heap
    does not help it.

    Windows tells these counts only for the session the program runs in: over
    remoting that is session 0, where services and build agents run. Run elevated, or
    as SYSTEM, to see the processes of other accounts.

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

    .PARAMETER Top
    How many processes of each computer, those with the most USER objects, from 1 to
    1000. The default is 10. Processes near their own quota come besides.

    .PARAMETER ThrottleLimit
    How many computers are worked on at the same time. The default is 32.

    .EXAMPLE
    Get-DesktopHeapProcess -ComputerName agent01 -Top 20

    Shows the twenty processes of the build agent's services that hold the most USER
    objects.

    .EXAMPLE
    Get-Content .\agents.txt | Get-DesktopHeapProcess | Where-Object NearQuota

    Finds the processes that are near their own object quota: raising the desktop
    heap would not help them.

    .EXAMPLE
    Get-Content .\agents.txt | Get-DesktopHeapProcess -Top 1000 |
        Group-Object ComputerName, WindowStation | Sort-Object Count -Descending

    Counts the processes of each logon session's service window station on every
    agent: a hundred console processes on one service desktop show here.

    .INPUTS
    System.String, objects with a DNSHostName or Name property,
    System.Management.Automation.Runspaces.PSSession

    .OUTPUTS
    Morvanta.DesktopHeapProcess
    #>
    [CmdletBinding(DefaultParameterSetName = 'ComputerName')]
    [OutputType('Morvanta.DesktopHeapProcess')]
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

        [ValidateRange(1, 1000)]
        [int] $Top = 10,

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
            Read-DesktopHeap -Cmdlet $PSCmdlet -Target $reachable -ThrottleLimit $ThrottleLimit -Top $Top | ForEach-Object { $_.Processes }
        }
        finally {
            Close-MorvantaSession -Target $targets
        }
    }
}
