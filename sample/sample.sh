#!/usr/bin/env bash
# A sample installation of the Zamo product family on a Wine prefix, and what it left.
#
#   sample.sh seed OUT BIN       build the MSI packages into OUT, install them, add what the
#                                product and its installers leave besides, start its processes
#   sample.sh inventory OUT BIN  one line per item: present or absent
#   sample.sh verify OUT BIN     fails unless every product item is gone and every other item stays
#   sample.sh teardown OUT BIN   removes what the sample left that is not the product's
# BIN is the folder of the built programs (FakeProduct.exe, SampleInventory.exe, MakeStarter.exe).
#
# Needs WINE and WINEPREFIX (scripts/wine-env.sh), and a wineserver kept alive from the seed
# to the checks: keys under HKEY_USERS for the second user live only as long as the server.
set -euo pipefail
HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

USER_SID=S-1-5-21-0-0-0-1000           # the prefix's own user
SECOND_SID=S-1-5-21-4021-3317-2203-1107 # a second loaded user with a profile of its own
SECOND_PROFILE='C:\users\sampleuser'
WINUSER=$(basename "$("$WINE" cmd /c 'echo %USERPROFILE%' 2>/dev/null | tr -d '\r' | tr '\\' '/')")
UNIX_C="$WINEPREFIX/drive_c"

