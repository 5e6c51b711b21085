#!/bin/bash
# Driverless clients print on the loaded label. Each client reads the
# printer's attributes and picks a size and a format as it does:
#   - Android's print service offers only the sizes of its own table that the
#     printer lists (Letter or A4 when none), the user takes the one nearest
#     the label's shape, and it sends PDF when the printer takes it;
#   - Windows' IPP class driver maps the printer's sizes onto its own list,
#     takes the printer's default when it maps, Letter otherwise, and sends
#     PWG raster at the printer's resolution;
#   - iOS offers the printer's own sizes, takes its default and sends Apple
#     raster.
# A framed page of that size goes to printers with 50 x 30 mm labels,
# 100 x 150 mm labels and a 58 mm roll loaded; decoded with dotforge-preview,
# the printer's bytes must be one page of the loaded label's size (on the
# roll: its width) with the whole frame on it, fitted, centred and turned
# when that fits better. Then the hold rule: a mismatched job waits with
# media-needed until its medium is loaded, then prints at its size.
#
# Usage: app_clients.sh APP FILTER PPD_DIR PWGMAKE
set -u
. "${BASH_SOURCE[0]%/*}/../cups/common.sh"
. "${BASH_SOURCE[0]%/*}/app_common.sh"

require_programs gs
app_setup "$@" dotforge-app-clients
PREVIEW=$(dirname "$FILTER")/tools/dotforge-preview
[ -x "$PREVIEW" ] || skip "dotforge-preview not built"
NETPORT=$(dfstream freeport)
start_printer "$NETPORT" "$W/net"
app_start
# printer | driver | loaded medium
while read -r p drv media; do
    "$APP" add -d "$p" -m "$drv" -v "socket://127.0.0.1:$NETPORT" > /dev/null || fail "add $p"
    load_medium "$p" "$media"
done <<'EOT'
l50 tspl-203 om_label-50x30_50x30mm
l100 tspl-203 om_label-100x150_100x150mm
r58 escpos-58 om_roll-58-200_48x200mm
EOT

FAILED=0
CONN=0
bad() { echo "FAIL $*"; FAILED=$((FAILED + 1)); }

# pick CLIENT PRINTER: "MEDIA FORMAT WIDTHxHEIGHT(mm)" as the client picks them.
pick() {
    printer_info "$2" media-supported,media-default,document-format-supported,media-ready |
        python3 -c '
import csv, re, sys
client = sys.argv[1]
supported, default, formats, ready = next(csv.reader(sys.stdin))
def size(name):
    m = re.search(r"_([\d.]+)x([\d.]+)(mm|in)$", name)
    k = 25.4 if m and m.group(3) == "in" else 1
    return (float(m.group(1)) * k, float(m.group(2)) * k) if m else None
ANDROID = [(215.9, 279.4), (215.9, 355.6), (279.4, 431.8), (127, 177.8), (297, 420), (210, 297), (148, 210),
           (250, 353), (176, 250), (203.2, 254), (101.6, 152.4), (100, 148), (89, 119), (54, 86), (88.9, 127),
           (52, 74), (101.6, 101.6), (88.9, 88.9)]
WINDOWS = [(215.9, 279.4), (210, 297), (148, 210), (105, 148), (101.6, 152.4), (76.2, 127), (54, 86),
           (215.9, 355.6), (110, 220), (104.8, 241.3), (162, 229), (114, 162)]
names = [n for n in supported.split(",") if size(n) and not n.startswith("custom_")]
known = lambda n, table: any(abs(size(n)[0] - w) <= 1 and abs(size(n)[1] - h) <= 1 for w, h in table)
label = size(ready)
shape = lambda n: abs(max(size(n)) / min(size(n)) - max(label) / min(label))
if client == "android":
    offered = [n for n in names if known(n, ANDROID)]
    media = default if default in offered else min(offered, key=shape) if offered else "na_letter_8.5x11in"
    fmt = "application/pdf" if "application/pdf" in formats.split(",") else "image/pwg-raster"
elif client == "windows":
    offered = [n for n in names if known(n, WINDOWS)]
    media = default if default in offered else "na_letter_8.5x11in"
    fmt = "image/pwg-raster"
else:
    media, fmt = default, "image/urf"
w, h = size(media)
print(media, fmt, "%gx%g" % (w, h))
' "$1"
}

