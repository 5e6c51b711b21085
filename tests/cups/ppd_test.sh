#!/bin/bash
# The shipped PPDs: each passes cupstestppd without errors, and carries what
# the filter reads (model number, filter lines, 8-bit grey raster, the option
# keywords with choices the settings understand, sensible defaults).
#
# Usage: ppd_test.sh PPD_DIR
set -u
. "${BASH_SOURCE[0]%/*}/common.sh"

PPDDIR=${1:?ppd dir}
require_programs cupstestppd ppdc python3

# Every PPD the build made from the family descriptors.
PPDS=()
for f in "$PPDDIR"/dotforge-*.ppd; do
    [ -f "$f" ] && PPDS+=("$f")
done
[ ${#PPDS[@]} -gt 0 ] || fail "no PPD built in $PPDDIR (is ppdc installed?)"

FAILED=0
for f in "${PPDS[@]}"; do
    # -I filters: the filter need not be installed to check the PPD.
    if out=$(cupstestppd -I filters "$f" 2>&1); then
        echo "ok   cupstestppd $(basename "$f")"
    else
        echo "FAIL cupstestppd $(basename "$f"):"
        echo "$out" | grep -v '^ *WARN' | sed 's/^/    /'
        FAILED=$((FAILED + 1))
    fi
done
dfstream ppd "${PPDS[@]}" || FAILED=$((FAILED + 1))

[ "$FAILED" = 0 ] || exit 1
exit 0
