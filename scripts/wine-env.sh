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
# No .NET or browser installers; no menu builder, which would turn every shortcut the sample or a
# test makes into a menu entry and a .desktop file in the user's home.
export WINEDLLOVERRIDES="mscoree=;mshtml=;winemenubuilder.exe=d"

# Builds one preset; prints nothing but errors and warnings.
build_preset() {
    local preset=$1
    shift
    cmake --preset "$preset" -Wno-dev "$@" >/dev/null
    cmake --build --preset "$preset" -j"$(nproc)" -- --no-print-directory -s
}

# What the ready marker of a prefix holds: a prefix made by an earlier version of make_prefix
# (whose user folders were links to the home) is made again.
PREFIX_KIND=sandboxed

# Replaces every link that a new prefix makes from a user's folders (Desktop, Documents, Music...)
# to the Unix home with a plain folder inside the prefix.
keep_prefix_inside() {
    local link
    find "$WINEPREFIX/drive_c/users" -type l -print0 | while IFS= read -r -d '' link; do
        case "$(readlink -f "$link")" in
        "$(readlink -f "$WINEPREFIX")"/*) ;;
        *) rm -f "$link" && mkdir -p "$link" ;;
        esac
    done
}

# Creates the prefix once: a window driver that needs no display, nothing that reaches outside it.
make_prefix() {
    export WINEPREFIX=$1
    if [ "$(cat "$WINEPREFIX/.zamo-ready" 2>/dev/null)" != "$PREFIX_KIND" ]; then
        [ -d "$WINEPREFIX" ] && "$WINESERVER" -k 2>/dev/null || true
        rm -rf "$WINEPREFIX"
        echo "== Creating the Wine prefix $WINEPREFIX"
        "$WINE" wineboot -i >/dev/null 2>&1 || true
        "$WINE" reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1
        "$WINESERVER" -w
        keep_prefix_inside
        echo "$PREFIX_KIND" >"$WINEPREFIX/.zamo-ready"
    fi
}
