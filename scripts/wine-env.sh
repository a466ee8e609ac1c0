# Sourced by the scripts: chooses the build that this host's Wine can run and points
# Wine at a throwaway prefix of the build's own (never the user's ~/.wine).
#
# ZamoClean.exe is a 32-bit program. Some kernels are booted without 32-bit
# emulation, and there Wine's 32-bit loader cannot start at all; on such a host the
# same sources are built for x86_64 as well and the tests run that build under wine64.
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

if /usr/lib/wine/wine --version >/dev/null 2>&1; then
    RUN_ARCH=i686
    WINE=/usr/lib/wine/wine
else
    RUN_ARCH=x86_64
    WINE=/usr/lib/wine/wine64
fi
WINESERVER=/usr/lib/wine/wineserver
export WINE WINESERVER RUN_ARCH
export WINEARCH=win64
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree=;mshtml="

# Builds one preset; prints nothing but errors and warnings.
build_preset() {
    local preset=$1
    shift
    cmake --preset "$preset" -Wno-dev "$@" >/dev/null
    cmake --build --preset "$preset" -j"$(nproc)" -- --no-print-directory -s
}

# Creates the prefix once: a window driver that needs no display, nothing else.
make_prefix() {
    export WINEPREFIX=$1
    if [ ! -f "$WINEPREFIX/.zamo-ready" ]; then
        rm -rf "$WINEPREFIX"
        echo "== Creating the Wine prefix $WINEPREFIX"
        "$WINE" wineboot -i >/dev/null 2>&1 || true
        "$WINE" reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1
        "$WINESERVER" -w
        touch "$WINEPREFIX/.zamo-ready"
    fi
}
