#!/usr/bin/env bash
# Installs what is missing, builds, and runs one quiet clean run in a throwaway Wine
# prefix of its own (never ~/.wine, never the test suite's prefix), then prints the log.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/wine-env.sh"
cd "$ROOT"

bash scripts/setup.sh

# Only the program itself: the test suite is the other command's business.
build_program() {
    local preset=$1
    shift
    cmake --preset "$preset" -Wno-dev "$@" >/dev/null
    cmake --build --preset "$preset" --target ZamoClean -j"$(nproc)" -- --no-print-directory -s
}
echo "== Building ZamoClean.exe (i686)"
build_program i686
if [ "$RUN_ARCH" != i686 ]; then
    echo "== This kernel cannot run 32-bit Wine: the demo runs the x86_64 build of the same sources"
    build_program "$RUN_ARCH"
fi
program="$ROOT/build/$RUN_ARCH/ZamoClean.exe"
[ -f "$program" ] || program="$ROOT/build/$RUN_ARCH/bin/ZamoClean.exe"

# A fresh sandbox each time: whatever the last demo left behind is thrown away.
export WINEPREFIX="$ROOT/build/$RUN_ARCH/demo-prefix"
"$WINESERVER" -k 2>/dev/null || true
rm -rf "$WINEPREFIX"
make_prefix "$WINEPREFIX"
"$WINESERVER" -p
trap '"$WINESERVER" -k 2>/dev/null || true' EXIT
"$WINE" wineboot </dev/null >/dev/null 2>&1 || true

# What the run finds to clean. Nothing is installed yet: the run sweeps a plain machine.
seed_sample() {
    echo "== Sample installation: none (a plain prefix)"
}
seed_sample

log_folder="$WINEPREFIX/drive_c/zamo-demo"
mkdir -p "$log_folder"
signature=ZamoCleanDemo
echo "== Running: ZamoClean.exe /Quiet /Signature:$signature /Log:C:\\zamo-demo\\ZamoClean.log"
status=0
"$WINE" "$program" /Quiet "/Signature:$signature" '/Log:C:\zamo-demo\ZamoClean.log' </dev/null || status=$?
echo "== Exit code: $status"

echo "== The log (C:\\zamo-demo\\ZamoClean.log, UTF-16LE):"
if [ -f "$log_folder/ZamoClean.log" ]; then
    iconv -f UTF-16LE -t UTF-8 "$log_folder/ZamoClean.log" | tr -d '\r'
else
    echo "(no log was written)"
    exit 1
fi
exit $status
