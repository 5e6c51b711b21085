#!/bin/bash
# Printer status through dotforge-app, against dotforge-preview's virtual
# printer: paper out shows in printer-state-reasons, a job sent then waits
# with the reason and prints once, whole, when the paper is back; a waiting
# job can be cancelled; a printer that never answers prints as before; a
# pocket printer shows its battery; a printer that trickles bytes holds no
# request, one that answers noise changes no status; a printer that stops
# reading mid-job: a cancel ends the job at once, -o device-timeout ends it
# with the reason, the jobs behind it print whole.
#
# Usage: app_status.sh APP FILTER PPD_DIR PWGMAKE
set -u
. "${BASH_SOURCE[0]%/*}/../cups/common.sh"
. "${BASH_SOURCE[0]%/*}/app_common.sh"

app_setup "$@" dotforge-app-status
PREVIEW=$(dirname "$FILTER")/tools/dotforge-preview
[ -x "$PREVIEW" ] || skip "dotforge-preview not built"
FAILED=0
bad() { echo "FAIL $*"; FAILED=$((FAILED + 1)); }

# A printer that takes no data ends its job after 3 s here (60 s by default).
app_start -o device-timeout=3
while read -r drv status; do
    virtual "$drv" "$status"
    "$APP" add -d "$drv" -m "$drv" -v "socket://127.0.0.1:$VP_PORT" > "$W/add-$drv.txt" 2>&1 ||
        { cat "$W/add-$drv.txt"; fail "could not add printer $drv"; }
done <<'EOT'
escpos-58 paper-out
tspl-203 cover-open
cpcl-203 paper-out
peripage-57 paper-out battery=40
paperang-57 battery=55
EOT
virtual silent silent
"$APP" add -d silent -m escpos-58 -v "socket://127.0.0.1:$VP_PORT" > /dev/null 2>&1 || fail "could not add printer silent"
# A serial printer: the virtual printer on a pseudo-terminal.
mkdir -p "$W/serial"
echo cover-open > "$W/serial/status"
"$PREVIEW" --pty --status-file "$W/serial/status" -o "$W/serial/job" > "$W/serial/log" 2>&1 &
LISTENER_PIDS+=($!)
for i in $(seq 100); do grep -q "^pty " "$W/serial/log" && break; sleep 0.05; done
PTY=$(awk '/^pty / {print $2; exit}' "$W/serial/log")
"$APP" add -d serial -m escpos-58 -v "serial:$PTY?baud=115200" > "$W/add-serial.txt" 2>&1 ||
    { cat "$W/add-serial.txt"; fail "could not add printer serial"; }
uri() { echo "ipp://$SRV/ipp/print/$1"; }

# submit PRINTER: a receipt job through ipptool in the background (PAPPL
# answers a streamed Print-Job only once the job has printed); prints its id.
submit() {
    local before i now
    before=$(last_job "$1")
    ipp_job "$1" "$W/docs/receipt.pwg" image/pwg-raster "ATTR keyword media om_roll-58-50_48x50mm" > /dev/null &
    for i in $(seq 100); do
        now=$(last_job "$1")
        [ -n "$now" ] && [ "$now" != "$before" ] && { echo "$now"; return 0; }
        sleep 0.1
    done
    return 1
}

say "Conditions in printer-state-reasons"
while read -r drv reason; do
    if wait_reason "$(uri "$drv")" "$reason"; then
        echo "ok   $drv: $reason"
    else
        bad "$drv: no $reason in $(get_printer "$(uri "$drv")" printer-state-reasons)"
    fi
done <<'EOT'
escpos-58 media-empty-error
tspl-203 cover-open-error
cpcl-203 media-empty-error
peripage-57 media-empty-error
serial cover-open-error
EOT
if command -v curl > /dev/null; then
    curl -s "http://$SRV/escpos-58" | grep -q "Out of paper" && echo "ok   the web page says: Out of paper" ||
        bad "the printer's web page does not show paper out"
fi
say "The status text reads right"
# Two reasons: `status` separates them from its date and from each other,
# ends with one full stop and tells a real time; the web page's line lists
# the words without a full stop each.
echo "cover-open paper-out" > "$W/tspl-203/status"
wait_reason "$(uri tspl-203)" media-empty-error || bad "tspl-203: no media-empty-error"
line=$("$APP" status -d tspl-203 2>&1)
case "$line" in
    *1970*) bad "status says: $line" ;;
    "Running, idle since "*" $(date -u +%Y) "*" GMT; cover-open-error, media-empty-error.") echo "ok   status: $line" ;;
    *) bad "status says: $line" ;;
