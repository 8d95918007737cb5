#!/usr/bin/env bash
# Makes a fresh Debian machine, release 12 or later (testing and unstable
# included), x86-64 or arm64, ready to build, run and test the program and to
# make every package: adds the foreign architectures, installs the packages
# and, where the kernel refuses 32-bit x86 programs, registers qemu-user's
# i386 emulator for 32-bit Wine. What to install is asked of apt, so a release
# that lacks a tool (Wine, say) is named in one line and the rest goes on.
# Ubuntu is taken by the same rules. A second run finds the work done and
# changes nothing.
#
#   cmake/setup.sh          (as root, or as a user who has sudo)
#   cmake/setup.sh --check  (changes nothing: says whether it sets up this system)
#
# It reads nothing from standard input. apt's errors go through as they are,
# and a failed install makes it exit non-zero.
set -euo pipefail
cd "$(dirname "$0")/.."
self=$PWD/cmake/setup.sh

say() { echo "setup: $*"; }
refuse() { echo "setup: $*" >&2; exit 1; }

# The newest Debian release that CI proves in a fresh system.
newest_proved=13

# The packages, named as Debian names them; <gcc>, <clang> stand for the
# release's default versions. Shown to those whose system is not supported.
by_hand="cmake ninja-build g++ gcc libgtest-dev clang libclang-rt-<clang>-dev libc++-dev
    libc++abi-dev man-db lintian valgrind binutils git g++-mingw-w64-i686-posix
    g++-mingw-w64-x86-64-posix wine wine32:i386 wine64 qemu-user-static (10 or later)
    libc6-dev-arm64-cross libgcc-<gcc>-dev-arm64-cross binutils-aarch64-linux-gnu
    emscripten nodejs chromium chromium-driver python3-selenium firefox-esr
    python3-websocket webkitgtk-webdriver (Debian 12: webkit2gtk-driver) xvfb luit
    (Debian 12: x11-utils xfonts-encodings) python3-fonttools python3-brotli fonts-wqy-microhei"

# ---------------------------------------------------------------------------
# Which system this is: Debian 12 or later, or an Ubuntu of 22.04 or later, on
# x86-64 or arm64. Debian testing and unstable have no VERSION_ID yet; their
# codename (or PRETTY_NAME, "Debian GNU/Linux forky/sid") says which. OS_RELEASE
# names another os-release file (for the script's tests).
# shellcheck source=/dev/null
. "${OS_RELEASE:-/etc/os-release}"
name=${PRETTY_NAME:-${ID:-unknown}}
codename=${VERSION_CODENAME:-}
version=${VERSION_ID:-}
if [ "${ID:-}" = debian ] && [ -z "$codename" ]; then
    codename=$(sed -n 's|^Debian GNU/Linux \([a-z]*\)/sid$|\1|p' <<<"$name")
fi
supported=no
newer=no
case "${ID:-}:$version" in
debian:) supported=yes newer=yes ;;
debian:*[!0-9]*) ;;
debian:*)
    if [ "$version" -ge 12 ]; then
        supported=yes
        [ "$version" -le "$newest_proved" ] || newer=yes
    fi
    ;;
ubuntu:2[2-9].* | ubuntu:[3-9][0-9].*) supported=yes ;;
esac
if [ "$supported" = no ] || [ -z "$codename" ]; then
    refuse "$name is not a system this script knows. It sets up Debian 12 (bookworm)," \
           "Debian 13 (trixie) and later releases, testing and unstable included, and Ubuntu" \
           "22.04 or later by the same rules. Elsewhere, install by hand: $(echo $by_hand)"
fi
machine=$(uname -m)
case "$machine" in
x86_64 | aarch64) ;;
*) refuse "this is a $machine machine; this script sets up x86-64 and arm64 (aarch64) ones." \
          "To build and run the program alone, install cmake, ninja-build, clang, libc++-dev" \
          "and libc++abi-dev and use the run preset" ;;
esac
if [ "$newer" = yes ]; then
    say "$name is newer than Debian $newest_proved, the newest release CI proves; going on by the same rules"
