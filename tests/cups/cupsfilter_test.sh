#!/bin/bash
# End to end through CUPS's own filter chain, without a scheduler: cupsfilter
# turns PDF and PNG documents into printer streams with every shipped PPD
# (pdftopdf + gstoraster or imagetoraster, then our filter), and the streams
# are decoded and checked: commands, sizes, and that the ink is where the
# document put it.
#
# Usage: cupsfilter_test.sh FILTER PPD_DIR
set -u
. "${BASH_SOURCE[0]%/*}/common.sh"

FILTER=${1:?filter}
PPDDIR=${2:?ppd dir}

require_root
require_programs cupsfilter cups-config ppdc gs python3
[ -x "$FILTER" ] || fail "filter $FILTER not built"
for p in tspl-203 tspl-300 escpos-58 escpos-80 cpcl-203 paperang-57 peripage-57; do
    [ -f "$PPDDIR/dotforge-$p.ppd" ] || fail "$PPDDIR/dotforge-$p.ppd not built (is ppdc installed?)"
done

make_workdir dotforge-cupsfilter
make_serverbin "$W/sb" "$FILTER"
echo "ServerBin $W/sb" > "$W/files.conf"
mkdir -p "$W/out"

# Documents whose page is the label or roll size, so nothing gets scaled.
make_doc "$W/l50x30.pdf" 50 30 1
make_doc "$W/l50x30.png" 50 30 1 203
make_doc "$W/l50x30-300.png" 50 30 1 300
make_doc "$W/l70x45.pdf" 70 45 1
make_doc "$W/l100x150.pdf" 100 150 1
make_doc "$W/l50x30x3.pdf" 50 30 3
make_doc "$W/r48x50.pdf" 48 50 1
make_doc "$W/r48x50.png" 48 50 1 203
make_doc "$W/r72x100.pdf" 72 100 1
make_doc "$W/sq30.png" 30 30 1 203
make_doc "$W/a4.pdf" 210 297 1
make_doc "$W/ramp.pdf" 50 30 1 203 ramp

FAILED=0
RUNS=0

# t NAME PPD DOC "CUPSFILTER OPTIONS" CHECK [CHECK ARGS...]
# Runs cupsfilter and then `dfstream.py CHECK OUTPUT CHECK-ARGS`.
t() {
    local name=$1 ppd=$2 doc=$3 opts=$4 check=$5
    shift 5
    local out="$W/out/$name.bin"
    RUNS=$((RUNS + 1))
    # shellcheck disable=SC2086
    if ! cupsfilter -c "$W/files.conf" -p "$ppd" -m printer/dotforge -e $opts "$W/$doc" \
            > "$out" 2> "$out.err"; then
        echo "FAIL $name: cupsfilter failed"
        grep -v '^DEBUG' "$out.err" | tail -n 25
        FAILED=$((FAILED + 1))
        return
    fi
    if grep -Eq 'runtime error|Sanitizer' "$out.err"; then
        echo "FAIL $name: the filter reported a sanitizer error"
        grep -E -A12 'runtime error|Sanitizer' "$out.err" | head -n 40
        FAILED=$((FAILED + 1))
        return
    fi
    if ! dfstream "$check" "$out" "$@" > "$out.check" 2>&1; then
        echo "FAIL $name ($doc, ${opts:-no options}):"
        sed 's/^/    /' "$out.check"
        FAILED=$((FAILED + 1))
        return
    fi
    echo "ok   $name"
}

# warns NAME LINE: run NAME's standard error has exactly this status line.
warns() {
    RUNS=$((RUNS + 1))
    if grep -Fxq "WARNING: $2" "$W/out/$1.bin.err"; then
        echo "ok   $1 warns: $2"
    else
        echo "FAIL $1: no line \"WARNING: $2\"; its warnings:"
        grep '^WARNING' "$W/out/$1.bin.err" | sed 's/^/    /'
        FAILED=$((FAILED + 1))
    fi
}

# no_warnings NAME: run NAME printed no WARNING line.
no_warnings() {
    RUNS=$((RUNS + 1))
    if grep -q '^WARNING' "$W/out/$1.bin.err"; then
        echo "FAIL $1: unexpected warnings:"
        grep '^WARNING' "$W/out/$1.bin.err" | sed 's/^/    /'
        FAILED=$((FAILED + 1))
    else
        echo "ok   $1 has no warnings"
    fi
}

