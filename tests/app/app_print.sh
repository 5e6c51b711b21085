#!/bin/bash
# Printing through dotforge-app: one printer per driver on a fake network
# printer. A PWG raster job (written by libcups, 8-bit sgray) sent with
# `dotforge-app submit` at the printer's defaults, and one sent with ipptool
# with a set of IPP options, must reach the printer as exactly the bytes the
# filter writes for the same raster with the matching PPD and options.
# Niimbot printers answer back: theirs is a stand-in that answers
# (pocketfake.py listen), and the frames it gets, less the queries only a
# two-way sender adds, must be the filter's.
#
# Usage: app_print.sh APP FILTER PPD_DIR PWGMAKE
set -u
. "${BASH_SOURCE[0]%/*}/../cups/common.sh"
. "${BASH_SOURCE[0]%/*}/app_common.sh"

app_setup "$@" dotforge-app-print
NETPORT=$(dfstream freeport)
start_printer "$NETPORT" "$W/net"
NIIMPORT=$(dfstream freeport)
mkdir -p "$W/niim"
python3 "${BASH_SOURCE[0]%/*}/pocketfake.py" listen "$NIIMPORT" "$W/niim" > "$W/niim/log" 2>&1 &
LISTENER_PIDS+=($!)
for i in $(seq 100); do [ -e "$W/niim/ready" ] && break; sleep 0.05; done
[ -e "$W/niim/ready" ] || fail "the Niimbot stand-in did not start: $(cat "$W/niim/log")"
app_start

# Only the loopback address is served unless listen-hostname says otherwise.
if command -v ss >/dev/null 2>&1; then
    binds=$(ss -Hltn "sport = :$PORT" | awk '{print $4}' | sort -u | tr '\n' ' ')
    case "$binds" in
        *0.0.0.0:* | *"[::]:"* | *"*:"*) fail "the server listens on every address: $binds" ;;
    esac
    echo "ok   listens on $binds only"
fi

FAILED=0
CONN=0
NCONN=0
INK='0,0,0.5,0.25'

# check NAME PRINTER PPD-MODEL PWG PPD-OPTIONS: the next connection against the filter.
check() {
    local name=$1 id=$2 state
    case "$4" in niimbot-*)
        NCONN=$((NCONN + 1))
        wait_conn "$W/niim" "$NCONN" || { echo "FAIL $name: no job reached the printer"; FAILED=$((FAILED + 1)); return; }
        expect_filter "$4" "$6" "$5" "$W/expect/$name.bin"
        python3 "${BASH_SOURCE[0]%/*}/pocketfake.py" frames "$W/niim/conn-$NCONN.bin" > "$W/niim/got-$name.txt"
        python3 "${BASH_SOURCE[0]%/*}/pocketfake.py" frames "$W/expect/$name.bin" > "$W/niim/want-$name.txt"
        if cmp -s "$W/niim/got-$name.txt" "$W/niim/want-$name.txt"; then
            echo "ok   $name ($(wc -l < "$W/niim/got-$name.txt") frames as the filter's)"
        else
            echo "FAIL $name: the frames differ from the filter's"
            diff "$W/niim/got-$name.txt" "$W/niim/want-$name.txt" | head -n 4
            FAILED=$((FAILED + 1))
        fi
        state=$(wait_job "$3" "$id")
        [ "$state" = completed ] || { echo "FAIL $name: job ended $state"; FAILED=$((FAILED + 1)); }
        return ;;
    esac
    CONN=$((CONN + 1))
    if ! wait_conn "$W/net" "$CONN"; then
        echo "FAIL $name: no connection reached the printer"
        tail -n 20 "$W/app.log"
        FAILED=$((FAILED + 1))
        return
    fi
    expect_filter "$4" "$6" "$5" "$W/expect/$name.bin"
    same_bytes "$name" "$W/net/conn-$CONN.bin" "$W/expect/$name.bin" || FAILED=$((FAILED + 1))
    state=$(wait_job "$3" "$id")
    [ "$state" = completed ] || { echo "FAIL $name: job ended $state"; FAILED=$((FAILED + 1)); }
}

# printer DRIVER WIDTH HEIGHT DPI MEDIA
# name, size in dots, the PWG media for it (so gap media get no padding)
while read -r drv w h dpi media; do
    port=$NETPORT
    case "$drv" in niimbot-*) port=$NIIMPORT ;; esac
    "$APP" add -d "$drv" -m "$drv" -v "socket://127.0.0.1:$port" > "$W/add-$drv.txt" 2>&1 ||
        { cat "$W/add-$drv.txt"; fail "could not add printer $drv"; }
    load_medium "$drv" "$media"
    "$PWGMAKE" "$W/docs/$drv.pwg" "$w" "$h" "$dpi" 2 || fail "pwgmake"
    echo "$media" > "$W/docs/$drv.media"
