#!/usr/bin/env bash
# Installs what is missing, builds, and runs a preview and one quiet clean run in a throwaway Wine
# prefix of its own (never ~/.wine, never the test suite's prefix), then prints the log.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/wine-env.sh"
cd "$ROOT"

bash scripts/setup.sh

# The program and the three small helpers of the sample: no test suite.
echo "== Building ZamoClean.exe (i686, the shipped build)"
cmake --preset i686 -Wno-dev >/dev/null
cmake --build --preset i686 --target ZamoClean FakeProduct SampleInventory MakeStarter -j"$(nproc)" -- --no-print-directory -s
program="$ROOT/build/i686/bin/ZamoClean.exe"

# A fresh sandbox each time: whatever the last demo left behind is thrown away.
export WINEPREFIX="$ROOT/build/i686/demo-prefix"
"$WINESERVER" -k 2>/dev/null || true
rm -rf "$WINEPREFIX"
make_prefix "$WINEPREFIX"
"$WINESERVER" -p
trap '"$WINESERVER" -k 2>/dev/null || true' EXIT
"$WINE" wineboot </dev/null >/dev/null 2>&1 || true

# The sample: the product family installed with real MSI packages, plus what installers and
# the product leave besides (add-in keys in both views, settings keys, a second loaded user with
# an application folder, package cache entries and a Startup shortcut, running processes, the
# shortcuts, Run values, service and scheduled task that start the product, its registrations
# with the shell: App Paths, file types, a protocol, a shell extension, browser hosts), and
# things of another maker that must stay.
bin="$ROOT/build/i686/bin"
sample_out="$ROOT/build/i686/demo-sample"
echo "== Seeding the sample installation"
bash sample/sample.sh seed "$sample_out" "$bin"
echo "== What is installed before the run"
bash sample/sample.sh inventory "$sample_out" "$bin"

log_folder="$WINEPREFIX/drive_c/zamo-demo"
mkdir -p "$log_folder"
signature=ZamoCleanDemo
status=0

# A preview first: the log says what the run would change, and the inventory stays as it was.
echo "== Previewing: ZamoClean.exe /Quiet /Preview /Signature:$signature /Log:C:\\zamo-demo\\ZamoClean-preview.log"
bash sample/sample.sh inventory "$sample_out" "$bin" >"$sample_out/before-preview.txt"
"$WINE" "$program" /Quiet /Preview "/Signature:$signature" '/Log:C:\zamo-demo\ZamoClean-preview.log' </dev/null || status=$?
echo "== The preview's log (C:\\zamo-demo\\ZamoClean-preview.log):"
if [ -f "$log_folder/ZamoClean-preview.log" ]; then
    iconv -f UTF-16LE -t UTF-8 "$log_folder/ZamoClean-preview.log" | tr -d '\r'
else
    echo "(no log was written)"
    status=1
fi
bash sample/sample.sh inventory "$sample_out" "$bin" | cmp -s - "$sample_out/before-preview.txt" &&
    echo "== Verified: the preview changed nothing (the inventory is the same)" ||
    { echo "== The preview changed the inventory"; status=1; }

for run in first second; do
    echo "== Running ($run time): ZamoClean.exe /Quiet /Signature:$signature /Log:C:\\zamo-demo\\ZamoClean.log"
    start=$(date +%s)
    "$WINE" "$program" /Quiet "/Signature:$signature" '/Log:C:\zamo-demo\ZamoClean.log' \
        "/Report:C:\\zamo-demo\\reports\\ZamoClean-$run.json" </dev/null || status=$?
    echo "== Exit code $status after $(( $(date +%s) - start )) s"
    echo "== The report's summary (C:\\zamo-demo\\reports\\ZamoClean-$run.json)"
    python3 - "$log_folder/reports/ZamoClean-$run.json" <<'PY' || status=1
import collections, json, sys
report = json.load(open(sys.argv[1], encoding="utf-8"))
print("computer %s, user %s, exit code %d, %s to %s" % (report["computer"], report["user"], report["exitCode"],
                                                        report["started"], report["finished"]))
for scope in report["scopes"]:
    print("  scope %s %s: %s" % (scope["root"], scope["sid"] or "-", scope["outcome"]))
# What makes the exit code, as the counts count it; then what does not (stopped processes,
# uninstallers that ran, the scopes' marker keys that the run wrote again).
for counted in (True, False):
    kinds = collections.Counter(("marker key" if item["kind"] == "key" and not counted else item["kind"],
                                 item["outcome"]) for item in report["items"] if item["countsForExitCode"] == counted)
    if kinds and not counted:
        print("  not counted for the exit code:")
    for (kind, outcome), count in sorted(kinds.items()):
        print("  %4d %s %s" % (count, kind, outcome))
print("  counts: " + ", ".join("%s %d" % pair for pair in report["counts"].items()) +
      "; marker keys %d" % report["markerKeys"])
