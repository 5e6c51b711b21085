#!/bin/bash
# Bluetooth LE printers end to end without a radio: a private message bus
# with a stand-in BlueZ (fakebluez.py) offering a PeriPage-like and a
# Paperang-like printer, dotforge-app pointed at that bus. Jobs must arrive
# byte for byte as the filter writes them, in writes no larger than the link
# or the printer allow and never ahead of the printer's flow-control grants;
# a printer that vanishes mid-job aborts the job with a reason, one that never
# connects is given up within the URI's timeout with a reason; the server
# stays up through both. `devices` lists the printers, and with no bus says
# why it lists none.
#
# Usage: app_ble.sh APP FILTER PPD_DIR PWGMAKE
set -u
. "${BASH_SOURCE[0]%/*}/../cups/common.sh"
. "${BASH_SOURCE[0]%/*}/app_common.sh"

# The stand-in needs the system's python with its D-Bus and GLib bindings.
PY=/usr/bin/python3
"$PY" -c 'import dbus, dbus.mainloop.glib; from gi.repository import GLib' 2> /dev/null ||
    skip "python3-dbus and python3-gi are not installed"
app_setup "$@" dotforge-app-ble
require_programs curl
start_bus "$W/empty"  # a bus without BlueZ on it
EMPTY_BUS=$DBUS_SYSTEM_BUS_ADDRESS
start_bus "$W/bus"
mkdir -p "$W/bluez"
"$PY" "${BASH_SOURCE[0]%/*}/fakebluez.py" "$W/bluez" > "$W/bluez.out" 2>&1 &
LISTENER_PIDS+=($!)
for i in $(seq 100); do [ -e "$W/bluez/ready" ] && break; sleep 0.05; done
[ -e "$W/bluez/ready" ] || fail "the stand-in BlueZ did not start: $(cat "$W/bluez.out")"

FAILED=0
bad() { echo "FAIL $*"; FAILED=$((FAILED + 1)); }

say "dotforge-app devices"
devices=$(timeout 30 "$APP" devices -v 2>&1)
for want in "ble://11-22-33-44-55-01|PeriPage_A6_BLE" "ble://11-22-33-44-55-02|Paperang_P2S"; do
    if grep -qx "${want%%|*}" <<< "$devices" && grep -q "${want#*|} (Bluetooth LE" <<< "$devices"; then
        echo "ok   devices lists ${want/|/ }"
    else
        bad "devices does not list ${want/|/ }: $devices"
    fi
done
# bus address | the reason on standard error
while IFS='|' read -r address reason; do
    devices=$(DBUS_SYSTEM_BUS_ADDRESS=$address timeout 30 "$APP" devices 2>&1)
    if grep -q '^ble:' <<< "$devices"; then
        bad "devices lists Bluetooth printers on $address"
    elif grep -qF "$reason" <<< "$devices"; then
        echo "ok   devices without BlueZ: $reason"
    else
        bad "devices on $address gives no reason '$reason': $devices"
    fi
done << EOT
unix:path=$W/none.sock|no system bus
$EMPTY_BUS|Bluetooth is not running
EOT

app_start

say "The web interface's Add Printer page"
page=$(curl -s --max-time 30 "http://$SRV/addprinter")
for want in "ble://11-22-33-44-55-01" "Paperang_P2S (Bluetooth LE 11:22:33:44:55:02)"; do
    grep -qF "$want" <<< "$page" && echo "ok   Add Printer offers $want" || bad "Add Printer does not offer $want"
done

