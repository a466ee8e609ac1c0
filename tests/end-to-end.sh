#!/usr/bin/env bash
# The sample installation cleaned end to end under Wine: a preview changes nothing and names
# only items that the real run then removes; a quiet run with a signature removes every item
# of the product family and nothing else, a second run with the same signature leaves every
# scope alone, and the Clean button does the same as the quiet run, in a preview too.
#   end-to-end.sh BIN OUT     (WINE and WINEPREFIX from scripts/wine-env.sh)
set -euo pipefail
BIN=$1
OUT=$2
HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
SAMPLE="$HERE/../sample/sample.sh"
SECOND_SID=S-1-5-21-4021-3317-2203-1107
ADDIN_CLASS={5A3E0C11-0D2B-4C61-9E1A-7C00000000C1}
C2R_ADDIN='HKLM\Software\Microsoft\Office\ClickToRun\REGISTRY\MACHINE\Software\Microsoft\Office\Outlook\Addins\Zamo.Outlook.AddIn'
OUTLOOK='Software\Microsoft\Office\16.0\Outlook'
MACHINE_CACHE='C:\ProgramData\Package Cache'
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
# The lines a real run writes as it changes something, which a preview never writes.
CHANGE_LINES='^(Stopping process|Executing \[|Waiting for process|Deleting file|Successfully removed|Failed to remove|Deleted startup shortcut|Removing (component|product|service|scheduled task) \[|Removed value \[|Deleted shortcut)'
# Milliseconds since midnight (UTC) of a log line's time stamp.
stamp_ms() { awk -F'[T:.Z]' '{ printf "%d\n", (($2 * 60 + $3) * 60 + $4) * 1000 + $5 }' <<<"$1"; }

trap 'bash "$SAMPLE" teardown "$OUT" "$BIN" >/dev/null 2>&1 || true' EXIT

echo "== preview"
bash "$SAMPLE" seed "$OUT" "$BIN" || fail "seeding the sample failed"
bash "$SAMPLE" verify "$OUT" "$BIN" >/dev/null && fail "the sample was not seeded"
bash "$SAMPLE" inventory "$OUT" "$BIN" >"$OUT/before-preview.txt"
PREVIEW="$OUT/preview.log"
"$WINE" "$BIN/ZamoClean.exe" /Quiet /Preview /Signature:$SIGNATURE "/Log:$(winpath "$PREVIEW")" \
    "/Report:$(winpath "$OUT/reports/preview.json")" </dev/null || fail "exit code $?"
bash "$SAMPLE" inventory "$OUT" "$BIN" >"$OUT/after-preview.txt"
cmp -s "$OUT/before-preview.txt" "$OUT/after-preview.txt" ||
    fail "the preview changed the sample: $(diff "$OUT/before-preview.txt" "$OUT/after-preview.txt" | tr '\n' ' ')"
bash "$SAMPLE" verify "$OUT" "$BIN" >/dev/null && fail "the preview removed the product's items"
read_log "$PREVIEW"
expect_line "$PREVIEW" "Preview: nothing will be changed"
[ "$(sed -n 5p "$PREVIEW.txt")" = "Preview: nothing will be changed" ] || fail "the preview line is not the last header line"
expect_no_match "$PREVIEW" "$CHANGE_LINES"
expect_match "$PREVIEW" 'Would stop process [0-9]+ \[Zamo\.exe\]'
expect_match "$PREVIEW" 'Would stop process [0-9]+ \[ZamoCrashHandler\.exe\]'
for code in 5A3E0C11-0D2B-4C61-9E1A-7C0000000001 5A3E0C11-0D2B-4C61-9E1A-7C0000000002 5A3E0C11-0D2B-4C61-9E1A-7C0000000003; do
    expect_line "$PREVIEW" "Would execute [\"C:\\windows\\System32\\MsiExec.exe\" /x \"{$code}\" /quiet]"
