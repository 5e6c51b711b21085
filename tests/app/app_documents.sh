#!/bin/bash
# Documents the printer application reads itself (PNG, JPEG, PDF):
#   - damaged pictures (truncated, PWG raster declared as PNG, a truncated
#     JPEG; the decoders' unit tests have the rest) end the job at once with
#     document-format-error, nothing reaches the printer, the next job prints;
#   - a JPEG without a JFIF or EXIF segment is recognised by its bytes;
#   - `submit label.pdf` prints, and a PDF made for the label prints byte for
#     byte as cupsfilter's chain prints it, a landscape one turned as there;
#   - copies are collated: -n 2 on a 2-page PDF prints 1,2,1,2;
#   - a picture is fitted, whole and centred, by default;
#   - a raster page larger than the label is fitted onto it, or refused with
#     a reason when the job asks for it as sent.
#   - hostile PDFs (hostilepdf.py: a tiny tiling step, nested forms, a `q`
#     bomb) end within a short document budget with document-unprintable-
#     error, their renderer under the memory ceiling; a cancel ends such a
#     job at once; after a kill -9 and a restart the job is not given a new
#     budget, and no renderer outlives the server.
#
# Usage: app_documents.sh APP FILTER PPD_DIR PWGMAKE
set -u
. "${BASH_SOURCE[0]%/*}/../cups/common.sh"
. "${BASH_SOURCE[0]%/*}/app_common.sh"

require_programs gs
app_setup "$@" dotforge-app-documents
NETPORT=$(dfstream freeport)
start_printer "$NETPORT" "$W/net"
app_start
"$APP" add -d label -m tspl-203 -v "socket://127.0.0.1:$NETPORT" >/dev/null || fail "add label"

D=$W/docs
make_doc "$D/label.png" 50 30 1 203
make_doc "$D/label.pdf" 50 30 1
# Two pages that differ: the bar on the left, then on the right.
cat > "$D/two.ps" <<'EOT'
%!PS
<< /PageSize [141.7 85] >> setpagedevice
0 setgray 0 63.75 70.85 21.25 rectfill showpage
0 setgray 70.85 63.75 70.85 21.25 rectfill showpage
EOT
gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=pdfwrite -sOutputFile="$D/two.pdf" "$D/two.ps" || fail "gs two.pdf"
gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=jpeggray -r203 -sOutputFile="$D/label.jpg" "$D/label.ps" || fail "gs jpeg"
"$PWGMAKE" "$D/page.pwg" 400 240 203 1 || fail pwgmake
python3 - "$D" <<'EOT' || fail "could not make the damaged pictures"
import struct, sys
d = sys.argv[1]
png = open(d + "/label.png", "rb").read()
jpg = open(d + "/label.jpg", "rb").read()
open(d + "/cut.png", "wb").write(png[:300])
open(d + "/cut.jpg", "wb").write(jpg[:len(jpg) // 3])
# The same picture without its JFIF segment (FF E0 after SOI).
assert jpg[2:4] == b"\xff\xe0"
n = struct.unpack(">H", jpg[4:6])[0]
open(d + "/bare.jpg", "wb").write(jpg[:2] + jpg[4 + n:])
EOT

# The document budget the hostile documents get (the default is 60 s and 512 MB).
LIMIT_S=4 LIMIT_MB=128
FAILED=0
bad() { echo "FAIL $*"; FAILED=$((FAILED + 1)); }
CONN=0

# refused NAME FILE FORMAT: the job ends aborted with document-format-error
# within a few seconds, and nothing reaches the printer.
refused() {
    local id start end info
    start=$(date +%s%N)
    if [ "$3" = submit ]; then
        "$APP" submit -d label "$2" >/dev/null 2>&1
        id=$(last_job label)
    else
        id=$(ipp_job label "$2" "$3")
    fi
    wait_job label "$id" >/dev/null
    end=$(date +%s%N)
    info=$(get_job "ipp://$SRV/ipp/print/label" "$id" job-state,job-state-reasons,job-state-message)
    CONN=$((CONN + 1))
    wait_conn "$W/net" $CONN
    case "$info" in
        aborted*document-format-error*)
            echo "ok   $1: $info, $(((end - start) / 1000000)) ms" ;;
        *) bad "$1: job $id is '$info'" ;;
    esac
    [ $(((end - start) / 1000000)) -lt 5000 ] || bad "$1: took $(((end - start) / 1000000)) ms"
    [ -s "$W/net/conn-$CONN.bin" ] && bad "$1: bytes reached the printer"
}