# The README's fleet query lists a machine where something stayed.
print("  listed by the fleet query (counts.'not removed' > 0): %s" %
      ("yes" if report["counts"]["not removed"] > 0 else "no"))
PY
    if [ $run = first ]; then
        echo "== What is left after the run (the product's items absent, the others present)"
        bash sample/sample.sh inventory "$sample_out" "$bin"
        bash sample/sample.sh verify "$sample_out" "$bin" && echo "== Verified: every product item is gone, every other item stays"
    fi
done

# Users who are not on the machine: the clean-up registered to run once in each user's next logon.
# A run whose signature the machine bears registers nothing, so this one has a signature of its own.
user_sid=S-1-5-21-0-0-0-1000
entry='HKLM\Software\Microsoft\Active Setup\Installed Components\ZamoClean'
logon_log='C:\zamo-demo\ZamoClean-logon.log'
echo "== Registering the clean-up at each user's next logon: ZamoClean.exe /Quiet /AtNextLogon /Signature:ZamoCleanLogon /Log:$logon_log"
"$WINE" "$program" /Quiet /AtNextLogon /Signature:ZamoCleanLogon "/Log:$logon_log" </dev/null || status=$?
"$WINE" reg query "$entry" /reg:64 </dev/null | tr -d '\r'
stub=$("$WINE" reg query "$entry" /v StubPath /reg:64 </dev/null | tr -d '\r' | sed -n 's/^ *StubPath *REG_SZ *//p')
version=$("$WINE" reg query "$entry" /v Version /reg:64 </dev/null | tr -d '\r' | sed -n 's/^ *Version *REG_SZ *//p')
# The prefix's user comes back with a roaming profile that was not on the machine during its run:
# the product's keys, a Run value and the application folder are there again, and no mark.
user_home=$("$WINE" cmd /c 'echo %USERPROFILE%' </dev/null 2>/dev/null | tr -d '\r')
user_app="$WINEPREFIX/drive_c/users/${user_home##*\\}/AppData/Local/Quorvex/Zamo"
"$WINE" reg delete "HKU\\$user_sid\\Software\\Quorvex" /reg:64 /f </dev/null >/dev/null 2>&1 || true
"$WINE" reg add "HKU\\$user_sid\\Software\\Quorvex\\Zamo" /v Theme /d dark /reg:64 /f </dev/null >/dev/null
"$WINE" reg add "HKU\\$user_sid\\Software\\Microsoft\\Windows\\CurrentVersion\\Run" /v Zamo /d 'C:\Tools\Zamo.exe /tray' \
    /reg:64 /f </dev/null >/dev/null
mkdir -p "$user_app" && echo '{"theme":"dark"}' >"$user_app/settings.json"
# Wine runs no Active Setup: the entry's command is run as the user's logon would run it, and the
# version noted in the user's record, as Windows notes it whatever the run's result.
echo "== The user's logon runs the entry's command: $stub"
eval "logon=($stub)"
"$WINE" "${logon[@]}" </dev/null || status=$?
"$WINE" reg add "HKU\\$user_sid\\Software\\Microsoft\\Active Setup\\Installed Components\\ZamoClean" /v Version \
    /d "$version" /reg:64 /f </dev/null >/dev/null
if "$WINE" reg query "HKU\\$user_sid\\Software\\Quorvex\\Zamo" /reg:64 </dev/null >/dev/null 2>&1 || [ -e "$user_app" ]; then
    echo "== The user's logon run left the product's keys or folder"
    status=1
else
    echo "== Verified: the user's logon run removed the product's keys, Run value and folder"
fi
echo "== Withdrawing: ZamoClean.exe /Quiet /WithdrawAtNextLogon /Log:$logon_log"
"$WINE" "$program" /Quiet /WithdrawAtNextLogon "/Log:$logon_log" </dev/null || status=$?
if "$WINE" reg query "$entry" /reg:64 </dev/null >/dev/null 2>&1 || [ -e "$WINEPREFIX/drive_c/Program Files/ZamoClean" ]; then
    echo "== The withdrawal left the entry or the copy"
    status=1
else
    echo "== Verified: the entry, the user's record of it and the copy are gone"
fi
echo "== The log of the registration, the user's logon run and the withdrawal ($logon_log):"
iconv -f UTF-16LE -t UTF-8 "$log_folder/ZamoClean-logon.log" | tr -d '\r' || status=1

echo "== The log (C:\\zamo-demo\\ZamoClean.log, UTF-16LE), both runs; the second skips every marked scope:"
if [ -f "$log_folder/ZamoClean.log" ]; then
    iconv -f UTF-16LE -t UTF-8 "$log_folder/ZamoClean.log" | tr -d '\r'
else
    echo "(no log was written)"
    exit 1
fi
bash sample/sample.sh teardown "$sample_out" "$bin"
exit $status
