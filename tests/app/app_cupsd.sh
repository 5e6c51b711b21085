#!/bin/bash
# dotforge-app as a driverless printer for CUPS: a private cupsd makes an
# IPP Everywhere queue for a dotforge-app printer (lpadmin -m everywhere),
# and a PDF and a PNG printed through it reach the fake network printer as
# TSPL labels of the chosen size (the PNG's page too: on gap media the app
# sends every page as long as the label).
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
start_printer "$NETPORT" "$W/net"
app_start
"$APP" add -d label -m tspl-203 -v "socket://127.0.0.1:$NETPORT" >/dev/null || fail "add label"

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
cancel -h "$CUPS" -a Label 2>/dev/null
stop_cupsd
app_stop
app_clean || FAILED=$((FAILED + 1))
echo "$FAILED failed"
[ "$FAILED" = 0 ]