done
expect_line "$PREVIEW" 'Attempting to remove ZamoWebInstaller [Zamo Web Installer (per-machine)]'
expect_line "$PREVIEW" 'Would remove HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\ZamoWebInstaller'
expect_line "$PREVIEW" "Would remove HKU\\$SECOND_SID\\Software\\Quorvex"
expect_line "$PREVIEW" 'Would delete file [C:\users\sampleuser\appdata\local\Quorvex\Zamo\settings.json]'
expect_line "$PREVIEW" 'Would delete startup shortcut [C:\users\sampleuser\appdata\roaming\microsoft\windows\start menu\programs\startup\Zamo.lnk]'
expect_line "$PREVIEW" "Would mark [HKLM,-] with signature [$SIGNATURE]"
expect_line "$PREVIEW" 'Would remove HKLM\Software\Classes\Zamo.Outlook.AddIn'
expect_line "$PREVIEW" "Would remove HKLM\\Software\\Classes\\CLSID\\$ADDIN_CLASS"
expect_line "$PREVIEW" "Would remove HKU\\$SECOND_SID\\Software\\Classes\\Wow6432Node\\CLSID\\$ADDIN_CLASS"
expect_line "$PREVIEW" "Would remove $C2R_ADDIN"
expect_line "$PREVIEW" "Would remove value [6k9] from HKU\\S-1-5-21-0-0-0-1000\\$OUTLOOK\\Resiliency\\DisabledItems"
expect_line "$PREVIEW" "Removing package cache for [zamo-machine.msi] at [$MACHINE_CACHE\\{5A3E0C11-0D2B-4C61-9E1A-7C0000000001}v1.0.0]"
RUN_KEY='Software\Microsoft\Windows\CurrentVersion\Run'
expect_line "$PREVIEW" "Would remove value [Zamo] from HKU\\S-1-5-21-0-0-0-1000\\$RUN_KEY"
expect_line "$PREVIEW" "Would remove value [ZamoAgent] from HKU\\$SECOND_SID\\$RUN_KEY"
expect_line "$PREVIEW" "Would remove value [ZamoUpdater] from HKLM\\$RUN_KEY"
expect_line "$PREVIEW" 'Would delete shortcut [C:\users\sampleuser\desktop\Zamo.lnk]'
expect_line "$PREVIEW" 'Would delete shortcut [C:\users\Public\Desktop\Zamo.lnk]'
expect_line "$PREVIEW" 'Would remove service [ZamoUpdateService]'
expect_no_match "$PREVIEW" 'QuorvexTools|FenwickSync|Fenwick Notes'
expect_no_match "$PREVIEW" 'Fenwick|ZamoViewerClassic'
# Each item is named once, though the eight purge calls and every user's sweep meet it again;
# a key under HKLM may be named twice, once for each registry view, which hold a key each.
duplicated=$(grep '^Would ' "$PREVIEW.txt" | sort | uniq -c |
    awk '$1 > ($3 == "remove" && ($4 ~ /^HKLM/ || ($4 == "value" && $7 ~ /^HKLM/)) ? 2 : 1)')
[ -z "$duplicated" ] || fail "named too often in the preview: $duplicated"
# No pause: the line after the last process line follows it at once (a real run waits 5 s there).
stop_line=$(iconv -f UTF-16LE -t UTF-8 "$PREVIEW" | tr -d '\r' | grep -n 'Would stop process' | tail -n 1 | cut -d: -f1) || true
if [ -n "$stop_line" ]; then
    stamps=$(iconv -f UTF-16LE -t UTF-8 "$PREVIEW" | tr -d '\r' | sed -n "${stop_line}p;$((stop_line + 1))p" | cut -c1-24)
    gap=$(( $(stamp_ms "$(sed -n 2p <<<"$stamps")") - $(stamp_ms "$(sed -n 1p <<<"$stamps")") ))
    [ "$gap" -ge 0 ] || gap=$((gap + 86400000))  # midnight in between
    echo "after the last process line the preview went on in $gap ms"
    [ "$gap" -ge 0 ] && [ "$gap" -lt 2500 ] || fail "the preview paused $gap ms after naming the processes"
fi

