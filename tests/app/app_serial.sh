#!/bin/bash
# Serial printers end to end: dotforge-app with printers on pseudo-terminals
# (serial:/dev/pts/N?...), a job submitted over IPP, and the bytes that
# arrive on the terminal compared with what the filter writes for the same
# raster, with the URI's line settings found on the terminal. A Linux pty
# keeps speed, stop bits and flow control but forces 8 data bits without
# parity, so those two are left to the device test. A printer whose URI the
# scheme does not understand is refused when it is added. A printer that
# stops taking data: a cancel ends its job at once, -o device-timeout ends
# the next with the reason.
#
# Usage: app_serial.sh APP FILTER PPD_DIR PWGMAKE
set -u
. "${BASH_SOURCE[0]%/*}/../cups/common.sh"
. "${BASH_SOURCE[0]%/*}/app_common.sh"

[ -c /dev/ptmx ] || skip "no pseudo-terminals here"
app_setup "$@" dotforge-app-serial
PTYPRINTER="${BASH_SOURCE[0]%/*}/ptyprinter.py"

# start_pty DIR [stall]: a pty printer; sets PTS to its /dev/pts path.
start_pty() {
    local i
    mkdir -p "$1"
    python3 "$PTYPRINTER" "$@" > "$1/log" 2>&1 &
    LISTENER_PIDS+=($!)
    for i in $(seq 100); do [ -s "$1/path" ] && break; sleep 0.05; done
    [ -s "$1/path" ] || fail "the pty printer in $1 did not start"
    PTS=$(cat "$1/path")
}

app_start -o device-timeout=2
FAILED=0
bad() { echo "FAIL $*"; FAILED=$((FAILED + 1)); }

say "dotforge-app devices"
devices=$(timeout 60 "$APP" devices 2>&1)
for port in /dev/ttyS0 /dev/ttyUSB0 /dev/ttyACM0 /dev/rfcomm0; do
    [ -c "$port" ] || continue
    if grep -qx "serial:$port" <<< "$devices"; then
        echo "ok   devices lists serial:$port"
    else
        bad "devices does not list serial:$port: $devices"
    fi
done

say "Jobs to printers on pseudo-terminals"
# driver | URI settings | line settings the terminal must show | PWG size (w h dpi) | media
while IFS='|' read -r drv query want size media; do
    name=$drv-serial
    start_pty "$W/$name"
    "$APP" add -d "$name" -m "$drv" -v "serial:$PTS$query" > "$W/add-$name.txt" 2>&1 ||
        { bad "$name: could not add serial:$PTS$query: $(cat "$W/add-$name.txt")"; continue; }
    load_medium "$name" "$media"
    read -r w h dpi <<< "$size"
    "$PWGMAKE" "$W/docs/$name.pwg" "$w" "$h" "$dpi" 2 || fail "pwgmake"
    expect_filter "$drv" "" "$W/docs/$name.pwg" "$W/expect/$name.bin"
    id=$(ipp_job "$name" "$W/docs/$name.pwg" image/pwg-raster "ATTR keyword media $media")
    state=$(wait_job "$name" "$id")
    wait_bytes "$W/$name/data.bin" "$(stat -c %s "$W/expect/$name.bin")"
    same_bytes "$name ($query)" "$W/$name/data.bin" "$W/expect/$name.bin" || FAILED=$((FAILED + 1))
    [ "$state" = completed ] || bad "$name: job $id ended $state"
    got=$(cat "$W/$name/termios" 2>/dev/null)
    if [ "$got" = "$want" ]; then
        echo "ok   $name line settings: $got"
    else
        bad "$name line settings: '$got', expected '$want'"
    fi
done <<'EOT'
paperang-57|?baud=115200|ospeed=B115200 bits=8 parity=none stop=1 rtscts=0 ixon=0|384 400 203|om_roll-58-50_48x50mm
peripage-57||ospeed=B9600 bits=8 parity=none stop=1 rtscts=0 ixon=0|384 300 203|om_roll-58-50_48x50mm
escpos-58|?baud=19200&bits=8&parity=none&stop=2&flow=rtscts|ospeed=B19200 bits=8 parity=none stop=2 rtscts=1 ixon=0|384 500 203|om_roll-58-50_48x50mm
tspl-203|?baud=57600&flow=xonxoff|ospeed=B57600 bits=8 parity=none stop=1 rtscts=0 ixon=1|400 240 203|om_label-50x30_50x30mm
EOT

say "A serial printer that stops taking data"
start_pty "$W/stall" stall
"$APP" add -d stall -m escpos-58 -v "serial:$PTS?baud=115200" > /dev/null 2>&1 || fail "could not add stall"
head -c 1000000 /dev/zero > "$W/docs/big.bin"
ipp_job stall "$W/docs/big.bin" application/vnd.dotforge-escpos > /dev/null 2>&1 &
for i in $(seq 100); do [ -e "$W/stall/stalled" ] && break; sleep 0.1; done
id=$(last_job stall)
ipp_job stall "$W/docs/big.bin" application/vnd.dotforge-escpos > /dev/null 2>&1 &
sleep 0.5
start=$(date +%s%N)
"$APP" cancel -d stall -j "$id" > /dev/null 2>&1 || bad "cancel refused"
state=$(wait_job stall "$id")
ms=$((($(date +%s%N) - start) / 1000000))
[ "$state" = canceled ] && [ "$ms" -le 3000 ] && echo "ok   cancelled in $ms ms" ||
    bad "the job was $state $ms ms after Cancel-Job"
state=$(wait_job stall $((id + 1)))
msg=$(get_job "ipp://$SRV/ipp/print/stall" $((id + 1)) job-state-message)
case "$state $msg" in
    "aborted "*"took no data for 2 seconds"*) echo "ok   the next job ends: $msg" ;;
    *) bad "the next job is $state: $msg" ;;
esac

say "URIs with settings the scheme does not know are refused when added"
start_pty "$W/bad"
# URI settings | the reason the log must give
while IFS='|' read -r query reason; do
    if "$APP" add -d bad -m escpos-58 -v "serial:$PTS$query" > "$W/add-bad.txt" 2>&1; then
        bad "serial:$PTS$query was accepted"
        "$APP" delete -d bad > /dev/null 2>&1
    elif ! grep -qF "$reason" "$W/app.log"; then
        bad "serial:$PTS$query refused without the reason '$reason'"
    else
        echo "ok   $query refused: $reason"
    fi
done <<'EOT'
?baud=11520|unsupported baud rate
?bits=9|data bits must be 5 to 8
?parity=mark|parity must be none, even or odd
?flow=hardware|flow control must be none, rtscts or xonxoff
?speed=9600|unknown setting
EOT
[ -s "$W/bad/data.bin" ] && bad "$(stat -c %s "$W/bad/data.bin") bytes reached the port of a refused printer"
expect_printers=$("$APP" printers 2>/dev/null | grep -c '^bad$')
[ "$expect_printers" = 0 ] || bad "a refused printer is listed"

app_stop
app_clean || FAILED=$((FAILED + 1))
echo "$FAILED failed"
[ "$FAILED" = 0 ]
