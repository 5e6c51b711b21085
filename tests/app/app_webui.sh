#!/bin/bash
# The web interface in a real browser: headless Chromium renders every
# driver's Printing Defaults and Media pages, and the DOM must show our
# settings, their values and the media sizes in words, never as raw
# dotforge-* keywords; a label printer's page has its label mode, which is
# saved from there. `dotforge-app options` lists every option of each
# driver, its own only. "Print Test Page" prints the test label at the ready
# media's size for every driver, and this machine's own clients change the
# configuration without a login. A screenshot of a printer's page is taken
# too (copied to $SCREENSHOT_OUT when set, which is how the README's picture
# is made).
#
# Usage: app_webui.sh APP FILTER PPD_DIR PWGMAKE
set -u
. "${BASH_SOURCE[0]%/*}/../cups/common.sh"
. "${BASH_SOURCE[0]%/*}/app_common.sh"

require_programs curl
CHROMIUM=$(command -v chromium || command -v chromium-browser) ||
    skip "chromium is not installed (Debian package chromium)"
app_setup "$@" dotforge-app-webui
NETPORT=$(dfstream freeport)
start_printer "$NETPORT" "$W/net"
app_start
BASE=http://127.0.0.1:$PORT

DRIVERS=$(app_drivers)
for drv in $DRIVERS; do
    "$APP" add -d "$drv" -m "$drv" -v "socket://127.0.0.1:$NETPORT" > "$W/add-$drv.txt" 2>&1 ||
        { cat "$W/add-$drv.txt"; fail "could not add printer $drv"; }
done

FAILED=0
bad() { echo "FAIL $*"; FAILED=$((FAILED + 1)); }

say "dotforge-app options: every option of each driver, and only its own"
# driver | lines `options` must show (';' between) | a text it must not show
while IFS='|' read -r drv want unwanted; do
    out=$("$APP" options -d "$drv" 2>&1)
    missing=
    IFS=';' read -ra list <<< "$want"
    # Every vendor attribute the printer has, with its values.
    for n in $(printer_attrs "$drv" | grep -o '^ *dotforge-[a-z0-9-]*-supported' | sed 's/^ *//; s/-supported$//'); do
        list+=("-o $n=")
    done
    for w in "${list[@]}"; do grep -qF -- "  $w" <<< "$out" || missing="$missing [$w]"; done
    if [ -n "$missing" ]; then
        bad "options -d $drv lacks$missing"
    elif grep -qF -- "$unwanted" <<< "$out"; then
        bad "options -d $drv shows $unwanted: $(grep -F -- "$unwanted" <<< "$out" | head -n 1)"
    else
        echo "ok   options -d $drv: ${#list[@]} options, no $unwanted"
    fi
done <<'EOT'
tspl-203|-o label-mode=tear-off (default);-o label-mode=cutter;-o dotforge-compression=off (default);-o dotforge-threshold=50 to 225|dotforge-cash-drawer
escpos-58|-o dotforge-cash-drawer=none (default);-o dotforge-cash-drawer=after-print;-o dotforge-cut-media=every-page|label-mode
escpos-80|-o dotforge-cut-type=partial (default);-o dotforge-crop-left=-1 to 10|label-mode
cpcl-203|-o dotforge-dither-method=|label-mode
paperang-57|-o dotforge-dither-method=|label-mode
peripage-57|-o dotforge-sound-before=|label-mode
EOT

# browse ARGS...: headless Chromium with a profile of its own (root needs --no-sandbox).
browse() {
    timeout 90 "$CHROMIUM" --headless --no-sandbox --disable-gpu --user-data-dir="$W/chromium" "$@" \
        2>> "$W/chromium.err"
}

say "Pages in Chromium: settings in words"
# driver | page | texts the rendered DOM must contain (';' between)
while IFS='|' read -r drv page words; do
    dom=$W/dom-$drv-$page.html
    browse --dump-dom "$BASE/$drv/$page" > "$dom"
    [ -s "$dom" ] || { bad "$drv/$page: Chromium rendered nothing"; tail -n 3 "$W/chromium.err"; continue; }
    missing=
    IFS=';' read -ra list <<< "$words"
    for w in "${list[@]}"; do grep -qF -- "$w" "$dom" || missing="$missing [$w]"; done
    raw=$(grep -o '>[^<]*dotforge-[a-z][^<]*<' "$dom" | head -n 3 | tr '\n' ' ')
    if [ -n "$missing" ]; then
        bad "$drv/$page lacks$missing"
    elif [ -n "$raw" ]; then
        bad "$drv/$page shows raw keywords: $raw"
    else
        echo "ok   $drv/$page: ${#list[@]} texts"
    fi
