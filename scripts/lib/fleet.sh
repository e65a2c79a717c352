# Sourced after common.sh: PowerShell and Pester, the module staged with its
# programs, and a fleet of loopback "computers" for the module's tests and
# benchmark. Each computer is an sshd started here on its own address
# (127.0.0.2, 127.0.0.3, ...) whose PowerShell sessions get a 64-bit Wine
# prefix of their own. Never the machine's own SSH service or /etc/ssh: the
# sshd instances and the prefixes' servers are ended by their own ids.

FLEET_DIR=$MORVANTA_ROOT/build/fleet
FLEET_PORT=2222
PWSH=$HOME/.dotnet/tools/pwsh
PESTER_PSD1=$MORVANTA_ROOT/build/tools/pester/6.2.0/tools/Pester.psd1
MODULE_STAGE=$MORVANTA_ROOT/build/powershell/Morvanta

# PowerShell 7.6.10 as a .NET tool (7.7.0 does not run on this .NET), Pester
# 6.2.0 from NuGet, and OpenSSH's server.
ensure_powershell() {
    install_packages openssh-server || exit 1
    if ! "$PWSH" -NoProfile -Command '$PSVersionTable.PSVersion.ToString()' 2>/dev/null | grep -qx '7.6.10'; then
        dotnet tool uninstall --global PowerShell >/dev/null 2>&1 || true
        dotnet tool install --global PowerShell --version 7.6.10 >/dev/null
    fi
    if [ ! -f "$PESTER_PSD1" ]; then
        mkdir -p build/tools/restore
        cat > build/tools/restore/restore.csproj <<'PROJECT'
<Project Sdk="Microsoft.NET.Sdk">
  <PropertyGroup><TargetFramework>net10.0</TargetFramework></PropertyGroup>
  <ItemGroup><PackageDownload Include="Pester" Version="[6.2.0]" /></ItemGroup>
</Project>
PROJECT
        dotnet restore build/tools/restore/restore.csproj --packages build/tools >/dev/null
    fi
}

# The module as it ships: its files with both programs under bin/.
# stage_module DIR I686_BIN X64_BIN
stage_module() {
    local dir=$1
    rm -rf "$dir"
    mkdir -p "$(dirname "$dir")"
    cp -r powershell/Morvanta "$dir"
    cp LICENSE "$dir/"
    mkdir -p "$dir/bin/x86" "$dir/bin/x64"
    cp "$2/MorvantaCli.exe" "$dir/bin/x86/"
    cp "$3/MorvantaCli.exe" "$dir/bin/x64/"
}

fleet_host_env() {
    local host=$FLEET_DIR/host$1
    echo "WINEPREFIX=$host/prefix WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES=mscoree,mshtml= TMPDIR=$host/tmp" \
        "WINESERVER=/usr/lib/wine/wineserver64 WINELOADER=/usr/lib/wine/wine64 LC_ALL=C.UTF-8"
}