# Windows Installer's packed form of a GUID: the first three groups reversed, then the
# characters of each remaining byte swapped.
pack() {
    local g=${1//[\{\}-]/}
    printf '%s%s%s%s' "$(rev <<<"${g:0:8}")" "$(rev <<<"${g:8:4}")" "$(rev <<<"${g:12:4}")" \
        "$(sed 's/\(.\)\(.\)/\2\1/g' <<<"${g:16:16}")"
}
# Bytes of UTF-16LE text with its NUL, as .reg hex pairs.
utf16_hex() { printf '%s' "$1" | iconv -t UTF-16LE | od -An -v -tx1 | tr -s ' \n' ',' | sed 's/^,//'; printf '00,00'; }
# A DWORD as .reg hex pairs.
dword_hex() { printf '%02x,%02x,%02x,%02x' $(($1 & 255)) $(($1 >> 8 & 255)) $(($1 >> 16 & 255)) $(($1 >> 24)); }
# An item of Outlook's DisabledItems list in .reg form: its kind, the sizes in bytes of the add-in's
# path and name (each with its NUL), the path and the name.
disabled_item() {
    printf 'hex:%s,%s,%s,%s,%s' "$(dword_hex 1)" "$(dword_hex $(((${#1} + 1) * 2)))" "$(dword_hex $(((${#2} + 1) * 2)))" \
        "$(utf16_hex "$1")" "$(utf16_hex "$2")"
}
# REG_EXPAND_SZ data in .reg form: hex(2): and the UTF-16LE bytes with a NUL.
expand_sz() { printf 'hex(2):%s00,00' "$(printf '%s' "$1" | iconv -t UTF-16LE | od -An -v -tx1 | tr -s ' \n' ',' | sed 's/^,//')"; }

MACHINE={5A3E0C11-0D2B-4C61-9E1A-7C0000000001}
ADDIN={5A3E0C11-0D2B-4C61-9E1A-7C0000000002}
DEPLOY={5A3E0C11-0D2B-4C61-9E1A-7C0000000003}
PERUSER={5A3E0C11-0D2B-4C61-9E1A-7C0000000004}
OTHER={7C1F2B33-4E5D-4A6B-8C7D-9E0000000001}
MACHINE_UPGRADE={5A3E0C11-0D2B-4C61-9E1A-7C00000000A1}
ADDIN_UPGRADE={5A3E0C11-0D2B-4C61-9E1A-7C00000000A2}
DEPLOY_UPGRADE={5A3E0C11-0D2B-4C61-9E1A-7C00000000A3}
PERUSER_UPGRADE={5A3E0C11-0D2B-4C61-9E1A-7C00000000A4}
OTHER_UPGRADE={7C1F2B33-4E5D-4A6B-8C7D-9E00000000A1}
INSTALLER_UPGRADES='HKLM\Software\Microsoft\Windows\CurrentVersion\Installer\UpgradeCodes'
UNINSTALL='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall'
USERDATA='HKLM\Software\Microsoft\Windows\CurrentVersion\Installer\UserData'
ADDINKEY='Software\Microsoft\Office\Outlook\Addins\Zamo.Outlook.AddIn'
STARTUP='AppData\Roaming\Microsoft\Windows\Start Menu\Programs\StartUp'
ADDIN_CLASS={5A3E0C11-0D2B-4C61-9E1A-7C00000000C1}  # the add-in's COM class
OTHER_CLASS={7C1F2B33-4E5D-4A6B-8C7D-9E00000000C1}  # Fenwick's add-in's
OTHER_PROGID=Fenwick.Notes.OutlookAddIn
C2R='HKLM\Software\Microsoft\Office\ClickToRun\REGISTRY\MACHINE\Software'
OUTLOOK16='Software\Microsoft\Office\16.0\Outlook'
OUTLOOK15='Software\Microsoft\Office\15.0\Outlook'
MACHINE_CACHE='C:\ProgramData\Package Cache'
USTARTUP=${STARTUP//\\//}   # the same below drive_c, for the Unix side
PROGRAMS='AppData\Roaming\Microsoft\Windows\Start Menu\Programs'
RUN='Software\Microsoft\Windows\CurrentVersion\Run'
PUBLIC_DESKTOP='C:\users\Public\Desktop'
ZAMO_EXE='C:\Program Files (x86)\Quorvex\Zamo\Zamo.exe'
UPDATER='C:\Program Files (x86)\Quorvex\Zamo\ZamoUpdater.exe'
NOTES='C:\Program Files (x86)\Fenwick\Notes\FenwickNotes.exe'
SHELL_CLASS={5A3E0C11-0D2B-4C61-9E1A-7C00000000D1}  # the product's shell extension
OTHER_SHELL_CLASS={7C1F2B33-4E5D-4A6B-8C7D-9E00000000D1}  # a system file's, for Fenwick's menu
CLASSES='Software\Classes'
APP_PATHS='Software\Microsoft\Windows\CurrentVersion\App Paths'
APPROVED='Software\Microsoft\Windows\CurrentVersion\Shell Extensions\Approved'
CHROME_HOSTS='Software\Google\Chrome\NativeMessagingHosts'
FILE_EXTS='Software\Microsoft\Windows\CurrentVersion\Explorer\FileExts'
ACTIVE_SETUP='Software\Microsoft\Active Setup\Installed Components'
USER_SETUP={5A3E0C11-0D2B-4C61-9E1A-7C00000000E1}  # the product's Active Setup entry

# Every item of the sample: owner (product or other), kind, view, location.
items() {
    cat <<ITEMS
product|key|32|$UNINSTALL\\$MACHINE
product|key|64|$UNINSTALL\\$ADDIN
product|key|32|$UNINSTALL\\$DEPLOY
product|key|32|$UNINSTALL\\$PERUSER
product|key|64|$UNINSTALL\\ZamoWebInstaller
product|key|64|HKLM\\Software\\Classes\\Installer\\Products\\$(pack $MACHINE)
product|key|64|HKLM\\Software\\Classes\\Installer\\Products\\$(pack $ADDIN)
product|key|64|HKLM\\Software\\Classes\\Installer\\Dependencies\\$ADDIN
product|key|64|HKLM\\Software\\Classes\\Installer\\Features\\$(pack $MACHINE)
product|key|64|HKLM\\Software\\Classes\\Installer\\Features\\$(pack $ADDIN)
product|key|64|HKLM\\Software\\Classes\\Installer\\Features\\$(pack $DEPLOY)
product|key|64|HKLM\\Software\\Classes\\Installer\\UpgradeCodes\\$(pack $MACHINE_UPGRADE)
product|key|64|HKLM\\Software\\Classes\\Installer\\UpgradeCodes\\$(pack $ADDIN_UPGRADE)
product|key|64|HKLM\\Software\\Classes\\Installer\\UpgradeCodes\\$(pack $DEPLOY_UPGRADE)
product|key|64|$INSTALLER_UPGRADES\\$(pack $MACHINE_UPGRADE)
product|key|64|$INSTALLER_UPGRADES\\$(pack $PERUSER_UPGRADE)
product|package||$MACHINE
product|package||$ADDIN
product|package||$DEPLOY
product|package||$PERUSER
product|key|64|$USERDATA\\S-1-5-18\\Products\\$(pack $MACHINE)
product|key|64|$USERDATA\\S-1-5-18\\Products\\$(pack $DEPLOY)
product|key|64|$USERDATA\\S-1-5-18\\Components\\$(pack {5A3E0C11-0D2B-4C61-9E1A-7C0000000101})
product|key|64|$USERDATA\\S-1-5-18\\Components\\$(pack {5A3E0C11-0D2B-4C61-9E1A-7C0000000104})
product|key|64|$USERDATA\\$USER_SID\\Products\\$(pack $PERUSER)
product|key|64|HKLM\\Software\\Quorvex\\Zamo
product|key|32|HKLM\\Software\\Quorvex\\Zamo
product|key|64|HKLM\\Software\\Zamo
product|key|64|HKLM\\Software\\Quorvex\\Outlook Add-In
product|key|64|HKLM\\$ADDINKEY
product|key|32|HKLM\\$ADDINKEY
product|value|32|HKLM\\Software\\Fenwick Shared Settings|ZamoDeployment
product|key|64|HKU\\$USER_SID\\Software\\Quorvex\\Zamo
product|key|64|HKU\\$USER_SID\\Software\\Zamo
product|key|64|HKU\\$USER_SID\\Software\\Microsoft\\Installer\\Products\\$(pack $PERUSER)
product|key|64|HKU\\$USER_SID\\$ADDINKEY
product|key|64|HKU\\$USER_SID\\Software\\Microsoft\\Installer\\Features\\$(pack $PERUSER)
product|key|64|HKU\\$USER_SID\\Software\\Microsoft\\Installer\\UpgradeCodes\\$(pack $PERUSER_UPGRADE)
product|key|64|HKU\\$SECOND_SID\\Software\\Quorvex\\Zamo
product|key|64|HKU\\$SECOND_SID\\Software\\Zamo
product|key|64|HKU\\$SECOND_SID\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\ZamoWebInstallerPerUser
product|key|64|HKLM\\Software\\Classes\\Zamo.Outlook.AddIn
product|key|64|HKLM\\Software\\Classes\\CLSID\\$ADDIN_CLASS
product|key|64|HKU\\$SECOND_SID\\Software\\Classes\\Zamo.Outlook.AddIn
product|key|64|HKU\\$SECOND_SID\\Software\\Classes\\CLSID\\$ADDIN_CLASS
product|key|64|HKU\\$SECOND_SID\\Software\\Classes\\Wow6432Node\\CLSID\\$ADDIN_CLASS
product|key|64|$C2R\\Microsoft\\Office\\Outlook\\Addins\\Zamo.Outlook.AddIn
product|key|64|$C2R\\Wow6432Node\\Microsoft\\Office\\Outlook\\Addins\\Zamo.Outlook.AddIn
product|value|64|HKU\\$USER_SID\\$OUTLOOK16\\Resiliency\\DisabledItems|6k9
product|value|64|HKU\\$USER_SID\\$OUTLOOK16\\Resiliency\\CrashingAddinList|Zamo.Outlook.AddIn
product|value|64|HKU\\$USER_SID\\$OUTLOOK16\\AddInLoadTimes|Zamo.Outlook.AddIn
product|value|64|HKU\\$SECOND_SID\\$OUTLOOK15\\Resiliency\\DoNotDisableAddinList|Zamo.Outlook.AddIn
product|path||$MACHINE_CACHE\\{5A3E0C11-0D2B-4C61-9E1A-7C0000000001}v1.0.0
product|path||$MACHINE_CACHE\\{5A3E0C11-0D2B-4C61-9E1A-7C0000000002}v1.0.0
product|path||$MACHINE_CACHE\\{5A3E0C11-0D2B-4C61-9E1A-7C0000000003}v1.0.0
product|path||$MACHINE_CACHE\\{A1C3E5F7-0001-4000-8000-000000000004}
product|path||C:\\Program Files (x86)\\Quorvex
product|path||C:\\Program Files\\Quorvex
product|path||C:\\Program Files (x86)\\Common Files\\Quorvex Shared\\zamo-shared.txt
product|path||%USERPROFILE%\\AppData\\Local\\Quorvex
product|path||%USERPROFILE%\\AppData\\Local\\Package Cache\\{A1C3E5F7-0001-4000-8000-000000000001}
product|path||%USERPROFILE%\\$STARTUP\\Zamo.lnk
product|path||C:\\users\\sampleuser\\AppData\\Local\\Quorvex
product|path||C:\\users\\sampleuser\\AppData\\Local\\Package Cache\\{A1C3E5F7-0001-4000-8000-000000000002}
product|path||C:\\users\\sampleuser\\AppData\\Local\\Package Cache\\{A1C3E5F7-0001-4000-8000-000000000003}
product|path||C:\\users\\sampleuser\\$STARTUP\\Zamo.lnk
product|path||C:\\users\\sampleuser\\Desktop\\Zamo.lnk
product|path||C:\\users\\sampleuser\\$PROGRAMS\\Quorvex
product|path||%USERPROFILE%\\$PROGRAMS\\Quorvex
product|path||$PUBLIC_DESKTOP\\Zamo.lnk
product|value|64|HKU\\$USER_SID\\$RUN|Zamo
product|value|64|HKU\\$SECOND_SID\\$RUN|ZamoAgent
product|value|64|HKLM\\$RUN|ZamoUpdater
product|value|32|HKLM\\$RUN|ZamoUpdater
product|key|64|HKLM\\$ACTIVE_SETUP\\$USER_SETUP
product|key|64|HKU\\$USER_SID\\$ACTIVE_SETUP\\$USER_SETUP
product|service||ZamoUpdateService
product|task||\\Quorvex\\Zamo Update
product|key|64|HKLM\\$APP_PATHS\\Zamo.exe
product|key|32|HKLM\\$APP_PATHS\\Zamo.exe
product|key|64|HKLM\\$CLASSES\\Zamo.Document
product|key|64|HKLM\\$CLASSES\\.zdoc
product|value|64|HKLM\\$CLASSES\\.fnote\\OpenWithProgids|Zamo.Document
product|key|64|HKLM\\$CLASSES\\zamo
product|key|64|HKLM\\$CLASSES\\Zamo.Viewer\\shell\\open
product|key|64|HKLM\\$CLASSES\\Directory\\shell\\ZamoScan
product|key|64|HKLM\\$CLASSES\\CLSID\\$SHELL_CLASS
product|key|32|HKLM\\$CLASSES\\CLSID\\$SHELL_CLASS
product|key|64|HKLM\\$CLASSES\\*\\shellex\\ContextMenuHandlers\\ZamoShell
product|value|64|HKLM\\$APPROVED|$SHELL_CLASS
product|value|32|HKLM\\$APPROVED|$SHELL_CLASS
product|key|64|HKLM\\$CHROME_HOSTS\\com.quorvex.zamo
product|key|32|HKLM\\$CHROME_HOSTS\\com.quorvex.zamo
product|value|64|HKLM\\Software\\RegisteredApplications|Zamo
product|value|32|HKLM\\Software\\RegisteredApplications|Zamo
product|key|64|HKU\\$SECOND_SID\\$CLASSES\\Applications\\Zamo.exe
product|value|64|HKU\\$SECOND_SID\\$FILE_EXTS\\.fnote\\OpenWithList|a
product|value|64|HKU\\$SECOND_SID\\$FILE_EXTS\\.fnote\\OpenWithProgids|Zamo.Document
product|key|64|HKU\\$SECOND_SID\\Software\\Mozilla\\NativeMessagingHosts\\com.quorvex.zamo
product|process||Zamo.exe
product|process||ZamoCrashHandler.exe
other|key|32|$UNINSTALL\\$OTHER
other|key|64|$UNINSTALL\\ZamoViewerClassic
other|key|64|$USERDATA\\S-1-5-18\\Products\\$(pack $OTHER)
other|key|64|HKLM\\Software\\Classes\\Installer\\Features\\$(pack $OTHER)
other|key|64|HKLM\\Software\\Classes\\Installer\\UpgradeCodes\\$(pack $OTHER_UPGRADE)
other|key|64|$INSTALLER_UPGRADES\\$(pack $OTHER_UPGRADE)
other|package||$OTHER
other|key|64|$USERDATA\\S-1-5-18\\Components\\$(pack {7C1F2B33-4E5D-4A6B-8C7D-9E0000000101})
other|key|32|HKLM\\Software\\Fenwick\\Notes
other|key|64|HKU\\$SECOND_SID\\Software\\Fenwick
other|key|64|HKLM\\Software\\Classes\\$OTHER_PROGID
other|key|32|HKLM\\Software\\Classes\\CLSID\\$OTHER_CLASS
other|key|64|HKU\\$SECOND_SID\\Software\\Classes\\$OTHER_PROGID
other|key|64|HKU\\$SECOND_SID\\Software\\Classes\\CLSID\\$OTHER_CLASS
other|key|64|$C2R\\Microsoft\\Office\\Outlook\\Addins\\$OTHER_PROGID
other|value|64|HKU\\$USER_SID\\$OUTLOOK16\\Resiliency\\DisabledItems|7a1
other|value|64|HKU\\$USER_SID\\$OUTLOOK16\\Resiliency\\CrashingAddinList|$OTHER_PROGID
other|value|64|HKU\\$SECOND_SID\\$OUTLOOK15\\Resiliency\\DoNotDisableAddinList|$OTHER_PROGID
other|value|64|HKU\\$SECOND_SID\\Software\\Policies\\Microsoft\\Office\\16.0\\Outlook\\Resiliency\\DoNotDisableAddinList|Zamo.Outlook.AddIn
other|path||$MACHINE_CACHE\\{7C1F2B33-4E5D-4A6B-8C7D-9E0000000001}v1.0.0\\other-maker.msi
other|path||C:\\Program Files (x86)\\Fenwick\\Notes\\notes.txt
other|path||%USERPROFILE%\\AppData\\Local\\Package Cache\\{B7D9F1A3-0002-4000-8000-000000000001}
other|path||C:\\users\\sampleuser\\AppData\\Local\\Package Cache\\{B7D9F1A3-0002-4000-8000-000000000002}
other|path||C:\\users\\sampleuser\\AppData\\Local\\Package Cache\\ZamoInstallerPerUser.exe
other|path||C:\\users\\sampleuser\\$STARTUP\\Fenwick.lnk
other|process||FenwickNotes.exe
other|path||C:\\users\\sampleuser\\Desktop\\Fenwick Notes.lnk
other|path||%USERPROFILE%\\$PROGRAMS\\Fenwick\\Fenwick Notes.lnk
other|path||$PUBLIC_DESKTOP\\Fenwick Notes.lnk
other|value|64|HKU\\$USER_SID\\$RUN|FenwickNotes
other|value|64|HKLM\\$RUN|QuorvexTools
other|value|32|HKLM\\$RUN|QuorvexTools
other|key|64|HKLM\\$APP_PATHS\\FenwickNotes.exe
other|key|64|HKLM\\$CLASSES\\Fenwick.Note\\shell\\open\\command
other|key|64|HKLM\\$CLASSES\\Zamo.Viewer\\shell\\print\\command
other|key|64|HKLM\\$CLASSES\\QuorvexTools.Project\\shell\\open\\command
other|key|64|HKLM\\$CLASSES\\.fnote
other|value|64|HKLM\\$CLASSES\\.fnote\\OpenWithProgids|Fenwick.Note
other|key|64|HKLM\\$CLASSES\\Directory\\shell\\FenwickClip\\command
other|key|64|HKLM\\$CLASSES\\CLSID\\$OTHER_SHELL_CLASS\\InprocServer32
other|key|64|HKLM\\$CLASSES\\*\\shellex\\ContextMenuHandlers\\FenwickShell
other|value|64|HKLM\\$APPROVED|$OTHER_SHELL_CLASS
other|key|64|HKLM\\$CHROME_HOSTS\\com.fenwick.notes
other|value|64|HKLM\\Software\\RegisteredApplications|Fenwick Notes
other|key|64|HKU\\$SECOND_SID\\$CLASSES\\Applications\\FenwickNotes.exe
other|value|64|HKU\\$SECOND_SID\\$FILE_EXTS\\.fnote\\OpenWithList|b
other|value|64|HKU\\$SECOND_SID\\$FILE_EXTS\\.fnote\\OpenWithProgids|Fenwick.Note
other|key|64|HKLM\\$ACTIVE_SETUP\\FenwickNotesUserSetup
other|key|64|HKU\\$USER_SID\\$ACTIVE_SETUP\\FenwickNotesUserSetup
other|service||FenwickSync
other|task||\\Fenwick Notes Sync
ITEMS
}

# The checks run in one Windows process: a wine start per item would take a minute.
check() {
    items >"$OUT/items.txt"
    "$WINE" "$BIN/SampleInventory.exe" "$(winepath_of "$OUT/items.txt")" "$@" | tr -d '\r'
}

inventory() { check; }
verify() { check verify; }

# What only a 64-bit writer leaves: the add-in's per-user COM registration in both class lists
# and Click-to-Run's copies of the add-in keys. Written through the 32-bit view too, Wine's view
# redirection would make copies of them that Windows never has.
registry_64bit_only() {
    # The add-in registered for the second user alone, in both class lists, beside
    # Fenwick's add-in.
    echo "[HKEY_USERS\\$SECOND_SID\\Software\\Classes\\Zamo.Outlook.AddIn\\CLSID]"
    echo "@=\"$ADDIN_CLASS\""
    for list in CLSID Wow6432Node\\CLSID; do
        echo "[HKEY_USERS\\$SECOND_SID\\Software\\Classes\\$list\\$ADDIN_CLASS\\ProgID]"
        echo '@="Zamo.Outlook.AddIn"'
        echo "[HKEY_USERS\\$SECOND_SID\\Software\\Classes\\$list\\$ADDIN_CLASS\\InprocServer32]"
        echo '@="C:\\Program Files\\Quorvex\\Outlook Add-In\\Zamo.Outlook.AddIn.dll"'
    done
    echo "[HKEY_USERS\\$SECOND_SID\\Software\\Classes\\$OTHER_PROGID\\CLSID]"
    echo "@=\"$OTHER_CLASS\""
    echo "[HKEY_USERS\\$SECOND_SID\\Software\\Classes\\CLSID\\$OTHER_CLASS\\ProgID]"
    echo "@=\"$OTHER_PROGID\""
    # Click-to-Run's copies of both add-ins' keys.
    for addins in 'Microsoft\Office\Outlook\Addins' 'Wow6432Node\Microsoft\Office\Outlook\Addins'; do
        echo "[${C2R/HKLM/HKEY_LOCAL_MACHINE}\\$addins\\Zamo.Outlook.AddIn]"
        echo '"LoadBehavior"=dword:00000003'
        echo "[${C2R/HKLM/HKEY_LOCAL_MACHINE}\\$addins\\$OTHER_PROGID]"
        echo '"LoadBehavior"=dword:00000003'
    done
}

# Active Setup entries: the product's, which starts the product at each new user's logon, and
# another maker's, with the first user's records of both. Written through the 64-bit view alone:
# once a user's "Software\Wow6432Node" exists, Wine sends that user's 32-bit registry access there.
registry_active_setup() {
    echo "[HKEY_LOCAL_MACHINE\\$ACTIVE_SETUP\\$USER_SETUP]"
    echo '@="Zamo user setup"'
    echo "\"StubPath\"=\"\\\"${ZAMO_EXE//\\/\\\\}\\\" /UserSetup\""
    echo '"Version"="1,0,0,0"'
    echo '"IsInstalled"=dword:00000001'
    echo "[HKEY_LOCAL_MACHINE\\$ACTIVE_SETUP\\FenwickNotesUserSetup]"
    echo "\"StubPath\"=\"\\\"${NOTES//\\/\\\\}\\\" /usersetup\""
    echo '"Version"="3,1,0,0"'
    for entry in $USER_SETUP FenwickNotesUserSetup; do
        echo "[HKEY_USERS\\$USER_SID\\$ACTIVE_SETUP\\$entry]"
        echo '"Version"="1,0,0,0"'
    done
}

# Writes a .reg file: the registry items of both views, or those of the function given.
write_registry() {
    local reg=$1 content=${2:-registry_both_views}
    {
        echo 'Windows Registry Editor Version 5.00'
        echo
        "$content"
    } >"$reg.txt"
    # In UTF-16 with its byte-order mark: reg import reads the hex(2) data of an 8-bit
    # file as 8-bit text.
    { printf '\xff\xfe'; sed 's/$/\r/' "$reg.txt" | iconv -f UTF-8 -t UTF-16LE; } >"$reg"
}

registry_both_views() {
    {
        echo "[HKEY_LOCAL_MACHINE\\Software\\Quorvex\\Zamo]"
        echo '"Edition"="Business"'
        echo "[HKEY_LOCAL_MACHINE\\Software\\Zamo\\Settings]"
        echo '"Telemetry"=dword:00000000'
        echo "[HKEY_LOCAL_MACHINE\\$ADDINKEY]"
        echo '"FriendlyName"="Zamo for Outlook"'
        echo '"LoadBehavior"=dword:00000003'
        echo "[HKEY_LOCAL_MACHINE\\Software\\Quorvex\\Outlook Add-In]"
        echo '"Path"="C:\\\\Program Files\\\\Quorvex\\\\Outlook Add-In\\\\Zamo.Outlook.AddIn.dll"'
        echo "[HKEY_LOCAL_MACHINE\\Software\\Classes\\Installer\\Dependencies\\$ADDIN]"
        echo '"DisplayName"="Zamo Outlook Add-In (per-machine)"'
        echo "[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\ZamoWebInstaller]"
        echo '"DisplayName"="Zamo Web Installer (per-machine)"'
        echo "[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\ZamoViewerClassic]"
        echo '"DisplayName"="Zamo Viewer Classic"'
        # What starts the product at logon, and a look-alike of another maker's that stays.
        echo "[HKEY_LOCAL_MACHINE\\$RUN]"
        echo "\"ZamoUpdater\"=\"${UPDATER//\\/\\\\} /check\""
        echo '"QuorvexTools"="\"C:\\Program Files (x86)\\Quorvex Tools\\helper.exe\""'
        echo "[HKEY_USERS\\$USER_SID\\$RUN]"
        echo "\"Zamo\"=\"\\\"${ZAMO_EXE//\\/\\\\}\\\" /tray\""
        echo "\"FenwickNotes\"=\"${NOTES//\\/\\\\}\""
        echo "[HKEY_USERS\\$SECOND_SID\\$RUN]"
        echo "\"ZamoAgent\"=$(expand_sz '%LOCALAPPDATA%\Quorvex\Zamo\ZamoAgent.exe --background')"
        echo "[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList\\$SECOND_SID]"
        echo "\"ProfileImagePath\"=$(expand_sz "$SECOND_PROFILE")"
        for sid in $USER_SID $SECOND_SID; do
            echo "[HKEY_USERS\\$sid\\Software\\Quorvex\\Zamo]"
            echo '"Theme"="dark"'
            echo "[HKEY_USERS\\$sid\\Software\\Zamo]"
            echo '"LastRun"="2026-12-01"'
            echo "[HKEY_USERS\\$sid\\$ADDINKEY]"
            echo '"LoadBehavior"=dword:00000003'
        done
        echo "[HKEY_USERS\\$SECOND_SID\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\ZamoWebInstallerPerUser]"
        echo '"DisplayName"="Zamo Web Installer (per-user)"'
        echo "[HKEY_USERS\\$SECOND_SID\\Software\\Fenwick]"
        echo '"Notes"="kept"'
        echo "[HKEY_USERS\\$SECOND_SID\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders]"
        echo "\"Local AppData\"=$(expand_sz '%USERPROFILE%\AppData\Local')"
        echo "\"Startup\"=$(expand_sz "%USERPROFILE%\\$STARTUP")"
        echo "\"Desktop\"=$(expand_sz '%USERPROFILE%\Desktop')"
        echo "\"Programs\"=$(expand_sz "%USERPROFILE%\\$PROGRAMS")"
        # What Outlook keeps of the add-ins it ran: Office 2016's for the first user, Office
        # 2013's for the second, and a policy that names the add-in.
        echo "[HKEY_USERS\\$USER_SID\\$OUTLOOK16\\Resiliency\\DisabledItems]"
        echo "\"6k9\"=$(disabled_item 'C:\Program Files\Quorvex\Outlook Add-In\Zamo.Outlook.AddIn.dll' 'Zamo for Outlook')"
        echo "\"7a1\"=$(disabled_item 'C:\Program Files (x86)\Fenwick\Notes\notes.dll' 'Fenwick Notes')"
        echo "[HKEY_USERS\\$USER_SID\\$OUTLOOK16\\Resiliency\\CrashingAddinList]"
        echo '"Zamo.Outlook.AddIn"=dword:00000001'
        echo "\"$OTHER_PROGID\"=dword:00000001"
        echo "[HKEY_USERS\\$USER_SID\\$OUTLOOK16\\AddInLoadTimes]"
        echo "\"Zamo.Outlook.AddIn\"=hex:$(dword_hex 5),$(dword_hex 120),$(dword_hex 95)"
        echo "[HKEY_USERS\\$SECOND_SID\\$OUTLOOK15\\Resiliency\\DoNotDisableAddinList]"
        echo '"Zamo.Outlook.AddIn"=dword:00000001'
        echo "\"$OTHER_PROGID\"=dword:00000001"
        echo "[HKEY_USERS\\$SECOND_SID\\Software\\Policies\\Microsoft\\Office\\16.0\\Outlook\\Resiliency\\DoNotDisableAddinList]"
        echo '"Zamo.Outlook.AddIn"=dword:00000001'
        # A per-user class hive, as Windows loads it beside the user's own: never swept.
        echo "[HKEY_USERS\\${SECOND_SID}_Classes\\*]"
        registry_shell
    }
}

# .reg text of a string: backslashes and quotes escaped.
reg_text() { local t=${1//\\/\\\\}; printf '"%s"' "${t//\"/\\\"}"; }

# What the product's installers register with the shell and the system, as they write it (in
# both views), and another maker's registrations beside it, some of them near misses: a ProgID
# with a verb of another program, a tool in a folder named like the maker's.
registry_shell() {
    local hklm=HKEY_LOCAL_MACHINE second="HKEY_USERS\\$SECOND_SID"
    local open="\"$ZAMO_EXE\" \"%1\"" notes="\"$NOTES\" \"%1\""
    echo "[$hklm\\$APP_PATHS\\Zamo.exe]"
    echo "@=$(reg_text "$ZAMO_EXE")"
    echo "\"Path\"=$(reg_text 'C:\Program Files (x86)\Quorvex\Zamo')"
    echo "[$hklm\\$APP_PATHS\\FenwickNotes.exe]"
    echo "@=$(reg_text "$NOTES")"
    echo "[$hklm\\$CLASSES\\Zamo.Document]"
    echo '@="Zamo Document"'
    echo "[$hklm\\$CLASSES\\Zamo.Document\\DefaultIcon]"
    echo "@=$(reg_text "$ZAMO_EXE,1")"
    echo "[$hklm\\$CLASSES\\Zamo.Document\\shell\\open\\command]"
    echo "@=$(reg_text "$open")"
    echo "[$hklm\\$CLASSES\\.zdoc]"
    echo '@="Zamo.Document"'
    echo "[$hklm\\$CLASSES\\.zdoc\\OpenWithProgids]"
    echo '"Zamo.Document"=""'
    echo "[$hklm\\$CLASSES\\zamo]"
    echo '@="URL:Zamo Protocol"'
    echo '"URL Protocol"=""'
    echo "[$hklm\\$CLASSES\\zamo\\shell\\open\\command]"
    echo "@=$(reg_text "$open")"
    echo "[$hklm\\$CLASSES\\Fenwick.Note\\shell\\open\\command]"
    echo "@=$(reg_text "$notes")"
    echo "[$hklm\\$CLASSES\\Zamo.Viewer\\shell\\open\\command]"
    echo "@=$(reg_text "$open")"
    echo "[$hklm\\$CLASSES\\Zamo.Viewer\\shell\\print\\command]"
    echo "@=$(reg_text "$notes /p")"
    echo "[$hklm\\$CLASSES\\QuorvexTools.Project\\shell\\open\\command]"
    echo "@=$(reg_text '"C:\Program Files (x86)\Quorvex Tools\helper.exe" "%1"')"
    echo "[$hklm\\$CLASSES\\.fnote]"
    echo '@="Fenwick.Note"'
    echo "[$hklm\\$CLASSES\\.fnote\\OpenWithProgids]"
    echo '"Fenwick.Note"=""'
    echo '"Zamo.Document"=""'
    echo "[$hklm\\$CLASSES\\Directory\\shell\\ZamoScan\\command]"
    echo "@=$(reg_text "$open")"
    echo "[$hklm\\$CLASSES\\Directory\\shell\\FenwickClip\\command]"
    echo "@=$(reg_text "$notes")"
    echo "[$hklm\\$CLASSES\\CLSID\\$SHELL_CLASS\\InprocServer32]"
    echo "@=$(reg_text 'C:\Program Files (x86)\Quorvex\Zamo\ZamoShell.dll')"
    echo '"ThreadingModel"="Apartment"'
    echo "[$hklm\\$CLASSES\\CLSID\\$OTHER_SHELL_CLASS\\InprocServer32]"
    echo "@=$(reg_text 'C:\windows\system32\shell32.dll')"
    echo "[$hklm\\$CLASSES\\*\\shellex\\ContextMenuHandlers\\ZamoShell]"
    echo "@=\"$SHELL_CLASS\""
    echo "[$hklm\\$CLASSES\\*\\shellex\\ContextMenuHandlers\\FenwickShell]"
    echo "@=\"$OTHER_SHELL_CLASS\""
    echo "[$hklm\\$APPROVED]"
    echo "\"$SHELL_CLASS\"=\"Zamo shell extension\""
    echo "\"$OTHER_SHELL_CLASS\"=\"Fenwick shell extension\""
    echo "[$hklm\\$CHROME_HOSTS\\com.quorvex.zamo]"
    echo "@=$(reg_text 'C:\Program Files (x86)\Quorvex\Zamo\chrome-host.json')"
    echo "[$hklm\\$CHROME_HOSTS\\com.fenwick.notes]"
    echo "@=$(reg_text 'C:\Program Files (x86)\Fenwick\Notes\host.json')"
    echo "[$hklm\\Software\\RegisteredApplications]"
    echo "\"Zamo\"=$(reg_text 'Software\Quorvex\Zamo\Capabilities')"
    echo "\"Fenwick Notes\"=$(reg_text 'Software\Fenwick\Notes\Capabilities')"
    # The second user's "Open with" records and the host of the product's Firefox extension.
    echo "[$second\\$CLASSES\\Applications\\Zamo.exe\\shell\\open\\command]"
    echo "@=$(reg_text "$open")"
    echo "[$second\\$CLASSES\\Applications\\FenwickNotes.exe\\shell\\open\\command]"
    echo "@=$(reg_text "$notes")"
    echo "[$second\\$FILE_EXTS\\.fnote\\OpenWithList]"
    echo '"a"="Zamo.exe"'
    echo '"b"="FenwickNotes.exe"'
    echo '"MRUList"="ab"'
    echo "[$second\\$FILE_EXTS\\.fnote\\OpenWithProgids]"
    echo '"Zamo.Document"=hex(0):'
    echo '"Fenwick.Note"=hex(0):'
    echo "[$second\\Software\\Mozilla\\NativeMessagingHosts\\com.quorvex.zamo]"
    echo "@=$(expand_sz '%LOCALAPPDATA%\Quorvex\Zamo\firefox-host.json')"
}

starter() { "$WINE" "$BIN/MakeStarter.exe" "$@" </dev/null >/dev/null 2>&1 || echo "MakeStarter $1 $2 failed" >&2; }

# Shortcuts, a service and a scheduled task, as the product's installers and another maker's
# make them. The prefix user's own Desktop is a link to the Unix home, which is never entered:
# the second user's Desktop holds the per-user Desktop shortcuts.
seed_starters() {
    local home="C:\\users\\$WINUSER" second='C:\users\sampleuser'
    mkdir -p "$UNIX_C/users/sampleuser/Desktop" "$UNIX_C/users/sampleuser/${PROGRAMS//\\//}/Quorvex" \
        "$UNIX_C/users/$WINUSER/${PROGRAMS//\\//}/Quorvex" "$UNIX_C/users/$WINUSER/${PROGRAMS//\\//}/Fenwick" \
        "$UNIX_C/users/Public/Desktop"
    starter shortcut "$second\\Desktop\\Zamo.lnk" "$ZAMO_EXE"
    starter shortcut "$second\\$PROGRAMS\\Quorvex\\Zamo.lnk" "$ZAMO_EXE"
    starter shortcut "$home\\$PROGRAMS\\Quorvex\\Zamo.lnk" "$ZAMO_EXE"
    starter shortcut "$PUBLIC_DESKTOP\\Zamo.lnk" "$ZAMO_EXE"
    starter shortcut "$second\\Desktop\\Fenwick Notes.lnk" "$NOTES"
    starter shortcut "$home\\$PROGRAMS\\Fenwick\\Fenwick Notes.lnk" "$NOTES"
    starter shortcut "$PUBLIC_DESKTOP\\Fenwick Notes.lnk" "$NOTES"
    starter service ZamoUpdateService "\"$UPDATER\" /service"
    starter service FenwickSync "\"$NOTES\" /sync"
    starter task '\Quorvex\Zamo Update' "$UPDATER"
    starter task '\Fenwick Notes Sync' "$NOTES"
}

put() { mkdir -p "$(dirname "$UNIX_C/$1")"; printf '%s\n' "${2:-sample}" >"$UNIX_C/$1"; }

seed() {
    local out=$OUT bin=$BIN
    mkdir -p "$out/payload"
    cp "$bin/FakeProduct.exe" "$out/payload/FakeProduct.exe"
    echo "Sample payload" >"$out/payload/readme.txt"
    for wxs in "$HERE"/packages/*.wxs; do
        local arch=x86
        grep -q 'Win64="yes"' "$wxs" && arch=x64
        (cd "$out" && wixl -a "$arch" -o "$(basename "$wxs" .wxs).msi" "$wxs")
    done
    for msi in zamo-machine zamo-addin-x64 zamo-deployment zamo-peruser other-maker; do
        "$WINE" msiexec /i "$(winepath_of "$out/$msi.msi")" /quiet </dev/null >/dev/null 2>&1
    done

    write_registry "$out/sample.reg"
    for view in 64 32; do
        "$WINE" reg import "$(winepath_of "$out/sample.reg")" /reg:$view >/dev/null 2>&1
    done
    write_registry "$out/sample64.reg" registry_64bit_only
    "$WINE" reg import "$(winepath_of "$out/sample64.reg")" /reg:64 >/dev/null 2>&1
    write_registry "$out/active-setup.reg" registry_active_setup
    "$WINE" reg import "$(winepath_of "$out/active-setup.reg")" /reg:64 >/dev/null 2>&1

    for who in "$WINUSER" sampleuser; do
        put "users/$who/AppData/Local/Quorvex/Zamo/settings.json" '{"theme":"dark"}'
        put "users/$who/AppData/Local/Quorvex/Zamo/logs/zamo.log"
        put "users/$who/$USTARTUP/Zamo.lnk"
    done
    put "users/$WINUSER/AppData/Local/Package Cache/{A1C3E5F7-0001-4000-8000-000000000001}/ZamoInstallerPerUser.exe"
    put "users/$WINUSER/AppData/Local/Package Cache/{B7D9F1A3-0002-4000-8000-000000000001}/FenwickNotes.msi"
    put "users/sampleuser/AppData/Local/Package Cache/{A1C3E5F7-0001-4000-8000-000000000002}/ZamoSetupPerUserX64.msi"
    put "users/sampleuser/AppData/Local/Package Cache/{A1C3E5F7-0001-4000-8000-000000000003}/ZamoOutlookSetupX64.msi"
    put "users/sampleuser/AppData/Local/Package Cache/{B7D9F1A3-0002-4000-8000-000000000002}/FenwickNotes.msi"
    put "users/sampleuser/AppData/Local/Package Cache/ZamoInstallerPerUser.exe"
    put "users/sampleuser/$USTARTUP/Fenwick.lnk"

    # The per-machine installs' packages as the bundles that ran them cache them, one folder per
    # package named by its code and version; the add-in's bundle cached it under its own name.
    local cache="$UNIX_C/ProgramData/Package Cache"
    for msi in zamo-machine:$MACHINE zamo-addin-x64:$ADDIN zamo-deployment:$DEPLOY other-maker:$OTHER; do
        mkdir -p "$cache/${msi#*:}v1.0.0"
        cp "$out/${msi%%:*}.msi" "$cache/${msi#*:}v1.0.0/"
    done
    mkdir -p "$cache/{A1C3E5F7-0001-4000-8000-000000000004}"
    cp "$out/zamo-addin-x64.msi" "$cache/{A1C3E5F7-0001-4000-8000-000000000004}/ZamoOutlookSetupX64.msi"

    seed_starters

    cp "$bin/FakeProduct.exe" "$UNIX_C/Program Files (x86)/Fenwick/Notes/FenwickNotes.exe"
    for exe in 'Program Files (x86)/Quorvex/Zamo/Zamo.exe' 'Program Files (x86)/Quorvex/Zamo/ZamoCrashHandler.exe' \
               'Program Files (x86)/Fenwick/Notes/FenwickNotes.exe'; do
        "$WINE" "C:/$exe" 600 </dev/null >/dev/null 2>&1 &
    done
    # Wait until the three processes run.
    for _ in $(seq 50); do
        [ "$(prefix_pids '/(Zamo|ZamoCrashHandler|FenwickNotes)\.exe 600' | wc -l)" -ge 3 ] && break
        sleep 0.2
    done
}

# The processes of this prefix whose command line matches a pattern: other prefixes on the same
# machine (another checkout's tests, say) run processes of the same names.
prefix_pids() {
    local pid environment
    for pid in $(pgrep -f "$1"); do
        environment=$'\n'$(tr '\0' '\n' 2>/dev/null <"/proc/$pid/environ" || true)$'\n'
        [[ $environment == *$'\n'"WINEPREFIX=$WINEPREFIX"$'\n'* ]] && echo "$pid"
    done
    return 0
}

winepath_of() { printf 'Z:%s' "${1//\//\\}"; }

teardown() {
    "$WINE" taskkill /f /im FenwickNotes.exe >/dev/null 2>&1 || true
    "$WINE" msiexec /x "$OTHER" /quiet </dev/null >/dev/null 2>&1 || true
    for view in 64 32; do
        "$WINE" reg delete "$UNINSTALL\\ZamoViewerClassic" /reg:$view /f >/dev/null 2>&1 || true
        "$WINE" reg delete 'HKLM\Software\Fenwick' /reg:$view /f >/dev/null 2>&1 || true
        "$WINE" reg delete "HKLM\\Software\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList\\$SECOND_SID" /reg:$view /f >/dev/null 2>&1 || true
        "$WINE" reg delete 'HKLM\Software\Microsoft\Office\ClickToRun' /reg:$view /f >/dev/null 2>&1 || true
    done
    "$WINE" reg delete "HKU\\$SECOND_SID" /f >/dev/null 2>&1 || true
    # Another maker's shell registrations.
    for view in 64 32; do
        for key in "$APP_PATHS\\FenwickNotes.exe" "$CLASSES\\Fenwick.Note" "$CLASSES\\Zamo.Viewer" \
                   "$CLASSES\\QuorvexTools.Project" "$CLASSES\\.fnote" "$CLASSES\\Directory\\shell\\FenwickClip" \
                   "$CLASSES\\CLSID\\$OTHER_SHELL_CLASS" "$CLASSES\\*\\shellex\\ContextMenuHandlers\\FenwickShell" \
                   "$CHROME_HOSTS\\com.fenwick.notes"; do
            "$WINE" reg delete "HKLM\\$key" /reg:$view /f >/dev/null 2>&1 || true
        done
        "$WINE" reg delete "HKLM\\$APPROVED" /v "$OTHER_SHELL_CLASS" /reg:$view /f >/dev/null 2>&1 || true
        "$WINE" reg delete 'HKLM\Software\RegisteredApplications' /v 'Fenwick Notes' /reg:$view /f >/dev/null 2>&1 || true
    done
    for view in 64 32; do
        "$WINE" reg delete "HKLM\\$RUN" /v QuorvexTools /reg:$view /f >/dev/null 2>&1 || true
    done
    "$WINE" reg delete "HKU\\$USER_SID\\$RUN" /v FenwickNotes /f >/dev/null 2>&1 || true
    "$WINE" reg delete "HKLM\\$ACTIVE_SETUP\\FenwickNotesUserSetup" /reg:64 /f >/dev/null 2>&1 || true
    "$WINE" reg delete "HKU\\$USER_SID\\$ACTIVE_SETUP\\FenwickNotesUserSetup" /f >/dev/null 2>&1 || true
    # Wine's Task Scheduler lists no tasks, so the product's task stays there too.
    starter remove-service FenwickSync
    starter remove-task '\Fenwick Notes Sync'
    starter remove-task '\Quorvex\Zamo Update'
    rm -f "$UNIX_C/users/Public/Desktop/Fenwick Notes.lnk"
    rm -rf "$UNIX_C/users/$WINUSER/${PROGRAMS//\\//}/Fenwick"
    "$WINE" reg delete "HKU\\${SECOND_SID}_Classes" /f >/dev/null 2>&1 || true
    "$WINE" reg delete "HKU\\$USER_SID\\Software\\Microsoft\\Office\\16.0" /f >/dev/null 2>&1 || true
    rm -rf "$UNIX_C/users/sampleuser" "$UNIX_C/Program Files (x86)/Fenwick" \
        "$UNIX_C/users/$WINUSER/AppData/Local/Package Cache" "$UNIX_C/ProgramData/Package Cache"
    prefix_pids '/(Zamo|ZamoCrashHandler)\.exe 600' | xargs -r kill 2>/dev/null || true
}

OUT=${2:-}
BIN=${3:-}
[ -n "$OUT" ] && [ -n "$BIN" ] || { echo "usage: sample.sh seed|inventory|verify|teardown OUT BIN" >&2; exit 2; }
mkdir -p "$OUT"
case ${1:-} in
seed) seed ;;
inventory) inventory ;;
verify) verify ;;
teardown) teardown ;;
*) echo "usage: sample.sh seed|inventory|verify|teardown OUT BIN" >&2; exit 2 ;;
esac
