#!/usr/bin/env bash
# Lets this machine run 32-bit x86 Linux programs, and so the 32-bit Wine that
# runs person.exe, where the kernel refuses them ("32-bit emulation
# disabled"): registers qemu-user's i386 emulator with the kernel's
# binfmt_misc. Where systemd runs, the registration is also written to
# /etc/binfmt.d/, so that it comes back at each boot; elsewhere once is enough
# until the next boot. A second run finds the work done and says so.
#
#   cmake/register-i386-emulator.sh          (as root; qemu-user 10 or later)
#   cmake/register-i386-emulator.sh --query  (changes nothing: exits 0 where
#                                             this kernel needs the emulator,
#                                             1 where it runs them itself)
#
# Older qemu-user (Debian 12's 7.2) runs Wine, but takes minutes a start.
set -euo pipefail

binfmt=/proc/sys/fs/binfmt_misc
entry=$binfmt/qemu-i386
say() { echo "register-i386-emulator: $*"; }
refuse() { echo "register-i386-emulator: $*" >&2; exit 1; }

# The smallest static i386 program: exit(0) through int 0x80.
probe=$(mktemp)
trap 'rm -f "$probe"' EXIT
printf '%b' \
    '\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00' \
    '\x02\x00\x03\x00\x01\x00\x00\x00\x54\x80\x04\x08\x34\x00\x00\x00' \
    '\x00\x00\x00\x00\x00\x00\x00\x00\x34\x00\x20\x00\x01\x00\x00\x00' \
    '\x00\x00\x00\x00\x01\x00\x00\x00\x00\x00\x00\x00\x00\x80\x04\x08' \
    '\x00\x80\x04\x08\x5d\x00\x00\x00\x5d\x00\x00\x00\x05\x00\x00\x00' \
    '\x00\x10\x00\x00\xb8\x01\x00\x00\x00\x31\xdb\xcd\x80' >"$probe"
chmod +x "$probe"
runs_i386() { "$probe" 2>/dev/null; }
registered() { [ -e "$entry" ] && head -n 1 "$entry" | grep -qx enabled; }

if [ "${1:-}" = --query ]; then
    registered || ! runs_i386
    exit
fi

# The magic and mask of an i386 ELF executable (class 32, little-endian,
# machine 3), as qemu's own binfmt configuration has them. F: the kernel opens
# the interpreter now, so it also works inside other mount namespaces.
magic='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
mask='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'
registration() { echo ":qemu-i386:M::$magic:$mask:$1:F"; }

# Where systemd runs, systemd-binfmt registers what /etc/binfmt.d/ holds at
# each boot.
persist() {
    local file=/etc/binfmt.d/qemu-i386.conf
    [ -d /run/systemd/system ] || return 0
    if [ "$(cat "$file" 2>/dev/null)" != "$(registration "$1")" ]; then
        mkdir -p /etc/binfmt.d
        registration "$1" >"$file"
        say "wrote $file, so that the registration comes back at each boot"
    fi
}

if registered && runs_i386; then
    interpreter=$(sed -n 's/^interpreter //p' "$entry")
    say "already registered: $interpreter"
    [ "$(id -u)" -ne 0 ] || persist "$interpreter"
    exit 0
fi
if runs_i386; then
    say "32-bit x86 programs already run here; nothing to do"
    exit 0
fi

[ "$(id -u)" -eq 0 ] || refuse "this kernel refuses 32-bit x86 programs; registering an emulator needs root"
qemu=$(command -v qemu-i386-static || command -v qemu-i386 || true)
[ -n "$qemu" ] || refuse "qemu-i386-static not found (cmake/setup.sh installs it)"
version=$("$qemu" --version | sed -n '1s/^qemu-i386 version \([0-9][0-9]*\).*/\1/p')
[ -n "$version" ] && [ "$version" -ge 10 ] ||
    refuse "$qemu is version ${version:-unknown}; Wine needs qemu-user 10 or later to start in seconds" \
           "(cmake/setup.sh installs it)"

if [ ! -e "$binfmt/register" ]; then
    mount -t binfmt_misc binfmt_misc "$binfmt"
    say "mounted binfmt_misc on $binfmt"
fi
if [ -e "$entry" ]; then
    echo -1 >"$entry" # a stale or disabled entry of the same name
    say "removed the earlier qemu-i386 entry"
fi
registration "$qemu" >"$binfmt/register"
runs_i386 || refuse "registered $qemu, yet a 32-bit x86 program still does not run"
say "registered $qemu (qemu-user $version) for 32-bit x86 programs"
persist "$qemu"