esac
if command -v curl > /dev/null; then
    web=$(curl -s "http://$SRV/tspl-203" | grep -o 'Idle, [^<]*' | head -n 1)
    case "$web" in
        *"Cover open, Out of paper."*) echo "ok   the web page says: $web" ;;
        *) bad "the web page says: $web" ;;
    esac
    case "$web" in *..* | *"., "*) bad "the web page's line has doubled full stops: $web" ;; esac
fi
echo cover-open > "$W/tspl-203/status"
# Identify-Printer's beep reaches the virtual printer as a job of its own,
# which dotforge-preview reads: no pages, no fault.
printer_op_test "$W/tests/identify.test" Identify-Printer
st=$(ipptool -tv "$(uri tspl-203)" "$W/tests/identify.test" 2>&1 | ipp_status)
for i in $(seq 40); do grep -q "^job .*TSPL" "$W/tspl-203/log" && break; sleep 0.1; done
if grep -q "^job 1: TSPL, 13 bytes, 0 pages" "$W/tspl-203/log" && ! grep -q "dotforge-preview: job" "$W/tspl-203/log"; then
    echo "ok   Identify-Printer ($st): $(grep "^job 1" "$W/tspl-203/log")"
else
    bad "Identify-Printer ($st): the virtual printer logged $(grep -v '^query' "$W/tspl-203/log" | tail -n 3)"
fi

for p in peripage-57:40 paperang-57:55; do
    supply=$(get_printer "$(uri "${p%:*}")" printer-supply)
    case "$supply" in *"level=${p#*:}"*) echo "ok   ${p%:*}: battery ${p#*:} % in printer-supply" ;;
        *) bad "${p%:*}: printer-supply is $supply" ;; esac
done

"$PWGMAKE" "$W/docs/receipt.pwg" 384 200 203 1 || fail "pwgmake"
expect_filter escpos-58 "" "$W/docs/receipt.pwg" "$W/expect/receipt.bin"

say "A job waits for paper and prints once"
id=$(submit escpos-58) || fail "no job"
sleep 2
info=$(job_info escpos-58 "$id")
case "$info" in processing*printer-stopped*) echo "ok   waiting: $info" ;; *) bad "the job is $info, not waiting" ;; esac
msg=$(get_job "$(uri escpos-58)" "$id" job-state-message)
case "$msg" in *"paper out"*) echo "ok   job-state-message: $msg" ;; *) bad "job-state-message: $msg" ;; esac
line=$("$APP" jobs -d escpos-58 | awk -v id="$id" '$1 == id')
case "$line" in *"(Waiting for the printer: paper out.)") echo "ok   jobs: $line" ;; *) bad "jobs: $line" ;; esac
[ -e "$W/escpos-58/job-1.prn" ] && bad "the job reached the printer without paper"
echo ready > "$W/escpos-58/status"
state=$(wait_job escpos-58 "$id")
[ "$state" = completed ] || bad "the job ended $state"
wait_reason "$(uri escpos-58)" none 5 || bad "the reason stays: $(get_printer "$(uri escpos-58)" printer-state-reasons)"
sleep 0.5
same_bytes "escpos-58 after paper-out" "$W/escpos-58/job-1.prn" "$W/expect/receipt.bin" || FAILED=$((FAILED + 1))
[ -e "$W/escpos-58/job-2.prn" ] && bad "the job was printed twice"

say "Cancel while waiting"
echo jam > "$W/escpos-58/status"
id=$(submit escpos-58) || fail "no job"
sleep 1.5
"$APP" cancel -d escpos-58 -j "$id" > /dev/null 2>&1 || bad "cancel refused"
state=$(wait_job escpos-58 "$id")
[ "$state" = canceled ] && echo "ok   cancelled while waiting" || bad "the cancelled job ended $state"
sleep 0.5
[ -e "$W/escpos-58/job-2.prn" ] && bad "a cancelled job reached the printer"

