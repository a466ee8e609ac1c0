#!/usr/bin/env bash
# The sample installation cleaned end to end under Wine: a quiet run with a signature
# removes every item of the product family and nothing else, a second run with the same
# signature leaves every scope alone, and the Clean button does the same as the quiet run.
#   end-to-end.sh BIN OUT     (WINE and WINEPREFIX from scripts/wine-env.sh)
set -euo pipefail
BIN=$1
OUT=$2
HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
SAMPLE="$HERE/../sample/sample.sh"
SECOND_SID=S-1-5-21-4021-3317-2203-1107
rm -rf "$OUT"
mkdir -p "$OUT"
failures=0
# Signatures of this run alone: a marker left in the prefix by an earlier run must not match.
SIGNATURE=E2E-$(date +%s%N)
LOWER=$(tr 'A-Z' 'a-z' <<<"$SIGNATURE")
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
winpath() { printf 'Z:%s' "${1//\//\\}"; }
# A log's lines without their time stamps, read once into LOG.txt beside it after its run. Every
# check reads that text file: nothing here ends the script early, every failure is reported.
read_log() {
    if [ -f "$1" ]; then
        iconv -f UTF-16LE -t UTF-8 "$1" | tr -d '\r' | cut -c26- >"$1.txt" || fail "cannot read $(basename "$1")"
    else
        fail "no log $(basename "$1")"
        : >"$1.txt"
    fi
}
first_line() { sed -n 1p "$1.txt"; }
last_line() { sed -n '$p' "$1.txt"; }
expect_line() { grep -qxF -- "$2" "$1.txt" || fail "no line '$2' in $(basename "$1")"; }
expect_match() { grep -qxE -- "$2" "$1.txt" || fail "no line matching '$2' in $(basename "$1")"; }
expect_no_match() { ! grep -qE -- "$2" "$1.txt" || fail "unexpected line matching '$2' in $(basename "$1")"; }

trap 'bash "$SAMPLE" teardown "$OUT" "$BIN" >/dev/null 2>&1 || true' EXIT

echo "== quiet run"
bash "$SAMPLE" seed "$OUT" "$BIN" || fail "seeding the sample failed"
bash "$SAMPLE" verify "$OUT" "$BIN" >/dev/null && fail "the sample was not seeded"
QUIET="$OUT/quiet.log"
"$WINE" "$BIN/ZamoClean.exe" /Quiet /Signature:$SIGNATURE "/Log:$(winpath "$QUIET")" </dev/null || fail "exit code $?"
bash "$SAMPLE" verify "$OUT" "$BIN" || fail "the quiet run left product items or removed others"
read_log "$QUIET"
sed -n 1,4p "$QUIET.txt"
[ "$(first_line "$QUIET")" = "================================================================" ] || fail "no separator first"
[ "$(last_line "$QUIET")" = "Finishing" ] || fail "the log does not end with Finishing"
expect_line "$QUIET" "Running quietly (no UI)"
expect_line "$QUIET" "Using signature [$SIGNATURE]"
expect_match "$QUIET" 'Stopping process [0-9]+ \[Zamo\.exe\]'
expect_match "$QUIET" 'Stopping process [0-9]+ \[ZamoCrashHandler\.exe\]'
expect_no_match "$QUIET" 'Stopping process .*Fenwick'
expect_line "$QUIET" "Skipping well-known SID [.Default]"
expect_line "$QUIET" "Skipping class branch [${SECOND_SID}_Classes]"
expect_line "$QUIET" 'Attempting to remove application folder [C:\users\sampleuser\appdata\local\Quorvex]'
expect_line "$QUIET" 'Attempting to remove items from MSI package cache [C:\users\sampleuser\appdata\local\Package Cache]'
expect_line "$QUIET" 'Removing package cache for [ZamoSetupPerUserX64.msi] at [C:\users\sampleuser\appdata\local\Package Cache\{A1C3E5F7-0001-4000-8000-000000000002}]'
expect_line "$QUIET" 'Removing package cache for [ZamoOutlookSetupX64.msi] at [C:\users\sampleuser\appdata\local\Package Cache\{A1C3E5F7-0001-4000-8000-000000000003}]'
expect_line "$QUIET" 'Deleted startup shortcut [C:\users\sampleuser\appdata\roaming\microsoft\windows\start menu\programs\startup\Zamo.lnk]'
for code in 5A3E0C11-0D2B-4C61-9E1A-7C0000000001 5A3E0C11-0D2B-4C61-9E1A-7C0000000002 5A3E0C11-0D2B-4C61-9E1A-7C0000000003; do
    expect_line "$QUIET" "Executing [\"C:\\windows\\System32\\MsiExec.exe\" /x \"{$code}\" /quiet]"
done
expect_line "$QUIET" "Process completed"
expect_line "$QUIET" 'Attempting to remove ZamoWebInstaller [Zamo Web Installer (per-machine)]'
expect_line "$QUIET" 'Successfully removed from HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall'
expect_line "$QUIET" 'Successfully removed from HKLM\Software\Quorvex'
expect_line "$QUIET" 'Successfully removed from HKLM\Software\Zamo'
expect_line "$QUIET" "Successfully removed from HKU\\$SECOND_SID\\Software\\Quorvex"
expect_no_match "$QUIET" 'Fenwick|ZamoViewerClassic'

echo "== second run, same signature"
AGAIN="$OUT/again.log"
bash "$SAMPLE" seed "$OUT" "$BIN" >/dev/null || fail "seeding the sample failed"
"$WINE" "$BIN/ZamoClean.exe" /Quiet /Signature:$LOWER "/Log:$(winpath "$AGAIN")" </dev/null || fail "exit code $?"
read_log "$AGAIN"
expect_line "$AGAIN" "Skipping clean-up for [HKLM,-] since signature [$LOWER] has been marked for this scope."
expect_line "$AGAIN" "Skipping clean-up for [HKU,S-1-5-21-0-0-0-1000] since signature [$LOWER] has been marked for this scope."
expect_no_match "$AGAIN" 'Attempting to uninstall|Removing |Successfully removed|Attempting to remove application'
bash "$SAMPLE" verify "$OUT" "$BIN" >/dev/null && fail "the second run removed what the first run's marks protect"
[ "$(last_line "$AGAIN")" = "Finishing" ] || fail "the second log does not end with Finishing"
# The seed only adds keys, so the second user's scope still bears its marker too.
expect_line "$AGAIN" "Skipping clean-up for [HKU,$SECOND_SID] since signature [$LOWER] has been marked for this scope."

echo "== interactive run, from the Clean button"
CLICK="$OUT/interactive.log"
bash "$SAMPLE" seed "$OUT" "$BIN" >/dev/null || fail "seeding the sample failed"
"$WINE" "$BIN/ClickClean.exe" "$(winpath "$BIN/ZamoClean.exe")" /Signature:$SIGNATURE-click "/Log:$(winpath "$CLICK")" </dev/null \
    || fail "the dialog run did not end as expected (exit $?)"
bash "$SAMPLE" verify "$OUT" "$BIN" || fail "the interactive run left product items or removed others"
read_log "$CLICK"
expect_no_match "$CLICK" 'Running quietly'
expect_match "$CLICK" 'Stopping process [0-9]+ \[Zamo\.exe\]'
[ "$(last_line "$CLICK")" = "Finishing" ] || fail "the interactive log does not end with Finishing"

echo "== end to end: $failures failures"
exit $((failures > 0))
