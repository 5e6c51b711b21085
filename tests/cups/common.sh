# Shared pieces of the CUPS end-to-end tests (sourced by the test scripts):
# skipping, a private work directory, a private ServerBin holding our filter,
# and test documents made with Ghostscript.

SKIP_CODE=77
HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
DFSTREAM="$HERE/dfstream.py"

skip() { echo "SKIP: $*"; exit $SKIP_CODE; }
fail() { echo "FAIL: $*"; exit 1; }
say() { echo "--- $*"; }

# CUPS runs filters only if they and their directory are root-owned and not
# writable by others; as anybody else the private set-ups below cannot work.
require_root() {
    [ "$(id -u)" = 0 ] || skip "must run as root: CUPS only runs root-owned filters, and the scheduler test starts cupsd"
}

# require_programs PROGRAM...: skips unless all are installed; REQUIRE_PACKAGES
# names the Debian packages that have them.
REQUIRE_PACKAGES="cups cups-client cups-filters cups-ipp-utils cups-ppdc ghostscript python3"
require_programs() {
    local p
    for p in "$@"; do
        command -v "$p" >/dev/null 2>&1 || skip "$p is not installed (Debian packages: $REQUIRE_PACKAGES)"
    done
}

# path_without DIR PROGRAM...: fills DIR with links to every program on PATH
# (the first of each name, as PATH finds it) but the PROGRAMs, and prints DIR
# for use as PATH: a machine on which those are not installed.
path_without() {
    local dir=$1 d p
    shift
    mkdir -p "$dir"
    local IFS=:
    for d in $PATH; do
        [ -d "$d" ] && ln -s "$d"/* "$dir"/ 2>/dev/null
    done
    unset IFS
    for p in "$@"; do rm -f "$dir/$p"; done
    echo "$dir"
}

# make_workdir PREFIX: a fresh directory under /tmp that user lp can traverse
# (cupsd runs filters and backends as lp). Removed on exit unless KEEP_WORK is set.
make_workdir() {
    W=$(mktemp -d "/tmp/$1.XXXXXX") || fail "mktemp"
    chmod 755 "$W"
    trap 'cleanup_workdir' EXIT
    trap 'exit 1' HUP INT TERM
    # Sanitizer builds of the filter: libcups leaks a little on its own, which
    # would otherwise turn jobs into filter failures. The full unwinder is
    # needed for the suppression to see libcups's frames.
    install -m 644 "$HERE/lsan.supp" "$W/lsan.supp"
    export ASAN_OPTIONS=fast_unwind_on_malloc=0
    export LSAN_OPTIONS=suppressions=$W/lsan.supp:print_suppressions=0
}

CLEANUP_HOOKS=()
cleanup_workdir() {
    local h
    for h in "${CLEANUP_HOOKS[@]}"; do $h; done
    if [ -n "${KEEP_WORK:-}" ]; then
        echo "work directory kept: $W"
    else
        rm -rf "$W"
    fi
}

# make_serverbin DIR FILTER: DIR/filter holds links to the system's filters
# and a root-owned 0755 copy of FILTER under the name the PPDs use.
make_serverbin() {
    local sb=$1 filter=$2 sys d
    sys=$(cups-config --serverbin)
    for d in backend daemon filter monitor notifier driver cgi-bin; do
        install -d -o root -g root -m 755 "$sb/$d"
        [ -d "$sys/$d" ] && ln -s "$sys/$d"/* "$sb/$d/" 2>/dev/null
    done
    # Debian links the socket backend in from backend-available at install time.
    if [ ! -e "$sb/backend/socket" ] && [ -e "$sys/backend-available/socket" ]; then
        ln -s "$sys/backend-available/socket" "$sb/backend/socket"
    fi
    rm -f "$sb/filter/dotforge"
    install -o root -g root -m 755 "$filter" "$sb/filter/dotforge"
}

# make_doc OUT W_MM H_MM PAGES [DPI] [ramp]: a document of PAGES pages of W x H mm,
# each with a solid black bar over the left half of the top quarter (and with
# "ramp", a grey ramp from black to white over the bottom half). OUT ends in
# .pdf or .png (a PNG of one page at DPI dots per inch).
make_doc() {
    local out=$1 w=$2 h=$3 pages=$4 dpi=${5:-203} ps="${1%.*}.ps" dev ramp=""
    [ "${6:-}" = ramp ] && ramp="0 1 63 { dup 63 div setgray W 64 div mul 0 W 64 div H 0.5 mul rectfill } for"
    cat > "$ps" <<EOF
%!PS
/mm { 72 mul 25.4 div } def
/W $w mm def /H $h mm def
<< /PageSize [W H] >> setpagedevice
$pages { 0 setgray 0 H 0.75 mul W 0.5 mul H 0.25 mul rectfill $ramp showpage } repeat
EOF
    case "$out" in
        *.pdf) dev="-sDEVICE=pdfwrite" ;;
        *.png) dev="-sDEVICE=pnggray -r$dpi" ;;
        *) fail "make_doc: unknown type $out" ;;
    esac
    # shellcheck disable=SC2086
    gs -q -dSAFER -dBATCH -dNOPAUSE $dev -sOutputFile="$out" "$ps" || fail "Ghostscript could not make $out"
}

dfstream() { python3 "$DFSTREAM" "$@"; }

# start_cupsd SERVERBIN [LINE...]: a private cupsd in the foreground on 127.0.0.1 at a
# free port, with its configuration, spool, cache, state and logs under $W
# and its filters and backends from SERVERBIN (a private tree from
# make_serverbin, or the system's). Sets SRV (host:port for -h) and
# CUPSD_PID; stop_cupsd stops it (call it from a cleanup hook). Further
# arguments are added to cupsd.conf as lines.
CUPSD_PID=
start_cupsd() {
    local sb=$1 i line
    shift
    mkdir -p "$W"/etc/ppd "$W"/spool/tmp "$W"/cache "$W"/state "$W"/log
    SRV=127.0.0.1:$(dfstream freeport)
    # cupsd gives filters a clean environment; pass the sanitizer settings on.
    cat > "$W/etc/cups-files.conf" <<EOF
ServerRoot $W/etc
RequestRoot $W/spool
TempDir $W/spool/tmp
CacheDir $W/cache
StateDir $W/state
ServerBin $sb
AccessLog $W/log/access_log
ErrorLog $W/log/error_log
PageLog $W/log/page_log
Printcap $W/state/printcap
FileDevice No
SetEnv ASAN_OPTIONS $ASAN_OPTIONS
SetEnv LSAN_OPTIONS $LSAN_OPTIONS
EOF
    cat > "$W/etc/cupsd.conf" <<EOF
LogLevel debug
MaxLogSize 0
Listen $SRV
Browsing No
BrowseLocalProtocols none
DefaultShared No
WebInterface No
DefaultAuthType None
JobKillDelay 5
ErrorPolicy abort-job
<Location />
  Order allow,deny
  Allow from 127.0.0.1
</Location>
<Policy default>
  JobPrivateAccess all
  JobPrivateValues none
  SubscriptionPrivateAccess all
  SubscriptionPrivateValues none
  <Limit All>
    Order deny,allow
  </Limit>
</Policy>
EOF
    for line in "$@"; do echo "$line" >> "$W/etc/cupsd.conf"; done
    # A bare Community line stops the socket backend's SNMP supply queries.
    echo "Community" > "$W/etc/snmp.conf"

    cupsd -t -c "$W/etc/cupsd.conf" -s "$W/etc/cups-files.conf" > "$W/log/cupsd-t.txt" 2>&1 ||
        { cat "$W/log/cupsd-t.txt"; fail "cupsd rejects the test configuration"; }
    # If the test script is killed outright (a test timeout), the kernel stops cupsd too.
    local deathsig=()
    setpriv --pdeathsig TERM true 2>/dev/null && deathsig=(setpriv --pdeathsig TERM)
    "${deathsig[@]}" cupsd -f -c "$W/etc/cupsd.conf" -s "$W/etc/cups-files.conf" > "$W/log/cupsd.out" 2>&1 &
    CUPSD_PID=$!
    for i in $(seq 200); do
        lpstat -h "$SRV" -r >/dev/null 2>&1 && break
        kill -0 "$CUPSD_PID" 2>/dev/null || { cat "$W/log/cupsd.out"; show_log; fail "cupsd exited at start-up"; }
        sleep 0.05
    done
    lpstat -h "$SRV" -r >/dev/null 2>&1 || { show_log; fail "cupsd did not come up on $SRV"; }
}

stop_cupsd() {
    local i state
    [ -n "$CUPSD_PID" ] || return 0
    kill -TERM "$CUPSD_PID" 2>/dev/null
    # A process that exited can linger as a zombie, so look at its state.
    for i in $(seq 100); do
        state=$(awk '{print $3}' "/proc/$CUPSD_PID/stat" 2>/dev/null)
        [ -z "$state" ] || [ "$state" = Z ] && break
        sleep 0.05
    done
    [ -n "$state" ] && [ "$state" != Z ] && kill -KILL "$CUPSD_PID" 2>/dev/null
    wait "$CUPSD_PID" 2>/dev/null
    CUPSD_PID=
}

# show_log [JOB-ID]: the private scheduler's lines about a job (or the last ones).
show_log() {
    echo "--- error_log:"
    if [ -n "${1:-}" ]; then
        grep "\[Job $1\]" "$W/log/error_log" | grep -v -e ' envp\[' -e ' argv\[' -e 'Adding ' -e 'print data' |
            tail -n 40
    else
        grep -v -e '\[Client ' -e 'cupsdSetBusyState' "$W/log/error_log" 2>/dev/null | tail -n 40
    fi
}

# ---------------------------------------------------------------------------
# Jobs through the private scheduler (cupsd_test.sh, load_test.sh): after
# make_workdir, make_scheduler_dirs, make_serverbin DIR FILTER,
# install_capture_wrapper FILTER and start_cupsd DIR, add queues and
# listeners; stop_all ends listeners and scheduler.

make_scheduler_dirs() {
    mkdir -p "$W"/etc/ppd "$W"/spool/tmp "$W"/cache "$W"/state "$W"/log "$W"/bin "$W"/docs "$W"/expect
}

# The queues run a stand-in under the filter's name: it keeps each job's
# raster and options, then becomes the real filter (same PID, so cancelling
# signals it directly). The tests re-run the filter on the kept input and
# compare with what the printer got.
install_capture_wrapper() {
    install -o root -g root -m 755 "$1" "$W/bin/dotforge"
    install -d -o lp -m 755 "$W/cap"
    cat > "$W/wrapper" <<EOF
#!/bin/sh
dir="$W/cap/job-\$1"
mkdir -p "\$dir" || exit 1
printf '%s' "\$5" > "\$dir/options"
if [ \$# -ge 6 ]; then cp "\$6" "\$dir/in.ras"; else cat > "\$dir/in.ras"; fi || exit 1
exec "$W/bin/dotforge" "\$1" "\$2" "\$3" "\$4" "\$5" "\$dir/in.ras"
EOF
    install -o root -g root -m 755 "$W/wrapper" "$W/sb/filter/dotforge"
    if command -v setpriv >/dev/null 2>&1; then
        setpriv --reuid=lp --regid=lp --clear-groups test -x "$W/bin/dotforge" ||
            fail "user lp cannot reach $W/bin/dotforge"
    fi
}

LISTENER_PIDS=()
# stop_all: the listeners, then the scheduler.
stop_all() {
    local p
    for p in "${LISTENER_PIDS[@]}"; do kill "$p" 2>/dev/null; wait "$p" 2>/dev/null; done
    LISTENER_PIDS=()
    stop_cupsd
}

# start_listener PORT DIR [OPTIONS...]: a stand-in printer on 127.0.0.1:PORT
# keeping each connection in DIR/conn-N.bin (see dfstream.py listen).
start_listener() {
    local port=$1 dir=$2 i
    shift 2
    mkdir -p "$dir"
    python3 "$DFSTREAM" listen "$port" "$dir" "$@" &
    LISTENER_PIDS+=($!)
    for i in $(seq 100); do [ -e "$dir/ready" ] && return 0; sleep 0.05; done
    fail "the listener on port $port did not start"
}

# require_socket_queues: what a private scheduler with socket:// queues
# needs beyond its programs: CUPS's socket backend and the user lp that runs
# filters. Sets SYS_SB to CUPS's server directory.
require_socket_queues() {
    SYS_SB=$(cups-config --serverbin)
    [ -e "$SYS_SB/backend/socket" ] || [ -e "$SYS_SB/backend-available/socket" ] ||
        skip "CUPS's socket backend is not installed"
    id lp >/dev/null 2>&1 || skip "there is no user lp to run filters as"
}

# get_job URI ID ATTRS: the job's attributes ATTRS (comma-separated) as
# ipptool's CSV line, asked of the printer at URI.
get_job() {
    local t="$W/getjob-${3//,/-}.test" d="" a
    [ -e "$t" ] || {
        for a in ${3//,/ }; do d="$d  DISPLAY $a
"; done
        cat > "$t" <<EOT
{
  NAME "job"
  OPERATION Get-Job-Attributes
  GROUP operation-attributes-tag
  ATTR charset attributes-charset utf-8
  ATTR naturalLanguage attributes-natural-language en
  ATTR uri printer-uri \$uri
  ATTR integer job-id \$job_id
  ATTR name requesting-user-name root
  ATTR keyword requested-attributes $3
  STATUS successful-ok
$d}
EOT
    }
    ipptool -c -d job_id="$2" "$1" "$t" 2>/dev/null | tail -n 1
}

# get_printer URI ATTRS: the printer's attributes (comma-separated names) as
# ipptool's CSV line.
get_printer() {
    local t="$W/getprinter-${2//,/-}.test" d="" a
    [ -e "$t" ] || {
        for a in ${2//,/ }; do d="$d  DISPLAY $a
"; done
        cat > "$t" <<EOT
{
  NAME "printer"
  OPERATION Get-Printer-Attributes
  GROUP operation-attributes-tag
  ATTR charset attributes-charset utf-8
  ATTR naturalLanguage attributes-natural-language en
  ATTR uri printer-uri \$uri
  ATTR name requesting-user-name root
  ATTR keyword requested-attributes $2
  STATUS successful-ok
$d}
EOT
    }
    ipptool -c "$1" "$t" 2>/dev/null | tail -n 1
}

# wait_reason URI KEYWORD [SECONDS]: waits until printer-state-reasons holds
# the keyword (10 s unless told); false when it never does.
wait_reason() {
    local i
    for i in $(seq $((${3:-10} * 4))); do
        case ",$(get_printer "$1" printer-state-reasons | tr -d '"')," in *",$2,"*) return 0 ;; esac
        sleep 0.25
    done
    return 1
}

# job_state QUEUE ID: the IPP job-state number (3 pending ... 7 canceled, 8 aborted, 9 completed).
job_state() {
    local s
    s=$(get_job "ipp://$SRV/printers/$1" "$2" job-state)
    case "$s" in
        pending) echo 3 ;; pending-held) echo 4 ;; processing) echo 5 ;; processing-stopped) echo 6 ;;
        canceled) echo 7 ;; aborted) echo 8 ;; completed) echo 9 ;; *) echo 0 ;;
    esac
}
# wait_job QUEUE ID SECONDS: waits until the job has ended; prints its state.
wait_job() {
    local i s n=$(($3 * 10))
    for i in $(seq "$n"); do
        s=$(job_state "$1" "$2")
        case "$s" in 6 | 7 | 8 | 9) echo "$s"; return ;; esac
        sleep 0.1
    done
    echo "$s"
}
# filter_processes: how many processes run our filter (argv[0] is its path).
filter_processes() {
    local f a0 n=0
    for f in /proc/[0-9]*/cmdline; do
        a0=
        IFS= read -r -d '' a0 < "$f" 2>/dev/null
        [ "$a0" = "$W/bin/dotforge" ] && n=$((n + 1))
    done
    echo "$n"
}
# submit QUEUE FILE [lp options...]: prints the job id.
submit() {
    local q=$1 f=$2 out
    shift 2
    out=$(lp -h "$SRV" -d "$q" "$@" "$f" 2>&1) || { echo "lp failed: $out" >&2; return 1; }
    out=${out#request id is "$q"-}
    echo "${out%% *}"
}

add_queue() {
    lpadmin -h "$SRV" -p "$1" -E -v "$2" -P "$3" > "$W/log/lpadmin-$1.txt" 2>&1 ||
        { cat "$W/log/lpadmin-$1.txt"; fail "lpadmin could not add queue $1"; }
}

# expected_output QUEUE ID: runs the filter on the job's kept raster and
# options; prints the path of its output ($W/expect/job-ID.bin).
expected_output() {
    local exp="$W/expect/job-$2.bin"
    PPD="$W/etc/ppd/$1.ppd" "$W/bin/dotforge" "$2" root job 1 "$(cat "$W/cap/job-$2/options")" \
        "$W/cap/job-$2/in.ras" > "$exp" 2> "$exp.err"
    echo "$exp"
}
