#!/bin/bash
# Starting the printer application without systemd:
#   - a sub-command typed at a shell (found through PATH) that finds no
#     server says so and fails; it starts none;
#   - a server-port that is no port (abc, 65536) is refused with a clear
#     message;
#   - `drivers` answers while a server holds the port;
#   - a second `server` refuses rather than take over the running one's
#     control socket;
#   - the package's init script starts the server as the service user with
#     its runtime directory, the service's sub-commands reach it through
#     TMPDIR as the README says, `status` tells, and `stop` ends it;
#   - jobs waiting for paper stay queued over the init script's stop and
#     start and print once after.
#
# Usage: app_initd.sh APP FILTER PPD_DIR PWGMAKE
set -u
. "${BASH_SOURCE[0]%/*}/../cups/common.sh"
. "${BASH_SOURCE[0]%/*}/app_common.sh"

app_setup "$@" dotforge-app-initd
INIT=$(readlink -f "${BASH_SOURCE[0]%/*}/../../packaging/dotforge-app/dotforge-app.init")
FAILED=0
bad() { echo "FAIL $*"; FAILED=$((FAILED + 1)); }
export ASAN_OPTIONS=$ASAN_OPTIONS:detect_leaks=0

# alive PID: the process exists and is not a zombie nobody reaped.
alive() { [ -n "$1" ] && [ -e "/proc/$1" ] && ! grep -q '^[0-9]* ([^)]*) Z' "/proc/$1/stat" 2>/dev/null; }

say "Sub-commands without a server"
# They say so and fail at once, and start no server (PAPPL's would keep the
# caller's output open: `printers | head` never returned). A server started
# anyway would get a network of its own here.
NS=()
[ "$(id -u)" = 0 ] && unshare -n true 2> /dev/null && NS=(unshare -n)
while read -r args; do
    (cd "$W" && PATH="$(dirname "$APP"):$PATH" timeout 10 "${NS[@]}" dotforge-app $args > "$W/out" 2>&1 < /dev/null)
    st=$?
    started=$(pgrep -f -- "server -o private-server" | while read -r p; do
        [ "$(readlink "/proc/$p/exe")" = "$APP" ] && echo "$p"; done | tr '\n' ' ')
    for p in $started; do kill -KILL "$p"; done
    if [ $st = 0 ] || [ $st = 124 ] || ! grep -q 'no dotforge-app server is running' "$W/out" || [ -n "$started" ]; then
        bad "$args without a server: status $st, started [$started], said: $(head -c 300 "$W/out")"
    else
        echo "ok   $args without a server: $(head -n 1 "$W/out")"
    fi
done <<'EOT'
printers
jobs
jobs -d Label
status
cancel -d Label -j 1
submit -d Label /dev/null
shutdown
EOT

say "a server port that is no port"
for port in abc 12ab 65536; do
    out=$(timeout 5 "$APP" server -o server-port="$port" -o state-file="$W/state-port" 2>&1)
    status=$?
    if [ $status != 0 ] && [ $status != 124 ] &&
        grep -q "Bad 'server-port' value '$port' (a whole number from 0 to 65535)" <<< "$out"; then
        echo "ok   server-port=$port refused"
    else
        bad "server-port=$port: status $status, said [$out]"
    fi
done

say "drivers and a second server while one runs"
app_start
n=$(timeout 10 "$APP" drivers 2> "$W/drivers.err" | grep -c '^[a-z0-9-]* "dotforge ')
want=$(app_drivers | wc -l)
[ "$n" = "$want" ] && echo "ok   drivers: $want while the server runs" || bad "drivers while a server runs: $n lines: $(cat "$W/drivers.err")"
OTHER=$(dfstream freeport)
out=$(timeout 10 "$APP" server -o server-port="$OTHER" -o state-file="$W/state2" 2>&1)
status=$?
if [ $status != 0 ] && grep -q 'already running' <<< "$out" && kill -0 "$APP_PID" 2>/dev/null &&
    timeout 10 "$APP" printers > /dev/null 2>&1; then
    echo "ok   a second server refused, the first keeps its socket"
else
    bad "second server: status $status, said [$out]"
fi
app_stop

say "The init script"
if ! command -v start-stop-daemon > /dev/null || ! id nobody > /dev/null 2>&1 || [ "$(id -u)" != 0 ]; then
    echo "note: needs root, start-stop-daemon and user nobody; skipped"
