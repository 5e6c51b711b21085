#!/bin/bash
# Other users on the same machine, two users made for the test:
#   - a sub-command never reaches another user's server;
#   - a user's control socket is in a directory only that user can write;
#     another user cannot listen in its place (a squatted socket or
#     directory is refused, by the sub-commands and the server);
#   - a job is cancelled, held or released only by its owner or an
#     administrator, through the socket as over loopback, whatever name the
#     request gives;
#   - the spool is the server's own: PAPPL's default directory made first by
#     another user is not used, a spool-directory that is not the server's
#     alone is refused, and a job's file is never read through a link.
#
# Usage: app_localusers.sh APP FILTER PPD_DIR PWGMAKE
set -u
. "${BASH_SOURCE[0]%/*}/../cups/common.sh"
. "${BASH_SOURCE[0]%/*}/app_common.sh"

[ "$(id -u)" = 0 ] || skip "must run as root: test users"
require_programs useradd userdel setpriv pgrep
app_setup "$@" dotforge-app-localusers
export ASAN_OPTIONS=$ASAN_OPTIONS:detect_leaks=0
UA=dflu$$a UB=dflu$$b
make_users "$UA" "$UB"
IDA=$(id -u "$UA")
FAILED=0
# Every user's temporary directory, as /tmp is.
export TMPDIR=$W/tmp
mkdir -p "$TMPDIR" && chmod 1777 "$TMPDIR"
says() { grep -q -e "$1" "$W/out" && echo yes || { head -c 300 "$W/out"; echo no; }; }

# A server PAPPL would start unasked gets a network of its own.
NS=()
unshare -n true 2> /dev/null && NS=(unshare -n)

say "A user's control socket"
# squat PATH LOG: user B listens on PATH and keeps what it receives in LOG.
squat() {
    : > "$2" && chmod 666 "$2"
    user_cmd "$UB"
    "${AS[@]}" python3 -c '
import os, socket, sys
s = socket.socket(socket.AF_UNIX)
s.bind(sys.argv[1]); os.chmod(sys.argv[1], 0o777); s.listen(8)
while True:
    c, _ = s.accept(); c.settimeout(2)
    try:
        open(sys.argv[2], "ab").write(c.recv(65536))
        c.sendall(b"HTTP/1.1 500 Internal Server Error\r\nContent-Length: 0\r\n\r\n")
    except OSError:
        pass
    c.close()' "$1" "$2" &
    SQUAT=$!
    LISTENER_PIDS+=($!)
    for i in $(seq 100); do [ -S "$1" ] && return 0; sleep 0.05; done
    fail "the squatter's socket $1 did not appear"
}
echo "a user's document" > "$W/docs/mine.txt" && chmod 644 "$W/docs/mine.txt"
OWN=$TMPDIR/dotforge-app-$IDA
# where: PAPPL's own name for A's socket, then the directory A's now is in
for where in "$TMPDIR/dotforge-app$IDA.sock" "$OWN/dotforge-app.sock"; do
    [ "$where" = "$OWN/dotforge-app.sock" ] && mkdir -m 0777 "$OWN" && chown "$UB" "$OWN"
    squat "$where" "$W/squat.log"
    user_cmd "$UA"
    timeout 10 "${NS[@]}" "${AS[@]}" "$APP" submit -d Label "$W/docs/mine.txt" > "$W/out" 2>&1
    expect "${where#$W/}: what the squatter got from A's submit" "$(stat -c %s "$W/squat.log") bytes" "0 bytes"
    kill "$SQUAT"
    wait "$SQUAT" 2> /dev/null
