#!/bin/bash
# Configuration from another machine needs a login; jobs do not. libcups and
# PAPPL count every 127.x address as local, so the client here really is
# remote: the server runs in one network namespace, the client in another,
# joined by a veth pair whose 10.x addresses exist only inside the two
# namespaces this test makes and removes. Two users made for the test (one
# in a test admin group, one not) log in through PAM over TLS.
#
# Usage: app_security.sh APP FILTER PPD_DIR PWGMAKE
set -u
. "${BASH_SOURCE[0]%/*}/../cups/common.sh"
. "${BASH_SOURCE[0]%/*}/app_common.sh"

[ "$(id -u)" = 0 ] || skip "must run as root: network namespaces and test users"
require_programs ip curl useradd userdel groupadd groupdel chpasswd
app_setup "$@" dotforge-app-security

TAG=$$
NS_S=dfsec-s-$TAG NS_C=dfsec-c-$TAG
USER_OK=dfsec${TAG}a USER_NO=dfsec${TAG}b GROUP=dfsec${TAG}g
PASS_OK=$(head -c 12 /dev/urandom | od -An -tx1 | tr -d ' \n')
PASS_NO=$(head -c 12 /dev/urandom | od -An -tx1 | tr -d ' \n')
NET=10.213.$((TAG % 250))
ADDR_S=$NET.1 ADDR_C=$NET.2

sec_cleanup() {
    ip netns del "$NS_S" 2>/dev/null
    ip netns del "$NS_C" 2>/dev/null
    userdel "$USER_OK" 2>/dev/null
    userdel "$USER_NO" 2>/dev/null
    groupdel "$GROUP" 2>/dev/null
}
CLEANUP_HOOKS+=(sec_cleanup)

ip netns add "$NS_S" 2>/dev/null || skip "ip netns is not permitted here"
# In a chroot / is no mount point, and ip netns exec cannot make it private.
ip netns exec "$NS_S" true 2>/dev/null ||
    skip "ip netns exec does not work here (in a chroot, whose / is no mount point?)"
ip netns add "$NS_C" || fail "ip netns add"
ip link add "dfs$TAG" type veth peer name "dfc$TAG" 2>/dev/null || skip "veth links are not permitted here"
ip link set "dfs$TAG" netns "$NS_S" && ip link set "dfc$TAG" netns "$NS_C" || fail "moving the veth ends"
ip -n "$NS_S" addr add "$ADDR_S/30" dev "dfs$TAG" && ip -n "$NS_C" addr add "$ADDR_C/30" dev "dfc$TAG" ||
    fail "veth addresses"
for ns in "$NS_S" "$NS_C"; do ip -n "$ns" link set lo up; done
ip -n "$NS_S" link set "dfs$TAG" up && ip -n "$NS_C" link set "dfc$TAG" up || fail "veth up"

groupadd "$GROUP" || fail "groupadd"
useradd -M -N -G "$GROUP" -s /usr/sbin/nologin "$USER_OK" || fail "useradd"
useradd -M -N -s /usr/sbin/nologin "$USER_NO" || fail "useradd"
printf '%s:%s\n%s:%s\n' "$USER_OK" "$PASS_OK" "$USER_NO" "$PASS_NO" | chpasswd || fail "chpasswd"

# Everything the client does runs in the client's namespace.
client() { ip netns exec "$NS_C" "$@"; }
ipptool() { ip netns exec "$NS_C" timeout 30 /usr/bin/env ipptool "$@"; }

# The fake printer listens on the server namespace's own loopback.
NETPORT=$(dfstream freeport)
mkdir -p "$W/net"
ip netns exec "$NS_S" python3 "$DFSTREAM" listen "$NETPORT" "$W/net" &
LISTENER_PIDS+=($!)
for i in $(seq 100); do [ -e "$W/net/ready" ] && break; sleep 0.05; done