say "A printer that never answers"
# The time a job takes on a printer that answers at once, to compare.
echo ready > "$W/escpos-58/status"
start=$(date +%s%N)
id=$(submit escpos-58) || fail "no job"
wait_job escpos-58 "$id" > /dev/null
base=$((($(date +%s%N) - start) / 1000000))
start=$(date +%s%N)
id=$(submit silent) || fail "no job"
state=$(wait_job silent "$id")
ms=$((($(date +%s%N) - start) / 1000000))
[ "$state" = completed ] && echo "ok   printed in $ms ms (a printer that answers: $base ms)" ||
    bad "the job ended $state"
[ "$ms" -le $((base + 1000)) ] || bad "the job took $ms ms, $base ms on a printer that answers"
reasons=$(get_printer "$(uri silent)" printer-state-reasons)
[ "$reasons" = none ] && echo "ok   no reason set" || bad "reasons $reasons"
sleep 0.5
same_bytes "silent printer" "$W/silent/job-1.prn" "$W/expect/receipt.bin" || FAILED=$((FAILED + 1))
n=$(grep -c "^query" "$W/silent/log")
[ "$n" -le 1 ] && echo "ok   asked $n time(s)" || bad "a silent printer was asked $n times"

say "Status replies that go wrong"
# A byte every 50 ms that never makes a reply (it held Get-Printer-Attributes
# 206 s), and noise that holds reply-like bytes (read as paper out).
for kind in slow noise; do
    port=$(dfstream freeport)
    start_printer "$port" "$W/$kind" --answer "$kind"
    timeout 20 "$APP" add -d "$kind" -m escpos-58 -v "socket://127.0.0.1:$port" > /dev/null 2>&1 ||
        bad "could not add printer $kind"
done
start=$(date +%s%N)
reasons=$(timeout 20 ipptool -T 20 -c "$(uri slow)" "$W/getprinter-printer-state-reasons.test" 2>&1 | tail -n 1)
ms=$((($(date +%s%N) - start) / 1000000))
[ "$ms" -le 5000 ] && echo "ok   the slow printer's status took $ms ms ($reasons)" ||
    bad "Get-Printer-Attributes took $ms ms on a printer sending a byte every 50 ms"
seen=""
for i in $(seq 8); do
    seen="$seen $(get_printer "$(uri noise)" printer-state-reasons)"
    sleep 0.25
done
case "$seen" in *error*) bad "noise read as a status:$seen" ;; *) echo "ok   noise changes no status:$seen" ;; esac
grep -q "was no status reply" "$W/app.log" && echo "ok   the log says the answer was no status reply" ||
    bad "the log does not say the answer was no status reply"

say "A printer that stops reading in the middle of a job"
# Two jobs stall (the first is cancelled, the second meets the 3 s timeout);
# the third prints whole on a new connection.
port=$(dfstream freeport)
start_printer "$port" "$W/stall" --stall 2
"$APP" add -d stall -m escpos-58 -v "socket://127.0.0.1:$port" > /dev/null 2>&1 || fail "could not add printer stall"
head -c 16000000 /dev/zero > "$W/docs/big.bin"
for i in $(seq 20); do printf '\x1b@the job behind the stalled ones\n'; done > "$W/docs/small.bin"
before=$(last_job stall)
first=$((${before:-0} + 1))
# One after the other, each once the one before it reached the printer.
ipp_job stall "$W/docs/big.bin" application/vnd.dotforge-escpos > /dev/null 2>&1 &
for i in $(seq 100); do [ -e "$W/stall/stalled-1" ] && break; sleep 0.1; done
[ -e "$W/stall/stalled-1" ] || bad "the first job never reached the printer"
ipp_job stall "$W/docs/big.bin" application/vnd.dotforge-escpos > /dev/null 2>&1 &
for i in $(seq 100); do [ "$(last_job stall)" = $((first + 1)) ] && break; sleep 0.1; done
start=$(date +%s%N)
"$APP" cancel -d stall -j "$first" > /dev/null 2>&1 || bad "cancel refused"
state=$(wait_job stall "$first")
ms=$((($(date +%s%N) - start) / 1000000))
[ "$state" = canceled ] && [ "$ms" -le 3000 ] && echo "ok   cancelled in $ms ms while the printer read nothing" ||
    bad "the job was $state $ms ms after Cancel-Job"