done
expect "A's submit refuses B's directory" "$(says "Refusing the control socket $OWN/dotforge-app.sock")" yes
as_user "$UA" timeout 10 "$APP" server -o server-port="$PORT" -o state-file="$W/ua.state" > "$W/out" 2>&1
expect "A's server refuses B's directory" "$(says "Refusing the control socket")" yes
rm -rf "$OWN"
mkdir -m 0700 "$W/ua" && chown "$UA" "$W/ua"
user_cmd "$UA"
"${AS[@]}" "$APP" server -o server-port="$PORT" -o state-file="$W/ua/state" -o log-file="$W/ua/log" &
UA_PID=$!
for i in $(seq 100); do [ -S "$OWN/dotforge-app.sock" ] && break; sleep 0.05; done
expect "A's server: its socket's directory" "$(stat -c '%a %U' "$OWN" 2>&1)" "700 $UA"
as_user "$UA" timeout 10 "$APP" printers > "$W/out" 2>&1
expect "A's printers reaches A's server" "$?" 0
as_user "$UB" timeout 10 "$APP" printers > "$W/out" 2>&1
expect "B's printers does not reach A's server" "$(says 'no dotforge-app server is running')" yes
kill "$UA_PID"
wait "$UA_PID"
# XDG_RUNTIME_DIR: owner | mode | where A's socket is
while IFS='|' read -r owner mode want; do
    rm -rf "$W/xdg" && mkdir -m "$mode" "$W/xdg" && chown "$owner" "$W/xdg"
    as_user "$UA" env XDG_RUNTIME_DIR="$W/xdg" "$APP" printers > "$W/out" 2>&1
    expect "XDG_RUNTIME_DIR of $owner, mode $mode" "$(sed -n 's/.*no control socket \([^)]*\)).*/\1/p' "$W/out")" \
        "$want"
done <<EOT
$UA|700|$W/xdg/dotforge-app.sock
$UB|700|$OWN/dotforge-app.sock
$UA|755|$OWN/dotforge-app.sock
EOT

say "Other users' jobs"
NETPORT=$(dfstream freeport)
start_printer "$NETPORT" "$W/net"
app_start
"$APP" add -d Label -m escpos-58 -v "socket://127.0.0.1:$NETPORT" || fail "add Label"
"$APP" add -d Stuck -m escpos-58 -v "socket://127.0.0.1:1" || fail "add Stuck"
as_user "$UA" env SNAP_COMMON="$W/run" timeout 10 "$APP" printers > "$W/out" 2>&1
expect "A's printers does not reach root's server" "$(says 'no dotforge-app server is running')" yes
printf '\033@raw\n' > "$W/docs/raw.bin" && chmod 644 "$W/docs/raw.bin"
print_block "$W/docs/raw.bin" application/vnd.dotforge-escpos successful-ok 'ATTR keyword job-hold-until $hold' \
    job-id | sed 's/requesting-user-name test/requesting-user-name $asker/' > "$W/tests/held.test"
{
  OPERATION Print-Job
  GROUP operation-attributes-tag
  ATTR charset attributes-charset utf-8
  ATTR naturalLanguage attributes-natural-language en
  ATTR uri printer-uri \$uri
  ATTR name requesting-user-name \$asker
  ATTR mimeMediaType document-format application/vnd.dotforge-escpos
  GROUP job-attributes-tag
  ATTR keyword job-hold-until \$hold
  FILE $W/docs/raw.bin
  STATUS successful-ok
  DISPLAY job-id
}
EOT
for op in Hold-Job Release-Job Cancel-Job Cancel-Current-Job; do
    printer_op_test "$W/tests/$op.test" "$op"
    sed -i 's/requesting-user-name test/requesting-user-name $asker/' "$W/tests/$op.test"
    [ "$op" = Cancel-Current-Job ] || sed -i '/requesting-user-name/a\  ATTR integer job-id $job' "$W/tests/$op.test"