done <<'EOT'
tspl-203 400 240 203 om_label-50x30_50x30mm
tspl-300 591 354 300 om_label-50x30_50x30mm
escpos-58 384 400 203 om_roll-58-50_48x50mm
escpos-80 576 800 203 om_roll-80-100_72x100mm
cpcl-203 400 240 203 om_label-50x30_50x30mm
paperang-57 384 400 203 om_roll-58-50_48x50mm
peripage-57 384 400 203 om_roll-58-50_48x50mm
niimbot-b1 400 240 203 om_label-50x30_50x30mm
niimbot-d11 320 96 203 om_label-40x12_40x12mm
cat-57 384 400 203 om_roll-58-50_48x50mm
EOT

say "Defaults, through dotforge-app submit"
for drv in $(app_drivers); do
    out=$("$APP" submit -d "$drv" -o media="$(cat "$W/docs/$drv.media")" "$W/docs/$drv.pwg" 2>&1)
    id=${out##*-}
    check "$drv-defaults" "$id" "$drv" "$drv" "$W/docs/$drv.pwg" ""
done

say "IPP options, through ipptool"
# driver | IPP job attributes (ipptool ATTR lines, ';' between) | the PPD options they stand for
while IFS='|' read -r drv attrs ppdopts; do
    media=$(cat "$W/docs/$drv.media")
    lines=$(echo "ATTR keyword media $media;$attrs" | tr ';' '\n')
    id=$(ipp_job "$drv" "$W/docs/$drv.pwg" image/pwg-raster "$lines")
    check "$drv-options" "$id" "$drv" "$drv" "$W/docs/$drv.pwg" "$ppdopts"
done <<'EOT'
tspl-203|ATTR keyword print-color-mode bi-level;ATTR integer dotforge-threshold 128;ATTR integer print-darkness 23;ATTR integer print-speed 10160;ATTR keyword dotforge-rotation half-turn;ATTR keyword dotforge-print-method ribbon|ImageFilter=0 Threshold=128 Darkness=11 zePrintRate=4 Rotate=1 MediaMethod=Ribbon
tspl-300|ATTR keyword dotforge-dither-method stucki;ATTR integer dotforge-brightness -40;ATTR integer dotforge-contrast 25;ATTR keyword dotforge-compression on;ATTR integer dotforge-shift-horizontal 1|ImageFilter=4 Brightness=-40 Contrast=25 ImageCompress=1 AdjustHoriaontal=1
escpos-58|ATTR keyword dotforge-cash-drawer after-print;ATTR integer dotforge-feed-offset 20;ATTR integer dotforge-crop-bottom 0;ATTR keyword dotforge-dither-method floyd-steinberg|MoneyBox=AfterPrint FeedOffset=20 CropEdgeBottom=0 ImageFilter=1
escpos-58|ATTR keyword dotforge-dither-method threshold;ATTR integer dotforge-threshold 140;ATTR integer dotforge-feed-offset 33|ImageFilter=0 Threshold=140 FeedOffset=33
escpos-80|ATTR keyword print-content-optimize text;ATTR integer dotforge-crop-left -1;ATTR integer dotforge-crop-right -1;ATTR integer dotforge-shift-vertical -1|ImageFilter=0 CropEdgeLeft=-1 CropEdgeRight=-1 AdjustVertical=-1
cpcl-203|ATTR keyword dotforge-dither-method bayer-8x8;ATTR keyword dotforge-rotation quarter-turn-cw|ImageFilter=9 Rotate=3
paperang-57|ATTR keyword print-content-optimize photo;ATTR keyword dotforge-dither-method sierra;ATTR integer dotforge-crop-top -1|ImageFilter=6 CropEdgeTop=-1
tspl-203|ATTR keyword print-content-optimize photo|ImageFilter=3
tspl-203|ATTR keyword dotforge-dither-method edge-keeping|ImageFilter=11
peripage-57|ATTR integer print-darkness 30;ATTR integer print-speed 7620;ATTR keyword dotforge-sound-after every-document;ATTR keyword dotforge-sound-before every-page;ATTR keyword dotforge-compression on|Darkness=4 zePrintRate=3 EndPrintSound=EveryDoc BeginPrintSound=EveryPage ImageCompress=1
niimbot-b1|ATTR integer print-darkness 100;ATTR keyword dotforge-rotation half-turn|Darkness=5 Rotate=1
niimbot-d11|ATTR integer print-darkness -50|Darkness=1
cat-57|ATTR integer print-darkness 25;ATTR integer dotforge-feed-offset 5|Darkness=4 FeedOffset=5
EOT

say "Apple raster"
"$PWGMAKE" "$W/docs/apple.urf" 400 240 203 2 || fail "pwgmake urf"
id=$(ipp_job tspl-203 "$W/docs/apple.urf" image/urf "ATTR keyword media om_label-50x30_50x30mm")
check tspl-203-urf "$id" tspl-203 tspl-203 "$W/docs/apple.urf" ""

say "Media tracking and type from media-col"
col='ATTR collection media-col { MEMBER collection media-size { MEMBER integer x-dimension 5000 MEMBER integer y-dimension 3000 } MEMBER keyword media-tracking mark }'
id=$(ipp_job tspl-203 "$W/docs/tspl-203.pwg" image/pwg-raster "$col")
check tspl-203-mark "$id" tspl-203 tspl-203 "$W/docs/tspl-203.pwg" "zeMediaTracking=BLine"
col='ATTR collection media-col { MEMBER collection media-size { MEMBER integer x-dimension 4800 MEMBER integer y-dimension 5000 } MEMBER keyword media-type recording MEMBER keyword media-tracking continuous }'
id=$(ipp_job peripage-57 "$W/docs/peripage-57.pwg" image/pwg-raster "$col")
check peripage-recording "$id" peripage-57 peripage-57 "$W/docs/peripage-57.pwg" "zeMediaTracking=Recording"

say "Printer defaults set with dotforge-app modify"
"$APP" modify -d tspl-203 -o printer-darkness-configured=80 -o dotforge-dither-method-default=jarvis-judice-ninke \
    -o dotforge-feed-offset-default=10 > "$W/modify.txt" 2>&1 || { cat "$W/modify.txt"; FAILED=$((FAILED + 1)); }
out=$("$APP" submit -d tspl-203 -o media=om_label-50x30_50x30mm "$W/docs/tspl-203.pwg" 2>&1)
check tspl-203-modified "${out##*-}" tspl-203 tspl-203 "$W/docs/tspl-203.pwg" "Darkness=12 ImageFilter=5 FeedOffset=10"

say "Three printers printing at the same time"
# Each on a fake printer of its own; the jobs' state is their own, so each
# still gets exactly the filter's bytes.
for drv in tspl-300 escpos-80 peripage-57; do
    port=$(dfstream freeport)
    start_printer "$port" "$W/par-$drv"
    "$APP" add -d "par-$drv" -m "$drv" -v "socket://127.0.0.1:$port" >/dev/null || fail "add par-$drv"
    load_medium "par-$drv" "$(cat "$W/docs/$drv.media")"
    "$PWGMAKE" "$W/docs/par-$drv.pwg" $(case $drv in tspl-300) echo 591 354 300 ;; escpos-80) echo 576 800 203 ;;
        *) echo 384 400 203 ;; esac) 6 || fail pwgmake
    expect_filter "$drv" "" "$W/docs/par-$drv.pwg" "$W/expect/par-$drv.bin"
