#!/usr/bin/env bash
# The benchmark: ZamoClean.exe on a large synthetic machine, against the least a cleaner
# must do (the floor) and against the batch script an administrator would write instead.
#   bench/run.sh [SCALE]    SCALE 1 (default) is the full machine; 0.1 for a quick try
# Each of the three runs starts from a freshly seeded, identical machine in the
# benchmark's own Wine prefix (build/<arch>/bench-prefix), under one wineserver that
# lives for the whole benchmark.
set -euo pipefail
SCALE=${1:-1}
source "$(dirname "${BASH_SOURCE[0]}")/../scripts/wine-env.sh"
cd "$ROOT"

bash scripts/setup.sh
echo "== Building ZamoClean.exe and the floor program ($RUN_ARCH)"
cmake --preset "$RUN_ARCH" -Wno-dev >/dev/null
cmake --build --preset "$RUN_ARCH" -j"$(nproc)" --target ZamoClean BenchFloor -- --no-print-directory -s
BUILD="$ROOT/build/$RUN_ARCH"
PROGRAM="$BUILD/bin/ZamoClean.exe"
FLOOR="$BUILD/bench/Floor.exe"

make_prefix "$BUILD/bench-prefix"
DATA="$BUILD/bench-data"
DRIVE_C="$WINEPREFIX/drive_c"
rm -rf "$DATA"
mkdir -p "$DATA" "$DRIVE_C/bench"
winpath() { printf 'Z:%s' "${1//\//\\}"; }

# Keys under HKEY_USERS live only as long as the server: one server for everything.
"$WINESERVER" -k 2>/dev/null || true
"$WINESERVER" -p
"$WINE" wineboot </dev/null >/dev/null 2>&1 || true
trap '"$WINESERVER" -k 2>/dev/null || true' EXIT

echo "== Generating the synthetic machine (scale $SCALE)"
python3 bench/generate.py "$DATA" "$SCALE"
cat "$DATA/summary.txt"
: >"$DATA/empty.txt"

now() { date +%s.%N; }
calc() { awk "BEGIN { printf \"%.3f\", $1 }"; }
seed() {
    python3 bench/generate.py files "$DRIVE_C" "$SCALE"
    "$WINE" reg import "$(winpath "$DATA/machine64.reg")" /reg:64 </dev/null >/dev/null 2>&1
    "$WINE" reg import "$(winpath "$DATA/machine32.reg")" /reg:32 </dev/null >/dev/null 2>&1
}
# "left N product objects, M other objects present"
check() { "$WINE" "$FLOOR" check "$(winpath "$DATA/objects.txt")" </dev/null | tr -d '\r' || true; }

failures=0
# timed NAME COMMAND...: seeds, checks, runs the command once with the clock on, checks again.
timed() {
    local name=$1
    shift
    seed
    local before after start end
    before=$(check)
    case "$before" in
    "left 0 product objects"*) echo "the seed left no product objects: $before" >&2; exit 1 ;;
    esac
    start=$(now)
    "$@" </dev/null >"$DATA/$name.out" 2>&1 || true
    end=$(now)
    after=$(check)
    local others_before=${before#*, } others_after=${after#*, }
    calc "$end - $start" >"$DATA/$name.time"
    printf '  %-12s %7.2f s   before: %s; after: %s\n' "$name" "$(cat "$DATA/$name.time")" "$before" "$after"
    if [ "${after%%,*}" != "left 0 product objects" ] || [ "$others_before" != "$others_after" ]; then
        echo "  FAIL: $name did not remove exactly the product's objects"
        failures=$((failures + 1))
    fi
}

echo "== Timing (each run on a freshly seeded machine)"
# The cost of starting one Windows process: the quickest of three empty runs.
startup=
for _ in 1 2 3; do
    start=$(now)
    "$WINE" "$FLOOR" run "$(winpath "$DATA/empty.txt")" </dev/null >/dev/null
    took=$(calc "$(now) - $start")
    [ -z "$startup" ] || awk "BEGIN { exit !($took < $startup) }" && startup=$took
done
printf '  %-12s %7.2f s   (starting one Windows process, in each time below)\n' startup "$startup"

rm -f "$DRIVE_C/bench/program.log"
timed program "$WINE" "$PROGRAM" /Quiet '/Log:C:\bench\program.log'
cp "$DRIVE_C/bench/program.log" "$DATA/program.log" 2>/dev/null || true
timed floor "$WINE" "$FLOOR" run "$(winpath "$DATA/objects.txt")"
timed batch "$WINE" cmd /c "$(winpath "$DATA/batch.bat")"

echo "== Where the time goes"
sed 's/\r$//' "$DATA/floor.out"
# The floor again with the cleaner's registry access pattern, one trait at a time.
timed floor+opens "$WINE" "$FLOOR" run "$(winpath "$DATA/objects.txt")" --open-per-value
echo "           (the floor, opening an uninstall entry once for each value it reads)"
timed floor+passes "$WINE" "$FLOOR" run "$(winpath "$DATA/objects.txt")" --open-per-value --passes
echo "           (and reading each uninstall list as often as a sweep does)"
[ -f "$DATA/program.log" ] && python3 bench/profile.py "$DATA/program.log"

program=$(cat "$DATA/program.time")
floor=$(cat "$DATA/floor.time")
batch=$(cat "$DATA/batch.time")
echo "== Result (scale $SCALE, $RUN_ARCH build)"
printf '  program %.2f s, floor %.2f s, batch %.2f s\n' "$program" "$floor" "$batch"
printf '  program/floor %.2f   program/batch %.2f\n' "$(calc "$program / $floor")" "$(calc "$program / $batch")"
printf '  without the process start (%.2f s): program/floor %.2f   program/batch %.2f\n' "$startup" \
    "$(calc "($program - $startup) / ($floor - $startup)")" \
    "$(calc "($program - $startup) / ($batch - $startup)")"
exit $((failures > 0))