# sec_start [EXTRA -o OPTIONS]: the server on the veth address only, so it
# offers TLS; waits until the client reaches it.
sec_start() {
    local i deathsig=()
    rm -f "$W/run/dotforge-app.sock"
    setpriv --pdeathsig TERM true 2>/dev/null && deathsig=(setpriv --pdeathsig TERM)
    ip netns exec "$NS_S" "${deathsig[@]}" "$APP" server -o server-port="$PORT" -o listen-hostname="$ADDR_S" \
        -o log-file="$W/app.log" -o log-level=debug -o spool-directory="$W/appspool" -o state-file="$W/state" \
        "$@" >> "$W/app.out" 2>&1 &
    APP_PID=$!
    for i in $(seq 200); do
        client curl -s -o /dev/null --max-time 2 "http://$BASE/" && return 0
        kill -0 "$APP_PID" 2>/dev/null || { cat "$W/app.out"; fail "dotforge-app exited at start-up"; }
        sleep 0.05
    done
    fail "dotforge-app did not answer on $BASE"
}
BASE=$ADDR_S:$PORT
sec_start -o admin-group="$GROUP"
SRV=$BASE

FAILED=0
expect() { # NAME GOT WANTED
    if [ "$2" = "$3" ]; then
        echo "ok   $1: $2"
    else
        echo "FAIL $1: got '$2', expected '$3'"
        FAILED=$((FAILED + 1))
    fi
}

say "Web forms from $ADDR_C"
token=$(client curl -sk --max-time 10 -u "$USER_OK:$PASS_OK" "https://$BASE/config" |
    sed -n 's/.*name="session" value="\([0-9a-f]*\)".*/\1/p' | head -n 1)
[ -n "$token" ] || fail "no form token on the configuration page for $USER_OK"
form() { echo "session=$token&dns_sd_name=dotforge&location=$1&geo_location_lat=0&geo_location_lon=0"; }
post() { # CURL-OPTIONS... URL DATA: the HTTP status
    local n=$# url=${*: -2:1} data=${*: -1}
    client curl -s --max-time 10 -o /dev/null -w '%{http_code}' "${@:1:n-2}" -d "$data" "$url"
}
# name | curl options | scheme | expected status
while IFS='|' read -r name opts scheme want; do
    eval "set -- $opts"
    expect "$name" "$(post "$@" "$scheme://$BASE/config" "$(form "shelf-$name")")" "$want"
done <<EOT
plain HTTP, even with a login||http|426
plain HTTP with the admin's login|-u '$USER_OK:$PASS_OK'|http|426
TLS without a login|-k|https|401
TLS with a wrong password|-k -u '$USER_OK:wrong'|https|401
TLS, user outside the admin group|-k -u '$USER_NO:$PASS_NO'|https|403
TLS, admin group member|-k -u '$USER_OK:$PASS_OK'|https|200
EOT
location=$(client curl -sk --max-time 10 "https://$BASE/" | grep -o 'shelf-[^<]*' | sort -u | tr '\n' ' ')
expect "the location shown is the admin's only" "$location" "shelf-TLS, admin group member "

say "IPP system operations from $ADDR_C"
create_test "$W/tests/create.test"
create() { # NAME URI-PREFIX
    ipptool -tv -d driver=escpos-58 -d device="socket://127.0.0.1:$NETPORT" -d name="$1" \
        "$2/ipp/system" "$W/tests/create.test" 2>&1 | ipp_status
}
expect "Create-Printer without a login" "$(create nologin "ipps://$BASE")" client-error-not-authenticated
expect "Create-Printer by a non-admin" "$(create outsider "ipps://$USER_NO:$PASS_NO@$BASE")" client-error-forbidden
expect "Create-Printer by the admin" "$(create receipt "ipps://$USER_OK:$PASS_OK@$BASE")" successful-ok
expect "printers afterwards" "$("$APP" printers 2>/dev/null | tr '\n' ' ')" "receipt "

