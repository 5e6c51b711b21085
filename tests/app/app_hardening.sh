#!/bin/bash
# Attacks on dotforge-app from this machine, each of which once wrote where
# it should not, crashed the server or lost its state:
#   - device URIs other than a printer's (file: appended jobs to any file);
#   - a local user who is not an administrator configuring printers;
#   - a Create-Job without a document released by the printer page;
#   - serial: URIs naming the console, /dev/null, links and the like;
#   - rasters at a resolution the printer does not print;
#   - kill -9 while the state is saved, empty and garbage state files, a
#     full file system under the state and the spool;
#   - queued jobs and jobs without a document across a restart;
#   - connections that never send a request;
#   - Create-Job without its document: a cap per client, and the
#     multiple-operation-time-out; a client that stalls in its document.
#
# Usage: app_hardening.sh APP FILTER PPD_DIR PWGMAKE
set -u
. "${BASH_SOURCE[0]%/*}/../cups/common.sh"
. "${BASH_SOURCE[0]%/*}/app_common.sh"

app_setup "$@" dotforge-app-hardening
NETPORT=$(dfstream freeport)
start_printer "$NETPORT" "$W/net"
app_start
FAILED=0
bad() { echo "FAIL $*"; FAILED=$((FAILED + 1)); }
create_test "$W/tests/create.test"
# create URI NAME [COMMAND PREFIX]: the IPP status of a Create-Printer.
create() {
    "${@:3}" ipptool -tv -d driver=escpos-58 -d device="$1" -d name="$2" "ipp://$SRV/ipp/system" \
        "$W/tests/create.test" 2>&1 | ipp_status
}
printers() { "$APP" printers 2>/dev/null | sort | tr '\n' ' '; }

say "Device URIs that are not printers"
echo keep > "$W/target"
mkdir -p "$W/targetdir"
chmod 755 "$W/targetdir"
n=0
while IFS='|' read -r name uri; do
    n=$((n + 1))
    expect "Create-Printer, $name" "$(create "$uri" "scheme$n")" client-error-attributes-or-values-not-supported
    out=$("$APP" add -d "add$n" -m escpos-58 -v "$uri" 2>&1) && bad "add took $name"
    grep -q "is not allowed" <<< "$out" && echo "ok   add, $name: refused with the reason" ||
        bad "add, $name: '$out'"
done <<EOT
file: on a file|file://$W/target
file: on a directory|file://$W/targetdir
ipp: to this server|ipp://127.0.0.1:$PORT/ipp/print/x
http:|http://127.0.0.1:$NETPORT/
EOT
"$APP" add -d till -m escpos-58 -v "socket://127.0.0.1:$NETPORT" >/dev/null || bad "add socket: refused"
expect "printers after the refused URIs" "$(printers)" "till "
expect "the file:'s target" "$(cat "$W/target")" keep
expect "the file:'s directory" "$(ls "$W/targetdir")" ""

say "A local user who is not an administrator"
chmod 755 "$W" "$W/tests" "$W/run"
chmod 644 "$W/tests/create.test"
USER=nobody
as_user() { setpriv --reuid="$USER" --regid="$(id -g "$USER")" --clear-groups "$@"; }
if id "$USER" >/dev/null 2>&1 && as_user true 2>/dev/null; then
    st=$(create "socket://127.0.0.1:$NETPORT" byuser as_user)
    case "$st" in
        client-error-not-authenticated | client-error-forbidden) echo "ok   Create-Printer over IPP: $st" ;;
        *) bad "Create-Printer over IPP by $USER: $st" ;;
    esac
    # The sub-commands reach only a server of their own user; the control
    # socket itself refuses another user's Create-Printer.
    as_user env ASAN_OPTIONS=detect_leaks=0 "$APP" add -d byuser2 -m escpos-58 -v "socket://127.0.0.1:$NETPORT" \
        > "$W/user-add.txt" 2>&1 && bad "add by $USER succeeded"
    grep -q 'no dotforge-app server is running' "$W/user-add.txt" && echo "ok   add by $USER: reaches no server" ||
        bad "add by $USER: $(cat "$W/user-add.txt")"
    st=$(as_user ipptool -tv -d driver=escpos-58 -d device="socket://127.0.0.1:$NETPORT" -d name=byuser3 \
        "ipp://${W//\//%2F}%2Frun%2Fdotforge-app.sock/ipp/system" "$W/tests/create.test" 2>&1 | ipp_status)
    expect "Create-Printer by $USER through the control socket" "$st" client-error-forbidden
    printer_op_test "$W/tests/pause.test" Pause-Printer
    chmod 644 "$W/tests/pause.test"
    st=$(as_user ipptool -tv "ipp://$SRV/ipp/print/till" "$W/tests/pause.test" 2>&1 | ipp_status)
    [ "$st" != successful-ok ] && echo "ok   Pause-Printer by $USER: $st" || bad "Pause-Printer by $USER succeeded"
    expect "printers after $USER's attempts" "$(printers)" "till "