say "Damaged pictures"
refused "truncated PNG (submit)" "$D/cut.png" submit
refused "PWG raster declared as PNG" "$D/page.pwg" image/png
refused "truncated JPEG" "$D/cut.jpg" image/jpeg
kill -0 "$APP_PID" 2>/dev/null || bad "the server died"

# printed NAME DOC [SUBMIT OPTIONS]: submits DOC and waits for its bytes.
printed() {
    local name=$1 doc=$2 id
    shift 2
    "$APP" submit -d label "$@" "$doc" > "$W/submit.txt" 2>&1 || { bad "$name: submit: $(cat "$W/submit.txt")"; return 1; }
    id=$(last_job label)
    CONN=$((CONN + 1))
    wait_conn "$W/net" $CONN || { bad "$name: nothing reached the printer ($(job_info label "$id"))"; return 1; }
    [ "$(wait_job label "$id")" = completed ] || { bad "$name: job $id is '$(job_info label "$id")'"; return 1; }
    OUT=$W/net/conn-$CONN.bin
}

say "Pictures and PDF"
# 50 x 30 mm pages printed as sent: the printer has its 100 x 150 mm labels loaded.
M=om_label-50x30_50x30mm
if printed "JPEG without JFIF" "$D/bare.jpg" -o media=$M -o dotforge-media-mismatch=as-sent; then
    dfstream tspl "$OUT" --pages 1 --size 50x30 --size-tol 0.6 --ink 0,0,0.5,0.25 > "$W/c.txt" 2>&1 &&
        echo "ok   JPEG without JFIF: $(head -n 1 "$W/c.txt")" || { bad "JPEG without JFIF:"; cat "$W/c.txt"; }
fi
# A 20 x 40 mm picture on the 100 x 150 mm label: enlarged to the label's
# length and centred (75 mm wide), its black bar over the left half of its
# top quarter. A 40 x 20 mm one is turned anticlockwise first, as CUPS turns
# pictures: its bar ends at the bottom left.
make_doc "$D/small.png" 20 40 1 203
make_doc "$D/landscape.png" 40 20 1 203
if printed "picture, default scaling" "$D/small.png"; then
    dfstream tspl "$OUT" --pages 1 --size 100x150 --size-tol 0.6 --ink 0.125,0,0.5,0.25 > "$W/c.txt" 2>&1 &&
        echo "ok   picture fitted whole and centred: $(head -n 1 "$W/c.txt")" || { bad "picture fit:"; cat "$W/c.txt"; }
fi
if printed "landscape picture" "$D/landscape.png"; then
    dfstream tspl "$OUT" --pages 1 --size 100x150 --size-tol 0.6 --ink 0.125,0.5,0.3125,1 > "$W/c.txt" 2>&1 &&
        echo "ok   landscape picture turned and fitted: $(head -n 1 "$W/c.txt")" || { bad "landscape picture:"; cat "$W/c.txt"; }
fi
if printed "PDF" "$D/label.pdf" -o media=$M -o dotforge-media-mismatch=as-sent; then
    dfstream tspl "$OUT" --pages 1 --size 50x30 --size-tol 0.6 --ink 0,0,0.5,0.25 > "$W/c.txt" 2>&1 &&
        echo "ok   submit label.pdf: $(head -n 1 "$W/c.txt")" || { bad "PDF:"; cat "$W/c.txt"; }
    cp "$OUT" "$W/app-pdf.bin"
fi
if printed "2 collated copies of a 2-page PDF" "$D/two.pdf" -o media=$M -n 2; then
    order=$(dfstream tsplorder "$OUT" 2>&1)
    [ "$order" = "A B A B" ] && echo "ok   -n 2 on two pages, collated: $order" || bad "copies: pages $order, not A B A B"
