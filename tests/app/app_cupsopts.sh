#!/bin/bash
# Job options through CUPS queues on a dotforge-app printer, as the README
# says: through a raw queue (lpadmin -m raw) every option reaches the printer,
# CUPS sending the ones it has no type for as names, and changes the job
# exactly as the same option sent straight to the app does; through a
# driverless queue (-m everywhere), which drops them, the printer's defaults
# set with `modify` apply.
#
# Usage: app_cupsopts.sh APP FILTER PPD_DIR PWGMAKE
set -u
. "${BASH_SOURCE[0]%/*}/../cups/common.sh"
. "${BASH_SOURCE[0]%/*}/app_common.sh"

require_root
require_programs cupsd lpadmin lp cancel cups-config
SYS_SB=$(cups-config --serverbin)
[ -e "$SYS_SB/backend/ipp" ] || skip "CUPS's ipp backend is not installed"
app_setup "$@" dotforge-app-cupsopts
NETPORT=$(dfstream freeport)
start_printer "$NETPORT" "$W/net"
app_start
"$APP" add -d label -m tspl-203 -v "socket://127.0.0.1:$NETPORT" > /dev/null || fail "add label"
load_medium label om_label-50x30_50x30mm

make_serverbin "$W/sb" "$FILTER"
CLEANUP_HOOKS+=(stop_cupsd)
APPSRV=$SRV
start_cupsd "$W/sb"
CUPS=$SRV SRV=$APPSRV
lpadmin -h "$CUPS" -p Label -E -v "ipp://localhost:$PORT/ipp/print/label" -m everywhere > "$W/lpadmin.txt" 2>&1 ||
    { cat "$W/lpadmin.txt"; fail "lpadmin -m everywhere failed"; }
for i in $(seq 100); do grep -qs 'Manufacturer: "dotforge"' "$W/etc/ppd/Label.ppd" && break; sleep 0.05; done
lpadmin -h "$CUPS" -p LabelRaw -E -v "ipp://localhost:$PORT/ipp/print/label" -m raw > "$W/lpadmin-raw.txt" 2>&1 ||
    { cat "$W/lpadmin-raw.txt"; fail "lpadmin -m raw failed"; }

# A PWG raster page of the label's size goes through CUPS untouched.
"$PWGMAKE" "$W/docs/page.pwg" 400 240 203 1 || fail pwgmake
chmod 644 "$W/docs/page.pwg"
FAILED=0
CONN=0
# through_cups OPTIONS...: prints the page through the queue; GOT is the file.
through_cups() {
    local out
    out=$(lp -h "$CUPS" -d "$QUEUE" -o media=om_label-50x30_50x30mm "$@" "$W/docs/page.pwg" 2>&1) || {
        echo "     lp: $out"
        return 1
    }
    CONN=$((CONN + 1))
    GOT=$W/net/conn-$CONN.bin
    wait_conn "$W/net" $CONN || { sleep 10; wait_conn "$W/net" $CONN; }
}
# direct ATTR-LINES: the same page sent straight to the app; GOT is the file.
direct() {
    local id
    id=$(ipp_job label "$W/docs/page.pwg" image/pwg-raster "ATTR keyword media om_label-50x30_50x30mm
$1")
    [ "$(wait_job label "$id")" = completed ] || return 1
    CONN=$((CONN + 1))
    GOT=$W/net/conn-$CONN.bin
    wait_conn "$W/net" $CONN
}

# queue | lp options | the same as an ipptool job attribute
while IFS='|' read -r QUEUE opts attr; do
    through_cups || fail "a plain job through $QUEUE did not print"
    PLAIN=$GOT
    # shellcheck disable=SC2086
    if ! through_cups $opts; then
        echo "FAIL $opts: the job through CUPS did not print"
        FAILED=$((FAILED + 1))
        continue
    fi
    cups=$GOT
    direct "$attr" || { echo "FAIL $attr: the direct job did not print"; FAILED=$((FAILED + 1)); continue; }
    if cmp -s "$PLAIN" "$cups"; then
        echo "FAIL $opts: no effect through CUPS"
        FAILED=$((FAILED + 1))
    elif ! cmp -s "$cups" "$GOT"; then
        echo "FAIL $opts: through CUPS not as sent directly ($(stat -c %s "$cups") / $(stat -c %s "$GOT") bytes)"
        FAILED=$((FAILED + 1))
    else
        echo "ok   $opts: the same as sent directly"
    fi
done <<'EOT'
LabelRaw|-o print-darkness=100|ATTR integer print-darkness 100
LabelRaw|-o print-speed=5080|ATTR integer print-speed 5080
LabelRaw|-o print-darkness=-50 -o print-speed=2540|ATTR integer print-darkness -50 ATTR integer print-speed 2540
LabelRaw|-o dotforge-rotation=half-turn|ATTR keyword dotforge-rotation half-turn
LabelRaw|-o dotforge-dither-method=threshold -o dotforge-threshold=100|ATTR keyword dotforge-dither-method threshold ATTR integer dotforge-threshold 100
EOT
# What a driverless queue does not pass on goes in as the printer's defaults.
QUEUE=Label
through_cups || fail "a plain job through Label did not print"
PLAIN=$GOT
"$APP" modify -d label -o print-darkness-default=100 -o dotforge-rotation-default=half-turn > /dev/null ||
    fail "modify defaults"
through_cups
both=$GOT
"$APP" modify -d label -o dotforge-rotation-default=none > /dev/null || fail "modify rotation"
through_cups
dark=$GOT
# CUPS's filters may re-encode the page, so each default is seen on its own:
# darkness 100 is TSPL's DENSITY 15, and the half turn changes the bitmap.
if ! grep -qa 'DENSITY 15' "$both" || grep -qa 'DENSITY' "$PLAIN"; then
    echo "FAIL the darkness default did not reach the job through the driverless queue"
    FAILED=$((FAILED + 1))
elif cmp -s "$both" "$dark"; then
    echo "FAIL the rotation default did not reach the job through the driverless queue"
    FAILED=$((FAILED + 1))
else
    echo "ok   printer defaults reach jobs through the driverless queue"
fi
cancel -h "$CUPS" -a Label 2> /dev/null
stop_cupsd
app_stop
app_clean || FAILED=$((FAILED + 1))
echo "$FAILED failed"
[ "$FAILED" = 0 ]
