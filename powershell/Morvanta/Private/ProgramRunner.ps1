# The script block that runs on each computer, in that computer's PowerShell
# (Windows PowerShell 5.1 over WinRM, without a console). It is self-contained:
# the computer has no module. It writes the program into a new folder of its
# own under the temporary folder, runs each command line in turn until one
# ends with a code that is not a result (0, 3010, 1168), and removes the
# folder whatever happens.
# A new session compiles every construct it meets for the first time, and on
# sixteen computers sharing two processors that is most of the cost of a
# read: so no cmdlet, no pipeline, no typed parameter and no object built
# here. It answers with one flat list, made into runs by the caller
# (ConvertFrom-ProgramAnswer): the exit code, output and error of each run,
# then the reason why the program could not be started, if it could not.
$script:ProgramRunner = {
    param($Program32, $Program64, $CommandLines)
    # Off Windows the program runs through Wine.
    $onWine = [System.IO.Path]::DirectorySeparatorChar -eq '/'
    if (-not $onWine -and -not [System.Environment]::Is64BitOperatingSystem) {
        $Program64 = $Program32
    }
    $folder = [System.IO.Path]::Combine([System.IO.Path]::GetTempPath(), 'Morvanta-' + [guid]::NewGuid().ToString('N'))
    $program = [System.IO.Path]::Combine($folder, 'MorvantaCli.exe')
    $answer = @()
    try {
        $null = [System.IO.Directory]::CreateDirectory($folder)
        [System.IO.File]::WriteAllBytes($program, $Program64)
        foreach ($commandLine in $CommandLines) {
            if ($onWine) {
                # Wine's launcher passes on only the low 8 bits of an exit
                # code: cmd prints the whole code after the program's output.
                $info = [System.Diagnostics.ProcessStartInfo]::new('wine', "cmd /v:on /c `"Z:$($program.Replace('/', '\')) $commandLine & echo !errorlevel!`"")
            }
            else {
                $info = [System.Diagnostics.ProcessStartInfo]::new($program, $commandLine)
                $info.StandardOutputEncoding = $info.StandardErrorEncoding = [System.Text.UTF8Encoding]::new($false)
            }
            $info.UseShellExecute = $false
            $info.CreateNoWindow = $info.RedirectStandardOutput = $info.RedirectStandardError = $true
            $process = [System.Diagnostics.Process]::Start($info)
            $output = $process.StandardOutput.ReadToEndAsync()
            $errorText = $process.StandardError.ReadToEnd()
            $process.WaitForExit()
            $exitCode = $process.ExitCode
            $process.Dispose()
            $output = $output.Result
            if ($onWine) {
                $at = $output.TrimEnd().LastIndexOf("`n") + 1
                $exitCode = $output.Substring($at).Trim()
                $output = $output.Substring(0, $at).TrimEnd()
            }
            $answer += $exitCode, $output, $errorText
            # A code that is not a number (Wine could not start cmd) stops too.
            if ($exitCode -ne 0 -and $exitCode -ne 3010 -and $exitCode -ne 1168) {
                break
            }
        }
    }
    catch {
        $answer += 'The program could not be started there: ' + $_.Exception.Message
    }
    finally {
        if ([System.IO.Directory]::Exists($folder)) {
            [System.IO.Directory]::Delete($folder, $true)
        }
    }
    , $answer
}

# The runs of one answer of the program runner, and why the program could not
# be started ($null when it could): Runs of CommandLine, ExitCode, Output and
# Error. Under Wine a code that is not a number, or cmd's 9009, means that
# the program did not start.
function ConvertFrom-ProgramAnswer {
    [CmdletBinding()]
    param(
        [Parameter(Mandatory = $true)] [AllowEmptyCollection()] [object[]] $Answer,
        [Parameter(Mandatory = $true)] [string[]] $CommandLine
    )
    $runs = @()
    $notStarted = $null
    for ($index = 0; $index + 2 -lt $Answer.Count -and $null -eq $notStarted; $index += 3) {
        $exitCode = 0
        $errorText = [string]$Answer[$index + 2]
        if (-not [int]::TryParse([string]$Answer[$index], [ref]$exitCode)) {
            $notStarted = 'The program could not be started there through Wine: ' + $errorText.Trim()
        }
        elseif ($exitCode -eq 9009 -and $Answer[$index] -is [string]) {
            $notStarted = 'The program could not be started there: ' + $errorText.Trim()
        }
        else {
            $runs += [pscustomobject]@{ CommandLine = $CommandLine[$index / 3]; ExitCode = $exitCode; Output = [string]$Answer[$index + 1]; Error = $errorText }
        }
    }
    if ($Answer.Count % 3 -eq 1) {
        $notStarted = [string]$Answer[-1]
    }
    [pscustomobject]@{ Runs = $runs; NotStarted = $notStarted }
}
