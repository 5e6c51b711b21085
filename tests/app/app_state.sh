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
cat > "$W/tests/attrs.test" <<'EOT'
{
  NAME "attributes"
  OPERATION Get-Printer-Attributes
  GROUP operation-attributes-tag
  ATTR charset attributes-charset utf-8
  ATTR naturalLanguage attributes-natural-language en
  ATTR uri printer-uri $uri
  ATTR keyword requested-attributes all
  STATUS successful-ok
}
EOT
attrs=$(ipptool -tv "ipp://$SRV/ipp/print/label" "$W/tests/attrs.test" 2>&1)
for want in "printer-darkness-configured (integer) = 80" "dotforge-dither-method-default (keyword) = stucki" \
    "media-col-ready (collection) = {.*media-size-name=om_label-50x30_50x30mm" \
    "media-default (keyword) = om_label-50x30_50x30mm"; do
    grep -q -- "$want" <<< "$attrs" && echo "ok   kept $want" || bad "lost $want"
done
print_both 3
same_bytes "label after the restart" "$W/net/conn-3.bin" "$W/expect/label.bin" || FAILED=$((FAILED + 1))
same_bytes "receipt after the restart" "$W/net/conn-4.bin" "$W/expect/till.bin" || FAILED=$((FAILED + 1))

app_stop
app_clean || FAILED=$((FAILED + 1))
echo "$FAILED failed"
[ "$FAILED" = 0 ]
