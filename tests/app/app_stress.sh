#!/bin/bash
# Many clients at once: six clients send 300 jobs to two printers, one of
# them slow, all at the same time. Nothing may crash, and every job reaches
# its printer exactly once: each raw job carries its own tag, which must be
# found once in all the bytes the printer got; raster jobs are counted by
# their connections. (PAPPL 1.3.1 started one job in two threads when two
# clients finished at the same moment, and a job refused as busy and a
# state save took the printer's and the system's locks in opposite orders.)
#
# Usage: app_stress.sh APP FILTER PPD_DIR PWGMAKE
set -u
. "${BASH_SOURCE[0]%/*}/../cups/common.sh"
. "${BASH_SOURCE[0]%/*}/app_common.sh"

app_setup "$@" dotforge-app-stress
CLIENTS=${STRESS_CLIENTS:-6} PER_CLIENT=${STRESS_JOBS:-50}
FASTPORT=$(dfstream freeport)
SLOWPORT=$(dfstream freeport)
start_printer "$FASTPORT" "$W/fast"
mkdir -p "$W/slow"
python3 "$DFSTREAM" listen "$SLOWPORT" "$W/slow" --rate 200000 &
LISTENER_PIDS+=($!)
for i in $(seq 100); do [ -e "$W/slow/ready" ] && break; sleep 0.05; done
app_start
"$APP" add -d fast -m escpos-58 -v "socket://127.0.0.1:$FASTPORT" >/dev/null || fail "add fast"
"$APP" add -d slow -m escpos-58 -v "socket://127.0.0.1:$SLOWPORT" >/dev/null || fail "add slow"
"$PWGMAKE" "$W/docs/r.pwg" 384 120 203 1 || fail pwgmake
M="ATTR keyword media om_roll-58-50_48x50mm"

# Odd clients print on fast, even ones on slow; every fourth job is a raster.
declare -A SENT=([fast]=0 [slow]=0) RASTER=([fast]=0 [slow]=0)
for c in $(seq "$CLIENTS"); do
    p=fast
    [ $((c % 2)) = 0 ] && p=slow
    : > "$W/tests/client-$c.test"
    for n in $(seq "$PER_CLIENT"); do
        SENT[$p]=$((SENT[$p] + 1))
        if [ $((n % 4)) = 0 ]; then
            RASTER[$p]=$((RASTER[$p] + 1))
            print_block "$W/docs/r.pwg" image/pwg-raster successful-ok "$M"
        else
            { printf 'JOB-%d-%d;' "$c" "$n"; head -c 1500 /dev/zero | tr '\0' '.'; } > "$W/docs/j-$c-$n.bin"
            print_block "$W/docs/j-$c-$n.bin" application/vnd.dotforge-escpos successful-ok ""
        fi >> "$W/tests/client-$c.test"
    done
done
TOTAL=$((CLIENTS * PER_CLIENT))

say "$CLIENTS clients, $TOTAL jobs"
start=$(date +%s)
pids=()
for c in $(seq "$CLIENTS"); do
    p=fast
    [ $((c % 2)) = 0 ] && p=slow
    timeout 300 ipptool -I -T 60 -t "ipp://$SRV/ipp/print/$p" "$W/tests/client-$c.test" > "$W/client-$c.out" 2>&1 &
    pids+=($!)
done
for p in "${pids[@]}"; do wait "$p"; done
accepted=$(cat "$W"/client-*.out | grep -c '\[PASS\]')
FAILED=0
bad() { echo "FAIL $*"; FAILED=$((FAILED + 1)); }
# PAPPL streams a raster job to the printer while it arrives, so a raster
# Print-Job that finds its printer printing is refused with server-error-busy
# (a client sends it again later; CUPS does). Such refusals are counted, and
# every other job must be accepted.
declare -A BUSY=([fast]=0 [slow]=0)
for c in $(seq "$CLIENTS"); do
    p=fast
    [ $((c % 2)) = 0 ] && p=slow
    BUSY[$p]=$((BUSY[$p] + $(grep -c 'got server-error-busy' "$W/client-$c.out")))
done
refused=$((BUSY[fast] + BUSY[slow]))
[ $((accepted + refused)) = "$TOTAL" ] && echo "ok   $accepted of $TOTAL jobs accepted, $refused rasters refused as busy" ||
    bad "$accepted of $TOTAL jobs accepted, $refused refused as busy; the others: $(cat "$W"/client-*.out |
        grep -v 'PASS\]\|server-error-busy' | grep -i 'got\|fail\|error\|unable' | sort | uniq -c | head -5)"

# printed DIR: what reached a printer, over all its connections (PAPPL sends
# jobs that follow each other over one connection): "TAG COUNT" lines for
# the raw jobs, "raster COUNT" for the raster jobs (each starts with ESC @
# NUL ESC).
printed() {
    python3 - "$1" <<'EOT'
import collections, glob, re, sys
data = b"".join(open(f, "rb").read() for f in sorted(glob.glob(sys.argv[1] + "/conn-*")))
for tag, n in sorted(collections.Counter(re.findall(rb"JOB-\d+-\d+;", data)).items()):
    print(tag.decode(), n)
print("raster", data.count(b"\x1b@\x00\x1b"))
EOT
}
total_printed() { printed "$W/fast"; printed "$W/slow"; }

# Every job reaches its printer, then nothing more comes.
for i in $(seq 300); do
    [ "$(total_printed | awk '{n += $2} END {print n + 0}')" -ge "$accepted" ] && break
    kill -0 "$APP_PID" 2>/dev/null || break
    sleep 1
done
sleep 1
echo "     $(($(date +%s) - start)) s for $TOTAL jobs"
app_alive "$TOTAL jobs" || FAILED=$((FAILED + 1))
lost=0 twice=0
for p in fast slow; do
    printed "$W/$p" > "$W/$p.printed"
    twice=$((twice + $(awk '$1 != "raster" && $2 > 1' "$W/$p.printed" | wc -l)))
    raw=$((SENT[$p] - RASTER[$p]))
    lost=$((lost + raw - $(grep -c '^JOB-' "$W/$p.printed")))
    rasters=$(awk '$1 == "raster" {print $2}' "$W/$p.printed")
    want=$((RASTER[$p] - BUSY[$p]))
    [ "$rasters" = "$want" ] && echo "ok   $p: $want raster jobs printed" ||
        bad "$p: $want raster jobs accepted, $rasters printed"
    echo "     $p: ${SENT[$p]} jobs over $(ls "$W/$p" | grep -c '^conn-') connections"
done
[ "$twice" = 0 ] && echo "ok   no job printed twice" || bad "$twice jobs printed twice"
[ "$lost" = 0 ] && echo "ok   no job lost" || bad "$lost jobs lost"
grep -c 'Starting job' "$W/app.log" | sed 's/^/     job starts logged: /'

app_stop
app_clean || FAILED=$((FAILED + 1))
echo "$FAILED failed"
[ "$FAILED" = 0 ]