fi
if [ "${1:-}" = --check ]; then
    say "$name ($codename) on $machine: a system this script sets up"
    exit 0
fi

# The installs need root: a user's run goes on through sudo.
if [ "$(id -u)" -ne 0 ]; then
    if command -v sudo >/dev/null; then
        say "installing needs root: going on through sudo"
        exec sudo -- "$self" "$@"
    fi
    refuse "installing needs root, and there is no sudo here: run this script as root" \
           "(su -c $self)"
fi

# ---------------------------------------------------------------------------
export DEBIAN_FRONTEND=noninteractive
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

# The package mirror is sometimes caught in mid-sync: one index fails its size
# check and `apt-get update` exits 100. Try a few times; after that, go on with
# whatever indexes did arrive and let the install say whether they suffice.
update_indexes() {
    for attempt in 1 2 3; do
        apt-get update -qq && return
        say "apt-get update failed (try $attempt of 3)" >&2
        [ "$attempt" -lt 3 ] && sleep $((attempt * 5))
    done
    return 0
}

# The version a package would be installed in, empty where apt knows none.
candidate() {
    apt-cache policy "$1" 2>/dev/null | sed -n 's/^ *Candidate: //p' | grep -vx '(none)' || true
}

# The first of the packages named that apt has, else the first named (which
# the release then lacks): a package renamed between releases.
first_candidate() {
    local package
    for package in "$@"; do
        [ -z "$(candidate "$package")" ] || { echo "$package"; return; }
    done
    echo "$1"
}

# luit, which shows a GBK program's lines in a UTF-8 terminal: a package of
# its own since x11-utils 7.7+6 (Debian 13), part of x11-utils before, where
# the luit package would remove x11-utils and what needs it (Chromium); that
# luit needs X's encoding tables, and crashes without them.
luit_packages() {
    local utils
    utils=$(candidate x11-utils)
    if [ -n "$utils" ] && dpkg --compare-versions "$utils" lt 7.7+6; then
        echo x11-utils xfonts-encodings
    else
        echo luit
    fi
}

# The major version of the compiler a release's default package depends on:
# `default_major gcc` is 12 on Debian 12 (gcc depends on gcc-12).
default_major() {
    apt-cache depends "$1" | sed -n "s/^ *Depends: $1-\([0-9][0-9]*\)\$/\1/p" | head -n 1
}

say "$name"

# On x86-64: i386 for 32-bit Wine, and arm64 so that the arm64 build can take
# libc++ from apt. An arm64 machine builds its own program natively and runs
# no x86 Wine.
foreign=()
[ "$machine" = x86_64 ] && foreign=(i386 arm64)
added=()
for arch in "${foreign[@]}"; do
    if ! dpkg --print-foreign-architectures | grep -qx "$arch"; then
        dpkg --add-architecture "$arch"
        added+=("$arch")
    fi
done
update_indexes
if [ "${#added[@]}" -gt 0 ]; then
    say "added the foreign architectures ${added[*]}"
fi

gcc_major=$(default_major gcc)
clang_major=$(default_major clang)
[ -n "$gcc_major" ] && [ -n "$clang_major" ] ||
    refuse "apt does not know gcc and clang; do apt's sources name the main suite?"
packages=(
    cmake ninja-build g++ gcc libgtest-dev          # build, tests, the instruction floor
    clang libc++-dev libc++abi-dev                  # the release program
    man-db lintian                                  # manual page and package checks
    valgrind binutils git                           # instruction count, headers, commit time
)
# clang's sanitizer run-time: a package of its own from Debian 12 on,
# versioned like clang (later releases also name it without the version),
# part of libclang-common-<version>-dev (which clang needs) in older releases.
runtime=$(first_candidate "libclang-rt-$clang_major-dev" libclang-rt-dev)
[ -z "$(candidate "$runtime")" ] || packages+=("$runtime")

