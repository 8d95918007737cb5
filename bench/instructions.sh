#!/usr/bin/env bash
# Counts the machine instructions of one whole run of the release program,
# from process start to exit, with standard input at end of file and standard
# output to /dev/null, and fails if the count is over budget.
#
#   bench/instructions.sh [budget]       (default 130000)
#
# valgrind's lackey tool counts guest instructions, so the figure is the same
# on every run of the same binary in the same environment, however busy the
# machine is. The environment matters a little: the C library's start-up
# reads every variable once. The script reports the count with this shell's
# environment (the budget applies to it) and with an empty one.
set -euo pipefail

budget=${1:-130000}
cd "$(dirname "$0")/.."

command -v valgrind >/dev/null || { echo "valgrind is needed (apt-get install valgrind)" >&2; exit 2; }

cmake --preset release >/dev/null
cmake --build --preset release --target person >/dev/null
program=build/release/person

count() {
    local log
    log=$(mktemp)
    "$@" valgrind --tool=lackey --basic-counts=yes --log-file="$log" "$program" \
        </dev/null >/dev/null
    sed -n 's/.*guest instrs: *\([0-9,]*\).*/\1/p' "$log" | tr -d ,
    rm -f "$log"
}

with_environment=$(count env)
empty_environment=$(count env -i)
size=$(stat -c %s "$program")

printf 'program:                 %s (%s bytes)\n' "$program" "$size"
printf 'instructions, this env:  %s (%s variables)\n' "$with_environment" "$(env | wc -l)"
printf 'instructions, empty env: %s\n' "$empty_environment"
printf 'budget:                  %s\n' "$budget"

if [ "$with_environment" -gt "$budget" ]; then
    echo "over budget by $((with_environment - budget)) instructions" >&2
    exit 1
fi
echo "within budget by $((budget - with_environment)) instructions"
