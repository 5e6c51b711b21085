#!/bin/bash
# dotforge-app as a driverless printer for CUPS: a private cupsd makes an
# IPP Everywhere queue for a dotforge-app printer (lpadmin -m everywhere),
# and a PDF and a PNG printed through it reach the fake network printer as
# TSPL labels of the chosen size (the PNG's page too: on gap media the app
# sends every page as long as the label). With no option at all, a label
# queue and a 58 mm receipt queue print on the printer's ready medium, not
# on Letter: the generated PPD's default size is one of its sizes. A landscape
# PDF comes out as `submit` prints it (turned anticlockwise, fitted).
#
# Usage: app_cupsd.sh APP FILTER PPD_DIR PWGMAKE
set -u
. "${BASH_SOURCE[0]%/*}/../cups/common.sh"
. "${BASH_SOURCE[0]%/*}/app_common.sh"

require_root
require_programs cupsd lpadmin lp lpstat cancel cups-config gs
SYS_SB=$(cups-config --serverbin)
[ -e "$SYS_SB/backend/ipp" ] || skip "CUPS's ipp backend is not installed"
app_setup "$@" dotforge-app-cupsd
NETPORT=$(dfstream freeport)
TILLPORT=$(dfstream freeport)
start_printer "$NETPORT" "$W/net"
start_printer "$TILLPORT" "$W/till"
app_start
"$APP" add -d label -m tspl-203 -v "socket://127.0.0.1:$NETPORT" >/dev/null || fail "add label"
"$APP" add -d till -m escpos-58 -v "socket://127.0.0.1:$TILLPORT" >/dev/null || fail "add till"

make_serverbin "$W/sb" "$FILTER"
CLEANUP_HOOKS+=(stop_cupsd)
APPSRV=$SRV
start_cupsd "$W/sb"
CUPS=$SRV SRV=$APPSRV
lpadmin -h "$CUPS" -p Label -E -v "ipp://localhost:$PORT/ipp/print/label" -m everywhere > "$W/lpadmin.txt" 2>&1 ||
    { cat "$W/lpadmin.txt"; tail -n 20 "$W/log/error_log"; fail "lpadmin -m everywhere failed"; }
# cupsd writes the PPD once it has asked the printer.
for i in $(seq 100); do grep -qs 'Manufacturer: "dotforge"' "$W/etc/ppd/Label.ppd" && break; sleep 0.05; done
grep -qs 'Manufacturer: "dotforge"' "$W/etc/ppd/Label.ppd" && echo "ok   CUPS made a queue from the printer's attributes" ||
    fail "the generated PPD does not name the printer"

