#!/usr/bin/env bash
# Installs what is missing, builds, and runs the whole test suite under Wine.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/wine-env.sh"
cd "$ROOT"

bash scripts/setup.sh
echo "== Building ZamoClean.exe (i686)"
build_preset i686
if [ "$RUN_ARCH" != i686 ]; then
    echo "== This kernel cannot run 32-bit Wine: the tests run the x86_64 build of the same sources"
    build_preset "$RUN_ARCH" -DCMAKE_CROSSCOMPILING_EMULATOR="$WINE"
else
    cmake --preset i686 -DCMAKE_CROSSCOMPILING_EMULATOR="$WINE" >/dev/null
fi

make_prefix "$ROOT/build/$RUN_ARCH/wineprefix"
# One server for the whole suite: keys under HKEY_USERS live only as long as it does.
"$WINESERVER" -k 2>/dev/null || true
"$WINESERVER" -p
# Start Wine's own services now, with no terminal or pipe: started later, under ctest,
# they would inherit its output pipe and keep it open after the tests end.
"$WINE" wineboot </dev/null >/dev/null 2>&1 || true
trap '"$WINESERVER" -k 2>/dev/null || true' EXIT

echo "== Running the tests"
status=0
if [ "$RUN_ARCH" != i686 ]; then
    # The shipped build is checked for its form even where it cannot run.
    ctest --test-dir build/i686 -R executable_format --output-on-failure || status=$?
fi
ctest --test-dir "build/$RUN_ARCH" --output-on-failure || status=$?
exit $status
