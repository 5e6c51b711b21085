#!/bin/sh
# The Debian 13 (trixie) check: a fresh trixie minbase root made with
# debootstrap, a clean clone of this repository's committed HEAD copied in,
# then `make demo` and `make test` run inside it as root, as the README tells a
# user on a fresh machine. Too slow for CI (the root alone takes minutes, the
# test build far longer); run it before a stop that touches the build, the
# packaging or the dependency lists.
#
# Usage (as root): tools/trixie-check.sh [WORK_DIR]     (default /var/tmp/dotforge-trixie)
#   SUITE=trixie     the Debian release to check
#   MIRROR=URL       where debootstrap and apt fetch from (default: this host's Debian mirror)
#   STEPS="demo test"  the make targets to run, in order
#   SRC=DIR          the repository to clone (default: the one holding this script)
#   KEEP=1           keep the root afterwards (it is deleted otherwise)
#   REUSE=1          use the root a KEEP=1 run left (no debootstrap): its clone
#                    moves to this HEAD, its build directories stay (quicker, not fresh)
# Logs: WORK_DIR/debootstrap.log and WORK_DIR/make-TARGET.log. Exits non-zero
# when a step fails.
set -eu

SUITE=${SUITE:-trixie}
STEPS=${STEPS:-demo test}
W=${1:-/var/tmp/dotforge-trixie}
ROOT=$W/root
# Not under /root (0700): some tests run the built programs as other users.
CLONE=/srv/dotforge
SRC=${SRC:-$(cd "$(dirname "$0")/.." && pwd)}

say() { printf '== %s: %s\n' "$(date +%H:%M:%S)" "$*"; }
die() { echo "trixie-check: $*" >&2; exit 1; }

[ "$(id -u)" = 0 ] || die "run it as root (debootstrap and chroot need it)"
command -v git >/dev/null || die "git is needed to clone the tree"
if ! command -v debootstrap >/dev/null; then
    say "installing debootstrap"
    apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq debootstrap >/dev/null
fi
# The host's own Debian mirror (deb822 or one-line sources), unless MIRROR is set.
if [ -z "${MIRROR:-}" ]; then
    MIRROR=$(cat /etc/apt/sources.list.d/*.sources 2>/dev/null |
        sed -n 's/^URIs:[[:space:]]*\([^[:space:]]*\/debian\)\/*$/\1/p' | head -n 1)
    [ -n "$MIRROR" ] || MIRROR=$(cat /etc/apt/sources.list 2>/dev/null |
        sed -n 's/^deb[[:space:]]\+\(\[[^]]*\][[:space:]]\+\)\?\([^[:space:]]*\/debian\)\/*[[:space:]].*/\2/p' | head -n 1)
    [ -n "$MIRROR" ] || die "no Debian mirror in /etc/apt/sources.list*: set MIRROR"
fi
if [ -n "$(git -C "$SRC" status --porcelain --untracked-files=no)" ]; then
    echo "note: the work tree has uncommitted changes; the check runs the committed HEAD"
fi

# Everything mounted or started inside the root goes when the script ends.
cleanup() {
    status=$?
    set +e
    # Processes left inside the root (servers a test did not stop).
    for p in /proc/[0-9]*; do
        [ "$(readlink "$p/root" 2>/dev/null)" = "$ROOT" ] && kill -9 "${p#/proc/}" 2>/dev/null
    done
    for m in dev/pts dev sys proc run; do
        mountpoint -q "$ROOT/$m" 2>/dev/null && umount -l "$ROOT/$m"
    done
    if [ "${KEEP:-0}" != 1 ] && [ -d "$ROOT" ]; then
        # Only once nothing is mounted below it any more.
        grep -q " $ROOT/" /proc/mounts || rm -rf "$ROOT"
    fi
    exit $status
}
trap cleanup EXIT
trap 'exit 130' INT TERM

mkdir -p "$W"
if [ -e "$ROOT" ] && grep -q " $ROOT/" /proc/mounts; then
    die "$ROOT still has file systems mounted; unmount them first"
fi
if [ "${REUSE:-0}" = 1 ]; then
    [ -f "$ROOT/etc/debian_version" ] || die "REUSE=1: no root in $ROOT (make one with KEEP=1)"
    say "reusing $ROOT ($(cat "$ROOT/etc/debian_version")); its clone moves to $(git -C "$SRC" log -1 --format=%h)"
    [ -d "$ROOT$CLONE/.git" ] || git clone -q --no-local "$SRC" "$ROOT$CLONE"
    git -C "$ROOT$CLONE" fetch -q "$SRC" HEAD
    git -C "$ROOT$CLONE" checkout -q --detach FETCH_HEAD
else
    rm -rf "$ROOT"
    say "debootstrap --variant=minbase $SUITE into $ROOT (log: $W/debootstrap.log)"
    T0=$(date +%s)
    nice debootstrap --variant=minbase --include=make "$SUITE" "$ROOT" "$MIRROR" > "$W/debootstrap.log" 2>&1 ||
        { tail -n 20 "$W/debootstrap.log"; die "debootstrap failed"; }
    say "root ready in $(($(date +%s) - T0)) s: $(cat "$ROOT/etc/debian_version")"
    say "a clean clone of $(git -C "$SRC" log -1 --format='%h %s' | cut -c1-70)"
    git clone -q --no-local "$SRC" "$ROOT$CLONE"
fi
cp /etc/resolv.conf "$ROOT/etc/resolv.conf"
# As in a container: no services start from package scripts (invoke-rc.d
# asks this and is told no), so installing cups starts no scheduler here.
printf '#!/bin/sh\nexit 101\n' > "$ROOT/usr/sbin/policy-rc.d"
chmod 755 "$ROOT/usr/sbin/policy-rc.d"

mount -t proc proc "$ROOT/proc"
mount -t sysfs sysfs "$ROOT/sys"
mount --bind /dev "$ROOT/dev"
mount --bind /dev/pts "$ROOT/dev/pts"
mount -t tmpfs -o mode=755 tmpfs "$ROOT/run"
mkdir -p "$ROOT/run/lock"

FAILED=""
for step in $STEPS; do
    say "make $step (log: $W/make-$step.log)"
    T0=$(date +%s)
    if nice chroot "$ROOT" /usr/bin/env -i PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
        HOME=/root LANG=C.UTF-8 TERM=dumb sh -c "cd $CLONE && make $step" > "$W/make-$step.log" 2>&1; then
        say "make $step passed in $(($(date +%s) - T0)) s"
    else
        say "make $step FAILED after $(($(date +%s) - T0)) s; the end of its log:"
        tail -n 40 "$W/make-$step.log"
        FAILED="$FAILED $step"
    fi
    # CTest's summary and its failures, if this step ran tests.
    grep -E 'tests passed|\(Failed\)|\(Timeout\)|\*\*\*' "$W/make-$step.log" | tail -n 30 || true
done
[ -z "$FAILED" ] || die "failed on $SUITE:$FAILED"
say "make $STEPS passed on $SUITE"
