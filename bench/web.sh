#!/usr/bin/env bash
# Holds the web page to its budget: its size, whole and gzipped (gzip -9), and
# how soon its first line is on screen beside the floor page's, a C program
# that writes the same bytes with write() (floor.c), built into the same page
# by the same build rule: the floor every such page pays.
#
#   bench/web.sh [--sizes-only] [bytes] [gzipped bytes] [ratio]
#                                      (defaults 200000, 68000 and 1.15)
#
# The first line: in one browser, a warm-up load of each page, then LOADS
# loads of each (default 11), interleaved (page, floor, page, floor, ...), so
# that both meet the same load of the machine; each load timed from
# navigation start to the first frame that shows the line in its font. The
# ratio of the medians is held in Chromium, the engine that measures paint;
# Firefox's and WebKitGTK's figures are printed beside it where they run.
# --sizes-only leaves the browsers out (CI holds the sizes; the times depend
# on the machine).
set -euo pipefail

sizes_only=no
if [ "${1:-}" = --sizes-only ]; then
    sizes_only=yes
    shift
fi
size_budget=${1:-200000}
gzip_budget=${2:-68000}
ratio_budget=${3:-1.15}
loads=${LOADS:-11}
cd "$(dirname "$0")/.."

cmake --preset web >/dev/null
cmake --build --preset web --target person_html person_floor_html >/dev/null
page=build/web/person.html
floor=build/web/src/web/floor.html

gzipped() { gzip -9 -n -c "$1" | wc -c; }
size=$(stat -c %s "$page")
packed=$(gzipped "$page")

printf '%-28s %10s %10s\n' "" bytes gzipped
printf '%-28s %10s %10s\n' "$page" "$size" "$packed"
printf '%-28s %10s %10s\n' "floor: C with write()" "$(stat -c %s "$floor")" "$(gzipped "$floor")"
printf '%-28s %10s %10s\n' budget "$size_budget" "$gzip_budget"

status=0
[ "$size" -le "$size_budget" ] || { echo "over the size budget by $((size - size_budget)) bytes" >&2; status=1; }
[ "$packed" -le "$gzip_budget" ] ||
    { echo "over the gzipped budget by $((packed - gzip_budget)) bytes" >&2; status=1; }

if [ "$sizes_only" = no ]; then
    echo
    echo "first line on screen, ms: medians of $loads loads each, interleaved, after a warm-up"
    /usr/bin/python3 - "$page" "$floor" "$loads" "$ratio_budget" <<'EOF' || status=1
import pathlib, statistics, sys
sys.path.insert(0, "tests")
from browsers import ENGINES, missing, private_browser, until

page, floor, loads, budget = sys.argv[1], sys.argv[2], int(sys.argv[3]), float(sys.argv[4])
# The measuring engine first; the others where they are installed.
print(f"{'engine':10} {'page':>8} {'floor':>8} {'ratio':>7}  budget")
held = True
for engine in ENGINES:
    if missing(engine):
        print(f"{engine:10} not installed here: {', '.join(missing(engine))}")
        continue
    with private_browser(engine, "build/web") as browser:
        def first_line(path):
            browser.open("about:blank")
            browser.open(pathlib.Path(path).resolve().as_uri())
            shown = until(lambda: browser.script(
                "var m = performance.getEntriesByName('person-first-line');"
                "return m.length ? m[0].startTime : null;"), 20)
            if shown is None:
                raise SystemExit(f"{engine}: {path} never showed its first line")
            return shown
        first_line(page), first_line(floor)
        times = {page: [], floor: []}
        for _ in range(loads):
            for path in (page, floor):
                times[path].append(first_line(path))
    ours, base = statistics.median(times[page]), statistics.median(times[floor])
    ratio = ours / base
    verdict = "(printed, not held)"
    if engine == "chromium":
        verdict = f"{budget:.2f}" + ("" if ratio <= budget else "  over")
        held = ratio <= budget
    print(f"{engine:10} {ours:8.1f} {base:8.1f} {ratio:7.2f}  {verdict}")
if not held:
    print(f"the first line takes more than {budget} times the floor's in Chromium", file=sys.stderr)
sys.exit(0 if held else 1)
EOF
fi
[ "$status" -eq 0 ] && echo "within budget"
exit "$status"