say "Jobs to the stand-in printers"
# `add` takes the address with colons as well as with dashes.
# driver | address and URI settings | PWG size (w h dpi) | chunk limit
while IFS='|' read -r drv where size limit; do
    name=$drv-ble
    addr=${where%%\?*}
    addr=${addr//-/:}
    "$APP" add -d "$name" -m "$drv" -v "ble://$where" > "$W/add-$name.txt" 2>&1 ||
        { bad "$name: could not add ble://$where: $(cat "$W/add-$name.txt")"; continue; }
    read -r w h dpi <<< "$size"
    "$PWGMAKE" "$W/docs/$name.pwg" "$w" "$h" "$dpi" 2 || fail "pwgmake"
    expect_filter "$drv" "" "$W/docs/$name.pwg" "$W/expect/$name.bin"
    id=$(ipp_job "$name" "$W/docs/$name.pwg" image/pwg-raster "ATTR keyword media om_roll-58-50_48x50mm")
    state=$(wait_job "$name" "$id")
    wait_bytes "$W/bluez/$addr.bin" "$(stat -c %s "$W/expect/$name.bin")"
    same_bytes "$name (ble://$where)" "$W/bluez/$addr.bin" "$W/expect/$name.bin" || FAILED=$((FAILED + 1))
    [ "$state" = completed ] || bad "$name: job $id ended $state"
    faults=$(grep -v -e '^connect$' -e '^disconnect$' "$W/bluez/$addr.log")
    [ -z "$faults" ] && echo "ok   $name: writes within $limit bytes and the flow grants" ||
        bad "$name: $(head -n 3 <<< "$faults")"
    grep -qx disconnect "$W/bluez/$addr.log" && echo "ok   $name: disconnected after the job" ||
        bad "$name: still connected after the job"
done <<'EOT'
peripage-57|11:22:33:44:55:01|384 300 203|100 (granted 2 writes at a time)
paperang-57|11-22-33-44-55-02|384 400 203|182 (MTU 185 through AcquireWrite)
EOT

say "A printer that vanishes mid-job"
"$APP" add -d gone -m peripage-57 -v "ble://11-22-33-44-55-03" > /dev/null 2>&1 || bad "could not add the vanishing printer"
id=$(ipp_job gone "$W/docs/peripage-57-ble.pwg" image/pwg-raster "ATTR keyword media om_roll-58-50_48x50mm")
state=$(wait_job gone "$id")
[ "$state" = aborted ] && echo "ok   the job ended aborted" || bad "the job to a vanished printer ended '$state'"
grep -q "connection to the printer lost" "$W/app.log" && echo "ok   the log says why" ||
    bad "no reason for the lost printer in the log"
message=$(get_job "ipp://$SRV/ipp/print/gone" "$id" job-state-message)
grep -q "connection to the printer lost" <<< "$message" && echo "ok   the job says why: $message" ||
    bad "the job's message gives no reason: $message"

say "Printers that cannot be reached: given up in bounded time, with a reason"
# powered true|false: switches the stand-in's adapter, as `bluetoothctl power` does.
powered() {
    "$PY" -c 'import dbus, sys; dbus.SystemBus().get_object("org.bluez", "/org/bluez/hci0").Set(
        "org.bluez.Adapter1", "Powered", dbus.Boolean(sys.argv[1] == "true"),
        dbus_interface="org.freedesktop.DBus.Properties")' "$1" || bad "could not switch the adapter"
}
sockets=$(app_unix_sockets)
# printer | URI | adapter powered | the reason the log must give | at most seconds
while IFS='|' read -r name uri on reason most; do
    powered "$on"
    "$APP" add -d "$name" -m peripage-57 -v "$uri" > /dev/null 2>&1 || { bad "could not add $uri"; continue; }
    addr=${uri#ble://}
    addr=${addr%%\?*}
    want="Bluetooth printer ${addr//-/:}: $reason"
    start=$(date +%s)
    # PAPPL streams a raster job from the request itself and keeps retrying
    # the device, so the request does not return: it runs beside the test.
    ipp_job "$name" "$W/docs/peripage-57-ble.pwg" image/pwg-raster "ATTR keyword media om_roll-58-50_48x50mm" \
        > /dev/null &
    request=$!
    for i in $(seq 150); do grep -qF "$want" "$W/app.log" && break; sleep 0.1; done
    took=$(($(date +%s) - start))
    if ! grep -qF "$want" "$W/app.log"; then
        bad "$name: no '$want' after ${took}s"
    elif [ "$took" -gt "$most" ]; then
        bad "$name: '$reason' only after ${took}s"
    else
        echo "ok   $name: '$reason' after ${took}s"
    fi
    "$APP" cancel -d "$name" -j "$(last_job "$name")" > /dev/null 2>&1
    kill "$request" 2> /dev/null
    wait "$request" 2> /dev/null
done <<'EOT'
mute|ble://11:22:33:44:55:04?timeout=2|true|printer did not connect|6
unknown|ble://11-22-33-44-55-09?timeout=1|true|printer not found|5
off|ble://11-22-33-44-55-01?timeout=3|false|Bluetooth adapter off|3
EOT
powered true
# Each failed open (one or more per printer) closes its bus connection; one
# of slack for a client of the control socket still closing.
sleep 1
now=$(app_unix_sockets)
[ "$now" -le $((sockets + 1)) ] && echo "ok   the failed opens closed their bus connections ($sockets, then $now)" ||
    bad "the failed opens left bus connections open: $sockets sockets before, $now after"

say "The server is still up"
kill -0 "$APP_PID" 2> /dev/null || bad "the server is gone"
: > "$W/bluez/11:22:33:44:55:01.bin"
id=$(ipp_job peripage-57-ble "$W/docs/peripage-57-ble.pwg" image/pwg-raster "ATTR keyword media om_roll-58-50_48x50mm")
[ "$(wait_job peripage-57-ble "$id")" = completed ] && echo "ok   a later job completes" || bad "a later job did not complete"

app_stop
app_clean || FAILED=$((FAILED + 1))
echo "$FAILED failed"
[ "$FAILED" = 0 ]
