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

require_programs() {
    local p
    for p in "$@"; do
        command -v "$p" >/dev/null 2>&1 ||
            skip "$p is not installed (Debian packages: cups cups-client cups-filters cups-ipp-utils cups-ppdc ghostscript python3)"
    done
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

# make_doc OUT W_MM H_MM PAGES [DPI]: a document of PAGES pages of W x H mm,
# each with a solid black bar over the left half of the top quarter. OUT ends
# in .pdf or .png (a PNG of one page at DPI dots per inch).
make_doc() {
    local out=$1 w=$2 h=$3 pages=$4 dpi=${5:-203} ps="${1%.*}.ps" dev
    cat > "$ps" <<EOF
%!PS
/mm { 72 mul 25.4 div } def
/W $w mm def /H $h mm def
<< /PageSize [W H] >> setpagedevice
$pages { 0 setgray 0 H 0.75 mul W 0.5 mul H 0.25 mul rectfill showpage } repeat
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

# start_cupsd SERVERBIN: a private cupsd in the foreground on 127.0.0.1 at a
# free port, with its configuration, spool, cache, state and logs under $W
# and its filters and backends from SERVERBIN (a private tree from
# make_serverbin, or the system's). Sets SRV (host:port for -h) and
# CUPSD_PID; stop_cupsd stops it (call it from a cleanup hook).
CUPSD_PID=
start_cupsd() {
    local sb=$1 i
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
