#!/usr/bin/env bash
# Compares the whole logs of another build of ZamoClean.exe with this tree's i686 build, on the
# benchmark's synthetic machine at two sizes and on the sample installation, a preview and a real
# run each. Every run starts from the same freshly seeded machine; the logs must be equal line for
# line once time stamps and process IDs are set aside.
#   bench/compare-logs.sh OLD_EXE [SCALE]   sizes SCALE and 4 x SCALE (default 0.25)
# It uses a Wine prefix of its own (build/i686/compare-prefix) under one wineserver.
set -euo pipefail
OLD=$(realpath "$1")
SCALE=${2:-0.25}
source "$(dirname "${BASH_SOURCE[0]}")/../scripts/wine-env.sh"
cd "$ROOT"

echo "== Building ZamoClean.exe and the seeding helpers (i686)"
cmake --preset i686 -Wno-dev >/dev/null
cmake --build --preset i686 -j"$(nproc)" --target ZamoClean BenchFloor FakeProduct SampleInventory -- --no-print-directory -s
BUILD="$ROOT/build/i686"
NEW="$BUILD/bin/ZamoClean.exe"
FLOOR="$BUILD/bench/Floor.exe"

make_prefix "$BUILD/compare-prefix"
DRIVE_C="$WINEPREFIX/drive_c"
OUT="$BUILD/compare"
rm -rf "$OUT"
mkdir -p "$OUT" "$DRIVE_C/compare"
"$WINESERVER" -k 2>/dev/null || true
"$WINESERVER" -p
"$WINE" wineboot </dev/null >/dev/null 2>&1 || true
trap '"$WINESERVER" -k 2>/dev/null || true' EXIT
winpath() { printf 'Z:%s' "${1//\//\\}"; }

# The log of a run as text, each line without its time stamp and with process IDs as "#". The
# processes of one seed get other IDs than those of the next, and the stopper takes them in the
# snapshot's order: each run of stop lines is sorted.
masked() {
    iconv -f UTF-16LE -t UTF-8 "$1" | tr -d '\r' | cut -c26- |
        sed -E 's/(process |process \[)[0-9]+/\1#/g' |
        python3 -c '
import sys
lines, stops = [], []
for line in sys.stdin:
    if line.startswith(("Stopping process", "Would stop process")):
        stops.append(line)
        continue
    lines += sorted(stops) + [line]
    stops = []
sys.stdout.writelines(lines + sorted(stops))'
}
# The marks of a run, which would make the next run skip its scopes, with the maker's keys that
# writing them made: the run had deleted those, and the next build's run must not meet them.
unmark() {
    "$WINE" reg delete 'HKLM\Software\Quorvex' /reg:64 /f >/dev/null 2>&1 || true
    "$WINE" reg delete 'HKCU\Software\Quorvex' /reg:64 /f >/dev/null 2>&1 || true
}

failures=0
# run NAME EXE ARGS...: one quiet run, its log (one name for every run: the header shows it)
# kept as OUT/NAME.txt
run() {
    local name=$1 exe=$2
    shift 2
    rm -f "$DRIVE_C/compare/run.log"
    "$WINE" "$exe" /Quiet "$@" '/Log:C:\compare\run.log' </dev/null >/dev/null 2>&1 || true
    masked "$DRIVE_C/compare/run.log" >"$OUT/$name.txt"
}
same() {
    if cmp -s "$OUT/old-$1.txt" "$OUT/new-$1.txt"; then
        printf '  %-22s identical (%d lines)\n' "$1" "$(wc -l <"$OUT/new-$1.txt")"
    else
        printf '  %-22s DIFFERENT\n' "$1"
        diff "$OUT/old-$1.txt" "$OUT/new-$1.txt" | head -20 || true
        failures=$((failures + 1))
    fi
}

echo "== The synthetic machine"
unmark
for SIZE in $SCALE $(awk "BEGIN { print $SCALE * 4 }"); do
    DATA="$OUT/scale-$SIZE"
    mkdir -p "$DATA"
    python3 bench/generate.py "$DATA" "$SIZE" >/dev/null
    seed() {
        python3 bench/generate.py files "$DRIVE_C" "$SIZE"
        "$WINE" "$FLOOR" run "$(winpath "$DATA/reset.txt")" </dev/null >/dev/null
        "$WINE" reg import "$(winpath "$DATA/machine64.reg")" /reg:64 </dev/null >/dev/null 2>&1
        "$WINE" reg import "$(winpath "$DATA/machine32.reg")" /reg:32 </dev/null >/dev/null 2>&1
    }
    seed
    run "old-preview-$SIZE" "$OLD" /Preview /Signature:Compare
    run "new-preview-$SIZE" "$NEW" /Preview /Signature:Compare
    same "preview-$SIZE"
    for build in old new; do
        seed
        exe=$OLD
        [ $build = new ] && exe=$NEW
        run "$build-real-$SIZE" "$exe" /Signature:Compare
        "$WINE" "$FLOOR" check "$(winpath "$DATA/objects.txt")" </dev/null | tr -d '\r' >"$OUT/$build-check-$SIZE.txt" || true
        unmark
    done
    same "real-$SIZE"
    same "check-$SIZE"
done

echo "== The sample installation"
SAMPLE="$OUT/sample"
bash sample/sample.sh seed "$SAMPLE" "$BUILD/bin" >/dev/null
run old-sample-preview "$OLD" /Preview /Signature:Compare
run new-sample-preview "$NEW" /Preview /Signature:Compare
same sample-preview
for build in old new; do
    exe=$OLD
    [ $build = new ] && exe=$NEW
    run "$build-sample-real" "$exe" /Signature:Compare
    bash sample/sample.sh inventory "$SAMPLE" "$BUILD/bin" >"$OUT/$build-sample-inventory.txt"
    bash sample/sample.sh teardown "$SAMPLE" "$BUILD/bin" >/dev/null
    unmark
    [ $build = old ] && bash sample/sample.sh seed "$SAMPLE" "$BUILD/bin" >/dev/null
done
same sample-real
same sample-inventory
echo "== $failures difference(s); the logs are in $OUT"
exit $((failures > 0))
