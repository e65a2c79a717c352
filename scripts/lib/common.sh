# Sourced by the scripts: Debian packages, the Wine flavour this host can run,
# and a throwaway Wine prefix inside a build tree.

MORVANTA_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)

MORVANTA_PACKAGES=(
    cmake ninja-build clang libclang-rt-14-dev clang-tidy clang-format cppcheck googletest libgtest-dev libbenchmark-dev
    g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix mingw-w64-i686-dev binutils-mingw-w64-i686
    mingw-w64-x86-64-dev binutils-mingw-w64-x86-64
    wine wine64 xvfb xauth x11-apps imagemagick xdotool osslsigncode openssl
)

# Whether this kernel runs 32-bit x86 programs, asked before Wine is there: a
# 96-byte static ELF program that only exits with 42 (a kernel without IA-32
# emulation refuses to start it).
kernel_runs_ia32() {
    local probe rc=0
    mkdir -p "$MORVANTA_ROOT/build"
    probe=$MORVANTA_ROOT/build/ia32-probe
    printf '\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00\x01\x00\x00\x00\x54\x80\x04\x08' >"$probe"
    printf '\x34\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x34\x00\x20\x00\x01\x00\x00\x00\x00\x00\x00\x00' >>"$probe"
    printf '\x01\x00\x00\x00\x00\x00\x00\x00\x00\x80\x04\x08\x00\x80\x04\x08\x60\x00\x00\x00\x60\x00\x00\x00' >>"$probe"
    printf '\x05\x00\x00\x00\x00\x10\x00\x00\xb8\x01\x00\x00\x00\xbb\x2a\x00\x00\x00\xcd\x80' >>"$probe"
    chmod +x "$probe"
    "$probe" 2>/dev/null || rc=$?
    rm -f "$probe"
    [ "$rc" -eq 42 ]
}

package_installed() {
    dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'
}

