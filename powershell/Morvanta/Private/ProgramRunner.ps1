# The script block that runs on each computer, in that computer's PowerShell
# (Windows PowerShell 5.1 over WinRM, without a console). It is self-contained:
# the computer has no module. It writes the program into a new folder of its
# own under the temporary folder, runs each command line in turn until one
# ends with a code that is not a result (0, 3010, 1168), and removes the
# folder whatever happens. A new session compiles whatever it runs for the
# first time: .NET calls and plain statements, no cmdlet and no pipeline,
# keep that cost near that of a bare run of the program.
$script:ProgramRunner = {
    param([byte[]] $Program32, [byte[]] $Program64, [string[]] $CommandLines)
    $windows = [System.Environment]::OSVersion.Platform -eq 'Win32NT'
    if ($windows -and -not [System.Environment]::Is64BitOperatingSystem) {
        $Program64 = $Program32
    }
    $folder = [System.IO.Path]::Combine([System.IO.Path]::GetTempPath(), 'Morvanta-' + [guid]::NewGuid().ToString('N'))
    $program = [System.IO.Path]::Combine($folder, 'MorvantaCli.exe')
    $runs = @()
    $notStarted = $null
    try {
        $null = [System.IO.Directory]::CreateDirectory($folder)
        [System.IO.File]::WriteAllBytes($program, $Program64)
        foreach ($commandLine in $CommandLines) {
            if ($windows) {
                $info = [System.Diagnostics.ProcessStartInfo]::new($program, $commandLine)
            }
            else {
                # Wine's launcher passes on only the low 8 bits of an exit
                # code: cmd prints the whole code after the program's output.
                $info = [System.Diagnostics.ProcessStartInfo]::new('wine', "cmd /v:on /c `"Z:$($program.Replace('/', '\')) $commandLine & echo !errorlevel!`"")
            }
            $info.UseShellExecute = $false
            $info.CreateNoWindow = $info.RedirectStandardOutput = $info.RedirectStandardError = $true
            $info.StandardOutputEncoding = $info.StandardErrorEncoding = [System.Text.UTF8Encoding]::new($false)
            $process = [System.Diagnostics.Process]::Start($info)
            $output = $process.StandardOutput.ReadToEndAsync()
            $errorText = $process.StandardError.ReadToEnd()
            $process.WaitForExit()
            $exitCode = $process.ExitCode
            $output = $output.Result
            $process.Dispose()
            if (-not $windows) {
                $output = $output.TrimEnd()
                $at = $output.LastIndexOf("`n") + 1
                if (-not [int]::TryParse($output.Substring($at), [ref]$exitCode)) {
                    $notStarted = 'The program could not be started there through Wine: ' + $errorText.Trim()
                    break
                }
                if ($exitCode -eq 9009) {
                    $notStarted = 'The program could not be started there: ' + $errorText.Trim()
                    break
                }
                $output = $output.Substring(0, $at).TrimEnd()
            }
            $runs += [pscustomobject]@{ CommandLine = $commandLine; ExitCode = $exitCode; Output = $output; Error = $errorText }
            if ($exitCode -ne 0 -and $exitCode -ne 3010 -and $exitCode -ne 1168) {
                break
            }
        }
    }
    catch {
        $notStarted = 'The program could not be started there: ' + $_.Exception.Message
    }
    finally {
        if ([System.IO.Directory]::Exists($folder)) {
            [System.IO.Directory]::Delete($folder, $true)
        }
    }
    [pscustomobject]@{ Runs = $runs; NotStarted = $notStarted }
}