P="$PPDDIR/dotforge"
INK='0,0,0.5,0.25'   # the bar: left half of the top quarter

say "TSPL, 203 dpi"
# 50 x 30 mm at 203 dpi is 400 x 240 dots; rows are sent 4-byte aligned (52 bytes).
t tspl203-pdf "$P-tspl-203.ppd" l50x30.pdf "-o PageSize=w142h85" \
    tspl --pages 1 --size-exact "50.05 mm,30.03 mm" --bitmap 52,240 --mode 1 \
    --ribbon OFF --gap "3 mm,0 mm" --bline none --offset "0 mm" --density none --speed none --ink "$INK"
t tspl203-options "$P-tspl-203.ppd" l50x30.pdf \
    "-o PageSize=w142h85 -o Darkness=12 -o zePrintRate=4 -o zeMediaTracking=Continuous -o MediaMethod=Ribbon -o FeedOffset=5" \
    tspl --pages 1 --size-exact "50.05 mm,30.03 mm" --ribbon ON --gap "0 mm,0 mm" --offset "5 mm" \
    --density 12 --speed 4 --ink "$INK"
t tspl203-bline "$P-tspl-203.ppd" l50x30.pdf "-o PageSize=w142h85 -o zeMediaTracking=BLine -o Darkness=0" \
    tspl --pages 1 --bline "0 mm,0 mm" --gap none --density 0 --ink "$INK"
t tspl203-png "$P-tspl-203.ppd" l50x30.png "-o PageSize=w142h85 -o zeMediaTracking=Gap -o Darkness=8" \
    tspl --pages 1 --size 50x30 --gap "3 mm,0 mm" --density 8 --ink "$INK"
t tspl203-compressed "$P-tspl-203.ppd" l50x30.pdf "-o PageSize=w142h85 -o ImageCompress=1" \
    tspl --pages 1 --mode 3 --size-exact "50.05 mm,30.03 mm" --ink "$INK"
t tspl203-rotate180 "$P-tspl-203.ppd" l50x30.pdf "-o PageSize=w142h85 -o Rotate=1" \
    tspl --pages 1 --size-exact "50.05 mm,30.03 mm" --ink 0.5,0.75,1,1
# A quarter turn counter-clockwise: the label turns portrait, the bar ends up
# along the left edge, in the lower half.
t tspl203-rotate90 "$P-tspl-203.ppd" l50x30.pdf "-o PageSize=w142h85 -o Rotate=2" \
    tspl --pages 1 --size-exact "30.03 mm,50.05 mm" --ink 0,0.5,0.25,1
# One step of vertical shift moves the content 8 mm down.
t tspl203-shift "$P-tspl-203.ppd" l50x30.pdf "-o PageSize=w142h85 -o AdjustVertical=1" \
    tspl --pages 1 --ink 0,0.2667,0.5,0.5167
t tspl203-threshold "$P-tspl-203.ppd" l50x30.pdf "-o PageSize=w142h85 -o ImageFilter=0 -o Threshold=128" \
    tspl --pages 1 --ink "$INK"
t tspl203-custom "$P-tspl-203.ppd" l70x45.pdf "-o PageSize=Custom.70x45mm" \
    tspl --pages 1 --size 70x45 --ink "$INK"
# No options at all: the PPD's defaults (100 x 150 mm, gap labels) apply.
t tspl203-defaults "$P-tspl-203.ppd" l100x150.pdf "" \
    tspl --pages 1 --size 100x150 --bitmap 100,1199 --gap "3 mm,0 mm" --density none --ink "$INK"
t tspl203-3pages "$P-tspl-203.ppd" l50x30x3.pdf "-o PageSize=w142h85" \
    tspl --pages 3 --size-exact "50.05 mm,30.03 mm" --ink "$INK"

say "TSPL, 300 dpi"
# 50 x 30 mm at 300 dpi is 591 x 354 dots (76 bytes per row).
t tspl300-pdf "$P-tspl-300.ppd" l50x30.pdf "-o PageSize=w142h85 -o Darkness=10" \
    tspl --dpi 300 --pages 1 --size-exact "50.04 mm,29.97 mm" --bitmap 76,354 --density 10 --ink "$INK"
t tspl300-png "$P-tspl-300.ppd" l50x30-300.png "-o PageSize=w142h85" \
    tspl --dpi 300 --pages 1 --size 50x30 --ink "$INK"