done <<'EOT'
tspl-203|printing|Black and white method:;value="edge-keeping" selected="">Edge-keeping (sharp codes and text, shaded greys);Print method:;Direct thermal (no ribbon);Compress bitmaps:;Rotate page:;No rotation;Label 100 x 150 mm;After printing:;value="tear-off" selected="">Printer default;Peel off (dispenser);Cut after every label
tspl-300|printing|Black and white method:;Ordered dither, Bayer 8x8;Threshold level;Horizontal shift;Feed after each page (mm):
escpos-58|printing|Cash drawer:;value="none" selected="">Do not open;Open after printing each page;Trim blank space at the bottom (mm):;57-58 mm roll, 200 mm pages;value="-1" selected="">All of it (saves paper)<;value="0">Keep<
escpos-80|printing|Cash drawer:;Trim blank space at the left (mm):;80 mm roll, 200 mm pages
cpcl-203|printing|Black and white method:;Floyd-Steinberg dither;Label 100 x 150 mm
paperang-57|printing|Trim blank space at the top (mm):;Jarvis-Judice-Ninke dither;57-58 mm roll, 100 mm pages
peripage-57|printing|Sound before printing:;Sound after printing:;After every document;Compress bitmaps:
tspl-203|media|Label 50 x 30 mm;Label 4 x 6 in;Label 57 x 32 mm;name="ready0-custom-width" min="10.00" max="104.00"
peripage-57|media|57-58 mm roll, 30 mm pages;57-58 mm roll, 200 mm pages
EOT

say "Print Test Page, every driver"
# token PATH: the form token of a page.
token() { curl -s --max-time 10 "$BASE/$1" | sed -n 's/.*name="session" value="\([0-9a-f]*\)".*/\1/p' | head -n 1; }
CONN=0
# driver | label size in dots at the driver's default media | resolution
while IFS='|' read -r drv size dpi; do
    code=$(curl -s --max-time 20 -o /dev/null -w '%{http_code}' \
        -d "session=$(token "$drv")&action=print-test-page" "$BASE/$drv/")
    CONN=$((CONN + 1))
    if [ "$code" != 200 ]; then
        bad "$drv test page: HTTP $code"
    elif ! wait_conn "$W/net" "$CONN"; then
        bad "$drv test page: nothing reached the printer"
    elif [ "$(stat -c %s "$W/net/conn-$CONN.bin")" -lt 1000 ]; then
        bad "$drv test page: only $(stat -c %s "$W/net/conn-$CONN.bin") bytes"
    elif ! grep -q "\[Printer $drv\] Test page $size dots at $dpi dpi" "$W/app.log"; then
        bad "$drv test page: not $size dots at $dpi dpi: $(grep -o "\[Printer $drv\] Test page.*" "$W/app.log")"
    else
        echo "ok   $drv test page: $size dots, $(stat -c %s "$W/net/conn-$CONN.bin") bytes to the printer"
    fi
    [ "$drv" = escpos-58 ] && RECEIPT_CONN=$CONN
done <<'EOT'
tspl-203|799x1199|203
tspl-300|1181x1772|300
escpos-58|384x799|203
escpos-80|575x799|203
cpcl-203|799x1199|203
paperang-57|384x799|203
peripage-57|384x799|203
EOT
# On the receipt roll the label comes out 100 mm long (about 799 rows), not
# as the 200 mm page of the roll's default size.
PREVIEW=$(dirname "$FILTER")/tools/dotforge-preview
if [ -x "$PREVIEW" ] && [ -n "${RECEIPT_CONN:-}" ]; then
    rows=$("$PREVIEW" -m escpos-58 -o "$W/receipt-test" "$W/net/conn-$RECEIPT_CONN.bin" |
        sed -n 's/^page 1: [0-9]* x \([0-9]*\) dots.*/\1/p')
    [ -n "$rows" ] && [ "$rows" -ge 780 ] && [ "$rows" -le 820 ] &&
        echo "ok   the receipt's test label is $rows rows long" ||
        bad "the receipt's test label is ${rows:-no} rows long, not about 799 (100 mm)"
fi
ls "$W/appspool"/dotforge-testpage-* > /dev/null 2>&1 && bad "test labels left in the spool directory"
# After a job the printer has reported its supplies: none of known level.
grep -q 'class="bar"' <<< "$(curl -s --max-time 10 "$BASE/tspl-203/supplies")" &&
    bad "tspl-203/supplies draws a bar for a level nobody knows"

say "This machine is trusted"
code=$(curl -s --max-time 10 -o /dev/null -w '%{http_code}' \
    -d "session=$(token config)&dns_sd_name=dotforge&location=bench-2&geo_location_lat=0&geo_location_lon=0" \
    "$BASE/config")
shown=$(curl -s --max-time 10 "$BASE/" | grep -c 'bench-2')
if [ "$code" = 200 ] && [ "$shown" -gt 0 ]; then
    echo "ok   configuration saved from 127.0.0.1 without a login"
else
    bad "configuration from 127.0.0.1: HTTP $code, location shown $shown times"
fi

