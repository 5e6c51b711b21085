# Shared pieces of the printer application tests (sourced after
# ../cups/common.sh): a private server on a free loopback port with its own
# socket, state file and spool, fake network printers, IPP job helpers and
# the filter run that gives the expected bytes.

# The drivers the build made (one PPD each in PPDDIR, from the family
# descriptors), one a line.
app_drivers() { (cd "$PPDDIR" && ls dotforge-*.ppd) | sed 's/^dotforge-//; s/\.ppd$//'; }

# app_setup APP FILTER PPDDIR PWGMAKE PREFIX: checks and the work directory.
app_setup() {
    APP=$(readlink -f "$1") FILTER=$(readlink -f "$2") PPDDIR=$(readlink -f "$3") PWGMAKE=$(readlink -f "$4")
    require_programs ipptool python3
    [ -x "$APP" ] || fail "dotforge-app $APP not built"
    [ -x "$FILTER" ] || fail "filter $FILTER not built"
    make_workdir "$5"
    export ASAN_OPTIONS=$ASAN_OPTIONS:suppressions=$(readlink -f "${BASH_SOURCE[0]%/*}/asan.supp")
    mkdir -p "$W/run" "$W/appspool" "$W/docs" "$W/expect" "$W/tests"
    # The main loop's sub-commands find the server by a socket under SNAP_COMMON.
    export SNAP_COMMON=$W/run
    APP_PID=
    LISTENER_PIDS=()
    CLEANUP_HOOKS+=(app_cleanup)
    PORT=$(dfstream freeport)
    SRV=127.0.0.1:$PORT
}