done
chmod 644 "$W"/tests/*.test
LOOP=ipp://127.0.0.1:$PORT/ipp/print
SOCK=ipp://${W//\//%2F}%2Frun%2Fdotforge-app.sock/ipp/print
# job WHO NAME PRINTER [HOLD]: a job of WHO sent as NAME; prints its id
job() {
    as_user "$1" ipptool -c -d asker="$2" -d hold="${4:-indefinite}" "$LOOP/$3" "$W/tests/held.test" | tail -n 1
}
J1=$(job "$UA" "$UA" Label) J2=$(job "$UA" "$UA" Label) J3=$(job "$UB" "$UA" Label) J4=$(job "$UA" "$UA" Stuck no-hold)
sleep 1
# who | through | operation | printer | job | name sent | status
while IFS='|' read -r who via op printer j name want; do
    user=$who
    [ "$who" = root ] && user=$(id -un)
    st=$(as_user "$user" ipptool -tv -d asker="$name" -d job="$j" "${!via}/$printer" "$W/tests/$op.test" 2>&1 | ipp_status)
    expect "$who $op of job $j ($printer, as '$name', through $via)" "$st" "$want"
done <<EOT
$UB|LOOP|Hold-Job|Label|$J1|$UA|client-error-not-authorized
$UB|SOCK|Release-Job|Label|$J1|$UA|client-error-not-authorized
$UB|SOCK|Cancel-Job|Label|$J1|$UA|client-error-not-authorized
$UB|LOOP|Cancel-Job|Label|$J2|$UA|client-error-not-authorized
$UB|LOOP|Cancel-Current-Job|Stuck|$J4|$UA|client-error-not-authorized
$UB|SOCK|Cancel-Job|Label|$J3|$UA|successful-ok
$UA|LOOP|Release-Job|Label|$J1|someone|successful-ok
$UA|SOCK|Cancel-Job|Label|$J2|$UA|successful-ok
root|LOOP|Cancel-Current-Job|Stuck|$J4|$UB|successful-ok
EOT
expect "A's jobs after B's attempts" "$(wait_job Label "$J1"),$(job_info Label "$J2" | cut -d, -f1)" \
    "completed,canceled"
expect "the printing job of A after B's attempt" "$(wait_job Stuck "$J4")" canceled

say "The spool"
app_stop
# PAPPL's default spool of the next server, /tmp/pappl<PID>.d, made first by
# user B (the shell's PID becomes the server's).
sh -c 'mkdir -m 0777 "$TMPDIR/pappl$$.d" && chown "$0" "$TMPDIR/pappl$$.d" && exec "$@"' "$UB" \
    "$APP" server -o server-port="$PORT" -o log-file="$W/app.log" -o log-level=debug -o state-file="$W/d.state" \
    >> "$W/app.out" 2>&1 &
APP_PID=$!
for i in $(seq 200); do app_ready && break; sleep 0.05; done
"$APP" add -d Label -m escpos-58 -v "socket://127.0.0.1:$NETPORT" || fail "add Label (default spool)"
id=$(job root root Label)
expect "files in B's directory" "$(ls -A "$TMPDIR/pappl$APP_PID.d" | wc -l)" 0
file=$(ls "$W/d.spool/"p*j*"$id"-*.prn 2> /dev/null)
expect "the default spool" "$(stat -c '%a %U' "$W/d.spool") $(echo "$file" | grep -c .)" "700 root 1"
echo "root's secret" > "$W/secret" && chmod 600 "$W/secret"
[ -n "$file" ] && ln -sf "$W/secret" "$file"
ipptool -q -d asker=root -d job="$id" "$LOOP/Label" "$W/tests/Release-Job.test"
expect "a job file replaced by a link" "$(wait_job Label "$id")" aborted
expect "the link's target at the printer" "$(cat "$W"/net/conn-*.bin 2> /dev/null | grep -c secret)" 0
app_stop
# spool-directory: case | set-up of $d | refusal says
mkdir -p "$W/run2"
n=0
while IFS='|' read -r name prep want; do
    n=$((n + 1)) d=$W/spool$n
    eval "$prep"
    SNAP_COMMON=$W/run2 timeout 5 "$APP" server -o server-port="$PORT" -o state-file="$W/s.state" \
        -o spool-directory="$d" > "$W/out" 2>&1
    expect "spool-directory $name: refused" "$(says "$want")" yes
done <<'EOT'
of another user|mkdir "$d" && chown "$UB" "$d"|belongs to user
writable by all|mkdir -m 0777 "$d"|mode 0777
writable by its group|mkdir -m 0770 "$d"|mode 0770
a symbolic link|mkdir "$d.real" && ln -s "$d.real" "$d"|symbolic link
EOT

app_clean || FAILED=$((FAILED + 1))
echo "$FAILED failed"
[ "$FAILED" = 0 ]
