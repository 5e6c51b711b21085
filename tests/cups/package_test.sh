#!/bin/bash
# The Debian packages, built the way `make package` builds them and checked
# with lintian as it checks them: their file lists, modes and control fields,
# then installed with dpkg. The installed
# PPDs must show up in a running scheduler's `lpinfo -m` without a restart, a
# queue made from one must print through cupsfilter with the installed
# filter, and after removal and purge the system must be as it was before,
# including a `make install` copy of the filter if there was one. All of it
# under a policy-rc.d that forbids invoke-rc.d to start or stop services, as
# containers have: the service started by hand must still stop on removal.
#
# Usage: package_test.sh SOURCE_DIR BUILD_DIR PROJECT_VERSION
set -u
shopt -s extglob
. "${BASH_SOURCE[0]%/*}/common.sh"

SRC=${1:?source dir}
PKGBUILD=${2:?build dir}
PROJECT_VERSION=${3:?project version}

require_root
require_programs dpkg dpkg-deb dpkg-shlibdeps dpkg-buildflags file cmake cpack readelf flock \
    cupsd lpadmin lpinfo lpstat cupsfilter cups-config gs python3 lintian
id lp >/dev/null 2>&1 || skip "there is no user lp to run filters as"

PKGS="printer-driver-dotforge dotforge-app"
SYS_SB=$(cups-config --serverbin)
ARCH=$(dpkg --print-architecture)
# Where the release keeps system units (Debian 12 /lib, 13 /usr/lib).
UNITDIR=$(sh "$SRC/packaging/unitdir.sh")

# Another worktree's run of this test would install the same packages.
exec 9> /run/lock/dotforge-package-test.lock
flock -w 150 9 || skip "another package test has held /run/lock/dotforge-package-test.lock for 150 s"
for p in $PKGS; do
    st=$(dpkg-query -W -f='${db:Status-Abbrev}' "$p" 2>/dev/null)
    case "$st" in
        "" | un*) ;;
        *) skip "$p is on this system (dpkg status '$st'); the test will not replace or purge it" ;;
    esac
done

make_workdir dotforge-package
mkdir -p "$W/docs" "$W/saved" "$W/x"
FAILED=0
bad() { echo "FAIL $*"; FAILED=$((FAILED + 1)); }

say "Building the packages (packaging/build.sh, as make package)"
T0=$(date +%s)
sh "$SRC/packaging/build.sh" "$PKGBUILD" 2 > "$W/build.log" 2>&1 || { tail -n 30 "$W/build.log"; fail "the package build failed"; }
echo "built in $(($(date +%s) - T0)) s"
DRIVER_DEB=$(ls "$PKGBUILD"/packages/printer-driver-dotforge_*.deb 2>/dev/null)
APP_DEB=$(ls "$PKGBUILD"/packages/dotforge-app_*.deb 2>/dev/null)
[ -n "$DRIVER_DEB" ] || fail "no printer-driver-dotforge package in $PKGBUILD/packages"
DEBS=("$DRIVER_DEB")
[ -n "$APP_DEB" ] && DEBS+=("$APP_DEB")
if [ -n "$APP_DEB" ]; then
    { getent passwd dotforge-app || [ -e /var/lib/dotforge-app ]; } >/dev/null &&
        skip "a user dotforge-app or /var/lib/dotforge-app exists without the package; purging would delete it"
fi
ls -l "${DEBS[@]}"
# As `make package` runs it: errors fail, warnings are shown.
T0=$(date +%s)
if lintian --fail-on error "${DEBS[@]}" > "$W/lintian.txt" 2>&1; then
    echo "ok   lintian: no errors ($(grep -c '^W: ' "$W/lintian.txt") warnings, $(($(date +%s) - T0)) s)"
else
    bad "lintian --fail-on error (as make package):"
fi
grep -E '^[EW]: ' "$W/lintian.txt"
# The drivers the build made, as the family descriptors list them.
MODELS=$("$PKGBUILD/ppd/dotforge-ppdgen" drivers | sed 's/^dotforge-//; s/\.ppd$//')
[ -n "$MODELS" ] || fail "dotforge-ppdgen lists no drivers"

