#!/bin/bash
# Load and faults through a real scheduler (private cupsd, listeners standing
# in for printers, as in cupsd_test.sh):
#  - 200 jobs (mostly PNG, some PDF of one to three pages) from 4 clients at
#    once over one queue per family: every job completes and each printer
#    receives exactly the filter's bytes for each of its jobs, one connection
#    per job, nothing lost or interleaved;
#  - one job in ten goes to a slow printer and is cancelled while printing:
#    what arrives ends on a page boundary;
#  - a printer that resets the connection mid-job: the filter reports the
#    write error and exits 1 at once, and CUPS's retry delivers the job whole;
#  - a raster stream of many pages of the largest page size: the filter's
#    peak memory stays at one page's worth.
#
# Usage: load_test.sh FILTER PPD_DIR PREVIEW
set -u
. "${BASH_SOURCE[0]%/*}/common.sh"

FILTER=${1:?filter}
PPDDIR=${2:?ppd dir}
PREVIEW=${3:?dotforge-preview}
JOBS=${LOAD_JOBS:-200}
CLIENTS=4

require_root
require_programs cupsd lpadmin lp lpstat cancel ipptool cups-config gs python3 md5sum
[ -x "$FILTER" ] || fail "filter $FILTER not built"
[ -x "$PREVIEW" ] || fail "dotforge-preview $PREVIEW not built"
require_socket_queues

T0=$(date +%s.%N)
elapsed() { python3 -c "import sys; print('%.1f' % (float(sys.argv[2]) - float(sys.argv[1])))" "$T0" "$(date +%s.%N)"; }

make_workdir dotforge-load
make_scheduler_dirs
make_serverbin "$W/sb" "$FILTER"
install_capture_wrapper "$FILTER"
# A retried job comes back after a second, not the default thirty.
CLEANUP_HOOKS+=(stop_all)
start_cupsd "$W/sb" "JobRetryInterval 1" "MaxJobs 1000"
say "cupsd $CUPSD_PID listening on $SRV"

P="$PPDDIR/dotforge"
declare -A PPD=([tspl]=tspl-203 [escpos]=escpos-58 [cpcl]=cpcl-203 [paperang]=paperang-57 [peripage]=peripage-57
    [slow]=tspl-203 [flaky]=tspl-203)
for q in tspl escpos cpcl paperang peripage slow flaky; do
    port=$(dfstream freeport)
    case $q in
        slow) start_listener "$port" "$W/net/$q" --rate 60000 ;;
        flaky) start_listener "$port" "$W/net/$q" --drop-first 20000 ;;
        *) start_listener "$port" "$W/net/$q" ;;
    esac
    add_queue "$q" "socket://127.0.0.1:$port" "$P-${PPD[$q]}.ppd"
done
lpadmin -h "$SRV" -p flaky -o printer-error-policy=retry-job > "$W/log/lpadmin-flaky-policy.txt" 2>&1 ||
    fail "cannot set the retry policy"

make_doc "$W/docs/label.png" 50 30 1 203
make_doc "$W/docs/roll.png" 48 50 1 203
for n in 1 2 3; do
    make_doc "$W/docs/label-$n.pdf" 50 30 $n
    make_doc "$W/docs/roll-$n.pdf" 48 50 $n