fi

# A one-page PDF is rendered once for all its copies: each is the whole page.
if printed "3 copies of a 1-page PDF" "$D/label.pdf" -o media=$M -o dotforge-media-mismatch=as-sent -n 3; then
    dfstream tspl "$OUT" --pages 3 --size 50x30 --size-tol 0.6 --ink 0,0,0.5,0.25 > "$W/c.txt" 2>&1 &&
        echo "ok   -n 3 on one page: $(head -n 1 "$W/c.txt")" || { bad "copies of one page:"; cat "$W/c.txt"; }
fi

# PWG raster: PAPPL hands each page once; the copies are collated too.
"$PWGMAKE" "$D/two.pwg" 400 240 203 2 || fail pwgmake
id=$(ipp_job label "$D/two.pwg" image/pwg-raster "ATTR keyword media $M
ATTR integer copies 2")
CONN=$((CONN + 1))
if wait_conn "$W/net" $CONN && [ "$(wait_job label "$id")" = completed ]; then
    order=$(dfstream tsplorder "$W/net/conn-$CONN.bin" 2>&1)
    [ "$order" = "A B A B" ] && echo "ok   raster, copies 2, collated: $order" || bad "raster copies: pages $order, not A B A B"
else
    bad "raster copies: job $id is '$(job_info label "$id")'"
fi

# A Letter page on the 100 x 150 mm label is fitted onto it; printed as sent
# it is refused, not cut at the head.
"$PWGMAKE" "$D/letter.pwg" 1726 2233 203 1 || fail pwgmake
id=$(ipp_job label "$D/letter.pwg" image/pwg-raster "ATTR keyword media om_label-100x150_100x150mm")
CONN=$((CONN + 1))
if wait_conn "$W/net" $CONN && [ "$(wait_job label "$id")" = completed ]; then
    dfstream tspl "$W/net/conn-$CONN.bin" --pages 1 --size 100x150 --size-tol 0.6 > "$W/c.txt" 2>&1 &&
        echo "ok   Letter raster fitted on a label: $(head -n 1 "$W/c.txt")" || { bad "Letter raster:"; cat "$W/c.txt"; }
else
    bad "Letter raster on a label: job $id is '$(job_info label "$id")'"
fi
id=$(ipp_job label "$D/letter.pwg" image/pwg-raster "ATTR keyword media om_label-100x150_100x150mm
ATTR keyword dotforge-media-mismatch as-sent")
wait_job label "$id" >/dev/null
info=$(get_job "ipp://$SRV/ipp/print/label" "$id" job-state,job-state-reasons,job-state-message)
CONN=$((CONN + 1))
case "$info" in
    aborted,document-unprintable-error,*"larger than the 100.0 x 150.0 mm label"*) echo "ok   Letter raster as sent: $info" ;;
    *) bad "Letter raster as sent: '$info'" ;;
esac

# A medium no printer here has is refused, not silently replaced.
if out=$("$APP" submit -d label -o media=iso_a4_210x297mm "$D/label.pdf" 2>&1); then
    bad "submit with A4 media: accepted ($out)"
else
    case "$out" in *iso_a4_210x297mm*) echo "ok   submit with A4 media refused: $out" ;; *) bad "A4 media: '$out'" ;; esac
fi