say "ESC/POS"
# The receipt page is 48 mm (384 dots) wide; blank space below the ink is trimmed by default.
t escpos58-pdf "$P-escpos-58.ppd" r48x50.pdf "-o PageSize=w136h142" \
    escpos --width-bytes 48 --drawer none --ink 0,0,0.5,1
t escpos58-png "$P-escpos-58.ppd" r48x50.png "-o PageSize=w136h142" \
    escpos --width-bytes 48 --ink 0,0,0.5,1
t escpos58-drawer "$P-escpos-58.ppd" r48x50.pdf "-o PageSize=w136h142 -o MoneyBox=BeforePrint" \
    escpos --width-bytes 48 --drawer before --ink 0,0,0.5,1
t escpos80-pdf "$P-escpos-80.ppd" r72x100.pdf "-o PageSize=w204h283" \
    escpos --width-bytes 72 --ink 0,0,0.5,1
t escpos80-keep "$P-escpos-80.ppd" r72x100.pdf "-o PageSize=w204h283 -o CropEdgeBottom=0" \
    escpos --width-bytes 72 --ink "$INK"

say "CPCL"
t cpcl-pdf "$P-cpcl-203.ppd" l50x30.pdf "-o PageSize=w142h85" \
    cpcl --width 400 --form --ink "$INK"
t cpcl-png "$P-cpcl-203.ppd" l50x30.png "-o PageSize=w142h85 -o zeMediaTracking=Continuous" \
    cpcl --ink "$INK"

say "Paperang"
# Every page starts with the start-printing packet.
t paperang-pdf "$P-paperang-57.ppd" r48x50.pdf "-o PageSize=w136h142" \
    prefix a50105000519030000571fe7a55a
t paperang-png "$P-paperang-57.ppd" r48x50.png "-o PageSize=w136h142" \
    prefix a50105000519030000571fe7a55a

say "PeriPage"
# Init, continuous media, reset, then (no speed or darkness) centre alignment.
t peripage-pdf "$P-peripage-57.ppd" r48x50.pdf "-o PageSize=w136h142" \
    prefix 10fffe0110ff1003011b40001b6101
t peripage-png "$P-peripage-57.ppd" r48x50.png "-o PageSize=w136h142 -o Darkness=3 -o zeMediaTracking=Gap" \
    prefix 10fffe0110ff1003021b400010ff1000031b6101

say "Images on labels"
# imagetoraster sends a 30 mm square picture as a 239 x 239 page; on gap and
# mark media it is centred on the 50 x 30 mm label.
t tspl203-png-small "$P-tspl-203.ppd" sq30.png "-o PageSize=w142h85" \
    tspl --pages 1 --size-exact "50.05 mm,30.03 mm" --bitmap 52,240 --ink 0.2,0,0.5,0.25
t tspl203-png-small-bline "$P-tspl-203.ppd" sq30.png "-o PageSize=w142h85 -o zeMediaTracking=BLine" \
    tspl --pages 1 --size-exact "50.05 mm,30.03 mm" --ink 0.2,0,0.5,0.25
t cpcl-png-small "$P-cpcl-203.ppd" sq30.png "-o PageSize=w142h85" \
    cpcl --width 400 --form --ink 0.2,0,0.5,0.25
# Continuous media keeps the picture's own size.
t tspl203-png-small-continuous "$P-tspl-203.ppd" sq30.png "-o PageSize=w142h85 -o zeMediaTracking=Continuous" \
    tspl --pages 1 --size-exact "29.90 mm,29.90 mm" --ink 0,0,0.5,0.25

say "Pages wider than the print head"
t escpos58-wide "$P-escpos-58.ppd" l50x30.pdf "-o PageSize=Custom.80x100mm" escpos --width-bytes 48
warns escpos58-wide "Page 1 is 639 dots wide, wider than the print head's 384: cut at the right."
# A quarter turn makes a 100 x 150 mm label 150 mm wide: cut to 832 dots.
t tspl203-wide "$P-tspl-203.ppd" l100x150.pdf "-o PageSize=w283h425 -o Rotate=3" \
    tspl --pages 1 --bitmap 104,799 --size-exact "104.10 mm,99.97 mm"
warns tspl203-wide "Page 1 is 1199 dots wide, wider than the print head's 832: cut at the right."
no_warnings tspl203-pdf

