#!/bin/bash
# PrinterStatus through a private cupsd: a socket:// queue to dotforge-
# preview's virtual printer. With -o PrinterStatus=On, paper out reaches the
# queue's printer-state-reasons and goes again once the paper is back;
# without it the printer gets exactly the filter's bytes and no query. (The
# bytes of an On job are not compared: a query between pages that a loaded
# machine leaves unanswered for 300 ms stays in the stream, where a printer
# takes it as a query but the virtual printer cannot tell it from the job.)
#
# Usage: status_test.sh FILTER PPD_DIR PREVIEW
set -u
. "${BASH_SOURCE[0]%/*}/common.sh"

FILTER=${1:?filter}
PPDDIR=${2:?ppd dir}
PREVIEW=${3:?dotforge-preview}

require_root
require_programs cupsd lpadmin lp lpstat ipptool cups-config python3
[ -x "$FILTER" ] || fail "filter $FILTER not built"
[ -x "$PREVIEW" ] || fail "dotforge-preview $PREVIEW not built"
require_socket_queues

make_workdir dotforge-status
make_scheduler_dirs
make_serverbin "$W/sb" "$FILTER"
LISTENER_PIDS=()
CLEANUP_HOOKS+=(stop_all)
start_cupsd "$W/sb"
VPORT=$(dfstream freeport)
mkdir -p "$W/vp"
echo paper-out > "$W/vp/status"
"$PREVIEW" --listen "127.0.0.1:$VPORT" --status-file "$W/vp/status" -o "$W/vp/job" > "$W/vp/log" 2>&1 &
LISTENER_PIDS+=($!)
for i in $(seq 100); do grep -q listening "$W/vp/log" && break; sleep 0.05; done
add_queue receipt "socket://127.0.0.1:$VPORT" "$PPDDIR/dotforge-escpos-58.ppd"
dfstream raster "$W/docs/r.ras" --width 384 --height 200 --pages 2
chmod 644 "$W/docs/r.ras"
Q="ipp://$SRV/printers/receipt"
FAILED=0
bad() { echo "FAIL $*"; FAILED=$((FAILED + 1)); }

# job N [lp options]: prints a job and waits for the virtual printer's job N.
job() {
    local n=$1 id i
    shift
    id=$(submit receipt "$W/docs/r.ras" "$@") || fail "lp refused the job"
    state=$(wait_job receipt "$id" 30)
    [ "$state" = 9 ] || { show_log "$id"; bad "job $id ended in state $state"; }
    for i in $(seq 40); do [ -e "$W/vp/job-$n.prn" ] && break; sleep 0.05; done
}

say "PrinterStatus=On, paper out"
job 1 -o PrinterStatus=On
reasons=$(get_printer "$Q" printer-state-reasons)
case "$reasons" in *media-empty-error*) echo "ok   printer-state-reasons: $reasons" ;;
    *) bad "printer-state-reasons: $reasons"; cat "$W/vp/log" ;; esac
grep -q "^query 10 04 04: 72" "$W/vp/log" && echo "ok   asked and answered" || bad "no paper query answered"

say "PrinterStatus=On, paper back"
echo ready > "$W/vp/status"
job 2 -o PrinterStatus=On
reasons=$(get_printer "$Q" printer-state-reasons)
case "$reasons" in *media-empty*) bad "the reason stays: $reasons" ;; *) echo "ok   printer-state-reasons: $reasons" ;; esac

say "PrinterStatus=Off: the filter's bytes, no query"
queries=$(grep -c "^query" "$W/vp/log")
job 3
PPD="$PPDDIR/dotforge-escpos-58.ppd" "$FILTER" 1 root r 1 "" "$W/docs/r.ras" > "$W/expect.bin" 2> /dev/null
cmp -s "$W/vp/job-3.prn" "$W/expect.bin" && echo "ok   $(stat -c %s "$W/expect.bin") bytes as the filter writes them" ||
    bad "the printer got other bytes than the filter writes"
[ "$(grep -c "^query" "$W/vp/log")" = "$queries" ] && echo "ok   no query" || bad "Off asked the printer"
[ "$FAILED" -eq 0 ] || fail "$FAILED check(s) failed"
echo "PASS"
