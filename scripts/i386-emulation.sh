#!/usr/bin/env bash
# Makes Wine's 32-bit side runnable where the kernel cannot execute 32-bit code, so that the
# shipped 32-bit ZamoClean.exe is what every test runs. Says in one line what it did.
#
# Such a kernel refuses Wine's i386 loader ("Exec format error"). There the i386 ELF format is
# registered with binfmt_misc to user-mode emulation: a static qemu-i386 from Debian 13's
# qemu-user package (Debian 12's qemu is far too slow for Wine), fetched with apt from Debian's
# archive into build/qemu and unpacked there, never installed over the system's packages. Only
# Wine's 32-bit Unix processes run under it; wineserver and everything 64-bit stay native.
#   ZAMO_I386_EMULATION=force  registers the emulation even where 32-bit code runs natively
set -euo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
LOADER=/usr/lib/wine/wine
BINFMT=/proc/sys/fs/binfmt_misc
ENTRY=$BINFMT/qemu-i386

if [ -e "$ENTRY" ] && head -n 1 "$ENTRY" | grep -qx enabled && "$LOADER" --version >/dev/null 2>&1; then
    echo "== 32-bit Wine runs under qemu-i386 emulation, registered earlier ($(sed -n 's/^interpreter //p' "$ENTRY"))"
    exit 0
fi
if [ "${ZAMO_I386_EMULATION:-}" != force ] && "$LOADER" --version >/dev/null 2>&1; then
    echo "== 32-bit Wine runs natively on this kernel"
    exit 0
fi

QEMU_DIR=$ROOT/build/qemu
QEMU=$QEMU_DIR/root/usr/bin/qemu-i386
if [ ! -x "$QEMU" ]; then
    # A private apt configuration: Debian 13's package list in a folder of its own, so the
    # system's sources, lists and package state stay as they are.
    apt_dir=$QEMU_DIR/apt
    rm -rf "$QEMU_DIR"
    mkdir -p "$apt_dir/lists/partial" "$apt_dir/cache/archives/partial" "$apt_dir/sources.list.d" \
        "$apt_dir/preferences.d" "$QEMU_DIR/root"
    echo "deb [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] http://deb.debian.org/debian trixie main" \
        >"$apt_dir/sources.list"
    apt_options=(-o "Dir::Etc::SourceList=$apt_dir/sources.list" -o "Dir::Etc::SourceParts=$apt_dir/sources.list.d"
                 -o "Dir::Etc::PreferencesParts=$apt_dir/preferences.d" -o "Dir::State::Lists=$apt_dir/lists"
                 -o "Dir::Cache=$apt_dir/cache" -o Dir::State::status=/dev/null -o APT::Architecture=amd64
                 -o APT::Architectures::=amd64 -o APT::Sandbox::User=root -o Debug::NoLocking=1)
    apt-get "${apt_options[@]}" -qq update
    (cd "$QEMU_DIR" && apt-get "${apt_options[@]}" -qq download qemu-user)
    dpkg-deb -x "$QEMU_DIR"/qemu-user_*.deb "$QEMU_DIR/root"
    rm -rf "$apt_dir" "$QEMU_DIR"/qemu-user_*.deb
fi

[ -e "$BINFMT/register" ] || mount -t binfmt_misc binfmt_misc "$BINFMT"
[ -e "$ENTRY" ] && echo -1 >"$ENTRY"
# qemu's own magic and mask for i386 executables; binfmt_misc reads the \x escapes itself.
# F opens the interpreter now, so it serves every later process whatever becomes of build/.
magic='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
mask='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'
printf ':qemu-i386:M::%s:%s:%s:F' "$magic" "$mask" "$QEMU" >"$BINFMT/register"

if ! "$LOADER" --version >/dev/null 2>&1; then
    echo "== 32-bit Wine cannot run here, not even under $QEMU" >&2
    exit 1
fi
why="This kernel cannot execute 32-bit code"
[ "${ZAMO_I386_EMULATION:-}" = force ] && why="Emulation forced"
echo "== $why: Wine's 32-bit side runs under $("$QEMU" --version | head -n 1) (binfmt_misc)"