done
# The cancelled jobs go straight to our filter: sixteen 104 x 500 mm pages
# (a compressed raster of a few kB), 416 kB of TSPL each. The pipe and the
# socket on the way hold up to 4 MB, so most of the job is still to be
# written when its first bytes reach the printer.
dfstream raster "$W/docs/big-16.ras" --width 832 --height 4000 --bpp 8 --pages 16 --compress
chmod 644 "$W"/docs/*
say "set up in $(elapsed) s"

# ---------------------------------------------------------------- load
say "$JOBS jobs from $CLIENTS clients"
# Client c submits jobs c, c+4, ...: every tenth to the slow printer (to be
# cancelled), one in eighteen as a PDF, the others as PNG (cheaper).
client() {
    local c=$1 i q doc k=0
    local fams=(tspl escpos cpcl paperang peripage)
    for ((i = c; i < JOBS; i += CLIENTS)); do
        if ((i % 10 == 9)); then
            q=slow doc=big-16.ras
        else
            q=${fams[$((k % 5))]}
            k=$((k + 1))
            case $q in tspl | cpcl) doc=label ;; *) doc=roll ;; esac
            if ((i % 18 == 0)); then doc=$doc-$((i % 3 + 1)).pdf; else doc=$doc.png; fi
        fi
        case $doc in
            *.ras) id=$(submit "$q" "$W/docs/$doc" -o document-format=application/vnd.cups-raster) ;;
            *) id=$(submit "$q" "$W/docs/$doc") ;;
        esac || { echo "lp failed for job $i" >&2; continue; }
        echo "$q $id $doc" >> "$W/submitted-$c"
    done
}
# The slow printer holds its jobs until all are in, so that each is still
# there to be cancelled while it prints.
cupsdisable -h "$SRV" slow || fail "cupsdisable"
CLIENT_PIDS=()
for ((c = 0; c < CLIENTS; c++)); do
    client $c &
    CLIENT_PIDS+=($!)
done
wait "${CLIENT_PIDS[@]}"
cat "$W"/submitted-* | sort -k2n > "$W/jobs"
SUBMITTED=$(wc -l < "$W/jobs")
say "$SUBMITTED jobs submitted after $(elapsed) s"
cupsenable -h "$SRV" slow || fail "cupsenable"
FAILED=0
[ "$SUBMITTED" = "$JOBS" ] || { echo "FAIL: only $SUBMITTED of $JOBS jobs were accepted"; FAILED=$((FAILED + 1)); }

# The slow printer's jobs, in the order it prints them: each is cancelled
# once its first bytes have arrived; the printer then reads at full speed
# until the connection ends, and slowly again for the next job.
cancel_all() {
    local q id doc n=0 i state part
    while read -r q id doc; do
        [ "$q" = slow ] || continue
        n=$((n + 1))
        part="$W/net/slow/conn-$n.bin.part"
        for i in $(seq 600); do
            [ -s "$part" ] && break
            sleep 0.05
        done
        state=$(job_state slow "$id")
        if [ ! -s "$part" ] || [ "$state" != 5 ]; then
            echo "FAIL cancel: job slow-$id is in state $state with no data at the printer"
            return 1
        fi
        cancel -h "$SRV" "slow-$id" || { echo "FAIL cancel: cancel slow-$id"; return 1; }
        touch "$W/net/slow/fast"
        for i in $(seq 300); do
            [ -e "$W/net/slow/conn-$n.bin" ] && break
            sleep 0.05
        done
        rm -f "$W/net/slow/fast"
    done < "$W/jobs"
}
cancel_all || FAILED=$((FAILED + 1))

# Every other job ends by itself.
for i in $(seq 1200); do
    [ -z "$(lpstat -h "$SRV" -o 2>/dev/null)" ] && break
    sleep 0.1
done
[ -z "$(lpstat -h "$SRV" -o 2>/dev/null)" ] || { echo "FAIL: jobs left unfinished:"; lpstat -h "$SRV" -o | head; FAILED=$((FAILED + 1)); }
say "all jobs ended after $(elapsed) s"

# Job states, and the expected bytes of each completed job. Jobs with the
# same raster and the same options (apart from what CUPS stamps per job)
# share one run of the filter.
volatile='job-uuid=|job-originating-host-name=|date-time-at-|time-at-|document-name-supplied='
declare -A EXPECT
: > "$W/expected-sums"
cat > "$W/jobs.test" <<'EOF'
{
  NAME "all jobs"
  OPERATION Get-Jobs
  GROUP operation-attributes-tag
  ATTR charset attributes-charset utf-8
  ATTR naturalLanguage attributes-natural-language en
  ATTR uri printer-uri $uri
  ATTR keyword which-jobs all
  ATTR name requesting-user-name root
  ATTR keyword requested-attributes job-id,job-state
  STATUS successful-ok
  DISPLAY job-id
  DISPLAY job-state
}
EOF
declare -A STATE
while IFS=, read -r jid jstate; do
    case "$jstate" in canceled) STATE[$jid]=7 ;; aborted) STATE[$jid]=8 ;; completed) STATE[$jid]=9 ;;
        *) STATE[$jid]=$jstate ;; esac
done < <(ipptool -c "ipp://$SRV/" "$W/jobs.test" 2>/dev/null)
while read -r q id doc; do
    state=${STATE[$id]:-unknown}
    want=9
    [ "$q" = slow ] && want=7
    if [ "$state" != "$want" ]; then
        echo "FAIL: job $q-$id ($doc) ended in state $state, expected $want"
        show_log "$id" | tail -n 8
        FAILED=$((FAILED + 1))
        continue
    fi
    key="$q $(md5sum < "$W/cap/job-$id/in.ras" | cut -c1-32) $(tr ' ' '\n' < "$W/cap/job-$id/options" |
        grep -Ev "^($volatile)" | md5sum | cut -c1-32)"
    if [ -z "${EXPECT[$key]:-}" ]; then
        EXPECT[$key]=$(expected_output "$q" "$id")
    fi
    echo "$q $id $(md5sum < "${EXPECT[$key]}" | cut -c1-32) ${EXPECT[$key]}" >> "$W/expected-sums"
done < "$W/jobs"
say "$((${#EXPECT[@]})) distinct filter runs for the expected bytes, $(elapsed) s"

# Each printer got one connection per job holding exactly the bytes the
# filter writes for it: the multisets of checksums agree.
for q in tspl escpos cpcl paperang peripage; do
    awk -v q=$q '$1 == q { print $3 }' "$W/expected-sums" | sort > "$W/want-$q"
    for f in "$W/net/$q"/conn-*.bin; do [ -e "$f" ] && md5sum < "$f" | cut -c1-32; done | sort > "$W/got-$q"
    if cmp -s "$W/want-$q" "$W/got-$q"; then
        echo "ok   $q: $(wc -l < "$W/got-$q") jobs arrived whole, each on its own connection"
    else
        echo "FAIL $q: $(wc -l < "$W/want-$q") jobs expected, $(wc -l < "$W/got-$q") connections; differing checksums:"
        diff "$W/want-$q" "$W/got-$q" | head -n 6
        FAILED=$((FAILED + 1))
    fi
done

# A cancelled job's connection holds the first whole pages of its output.
n=0
PAGES=""
while read -r q id sum exp; do
    [ "$q" = slow ] || continue
    n=$((n + 1))
    got="$W/net/slow/conn-$n.bin"
    size=$(stat -c %s "$got" 2>/dev/null || echo 0)
    if ! cmp -s -n "$size" "$got" "$exp"; then
        echo "FAIL cancel: job slow-$id: the printer got bytes the filter does not write"
        FAILED=$((FAILED + 1))
        continue
    fi
    "$PREVIEW" --model 20 -o "$W/net/slow/page-$n" "$got" > "$got.txt" 2>&1
    pages=$(grep -c '^page [0-9]*: ' "$got.txt")
    if grep -q 'unfinished' "$got.txt" || [ "$size" = 0 ] || [ "$pages" -ge 16 ]; then
        echo "FAIL cancel: job slow-$id left $pages pages, $size bytes:"
        tail -n 3 "$got.txt"
        FAILED=$((FAILED + 1))
    fi
    PAGES="$PAGES $pages"
done < "$W/expected-sums"
echo "ok   cancel: $n jobs cancelled while printing; whole pages that reached the printer:$PAGES"
say "load checked after $(elapsed) s"

# ---------------------------------------------------------------- printer goes away
say "The printer resets the connection mid-job"
id=$(submit flaky "$W/docs/big-16.ras" -o document-format=application/vnd.cups-raster) || fail "lp"
state=$(wait_job flaky "$id" 40)
log=$(grep "\[Job $id\]" "$W/log/error_log")
exp=$(expected_output flaky "$id")
if [ "$state" != 9 ]; then
    echo "FAIL flaky: job flaky-$id ended in state $state, not completed after a retry"
    show_log "$id"
    FAILED=$((FAILED + 1))
elif [ ! -e "$W/net/flaky/conn-1.dropped" ] || ! cmp -s "$W/net/flaky/conn-2.bin" "$exp"; then
    echo "FAIL flaky: the retry did not deliver the job whole"
    ls -l "$W/net/flaky"
    FAILED=$((FAILED + 1))
elif ! grep -q 'Unable to write print data' <<< "$log"; then
    echo "FAIL flaky: the filter did not report the write error"
    show_log "$id"
    FAILED=$((FAILED + 1))
else
    # From the reset to the filter's exit: the log's timestamps.
    python3 - "$W/log/error_log" "$id" <<'PY' || FAILED=$((FAILED + 1))
import re, sys, datetime
lines = [l for l in open(sys.argv[1], errors="replace") if "[Job %s]" % sys.argv[2] in l]
def when(l):
    return datetime.datetime.strptime(re.search(r"\[(\d+/\w+/\d+:\d+:\d+:\d+)", l).group(1), "%d/%b/%Y:%H:%M:%S")
err = [l for l in lines if "Unable to write print data" in l]
done = [l for l in lines if re.search(r"PID \d+ \(.*dotforge\) (stopped with status 1|exited with)", l)]
if not done:
    print("FAIL flaky: the filter's exit is not in the log"); sys.exit(1)
took = (when(done[0]) - when(err[0])).total_seconds()
print("ok   flaky: the filter reported the write error and ended %s (%d s later); the retry delivered the job whole"
      % (done[0].split("] ", 1)[1].strip(), took))
sys.exit(0 if took <= 2 else 1)
PY
fi
stop_all

# ---------------------------------------------------------------- memory
say "Many pages of the largest size"
# The longest ESC/POS page: 80 mm roll, 3 m, 8-bit grey (576 x 24000 dots,
# 13.8 MB of raster). One page and eight in a row must peak at the same
# memory; the sanitizer's quarantine is off so freed pages are reused.
python3 - "$W/bin/dotforge" "$P-escpos-80.ppd" "$HERE" <<'PY' || FAILED=$((FAILED + 1))
import os, subprocess, sys
sys.path.insert(0, sys.argv[3])
from dfstream import raster_header, raster_page
flt, ppd = sys.argv[1], sys.argv[2]
W, H = 576, 24000
page = raster_header(W, H, 8) + raster_page(W, H, 8)
def peak(pages):
    env = dict(os.environ, PPD=ppd, ASAN_OPTIONS="quarantine_size_mb=0:detect_leaks=0")
    p = subprocess.Popen([flt, "1", "root", "big", "1", "ImageFilter=0 CropEdgeBottom=0"], stdin=subprocess.PIPE,
                         stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, env=env)
    p.stdin.write(b"3SaR")
    for _ in range(pages):
        p.stdin.write(page)
    p.stdin.close()
    _, status, use = os.wait4(p.pid, 0)
    if status != 0:
        print("FAIL memory: the filter exited with status %d on %d pages" % (status, pages))
        sys.exit(1)
    return use.ru_maxrss // 1024
one, many = peak(1), peak(8)
ok = many <= one * 1.15 + 8
print("%s memory: peak %d MB for 1 page, %d MB for 8 pages of %d x %d dots (%.1f MB of raster each)"
      % ("ok  " if ok else "FAIL", one, many, W, H, W * H / 1e6))
sys.exit(0 if ok else 1)
PY

say "done in $(elapsed) s"
echo "$FAILED failed"
[ "$FAILED" = 0 ] || exit 1
exit 0