else
    echo "skip the local user checks: no user $USER"
fi

say "Create-Job without a document, then the printer page's hold and release"
createjob_test "$W/tests/createjob.test"
expect "Create-Job" "$(ipptool -tv "ipp://$SRV/ipp/print/till" "$W/tests/createjob.test" 2>&1 | ipp_status)" \
    successful-ok
token=$(curl -s --max-time 10 "http://$SRV/till/" | sed -n 's/.*name="session" value="\([0-9a-f]*\)".*/\1/p' |
    head -n 1)
for action in hold-new-jobs release-held-new-jobs; do
    curl -s --max-time 10 -o /dev/null -d "session=$token&action=$action" "http://$SRV/till/"
done
sleep 1
app_alive "release of a job without a document" || FAILED=$((FAILED + 1))
expect "the job without a document" "$("$APP" jobs -d till 2>/dev/null | awk 'NR == 1 {print $2}')" pending-held

say "serial: ports that are not serial printers"
ln -sf /dev/null "$W/nulllink"
while IFS='|' read -r path reason; do
    out=$("$APP" add -d serialbad -m escpos-58 -v "serial:$path" 2>&1) && bad "add took serial:$path"
    grep -qF "$reason" <<< "$out" && echo "ok   serial:$path refused: $reason" || bad "serial:$path: '$out'"
done <<EOT
/dev/console|the port must be a serial device
/dev/tty|the port must be a serial device
/dev/ptmx|the port must be a serial device
/dev/null|the port must be a serial device
/dev/zero|the port must be a serial device
/dev/stdout|the port must be a serial device
/dev/../etc/passwd|the port must be a serial device
/dev/%2e%2e/etc/passwd|the port must be a serial device
$W/nulllink|the port must be a serial device
/dev/pts/0?baud=11520|unsupported baud rate "11520"
EOT
expect "printers after the refused ports" "$(printers)" "till "

say "Rasters at a resolution the printer does not print"
M="ATTR keyword media om_roll-58-50_48x50mm"
CONN=$(conns "$W/net")
while IFS='|' read -r dpi want; do
    "$PWGMAKE" "$W/docs/r$dpi.pwg" 384 200 "$dpi" 1 || fail pwgmake
    id=$(ipp_job till "$W/docs/r$dpi.pwg" image/pwg-raster "$M")
    info=$(wait_job till "$id" >/dev/null; job_info till "$id")
    case "$info" in "$want"*) echo "ok   $dpi dpi: $info" ;; *) bad "$dpi dpi: '$info', not $want" ;; esac
    CONN=$((CONN + 1))
    if [ "$want" != completed ]; then
        wait_conn "$W/net" $CONN && [ -s "$W/net/conn-$CONN.bin" ] && bad "$dpi dpi: bytes were sent"
    fi
done <<EOT
300|aborted,document-format-error
100000|aborted,document-format-error
1|aborted,document-format-error
203|completed
EOT

say "A raw job counts one impression"
printf 'RAW;' > "$W/docs/raw.bin"
id=$(ipp_job till "$W/docs/raw.bin" application/vnd.dotforge-escpos)
wait_job till "$id" > /dev/null
expect "job-impressions-completed of a raw job" \
    "$(get_job "ipp://$SRV/ipp/print/till" "$id" job-impressions-completed)" 1

