#!/usr/bin/env bash
# Installs what is missing, builds, and runs the whole test suite under Wine, always with the
# shipped i686 build.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/wine-env.sh"
cd "$ROOT"

bash scripts/setup.sh
echo "== Building ZamoClean.exe and the tests (i686, the shipped build)"
build_preset i686 -DCMAKE_CROSSCOMPILING_EMULATOR="$WINE"

make_prefix "$ROOT/build/i686/wineprefix"
# One server for the whole suite: keys under HKEY_USERS live only as long as it does.
"$WINESERVER" -k 2>/dev/null || true
"$WINESERVER" -p
# Start Wine's own services now, with no terminal or pipe: started later, under ctest,
# they would inherit its output pipe and keep it open after the tests end.
"$WINE" wineboot </dev/null >/dev/null 2>&1 || true
trap '"$WINESERVER" -k 2>/dev/null || true' EXIT

echo "== Running the tests with build/i686/bin/ZamoClean.exe"
ctest --test-dir build/i686 --output-on-failure
