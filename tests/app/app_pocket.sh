#!/bin/bash
# Printers that answer back, end to end without hardware: Niimbot label
# printers and cat printers on the stand-in BlueZ (fakebluez.py) and a
# Niimbot on a pty (ptyprinter.py niimbot), both played by pocketfake.py,
# which is written from the published protocol facts, not from the C++.
# A PDF label from `dotforge-app submit` prints whole on each driver (the
# page the fake printer assembles has the label's size and the label's ink
# where the PDF has it), each request waits for its reply, the cat printer's
# pauses are honoured; the printers' status shows (paper out, cover open,
# overheating and a low battery as a warning, the label roll's tag as the
# paper supply's level); a printer that stops answering mid-page ends the job
# with the reason and the server stays up.
#
# Usage: app_pocket.sh APP FILTER PPD_DIR PWGMAKE
set -u
. "${BASH_SOURCE[0]%/*}/../cups/common.sh"
. "${BASH_SOURCE[0]%/*}/app_common.sh"

PY=/usr/bin/python3
"$PY" -c 'import dbus, dbus.mainloop.glib; from gi.repository import GLib' 2> /dev/null ||
    skip "python3-dbus and python3-gi are not installed"
[ -c /dev/ptmx ] || skip "no pseudo-terminals here"
app_setup "$@" dotforge-app-pocket
require_programs gs
app_drivers | grep -qx niimbot-b1 || skip "no Niimbot driver built"
POCKET="${BASH_SOURCE[0]%/*}/pocketfake.py"
FAILED=0
bad() { echo "FAIL $*"; FAILED=$((FAILED + 1)); }

start_bus "$W/bus"
mkdir -p "$W/bluez" "$W/pty"
"$PY" "${BASH_SOURCE[0]%/*}/fakebluez.py" "$W/bluez" > "$W/bluez.out" 2>&1 &
LISTENER_PIDS+=($!)
"$PY" "${BASH_SOURCE[0]%/*}/ptyprinter.py" "$W/pty" niimbot > "$W/pty.out" 2>&1 &
LISTENER_PIDS+=($!)
for i in $(seq 100); do [ -e "$W/bluez/ready" ] && [ -s "$W/pty/path" ] && break; sleep 0.05; done
[ -e "$W/bluez/ready" ] || fail "the stand-in BlueZ did not start: $(cat "$W/bluez.out")"
[ -s "$W/pty/path" ] || fail "the pty printer did not start: $(cat "$W/pty.out")"
PTS=$(cat "$W/pty/path")

app_start -o device-timeout=5
uri() { echo "ipp://$SRV/ipp/print/$1"; }
# The fake printers' files: DIR/ADDRESS.state (what it reports), .log, -pageN.pbm.
B1=$W/bluez/11:22:33:44:55:05 CAT=$W/bluez/11:22:33:44:55:06 D11=$W/bluez/11:22:33:44:55:07 SER=$W/pty/niimbot

# printed NAME MEDIA W H: submits a W x H mm PDF label to NAME and waits
# for its job to end; prints the job's state.
printed() {
    local before id i
    make_doc "$W/docs/$1.pdf" "$3" "$4" 1
    before=$(last_job "$1")
    "$APP" submit -d "$1" -o media="$2" "$W/docs/$1.pdf" > "$W/submit-$1.txt" 2>&1 ||
        { echo "submit failed: $(cat "$W/submit-$1.txt")"; return 1; }
    for i in $(seq 100); do
        id=$(last_job "$1")
        [ -n "$id" ] && [ "$id" != "$before" ] && break
        sleep 0.1
    done
    wait_job "$1" "$id"
}

