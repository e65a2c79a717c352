# Sourced after common.sh and fleet.sh: PowerShell for Windows, PowerShell's
# own console host built from NuGet, run under wine64 in a prefix of its own,
# so that the module's Windows code runs for real: the program started
# directly, its whole exit code read from the process.

WINDOWS_PWSH=$MORVANTA_ROOT/build/tools/windows-pwsh
WINDOWS_PWSH_PREFIX=$MORVANTA_ROOT/build/windows-powershell/prefix

# Built once per build tree. The SDK package brings no built-in modules, and
# without PowerShell's config its execution policy is Restricted: both come
# from the Windows folder of the PowerShell tool.
ensure_windows_powershell() {
    local tool=$HOME/.dotnet/tools/.store/powershell/7.6.10/powershell/7.6.10/tools/net10.0/any/win
    [ -f "$WINDOWS_PWSH/.morvanta-ready" ] && return 0
    rm -rf "$WINDOWS_PWSH"
    dotnet publish powershell/tests/windows-host/WindowsPowerShellHost.csproj -c Release -o "$WINDOWS_PWSH" \
        --artifacts-path build/tools/windows-host --nologo -v q >/dev/null
    cp -r "$tool/Modules" "$tool/powershell.config.json" "$WINDOWS_PWSH/"
    touch "$WINDOWS_PWSH/.morvanta-ready"
}

# The Windows path of a file of this machine (Z: is the root).
windows_path() {
    local path
    path=$(realpath "$1")
    echo "Z:${path//\//\\}"
}

# The module's Windows suite: run_windows_module_tests MODULE_DIR, the module as
# the release lays it out. Runs under RemoteSigned: Wine cannot judge script
# signatures (osslsigncode does, in the release's test).
run_windows_module_tests() {
    ensure_powershell
    ensure_windows_powershell
    (
        export WINEARCH=win64 WINE=/usr/lib/wine/wine64 WINESERVER=/usr/lib/wine/wineserver64 WINELOADER=/usr/lib/wine/wine64
        ensure_wine_prefix "$WINDOWS_PWSH_PREFIX"
        reset_wine_prefix
        # A folder left there by a killed run would hide one left by this run.
        rm -rf "$WINEPREFIX"/drive_c/users/*/Temp/Morvanta-*
        "$WINESERVER" -p </dev/null >/dev/null 2>&1
        timeout 120 "$WINE" wineboot </dev/null >/dev/null 2>&1
        # mscoree loads every .NET assembly under Wine; without the W^X
        # switch the runtime dies after a few commands there.
        export WINEDLLOVERRIDES=mshtml= DOTNET_EnableWriteXorExecute=0
        MORVANTA_MODULE=$(windows_path "$1/Morvanta.psd1")
        MORVANTA_DACL_HELPER=$(windows_path build/win-x86_64/bin/SubsystemsKeyDacl.exe)
        MORVANTA_EVENT_LOG=$(windows_path build/win-x86_64/bin/EventLogStandIn.dll)
        export MORVANTA_MODULE MORVANTA_DACL_HELPER MORVANTA_EVENT_LOG
        local rc=0 log=build/windows-powershell/run.log
        # The console host needs a console: script gives it a terminal.
        timeout 900 script -qec "stty cols 200; $WINE $WINDOWS_PWSH/pwsh.exe -NoProfile -NonInteractive -ExecutionPolicy RemoteSigned \
            -File '$(windows_path powershell/tests/Invoke-ModuleTests.ps1)' -PesterManifest '$(windows_path "$PESTER_PSD1")' \
            -Path '$(windows_path powershell/tests/Morvanta.Windows.Tests.ps1)'" /dev/null </dev/null >"$log" || rc=$?
        "$WINESERVER" -k </dev/null >/dev/null 2>&1 || true
        sed -e 's/\x1b\[[0-9;?]*[A-Za-z]//g' -e 's/\x1b\][^\x07]*\x07//g' -e 's/\r$//' "$log" | grep -v '^Read access denied for device'
        exit $rc
    )
}