make_doc "$W/docs/label.pdf" 50 30 1
make_doc "$W/docs/label.png" 40 20 1 203
chmod 644 "$W"/docs/*
FAILED=0
CONN=0
# Each page goes to a printer with its own label loaded: CUPS's queue passes it unchanged.
load_medium label om_label-50x30_50x30mm
for doc in label.pdf label.png; do
    out=$(lp -h "$CUPS" -d Label -o media=om_label-50x30_50x30mm "$W/docs/$doc" 2>&1) || { echo "FAIL lp: $out"; FAILED=$((FAILED + 1)); continue; }
    CONN=$((CONN + 1))
    if ! wait_conn "$W/net" $CONN && ! { sleep 10; wait_conn "$W/net" $CONN; }; then
        echo "FAIL $doc: nothing reached the printer"
        grep -i 'job\|error' "$W/log/error_log" | tail -n 15
        FAILED=$((FAILED + 1))
        continue
    fi
    if dfstream tspl "$W/net/conn-$CONN.bin" --pages 1 --size 50x30 --size-tol 0.6 --gap "3 mm,0 mm" > "$W/check-$doc.txt" 2>&1; then
        echo "ok   $doc through CUPS and the app: $(head -n 1 "$W/check-$doc.txt")"
    else
        echo "FAIL $doc:"
        sed 's/^/    /' "$W/check-$doc.txt"
        FAILED=$((FAILED + 1))
    fi
done

# lp_plain QUEUE DOC DIR N CHECK...: prints DOC with no option and checks
# connection N to the fake printer in DIR.
lp_plain() {
    local queue=$1 doc=$2 dir=$3 n=$4 out
    shift 4
    out=$(lp -h "$CUPS" -d "$queue" "$W/docs/$doc" 2>&1) || { echo "FAIL lp $queue: $out"; FAILED=$((FAILED + 1)); return; }
    if ! wait_conn "$dir" "$n" && ! { sleep 10; wait_conn "$dir" "$n"; }; then
        echo "FAIL $doc on $queue: nothing reached the printer"
        FAILED=$((FAILED + 1))
        return
    fi
    if dfstream "$@" "$dir/conn-$n.bin" > "$W/check.txt" 2>&1; then
        echo "ok   $doc on $queue with no option: $(head -n 1 "$W/check.txt")"
    else
        echo "FAIL $doc on $queue with no option:"
        sed 's/^/    /' "$W/check.txt"
        FAILED=$((FAILED + 1))
    fi
}
lpadmin -h "$CUPS" -p Till -E -v "ipp://localhost:$PORT/ipp/print/till" -m everywhere > "$W/lpadmin.txt" 2>&1 ||
    { cat "$W/lpadmin.txt"; fail "lpadmin -m everywhere failed for the receipt printer"; }
for q in Label Till; do
    for i in $(seq 100); do grep -qs 'Manufacturer: "dotforge"' "$W/etc/ppd/$q.ppd" && break; sleep 0.05; done
    d=$(sed -n 's/^\*DefaultPageSize: //p' "$W/etc/ppd/$q.ppd")
    if [ -n "$d" ] && grep -q "^\*PageSize $d:" "$W/etc/ppd/$q.ppd"; then
        echo "ok   $q: the PPD's default size $d is one of its sizes"
    else
        echo "FAIL $q: *DefaultPageSize '$d' names none of the PPD's sizes"
        grep '^\*PageSize ' "$W/etc/ppd/$q.ppd" | head -n 3
        FAILED=$((FAILED + 1))
    fi
done
make_doc "$W/docs/l100x150.pdf" 100 150 1
make_doc "$W/docs/a4.pdf" 210 297 1
chmod 644 "$W"/docs/*
load_medium label om_label-100x150_100x150mm
lp_plain Label l100x150.pdf "$W/net" $((CONN + 1)) tspl --pages 1 --size 100x150 --size-tol 0.6
lp_plain Label a4.pdf "$W/net" $((CONN + 2)) tspl --pages 1 --size 100x150 --size-tol 0.6
lp_plain Till a4.pdf "$W/till" 1 escpos --width-bytes 48

# Two collated copies of two different pages come out 1, 2, 1, 2.
cat > "$W/docs/two.ps" <<'EOT'
%!PS
<< /PageSize [141.7 85] >> setpagedevice
0 setgray 0 63.75 70.85 21.25 rectfill showpage
0 setgray 70.85 63.75 70.85 21.25 rectfill showpage
EOT
gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=pdfwrite -sOutputFile="$W/docs/two.pdf" "$W/docs/two.ps" || fail "gs two.pdf"
chmod 644 "$W/docs/two.pdf"
n=$((CONN + 3))
if lp -h "$CUPS" -d Label -n 2 -o collate=true -o media=om_label-50x30_50x30mm "$W/docs/two.pdf" > /dev/null &&
    { wait_conn "$W/net" $n || { sleep 10; wait_conn "$W/net" $n; }; }; then
    order=$(dfstream tsplorder "$W/net/conn-$n.bin" 2>&1)
    [ "$order" = "A B A B" ] && echo "ok   lp -n 2 on two pages, collated: $order" ||
        { echo "FAIL lp -n 2 -o collate=true: pages $order, not A B A B"; FAILED=$((FAILED + 1)); }
else
    echo "FAIL lp -n 2: nothing reached the printer"
    FAILED=$((FAILED + 1))
fi

say "A landscape PDF: the same label through the driverless queue and through submit"
# The app takes the queue's PDFs as they are (it offers application/vnd.cups-pdf)
# and turns and fits them as for submit: anticlockwise, the bar of the top
# left ends at the bottom left, the smaller page enlarged. CUPS's own
# pdftopdf turned them clockwise and left the smaller one small.
make_doc "$W/docs/wide.pdf" 150 100 1
make_doc "$W/docs/small.pdf" 60 40 1
chmod 644 "$W"/docs/*
for doc in wide.pdf small.pdf; do
    n=$((n + 1))
    lp -h "$CUPS" -d Label -o media=om_label-100x150_100x150mm "$W/docs/$doc" > /dev/null &&
        { wait_conn "$W/net" $n || { sleep 10; wait_conn "$W/net" $n; }; } || { echo "FAIL $doc: lp"; FAILED=$((FAILED + 1)); continue; }
    n=$((n + 1))
    "$APP" submit -d label -o media=om_label-100x150_100x150mm "$W/docs/$doc" > /dev/null 2>&1 && wait_conn "$W/net" $n ||
        { echo "FAIL $doc: submit"; FAILED=$((FAILED + 1)); continue; }
    if ! dfstream tspl "$W/net/conn-$((n - 1)).bin" --pages 1 --size 100x150 --size-tol 0.6 --ink 0,0.5,0.25,1 > "$W/check.txt" 2>&1; then
        echo "FAIL $doc through the driverless queue:"
        sed 's/^/    /' "$W/check.txt"
        FAILED=$((FAILED + 1))
    elif ! cmp -s "$W/net/conn-$((n - 1)).bin" "$W/net/conn-$n.bin"; then
        echo "FAIL $doc: the driverless queue and submit differ: $(dfstream tspldiff "$W/net/conn-$((n - 1)).bin" "$W/net/conn-$n.bin" 2>&1)"
        FAILED=$((FAILED + 1))
    else
        echo "ok   $doc: turned anticlockwise and fitted, the same bytes through the driverless queue and submit"
    fi
done
cancel -h "$CUPS" -a Label Till 2>/dev/null
stop_cupsd
app_stop
app_clean || FAILED=$((FAILED + 1))
echo "$FAILED failed"
[ "$FAILED" = 0 ]