say "Default black and white method"
# On a grey ramp the methods differ: no options gives edge-keeping's bytes
# (11), not Burkes's (3); an explicit choice gives its own.
for m in "" 3 11; do
    t "ramp-method${m:+-$m}" "$P-tspl-203.ppd" ramp.pdf "-o PageSize=w142h85${m:+ -o ImageFilter=$m}" \
        tspl --pages 1 --size-exact "50.05 mm,30.03 mm"
done
same_bytes() {
    RUNS=$((RUNS + 1))
    if cmp -s "$W/out/$2.bin" "$W/out/$3.bin"; then
        [ "$1" = same ] && echo "ok   $2 = $3" && return
    else
        [ "$1" = other ] && echo "ok   $2 != $3" && return
    fi
    echo "FAIL $2 and $3 should be $1 bytes"
    FAILED=$((FAILED + 1))
}
same_bytes same ramp-method ramp-method-11
same_bytes other ramp-method ramp-method-3

say "Bad option values"
# Values that are not choices of the PPD (nor whole numbers in range) leave
# the PPD defaults, with one warning each.
t junk-job-options "$P-tspl-203.ppd" l50x30.pdf \
    "-o PageSize=w142h85 -o Darkness=banana -o zePrintRate=99999999999 -o Threshold=-5 -o ImageFilter=abc -o Rotate=99 -o FeedOffset=x -o zeMediaTracking=Nonsense -o AdjustHoriaontal=2147483647" \
    tspl --pages 1 --gap "3 mm,0 mm" --density none --speed none --offset "0 mm" --ink "$INK"
warns junk-job-options "Darkness=banana is not a value this printer accepts (Default or a whole number from 0 to 15); Default is used."
warns junk-job-options "Rotate=99 is not a value this printer accepts (0, 1, 2, 3); 0 is used."
warns junk-job-options "zeMediaTracking=Nonsense is not a value this printer accepts (Continuous, Gap, BLine); Gap is used."
t near-names "$P-tspl-203.ppd" l50x30.pdf "-o PageSize=w142h85 -o AdjustHorizontal=1 -o Dither=1" \
    tspl --pages 1 --ink "$INK"
warns near-names "Option AdjustHorizontal=1 is not one of this printer's; did you mean AdjustHoriaontal?"
warns near-names "Option Dither=1 is not one of this printer's; did you mean ImageFilter?"
# (print-color-mode is left out: libcups loses 16 bytes on it, which the
# sanitizer build reports; the in-process option tests cover it.)
t cups-options "$P-tspl-203.ppd" l50x30.pdf \
    "-o PageSize=w142h85 -o number-up=1 -o finishings=3 -o job-uuid=urn:uuid:1 -o document-name-supplied=l50x30.pdf -o time-at-creation=1 -o job-originating-host-name=localhost -o Resolution=203dpi -o ColorModel=Gray" \
    tspl --pages 1 --ink "$INK"
no_warnings cups-options
# Whole numbers between the named choices act as named choices would.
t tspl203-numbers "$P-tspl-203.ppd" l50x30.pdf "-o PageSize=w142h85 -o zePrintRate=7 -o FeedOffset=7 -o Darkness=9" \
    tspl --pages 1 --speed 7 --offset "7 mm" --density 9 --ink "$INK"
no_warnings tspl203-numbers

say "Cutting and label modes"
# 10 mm of feed (79 dots) brings the print past the cutter, then the cut.
t escpos58-cut "$P-escpos-58.ppd" r48x50.pdf "-o PageSize=w136h142 -o CutMedia=EveryPage" \
    escpos --width-bytes 48 --tail 1b4a4f1d5631 --ink 0,0,0.5,1
t escpos58-cut-full "$P-escpos-58.ppd" r48x50.pdf "-o PageSize=w136h142 -o CutMedia=EveryPage -o CutType=Full -o MoneyBox=AfterPrint" \
    escpos --width-bytes 48 --tail 1b4a4f1d56301b70008080
t escpos58-cut-job "$P-escpos-58.ppd" r48x50.pdf "-o PageSize=w136h142 -o CutMedia=EndOfJob" \
    escpos --width-bytes 48 --tail 1b4a4f1d5631
