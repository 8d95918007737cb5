#!/usr/bin/env bash
# Makes a fresh Debian 12 or 13 machine (x86-64) ready to build, run and test
# the program and to make every package: adds the foreign architectures,
# installs the packages and, where the kernel refuses 32-bit x86 programs,
# registers qemu-user's i386 emulator for 32-bit Wine. Ubuntu is taken by the
# same rules. A second run finds the work done and changes nothing.
#
#   cmake/setup.sh        (as root, or as a user who has sudo)
#
# It reads nothing from standard input. apt's errors go through as they are,
# and a failed install makes it exit non-zero.
set -euo pipefail
cd "$(dirname "$0")/.."
self=$PWD/cmake/setup.sh

say() { echo "setup: $*"; }
refuse() { echo "setup: $*" >&2; exit 1; }

# The packages, named as Debian names them; <gcc>, <clang> stand for the
# release's default versions. Shown to those whose system is not supported.
by_hand="cmake ninja-build g++ gcc libgtest-dev clang libclang-rt-<clang>-dev libc++-dev
    libc++abi-dev man-db lintian valgrind binutils git g++-mingw-w64-i686-posix
    g++-mingw-w64-x86-64-posix wine wine32:i386 wine64 qemu-user-static (10 or later)
    libc6-dev-arm64-cross libgcc-<gcc>-dev-arm64-cross binutils-aarch64-linux-gnu
    emscripten nodejs chromium chromium-driver python3-selenium python3-fonttools
    python3-brotli fonts-wqy-microhei"

# ---------------------------------------------------------------------------
# Which system this is: Debian 12 or 13, or an Ubuntu of 22.04 or later, on
# x86-64. OS_RELEASE names another os-release file (for the script's tests).
# shellcheck source=/dev/null
. "${OS_RELEASE:-/etc/os-release}"
name=${PRETTY_NAME:-${ID:-unknown}}
codename=${VERSION_CODENAME:-}
case "${ID:-}:${VERSION_ID:-}" in
debian:12 | debian:13) supported=yes ;;
ubuntu:2[2-9].* | ubuntu:[3-9][0-9].*) supported=yes ;;
*) supported=no ;;
esac
if [ "$supported" = no ] || [ -z "$codename" ]; then
    refuse "$name is not a system this script knows. It sets up Debian 12 (bookworm)" \
           "and Debian 13 (trixie), and Ubuntu 22.04 or later by the same rules. Elsewhere," \
           "install by hand: $(echo $by_hand)"
fi
machine=$(uname -m)
[ "$machine" = x86_64 ] ||
    refuse "this is a $machine machine; the builds for other CPUs (arm64, Windows) are made" \
           "on x86-64. To build and run the program alone, install cmake, ninja-build, clang," \
           "libc++-dev and libc++abi-dev and use the run preset"

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

# The major version of the compiler a release's default package depends on:
# `default_major gcc` is 12 on Debian 12 (gcc depends on gcc-12).
default_major() {
    apt-cache depends "$1" | sed -n "s/^ *Depends: $1-\([0-9][0-9]*\)\$/\1/p" | head -n 1
}

say "$name"

# i386 for 32-bit Wine; arm64 so that the arm64 build can take libc++ from
# apt.
added=()
for arch in i386 arm64; do
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
    g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix # the Windows programs
    wine wine32:i386 wine64                         # and Wine to run them
    libc6-dev-arm64-cross "libgcc-$gcc_major-dev-arm64-cross" binutils-aarch64-linux-gnu
    emscripten nodejs                               # the page and the Node.js program
    chromium chromium-driver python3-selenium       # the page's tests in a real browser
    python3-fonttools python3-brotli fonts-wqy-microhei # the page's subset CJK font
)
# clang's sanitizer run-time: a package of its own from Debian 12 on,
# part of libclang-common-<version>-dev (which clang needs) in older releases.
if [ -n "$(candidate "libclang-rt-$clang_major-dev")" ]; then
    packages+=("libclang-rt-$clang_major-dev")
fi

# qemu-user runs the arm64 tests, and 32-bit Wine where the kernel refuses
# 32-bit x86 programs; for that it must be version 10 or later, which starts
# Wine in seconds rather than minutes. A release with an older one (Debian
# 12) has it in its backports suite, from the same mirror as the release.
qemu=qemu-user-static
if cmake/register-i386-emulator.sh --query &&
    dpkg --compare-versions "$(candidate qemu-user-static)" lt 1:10; then
    backports=$codename-backports
    if ! apt-cache policy | grep -q " $backports/main "; then
        mirror=$(apt-cache policy | sed -n "s|^ *[0-9]* \([^ ]*\) $codename/main .*|\1|p" | head -n 1)
        [ -n "$mirror" ] || refuse "no mirror of $codename found in apt's sources"
        echo "deb $mirror $backports main" >"/etc/apt/sources.list.d/$backports.list"
        say "added $backports from $mirror (/etc/apt/sources.list.d/$backports.list)" \
            "for qemu-user 10"
        update_indexes
    fi
    qemu=qemu-user-static/$backports
fi
packages+=("$qemu")

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
cmake/register-i386-emulator.sh
say "done: cmake --workflow --preset run builds and runs the program, --preset test tests it"