echo "== quiet run"
QUIET="$OUT/quiet.log"
"$WINE" "$BIN/ZamoClean.exe" /Quiet /ExitCode /Signature:$SIGNATURE "/Log:$(winpath "$QUIET")" \
    "/Report:$(winpath "$OUT/reports/quiet.json")" </dev/null || fail "exit code $?"
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
expect_line "$QUIET" "Successfully removed from HKU\\$SECOND_SID\\Software\\Classes"
expect_line "$QUIET" "Successfully removed from HKU\\$SECOND_SID\\Software\\Classes\\CLSID"
expect_line "$QUIET" "Removed value [Zamo.Outlook.AddIn] from HKU\\S-1-5-21-0-0-0-1000\\$OUTLOOK\\Resiliency\\CrashingAddinList"
expect_line "$QUIET" "Removed value [Zamo.Outlook.AddIn] from HKU\\$SECOND_SID\\Software\\Microsoft\\Office\\15.0\\Outlook\\Resiliency\\DoNotDisableAddinList"
expect_line "$QUIET" "Attempting to remove items from MSI package cache [$MACHINE_CACHE]"
expect_line "$QUIET" "Removing package cache for [ZamoOutlookSetupX64.msi] at [$MACHINE_CACHE\\{A1C3E5F7-0001-4000-8000-000000000004}]"
expect_line "$QUIET" "Removed value [ZamoUpdater] from HKLM\\$RUN_KEY"
# The shell registrations: the machine's in both views, the second user's "Open with" records.
expect_line "$QUIET" 'Successfully removed from HKLM\Software\Microsoft\Windows\CurrentVersion\App Paths'
expect_line "$QUIET" 'Successfully removed from HKLM\Software\Classes\Directory\shell'
expect_line "$QUIET" 'Successfully removed from HKLM\Software\Classes\*\shellex\ContextMenuHandlers'
expect_line "$QUIET" 'Removed value [Zamo.Document] from HKLM\Software\Classes\.fnote\OpenWithProgids'
expect_line "$QUIET" 'Removed value [Zamo] from HKLM\Software\RegisteredApplications'
expect_line "$QUIET" "Removed value [a] from HKU\\$SECOND_SID\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\FileExts\\.fnote\\OpenWithList"
expect_line "$QUIET" 'Deleted shortcut [C:\users\sampleuser\appdata\roaming\microsoft\windows\start menu\programs\Quorvex\Zamo.lnk]'
expect_line "$QUIET" 'Removing service [ZamoUpdateService]'
expect_no_match "$QUIET" 'Failed to remove (value|service|scheduled task)'
expect_no_match "$QUIET" 'QuorvexTools|FenwickSync|Fenwick Notes'
expect_no_match "$QUIET" 'Fenwick|ZamoViewerClassic'

echo "== the reports against their logs"
expect_line "$PREVIEW" "Report written [$(winpath "$OUT/reports/preview.json")]"
expect_line "$QUIET" "Report written [$(winpath "$OUT/reports/quiet.json")]"
expect_line "$QUIET" "Exit code [0]"
python3 "$HERE/check-report.py" "$OUT/reports/preview.json" "$PREVIEW.txt" || fail "the preview's report does not match its log"
python3 "$HERE/check-report.py" "$OUT/reports/quiet.json" "$QUIET.txt" || fail "the quiet run's report does not match its log"

echo "== the preview's items against the real run"
# Every item the preview named is one the real run removed: the real log names it, or it is gone
# afterwards (a key in both views); the marks are made; processes and uninstallers named by the
# preview are the ones the real run stopped and ran.
checked=0
: >"$OUT/previewed.txt"
while IFS= read -r line; do
    checked=$((checked + 1))
    case $line in
    "Would stop process "*) expect_line "$QUIET" "Stopping process ${line#Would stop process }" ;;
    "Would execute "*) expect_line "$QUIET" "Executing ${line#Would execute }" ;;
    "Would delete startup shortcut "*) expect_line "$QUIET" "Deleted startup shortcut ${line#Would delete startup shortcut }" ;;
    "Would remove value ["*)
        item=${line#Would remove value [}
        grep -qxF -- "Removed value [$item" "$QUIET.txt" ||
            printf 'product|value|64|%s|%s\nproduct|value|32|%s|%s\n' "${item#*] from }" "${item%%] from *}" \
                "${item#*] from }" "${item%%] from *}" >>"$OUT/previewed.txt" ;;
    "Would delete shortcut "*) expect_line "$QUIET" "Deleted shortcut ${line#Would delete shortcut }" ;;
    "Would remove service "*) expect_line "$QUIET" "Removing service ${line#Would remove service }" ;;
    "Would remove scheduled task "*) expect_line "$QUIET" "Removing scheduled task ${line#Would remove scheduled task }" ;;
    "Would remove "*)
        item=${line#Would remove }
        grep -qxF -- "Successfully removed from $item" "$QUIET.txt" ||
            printf 'product|key|64|%s\nproduct|key|32|%s\n' "$item" "$item" >>"$OUT/previewed.txt" ;;
    "Would delete file ["*)
        item=${line#Would delete file [}
        grep -qxF -- "Deleting file [$item" "$QUIET.txt" || printf 'product|path||%s\n' "${item%]}" >>"$OUT/previewed.txt" ;;
    "Would mark ["*)
        scope=${line#Would mark [}; scope=${scope%%]*}
        if [ "${scope#*,}" = - ]; then key='HKLM\Software\Quorvex\Cleaned'; else key="HKU\\${scope#*,}\\Software\\Quorvex\\Cleaned"; fi
        printf 'other|key|64|%s\n' "$key" >>"$OUT/previewed.txt" ;;
    *) fail "unknown preview line: $line" ;;
    esac
