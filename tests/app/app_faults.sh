#!/bin/bash
# Bad input and faults through dotforge-app: each bad job gets an IPP error
# or ends aborted with a reason, nothing partial is sent as a page, the
# server keeps running and the next job prints whole.
#   - a PWG raster cut short on its second page: page 1 printed, page 2 not;
#   - a header claiming an enormous page, a raster with a bad sync word;
#   - a document format the printer does not take;
#   - values out of range (vendor attribute, print-darkness);
#   - a printer that drops the connection in the middle of a job;
#   - a printer that refuses connections: the job waits (PAPPL retries the
#     device) and prints whole once the printer answers.
#
# Usage: app_faults.sh APP FILTER PPD_DIR PWGMAKE
set -u
. "${BASH_SOURCE[0]%/*}/../cups/common.sh"
. "${BASH_SOURCE[0]%/*}/app_common.sh"

app_setup "$@" dotforge-app-faults
NETPORT=$(dfstream freeport)
DROPPORT=$(dfstream freeport)
LATEPORT=$(dfstream freeport)
start_printer "$NETPORT" "$W/net"
mkdir -p "$W/drop"
python3 "$DFSTREAM" listen "$DROPPORT" "$W/drop" --drop-after 3000 &
LISTENER_PIDS+=($!)
app_start
"$APP" add -d ok -m tspl-203 -v "socket://127.0.0.1:$NETPORT" >/dev/null || fail "add ok"
"$APP" add -d drop -m tspl-203 -v "socket://127.0.0.1:$DROPPORT" >/dev/null || fail "add drop"
"$APP" add -d late -m tspl-203 -v "socket://127.0.0.1:$LATEPORT" >/dev/null || fail "add late"
for p in drop late; do load_medium $p om_label-50x30_50x30mm; done

M="ATTR keyword media om_label-50x30_50x30mm"
"$PWGMAKE" "$W/docs/good.pwg" 400 240 203 1 || fail pwgmake
"$PWGMAKE" "$W/docs/cut.pwg" 400 240 203 2 100 || fail pwgmake
"$PWGMAKE" "$W/docs/long.pwg" 812 1218 203 6 || fail pwgmake
python3 - "$W/docs" <<'EOT' || fail "could not make the corrupt rasters"
import struct, sys
d = sys.argv[1]
good = bytearray(open(d + "/good.pwg", "rb").read())
huge = bytearray(good)
# cupsWidth and cupsBytesPerLine (big-endian, after the 4-byte sync word)
struct.pack_into(">I", huge, 4 + 372, 0x10000000)
struct.pack_into(">I", huge, 4 + 392, 0x10000000)
open(d + "/huge.pwg", "wb").write(huge)
sync = bytearray(good)
sync[0:4] = b"XXXX"
open(d + "/sync.pwg", "wb").write(sync)
EOT
expect_filter tspl-203 "" "$W/docs/good.pwg" "$W/expect/good.bin"
# On gap media a page shorter than the label is sent as long as the label:
# the default 100 x 150 mm label is 1199 lines at 203 dpi.
"$PWGMAKE" "$W/docs/padded.pwg" 400 240 203 1 1199 1199 || fail pwgmake
expect_filter tspl-203 "" "$W/docs/padded.pwg" "$W/expect/padded.bin"

FAILED=0
CONN=0
bad() { echo "FAIL $*"; FAILED=$((FAILED + 1)); }

# aborted NAME PRINTER ID REASON: the job must end aborted with REASON.
aborted() {
    local info
    info=$(wait_job "$2" "$3")
    info=$(job_info "$2" "$3")
    case "$info" in
        aborted*"$4"*) echo "ok   $1: aborted ($info)" ;;
        *) bad "$1: job $3 is '$info', not aborted with $4" ;;
    esac
}

say "A raster cut short on its second page"
# (dotforge-app submit closes its side once the file is sent; a client that
# waits for the answer instead keeps PAPPL reading for a minute.)
"$APP" submit -d ok "$W/docs/cut.pwg" >/dev/null 2>&1
CONN=$((CONN + 1))
wait_conn "$W/net" $CONN || bad "cut: no connection"
aborted cut ok "$(last_job ok)" document-format-error
# The page cut short is not counted as printed.
imp=$(get_job "ipp://$SRV/ipp/print/ok" "$(last_job ok)" job-impressions-completed)
[ "$imp" = 1 ] && echo "ok   cut: 1 impression completed" || bad "cut: job-impressions-completed is '$imp', not 1"
# Only the whole first page reached the printer, as long as the default label.
same_bytes "cut: first page only" "$W/net/conn-$CONN.bin" "$W/expect/padded.bin" || FAILED=$((FAILED + 1))
grep -q 'Page 2 ended early: [0-9]* of 240 lines arrived; it was not printed' "$W/app.log" || bad "cut: the log does not say why"

