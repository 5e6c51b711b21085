#!/bin/bash
# The build accepts only the PAPPL the fence was written for (1.3.x): the
# project configured against a pappl.pc claiming another version warns,
# names the file to port and leaves dotforge-app out; the rest still builds.
#
# Usage: app_pappl_version.sh SOURCE_DIR GENERATOR
set -u
SRC=$1
GEN=$2
PC=$(pkg-config --variable=pcfiledir pappl 2>/dev/null)
[ -n "$PC" ] && [ -f "$PC/pappl.pc" ] || { echo "SKIP: no pappl.pc"; exit 77; }
WORK=$(mktemp -d /tmp/dotforge-pappl-version.XXXXXX)
trap 'rm -rf "$WORK"' EXIT
FAILED=0

# version, app built?, text the warning must hold (~ for a space)
while read -r version built text; do
    mkdir -p "$WORK/$version/pc"
    sed "s/^Version:.*/Version: $version/" "$PC/pappl.pc" > "$WORK/$version/pc/pappl.pc"
    PKG_CONFIG_PATH="$WORK/$version/pc" cmake -G "$GEN" -S "$SRC" -B "$WORK/$version/build" \
        > "$WORK/$version/log" 2>&1 || { echo "FAIL $version: configure failed"; cat "$WORK/$version/log"; FAILED=1; continue; }
    if [ -d "$WORK/$version/build/app/CMakeFiles/dotforge-app.dir" ]; then got=yes; else got=no; fi
    [ "$got" = "$built" ] || { echo "FAIL $version: dotforge-app built: $got, expected $built"; FAILED=1; }
    if [ "$text" != "-" ] && ! tr -s ' \n' ' ' < "$WORK/$version/log" | grep -qF "$(echo "$text" | tr '~' ' ')"; then
        echo "FAIL $version: no warning '$text'"; cat "$WORK/$version/log"; FAILED=1
    fi
    [ -d "$WORK/$version/build/CMakeFiles/dotforge.dir" ] || { echo "FAIL $version: the filter is not configured"; FAILED=1; }
done <<'CASES'
1.3.9 yes -
1.4.11 no PAPPL~1.4.11~found,~but~dotforge-app~is~written~for~PAPPL~1.3.x~only:~dotforge-app~is~not~built.~Port~app/pappl/pappl_fence.cpp
2.0.0 no PAPPL~2.0.0~found
1.30.0 no dotforge-app~is~not~built
CASES
exit $FAILED