# framed FORMAT W H OUT: the client's framed page of W x H mm (pwgmake's frame).
framed() {
    local dots_w dots_h
    dots_w=$(python3 -c "print(round($2 * 203 / 25.4))")
    dots_h=$(python3 -c "print(round($3 * 203 / 25.4))")
    case "$1" in
        application/pdf)
            cat > "$4.ps" <<EOF
%!PS
/mm { 72 mul 25.4 div } def
/W $2 mm def /H $3 mm def /B 2 mm def
<< /PageSize [W H] >> setpagedevice
0 setgray 0 0 W B rectfill 0 H B sub W B rectfill 0 0 B H rectfill W B sub 0 B H rectfill
B 2 mul H 0.75 mul W 0.25 mul B 2 mul sub H 0.25 mul B 2 mul sub rectfill showpage
EOF
            gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=pdfwrite -sOutputFile="$4" "$4.ps" ;;
        *) "$PWGMAKE" "$4" "$dots_w" "$dots_h" 203 1 "$dots_h" 0 frame ;;
    esac
}

# check NAME PRINTER ID PAGE(WxH mm) SIZE(label WxH mm, or "roll"): the next connection.
check() {
    local name=$1 out
    CONN=$((CONN + 1))
    wait_conn "$W/net" $CONN || { bad "$name: nothing reached the printer ($(job_info "$2" "$3"))"; return; }
    [ "$(wait_job "$2" "$3")" = completed ] || bad "$name: job $3 is '$(job_info "$2" "$3")'"
    out=$("$PREVIEW" -o "$W/page-$CONN" "$W/net/conn-$CONN.bin" 2>&1)
    [ "$(grep -c -- '-- page' <<< "$out")" = 1 ] || { bad "$name: not one page: $out"; return; }
    if [ "$5" = roll ]; then
        grep -q 'GS v 0 raster.* 48 bytes x' <<< "$out" || { bad "$name: not the roll's width: $out"; return; }
    else
        python3 - "$5" "$out" <<'EOT' || { bad "$name: the command's size is not the loaded label: $(grep SIZE <<< "$out")"; return; }
import re, sys
w, h = (float(v) for v in sys.argv[1].split("x"))
m = re.search(r"SIZE ([\d.]+) mm,([\d.]+) mm", sys.argv[2])
sys.exit(0 if m and abs(float(m.group(1)) - w) <= 0.6 and abs(float(m.group(2)) - h) <= 0.6 else 1)
EOT
    fi
    if out=$(dfstream frame "$W/page-$CONN-1.png" --page "$4" $([ "$5" = roll ] && echo --roll) 2>&1); then
        echo "ok   $name: $(tail -n 1 <<< "$out")"
    else
        bad "$name: $out"
    fi
}

say "Clients as they pick sizes and formats"
# printer | the loaded label (WxH mm, or roll)
while read -r p loaded; do
    for client in android windows ios; do
        read -r media fmt page <<< "$(pick $client "$p")"
        [ -n "$media" ] || { bad "$client on $p: no size picked"; continue; }
        doc=$W/docs/$client-$p.$(case $fmt in application/pdf) echo pdf ;; image/urf) echo urf ;; *) echo pwg ;; esac)
        framed "$fmt" "${page%x*}" "${page#*x}" "$doc" > /dev/null || fail "could not make $doc"
        # (PAPPL takes a size it does not list and prints on its default: the id is the newest job)
        ipp_job "$p" "$doc" "$fmt" "ATTR keyword media $media" > /dev/null
        id=$(last_job "$p")
        check "$client $media $fmt on $p" "$p" "$id" "$page" "$loaded"
    done
