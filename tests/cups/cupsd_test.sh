#!/bin/bash
# End to end through a real scheduler: a private cupsd on 127.0.0.1 with its
# own configuration and directories, one queue per shipped PPD pointing at a
# socket:// device, and a small TCP listener standing in for the printer.
# PDF and PNG jobs submitted with lp must reach the listener as exactly the
# bytes our filter writes for that job, in the right family's language; a
# multi-page job cancelled in flight must end cleanly on a page boundary.
#
# Usage: cupsd_test.sh FILTER PPD_DIR PREVIEW
set -u
. "${BASH_SOURCE[0]%/*}/common.sh"

FILTER=${1:?filter}
PPDDIR=${2:?ppd dir}
PREVIEW=${3:?dotforge-preview}

require_root
require_programs cupsd lpadmin lp lpstat cancel ipptool cups-config ppdc gs python3
[ -x "$FILTER" ] || fail "filter $FILTER not built"
[ -x "$PREVIEW" ] || fail "dotforge-preview $PREVIEW not built"
require_socket_queues

make_workdir dotforge-cupsd
make_scheduler_dirs
mkdir -p "$W"/net "$W"/slow
make_serverbin "$W/sb" "$FILTER"
install_capture_wrapper "$FILTER"
CLEANUP_HOOKS+=(stop_all)
start_cupsd "$W/sb"
say "cupsd $CUPSD_PID listening on $SRV"
NETPORT=$(dfstream freeport)
SLOWPORT=$(dfstream freeport)
start_listener "$NETPORT" "$W/net"
start_listener "$SLOWPORT" "$W/slow" --rate 150000