# app_start [EXTRA -o OPTIONS]: starts the server and waits for its socket.
# APP_LOG (default $W/app.log) is its log file, APP_OUT its standard output
# and error (default $W/app.out), APP_USER a user to run it as (who must own
# $W/run, where its control socket goes).
app_start() {
    local i deathsig=()
    # A socket left by an earlier server would be taken for a running one.
    rm -f "$W/run/dotforge-app.sock"
    setpriv --pdeathsig TERM true 2>/dev/null && deathsig=(setpriv --pdeathsig TERM)
    if [ -n "${APP_USER:-}" ]; then
        [ ${#deathsig[@]} = 0 ] && deathsig=(setpriv)
        deathsig+=(--reuid="$(id -u "$APP_USER")" --regid="$(id -g "$APP_USER")" --clear-groups env TMPDIR="$W/run")
    fi
    "${deathsig[@]}" "$APP" server -o server-port="$PORT" -o log-file="${APP_LOG:-$W/app.log}" \
        -o log-level=debug -o spool-directory="$W/appspool" -o state-file="$W/state" "$@" \
        >> "${APP_OUT:-$W/app.out}" 2>&1 &
    APP_PID=$!
    for i in $(seq 200); do
        app_ready && break
        kill -0 "$APP_PID" 2>/dev/null || { cat "$W/app.out"; fail "dotforge-app exited at start-up"; }
        sleep 0.05
    done
    app_ready || fail "dotforge-app did not come up"
}

# app_ready: its control socket is there (a server run as another user keeps
# it elsewhere: then its web server answers).
app_ready() {
    if [ -n "${APP_USER:-}" ]; then
        curl -s --max-time 2 -o /dev/null "http://$SRV/"
    else
        [ -S "$W/run/dotforge-app.sock" ]
    fi
}

# app_unix_sockets: how many Unix-domain sockets the server holds now (its
# control socket, clients of it, system bus connections of ble: devices).
app_unix_sockets() {
    find "/proc/$APP_PID/fd" -lname 'socket:*' -printf '%l\n' 2>/dev/null | tr -dc '0-9\n' |
        awk 'NR == FNR { own[$1]; next } FNR > 1 && ($7 in own) { n++ } END { print n + 0 }' - /proc/net/unix
}

# app_stop: stops the server the way a service manager does (SIGTERM), then
# makes sure it is gone. (PAPPL 1.3.1's `shutdown` sub-command can leave the
# requesting client's thread logging into the freed system object.)
app_stop() {
    local i
    [ -n "$APP_PID" ] || return 0
    kill -TERM "$APP_PID" 2>/dev/null
    for i in $(seq 200); do kill -0 "$APP_PID" 2>/dev/null || break; sleep 0.05; done
    kill -KILL "$APP_PID" 2>/dev/null
    wait "$APP_PID" 2>/dev/null
    APP_PID=
    rm -f "$W/run/dotforge-app.sock"
}

# app_kill: ends the server at once (kill -9), as a crash or power loss would.
app_kill() {
    [ -n "$APP_PID" ] || return 0
    kill -KILL "$APP_PID" 2>/dev/null
    wait "$APP_PID" 2>/dev/null
    APP_PID=
    rm -f "$W/run/dotforge-app.sock"
}

app_cleanup() {
    local p
    app_stop
    for p in "${LISTENER_PIDS[@]}"; do kill "$p" 2>/dev/null; wait "$p" 2>/dev/null; done
}

# start_printer PORT DIR [LISTEN OPTIONS]: a fake network printer keeping each
# connection's bytes (dfstream.py listen: --stall N, --answer slow|noise, ...).
start_printer() {
    local port=$1 dir=$2 i
    mkdir -p "$dir"
    python3 "$DFSTREAM" listen "$port" "$dir" "${@:3}" &
    LISTENER_PIDS+=($!)
    for i in $(seq 100); do [ -e "$dir/ready" ] && return 0; sleep 0.05; done
    fail "the fake printer on port $port did not start"
}

# load_medium PRINTER MEDIA: MEDIA is the printer's loaded medium
# (media-ready, as its Media page sets it). Jobs for another medium are
# fitted onto the loaded one; jobs on it print exactly as the filter prints.
load_medium() {
    "$APP" modify -d "$1" -o media-ready="$2" > "$W/load-$1.txt" 2>&1 ||
        fail "could not load $2 in $1: $(cat "$W/load-$1.txt")"
}

# start_dead_printer PORT DIR: a network printer that is switched off: its
# port takes no connection and never answers (a connect waits until it
# gives up, as for a host that drops packets).
start_dead_printer() {
    local i
    mkdir -p "$2"
    python3 "$DFSTREAM" blackhole "$1" "$2" &
    LISTENER_PIDS+=($!)
    for i in $(seq 100); do [ -e "$2/ready" ] && return 0; sleep 0.05; done
    fail "the switched-off printer on port $1 did not start"
}

# wait_conn DIR N: waits until connection N to the printer has ended.
wait_conn() {
    local i
    for i in $(seq 200); do [ -e "$1/conn-$2.bin" ] && return 0; sleep 0.05; done
    return 1
}

# print_request FILE FORMAT STATUS ATTR-LINES [DISPLAY]: writes an ipptool
# Print-Job request for FILE that expects STATUS and prints its file name.
print_request() {
    local t
    t=$(mktemp "$W/tests/print.XXXXXX")
    print_block "$@" > "$t"
    echo "$t"
}

# print_block FILE FORMAT STATUS ATTR-LINES [DISPLAY]: the request itself
# (blocks appended to one file are sent one after the other).
print_block() {
    cat <<EOT
{
  NAME "print"
  OPERATION Print-Job
  GROUP operation-attributes-tag
  ATTR charset attributes-charset utf-8
  ATTR naturalLanguage attributes-natural-language en
  ATTR uri printer-uri \$uri
  ATTR name requesting-user-name test
  ATTR mimeMediaType document-format $2
  GROUP job-attributes-tag
$4
  FILE $1
  STATUS $3
${5:+  DISPLAY $5}
}
EOT
}

# ipp_job PRINTER FILE FORMAT [ATTR LINES]: a Print-Job through ipptool with
# the given job attributes (ipptool ATTR lines); prints the job id.
ipp_job() {
    ipptool -c "ipp://$SRV/ipp/print/$1" "$(print_request "$2" "$3" successful-ok "${4:-}" job-id)" 2>&1 |
        tail -n 1
}

# ipp_refused PRINTER FILE FORMAT STATUS [ATTR LINES]: true when the printer
# answers the Print-Job with that IPP status.
ipp_refused() {
    ipptool -q "ipp://$SRV/ipp/print/$1" "$(print_request "$2" "$3" "$4" "${5:-}")"
}

# last_job PRINTER: the id of the printer's newest job.
last_job() {
    "$APP" jobs -d "$1" 2>/dev/null | awk 'NR == 1 {print $1}'
}

# newest_job PRINTER: the id of the printer's newest job, ended or not (0: none).
newest_job() {
    "$APP" jobs -d "$1" -a 2>/dev/null | awk 'NR == 1 {n = $1} END {print n + 0}'
}

# conns DIR: how many connections to a fake printer have ended.
conns() {
    sleep 0.3
    ls "$1" | grep -c '^conn-[0-9]*\.bin$'
}

# job_info PRINTER ID: "STATE,REASONS" of a job (ipptool's CSV line).
job_info() {
    get_job "ipp://$SRV/ipp/print/$1" "$2" job-state,job-state-reasons
}

# printer_info PRINTER ATTRS: the printer's attributes ATTRS (comma-separated)
# as ipptool's CSV line.
printer_info() {
    get_printer "ipp://$SRV/ipp/print/$1" "$2"
}

# wait_job PRINTER ID: waits for the job to end; prints its job-state keyword.
wait_job() {
    local i s
    for i in $(seq 200); do
        s=$(job_info "$1" "$2")
        s=${s%%,*}
        case "$s" in completed | aborted | canceled) break ;; esac
        sleep 0.05
    done
    echo "$s"
}

# expect_filter PPD-MODEL OPTIONS PWG OUT: what the filter writes for that raster.
expect_filter() {
    PPD="$PPDDIR/dotforge-$1.ppd" "$FILTER" 1 test job 1 "$2" "$3" > "$4" 2> "$4.err"
}

# same_bytes NAME GOT EXPECTED: compares and reports.
same_bytes() {
    if cmp -s "$2" "$3"; then
        echo "ok   $1 ($(stat -c %s "$2") bytes)"
        return 0
    fi
    echo "FAIL $1: the printer got $(stat -c %s "$2" 2>/dev/null) bytes, the filter writes $(stat -c %s "$3")"
    cmp "$2" "$3" | head -n 2
    return 1
}

# app_clean: true unless the server reported a sanitizer error (its output
# keeps them; a leak report at exit counts too, libpappl's own excepted).
app_clean() {
    if grep -q -e 'ERROR: AddressSanitizer' -e 'ERROR: LeakSanitizer' -e 'runtime error:' "$W/app.out" 2>/dev/null; then
        echo "FAIL the server reported a sanitizer error:"
        grep -A 12 -e 'ERROR: ' -e 'runtime error:' "$W/app.out" | head -n 40
        return 1
    fi
    return 0
}

# wait_bytes FILE SIZE: waits until FILE holds at least SIZE bytes.
wait_bytes() {
    local i
    for i in $(seq 200); do
        [ "$(stat -c %s "$1" 2>/dev/null || echo 0)" -ge "$2" ] && return 0
        sleep 0.05
    done
    return 1
}

# start_bus DIR: a private message bus with its own configuration, socket
# DIR/bus.sock; exports DBUS_SYSTEM_BUS_ADDRESS so that the server and its
# sub-commands take it for the system bus. Skips without dbus-daemon.
start_bus() {
    local i
    command -v dbus-daemon > /dev/null || skip "dbus-daemon is not installed (Debian package dbus-daemon)"
    mkdir -p "$1"
    cat > "$1/bus.conf" <<EOT
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>system</type>
  <listen>unix:path=$1/bus.sock</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow user="*"/>
    <allow own="*"/>
    <allow send_destination="*"/>
    <allow receive_sender="*"/>
  </policy>
</busconfig>
EOT
    dbus-daemon --config-file="$1/bus.conf" --nofork --nopidfile > "$1/bus.log" 2>&1 &
    LISTENER_PIDS+=($!)
    for i in $(seq 100); do [ -S "$1/bus.sock" ] && break; sleep 0.05; done
    [ -S "$1/bus.sock" ] || fail "the private message bus did not start: $(cat "$1/bus.log")"
    export DBUS_SYSTEM_BUS_ADDRESS=unix:path=$1/bus.sock
}

# app_threads: how many threads the server runs.
app_threads() {
    awk '/^Threads:/ {print $2}' "/proc/$APP_PID/status" 2>/dev/null
}

# app_alive NAME: fails the check NAME unless the server still runs.
app_alive() {
    if kill -0 "$APP_PID" 2>/dev/null; then echo "ok   $1: the server runs"; return 0; fi
    echo "FAIL $1: the server died"
    tail -n 30 "$W/app.out"
    return 1
}

# create_test FILE: an ipptool Create-Printer request ($driver, $device,
# $name) expecting successful-ok.
create_test() {
    cat > "$1" <<'EOT'
{
  NAME "create"
  OPERATION Create-Printer
  GROUP operation-attributes-tag
  ATTR charset attributes-charset utf-8
  ATTR naturalLanguage attributes-natural-language en
  ATTR uri system-uri $uri
  ATTR name requesting-user-name test
  ATTR keyword printer-service-type print
  ATTR keyword smi55357-driver $driver
  ATTR uri smi55357-device-uri $device
  GROUP printer-attributes-tag
  ATTR name printer-name $name
  STATUS successful-ok
}
EOT
}

# createjob_test FILE: an ipptool Create-Job request with no document,
# expecting successful-ok.
createjob_test() {
    cat > "$1" <<'EOT'
{
  NAME "create-job"
  OPERATION Create-Job
  GROUP operation-attributes-tag
  ATTR charset attributes-charset utf-8
  ATTR naturalLanguage attributes-natural-language en
  ATTR uri printer-uri $uri
  ATTR name requesting-user-name test
  STATUS successful-ok
}
EOT
}

# printer_op_test FILE OPERATION: an ipptool request for a printer operation
# without further attributes (Pause-Printer, Disable-Printer, ...).
printer_op_test() {
    cat > "$1" <<EOT
{
  NAME "$2"
  OPERATION $2
  GROUP operation-attributes-tag
  ATTR charset attributes-charset utf-8
  ATTR naturalLanguage attributes-natural-language en
  ATTR uri printer-uri \$uri
  ATTR name requesting-user-name test
  STATUS successful-ok
}
EOT
}

# ipp_status: the IPP status in ipptool -tv's output on standard input.
ipp_status() {
    local out
    out=$(cat)
    case "$out" in
        *"[PASS]"*) echo successful-ok ;;
        *) echo "$out" | sed -n 's/.*status-code = \([a-z-]*\).*/\1/p' | head -n 1 ;;
    esac
}

