#!/usr/bin/env bash
# Counts the machine instructions of one whole run of the release program,
# from process start to exit, with standard input at end of file and standard
# output to /dev/null, and holds it and the stripped program to their budgets.
#
#   bench/instructions.sh [instruction budget] [size budget in bytes]
#                                      (defaults 62000 and 1250000)
#
# valgrind's lackey tool counts guest instructions, so the figure is the same
# on every run of the same binary in the same environment, however busy the
# machine is. The budget applies to a run with an empty environment, which
# does not depend on the machine; the C library's start-up reads every
# variable once, so the count with this shell's environment is reported too.
# For scale, a static-pie C program that writes the same 46 bytes is built
# and counted the same way: the floor every such program pays.
set -euo pipefail

budget=${1:-62000}
size_budget=${2:-1250000}
cd "$(dirname "$0")/.."

for tool in valgrind strip cc; do
    command -v "$tool" >/dev/null ||
        { echo "$tool is needed (apt-get install valgrind binutils gcc)" >&2; exit 2; }
done

cmake --preset release >/dev/null
cmake --build --preset release --target person >/dev/null
program=build/release/person

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

count() {
    local program=$1
    shift
    "$@" "$(command -v valgrind)" --tool=lackey --basic-counts=yes \
        --log-file="$scratch/lackey" "$program" </dev/null >/dev/null
    sed -n 's/.*guest instrs: *\([0-9,]*\).*/\1/p' "$scratch/lackey" | tr -d ,
}

strip -o "$scratch/person" "$program"
size=$(stat -c %s "$scratch/person")
empty_environment=$(count "$program" env -i)
with_environment=$(count "$program" env)

# The floor: the same bytes from C, static-pie, with the same hardening.
printf '%s\n' '#include <unistd.h>' \
    'static const char lines[] = "Person\xB5\xC4\xC4\xAC\xC8\xCF\xB9\xB9\xD4\xEC\xBA\xAF\xCA\xFD\xB5\xF7\xD3\xC3\n"' \
    '    "Person\xB5\xC4\xCE\xF6\xB9\xB9\xBA\xAF\xCA\xFD\xB5\xF7\xD3\xC3\n";' \
    'int main(void) { return write(1, lines, sizeof lines - 1) < 0; }' >"$scratch/floor.c"
cc -O2 -fPIE -fstack-protector-strong -D_FORTIFY_SOURCE=2 -static-pie \
    -Wl,-z,relro,-z,now,-z,noexecstack,--gc-sections,-z,pack-relative-relocs -s \
    -o "$scratch/floor" "$scratch/floor.c"
floor=$(count "$scratch/floor" env -i)

printf 'program:                  %s\n' "$program"
printf 'stripped size:            %s bytes (budget %s)\n' "$size" "$size_budget"
printf 'instructions, empty env:  %s (budget %s)\n' "$empty_environment" "$budget"
printf 'instructions, this env:   %s (%s variables)\n' "$with_environment" "$(env | wc -l)"
printf 'C floor, empty env:       %s instructions, %s bytes (program: %s.%sx)\n' \
    "$floor" "$(stat -c %s "$scratch/floor")" \
    $((empty_environment / floor)) $((empty_environment * 10 / floor % 10))

status=0
if [ "$empty_environment" -gt "$budget" ]; then
    echo "over the instruction budget by $((empty_environment - budget))" >&2
    status=1
fi
if [ "$size" -gt "$size_budget" ]; then
    echo "over the size budget by $((size - size_budget)) bytes" >&2
    status=1
fi
[ "$status" -eq 0 ] && echo "within budget: $((budget - empty_environment)) instructions," \
                            "$((size_budget - size)) bytes to spare"
exit "$status"
