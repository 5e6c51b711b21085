#!/bin/bash
# Printers, their defaults and their ready media survive a restart of
# dotforge-app: the state file written by the first server is read by the
# second, and the same job prints the same bytes before and after.
#
# Usage: app_state.sh APP FILTER PPD_DIR PWGMAKE
set -u
. "${BASH_SOURCE[0]%/*}/../cups/common.sh"
. "${BASH_SOURCE[0]%/*}/app_common.sh"

app_setup "$@" dotforge-app-state
NETPORT=$(dfstream freeport)
start_printer "$NETPORT" "$W/net"
app_start
FAILED=0
bad() { echo "FAIL $*"; FAILED=$((FAILED + 1)); }

"$APP" add -d label -m tspl-203 -v "socket://127.0.0.1:$NETPORT" >/dev/null || fail "add label"
"$APP" add -d till -m escpos-58 -v "socket://127.0.0.1:$NETPORT" >/dev/null || fail "add till"
"$APP" modify -d label -o printer-darkness-configured=80 -o dotforge-dither-method-default=stucki \
    -o media-ready=om_label-50x30_50x30mm -o media-default=om_label-50x30_50x30mm > "$W/modify.txt" 2>&1 ||
    { cat "$W/modify.txt"; fail "modify label"; }
"$APP" modify -d till -o dotforge-cash-drawer-default=before-print > "$W/modify2.txt" 2>&1 ||
    { cat "$W/modify2.txt"; fail "modify till"; }
"$PWGMAKE" "$W/docs/label.pwg" 400 240 203 1 || fail pwgmake
"$PWGMAKE" "$W/docs/till.pwg" 384 400 203 1 || fail pwgmake

print_both() {
    local n=$1
    "$APP" submit -d label "$W/docs/label.pwg" >/dev/null 2>&1
    wait_conn "$W/net" "$n" || bad "no connection for the label job"
    "$APP" submit -d till -o media=om_roll-58-50_48x50mm "$W/docs/till.pwg" >/dev/null 2>&1
    wait_conn "$W/net" $((n + 1)) || bad "no connection for the receipt job"
}
print_both 1
expect_filter tspl-203 "Darkness=12 ImageFilter=4" "$W/docs/label.pwg" "$W/expect/label.bin"
expect_filter escpos-58 "MoneyBox=BeforePrint" "$W/docs/till.pwg" "$W/expect/till.bin"
same_bytes "label before the restart" "$W/net/conn-1.bin" "$W/expect/label.bin" || FAILED=$((FAILED + 1))
same_bytes "receipt before the restart" "$W/net/conn-2.bin" "$W/expect/till.bin" || FAILED=$((FAILED + 1))

app_stop
[ -s "$W/state" ] || fail "no state file was written"
say "Restart"
app_start
list=$("$APP" printers 2>&1 | sort | tr '\n' ' ')
[ "$list" = "label till " ] && echo "ok   printers kept: $list" || bad "printers after the restart: '$list'"
attrs=$(printer_attrs label)
for want in "printer-darkness-configured (integer) = 80" "dotforge-dither-method-default (keyword) = stucki" \
    "media-col-ready (collection) = {.*media-size-name=om_label-50x30_50x30mm" \
    "media-default (keyword) = om_label-50x30_50x30mm"; do
    grep -q -- "$want" <<< "$attrs" && echo "ok   kept $want" || bad "lost $want"
done
print_both 3
same_bytes "label after the restart" "$W/net/conn-3.bin" "$W/expect/label.bin" || FAILED=$((FAILED + 1))
same_bytes "receipt after the restart" "$W/net/conn-4.bin" "$W/expect/till.bin" || FAILED=$((FAILED + 1))

app_stop