say "Corrupt rasters"
id=$(ipp_job ok "$W/docs/huge.pwg" image/pwg-raster "$M")
aborted huge ok "$id" document-unprintable-error
CONN=$((CONN + 1))
wait_conn "$W/net" $CONN && [ ! -s "$W/net/conn-$CONN.bin" ] && echo "ok   huge: nothing sent" || bad "huge: bytes were sent"
id=$(ipp_job ok "$W/docs/sync.pwg" image/pwg-raster "$M")
aborted sync ok "$id" aborted
CONN=$(conns "$W/net")
[ -s "$W/net/conn-$CONN.bin" ] && bad "sync: bytes were sent"

say "Unsupported format and values"
# PostScript: the app reads PNG, JPEG and PDF, not PostScript. PAPPL 1.3
# takes the job and aborts it when no filter reads the format.
printf '%%!PS\nshowpage\n' > "$W/docs/doc.ps"
if ipp_refused ok "$W/docs/doc.ps" application/postscript client-error-document-format-not-supported "$M"; then
    echo "ok   postscript: client-error-document-format-not-supported"
else
    aborted postscript ok "$(last_job ok)" aborted
    grep -q "Unable to process job with format 'application/postscript'" "$W/app.log" || bad "postscript: nothing in the log"
fi
for attr in "ATTR integer dotforge-threshold 300" "ATTR integer print-darkness 500" \
    "ATTR keyword dotforge-rotation sideways"; do
    id=$(ipp_job ok "$W/docs/good.pwg" image/pwg-raster "$M
$attr")
    if [ -z "$id" ] || ! [ "$id" -gt 0 ] 2>/dev/null; then
        echo "ok   '$attr' refused by IPP"
        continue
    fi
    aborted "'$attr'" ok "$id" errors-detected
    CONN=$(conns "$W/net")
    [ -s "$W/net/conn-$CONN.bin" ] && bad "bytes sent for '$attr'"
done

say "A printer that drops the connection mid-job"
id=$(ipp_job drop "$W/docs/long.pwg" image/pwg-raster "ATTR keyword media na_index-4x6_4x6in")
aborted drop drop "$id" aborted
grep -q 'Unable to send' "$W/app.log" && echo "ok   drop: the log says so" || bad "drop: no log line"

say "A printer that refuses connections, then comes up"
# A raster job streams from the client, which waits while the job does.
ipp_job late "$W/docs/good.pwg" image/pwg-raster "$M" > "$W/late.id" &
late_client=$!
sleep 6  # PAPPL tries the device every 5 seconds and logs the second failure
info=$("$APP" jobs -d late | head -n 1)
case "$info" in *completed*) bad "late: job completed without a printer ($info)" ;; *) echo "ok   late: job waits ($info)" ;; esac
grep -q 'Printer late.*Still unable to open device' "$W/app.log" && echo "ok   late: the log says why" ||
    bad "late: nothing in the log"
start_printer "$LATEPORT" "$W/late"
wait_conn "$W/late" 1 || sleep 8
wait "$late_client"
if wait_conn "$W/late" 1; then
    same_bytes "late: printed whole once the printer answered" "$W/late/conn-1.bin" "$W/expect/good.bin" ||
        FAILED=$((FAILED + 1))
else
    bad "late: the job never reached the printer"
fi

say "The server is still up and the next job prints whole"
kill -0 "$APP_PID" 2>/dev/null || bad "the server died"
load_medium ok om_label-50x30_50x30mm
CONN=$(($(conns "$W/net") + 1))
id=$(ipp_job ok "$W/docs/good.pwg" image/pwg-raster "$M")
wait_conn "$W/net" $CONN || bad "next job: no connection"
same_bytes "next job" "$W/net/conn-$CONN.bin" "$W/expect/good.bin" || FAILED=$((FAILED + 1))
[ "$(wait_job ok "$id")" = completed ] || bad "next job did not complete"

app_stop
app_clean || FAILED=$((FAILED + 1))
echo "$FAILED failed"
[ "$FAILED" = 0 ]