make_doc "$W/docs/l50x30.pdf" 50 30 1
make_doc "$W/docs/l50x30.png" 50 30 1 203
make_doc "$W/docs/r48x50.pdf" 48 50 1
make_doc "$W/docs/r48x50.png" 48 50 1 203
make_doc "$W/docs/r72x100.pdf" 72 100 1
make_doc "$W/docs/sq30.png" 30 30 1 203
# 40 pages of 118 kB: more than the loopback socket buffers hold, so the
# job is still printing when the cancel comes however fast the filter is.
make_doc "$W/docs/many.pdf" 100 150 40
chmod 644 "$W"/docs/*

P="$PPDDIR/dotforge"
NET="socket://127.0.0.1:$NETPORT"
add_queue tspl203 "$NET" "$P-tspl-203.ppd"
add_queue tspl300 "$NET" "$P-tspl-300.ppd"
add_queue escpos58 "$NET" "$P-escpos-58.ppd"
add_queue escpos80 "$NET" "$P-escpos-80.ppd"
add_queue cpcl "$NET" "$P-cpcl-203.ppd"
add_queue paperang "$NET" "$P-paperang-57.ppd"
add_queue peripage "$NET" "$P-peripage-57.ppd"
add_queue slow "socket://127.0.0.1:$SLOWPORT" "$P-tspl-203.ppd"

FAILED=0
CONN=0
INK='0,0,0.5,0.25'

# job NAME QUEUE DOC "LP OPTIONS" CHECK [CHECK ARGS...]
job() {
    local name=$1 q=$2 doc=$3 opts=$4 check=$5 id state got exp i
    shift 5
    # shellcheck disable=SC2086
    id=$(submit "$q" "$W/docs/$doc" $opts) || { FAILED=$((FAILED + 1)); return; }
    state=$(wait_job "$q" "$id" 30)
    CONN=$((CONN + 1))
    got="$W/net/conn-$CONN.bin"
    if [ "$state" != 9 ]; then
        echo "FAIL $name: job $q-$id ended in state $state, not completed (9)"
        show_log "$id"
        cancel -h "$SRV" -a "$q" 2>/dev/null
        FAILED=$((FAILED + 1))
        return
    fi
    for i in $(seq 50); do [ -e "$got" ] && break; sleep 0.05; done
    if [ ! -e "$got" ]; then
        echo "FAIL $name: the printer got no connection for job $q-$id"
        FAILED=$((FAILED + 1))
        return
    fi
    # What the filter writes for this job's raster and options.
    exp=$(expected_output "$q" "$id")
    if ! cmp -s "$got" "$exp"; then
        echo "FAIL $name: the printer got $(stat -c %s "$got") bytes, the filter writes $(stat -c %s "$exp") for this job"
        cmp "$got" "$exp" | head -n 3
        FAILED=$((FAILED + 1))
        return
    fi
    if ! dfstream "$check" "$got" "$@" > "$got.check" 2>&1; then
        echo "FAIL $name: wrong printer stream"
        sed 's/^/    /' "$got.check"
        FAILED=$((FAILED + 1))
        return
    fi
    echo "ok   $name (job $q-$id, $(stat -c %s "$got") bytes to the printer)"
}

say "Jobs"
job tspl203-pdf tspl203 l50x30.pdf "-o PageSize=w142h85 -o Darkness=11 -o zeMediaTracking=BLine" \
    tspl --pages 1 --size-exact "50.05 mm,30.03 mm" --density 11 --bline "0 mm,0 mm" --ink "$INK"
job tspl203-png tspl203 l50x30.png "-o PageSize=w142h85" \
    tspl --pages 1 --size 50x30 --gap "3 mm,0 mm" --density none --ink "$INK"
job tspl300-pdf tspl300 l50x30.pdf "-o PageSize=w142h85" \
    tspl --dpi 300 --pages 1 --size-exact "50.04 mm,29.97 mm" --ink "$INK"
job escpos58-pdf escpos58 r48x50.pdf "-o PageSize=w136h142" escpos --width-bytes 48 --ink 0,0,0.5,1
job escpos58-png escpos58 r48x50.png "-o PageSize=w136h142 -o MoneyBox=AfterPrint" \
    escpos --width-bytes 48 --drawer after --ink 0,0,0.5,1
job escpos80-pdf escpos80 r72x100.pdf "-o PageSize=w204h283" escpos --width-bytes 72 --ink 0,0,0.5,1
job cpcl-pdf cpcl l50x30.pdf "-o PageSize=w142h85" cpcl --width 400 --form --ink "$INK"
job paperang-pdf paperang r48x50.pdf "-o PageSize=w136h142" prefix a50105000519030000571fe7a55a
job paperang-png paperang r48x50.png "-o PageSize=w136h142" prefix a50105000519030000571fe7a55a
job peripage-pdf peripage r48x50.pdf "-o PageSize=w136h142" prefix 10fffe0110ff1003011b40001b6101
job peripage-png peripage r48x50.png "-o PageSize=w136h142 -o EndPrintSound=EveryDoc" prefix 10fffe01
# Through lp: a picture on a label gets the label's size, a whole number
# between the named speeds is used, the cut and label mode options arrive.
job tspl203-png-small tspl203 sq30.png "-o PageSize=w142h85" \
    tspl --pages 1 --size-exact "50.05 mm,30.03 mm" --ink 0.2,0,0.5,0.25
job tspl203-numbers tspl203 l50x30.pdf "-o PageSize=w142h85 -o zePrintRate=7 -o LabelMode=PeelOff" \
    tspl --pages 1 --speed 7 --label-mode "SET PEEL ON;SET CUTTER OFF" --ink "$INK"
job escpos58-cut escpos58 r48x50.pdf "-o PageSize=w136h142 -o CutMedia=EveryPage" \
    escpos --width-bytes 48 --tail 1b4a4f1d5631 --ink 0,0,0.5,1

say "Cancel during a 40-page job"
# The stand-in printer reads slowly, so the job is still printing when it
# is cancelled; after the cancel it reads at full speed so the pipes drain.
cancel_test() {
    local id state i part="$W/slow/conn-1.bin.part" got="$W/slow/conn-1.bin" pages left
    id=$(submit slow "$W/docs/many.pdf") || return 1
    for i in $(seq 300); do
        [ -s "$part" ] || [ -e "$got" ] && break
        sleep 0.05
    done
    [ -s "$part" ] || { echo "FAIL cancel: no data reached the printer"; show_log "$id"; return 1; }
    state=$(job_state slow "$id")
    [ "$state" = 5 ] || { echo "FAIL cancel: job slow-$id is in state $state before the cancel, not processing"; return 1; }
    cancel -h "$SRV" "slow-$id" || { echo "FAIL cancel: cancel failed"; return 1; }
    touch "$W/slow/fast"
    state=$(wait_job slow "$id" 15)
    [ "$state" = 7 ] || { echo "FAIL cancel: job slow-$id ended in state $state, not canceled (7)"; show_log "$id"; return 1; }
    # The filter finishes the page it is on and stops: the printer sees whole pages only.
    for i in $(seq 200); do [ -e "$got" ] && break; sleep 0.05; done
    [ -e "$got" ] || { echo "FAIL cancel: the connection to the printer did not end"; show_log "$id"; return 1; }
    # Whole pages only: the preview reads the stream and names an unfinished page.
    if ! "$PREVIEW" --model 20 -o "$W/slow/page" "$got" > "$got.txt" 2>&1 || grep -q unfinished "$got.txt"; then
        echo "FAIL cancel: the printer got a broken stream:"
        tail -n 3 "$got.txt"
        return 1
    fi
    pages=$(grep -c '^page [0-9]*: ' "$got.txt")
    if [ "$pages" -lt 1 ] || [ "$pages" -ge 40 ]; then
        echo "FAIL cancel: the printer got $pages whole pages of 40"
        return 1
    fi
    # Nothing of the job may be left running.
    for i in $(seq 60); do
        left=$(filter_processes)
        [ "$left" = 0 ] && break
        sleep 0.05
    done
    [ "$left" = 0 ] || { echo "FAIL cancel: the filter is still running after the cancel"; return 1; }
    if grep "\[Job $id\]" "$W/log/error_log" | grep -E 'dotforge.*(crashed|stopped with status)'; then
        echo "FAIL cancel: the filter did not end cleanly"
        return 1
    fi
    lpstat -h "$SRV" -p slow | grep -q 'enabled' || { echo "FAIL cancel: the queue did not stay enabled"; return 1; }
    echo "ok   cancel (job slow-$id: $pages of 40 pages reached the printer, $(stat -c %s "$got") bytes)"
}
cancel_test || FAILED=$((FAILED + 1))

stop_all
echo "$FAILED failed"
[ "$FAILED" = 0 ] || exit 1
exit 0
