#!/usr/bin/env bash
# Takes the README's pictures of the dialog (docs/dialog-*.png) from the real window: the
# shipped i686 build in a throwaway Wine prefix on a virtual X display (Xvfb), in three states:
# ready, running (a product process keeps the run busy), finished with an item left (a file
# of the product's held open). Installs xvfb and xauth with apt-get where they are missing.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/wine-env.sh"
cd "$ROOT"

if ! command -v Xvfb >/dev/null || ! command -v xauth >/dev/null; then
    if [ "$(id -u)" != 0 ]; then
        echo "Xvfb and xauth are missing: run this as root, or install the packages xvfb and xauth" >&2
        exit 1
    fi
    echo "== Installing xvfb and xauth"
    apt-get install -y --no-install-recommends xvfb xauth >/dev/null
fi

echo "== Building ZamoClean.exe and the picture taker (i686)"
cmake --preset i686 -Wno-dev >/dev/null
cmake --build --preset i686 -j"$(nproc)" --target ZamoClean FakeProduct DialogSnapshot -- --no-print-directory -s
BIN="$ROOT/build/i686/bin"

# The prefix is made for these pictures and removed afterwards; it draws real windows.
export WINEPREFIX="$ROOT/build/i686/screenshot-prefix"
export WINEDLLOVERRIDES="$WINEDLLOVERRIDES;winemenubuilder.exe=d"
rm -rf "$WINEPREFIX"
XVFB_PID=
finish() {
    "$WINESERVER" -k 2>/dev/null || true
    [ -n "$XVFB_PID" ] && kill "$XVFB_PID" 2>/dev/null || true
    rm -rf "$WINEPREFIX"
}
trap finish EXIT

# The first display number that nobody uses.
DISPLAY_NUMBER=99
while [ -e "/tmp/.X$DISPLAY_NUMBER-lock" ] || [ -e "/tmp/.X11-unix/X$DISPLAY_NUMBER" ]; do
    DISPLAY_NUMBER=$((DISPLAY_NUMBER + 1))
done
Xvfb ":$DISPLAY_NUMBER" -screen 0 800x600x24 -nolisten tcp >/dev/null 2>&1 &
XVFB_PID=$!
for _ in $(seq 100); do
    [ -e "/tmp/.X11-unix/X$DISPLAY_NUMBER" ] && break
    sleep 0.1
done
export DISPLAY=":$DISPLAY_NUMBER"

echo "== Creating the prefix $WINEPREFIX"
"$WINE" wineboot -i >/dev/null 2>&1 || true
keep_prefix_inside
# With no window manager on the display, Wine draws the windows' frames and captions itself.
"$WINE" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
"$WINESERVER" -w
"$WINESERVER" -p
"$WINE" wineboot </dev/null >/dev/null 2>&1 || true
DRIVE_C="$WINEPREFIX/drive_c"
mkdir -p "$DRIVE_C/snap"
cp "$BIN/FakeProduct.exe" "$DRIVE_C/snap/Zamo.exe"
LOG='/Log:C:\snap\ZamoClean.log'

# A BMP of 24 bits, bottom-up, written as a PNG of 24 bits.
to_png() {
    python3 - "$1" "$2" <<'PY'
import struct, sys, zlib
data = open(sys.argv[1], 'rb').read()
offset, = struct.unpack_from('<I', data, 10)
width, height = struct.unpack_from('<ii', data, 18)
row = (width * 3 + 3) // 4 * 4
raw = b''
for y in range(height - 1, -1, -1):
    line = data[offset + y * row: offset + y * row + width * 3]
    raw += b'\0'
    raw += bytes(b for x in range(width) for b in (line[3 * x + 2], line[3 * x + 1], line[3 * x]))
def chunk(kind, body):
    return struct.pack('>I', len(body)) + kind + body + struct.pack('>I', zlib.crc32(kind + body) & 0xffffffff)
png = b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', struct.pack('>IIBBBBB', width, height, 8, 2, 0, 0, 0))
png += chunk(b'IDAT', zlib.compress(raw, 9)) + chunk(b'IEND', b'')
open(sys.argv[2], 'wb').write(png)
PY
}

snapshot() {
    local state=$1 held=$2
    "$WINE" "$BIN/DialogSnapshot.exe" "$BIN/ZamoClean.exe" 'C:\snap\shot.bmp' "$state" "$held" "$LOG" </dev/null
    to_png "$DRIVE_C/snap/shot.bmp" "$ROOT/docs/dialog-$state.png"
    echo "   docs/dialog-$state.png"
}

echo "== Taking the pictures"
mkdir -p "$ROOT/docs"
snapshot ready -
# The product's process, which the run stops and then pauses for.
"$WINE" 'C:\snap\Zamo.exe' 60 </dev/null >/dev/null 2>&1 &
sleep 2
snapshot running -
# A file of the product's held open by the picture taker: the run cannot remove it.
PROGRAMS="$DRIVE_C/Program Files (x86)/Quorvex/Zamo"
mkdir -p "$PROGRAMS"
echo x >"$PROGRAMS/Zamo.exe"
snapshot finished 'C:\Program Files (x86)\Quorvex\Zamo\Zamo.exe'