for i in $(seq 100); do [ -e "$W/stall/stalled-2" ] && break; sleep 0.1; done
ipp_job stall "$W/docs/small.bin" application/vnd.dotforge-escpos > /dev/null 2>&1 &
state=$(wait_job stall $((first + 1)))
msg=$(get_job "$(uri stall)" $((first + 1)) job-state-message)
case "$state $msg" in
    "aborted "*"took no data for 3 seconds"*) echo "ok   a stalled job ends: $msg" ;;
    *) bad "the stalled job is $state: $msg" ;;
esac
state=$(wait_job stall $((first + 2)))
[ "$state" = completed ] && echo "ok   the job behind them printed" || bad "the job behind them is $state"
sleep 0.5
same_bytes "the job behind the stalled ones" "$W/stall/conn-1.bin" "$W/docs/small.bin" || FAILED=$((FAILED + 1))

say "Stopping the server while a job waits"
echo paper-out > "$W/escpos-58/status"
id=$(submit escpos-58) || fail "no job"
sleep 1.5
start=$(date +%s%N)
kill -TERM "$APP_PID"
for i in $(seq 100); do kill -0 "$APP_PID" 2>/dev/null || break; sleep 0.05; done
ms=$((($(date +%s%N) - start) / 1000000))
kill -0 "$APP_PID" 2>/dev/null && bad "the server still runs $ms ms after SIGTERM" || echo "ok   stopped in $ms ms"
app_stop

say "Jobs waiting for the printer stay queued over a restart"
# Two spooled jobs (the first one waiting) on a printer that reports the
# condition; SIGTERM or the shutdown sub-command, a new start, then the
# printer is ready: each job prints once, in job-id order, none is aborted.
command -v gs > /dev/null || fail "Ghostscript (gs) is needed for the PNG jobs"
make_doc "$W/docs/qr.png" 40 20 1 203
make_doc "$W/docs/border.png" 40 30 1 203
while read -r drv cond how; do
    app_start
    echo "$cond" > "$W/$drv/status"
    before=$(pages "$W/$drv")
    ids=()
    for doc in qr.png border.png; do
        "$APP" submit -d "$drv" "$W/docs/$doc" > /dev/null 2>&1 || bad "$drv: submit $doc refused"
        ids+=("$(last_job "$drv")")
    done
    for i in $(seq 50); do job_info "$drv" "${ids[0]}" | grep -q printer-stopped && break; sleep 0.1; done
    if [ "$how" = TERM ]; then kill -TERM "$APP_PID"; else timeout 10 "$APP" shutdown > /dev/null 2>&1; fi
    for i in $(seq 100); do kill -0 "$APP_PID" 2>/dev/null || break; sleep 0.05; done
    kill -0 "$APP_PID" 2>/dev/null && bad "$drv: the server still runs 5 s after $how"
    app_stop
    app_start
    states=$(for id in "${ids[@]}"; do job_info "$drv" "$id" | cut -d, -f1; done | tr '\n' ' ')
    case "$states" in *aborted* | *canceled* | *completed* | "") bad "$drv, $cond: after the restart the jobs are $states" ;;
        *) echo "ok   $drv, $cond: the jobs are kept over the restart: $states" ;; esac
    echo ready > "$W/$drv/status"
    for id in "${ids[@]}"; do
        state=$(wait_job "$drv" "$id")
        [ "$state" = completed ] || bad "$drv: job $id ended $state after the restart"
    done
    sleep 0.5
    got=$(($(pages "$W/$drv") - before))
    [ "$got" = 2 ] && echo "ok   $drv: both jobs printed once after the restart" ||
        bad "$drv: $got pages reached the printer, not 2"
    order=$(grep -o '\[Job [0-9]*\] Completed' "$W/app.log" | tail -n 2 | awk '{printf "%s ", $2}' | tr -d ']')
    [ "$order" = "${ids[0]} ${ids[1]} " ] && echo "ok   $drv: printed in order: $order" ||
        bad "$drv: started $order, not ${ids[*]}"
    app_stop
done <<'EOT'
escpos-58 paper-out TERM
tspl-203 cover-open shutdown
EOT
app_clean || FAILED=$((FAILED + 1))
[ "$FAILED" -eq 0 ] || fail "$FAILED check(s) failed"
echo "PASS"