# The same PDF through CUPS's chain and the filter, when cupsfilter is here.
if command -v cupsfilter >/dev/null && [ "$(id -u)" = 0 ] && [ -s "$W/app-pdf.bin" ]; then
    make_serverbin "$W/sb" "$FILTER"
    echo "ServerBin $W/sb" > "$W/files.conf"
    cupsfilter -c "$W/files.conf" -p "$PPDDIR/dotforge-tspl-203.ppd" -m printer/dotforge -e -o PageSize=w142h85 \
        "$D/label.pdf" > "$W/filter-pdf.bin" 2> "$W/filter-pdf.err"
    # A landscape page on the portrait 100 x 150 mm label: turned, as CUPS's chain turns it.
    make_doc "$D/wide.pdf" 150 100 1
    cupsfilter -c "$W/files.conf" -p "$PPDDIR/dotforge-tspl-203.ppd" -m printer/dotforge -e -o PageSize=w283h425 \
        "$D/wide.pdf" > "$W/filter-wide.bin" 2> "$W/filter-wide.err"
    printed "landscape PDF" "$D/wide.pdf" -o media=om_label-100x150_100x150mm && cp "$OUT" "$W/app-wide.bin"
    if cmp -s "$W/app-pdf.bin" "$W/filter-pdf.bin"; then
        echo "ok   label.pdf: byte-identical to cupsfilter's output"
    else
        bad "label.pdf differs from cupsfilter's output: $(dfstream tspldiff "$W/app-pdf.bin" "$W/filter-pdf.bin" 2>&1)"
    fi
    # The PPD's 100 x 150 mm size is 283 x 425 whole points, so CUPS's chain
    # fits the turned 425.2 pt page to it and its ink lands a row higher: a
    # row of the bar (200 dots at each end) may differ, no more.
    d=$(dfstream tspldiff "$W/app-wide.bin" "$W/filter-wide.bin" 2>&1)
    case "$d" in
        "page 1: "[0-9]*" of "*" dots differ (120000 and 120000 black)")
            n=${d#page 1: }
            n=${n%% *}
            [ "$n" -le 400 ] && echo "ok   wide.pdf turned as cupsfilter turns it: $d" || bad "wide.pdf: $d" ;;
        *) bad "wide.pdf against cupsfilter: $d" ;;
    esac
fi

say "Hostile documents within a budget of $LIMIT_S s and $LIMIT_MB MB"
app_stop
app_start -o document-time-limit=$LIMIT_S -o document-memory-limit=$LIMIT_MB
for kind in tiling forms q; do
    python3 "${BASH_SOURCE[0]%/*}/hostilepdf.py" $kind "$D/$kind.pdf" || fail "hostilepdf.py $kind"
done

# renderers: the server's document renderers, wherever their parent is now
# (they read a print file of this test's spool on their standard input).
renderers() {
    find /proc/[0-9]*/fd/0 -maxdepth 0 -lname "$W/appspool/*" 2>/dev/null | cut -d/ -f3
}
# watch_job ID: waits for the job to end (20 s at most) while noting the
# renderers' peak resident memory (KB) in PEAK and the seconds taken in TOOK.
watch_job() {
    local start=$(date +%s%N) i p r s
    PEAK=0
    for i in $(seq 400); do
        for p in $(renderers); do
            r=$(awk '/^VmHWM/ {print $2}' "/proc/$p/status" 2>/dev/null)
            [ "${r:-0}" -gt "$PEAK" ] && PEAK=$r
        done
        [ $((i % 4)) = 0 ] || { sleep 0.05; continue; }
        s=$(job_info label "$1")
        case "$s" in completed* | aborted* | canceled*) break ;; esac
    done
    TOOK=$((($(date +%s%N) - start) / 1000000000))
}

# KIND MESSAGE: each ends aborted for its budget, in time, under the ceiling,
# and sends the printer nothing.
while read -r kind message; do
    id=$(ipp_job label "$D/$kind.pdf" application/pdf)
    watch_job "$id"
    info=$(get_job "ipp://$SRV/ipp/print/label" "$id" job-state,job-state-reasons,job-state-message)
    CONN=$((CONN + 1))
    wait_conn "$W/net" $CONN
    case "$info" in
        aborted,document-unprintable-error,*"$message"*)
            echo "ok   $kind.pdf: $info after $TOOK s, renderer peak $((PEAK / 1024)) MB" ;;
        *) bad "$kind.pdf: job $id is '$info' after $TOOK s" ;;
    esac
    [ "$TOOK" -le $((LIMIT_S + 4)) ] || bad "$kind.pdf: took $TOOK s"
    [ "$PEAK" -le $(((LIMIT_MB + 64) * 1024)) ] || bad "$kind.pdf: the renderer peaked at $((PEAK / 1024)) MB"
    [ -s "$W/net/conn-$CONN.bin" ] && bad "$kind.pdf: bytes reached the printer"
