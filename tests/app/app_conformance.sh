#!/bin/bash
# CUPS's IPP Everywhere conformance script (ipp-everywhere.test, which runs
# ipp-1.1.test and ipp-2.0.test too) against a dotforge-app printer of every
# driver. ipptool insists on reading every sample file the script names,
# even for groups it skips, so the work copy of the scripts gets empty
# stand-ins, and real 8-bit grey PWG rasters and JPEGs where a driver's
# resolution makes the print groups run (300 dpi; the 203 dpi drivers print
# the JPEGs only).
#
# Usage: app_conformance.sh APP FILTER PPD_DIR PWGMAKE
set -u
. "${BASH_SOURCE[0]%/*}/../cups/common.sh"
. "${BASH_SOURCE[0]%/*}/app_common.sh"

IPPTESTS=/usr/share/cups/ipptool
[ -e "$IPPTESTS/ipp-everywhere.test" ] || skip "ipp-everywhere.test is not installed (Debian package cups-ipp-utils)"
require_programs gs
app_setup "$@" dotforge-app-conformance
NETPORT=$(dfstream freeport)
start_printer "$NETPORT" "$W/net"

mkdir -p "$W/ipp"
cp "$IPPTESTS"/*.test "$W/ipp/"
cd "$W/ipp" || fail "cd"
grep -h '^[[:space:]]*FILE [a-z]' ipp-everywhere.test ipp-1.1.test ipp-2.0.test | awk '{print $2}' | sort -u |
    while read -r f; do
        mkdir -p "$(dirname "$f")"
        : > "$f"
    done
# The suite's sample rasters, made at the resolution of the printer under
# test (a page at another one is refused) and 2 x 1.33 in, so that they fit
# the narrowest roll; the file names stay the suite's.
samples() {
    local f
    for f in color.jpg-4x6 document-a4 document-letter gray.jpg-4x6 onepage-a4 onepage-letter; do
        "$PWGMAKE" "pwg-raster-samples-300dpi/sgray-8/$f-sgray-8-300dpi.pwg" $((2 * $1)) $((4 * $1 / 3)) "$1" 2 || fail "pwgmake"
    done
}
make_doc "$W/ipp/sample.pdf" 100 150 1  # leaves sample.ps beside it
gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=jpeg -r50 -sOutputFile=color.jpg sample.ps || fail "gs jpeg"
gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=jpeggray -r50 -sOutputFile=gray.jpg sample.ps || fail "gs jpeggray"

app_start
FAILED=0
for drv in $(app_drivers); do
    "$APP" add -d "$drv" -m "$drv" -v "socket://127.0.0.1:$NETPORT" > /dev/null 2>&1 || fail "could not add $drv"
done
sleep 1.1  # printer-up-time must be above 0
# IPP Everywhere's checks on the first driver of each family and on the 300 dpi
# one (its resolution runs the print groups): the drivers of a family differ
# in head width and media only, which adding each of them above exercises.
for drv in $(app_drivers | awk -F- '!seen[$1]++ || /-300$/'); do
    out="$W/result-$drv.txt"
    case "$drv" in *-300) samples 300 ;; *) samples 203 ;; esac
    if ipptool -t -f pwg-raster-samples-300dpi/sgray-8/onepage-a4-sgray-8-300dpi.pwg -d filetype=image/pwg-raster \
        "ipp://$SRV/ipp/print/$drv" ipp-everywhere.test > "$out" 2>&1; then
        echo "ok   $drv: $(grep -c 'PASS]' "$out") groups pass, $(grep -c 'SKIP]' "$out") skipped, none fail"
    else
        echo "FAIL $drv:"
        grep -v -e 'PASS]' -e 'SKIP]' "$out" | head -n 30
        FAILED=$((FAILED + 1))
    fi
done

# Two replies PAPPL 1.3.1 gets wrong (app/pappl/ippreplies.cpp): a job held by
# job-hold-until is said to be, and printer-strings-languages-supported comes
# once in a reply however often it was asked for before.
cat > replies.test <<'EOT'
{
    NAME "Print-Job held by job-hold-until"
    OPERATION Print-Job
    GROUP operation-attributes-tag
    ATTR charset attributes-charset utf-8
    ATTR naturalLanguage attributes-natural-language en
    ATTR uri printer-uri $uri
    ATTR name requesting-user-name $user
    ATTR mimeMediaType document-format image/jpeg
    GROUP job-attributes-tag
    ATTR keyword job-hold-until indefinite
    FILE gray.jpg
    STATUS successful-ok
    EXPECT job-state WITH-VALUE 4
    EXPECT job-state-reasons OF-TYPE keyword WITH-VALUE job-hold-until-specified
}
{
    NAME "Cancel-Job"
    OPERATION Cancel-Job
    GROUP operation-attributes-tag
    ATTR charset attributes-charset utf-8
    ATTR naturalLanguage attributes-natural-language en
    ATTR uri printer-uri $uri
    ATTR integer job-id $job-id
    ATTR name requesting-user-name $user
    STATUS successful-ok
}
{
    NAME "Get-Printer-Attributes"
    OPERATION Get-Printer-Attributes
    GROUP operation-attributes-tag
    ATTR charset attributes-charset utf-8
    ATTR naturalLanguage attributes-natural-language en
    ATTR uri printer-uri $uri
    ATTR keyword requested-attributes printer-strings-languages-supported,printer-name
    STATUS successful-ok
    EXPECT printer-strings-languages-supported OF-TYPE naturalLanguage WITH-VALUE en
}
EOT
drv=$(app_drivers | head -n 1)
ipptool -t "ipp://$SRV/ipp/print/$drv" replies.test > "$W/replies.txt" 2>&1 ||
    { echo "FAIL $drv: replies.test"; grep -v 'PASS]' "$W/replies.txt"; FAILED=$((FAILED + 1)); }
n=$(ipptool -tv "ipp://$SRV/ipp/print/$drv" replies.test 2>&1 | grep -c '^ *printer-strings-languages-supported (')
if [ "$n" = 1 ]; then
    echo "ok   $drv: a held job's reasons, printer-strings-languages-supported once in a reply"
else
    echo "FAIL $drv: printer-strings-languages-supported $n times in a reply after an earlier request"
    FAILED=$((FAILED + 1))
fi

# Every job the script printed must have ended whole.
if grep -E '\[Job [0-9]+\] .*(aborted|Aborted)' "$W/app.log" | head -n 5 | grep .; then
    echo "FAIL a conformance job was aborted"
    FAILED=$((FAILED + 1))
fi
app_stop
app_clean || FAILED=$((FAILED + 1))
echo "$FAILED failed"
[ "$FAILED" = 0 ]