cat > "$W/tests/delete.test" <<'EOT'
{
  NAME "delete"
  OPERATION Delete-Printer
  GROUP operation-attributes-tag
  ATTR charset attributes-charset utf-8
  ATTR naturalLanguage attributes-natural-language en
  ATTR uri system-uri $uri
  ATTR integer printer-id 1
  ATTR name requesting-user-name test
}
EOT
expect "Delete-Printer without a login" \
    "$(ipptool -tv "ipps://$BASE/ipp/system" "$W/tests/delete.test" 2>&1 | ipp_status)" client-error-not-authenticated

say "Printer defaults from $ADDR_C"
cat > "$W/tests/defaults.test" <<'EOT'
{
  NAME "defaults"
  OPERATION Set-Printer-Attributes
  GROUP operation-attributes-tag
  ATTR charset attributes-charset utf-8
  ATTR naturalLanguage attributes-natural-language en
  ATTR uri printer-uri $uri
  GROUP printer-attributes-tag
  ATTR keyword dotforge-dither-method-default sierra
}
EOT
defaults() { ipptool -tv "$1/ipp/print/receipt" "$W/tests/defaults.test" 2>&1 | ipp_status; }
expect "Set-Printer-Attributes without a login" "$(defaults "ipps://$BASE")" client-error-not-authenticated
expect "Set-Printer-Attributes by the admin" "$(defaults "ipps://$USER_OK:$PASS_OK@$BASE")" successful-ok
expect "the printing defaults form without a login" \
    "$(post -k "https://$BASE/receipt/printing" "session=$token&dotforge-dither-method=burkes")" 401

cat > "$W/tests/pause.test" <<'EOT'
{
  NAME "pause"
  OPERATION Pause-Printer
  GROUP operation-attributes-tag
  ATTR charset attributes-charset utf-8
  ATTR naturalLanguage attributes-natural-language en
  ATTR uri printer-uri $uri
  ATTR name requesting-user-name test
}
EOT
expect "Pause-Printer without a login" \
    "$(ipptool -tv "ipps://$BASE/ipp/print/receipt" "$W/tests/pause.test" 2>&1 | ipp_status)" client-error-not-authenticated

say "A job from $ADDR_C needs no login"
cat > "$W/tests/cancel.test" <<'EOT'
{
  NAME "cancel"
  OPERATION Cancel-Job
  GROUP operation-attributes-tag
  ATTR charset attributes-charset utf-8
  ATTR naturalLanguage attributes-natural-language en
  ATTR uri printer-uri $uri
  ATTR integer job-id $job_id
  ATTR name requesting-user-name test
}
EOT
"$PWGMAKE" "$W/docs/r.pwg" 384 400 203 1 || fail "pwgmake"
id=$(ipp_job receipt "$W/docs/r.pwg" image/pwg-raster "ATTR keyword media om_roll-58-50_48x50mm")
case "$id" in
    '' | *[!0-9]*) expect "Print-Job over plain IPP" "$id" "a job id" ;;
    *)
        expect "Print-Job over plain IPP, its state followed" "$(wait_job receipt "$id")" completed
        expect "Cancel-Job without a login" "$(ipptool -tv -d job_id="$id" "ipps://$BASE/ipp/print/receipt" \
            "$W/tests/cancel.test" 2>&1 | ipp_status)" client-error-not-authenticated
        if wait_conn "$W/net" 1; then
            # printed with the default the admin set above
            expect_filter escpos-58 "ImageFilter=6" "$W/docs/r.pwg" "$W/expect/r.bin"
            same_bytes "the remote job reaches the printer" "$W/net/conn-1.bin" "$W/expect/r.bin" ||
                FAILED=$((FAILED + 1))
        else
            expect "the remote job reaches the printer" "nothing" "the filter's bytes"
        fi
        ;;
esac

say "A job from $ADDR_C is cancelled by its owner, logged in, or an admin"
print_block "$W/docs/r.pwg" image/pwg-raster successful-ok "ATTR keyword job-hold-until indefinite" job-id |
    sed 's/requesting-user-name test/requesting-user-name $asker/' > "$W/tests/held.test"
