# Sourced by the scripts: the shipped 32-bit build is what runs, and Wine works in a
# throwaway prefix of the build's own (never the user's ~/.wine).
#
# On a kernel that cannot execute 32-bit code, scripts/setup.sh has Wine's 32-bit side run
# under user-mode emulation (scripts/i386-emulation.sh), so the same i686 build runs there too.
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

RUN_ARCH=i686
WINE=/usr/lib/wine/wine
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