else
    export DAEMON=$APP DAEMON_USER=nobody STATE_DIR=$W/istate RUN_DIR=$W/irun
    export SERVER_OPTIONS="-o server-port=$(dfstream freeport)"
    start=$(timeout 30 sh "$INIT" start 2>&1)
    st=$(sh "$INIT" status 2>&1)
    list=$(setpriv --reuid="$(id -u nobody)" --regid="$(id -g nobody)" --clear-groups \
        env TMPDIR="$RUN_DIR" timeout 20 "$APP" drivers 2>&1; setpriv --reuid="$(id -u nobody)" \
        --regid="$(id -g nobody)" --clear-groups env TMPDIR="$RUN_DIR" timeout 20 "$APP" printers 2>&1)
    pid=$(cat "$RUN_DIR/dotforge-app.pid" 2>/dev/null)
    t0=$(date +%s)
    stop=$(timeout 30 sh "$INIT" stop 2>&1)
    t1=$(date +%s)
    sh "$INIT" status > /dev/null 2>&1
    after=$?
    if ! grep -q 'Starting dotforge-app: dotforge-app\.' <<< "$start"; then
        bad "init start: $start"; tail -n 5 "$STATE_DIR/dotforge-app.log" 2>/dev/null
    elif ! grep -q 'is running' <<< "$st"; then
        bad "init status: $st"
    elif grep -q 'Unable' <<< "$list"; then
        bad "the service's sub-commands: $list"
    elif [ "$after" != 3 ] || alive "$pid"; then
        bad "init stop: $stop (status after: $after)"
    else
        echo "ok   init script: started as nobody in $(basename "$RUN_DIR"), sub-commands reach it, stopped in $((t1 - t0)) s"
    fi
    [ -n "$pid" ] && kill -KILL "$pid" 2> /dev/null
fi

say "Jobs waiting for paper stay queued over the init script's stop and start"
if ! command -v start-stop-daemon > /dev/null || ! id nobody > /dev/null 2>&1 || [ "$(id -u)" != 0 ] ||
    ! command -v gs > /dev/null; then
    echo "note: needs root, start-stop-daemon, user nobody and Ghostscript; skipped"
else
    export DAEMON=$APP DAEMON_USER=nobody STATE_DIR=$W/istate RUN_DIR=$W/irun
    export SERVER_OPTIONS="-o server-port=$(dfstream freeport)"
    svc() { setpriv --reuid="$(id -u nobody)" --regid="$(id -g nobody)" --clear-groups \
        env TMPDIR="$RUN_DIR" timeout 20 "$APP" "$@" 2>&1; }
    virtual label paper-out
    make_doc "$W/docs/qr.png" 40 20 1 203
    make_doc "$W/docs/border.png" 40 30 1 203
    chmod 644 "$W"/docs/*
    timeout 30 sh "$INIT" start > /dev/null 2>&1
    svc add -d label -m tspl-203 -v "socket://127.0.0.1:$VP_PORT" > /dev/null || bad "add through the service"
    svc submit -d label "$W/docs/qr.png" > /dev/null || bad "submit qr.png"
    svc submit -d label "$W/docs/border.png" > /dev/null || bad "submit border.png"
    for i in $(seq 50); do svc jobs -d label | grep -q 'Waiting for the printer' && break; sleep 0.1; done
    timeout 30 sh "$INIT" stop > /dev/null 2>&1
    timeout 30 sh "$INIT" start > /dev/null 2>&1
    after=$(svc jobs -d label)
    if [ "$(grep -c -e pending -e processing <<< "$after")" = 2 ]; then
        echo "ok   after stop and start both jobs are queued"
    else
        bad "after stop and start: $after"
    fi
    echo ready > "$W/label/status"
    for i in $(seq 100); do [ "$(svc jobs -d label | grep -c completed)" = 2 ] && break; sleep 0.1; done
    sleep 0.5
    n=$(pages "$W/label")
    [ "$n" = 2 ] && echo "ok   each job printed once when the paper came back" ||
        bad "$n pages printed, not 2: $(svc jobs -d label)"
    grep -q "Stopped while waiting" "$STATE_DIR/dotforge-app.log" && bad "the log says a job was stopped"
    pid=$(cat "$RUN_DIR/dotforge-app.pid" 2>/dev/null)
    timeout 30 sh "$INIT" stop > /dev/null 2>&1
    [ -n "$pid" ] && kill -KILL "$pid" 2> /dev/null
fi

echo "$FAILED failed"
[ "$FAILED" = 0 ]