# Starts computers 2 .. COUNT+1: fleet_start COUNT. Prefixes are made once
# per build tree (a copy of one made with wineboot) and their registry reset
# on every start.
fleet_start() {
    local count=$1 i host address
    mkdir -p "$FLEET_DIR/bin"
    mkdir -p -m 755 /run/sshd # sshd's privilege separation folder
    # A computer that the tests make slow (its folder's delay file holds the
    # seconds) answers after the others.
    cat > "$FLEET_DIR/bin/wine" <<'WRAPPER'
#!/bin/sh
delay=$(cat "${WINEPREFIX%/prefix}/delay" 2>/dev/null) && sleep "$delay"
exec /usr/lib/wine/wine64 "$@"
WRAPPER
    chmod +x "$FLEET_DIR/bin/wine"
    [ -f "$FLEET_DIR/client_key" ] || ssh-keygen -q -t ed25519 -N '' -f "$FLEET_DIR/client_key"
    cp "$FLEET_DIR/client_key.pub" "$FLEET_DIR/authorized_keys"
    : > "$FLEET_DIR/known_hosts"
    (
        export WINEARCH=win64 WINE=/usr/lib/wine/wine64 WINESERVER=/usr/lib/wine/wineserver64 WINELOADER=/usr/lib/wine/wine64
        ensure_wine_prefix "$FLEET_DIR/template-prefix"
    )
    for ((i = 2; i < count + 2; i++)); do
        host=$FLEET_DIR/host$i
        address=127.0.0.$i
        rm -rf "$host/tmp" "$host/delay" # a folder left there by an earlier run would hide one left by this run
        mkdir -p "$host/tmp"
        fleet_host_env "$i" | tr ' ' '\n' > "$host/wine.env" # what the harness's own Wine calls there use
        if [ ! -f "$host/prefix/.morvanta-ready" ]; then
            # The Windows folder (1.3 GB of DLLs, which no run writes in
            # place) is shared through hard links; the registry and the
            # rest are each computer's own.
            rm -rf "$host/prefix" && mkdir -p "$host/prefix"
            (cd "$FLEET_DIR/template-prefix" && tar --exclude=./drive_c/windows -cf - .) | (cd "$host/prefix" && tar -xpf -)
            cp -al "$FLEET_DIR/template-prefix/drive_c/windows" "$host/prefix/drive_c/windows"
        fi
        [ -f "$host/ssh_host_ed25519_key" ] || ssh-keygen -q -t ed25519 -N '' -f "$host/ssh_host_ed25519_key"
        echo "[$address]:$FLEET_PORT $(cut -d' ' -f1,2 "$host/ssh_host_ed25519_key.pub")" >> "$FLEET_DIR/known_hosts"
        cat > "$host/sshd_config" <<CONFIG
Port $FLEET_PORT
ListenAddress $address
HostKey $host/ssh_host_ed25519_key
PidFile $host/sshd.pid
AuthorizedKeysFile $FLEET_DIR/authorized_keys
PubkeyAuthentication yes
PasswordAuthentication no
KbdInteractiveAuthentication no
PermitRootLogin prohibit-password
UsePAM no
StrictModes no
SetEnv $(fleet_host_env "$i") PATH=$FLEET_DIR/bin:/usr/local/bin:/usr/bin:/bin
Subsystem powershell $PWSH -sshs -NoLogo -NoProfile
CONFIG
        (
            # shellcheck disable=SC2046
            export $(fleet_host_env "$i")
            export WINE=/usr/lib/wine/wine64
            reset_wine_prefix
            # The server and its helpers started with their output on nothing:
            # one started by a session's first call would hold that call's
            # standard error open, and every call would wait for it to end.
            "$WINESERVER" -p </dev/null >/dev/null 2>&1
            timeout 120 "$WINE" wineboot </dev/null >/dev/null 2>&1
        )
        : > "$host/sshd.log"
        /usr/sbin/sshd -f "$host/sshd_config" -E "$host/sshd.log"
    done
    echo "$count" > "$FLEET_DIR/count"
    # Each computer answers before any test runs, or the run says which did not.
    for ((i = 2; i < count + 2; i++)); do
        fleet_host_listening "$i" && continue
        echo "The loopback computer 127.0.0.$i did not start: $(tail -n 1 "$FLEET_DIR/host$i/sshd.log")" >&2
        return 1
    done
}

# Whether computer N's sshd runs (its PidFile names an sshd of its own
# configuration) and accepts a connection, within ten seconds.
fleet_host_listening() {
    local host=$FLEET_DIR/host$1 tries
    for ((tries = 0; tries < 100; tries++)); do
        if fleet_sshd_pid "$1" >/dev/null && (exec 3<>"/dev/tcp/127.0.0.$1/$FLEET_PORT") 2>/dev/null; then
            return 0
        fi
        sleep 0.1
    done
    return 1
}

# The id in computer N's PidFile, when it is still that computer's sshd: an
# id that Linux gave to another process since (pid_max may be 32768, and a
# long Wine run goes through many) is never signalled.
fleet_sshd_pid() {
    local host=$FLEET_DIR/host$1 pid
    pid=$(cat "$host/sshd.pid" 2>/dev/null) || return 1
    tr '\0' ' ' <"/proc/$pid/cmdline" 2>/dev/null | grep -qF -- "-f $host/sshd_config" || return 1
    echo "$pid"
}

