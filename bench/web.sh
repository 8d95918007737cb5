#!/usr/bin/env bash
# Holds the web page to its budget: its size, whole and gzipped (gzip -9), and
# how soon its first line is on screen (the median of 5 loads from disk in
# headless Chromium, from navigation start to the first frame that shows it).
#
#   bench/web.sh [--sizes-only] [bytes] [gzipped bytes] [milliseconds]
#                                      (defaults 200000, 64000 and 40)
#
# For scale, a C program that writes the same bytes with write() is built the
# same way (the same flags, platform layer, page and font) and measured
# beside it: the floor every such page pays. --sizes-only leaves the browser
# out (CI holds the sizes; the time depends on the machine).
set -euo pipefail

sizes_only=no
if [ "${1:-}" = --sizes-only ]; then
    sizes_only=yes
    shift
fi
size_budget=${1:-200000}
gzip_budget=${2:-64000}
time_budget=${3:-40}
cd "$(dirname "$0")/.."

cmake --preset web >/dev/null
cmake --build --preset web --target person_html person_core >/dev/null
page=build/web/person.html

scratch=$(mktemp -d build/web/bench.XXXXXX)
trap 'rm -rf "$scratch"' EXIT

# The floor, through the same link options and page as the program's.
printf '%s\n' '#include <unistd.h>' \
    'static const char lines[] = "Person\xB5\xC4\xC4\xAC\xC8\xCF\xB9\xB9\xD4\xEC\xBA\xAF\xCA\xFD\xB5\xF7\xD3\xC3\n"' \
    '    "Person\xB5\xC4\xCE\xF6\xB9\xB9\xBA\xAF\xCA\xFD\xB5\xF7\xD3\xC3\n";' \
    'int main(void) { return write(1, lines, sizeof lines - 1) < 0; }' >"$scratch/floor.c"
NODE_PATH=/usr/share/nodejs${NODE_PATH:+:$NODE_PATH} emcc -Oz "$scratch/floor.c" \
    build/web/src/libperson_core.a -Wl,--undefined=__wasi_fd_write \
    -sASYNCIFY -sASYNCIFY_IGNORE_INDIRECT=1 -sFILESYSTEM=0 -sMALLOC=emmalloc \
    -sDYNAMIC_EXECUTION=0 -sEXPORTED_FUNCTIONS=_main -sEXPORTED_RUNTIME_METHODS=ccall \
    -sENVIRONMENT=web -sMODULARIZE=1 -sEXPORT_NAME=createPerson \
    "-sINCOMING_MODULE_JS_API=[noInitialRun,instantiateWasm,onAbort]" \
    -o "$scratch/floor.js"
/usr/bin/python3 cmake/web-page.py src/web/person.html "$scratch/floor.js" "$scratch/floor.wasm" \
    build/web/src/web/person-cjk.woff2 "$scratch/floor.html"

gzipped() { gzip -9 -n -c "$1" | wc -c; }
size=$(stat -c %s "$page")
packed=$(gzipped "$page")

first_line_ms() {
    /usr/bin/python3 - "$1" "$scratch" <<'EOF'
import pathlib, statistics, sys, tempfile
sys.path.insert(0, "tests")
from page_test import start_browser
from selenium.webdriver.support.ui import WebDriverWait

page, scratch = sys.argv[1:]
browser = start_browser(tempfile.mkdtemp(prefix="chromium-profile-", dir=scratch))
try:
    times = []
    for _ in range(6):
        browser.get("about:blank")
        browser.get(pathlib.Path(page).resolve().as_uri())
        times.append(WebDriverWait(browser, 20, poll_frequency=0.01).until(lambda b: b.execute_script(
            "var m = performance.getEntriesByName('person-first-line');"
            "return m.length ? m[0].startTime : null;")))
    # The first load pays for the browser's own start; the next five count.
    print(round(statistics.median(times[1:]), 1))
finally:
    browser.quit()
EOF
}

printf '%-28s %10s %10s %14s\n' "" bytes gzipped "first line ms"
if [ "$sizes_only" = yes ]; then
    program_ms=- floor_ms=-
else
    program_ms=$(first_line_ms "$page")
    floor_ms=$(first_line_ms "$scratch/floor.html")
fi
printf '%-28s %10s %10s %14s\n' "$page" "$size" "$packed" "$program_ms"
printf '%-28s %10s %10s %14s\n' "floor: C with write()" "$(stat -c %s "$scratch/floor.html")" \
    "$(gzipped "$scratch/floor.html")" "$floor_ms"
printf '%-28s %10s %10s %14s\n' budget "$size_budget" "$gzip_budget" "$time_budget"

status=0
[ "$size" -le "$size_budget" ] || { echo "over the size budget by $((size - size_budget)) bytes" >&2; status=1; }
[ "$packed" -le "$gzip_budget" ] ||
    { echo "over the gzipped budget by $((packed - gzip_budget)) bytes" >&2; status=1; }
if [ "$sizes_only" = no ] && ! awk -v t="$program_ms" -v b="$time_budget" 'BEGIN { exit !(t <= b) }'; then
    echo "the first line takes longer than $time_budget ms" >&2
    status=1
fi
[ "$status" -eq 0 ] && echo "within budget"
exit "$status"