say "Jobs queued for a printer that is off resume in job-id order"
# Two PDFs for a printer nobody listens for yet, a restart, then the
# printer comes: the older job's one page comes first, then the two pages
# of the newer (tsplorder names page images by first appearance).
require_programs gs
OFFPORT=$(dfstream freeport)
app_start
"$APP" add -d off -m tspl-203 -v "socket://127.0.0.1:$OFFPORT" > /dev/null || fail "add off"
make_doc "$W/docs/one.pdf" 50 30 1
make_doc "$W/docs/two.pdf" 40 20 2
ids=()
for doc in one.pdf two.pdf; do
    "$APP" submit -d off "$W/docs/$doc" > /dev/null 2>&1 || bad "submit $doc refused"
    ids+=("$(last_job off)")
done
sleep 1
app_stop
app_start
start_printer "$OFFPORT" "$W/off"
for id in "${ids[@]}"; do
    state=$(wait_job off "$id")
    [ "$state" = completed ] || state=$(wait_job off "$id")  # PAPPL retries every 5 seconds
    [ "$state" = completed ] || bad "job $id ended $state"
done
order=$(cat "$W"/off/conn-*.bin > "$W/off.bin" && dfstream tsplorder "$W/off.bin" 2>&1)
[ "$order" = "A B B" ] && echo "ok   jobs ${ids[*]} printed in order: $order" ||
    bad "jobs ${ids[*]} after the restart: pages $order, not A B B (older job first)"
"$APP" delete -d off > /dev/null 2>&1
app_stop

say "kill -9 while the state is being saved"
# A client changes a default over and over (each change is saved) while the
# server is killed; the state must be whole every time.
cat > "$W/tests/set.test" <<'EOT'
{
  NAME "set"
  OPERATION Set-Printer-Attributes
  GROUP operation-attributes-tag
  ATTR charset attributes-charset utf-8
  ATTR naturalLanguage attributes-natural-language en
  ATTR uri printer-uri $uri
  GROUP printer-attributes-tag
  ATTR integer dotforge-threshold-default $value
}
EOT
whole_state() { # the state names both printers and ends with a whole line
    [ -s "$W/state" ] && [ "$(tail -c 1 "$W/state" | od -An -c | tr -d ' ')" = '\n' ] &&
        [ "$(grep -c '^<Printer ' "$W/state")" = 2 ] && [ "$(grep -c '^</Printer>' "$W/state")" = 2 ]
}
for trial in 1 2 3 4 5; do
    app_start
    ( for v in $(seq 100 200); do
        ipptool -T 2 -d value="$v" "ipp://$SRV/ipp/print/label" "$W/tests/set.test" >/dev/null 2>&1
    done ) &
    busy=$!
    sleep "0.$((trial + 2))"
    app_kill
    kill "$busy" 2>/dev/null
    wait "$busy" 2>/dev/null
    whole_state && echo "ok   trial $trial: the state is whole ($(stat -c %s "$W/state") bytes)" ||
        bad "trial $trial: the state is $(stat -c %s "$W/state") bytes, not whole"
done
app_start
list=$("$APP" printers 2>&1 | sort | tr '\n' ' ')
[ "$list" = "label till " ] && echo "ok   printers after the kills: $list" || bad "printers after the kills: '$list'"
app_stop

say "A state file that cannot be read is kept aside"
cp "$W/state" "$W/state.good"
while IFS='|' read -r name make; do
    rm -f "$W"/state.bad-*
    eval "$make" > "$W/state"
    cp "$W/state" "$W/state.given"
    app_start
    grep -q "Unable to load the state file '$W/state'" "$W/app.log" && echo "ok   $name: the log says so" ||
        bad "$name: nothing in the log"
    aside=$(ls "$W"/state.bad-* 2>/dev/null | head -n 1)
    [ -n "$aside" ] && cmp -s "$aside" "$W/state.given" && echo "ok   $name: kept as ${aside##*/}" ||
        bad "$name: not kept aside"
    app_stop
    cp "$W/state.good" "$W/state"
    : > "$W/app.log"
done <<'EOT'
empty|true
garbage|head -c 3000 /dev/urandom
cut short|head -c 700 "$W/state.good"
EOT

