#!/bin/bash
# `make bench` end to end, as a smoke test: bench/bench.py --quick (one run of
# each job, a few labels, short receipts, quality.py on a small subset) on this
# build, its results to a scratch file. It checks that every table was written,
# never a timing (benchmarks are never timed tests); and that a full run stops
# before its first job, naming the package, when a program it needs is missing.
#
# Usage: bench_smoke.sh SOURCE_DIR BUILD_DIR
set -u
. "${BASH_SOURCE[0]%/*}/common.sh"

SRC=${1:?source dir}
BUILD=${2:?build dir}
# The interpreter bench.py runs quality.py with: Debian's, which has numpy and PIL.
PY=/usr/bin/python3

# shellcheck disable=SC2034 # read by require_programs (common.sh)
REQUIRE_PACKAGES="cups cups-ppdc ghostscript libcups2-dev netpbm time zbar-tools qrencode barcode"
require_programs cupsfilter ppdc gs cups-config pamditherbw zbarimg qrencode barcode "$PY" /usr/bin/time
"$PY" -c 'import numpy, PIL' 2>/dev/null || skip "$PY has no numpy or PIL (Debian packages: python3-numpy python3-pil)"
for f in dotforge ppd/dotforge-tspl-203.ppd tools/dotforge-preview; do
    [ -e "$BUILD/$f" ] || fail "$BUILD/$f not built"
done

make_workdir dotforge-bench
RESULTS_SUM=$(md5sum < "$SRC/bench/RESULTS.md")
FAILED=0
RUNS=0

# bench NAME "PROGRAMS TO HIDE" BENCH-OPTIONS...: bench.py on this build with
# those programs missing from PATH; its output in $W/NAME.log, results in $W/NAME.md.
bench() {
    local name=$1 hide=$2
    shift 2
    # shellcheck disable=SC2086
    PATH=$(path_without "$W/bin-$name" $hide) "$PY" "$SRC/bench/bench.py" "$BUILD" --work "$W/work-$name" \
        --out "$W/$name.md" "$@" > "$W/$name.log" 2>&1
}

# t NAME OK: the run NAME's outcome was OK; shows its log when not.
t() {
    RUNS=$((RUNS + 1))
    if [ "$2" = 1 ]; then
        echo "ok   $1"
    else
        echo "FAIL $1"
        sed 's/^/    /' "$W/${1%%:*}.log" | tail -n 30
        FAILED=$((FAILED + 1))
    fi
}
has() { grep -Fq -- "$2" "$W/$1"; }

# The quick run, without ImageMagick and tesseract (which `make test` does not
# install): it leaves out their parts with a note and writes every table.
say "bench.py --quick"
bench quick "convert tesseract" --quick
rc=$?
t "quick: runs to the end" "$([ $rc = 0 ] && echo 1)"
t "quick: notes the missing ImageMagick" "$(has quick.log 'convert is not installed (imagemagick)' && echo 1)"
missing=""
for row in "| 3 labels, ImageFilter=0 threshold |" "| 3 labels, ImageFilter=11 edge-keeping (default) |" \
           "| 3 labels, 1-bit input |" "| one label alone |" \
           "| 3 grey-rich pages, edge-keeping (11) against Burkes (3) |" \
           "| ESC/POS 80 mm |" "| CPCL 203 dpi |" "| Paperang 57 mm |" "| PeriPage 57 mm |" "| 1000 |" "| 4000 |" \
           "| netpbm pamditherbw -fs |" "## Quality" "| 0 threshold |" "| 3 Burkes |" "| 11 edge-keeping (default) |" \
           "Edge-keeping against threshold: " "Its flat-grey structure: "; do
    has quick.md "$row" || missing="$missing
    $row"
done
[ -z "$missing" ] || echo "    $W/quick.md lacks:$missing"
t "quick: results hold the speed, family, receipt, other-program and quality tables" "$([ -z "$missing" ] && echo 1)"
t "quick: no ImageMagick row" "$(has quick.md 'ImageMagick' || echo 1)"
t "quick: says it is no measurement" "$(has quick.md 'no figure here is a measurement' && echo 1)"
t "quick: bench/RESULTS.md untouched" "$([ "$(md5sum < "$SRC/bench/RESULTS.md")" = "$RESULTS_SUM" ] && echo 1)"

# A full run with a program missing stops at once, names it with its package,
# and writes no results.
while read -r name hide want; do
    say "bench.py without $hide"
    bench "$name" "$hide" --runs 1
    rc=$?
    t "$name: fails" "$([ $rc != 0 ] && echo 1)"
    t "$name: names $want" "$(has "$name.log" "$want" && echo 1)"
    t "$name: writes no results" "$([ ! -e "$W/$name.md" ] && echo 1)"
done <<'EOF'
no-netpbm pamditherbw pamditherbw (netpbm)
no-imagemagick convert convert (imagemagick)
no-tesseract tesseract tesseract (tesseract-ocr)
no-ppdc ppdc ppdc (cups-ppdc)
EOF

echo "$((RUNS - FAILED))/$RUNS passed"
[ "$FAILED" = 0 ]