done <<'EOT'
l50 50x30
l100 100x150
r58 roll
EOT

say "Hold until the medium is loaded"
# A PDF (Android) waits pending-held, a PWG raster (Windows, streamed by
# PAPPL) waits while printing; both show media-needed, so does the printer.
"$APP" modify -d l50 -o dotforge-media-mismatch-default=hold > /dev/null || bad "modify: the hold rule refused"
framed application/pdf 101.6 152.4 "$W/docs/hold.pdf" > /dev/null || fail "gs hold.pdf"
framed image/pwg-raster 101.6 152.4 "$W/docs/hold.pwg" || fail "pwgmake"
ipp_job l50 "$W/docs/hold.pdf" application/pdf "ATTR keyword media na_index-4x6_4x6in" > /dev/null
held=$(last_job l50)
ipp_job l50 "$W/docs/hold.pwg" image/pwg-raster "ATTR keyword media na_index-4x6_4x6in" > /dev/null &
streaming=$!
sleep 2
waiting=$(last_job l50)
for id in $held $waiting; do
    info=$(job_info l50 "$id")
    case "$id:$info" in
        $held:pending-held,*media-needed* | $waiting:processing,*media-needed*) echo "ok   4x6 job $id on 50 x 30 mm labels waits: $info" ;;
        *) bad "hold: job $id is '$info'" ;;
    esac
done
reasons=$(printer_info l50 printer-state-reasons)
case "$reasons" in *media-needed*) echo "ok   the printer shows $reasons" ;; *) bad "printer-state-reasons '$reasons'" ;; esac
[ "$(conns "$W/net")" = "$CONN" ] || bad "hold: a waiting job reached the printer"
load_medium l50 na_index-4x6_4x6in
wait $streaming
# (PAPPL keeps the device open from one queued job to the next: both may come in one connection.)
for id in $waiting $held; do
    [ "$(wait_job l50 "$id")" = completed ] || bad "hold: job $id is '$(job_info l50 "$id")' after loading its medium"
done
wait_conn "$W/net" $((CONN + 1)) || bad "hold: nothing reached the printer"
sleep 0.5
n=$(conns "$W/net")
pages=$(for c in $(seq $((CONN + 1)) "$n"); do "$PREVIEW" -o "$W/hold-$c" "$W/net/conn-$c.bin" 2>&1; done | grep -c 'SIZE 101.60 mm,152.40 mm')
[ "$pages" = 2 ] && echo "ok   both printed at their size once 4x6 was loaded" || bad "hold: $pages pages of 4x6 printed, not 2"
CONN=$n
sleep 1.5
reasons=$(printer_info l50 printer-state-reasons)
case "$reasons" in *media-needed*) bad "media-needed stays: $reasons" ;; *) echo "ok   media-needed gone: $reasons" ;; esac

# Released by hand, a held job is fitted onto the loaded label.
load_medium l50 om_label-50x30_50x30mm
ipp_job l50 "$W/docs/hold.pdf" application/pdf "ATTR keyword media na_index-4x6_4x6in" > /dev/null
id=$(last_job l50)
cat > "$W/release.test" <<EOT
{
  OPERATION Release-Job
  GROUP operation-attributes-tag
  ATTR charset attributes-charset utf-8
  ATTR naturalLanguage attributes-natural-language en
  ATTR uri printer-uri \$uri
  ATTR integer job-id $id
  ATTR name requesting-user-name test
  STATUS successful-ok
}
EOT
sleep 1
case "$(job_info l50 "$id")" in pending-held,*media-needed*) ;; *) bad "held again: '$(job_info l50 "$id")'" ;; esac
ipptool -q "ipp://$SRV/ipp/print/l50" "$W/release.test" || bad "Release-Job refused"
check "released 4x6 PDF" l50 "$id" 101.6x152.4 50x30

app_stop
app_clean || FAILED=$((FAILED + 1))
echo "$FAILED failed"
[ "$FAILED" = 0 ]