# expect NAME GOT WANTED: one check, counted in FAILED.
expect() {
    if [ "$2" = "$3" ]; then
        echo "ok   $1: $2"
    else
        echo "FAIL $1: got '$2', expected '$3'"
        FAILED=$((FAILED + 1))
    fi
}

# make_users NAME...: local users for the test (no home, no login), removed
# at exit. Needs root.
make_users() {
    local u
    [ ${#TEST_USERS[@]} = 0 ] && CLEANUP_HOOKS+=(users_cleanup)
    for u in "$@"; do
        useradd -M -N -s /usr/sbin/nologin "$u" || fail "useradd $u"
        TEST_USERS+=("$u")
    done
}
TEST_USERS=()
users_cleanup() {
    local u p
    for u in "${TEST_USERS[@]}"; do
        # what the test started as that user (a server PAPPL started unasked)
        for p in $(pgrep -u "$u"); do kill -KILL "$p" 2>/dev/null; done
        userdel "$u" 2>/dev/null
    done
}

# as_user USER COMMAND...: COMMAND as USER, with its own group only and no
# XDG_RUNTIME_DIR (root's would not be the user's). user_cmd USER sets AS to
# that prefix, for a command started in the background ($! its PID).
user_cmd() {
    AS=(setpriv --reuid="$(id -u "$1")" --regid="$(id -g "$1")" --clear-groups env -u XDG_RUNTIME_DIR)
}
as_user() {
    user_cmd "$1"
    shift
    "${AS[@]}" "$@"
}

# virtual NAME STATUS: dotforge-preview's virtual printer on a free loopback
# port, answering status queries from $W/NAME/status (paper-out, cover-open,
# ready, ...) and keeping each job and a picture of each page in $W/NAME;
# sets VP_PORT. Skips when the preview is not built.
virtual() {
    local preview i
    preview=$(dirname "$FILTER")/tools/dotforge-preview
    [ -x "$preview" ] || skip "dotforge-preview not built"
    VP_PORT=$(dfstream freeport)
    mkdir -p "$W/$1"
    echo "$2" > "$W/$1/status"
    "$preview" --listen "127.0.0.1:$VP_PORT" --status-file "$W/$1/status" -o "$W/$1/job" > "$W/$1/log" 2>&1 &
    LISTENER_PIDS+=($!)
    for i in $(seq 100); do grep -q listening "$W/$1/log" && return 0; sleep 0.05; done
    fail "the virtual printer $1 did not start"
}

# pages DIR: how many pages a virtual printer has been sent.
pages() { ls "$1" | grep -c '^job-.*\.png$'; }

# printer_attrs PRINTER: all of a printer's attributes as ipptool -tv shows
# them ("NAME (TYPE) = VALUE" lines).
printer_attrs() {
    [ -e "$W/tests/attrs.test" ] || cat > "$W/tests/attrs.test" <<'EOT'
{
  NAME "attributes"
  OPERATION Get-Printer-Attributes
  GROUP operation-attributes-tag
  ATTR charset attributes-charset utf-8
  ATTR naturalLanguage attributes-natural-language en
  ATTR uri printer-uri $uri
  ATTR keyword requested-attributes all
  STATUS successful-ok
}
EOT
    ipptool -tv "ipp://$SRV/ipp/print/$1" "$W/tests/attrs.test" 2>&1
}
