#!/bin/bash
# The server never wedges on what runs around it:
#   - the web interface's Add Printer page with avahi-daemon absent, or gone
#     since the server started: the page comes, names the reason network
#     printers are not searched and lists the serial ports; the server lives;
#   - stopping (SIGTERM or `dotforge-app shutdown`) ends within a few seconds
#     in each of these states;
#   - a printer that cannot be reached: printer-state-message, its page, the
#     home page and `jobs` say why it stopped;
#   - a printer that is switched off (connects to it wait): other printers'
#     jobs, pages, adding a printer answer within 3 s, and a job answered is
#     in the state even after kill -9 right then;
#   - a log that must be rotated: stderr sent to a file over the size limit,
#     a log file in a directory the server's user cannot write, and a
#     writable one (rotated to FILE.O).
# It runs in network, mount and PID namespaces of its own, with a private
# D-Bus system bus and avahi-daemon on a private /run.
#
# Usage: app_wedge.sh APP FILTER PPD_DIR PWGMAKE
set -u
. "${BASH_SOURCE[0]%/*}/../cups/common.sh"

if [ -z "${DF_WEDGE_NS:-}" ]; then
    require_root
    require_programs unshare ip
    unshare -m -n -p --fork --mount-proc true 2>/dev/null || skip "namespaces cannot be made here"
    DF_WEDGE_NS=1 exec timeout 200 unshare -m -n -p --fork --mount-proc bash "$0" "$@"
fi
. "${BASH_SOURCE[0]%/*}/app_common.sh"
require_programs curl
app_setup "$@" dotforge-app-wedge
ip link set lo up || fail "no loopback"
mount -t tmpfs tmpfs /run || fail "cannot mount a private /run"
mkdir -p /run/dbus /run/avahi-daemon
AVAHI=0
if command -v dbus-daemon > /dev/null && command -v avahi-daemon > /dev/null; then
    AVAHI=1
    cat > "$W/dbus.conf" <<'EOT'
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>system</type>
  <listen>unix:path=/run/dbus/system_bus_socket</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow user="*"/> <allow own="*"/> <allow send_destination="*"/> <allow receive_sender="*"/>
  </policy>
</busconfig>
EOT
    printf '[server]\nuse-ipv6=no\n[wide-area]\nenable-wide-area=no\n[publish]\npublish-workstation=no\n' \
        > "$W/avahi.conf"
    dbus-daemon --config-file="$W/dbus.conf" --fork || fail "no private D-Bus system bus"
else
    echo "note: dbus-daemon or avahi-daemon missing, only the cases without avahi run"
fi

FAILED=0
bad() { echo "FAIL $*"; FAILED=$((FAILED + 1)); }

avahi_start() {
    local i
    avahi-daemon -f "$W/avahi.conf" --no-drop-root --no-chroot --no-rlimits -D 2>> "$W/avahi.err" ||
        fail "avahi-daemon did not start"
    for i in $(seq 100); do [ -S /run/avahi-daemon/socket ] && return 0; sleep 0.05; done
    fail "avahi-daemon did not come up"
}
# Gone without a word, as a crash or an OOM kill leaves it (socket file too).
avahi_kill() { kill -KILL "$(cat /run/avahi-daemon/pid)" 2>/dev/null; sleep 0.5; }

# stop_within SECONDS HOW: SIGTERM or the shutdown sub-command; true when the
# server has gone within SECONDS.
stop_within() {
    local i out
    if [ "$2" = shutdown ]; then
        out=$(ASAN_OPTIONS=$ASAN_OPTIONS:detect_leaks=0 timeout 10 "$APP" shutdown 2>&1) ||
            echo "     shutdown said: $out"
    else
        kill -TERM "$APP_PID"
    fi
    for i in $(seq $(($1 * 10))); do
        kill -0 "$APP_PID" 2>/dev/null || { wait "$APP_PID"; APP_PID=; return 0; }
        sleep 0.1
    done
    app_stop
    return 1
}