say "Printing Defaults saved unchanged: the next job is the same to the byte"
FORMPORT=$(dfstream freeport)
start_printer "$FORMPORT" "$W/form"
"$PWGMAKE" "$W/docs/form.pwg" 400 240 203 1 || fail pwgmake
FORMCONN=0
# form_job PRINTER: prints the page; JOBFILE is the file the printer got.
form_job() {
    local id
    id=$(ipp_job "$1" "$W/docs/form.pwg" image/pwg-raster)
    [ "$(wait_job "$1" "$id")" = completed ] || return 1
    FORMCONN=$((FORMCONN + 1))
    JOBFILE=$W/form/conn-$FORMCONN.bin
    wait_conn "$W/form" "$FORMCONN"
}
# driver | modify options before the save (none: the driver's own defaults)
N=0
while IFS='|' read -r drv opts; do
    N=$((N + 1))
    p=form$N
    "$APP" add -d $p -m "$drv" -v "socket://127.0.0.1:$FORMPORT" > /dev/null || { bad "add $p $drv"; continue; }
    # shellcheck disable=SC2086
    [ -n "$opts" ] && { "$APP" modify -d $p $opts > /dev/null || { bad "$drv: modify $opts"; continue; }; }
    form_job $p || { bad "$drv $opts: the first job failed"; continue; }
    before=$JOBFILE
    code=$(python3 "${BASH_SOURCE[0]%/*}/webform.py" post "$BASE/$p/printing")
    form_job $p || { bad "$drv $opts: the job after the save failed"; continue; }
    after=$JOBFILE
    shown=$(python3 "${BASH_SOURCE[0]%/*}/webform.py" selects "$BASE/$p/printing" | grep '^print-darkness' |
        grep -o '\*[0-9]*' | head -n 1)
    if [ "$code" != 200 ]; then
        bad "$drv $opts: saving the form gave HTTP $code"
    elif ! cmp -s "$before" "$after"; then
        bad "$drv ${opts:-defaults}: an unchanged save changed the job ($(stat -c %s "$before") -> $(stat -c %s "$after") bytes, darkness shown ${shown:-none})"
    else
        echo "ok   $drv ${opts:-defaults}: unchanged save, same $(stat -c %s "$after") bytes (darkness shown ${shown:-none})"
    fi
done <<'EOT'
tspl-203|
tspl-203|-o printer-darkness-configured=70
tspl-203|-o printer-darkness-configured=73 -o print-speed-default=5000
escpos-58|
peripage-57|-o printer-darkness-configured=30
EOT
grep -q "Printer's own setting" <<< "$(curl -s "$BASE/tspl-203/printing")" ||
    bad "tspl-203/printing offers no \"Printer's own setting\" darkness"

say "Label mode on the Printing Defaults page"
# Saved from the form, it is the printer's label-mode-configured and the
# next label carries its SET lines; a receipt printer has no such row.
"$APP" add -d mode -m tspl-203 -v "socket://127.0.0.1:$FORMPORT" > /dev/null || bad "add mode"
while IFS='|' read -r mode lines; do
    code=$(python3 "${BASH_SOURCE[0]%/*}/webform.py" post "$BASE/mode/printing" label-mode-configured="$mode")
    shown=$(python3 "${BASH_SOURCE[0]%/*}/webform.py" selects "$BASE/mode/printing" | grep '^label-mode-configured')
    attr=$(printer_info mode label-mode-configured)
    if [ "$code" != 200 ] || [ "$attr" != "$mode" ] || ! grep -qF "*$mode" <<< "$shown"; then
        bad "label mode $mode from the form: HTTP $code, label-mode-configured $attr, page shows [$shown]"
    elif ! form_job mode || ! dfstream tspl "$JOBFILE" --label-mode "$lines" > "$W/mode.txt" 2>&1; then
        bad "label mode $mode: the job: $(cat "$W/mode.txt" 2>/dev/null)"
    else
        echo "ok   label mode $mode saved from the page, the label says $lines"
    fi
done <<'EOT'
cutter|SET PEEL OFF;SET CUTTER 1
peel-off|SET PEEL ON;SET CUTTER OFF
tear-off|none
EOT
grep -q 'label-mode' <<< "$(curl -s "$BASE/escpos-58/printing")" && bad "escpos-58/printing shows a label mode"

say "Screenshot"
browse --hide-scrollbars --window-size=1000,1100 --screenshot="$W/page.png" "$BASE/tspl-203/printing" > /dev/null
if [ "$(head -c 8 "$W/page.png" 2>/dev/null | od -An -tx1 | tr -d ' \n')" = 89504e470d0a1a0a ] &&
    [ "$(stat -c %s "$W/page.png")" -gt 10000 ]; then
    echo "ok   screenshot of tspl-203/printing: $(stat -c %s "$W/page.png") bytes"
    [ -n "${SCREENSHOT_OUT:-}" ] && cp "$W/page.png" "$SCREENSHOT_OUT"
else
    bad "no screenshot"
fi

app_stop
app_clean || FAILED=$((FAILED + 1))
echo "$FAILED failed"
[ "$FAILED" = 0 ]