say "Queued jobs and a job without a document across a restart"
app_stop
ls "$W/appspool" | grep -q '^p00001j.*\.ipp$' || bad "no job file in the spool before the restart"
# A printer that takes a byte a second keeps its first job printing and the
# others queued until the server is killed.
LATEPORT=$(dfstream freeport)
mkdir -p "$W/stuck"
python3 "$DFSTREAM" listen "$LATEPORT" "$W/stuck" --rate 1 &
stuck=$!
LISTENER_PIDS+=($stuck)
for i in $(seq 100); do [ -e "$W/stuck/ready" ] && break; sleep 0.05; done
app_start
"$APP" add -d late -m escpos-58 -v "socket://127.0.0.1:$LATEPORT" >/dev/null || bad "add late"
for i in 1 2 3; do
    # more than the sockets between hold
    { printf 'QUEUED-%d;' "$i"; head -c 4000000 /dev/zero; } > "$W/docs/q$i.bin"
    ipp_job late "$W/docs/q$i.bin" application/vnd.dotforge-escpos > /dev/null
done
sleep 0.5
app_kill
kill "$stuck"
wait "$stuck" 2>/dev/null
start_printer "$LATEPORT" "$W/late"
app_start
for i in $(seq 100); do [ "$(cat "$W"/late/conn-* 2>/dev/null | grep -ao "QUEUED-[23]" | wc -l)" -ge 2 ] && break; sleep 0.1; done
expect "queued jobs printed after the restart" "$(cat "$W"/late/conn-* 2>/dev/null | grep -ao 'QUEUED-[23]' |
    sort | tr '\n' ' ')" "QUEUED-2 QUEUED-3 "
# The job without a document is gone, and so is its file.
expect "job files left of the job without a document" "$(ls "$W/appspool" | grep -c '^p00001j0*1-.*\.ipp$')" 0

say "SIGTERM with a job waiting for a printer that is off"
GONEPORT=$(dfstream freeport)
"$APP" add -d gone -m escpos-58 -v "socket://127.0.0.1:$GONEPORT" >/dev/null || bad "add gone"
printf 'WAITED;' > "$W/docs/w.bin"
ipp_job gone "$W/docs/w.bin" application/vnd.dotforge-escpos > /dev/null
sleep 1
t0=$(date +%s%N)
kill -TERM "$APP_PID"
for i in $(seq 300); do kill -0 "$APP_PID" 2>/dev/null || break; sleep 0.05; done
ms=$((($(date +%s%N) - t0) / 1000000))
[ "$ms" -lt 8000 ] && echo "ok   the server stopped $ms ms after SIGTERM" || bad "the server took $ms ms to stop"
app_stop
start_printer "$GONEPORT" "$W/gone"
app_start
for i in $(seq 100); do [ -e "$W/gone/conn-1.bin" ] && break; sleep 0.1; done
expect "the waiting job after the restart" "$(cat "$W"/gone/conn-* 2>/dev/null | grep -ao WAITED)" WAITED

say "Connections that never send a request"
exec {HOLD}< <(python3 - "$PORT" <<'EOT'
import socket, sys, time
conns = []
for i in range(300):
    try:
        conns.append(socket.create_connection(("127.0.0.1", int(sys.argv[1])), timeout=2))
    except OSError:
        pass
print(len(conns), flush=True)
time.sleep(8)
EOT
)
read -r -t 30 opened <&$HOLD
sleep 1
threads=$(app_threads)
[ "${threads:-999}" -le 100 ] && echo "ok   $opened idle connections, $threads threads" ||
    bad "$opened idle connections made $threads threads"
app_alive "idle connections" || FAILED=$((FAILED + 1))
expect "a printer list meanwhile" "$(printers)" "gone late till "
exec {HOLD}<&-

say "Limits on clients: jobs without a document, documents that stall"
# Short limits (the defaults are 60 s and 20 s).
app_stop
app_start -o multiple-operation-time-out=3 -o client-idle-time-out=2
expect "advertised time-out" "$(printer_info till multiple-operation-time-out,multiple-operation-time-out-action)" \
    "3,abort-job"