# Installs whatever of the given packages is missing; needs root on a fresh
# machine. A package list that fails to download does not stop the run: the
# install decides, and a package it cannot install stops the run with one line
# naming the package and apt's error. The lists are fetched once a run.
install_packages() {
    local missing=() pkg log
    for pkg in "$@"; do
        package_installed "$pkg" || missing+=("$pkg")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing: ${missing[*]}"
    if [ -z "${MORVANTA_APT_UPDATED:-}" ]; then
        as_root apt-get update -qq >/dev/null 2>&1 ||
            echo "Some package lists could not be fetched (apt-get update failed); going on with those there are."
        MORVANTA_APT_UPDATED=1
    fi
    log=$(as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" 2>&1 >/dev/null) &&
        return 0
    # Name the first package that cannot be had, with apt's own words.
    for pkg in "${missing[@]}"; do
        log=$(LC_ALL=C apt-get install -s -qq --no-install-recommends "$pkg" 2>&1 >/dev/null) && continue
        echo "Cannot install $pkg: $(grep -m1 '^E:' <<<"$log" | sed 's/^E: //')" >&2
        return 1
    done
    echo "Cannot install ${missing[*]}: $(grep -m1 '^E:' <<<"$log" | sed 's/^E: //')" >&2
    return 1
}

# The build and test tools; and 32-bit Wine where the kernel runs 32-bit code
# (only there is the i386 architecture added). Where 32-bit Wine cannot be
# installed, the Windows-side tests take the x86_64 path as on a kernel
# without 32-bit code (choose_wine).
ensure_packages() {
    install_packages "${MORVANTA_PACKAGES[@]}" || exit 1
    kernel_runs_ia32 || return 0
    package_installed wine32:i386 && return 0
    local added="" why
    if ! dpkg --print-foreign-architectures | grep -qx i386; then
        as_root dpkg --add-architecture i386
        added=1
        MORVANTA_APT_UPDATED=
    fi
    why=$(install_packages wine32:i386 2>&1 >/dev/null) && return 0
    # Nothing of i386 was installed: the machine is left as it was found.
    [ -n "$added" ] && as_root dpkg --remove-architecture i386 2>/dev/null
    echo "This kernel runs 32-bit code, but wine32:i386 cannot be installed (${why#Cannot install wine32:i386: }): the Windows-side tests run on the x86_64 build under wine64."
}

as_root() {
    if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

# 32-bit Wine where the kernel runs 32-bit code; otherwise wine64, and the
# Windows-side tests are cross-built for x86_64 from the same sources.
choose_wine() {
    if timeout 20 /usr/lib/wine/wine --version >/dev/null 2>&1; then
        WIN_ARCH=i686
        export WINEARCH=win32
        export WINE=/usr/lib/wine/wine
        export WINESERVER=/usr/lib/wine/wineserver32
        unset WINELOADER
    else
        WIN_ARCH=x86_64
        export WINEARCH=win64
        export WINE=/usr/lib/wine/wine64
        export WINESERVER=/usr/lib/wine/wineserver64
        export WINELOADER=$WINE # child processes start with the same loader
    fi
    export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" LC_ALL=C.UTF-8
}

# Creates the prefix once: no crash dialogs, unmanaged windows (no 2 s wait
# for a window manager on every close). Runs without a display, so the
# server is waited for before any GUI session starts. A copy of the fresh
# registry is kept for reset_wine_prefix.
ensure_wine_prefix() {
    export WINEPREFIX=$1
    [ -f "$WINEPREFIX/.morvanta-ready" ] && [ -d "$WINEPREFIX/.pristine" ] && return 0
    rm -rf "$WINEPREFIX"
    mkdir -p "$(dirname "$WINEPREFIX")" # Wine makes only the last folder
    (
        unset DISPLAY
        timeout 300 "$WINE" wineboot -i >/dev/null 2>&1
        timeout 60 "$WINE" reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null 2>&1
        timeout 60 "$WINE" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
        timeout 60 "$WINESERVER" -w
    )
    mkdir "$WINEPREFIX/.pristine"
    cp -p "$WINEPREFIX"/*.reg "$WINEPREFIX/.pristine/"
    touch "$WINEPREFIX/.morvanta-ready"
}

# Puts the prefix's registry back as it was made, so that a test run starts
# from a known state even after an interrupted one (a SubSystems value, an
# AppDefaults entry or a DACL left behind). A stale server, and whatever it
# still runs, is ended first: it would write its registry back on exit.
reset_wine_prefix() {
    "$WINESERVER" -k >/dev/null 2>&1 </dev/null || true
    "$WINESERVER" -w >/dev/null 2>&1 </dev/null || true
    cp -p "$WINEPREFIX"/.pristine/*.reg "$WINEPREFIX/"
    # Wine has no subsystem process and ships no csrss.exe: one in this
    # throwaway prefix is a stand-in copy left by a killed test run, which
    # the tests would refuse to overwrite.
    rm -f "$WINEPREFIX"/drive_c/windows/system32/csrss.exe "$WINEPREFIX"/drive_c/windows/syswow64/csrss.exe
    # Likewise Wine's own wevtapi.dll, set aside while the tests' stand-in served.
    local dir
    for dir in "$WINEPREFIX"/drive_c/windows/system32 "$WINEPREFIX"/drive_c/windows/syswow64; do
        if [ -f "$dir/wevtapi.dll.wine" ]; then
            mv -f "$dir/wevtapi.dll.wine" "$dir/wevtapi.dll"
        fi
        rm -f "$dir/wevtapi.events"
    done
}

# Runs a command in one Xvfb with a persistent, warm wineserver whose stdio
# is not a pipe (a reader would wait for the server to exit), then kills
# that prefix's server only.
in_wine_session() {
    xvfb-run -a -s "-screen 0 1024x768x24" bash -c '
        "$WINESERVER" -p >/dev/null 2>&1 </dev/null
        timeout 60 "$WINE" cmd /c exit >/dev/null 2>&1 </dev/null
        rc=0; "$@" || rc=$?
        "$WINESERVER" -k >/dev/null 2>&1 </dev/null
        exit $rc' in_wine_session "$@"
}

# Configures a Release cross build: configure_windows DIR i686|x86_64 [cmake args].
configure_windows() {
    local dir=$1 arch=$2
    shift 2
    cmake -S . -B "$dir" -G Ninja -DCMAKE_TOOLCHAIN_FILE="cmake/mingw-$arch.cmake" -DCMAKE_BUILD_TYPE=Release \
        "$@" >/dev/null
}

# Builds Morvanta.exe: the shipped 32-bit build, and where only wine64 runs,
# the same sources for x86_64 as well. Sets MORVANTA_EXE to the one this
# host's Wine can start.
build_program() {
    configure_windows build/win-i686 i686
    cmake --build build/win-i686 --target Morvanta
    MORVANTA_EXE=$MORVANTA_ROOT/build/win-i686/bin/Morvanta.exe
    if [ "$WIN_ARCH" = x86_64 ]; then
        configure_windows build/win-x86_64 x86_64
        cmake --build build/win-x86_64 --target Morvanta
        MORVANTA_EXE=$MORVANTA_ROOT/build/win-x86_64/bin/Morvanta.exe
    fi
}

MORVANTA_SUBSYSTEMS_KEY='HKLM\SYSTEM\CurrentControlSet\Control\Session Manager\SubSystems'
MORVANTA_TYPICAL_VALUE='%SystemRoot%\system32\csrss.exe ObjectDirectory=\Windows SharedSection=1024,3072,512 Windows=On SubSystemType=Windows ServerDll=basesrv,1 ServerDll=winsrv:UserServerDllInitialization,3 ServerDll=sxssrv,4 ProfileControl=Off MaxRequestThreads=16'

# Wine prefixes have no SubSystems key: seed the typical value when it is missing.
seed_subsystems_value() {
    if ! timeout 60 "$WINE" reg query "$MORVANTA_SUBSYSTEMS_KEY" /v Windows >/dev/null 2>&1; then
        timeout 60 "$WINE" reg add "$MORVANTA_SUBSYSTEMS_KEY" /v Windows /t REG_EXPAND_SZ \
            /d "$MORVANTA_TYPICAL_VALUE" /f >/dev/null 2>&1
    fi
}

# A second build of the shipped programs in another directory must give the
# same bytes: no time stamps and no build paths. Compares build/win-i686 and
# build/win-x86_64 (MorvantaCli.exe only) with fresh builds beside them.
check_reproducible() {
    local arch program
    for arch in i686 x86_64; do
        rm -rf "build/repro-$arch"
        configure_windows "build/repro-$arch" "$arch" -DMORVANTA_TESTS=OFF
    done
    cmake --build build/repro-i686 --target Morvanta MorvantaCli >/dev/null
    cmake --build build/repro-x86_64 --target MorvantaCli >/dev/null
    for program in i686/Morvanta.exe i686/MorvantaCli.exe x86_64/MorvantaCli.exe; do
        arch=${program%%/*}
        program=${program#*/}
        if ! cmp "build/win-$arch/bin/$program" "build/repro-$arch/bin/$program"; then
            echo "$program ($arch) is not reproducible: two builds differ" >&2
            return 1
        fi
        echo "Reproducible: $program ($arch) $(sha256sum "build/win-$arch/bin/$program" | cut -d' ' -f1)"
    done
}

# The layout, then clang-tidy and cppcheck over the product code: core/
# natively, platform/ and ui/ for the mingw-w64 target. Needs the compile
# commands of build/native and build/win-i686.
run_static_analysis() {
    local sources
    sources=$(find core platform ui cli res testing -name '*.cpp' -o -name '*.h' | sort)
    clang-format --dry-run --Werror $sources
    check_test_safety
    clang-tidy --quiet -p build/native core/*.cpp 2> >(grep -v 'warnings generated' >&2)
    clang-tidy --quiet -p build/win-i686 --extra-arg=--target=i686-w64-mingw32 platform/*.cpp ui/*.cpp cli/*.cpp \
        2> >(grep -v 'warnings generated' >&2)
    local cppcheck_flags=(--enable=warning,style,performance,portability --error-exitcode=1 --inline-suppr
        --quiet --std=c++17 -I core -I platform -I res -I ui)
    cppcheck "${cppcheck_flags[@]}" core/*.cpp
    cppcheck "${cppcheck_flags[@]}" -I cli --platform=win32W --library=windows -D_WIN32 -DUNICODE -D_UNICODE \
        platform/*.cpp ui/*.cpp cli/*.cpp
    echo "Static analysis: clean"
}

# No test source may reach past the guards: only the guard names the real
# lookups, and no test names the real token adjustment or shutdown request
# (their fakes and the Lazy wrappers are named otherwise).
check_test_safety() {
    local tests found
    tests=$(find core/tests core/fuzz platform/tests ui/tests cli/tests res/tests testing -name '*.cpp' -o -name '*.h' | sort)
    found=$(grep -nE '(^|[^A-Za-z_])(LookupAdvapiFunction|LookupSystemFunction|AdjustTokenPrivileges|InitiateSystemShutdown(Ex)?[AW]?)[[:space:]]*[(),;=]' \
        $tests | grep -vE '^[^:]+:[0-9]+:[[:space:]]*//' |
        grep -vE '^testing/advapi_guard.cpp:.*(LookupAdvapiFunction\(pszName\)|LookupSystemFunction\(pszModule, pszName\))' || true)
    if [ -n "$found" ]; then
        echo "Tests that go past the advapi32 guard:" >&2
        echo "$found" >&2
        return 1
    fi
}
