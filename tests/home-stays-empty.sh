#!/usr/bin/env bash
# The demo writes nothing into the user's home: run with HOME an empty folder (and no XDG folders
# of the real home), it makes its prefix, seeds the sample, previews and cleans it, and the folder
# is still empty afterwards: no menu entries, no .desktop files, no links from the prefix's user
# folders into it.
#   home-stays-empty.sh OUT
set -euo pipefail
HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
rm -rf "$1"
mkdir -p "$1/home"
# Wine refuses a HOME that is not an absolute path.
OUT=$(cd "$1" && pwd)
status=0
env -u XDG_CONFIG_HOME -u XDG_DATA_HOME -u XDG_CACHE_HOME -u XDG_STATE_HOME -u XDG_DESKTOP_DIR \
    HOME="$OUT/home" bash "$HERE/../scripts/demo.sh" >"$OUT/demo.txt" 2>&1 || status=$?
if [ $status -ne 0 ]; then
    tail -n 40 "$OUT/demo.txt"
    echo "FAIL: the demo ended with $status (its output: $OUT/demo.txt)"
    exit 1
fi
grep -q '^== Verified: every product item is gone' "$OUT/demo.txt" || { echo "FAIL: the demo did not clean the sample"; exit 1; }
left=$(cd "$OUT/home" && find . -mindepth 1 | sort)
if [ -n "$left" ]; then
    echo "FAIL: the demo wrote into HOME:"
    echo "$left"
    exit 1
fi
echo "HOME stayed empty through the demo"