# What the other legs need, where the release has it: the tests of a leg
# whose tools are missing are reported as skipped, with the reason.
legs=(
    g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix # the Windows programs
    emscripten nodejs                               # the page and the Node.js program
    chromium chromium-driver python3-selenium       # the page's tests in Chromium,
    firefox-esr python3-websocket                   # in Firefox (its own WebDriver BiDi),
    "$(first_candidate webkitgtk-webdriver webkit2gtk-driver)" xvfb # in WebKitGTK
    python3-fonttools python3-brotli fonts-wqy-microhei # the page's subset CJK font
    $(luit_packages)                                # the first run's lines, in Chinese
)
if [ "$machine" = x86_64 ]; then
    legs+=(wine wine32:i386 wine64)                 # Wine, to run the Windows programs
    packages+=(libc6-dev-arm64-cross "libgcc-$gcc_major-dev-arm64-cross" binutils-aarch64-linux-gnu)
else
    say "Wine runs the Windows programs as x86 programs and is not set up on an arm64" \
        "machine: the Windows programs are built, and their runs reported as skipped"
fi
lacking=()
for package in "${legs[@]}"; do
    if [ -n "$(candidate "$package")" ]; then
        packages+=("$package")
    else
        lacking+=("$package")
    fi
done
if [ "${#lacking[@]}" -gt 0 ]; then
    say "$codename has no ${lacking[*]}: the tests that need them are reported as skipped"
fi

# qemu-user runs the arm64 tests on x86-64, and 32-bit Wine where the kernel
# refuses 32-bit x86 programs; for that it must be version 10 or later, which
# starts Wine in seconds rather than minutes. Its emulators come in
# qemu-user-static (Debian 12 and 13) or in qemu-user itself (later
# releases). A release with an older one (Debian 12) has it in its backports
# suite, from the same mirror as the release.
if [ "$machine" = x86_64 ]; then
    qemu=qemu-user-static
    [ -n "$(candidate "$qemu")" ] || qemu=qemu-user
    if cmake/register-i386-emulator.sh --query &&
        dpkg --compare-versions "$(candidate "$qemu")" lt 1:10; then
        backports=$codename-backports
        if ! apt-cache policy | grep -q " $backports/main "; then
            mirror=$(apt-cache policy | sed -n "s|^ *[0-9]* \([^ ]*\) $codename/main .*|\1|p" | head -n 1)
            [ -n "$mirror" ] || refuse "no mirror of $codename found in apt's sources"
            echo "deb $mirror $backports main" >"/etc/apt/sources.list.d/$backports.list"
            say "added $backports from $mirror (/etc/apt/sources.list.d/$backports.list)" \
                "for qemu-user 10"
            update_indexes
        fi
        qemu=$qemu/$backports
    fi
    packages+=("$qemu")
fi

install_packages() {
    apt-get install -y -qq --no-install-recommends "$@" "${packages[@]}" >"$scratch/apt.log"
}
installed() { dpkg-query -W -f='${binary:Package} ${Version} ${db:Status-Abbrev}\n' | sort; }
before=$(installed)
say "installing ${#packages[@]} packages and what they need (a few minutes on a new machine)"
if ! install_packages; then
    # Without the security suite's i386 index (a mirror in mid-sync), the
    # i386 libraries Wine needs cannot match the amd64 ones already upgraded
    # from that suite. Ranking the suite no higher than what is installed
    # (priority 100) lets apt take the matching pair from the main suite
    # instead. For this one install only.
    preferences=$scratch/preferences
    printf '%s\n' 'Package: *' 'Pin: release l=Debian-Security' 'Pin-Priority: 100' >"$preferences"
    say "the install failed; once more with the security suite ranked below the installed versions" >&2
    if ! install_packages -o Dir::Etc::Preferences="$preferences"; then
        tail -n 20 "$scratch/apt.log" >&2
        refuse "the install failed (apt's messages above)"
    fi
fi
changed=$(comm -13 <(echo "$before") <(installed) | wc -l)
if [ "$changed" -eq 0 ]; then
    say "every package was already installed"
else
    say "installed or upgraded $changed packages"
fi

# Where the kernel refuses 32-bit x86 programs, the emulator stands in; the
# script says what it did, and nothing where nothing is needed.
if [ "$machine" = x86_64 ]; then
    cmake/register-i386-emulator.sh
fi
say "done: cmake --workflow --preset run builds and runs the program, --preset test tests it"
