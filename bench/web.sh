#!/usr/bin/env bash
# Holds the web page to its budget: its size, whole and gzipped (gzip -9), and
# how soon its first line is on screen (the median of 5 loads from disk in
# headless Chromium, from navigation start to the first frame that shows it).
#
#   bench/web.sh [--sizes-only] [bytes] [gzipped bytes] [milliseconds]
#                                      (defaults 200000, 64000 and 40)
#
# For scale, a C program that writes the same bytes with write() (floor.c) is
# built into the same page by the same build rule and measured beside it: the
# floor every such page pays. --sizes-only leaves the browser out (CI holds
# the sizes; the time depends on the machine).
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
cmake --build --preset web --target person_html person_floor_html >/dev/null
page=build/web/person.html
floor=build/web/src/web/floor.html

gzipped() { gzip -9 -n -c "$1" | wc -c; }
size=$(stat -c %s "$page")
packed=$(gzipped "$page")

first_line_ms() {
    /usr/bin/python3 - "$1" <<'EOF'
import pathlib, statistics, sys
sys.path.insert(0, "tests")
from page_test import private_browser
from selenium.webdriver.support.ui import WebDriverWait

page = sys.argv[1]
with private_browser("build/web") as browser:
    times = []
    for _ in range(6):
        browser.get("about:blank")
        browser.get(pathlib.Path(page).resolve().as_uri())
        times.append(WebDriverWait(browser, 20, poll_frequency=0.01).until(lambda b: b.execute_script(
            "var m = performance.getEntriesByName('person-first-line');"
            "return m.length ? m[0].startTime : null;")))
    # The first load pays for the browser's own start; the next five count.
    print(round(statistics.median(times[1:]), 1))
EOF
}

printf '%-28s %10s %10s %14s\n' "" bytes gzipped "first line ms"
if [ "$sizes_only" = yes ]; then
    program_ms=- floor_ms=-
else
    program_ms=$(first_line_ms "$page")
    floor_ms=$(first_line_ms "$floor")
fi
printf '%-28s %10s %10s %14s\n' "$page" "$size" "$packed" "$program_ms"
printf '%-28s %10s %10s %14s\n' "floor: C with write()" "$(stat -c %s "$floor")" \
    "$(gzipped "$floor")" "$floor_ms"
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