done
submits=()
for drv in tspl-300 escpos-80 peripage-57; do
    "$APP" submit -d "par-$drv" -o media="$(cat "$W/docs/$drv.media")" "$W/docs/par-$drv.pwg" >/dev/null 2>&1 &
    submits+=($!)
done
for drv in tspl-300 escpos-80 peripage-57; do
    if wait_conn "$W/par-$drv" 1; then
        same_bytes "par-$drv" "$W/par-$drv/conn-1.bin" "$W/expect/par-$drv.bin" || FAILED=$((FAILED + 1))
    else
        echo "FAIL par-$drv: nothing reached the printer"
        FAILED=$((FAILED + 1))
    fi
done
wait "${submits[@]}"

say "Raw pass-through"
printf 'SIZE 50 mm,30 mm\r\nCLS\r\nPRINT 1\r\n' > "$W/docs/raw.tspl"
id=$(ipp_job tspl-203 "$W/docs/raw.tspl" application/vnd.dotforge-tspl)
CONN=$((CONN + 1))
if wait_conn "$W/net" "$CONN" && cmp -s "$W/net/conn-$CONN.bin" "$W/docs/raw.tspl"; then
    echo "ok   raw TSPL reaches the printer unchanged"
else
    echo "FAIL raw TSPL"
    FAILED=$((FAILED + 1))
fi

app_stop
app_clean || FAILED=$((FAILED + 1))
echo "$FAILED failed"
[ "$FAILED" = 0 ]
