#!/bin/sh
# `make demo`: prints the bundled sample label through CUPS's own filter chain
# (cupsfilter: pdftopdf, gstoraster, then dotforge) with the TSPL 203 dpi
# PPD, and keeps the printer stream in the build folder.
#
# Usage: sh tools/demo.sh [BUILD_DIR]
# Extra cupsfilter options can come from DEMO_OPTIONS, for example
#   DEMO_OPTIONS="-o Darkness=12 -o zeMediaTracking=BLine" make demo
set -e

BUILD=${1:-build}
ROOT=$(cd "$(dirname "$0")/.." && pwd)
case "$BUILD" in /*) ;; *) BUILD="$ROOT/$BUILD" ;; esac
FILTER="$BUILD/dotforge"
PPD="$BUILD/ppd/dotforge-tspl-203.ppd"
OUT="$BUILD/demo"

for p in cupsfilter cups-config gs; do
    if ! command -v "$p" >/dev/null 2>&1; then
        echo "demo: $p is not installed (Debian packages cups-filters, libcups2-dev, ghostscript)" >&2
        exit 1
    fi
done
[ -x "$FILTER" ] || { echo "demo: $FILTER is missing; run 'make build' first" >&2; exit 1; }
[ -f "$PPD" ] || { echo "demo: $PPD is missing (is ppdc from cups-ppdc installed?)" >&2; exit 1; }

# cupsfilter looks for filters in the ServerBin of the configuration it is
# given: a private one holding links to the system's filters and a copy of
# ours, so nothing is installed. As root, CUPS insists that the copy and its
# directory are root-owned and not writable by others.
rm -rf "$OUT/sb"
mkdir -p "$OUT"
SB_SYS=$(cups-config --serverbin)
install -d -m 755 "$OUT/sb" "$OUT/sb/filter"
ln -s "$SB_SYS"/filter/* "$OUT/sb/filter/"
rm -f "$OUT/sb/filter/dotforge"
install -m 755 "$FILTER" "$OUT/sb/filter/dotforge"
echo "ServerBin $OUT/sb" > "$OUT/cups-files.conf"

gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=pdfwrite -sOutputFile="$OUT/sample-label.pdf" \
    "$ROOT/tools/samples/label.ps"

STREAM="$OUT/sample-label.tspl"
echo "Printing $OUT/sample-label.pdf (100 x 150 mm label: text, barcode-like bars, grey gradient)"
echo "PPD:     $PPD"
printf 'Chain:   '
cupsfilter -c "$OUT/cups-files.conf" -p "$PPD" -m printer/dotforge -e --list-filters \
    "$OUT/sample-label.pdf" 2>/dev/null | tr '\n' ' '
echo
# shellcheck disable=SC2086
if ! cupsfilter -c "$OUT/cups-files.conf" -p "$PPD" -m printer/dotforge -e ${DEMO_OPTIONS:-} \
        "$OUT/sample-label.pdf" > "$STREAM" 2> "$OUT/cupsfilter.log"; then
    echo "demo: cupsfilter failed; its log:" >&2
    grep -v '^DEBUG' "$OUT/cupsfilter.log" >&2
    exit 1
fi

echo
echo "Status lines of the filter chain:"
grep -E '^(PAGE|INFO|WARNING|ERROR):' "$OUT/cupsfilter.log" | grep -v -e 'Color Manager' | sed 's/^/  /'
echo
echo "TSPL commands (first page):"
head -c 400 "$STREAM" | LC_ALL=C tr -d '\r' | LC_ALL=C sed -n '1,/^BITMAP/p' |
    LC_ALL=C sed 's/^\(BITMAP [0-9,]*\).*/\1 <bitmap data>/' | sed 's/^/  /'
echo
echo "Printer stream: $STREAM ($(wc -c < "$STREAM" | tr -d ' ') bytes)"
echo "Full cupsfilter log: $OUT/cupsfilter.log"
echo "To print it on a networked TSPL printer: nc -q1 PRINTER-IP 9100 < $STREAM"

# What the printer will print, as a picture.
PREVIEW="$BUILD/tools/dotforge-preview"
if [ -x "$PREVIEW" ]; then
    echo
    echo "Preview of the stream (dotforge-preview):"
    "$PREVIEW" -o "$OUT/sample-label" "$STREAM" | sed 's/^/  /' | tail -n 4
    echo "Picture of page 1: $OUT/sample-label-1.png"
fi