say "Add Printer page and stopping, avahi absent, gone or running"
# avahi before the page | how the server is stopped
while IFS='|' read -r avahi how; do
    [ "$avahi" != absent ] && [ "$AVAHI" = 0 ] && continue
    [ "$avahi" != absent ] && avahi_start
    rm -f "$W/state"
    app_start
    "$APP" add -d p -m tspl-203 -v socket://127.0.0.1:9 > /dev/null 2>&1 || bad "$avahi: add failed"
    [ "$avahi" = gone ] && avahi_kill
    page=$(curl -s --max-time 30 "http://$SRV/addprinter")
    if ! kill -0 "$APP_PID" 2>/dev/null; then
        bad "$avahi/$how: the server died on the Add Printer page: $(grep -m1 -i assert "$W/app.out")"
        APP_PID=
        continue
    fi
    case "$avahi" in
        running) want='Network Printer' ;;
        *) want='avahi-daemon is not running, network printers are not searched' ;;
    esac
    grep -q "$want" <<< "$page" || bad "$avahi/$how: the Add Printer page lacks [$want]"
    # Serial ports come with a choice of line speed (where this machine has one).
    port=$(grep -o '>Serial port [A-Za-z0-9]*' <<< "$page" | head -n 1 | cut -c 14-)
    if [ -n "$port" ] && ! grep -q "value=\"serial:/dev/$port?baud=115200|\">Serial port $port, 115200 baud" <<< "$page"; then
        bad "$avahi/$how: serial port $port is offered without line speeds"
    fi
    if stop_within 5 "$how"; then
        echo "ok   avahi $avahi: page shown, $how stopped the server within 5 s"
    else
        bad "avahi $avahi: $how did not stop the server within 5 s"
    fi
    [ "$avahi" = running ] && avahi_kill
done <<'EOT'
absent|TERM
absent|shutdown
gone|TERM
gone|shutdown
running|shutdown
EOT

say "A printer that cannot be reached says why it stopped"
rm -f "$W/state"
app_start
"$APP" add -d gone -m tspl-203 -v socket://127.0.0.1:1 > /dev/null || bad "add gone"
"$PWGMAKE" "$W/docs/gone.pwg" 100 100 203 1 || fail pwgmake
# The raster streams to the printer as it comes: the request waits with it.
ipp_job gone "$W/docs/gone.pwg" image/pwg-raster > /dev/null 2>&1 &
JOBCLIENT=$!
for i in $(seq 100); do
    [[ "$(printer_info gone printer-state)" == stopped* ]] && break
    sleep 0.1
done
# Nothing listens there: the connection is refused (PAPPL's own socket
# device said "Host is down").
reason="Unable to connect to '127.0.0.1:1': Connection refused"
msg=$(printer_info gone printer-state-message)
# page | where the reason must show
while IFS='|' read -r what page; do
    if [ "$what" = ipp ]; then
        got=$msg
    else
        got=$(curl -s --max-time 10 "http://$SRV$page" | grep -o 'class="stopped".*' | head -n 1)
    fi
    if grep -qF "$reason" <<< "$got"; then
        echo "ok   $what: the reason is there"
    else
        bad "$what lacks the reason: ${got:0:200}"
    fi
done <<'EOT'
ipp|
printer page|/gone
home page|/
EOT
# `jobs` shows why the job waits.
line=$("$APP" jobs -d gone 2>&1 | head -n 1)
grep -qF "$reason" <<< "$line" && echo "ok   jobs: $line" || bad "jobs does not say why the job waits: $line"
# (A job still waiting for the device holds PAPPL's shutdown for 30 s and
# more: it is cancelled first.)
timeout 10 "$APP" cancel -d gone -a > /dev/null 2>&1
kill "$JOBCLIENT" 2> /dev/null
wait "$JOBCLIENT" 2> /dev/null
stop_within 10 TERM || bad "SIGTERM with a stopped printer"

say "A printer that is switched off holds up no one else"
# Its host drops connections: a connect waits 30 s. Clients, pages, other
# printers and the state saved before a job's answer must not wait with it.
rm -f "$W/state"
app_start
NETPORT=$(dfstream freeport)
start_printer "$NETPORT" "$W/net"
OFFPORT=$(dfstream freeport)
start_dead_printer "$OFFPORT" "$W/off"
"$APP" add -d off -m escpos-58 -v "socket://127.0.0.1:$OFFPORT" > /dev/null || bad "add off"
"$APP" add -d till -m escpos-58 -v "socket://127.0.0.1:$NETPORT" > /dev/null || bad "add till"
printf 'OFF;' > "$W/docs/off.bin"
printf 'TILL;' > "$W/docs/till.bin"
offjob=$(ipp_job off "$W/docs/off.bin" application/vnd.dotforge-escpos)
sleep 1
# took COMMAND...: how many milliseconds it took.
took() {
    local t0
    t0=$(date +%s%N)
    "$@" > /dev/null 2>&1
    echo $((($(date +%s%N) - t0) / 1000000))
}
while IFS='|' read -r what cmd; do
    ms=$(took eval "$cmd")
    [ "$ms" -lt 3000 ] && echo "ok   $what: $ms ms" || bad "$what took $ms ms while a printer is off"