t escpos58-no-cut "$P-escpos-58.ppd" r48x50.pdf "-o PageSize=w136h142" escpos --width-bytes 48 --tail 1b4a4f
t tspl203-peel "$P-tspl-203.ppd" l50x30x3.pdf "-o PageSize=w142h85 -o LabelMode=PeelOff" \
    tspl --pages 3 --label-mode "SET PEEL ON;SET CUTTER OFF" --ink "$INK"
t tspl203-tear "$P-tspl-203.ppd" l50x30.pdf "-o PageSize=w142h85 -o LabelMode=TearOff" \
    tspl --pages 1 --label-mode "SET TEAR ON;SET PEEL OFF;SET CUTTER OFF"
t tspl203-cut-batch "$P-tspl-203.ppd" l50x30.pdf "-o PageSize=w142h85 -o LabelMode=CutEndOfJob" \
    tspl --pages 1 --label-mode "SET PEEL OFF;SET CUTTER BATCH"
t tspl203-label-default "$P-tspl-203.ppd" l50x30.pdf "-o PageSize=w142h85" tspl --pages 1 --label-mode none
no_warnings escpos58-cut

say "Receipt defaults"
# An A4 page on a receipt roll starts at its first line and ends after its
# last: only the bar (the left half of the page's top quarter) is sent.
t escpos58-a4 "$P-escpos-58.ppd" a4.pdf "" escpos --width-bytes 48 --ink 0,0,0.5,1
t escpos80-a4 "$P-escpos-80.ppd" a4.pdf "" escpos --width-bytes 72 --ink 0,0,0.5,1

# A PPD whose defaults are junk choices reaches the filter's settings rules
# unfiltered: non-numbers, numbers at the ends of the int range, unknown words.
junk_ppd() {
    local src=$1 dst=$2
    python3 - "$src" "$dst" <<'EOF'
import re, sys
text = open(sys.argv[1], encoding="latin-1").read()
junk = {"Darkness": "banana", "zePrintRate": "99999999999", "ImageFilter": "-7", "Threshold": "999",
        "Brightness": "-2147483648", "Contrast": "2147483647", "Rotate": "7",
        "AdjustHoriaontal": "536870911", "AdjustVertical": "-2147483648", "FeedOffset": "2147483647",
        "zeMediaTracking": "Sideways", "MediaMethod": "Banana", "ImageCompress": "12abc",
        "CropEdgeTop": "-2147483648", "CropEdgeBottom": "2147483647", "CropEdgeLeft": "x",
        "CropEdgeRight": "-9", "MoneyBox": "Sometimes", "BeginPrintSound": "Loud", "EndPrintSound": ""}
for key, value in junk.items():
    if not value:
        text = re.sub(r"^\*Default%s: .*$" % key, "*Default%s: NoSuchChoice" % key, text, flags=re.M)
        continue
    text = re.sub(r"^\*Default%s: .*$" % key,
                  '*Default%s: %s\n*%s %s/Junk: ""' % (key, value, key, value), text, flags=re.M)
text = re.sub(r'^\*ImageMaxLength: .*$', '*ImageMaxLength: "-5"', text, flags=re.M)
text = re.sub(r'^\*DensityCommand: .*$', '*DensityCommand: "many"', text, flags=re.M)
open(sys.argv[2], "w", encoding="latin-1").write(text)
EOF
}
for fam in tspl-203 escpos-58 cpcl-203 paperang-57 peripage-57; do
    junk_ppd "$P-$fam.ppd" "$W/junk-$fam.ppd"
done
cp "$W/l50x30.pdf" "$W/junk.pdf"
t junk-ppd-tspl "$W/junk-tspl-203.ppd" junk.pdf "-o PageSize=w142h85" tspl --pages 1 --ribbon ON --density 0
t junk-ppd-escpos "$W/junk-escpos-58.ppd" r48x50.pdf "-o PageSize=w136h142" prefix 1b4000
t junk-ppd-cpcl "$W/junk-cpcl-203.ppd" junk.pdf "-o PageSize=w142h85" prefix 2120
t junk-ppd-paperang "$W/junk-paperang-57.ppd" r48x50.pdf "-o PageSize=w136h142" prefix a501
t junk-ppd-peripage "$W/junk-peripage-57.ppd" r48x50.pdf "-o PageSize=w136h142" prefix 10fffe01

echo "$RUNS runs, $FAILED failed"
[ "$FAILED" = 0 ] || exit 1
exit 0