say "A PDF label on each driver"
# The PDF's black bar is the left half of its top quarter: an eighth of a
# label; on the roll, whose blank end is trimmed, half of what is printed.
# printer | driver | device | fake's files | media | PDF mm (w h) | page cols rows | the ink where
while IFS='|' read -r name drv device files media size dots ink; do
    "$APP" add -d "$name" -m "$drv" -v "$device" > "$W/add-$name.txt" 2>&1 ||
        { bad "$name: could not add $device: $(cat "$W/add-$name.txt")"; continue; }
    read -r w h <<< "$size"
    read -r cols rows <<< "$dots"
    state=$(printed "$name" "$media" "$w" "$h")
    [ "$state" = completed ] || bad "$name: the job ended '$state': $(get_job "$(uri "$name")" "$(last_job "$name")" job-state-message)"
    if [ ! -e "$files-page1.pbm" ]; then
        bad "$name: no page reached the printer ($(tail -n 3 "$files.log" 2>/dev/null))"
        continue
    fi
    read -r share quarter part <<< "$ink"
    got=$("$PY" "$POCKET" check "$files-page1.pbm" "$cols" "$rows" "$quarter")
    # shellcheck disable=SC2053
    case "$got" in
        "ink $share"*" $quarter $part"*) echo "ok   $name: a ${cols}x$rows page, $got" ;;
        *) bad "$name: the page is not the label: $got" ;;
    esac
    faults=$(grep -e 'before the reply' -e 'while paused' -e 'bad frame' -e 'short row' "$files.log")
    [ -z "$faults" ] && echo "ok   $name: every request waited for its reply" || bad "$name: $(head -n 3 <<< "$faults")"
done << EOT
nb1|niimbot-b1|ble://11-22-33-44-55-05|$B1|om_label-50x30_50x30mm|50 30|384 240|0.12 top-left 0.12
nd11|niimbot-d11|ble://11-22-33-44-55-07|$D11|om_label-40x12_40x12mm|40 12|96 320|0.12 top-right 0.12
cat|cat-57|ble://11-22-33-44-55-06|$CAT|om_roll-58-50_48x50mm|48 50|384 100|0.5 top-left 0.25
nser|niimbot-b1|serial:$PTS?baud=115200|$SER|om_label-50x30_50x30mm|50 30|384 240|0.12 top-left 0.12
EOT
pauses=$(grep -c '^pause' "$CAT.log")
resumes=$(grep -c '^resume' "$CAT.log")
[ "$pauses" -ge 2 ] && [ "$resumes" = "$pauses" ] && echo "ok   cat: paused $pauses times, no byte while paused" ||
    bad "cat: $pauses pauses, $resumes resumes"
grep -q "ospeed=B115200" "$W/pty/termios" && echo "ok   nser: the line runs at 115200" ||
    bad "nser: the line settings are $(cat "$W/pty/termios")"

say "Status from printers that answer back"
# printer | fake's files | what it reports | the reasons and supplies (_ for a space) the printer must show
while IFS='|' read -r name files report want; do
    echo "$report" > "$files.state"
    for reason in $want; do
        reason=${reason//_/ }
        case "$reason" in
            supply:*)
                for _ in $(seq 40); do
                    supply=$(get_printer "$(uri "$name")" printer-supply-description,printer-supply)
                    grep -qF "${reason#supply:}" <<< "$supply" && break
                    sleep 0.25
                done
                grep -qF "${reason#supply:}" <<< "$supply" && echo "ok   $name ($report): ${reason#supply:}" ||
                    bad "$name ($report): no ${reason#supply:} in $supply" ;;
            *)
                wait_reason "$(uri "$name")" "$reason" && echo "ok   $name ($report): $reason" ||
                    bad "$name ($report): no $reason in $(get_printer "$(uri "$name")" printer-state-reasons)" ;;
        esac
    done
    : > "$files.state"
    wait_reason "$(uri "$name")" none || bad "$name: the reasons stay: $(get_printer "$(uri "$name")" printer-state-reasons)"
done << EOT
nb1|$B1|lid-open no-paper|cover-open-error media-empty-error
nb1|$B1|rfid|supply:Gap_labels,_68_of_80_left supply:level=85
nser|$SER|no-paper|media-empty-error
cat|$CAT|lid-open no-paper|cover-open-error media-empty-error
cat|$CAT|low-battery|other-warning
EOT

say "A printer that stops answering mid-page"
echo "mute-after-rows=1" > "$B1.state"
start=$(date +%s)
state=$(printed nb1 om_label-50x30_50x30mm 50 30)
message=$(get_job "$(uri nb1)" "$(last_job nb1)" job-state-message)
case "$state $message" in
    "aborted "*"did not answer"*) echo "ok   the job ends after $(($(date +%s) - start)) s: $message" ;;
    *) bad "the job to a silent printer is '$state': $message" ;;
esac
app_alive "a printer that stopped answering" || FAILED=$((FAILED + 1))
: > "$B1.state"
[ "$(printed nb1 om_label-50x30_50x30mm 50 30)" = completed ] && echo "ok   the next job prints" ||
    bad "the next job did not complete"

app_stop
app_clean || FAILED=$((FAILED + 1))
echo "$FAILED failed"
[ "$FAILED" = 0 ]