done <<'EOT'
Print-Job to another printer|ipp_job till "$W/docs/till.bin" application/vnd.dotforge-escpos
the home page|curl -s --max-time 60 "http://$SRV/"
the switched-off printer's page|curl -s --max-time 60 "http://$SRV/off"
Get-Printer-Attributes of the switched-off printer|printer_info off printer-state
adding a printer|"$APP" add -d added -m escpos-58 -v "socket://127.0.0.1:$NETPORT"
EOT
for i in $(seq 100); do [[ "$(printer_info off printer-state)" == stopped* ]] && break; sleep 0.1; done
msg=$(printer_info off printer-state-message)
grep -qE 'does not answer|Unable to connect' <<< "$msg" && echo "ok   the switched-off printer: $msg" || bad "printer-state-message '$msg'"
# kill -9 right after the answer: the job answered is in the state.
id=$(ipp_job till "$W/docs/till.bin" application/vnd.dotforge-escpos)
app_kill
for p in till:$id off:$offjob; do
    if sed -n "/^<Printer .*name=\"${p%%:*}\"/,/^<\/Printer>/p" "$W/state" | grep -q "^Job .* id=\"${p#*:}\""; then
        echo "ok   kill -9 after the answer: job ${p#*:} of ${p%%:*} is in the state"
    else
        bad "kill -9 after the answer lost job ${p#*:} of ${p%%:*}"
    fi
done
app_start
sleep 1
stop_within 10 TERM || bad "SIGTERM with a printer that is off"

say "Log rotation never wedges the server"
MIB=1048576
# big_file PATH OWNER: a log already past PAPPL's 1 MiB limit.
big_file() { head -c $((MIB + 4096)) /dev/zero | tr '\0' 'x' > "$1"; chown "$2" "$1"; }
# answers: the server still serves pages after logging a while.
answers() {
    local i
    for i in 1 2 3 4 5; do
        curl -s --max-time 5 -o /dev/null "http://$SRV/" || return 1
    done
    [ -n "${1:-}" ] || timeout 5 "$APP" printers > /dev/null 2>&1
}
# case | log-file | user
while IFS='|' read -r what log user; do
    if [ -n "$user" ] && ! id "$user" > /dev/null 2>&1; then
        echo "note: no user $user, case '$what' skipped"
        continue
    fi
    rm -f "$W/state"
    mkdir -p "$W/logdir"
    chmod 755 "$W/logdir"
    chown -R "${user:-root}" "$W/run" "$W/appspool"
    case "$log" in
        -)
            big_file "$W/stderr" root
            APP_LOG=- APP_OUT="$W/stderr" APP_USER="$user" app_start
            ;;
        *)
            big_file "$W/logdir/$log" "${user:-root}"
            APP_LOG="$W/logdir/$log" APP_USER="$user" app_start
            ;;
    esac
    if answers "$user"; then
        echo "ok   $what: the server answers"
    else
        bad "$what: the server stopped answering once its log passed 1 MiB"
    fi
    if [ "$log" = app-rot.log ] && { [ ! -s "$W/logdir/$log.O" ] || [ "$(stat -c %s "$W/logdir/$log")" -ge $MIB ]; }; then
        bad "$what: not rotated to $log.O"
    fi
    stop_within 5 TERM || bad "$what: SIGTERM did not stop the server"
    chown -R root "$W/run" "$W/appspool"
    rm -rf "$W/logdir"
done <<'EOT'
stderr sent to a file over 1 MiB|-|
log file in a directory the server cannot write|app-ro.log|nobody
log file in a writable directory|app-rot.log|
EOT

app_clean || FAILED=$((FAILED + 1))
echo "$FAILED failed"
[ "$FAILED" = 0 ]