cat > "$W/tests/senddoc.test" <<EOT
{
  NAME "create-job"
  OPERATION Create-Job
  GROUP operation-attributes-tag
  ATTR charset attributes-charset utf-8
  ATTR naturalLanguage attributes-natural-language en
  ATTR uri printer-uri \$uri
  ATTR name requesting-user-name test
  STATUS successful-ok
}
{
  NAME "send-document"
  OPERATION Send-Document
  GROUP operation-attributes-tag
  ATTR charset attributes-charset utf-8
  ATTR naturalLanguage attributes-natural-language en
  ATTR uri printer-uri \$uri
  ATTR integer job-id \$job-id
  ATTR name requesting-user-name test
  ATTR mimeMediaType document-format application/vnd.dotforge-escpos
  ATTR boolean last-document true
  FILE $W/docs/raw.bin
  STATUS successful-ok
}
EOT
createjob() { ipptool -tv "ipp://$SRV/ipp/print/till" "$W/tests/createjob.test" 2>&1 | ipp_status; }
ipptool -tv "ipp://$SRV/ipp/print/till" "$W/tests/senddoc.test" > "$W/senddoc.out" 2>&1 ||
    bad "Create-Job then Send-Document: $(grep -m1 status-code "$W/senddoc.out")"
withdoc=$(sed -n 's/.*job-id (integer) = \([0-9]*\).*/\1/p' "$W/senddoc.out" | head -n 1)
first=$(($(newest_job till) + 1))
for i in $(seq 10); do
    [ "$(createjob)" = successful-ok ] || bad "Create-Job $i of 10 refused"
done
expect "Create-Job beyond 10 without a document" "$(createjob)" client-error-not-possible
sleep 4.5
# job | state, reasons and message after the time-out
while IFS='|' read -r what id want; do
    got=$(get_job "ipp://$SRV/ipp/print/till" "$id" job-state,job-state-reasons,job-state-message)
    case "$got" in $want) echo "ok   $what: $got" ;; *) bad "$what: '$got'" ;; esac
done <<EOT
a job without a document|$first|aborted,aborted-by-system,*multiple-operation-time-out of 3 seconds*
the tenth|$((first + 9))|aborted,aborted-by-system,*
a job that got its document|${withdoc:-0}|completed,*
EOT
expect "Create-Job once the others timed out" "$(createjob)" successful-ok

# A client sending a byte now and then: cut off after 2 s, its job aborted
# with the reason, while another job prints.
"$PWGMAKE" "$W/docs/slow.pwg" 384 200 203 1 || fail pwgmake
head -c 3000 /dev/zero > "$W/docs/slow.bin"
printf 'OTHER;' > "$W/docs/other.bin"
# format | document
while IFS='|' read -r format doc; do
    id=$(($(newest_job till) + 1))
    t0=$(date +%s%N)
    dfstream trickle "ipp://$SRV/ipp/print/till" "$W/docs/$doc" "$format" --head 1900 --every 0.5 \
        --stop-after 12 > "$W/trickle.out" 2>&1 &
    client=$!
    for i in $(seq 100); do [ -n "$(job_info till "$id")" ] && break; sleep 0.05; done
    other=$(ipp_job till "$W/docs/other.bin" application/vnd.dotforge-escpos)
    st=$(wait_job till "$other")
    ms=$((($(date +%s%N) - t0) / 1000000))
    [ "$st" = completed ] && [ "$ms" -lt 8000 ] && echo "ok   $format: another job printed after $ms ms" ||
        bad "$format: another job was $st after $ms ms"
    wait "$client"
    grep -q '^closed' "$W/trickle.out" && echo "ok   $format: the server closed the connection" ||
        bad "$format: the client $(cat "$W/trickle.out")"
    got=$(get_job "ipp://$SRV/ipp/print/till" "$id" job-state,job-state-reasons,job-state-message)
    case "$got" in
        'aborted,aborted-by-system,The client stopped sending the document'*) echo "ok   $format: $got" ;;
        *) bad "$format: the stalled job is '$got'" ;;
    esac
done <<'EOT'
image/pwg-raster|slow.pwg
application/vnd.dotforge-escpos|slow.bin
EOT

app_stop
app_clean || FAILED=$((FAILED + 1))
echo "$FAILED failed"
[ "$FAILED" = 0 ]
