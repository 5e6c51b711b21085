#!/bin/bash
# What gets installed, and what the installed filter touches. cmake --install
# into a staging directory as root: every file and directory is root-owned
# and writable by nobody else, the filter is 0755 in CUPS's filter directory
# (CUPS runs nothing else), the PPDs are 0644. Then the filter runs as user
# lp, as cupsd runs it, in a read-only working directory with a read-only
# TMPDIR and HOME: the job succeeds, nothing appears there, and (with strace)
# it opens no file for writing and reads nothing but its input, its PPD and
# system files.
#
# Usage: install_test.sh BUILD_DIR FILTER PPD_DIR
set -u
. "${BASH_SOURCE[0]%/*}/common.sh"

BUILD=${1:?build dir}
FILTER=${2:?filter}
PPDDIR=${3:?ppd dir}

require_root
require_programs cmake cups-config setpriv python3
id lp >/dev/null 2>&1 || skip "there is no user lp to run filters as"
make_workdir dotforge-install
FAILED=0
bad() { echo "FAIL: $*"; FAILED=$((FAILED + 1)); }

say "cmake --install into a staging directory"
STAGE="$W/stage"
DESTDIR="$STAGE" cmake --install "$BUILD" > "$W/install.log" 2>&1 || { cat "$W/install.log"; fail "cmake --install"; }
SB=$(cups-config --serverbin)
INSTALLED="$STAGE$SB/filter/dotforge"
[ -f "$INSTALLED" ] || bad "the filter is not at $SB/filter/dotforge"
n=0
while IFS= read -r -d '' f; do
    n=$((n + 1))
    rel=${f#"$STAGE"}
    read -r owner mode < <(stat -c '%U %a' "$f")
    [ "$owner" = root ] || bad "$rel is owned by $owner"
    # No write bit for group or others on anything that was installed.
    (( (8#$mode & 8#022) == 0 )) || bad "$rel has mode $mode (writable by group or others)"
    case "$rel" in
        "$SB/filter/dotforge") [ "$mode" = 755 ] || bad "the filter has mode $mode, CUPS expects 755" ;;
        *.ppd) [ "$mode" = 644 ] || bad "$rel has mode $mode, expected 644" ;;
    esac
done < <(find "$STAGE" -mindepth 1 -print0)
ppds=$(find "$STAGE" -name '*.ppd' | wc -l)
[ "$ppds" -ge 7 ] || bad "only $ppds PPDs installed"
echo "ok   $n installed paths checked ($ppds PPDs)"

say "The installed filter as user lp in read-only directories"
RO="$W/ro"
install -d -o root -g root -m 555 "$RO" "$RO/tmp" "$RO/home"
dfstream raster "$W/job.ras" --width 400 --height 240 --bpp 8 --pages 2
chmod 644 "$W/job.ras"
cp "$PPDDIR/dotforge-tspl-203.ppd" "$W/job.ppd"
chmod 644 "$W/job.ppd"
# The sanitizer build reports leaks and errors to standard error only.
run_as_lp() {
    (cd "$RO" && env -i PATH=/usr/bin:/bin HOME="$RO/home" TMPDIR="$RO/tmp" PPD="$W/job.ppd" \
        ASAN_OPTIONS="${ASAN_OPTIONS:-}" LSAN_OPTIONS="${LSAN_OPTIONS:-}" \
        setpriv --reuid=lp --regid=lp --clear-groups "$@")
}
run_as_lp "$INSTALLED" 7 user title 1 "Darkness=8" "$W/job.ras" > "$W/out.bin" 2> "$W/err.txt"
status=$?
[ "$status" = 0 ] || { cat "$W/err.txt" | tail -n 5; bad "the filter exited with $status"; }
[ -s "$W/out.bin" ] || bad "the filter wrote nothing"
[ "$(find "$RO" -mindepth 1 | wc -l)" = 2 ] || bad "the filter created files: $(find "$RO" -mindepth 2)"
echo "ok   two pages, $(stat -c %s "$W/out.bin") bytes, nothing created"

if command -v strace >/dev/null 2>&1 && strace -o /dev/null true 2>/dev/null; then
    # strace runs as lp too, so its log goes where lp may write.
    install -d -o lp -m 755 "$W/trace"
    # LeakSanitizer cannot run under a tracer.
    ASAN_OPTIONS=detect_leaks=0 run_as_lp strace -f -qq -e trace=open,openat,creat,mkdir,mkdirat,unlink,unlinkat,rename,renameat,renameat2 \
        -o "$W/trace/trace.txt" "$INSTALLED" 7 user title 1 "" "$W/job.ras" > /dev/null 2>&1 ||
        bad "the filter failed under strace"
    python3 - "$W/trace/trace.txt" "$W/job.ras" "$W/job.ppd" <<'PY' || FAILED=$((FAILED + 1))
import re, sys
trace, inputs = sys.argv[1], set(sys.argv[2:])
system = ("/etc/", "/usr/", "/lib", "/proc/", "/sys/", "/dev/null", "/dev/urandom")
bad = []
reads = set()
for line in open(trace):
    m = re.search(r'(\w+)\((?:AT_FDCWD, )?"([^"]*)"(?:, ([A-Z_|]+))?', line)
    if not m or "= -1" in line:
        continue
    call, path, flags = m.group(1), m.group(2), m.group(3) or ""
    if call in ("open", "openat") and not re.search(r"O_WRONLY|O_RDWR|O_CREAT|O_TRUNC", flags):
        reads.add(path)
        if path not in inputs and not path.startswith(system):
            bad.append("reads " + path)
    else:
        bad.append("%s %s %s" % (call, path, flags))
for b in bad:
    print("FAIL: the filter " + b)
print("%s strace: %d files read, none written" % ("ok  " if not bad else "FAIL", len(reads)))
sys.exit(1 if bad else 0)
PY
else
    echo "strace cannot run here: skipped the system-call check"
fi

echo "$FAILED failed"
[ "$FAILED" = 0 ] || exit 1
exit 0