# ---------------------------------------------------------------------------
say "Contents and control fields"
VERSION=$(sed -n '1s/^dotforge (\([^)]*\)) .*/\1/p' "$SRC/packaging/changelog")
[ "${VERSION%-*}" = "$PROJECT_VERSION" ] ||
    bad "packaging/changelog's newest entry is $VERSION, the project version is $PROJECT_VERSION"

# Every file and directory with its mode and owner ("MODE OWNER PATH").
contents() { dpkg-deb -c "$1" | awk '{ print $1, $2, $6 }' | sort; }
expect_driver() {
    local m d=drwxr-xr-x f=-rw-r--r-- x=-rwxr-xr-x
    {
        for m in $MODELS; do echo "$f root/root ./usr/share/ppd/dotforge/dotforge-$m.ppd"; done
        echo "$x root/root .$SYS_SB/filter/dotforge"
        echo "$x root/root ./usr/bin/dotforge-preview"
        echo "$f root/root ./usr/share/cups/ppd-updaters/printer-driver-dotforge.ppd-updater"
        echo "$f root/root ./usr/share/doc/printer-driver-dotforge/README.md.gz"
        echo "$f root/root ./usr/share/doc/printer-driver-dotforge/changelog.Debian.gz"
        echo "$f root/root ./usr/share/doc/printer-driver-dotforge/copyright"
        echo "$f root/root ./usr/share/man/man1/dotforge-preview.1.gz"
    } | sort
}
expect_app() {
    local f=-rw-r--r-- x=-rwxr-xr-x
    {
        echo "$x root/root ./usr/bin/dotforge-app"
        echo "$x root/root ./etc/init.d/dotforge-app"
        echo "$f root/root .$UNITDIR/dotforge-app.service"
        echo "$f root/root ./usr/share/doc/dotforge-app/changelog.Debian.gz"
        echo "$f root/root ./usr/share/doc/dotforge-app/copyright"
        echo "$f root/root ./usr/share/man/man1/dotforge-app.1.gz"
    } | sort
}
# check_deb DEB PACKAGE SECTION EXPECT-FUNCTION MAINTAINER-SCRIPTS DEPENDS...
# (DEPENDS are extglob patterns: Debian 13 renamed libraries to ...t64.)
check_deb() {
    local deb=$1 pkg=$2 section=$3 expect=$4 scripts=$5 dep field want have
    shift 5
    contents "$deb" > "$W/$pkg.list"
    # Directories: root-owned 0755, and only the ones leading to the files.
    if grep '/$' "$W/$pkg.list" | grep -v '^drwxr-xr-x root/root '; then
        bad "$pkg: directories above are not root-owned 0755"
    fi
    grep -v '/$' "$W/$pkg.list" > "$W/$pkg.files"
    if ! $expect | diff -u - "$W/$pkg.files" > "$W/$pkg.diff"; then
        bad "$pkg: files differ from the expected list (- expected, + packaged):"
        tail -n +3 "$W/$pkg.diff" | grep '^[-+]'
    fi
    for field in "Package $pkg" "Version $VERSION" "Architecture $ARCH" "Section $section" \
        "Priority optional" "Source dotforge"; do
        want=${field#* }
        have=$(dpkg-deb -f "$deb" "${field%% *}")
        [ "$have" = "$want" ] || bad "$pkg: ${field%% *} is '$have', expected '$want'"
    done
    have=$(dpkg-deb -f "$deb" Depends)
    for dep in "$@"; do
        # shellcheck disable=SC2053 # DEPENDS are patterns (libcups2?(t64))
        [[ ", $have," == *", "$dep[\ ,]* ]] || bad "$pkg: Depends '$have' lacks $dep"
    done
    [ "$(dpkg-deb -f "$deb" Description | wc -l)" -ge 3 ] || bad "$pkg: the description has no extended text"
    have=$(dpkg-deb -I "$deb" | awk '$4 == "lines" { print ($5 == "*" ? $6 : $5) }' | grep -vx -e control -e md5sums | sort | xargs)
    [ "$have" = "$scripts" ] || bad "$pkg: maintainer scripts '$have', expected '$scripts'"
    # Changelog: gzip -9n (no name, no time stamp, maximum compression).
    have=$(dpkg-deb --fsys-tarfile "$deb" | tar -xO "./usr/share/doc/$pkg/changelog.Debian.gz" | od -An -tx1 -N9 | xargs)
    [ "$have" = "1f 8b 08 00 00 00 00 00 02" ] || bad "$pkg: changelog.Debian.gz header $have is not gzip -9n"
    # Programs: stripped, no RPATH.
    dpkg-deb -x "$deb" "$W/x/$pkg"
    while read -r f; do
        file -b "$f" | grep -q '^ELF' || continue  # the init script
        file -b "$f" | grep -q ', stripped' || bad "$pkg: ${f#"$W"/x/} is not stripped"
        ! readelf -d "$f" | grep -Eq 'RPATH|RUNPATH' || bad "$pkg: ${f#"$W"/x/} carries an RPATH"
    done < <(find "$W/x/$pkg" -type f -perm -u+x)
    echo "ok   $pkg: $(grep -c . "$W/$pkg.files") files, $(stat -c %s "$deb") bytes, Depends: $(dpkg-deb -f "$deb" Depends)"
}
check_deb "$DRIVER_DEB" printer-driver-dotforge text expect_driver "" \
    cups cups-filters ghostscript 'libcups2?(t64)' 'libpng16-16?(t64)'
if [ -n "$APP_DEB" ]; then
    check_deb "$APP_DEB" dotforge-app net expect_app "conffiles postinst postrm prerm" adduser
    # A program installed without a component lands in the driver package.
    grep -q dotforge-app "$W/printer-driver-dotforge.list" && bad "the driver package carries dotforge-app files"
fi

# ---------------------------------------------------------------------------
# What must be exactly as before once the packages are purged: every path
# they ship or create, and a `make install` copy under /usr/local.
WATCH=$(cat "$W"/*.list | awk '{ print substr($3, 2) }' | sed 's|/$||' | sort -u)
WATCH+=$'\n'"/var/lib/dotforge-app"$'\n'"/etc/systemd/system/multi-user.target.wants/dotforge-app.service"
WATCH+=$'\n'"/usr/local/share/ppd/dotforge"$'\n'"/usr/local/bin/dotforge-preview"
POLICY=/usr/sbin/policy-rc.d
WATCH+=$'\n'"$POLICY"
snapshot() {
    local p
    while read -r p; do
        [ -e "$p" ] || [ -L "$p" ] || continue
        if [ -L "$p" ]; then
            echo "$p -> $(readlink "$p")"
        elif [ -d "$p" ]; then
            echo "$p $(stat -c '%a %U:%G' "$p")"
            case "$p" in /usr/local/*) find "$p" -mindepth 1 -exec stat -c '%n %a %U:%G %s' {} + | sort ;; esac
        else
            echo "$p $(stat -c '%a %U:%G' "$p") $(sha256sum < "$p" | cut -c1-16)"
        fi
    done <<< "$WATCH"
    getent passwd dotforge-app
}
snapshot > "$W/before.txt"

# The package owns the filter's path; a copy that `make install` put there
# is replaced on install and deleted on removal, so keep it aside.
FILTER_PATH=$SYS_SB/filter/dotforge
if [ -e "$FILTER_PATH" ]; then
    cp -a "$FILTER_PATH" "$W/saved/dotforge"
    echo "note: $FILTER_PATH exists without the package (make install?); it is restored afterwards"
fi

INSTALLED=
restore_system() {
    stop_cupsd
    if [ -n "$INSTALLED" ]; then
        dpkg_retry --purge $PKGS > "$W/purge-cleanup.log" 2>&1 || cat "$W/purge-cleanup.log"
        INSTALLED=
    fi
    if [ -e "$W/saved/dotforge" ] && ! cmp -s "$W/saved/dotforge" "$FILTER_PATH"; then
        cp -a "$W/saved/dotforge" "$FILTER_PATH"
    fi
}
CLEANUP_HOOKS+=(restore_system)

# As in a container: invoke-rc.d may neither start nor stop a service. What
# was at /usr/sbin/policy-rc.d comes back afterwards.
[ -e "$POLICY" ] || [ -L "$POLICY" ] && cp -a "$POLICY" "$W/saved/policy-rc.d"
restore_policy() {
    rm -f "$POLICY"
    if [ -e "$W/saved/policy-rc.d" ] || [ -L "$W/saved/policy-rc.d" ]; then cp -a "$W/saved/policy-rc.d" "$POLICY"; fi
}
CLEANUP_HOOKS+=(restore_policy)
printf '#!/bin/sh\nexit 101\n' > "$POLICY" && chmod 755 "$POLICY" || fail "cannot write $POLICY"

# alive PID: the process exists and is not a zombie nobody reaped.
alive() { [ -n "$1" ] && [ -e "/proc/$1" ] && ! grep -q '^[0-9]* ([^)]*) Z' "/proc/$1/stat" 2>/dev/null; }
APP_PID=
stop_app() { alive "$APP_PID" && kill -KILL "$APP_PID" 2>/dev/null; }
# Before the purge in restore_system: a server left running keeps its user.
CLEANUP_HOOKS=(stop_app "${CLEANUP_HOOKS[@]}")

# dpkg_retry ARGS: dpkg, waiting up to a minute for a lock someone else holds.
dpkg_retry() {
    local i out
    for i in $(seq 60); do
        out=$(DEBIAN_FRONTEND=noninteractive dpkg "$@" 2>&1) && { echo "$out"; return 0; }
        echo "$out" | grep -q 'lock' || { echo "$out"; return 1; }
        sleep 1
    done
    echo "$out"
    return 1
}

# lsb/usr/dotforge/... names the scheduler lists (sorted).
listed() { lpinfo -h "$SRV" -m 2>/dev/null | awk '$1 ~ /^lsb\/usr\/dotforge\// { print $1 }' | sort; }
EXPECTED_PPDS=$(for m in $MODELS; do echo "lsb/usr/dotforge/dotforge-$m.ppd"; done | sort)

# A scheduler that is already running when the package arrives, with the
# system's filters; its driver cache is filled before the install.
start_cupsd "$SYS_SB"
say "cupsd $CUPSD_PID listening on $SRV"
[ -z "$(listed)" ] || bad "lsb/usr/dotforge PPDs are listed before the install"

# ---------------------------------------------------------------------------
say "Install"
INSTALLED=1
T0=$(date +%s)
dpkg_retry -i "${DEBS[@]}" > "$W/install.log" 2>&1 || { cat "$W/install.log"; fail "dpkg -i failed"; }
echo "installed in $(($(date +%s) - T0)) s"
have=$(stat -c '%a %U:%G' "$FILTER_PATH")
[ "$have" = "755 root:root" ] || bad "installed filter is $have, not 755 root:root"

if [ "$(listed)" = "$EXPECTED_PPDS" ]; then
    echo "ok   lpinfo -m lists the 7 PPDs without a scheduler restart"
else
    bad "lpinfo -m after the install lists:"
    lpinfo -h "$SRV" -m | grep dotforge
fi

lpadmin -h "$SRV" -p pkgq -E -v socket://127.0.0.1:9/ -m lsb/usr/dotforge/dotforge-tspl-203.ppd \
    > "$W/lpadmin.log" 2>&1 || { cat "$W/lpadmin.log"; show_log; fail "lpadmin -m lsb/usr/dotforge/dotforge-tspl-203.ppd failed"; }
grep -q '^\*PCFileName: *"dotforge-tspl-203.ppd"' "$W/etc/ppd/pkgq.ppd" ||
    bad "the queue's PPD is not dotforge-tspl-203.ppd"
# cupsfilter with the system's configuration, so the installed filter runs
# (it refuses one that is not root-owned and 0755).
make_doc "$W/docs/l50x30.pdf" 50 30 1
if cupsfilter -p "$W/etc/ppd/pkgq.ppd" -m printer/dotforge -e -o PageSize=w142h85 "$W/docs/l50x30.pdf" \
        > "$W/out.tspl" 2> "$W/out.err" &&
    dfstream tspl "$W/out.tspl" --pages 1 --size 50x30 --ink 0,0,0.5,0.25 > "$W/out.check" 2>&1; then
    echo "ok   the queue's PPD prints through cupsfilter and $FILTER_PATH ($(stat -c %s "$W/out.tspl") bytes)"
else
    bad "printing with the queue's PPD:"
    grep -v '^DEBUG' "$W/out.err" | tail -n 15
    cat "$W/out.check" 2>/dev/null
fi
if /usr/bin/dotforge-preview -o "$W/prev" "$W/out.tspl" > "$W/prev.txt" 2>&1 && [ -s "$W/prev-1.png" ]; then
    echo "ok   /usr/bin/dotforge-preview decodes it"
else
    bad "/usr/bin/dotforge-preview:"
    cat "$W/prev.txt"
fi

if [ -n "$APP_DEB" ]; then
    groups=$(id -nG dotforge-app 2>/dev/null)
    for g in lp dialout $(getent group bluetooth > /dev/null && echo bluetooth); do
        [[ " $groups " == *" $g "* ]] || bad "user dotforge-app is not in group $g (groups: $groups)"
    done
    have=$(stat -c '%a %U:%G' /var/lib/dotforge-app 2>&1)
    [ "$have" = "750 dotforge-app:dotforge-app" ] || bad "/var/lib/dotforge-app: $have"
    [ "$(readlink /etc/systemd/system/multi-user.target.wants/dotforge-app.service)" = \
        "$UNITDIR/dotforge-app.service" ] ||
        bad "dotforge-app.service is not enabled: $(ls -l /etc/systemd/system/multi-user.target.wants/dotforge-app.service 2>&1)"
    if command -v systemd-analyze >/dev/null &&
        ! systemd-analyze verify "$UNITDIR/dotforge-app.service" > "$W/verify.txt" 2>&1; then
        bad "systemd-analyze verify dotforge-app.service:"
        cat "$W/verify.txt"
    fi
    echo "ok   dotforge-app: user in $groups, state directory, service enabled"

    # The policy kept the install from starting it; started by hand, on a
    # free port, it runs as its user until removal stops it.
    [ -s /run/dotforge-app/dotforge-app.pid ] && bad "dotforge-app started on install though policy-rc.d forbids it"
    out=$(SERVER_OPTIONS="-o server-port=$(dfstream freeport)" timeout 30 /etc/init.d/dotforge-app start 2>&1)
    APP_PID=$(cat /run/dotforge-app/dotforge-app.pid 2>/dev/null)
    if alive "$APP_PID" && [ "$(ps -o user= -p "$APP_PID")" = dotforge-app ]; then
        echo "ok   /etc/init.d/dotforge-app start: $out (pid $APP_PID)"
    else
        bad "/etc/init.d/dotforge-app start: $out"
        tail -n 5 /var/lib/dotforge-app/dotforge-app.log 2>/dev/null
    fi
fi

# ---------------------------------------------------------------------------
say "Remove and purge"
dpkg_retry -r $PKGS > "$W/remove.log" 2>&1 || { cat "$W/remove.log"; fail "dpkg -r failed"; }
[ -z "$(listed)" ] || bad "lpinfo -m still lists lsb/usr/dotforge PPDs after the removal"
[ ! -e "$FILTER_PATH" ] || [ -e "$W/saved/dotforge" ] || bad "$FILTER_PATH is left after the removal"
if [ -n "$APP_DEB" ]; then
    # Removal keeps the printers and jobs for a reinstall; only purge deletes them.
    [ -d /var/lib/dotforge-app ] && getent passwd dotforge-app >/dev/null ||
        bad "dpkg -r deleted dotforge-app's state or user"
    # policy-rc.d denied invoke-rc.d's stop; the server must not outlive its program.
    if alive "$APP_PID"; then
        bad "dotforge-app (pid $APP_PID, $(readlink "/proc/$APP_PID/exe")) still runs after dpkg -r"
    else
        echo "ok   dpkg -r stopped the server though policy-rc.d denied invoke-rc.d"
    fi
fi
dpkg_retry --purge $PKGS > "$W/purge.log" 2>&1 || { cat "$W/purge.log"; fail "dpkg --purge failed"; }
INSTALLED=
restore_system
restore_policy
snapshot > "$W/after.txt"
if diff -u "$W/before.txt" "$W/after.txt" > "$W/snapshot.diff"; then
    echo "ok   after the purge the system is as before ($(grep -c . "$W/before.txt") paths existed before and still do)"
else
    bad "the system differs after the purge (- before, + after):"
    tail -n +3 "$W/snapshot.diff" | grep '^[-+]'
fi

echo "$FAILED failed"
[ "$FAILED" = 0 ] || exit 1
exit 0