done < <(grep '^Would ' "$PREVIEW.txt")
echo "$checked preview lines checked"
[ "$checked" -gt 20 ] || fail "the preview named only $checked items"
"$WINE" "$BIN/SampleInventory.exe" "$(winpath "$OUT/previewed.txt")" verify </dev/null | tr -d '\r' ||
    fail "items the preview named are still there after the real run, or marks are missing"

echo "== second run, same signature"
AGAIN="$OUT/again.log"
bash "$SAMPLE" seed "$OUT" "$BIN" >/dev/null || fail "seeding the sample failed"
"$WINE" "$BIN/ZamoClean.exe" /Quiet /Signature:$LOWER "/Log:$(winpath "$AGAIN")" </dev/null || fail "exit code $?"
read_log "$AGAIN"
expect_line "$AGAIN" "Skipping clean-up for [HKLM,-] since signature [$LOWER] has been marked for this scope."
expect_line "$AGAIN" "Skipping clean-up for [HKU,S-1-5-21-0-0-0-1000] since signature [$LOWER] has been marked for this scope."
expect_no_match "$AGAIN" 'Attempting to uninstall|Removing |Successfully removed|Attempting to remove application|Removed value|Deleted shortcut'
bash "$SAMPLE" verify "$OUT" "$BIN" >/dev/null && fail "the second run removed what the first run's marks protect"
[ "$(last_line "$AGAIN")" = "Finishing" ] || fail "the second log does not end with Finishing"
# The seed only adds keys, so the second user's scope still bears its marker too.
expect_line "$AGAIN" "Skipping clean-up for [HKU,$SECOND_SID] since signature [$LOWER] has been marked for this scope."

echo "== interactive preview and run, from the Clean button"
CLICK="$OUT/interactive.log"
CLICK_PREVIEW="$OUT/interactive-preview.log"
bash "$SAMPLE" seed "$OUT" "$BIN" >/dev/null || fail "seeding the sample failed"
bash "$SAMPLE" inventory "$OUT" "$BIN" >"$OUT/before-click-preview.txt"
"$WINE" "$BIN/ClickClean.exe" "$(winpath "$BIN/ZamoClean.exe")" /Preview "/Log:$(winpath "$CLICK_PREVIEW")" </dev/null \
    || fail "the dialog's preview did not end as expected (exit $?)"
bash "$SAMPLE" inventory "$OUT" "$BIN" >"$OUT/after-click-preview.txt"
cmp -s "$OUT/before-click-preview.txt" "$OUT/after-click-preview.txt" || fail "the dialog's preview changed the sample"
read_log "$CLICK_PREVIEW"
expect_line "$CLICK_PREVIEW" "Preview: nothing will be changed"
expect_match "$CLICK_PREVIEW" 'Would stop process [0-9]+ \[Zamo\.exe\]'
expect_no_match "$CLICK_PREVIEW" "$CHANGE_LINES"
[ "$(last_line "$CLICK_PREVIEW")" = "Finishing" ] || fail "the dialog's preview log does not end with Finishing"
"$WINE" "$BIN/ClickClean.exe" "$(winpath "$BIN/ZamoClean.exe")" /Signature:$SIGNATURE-click "/Log:$(winpath "$CLICK")" </dev/null \
    || fail "the dialog run did not end as expected (exit $?)"
bash "$SAMPLE" verify "$OUT" "$BIN" || fail "the interactive run left product items or removed others"
read_log "$CLICK"
expect_no_match "$CLICK" 'Running quietly'
expect_match "$CLICK" 'Stopping process [0-9]+ \[Zamo\.exe\]'
[ "$(last_line "$CLICK")" = "Finishing" ] || fail "the interactive log does not end with Finishing"

echo "== end to end: $failures failures"
exit $((failures > 0))
