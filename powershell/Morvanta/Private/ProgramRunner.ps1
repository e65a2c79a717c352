# The script block that runs on each computer, in that computer's PowerShell
# (Windows PowerShell 5.1 over WinRM, without a console). It is self-contained:
# the computer has no module. It writes the program into a new folder of its
# own under the temporary folder, runs each command line in turn until one
# ends with a code that is not a result (0, 3010, 1168), and removes the
# folder whatever happens.
$script:ProgramRunner = {
    param(
        [byte[]] $Program32,
        [byte[]] $Program64,
        [string[]] $CommandLines
    )

    $onWindows = [System.Environment]::OSVersion.Platform -eq [System.PlatformID]::Win32NT
    $bytes = $Program64
    if ($onWindows -and -not [System.Environment]::Is64BitOperatingSystem) {
        $bytes = $Program32
    }
    $utf8 = New-Object System.Text.UTF8Encoding -ArgumentList $false
    $folder = Join-Path ([System.IO.Path]::GetTempPath()) ('Morvanta-' + [guid]::NewGuid().ToString('N'))
    $runs = New-Object System.Collections.Generic.List[object]
    $notStarted = $null
    try {
        $null = [System.IO.Directory]::CreateDirectory($folder)
        $program = Join-Path $folder 'MorvantaCli.exe'
        [System.IO.File]::WriteAllBytes($program, $bytes)
        foreach ($commandLine in $CommandLines) {
            $info = New-Object System.Diagnostics.ProcessStartInfo
            $info.UseShellExecute = $false
            $info.CreateNoWindow = $true
            $info.RedirectStandardOutput = $true
            $info.RedirectStandardError = $true
            $info.StandardOutputEncoding = $utf8
            $info.StandardErrorEncoding = $utf8
            if ($onWindows) {
                $info.FileName = $program
                $info.Arguments = $commandLine
            }
            else {
                # Wine's launcher passes on only the low 8 bits of an exit code:
                # cmd prints the whole code after the program's output instead.
                $info.FileName = 'wine'
                $windowsPath = 'Z:' + $program.Replace('/', '\')
                foreach ($argument in 'cmd', '/v:on', '/c', "$windowsPath $commandLine & echo !errorlevel!") {
                    $info.ArgumentList.Add($argument)
                }
            }
            $process = [System.Diagnostics.Process]::Start($info)
            try {
                # Both streams at once: a full pipe would stop the program.
                $outputTask = $process.StandardOutput.ReadToEndAsync()
                $errorText = $process.StandardError.ReadToEnd()
                $process.WaitForExit()
                $output = $outputTask.Result
                $exitCode = $process.ExitCode
            }
            finally {
                $process.Dispose()
            }
            if (-not $onWindows) {
                $lines = @($output.TrimEnd() -split '\r?\n')
                if ($lines[-1] -notmatch '^\d+$') {
                    $notStarted = 'The program could not be started there through Wine: ' + $errorText.Trim()
                    break
                }
                $exitCode = [int]$lines[-1]
                $output = ($lines | Select-Object -SkipLast 1) -join "`r`n"
                if ($exitCode -eq 9009) {
                    $notStarted = 'The program could not be started there: ' + $errorText.Trim()
                    break
                }
            }
            $runs.Add([pscustomobject]@{
                    CommandLine = $commandLine
                    ExitCode    = $exitCode
                    Output      = $output
                    Error       = $errorText
                })
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
    [pscustomobject]@{
        Runs       = $runs.ToArray()
        NotStarted = $notStarted
    }
}