own=$(ipptool -c -d asker="$USER_NO" "ipp://$BASE/ipp/print/receipt" "$W/tests/held.test" | tail -n 1)
other=$(ipptool -c -d asker=test "ipp://$BASE/ipp/print/receipt" "$W/tests/held.test" | tail -n 1)
# login | job | Cancel-Job's status
while IFS='|' read -r login j want; do
    expect "Cancel-Job of job $j by ${login%%:*}" "$(ipptool -tv -d job_id="$j" \
        "ipps://$login@$BASE/ipp/print/receipt" "$W/tests/cancel.test" 2>&1 | ipp_status)" "$want"
done <<EOT
$USER_NO:$PASS_NO|$other|client-error-forbidden
$USER_NO:$PASS_NO|$own|successful-ok
$USER_OK:$PASS_OK|$other|successful-ok
EOT

say "Printer operations and the printer page from $ADDR_C without a login"
for op in Disable-Printer Enable-Printer Hold-New-Jobs Release-Held-New-Jobs; do
    printer_op_test "$W/tests/$op.test" "$op"
    expect "$op without a login" \
        "$(ipptool -tv "ipps://$BASE/ipp/print/receipt" "$W/tests/$op.test" 2>&1 | ipp_status)" client-error-not-authenticated
done
expect "Disable-Printer by the admin" "$(ipptool -tv "ipps://$USER_OK:$PASS_OK@$BASE/ipp/print/receipt" \
    "$W/tests/Disable-Printer.test" 2>&1 | ipp_status)" successful-ok
expect "Enable-Printer by the admin" "$(ipptool -tv "ipps://$USER_OK:$PASS_OK@$BASE/ipp/print/receipt" \
    "$W/tests/Enable-Printer.test" 2>&1 | ipp_status)" successful-ok
# A job without its document first: releasing it once crashed the server.
createjob_test "$W/tests/createjob.test"
ipptool -q "ipp://$BASE/ipp/print/receipt" "$W/tests/createjob.test"
ptoken=$(client curl -s --max-time 10 "http://$BASE/receipt/" |
    sed -n 's/.*name="session" value="\([0-9a-f]*\)".*/\1/p' | head -n 1)
for action in hold-new-jobs release-held-new-jobs print-test-page identify-printer; do
    for scheme in http https; do
        code=$(post -k "$scheme://$BASE/receipt/" "session=$ptoken&action=$action")
        case "$code" in
            200 | 30*) expect "the printer page's $action over $scheme without a login" "$code" "a refusal" ;;
            *) echo "ok   the printer page's $action over $scheme without a login: $code" ;;
        esac
    done
done
sleep 1
app_alive "the printer page's actions" || FAILED=$((FAILED + 1))

say "auth-service=none: nobody configures from $ADDR_C, jobs still print"
app_stop
# The state now holds the test's admin group: the option must still win.
sec_start -o auth-service=none
expect "Create-Printer by the admin" "$(create again "ipps://$USER_OK:$PASS_OK@$BASE")" client-error-forbidden
expect "the configuration form of the admin" \
    "$(post -k -u "$USER_OK:$PASS_OK" "https://$BASE/config" "$(form shelf-none)")" 403
expect "Disable-Printer by the admin" "$(ipptool -tv "ipps://$USER_OK:$PASS_OK@$BASE/ipp/print/receipt" \
    "$W/tests/Disable-Printer.test" 2>&1 | ipp_status)" client-error-forbidden
id=$(ipp_job receipt "$W/docs/r.pwg" image/pwg-raster "ATTR keyword media om_roll-58-50_48x50mm")
case "$id" in
    '' | *[!0-9]*) expect "Print-Job without a login" "$id" "a job id" ;;
    *) expect "Print-Job without a login" "$(wait_job receipt "$id")" completed ;;
esac

app_stop
app_clean || FAILED=$((FAILED + 1))
echo "$FAILED failed"
[ "$FAILED" = 0 ]