done <<EOT
tiling takes longer than the $LIMIT_S s
forms takes longer than the $LIMIT_S s
q needs more than the $LIMIT_MB MB
EOT
[ -z "$(renderers)" ] || bad "renderers left running: $(renderers)"

# A cancel ends the job within a second, its renderer with it.
id=$(ipp_job label "$D/tiling.pdf" application/pdf)
for i in $(seq 100); do [ "$(job_info label "$id")" = processing,job-printing ] && break; sleep 0.05; done
[ "$(job_info label "$id")" = processing,job-printing ] || bad "cancel: job $id never started: $(job_info label "$id")"
sleep 0.5
"$APP" cancel -d label -j "$id" > /dev/null 2>&1 || bad "cancel refused"
start=$(date +%s%N)
for i in $(seq 100); do [ "$(job_info label "$id")" = canceled,job-canceled-by-user ] && break; sleep 0.02; done
took=$((($(date +%s%N) - start) / 1000000))
CONN=$((CONN + 1))
wait_conn "$W/net" $CONN
s=$(job_info label "$id")
[ "${s%%,*}" = canceled ] && [ "$took" -lt 1000 ] && [ -z "$(renderers)" ] &&
    echo "ok   cancel during rendering: $s $took ms after the cancel" ||
    bad "cancel during rendering: '$s' $took ms after the cancel, renderers '$(renderers)'"

# kill -9 three quarters through the budget: the renderer dies with the
# server, and after the restart the job has only the rest of its budget.
id=$(ipp_job label "$D/forms.pdf" application/pdf)
for i in $(seq 40); do [ -n "$(renderers)" ] && break; sleep 0.05; done
sleep $((LIMIT_S * 3 / 4))
mkdir "$W/printing"
cp "$W/state" "$W/appspool"/p*j*"$id"-* "$W/printing"
rm -f "$W/printing"/*.budget
app_kill
sleep 0.2
[ -z "$(renderers)" ] && echo "ok   no renderer outlives the server" || bad "renderers outlive the server: $(renderers)"
app_start -o document-time-limit=$LIMIT_S -o document-memory-limit=$LIMIT_MB
watch_job "$id"
info=$(get_job "ipp://$SRV/ipp/print/label" "$id" job-state,job-state-reasons,job-state-message)
used=$(sed -n 's/.*used \([0-9]*\) ms of its budget before the server stopped.*/\1/p' "$W/app.log" | tail -n 1)
case "$info" in
    aborted,document-unprintable-error,*"longer than the $LIMIT_S s"*)
        echo "ok   after kill -9 and a restart: $info after $TOOK s, ${used:-no} ms used before" ;;
    *) bad "after kill -9 and a restart: job $id is '$info' after $TOOK s" ;;
esac
[ "${used:-0}" -ge $((LIMIT_S * 1000 / 2)) ] && [ "$TOOK" -lt "$LIMIT_S" ] ||
    bad "after a restart the job took $TOOK s, having used ${used:-no} ms before: its budget started again"

# The server stops after the job ran out of its budget but before the state
# says so and before its print file is gone (the state and spool of a moment
# before): it is not rendered again.
app_kill
mv "$W/printing/state" "$W/state"
cp "$W/printing"/* "$W/appspool"
app_start -o document-time-limit=$LIMIT_S -o document-memory-limit=$LIMIT_MB
watch_job "$id"
info=$(get_job "ipp://$SRV/ipp/print/label" "$id" job-state,job-state-reasons,job-state-message)
case "$info" in
    aborted,document-unprintable-error,*"it is not tried again"*) echo "ok   a job over its budget is not tried again: $info" ;;
    *) bad "a job over its budget after a restart: '$info' after $TOOK s" ;;
esac
[ "$PEAK" = 0 ] || bad "a job over its budget was rendered again"

app_stop
app_clean || FAILED=$((FAILED + 1))
echo "$FAILED failed"
[ "$FAILED" = 0 ]