# Ends each sshd (and the connections it forked) by the id in its PidFile,
# then each prefix's server, found through the TMPDIR and WINEPREFIX its
# sessions had.
fleet_stop() {
    local count i host pid tries
    [ -f "$FLEET_DIR/count" ] || return 0
    count=$(cat "$FLEET_DIR/count")
    for ((i = 2; i < count + 2; i++)); do
        host=$FLEET_DIR/host$i
        if pid=$(fleet_sshd_pid "$i"); then
            pkill -P "$pid" 2>/dev/null || true
            kill "$pid" 2>/dev/null || true
            # Gone before the next start binds its address again.
            for ((tries = 0; tries < 50; tries++)); do
                kill -0 "$pid" 2>/dev/null || break
                sleep 0.1
            done
        fi
        rm -f "$host/sshd.pid"
        (
            # shellcheck disable=SC2046
            export $(fleet_host_env "$i")
            "$WINESERVER" -k </dev/null >/dev/null 2>&1 || true
        )
    done
    rm -f "$FLEET_DIR/count"
}

MODULE_TESTS_SECONDS=600 # the suite takes about a minute, three on a loaded machine

# One line on why the suite ended without its closing "N passed, N failed":
# its time limit, a signal, or an exit before Pester could count.
tell_suite_end() { # tell_suite_end EXIT_CODE LOG SECONDS
    local signal
    tail -n 1 "$2" | grep -qE '^[0-9]+ passed, [0-9]+ failed' && return 0
    if [ "$3" -ge "$MODULE_TESTS_SECONDS" ]; then
        echo "The remoting suite reached its time limit of $MODULE_TESTS_SECONDS s and was stopped."
        echo "0 passed, 1 failed"
        return 0
    fi
    case $1 in
    0) echo "The remoting suite ended without its closing line." ;;
    *)
        signal=$(kill -l "$(($1 - 128))" 2>/dev/null) || signal=
        if [ "$signal" = KILL ]; then
            echo "The remoting suite's PowerShell was killed (SIGKILL: by another process, or by the kernel when memory ran out) before its closing line."
        elif [ "$1" -gt 128 ] && [ -n "$signal" ]; then
            echo "The remoting suite's PowerShell was ended by SIG$signal before its closing line."
        else
            echo "The remoting suite's PowerShell ended with exit code $1 before its closing line."
        fi
        ;;
    esac
    echo "0 passed, 1 failed"
}

# The module's suite over seven loopback computers, staged from the cross
# builds in build/win-i686 and build/win-x86_64. It ends with its closing
# line whatever happens: a computer that did not start, a time limit
# reached, a PowerShell that died are each told in a line of their own.
run_module_tests() {
    local rc=0 started suite copier tries
    ensure_powershell
    stage_module "$MODULE_STAGE" build/win-i686/bin build/win-x86_64/bin
    fleet_stop
    trap fleet_stop EXIT
    fleet_start 7 || { rc=$? && echo "0 passed, 1 failed"; }
    if [ "$rc" -eq 0 ]; then
        started=$SECONDS
        # The suite's own output, kept to tell whether it reached its closing
        # line; the copy's id is taken at once, where no other job can be $!.
        exec {suite}> >(tee "$FLEET_DIR/suite.log")
        copier=$!
        MORVANTA_MODULE=$MODULE_STAGE/Morvanta.psd1 MORVANTA_FLEET=$FLEET_DIR \
            MORVANTA_DACL_HELPER=$MORVANTA_ROOT/build/win-x86_64/bin/SubsystemsKeyDacl.exe \
            MORVANTA_EVENT_LOG=$MORVANTA_ROOT/build/win-x86_64/bin/EventLogStandIn.dll \
            timeout -k 10 "$MODULE_TESTS_SECONDS" "$PWSH" -NoProfile -NonInteractive -File powershell/tests/Invoke-ModuleTests.ps1 \
            -PesterManifest "$PESTER_PSD1" >&"$suite" || rc=$?
        exec {suite}>&-
        # A process the suite left behind may hold the copy open: ten seconds.
        for ((tries = 0; tries < 100; tries++)); do
            kill -0 "$copier" 2>/dev/null || break
            sleep 0.1
        done
        kill "$copier" 2>/dev/null || true
        tell_suite_end "$rc" "$FLEET_DIR/suite.log" $((SECONDS - started))
    fi
    fleet_stop
    trap - EXIT
    return $rc
}