say "A state file naming a device that is not a printer"
sed '/name="till"/ s|uri="[^"]*"|uri="file:///etc/shadow"|' \
    "$W/state.good" > "$W/state"
grep -q 'file:///etc/shadow' "$W/state" || bad "the test could not write the state"
app_start
list=$("$APP" printers 2>&1 | sort | tr '\n' ' ')
[ "$list" = "label " ] && echo "ok   only the printer with a socket: URI is loaded" || bad "printers loaded: '$list'"
grep -q "file:///etc/shadow.* is not allowed" "$W/app.log" && echo "ok   the log says why" ||
    bad "nothing in the log about the file: URI"
app_stop
cp "$W/state.good" "$W/state"

say "A full file system under the state and the spool"
FULL=$W/full
mkdir -p "$FULL"
if mount -t tmpfs -o size=512k tmpfs "$FULL" 2>/dev/null; then
    CLEANUP_HOOKS+=(full_cleanup)
    full_cleanup() { umount "$FULL" 2>/dev/null; }
    mkdir -p "$FULL/spool"
    cp "$W/state.good" "$FULL/state"
    APPSTATE=("-o" "state-file=$FULL/state" "-o" "spool-directory=$FULL/spool")
    rm -f "$W/run/dotforge-app.sock"
    "$APP" server -o server-port="$PORT" -o log-file="$W/app.log" -o log-level=debug "${APPSTATE[@]}" \
        >> "$W/app.out" 2>&1 &
    APP_PID=$!
    for i in $(seq 200); do [ -S "$W/run/dotforge-app.sock" ] && break; sleep 0.05; done
    cp "$FULL/state" "$W/state.before"
    dd if=/dev/zero of="$FULL/fill" bs=4k 2>/dev/null
    if "$APP" modify -d label -o dotforge-threshold-default=99 > "$W/full.txt" 2>&1; then
        bad "modify on a full disk reported success"
    else
        grep -q "Unable to save the state file" "$W/full.txt" && echo "ok   modify on a full disk: refused with the reason" ||
            bad "modify on a full disk: '$(cat "$W/full.txt")'"
    fi
    cmp -s "$FULL/state" "$W/state.before" && echo "ok   the state file is as it was" || bad "the state file changed"
    head -c 65536 /dev/urandom > "$W/docs/big.bin"
    out=$(ipptool -tv "ipp://$SRV/ipp/print/till" "$(print_request "$W/docs/big.bin" \
        application/vnd.dotforge-escpos successful-ok "")" 2>&1)
    grep -q "No space left on device" <<< "$out" && echo "ok   a job on a full spool: the reason is given" ||
        bad "a job on a full spool: $(grep -m1 'status-message\|status-code' <<< "$out")"
    app_alive "a full disk" || FAILED=$((FAILED + 1))
    # Only the state's disk is full: a job that cannot be saved is not
    # answered as accepted.
    app_stop
    app_start -o state-file="$FULL/state"
    printf 'UNSAVED;' > "$W/docs/unsaved.bin"
    out=$(ipptool -tv "ipp://$SRV/ipp/print/till" "$(print_request "$W/docs/unsaved.bin" \
        application/vnd.dotforge-escpos successful-ok "")" 2>&1)
    expect "a job whose state cannot be saved" "$(ipp_status <<< "$out")" server-error-internal-error
    grep -q "could not be saved to the state file" <<< "$out" && echo "ok   the answer says why" ||
        bad "no reason in the answer: $(grep -m3 "status" <<< "$out" | tr "\n" " ")"
    app_alive "a full disk under the state" || FAILED=$((FAILED + 1))
    app_stop
    full_cleanup
else
    echo "skip the full disk checks: tmpfs cannot be mounted here"
fi

app_clean || FAILED=$((FAILED + 1))
echo "$FAILED failed"
[ "$FAILED" = 0 ]
