#!/bin/sh
# Runs every libFuzzer target of a fuzz build for SECONDS each and prints its
# executions and coverage. Each target starts from its seed corpus in
# tests/fuzz/corpus/<name> plus what earlier runs found (kept in
# BUILD/fuzz-corpus/<name>); crashing inputs land in BUILD/fuzz-artifacts.
# With SECONDS "seeds" each target only runs its seed corpus once: `make test`
# does that, so that clang's sanitizers see every seed (gcc's miss some
# undefined pointer arithmetic).
#
# Usage: run.sh BUILD_DIR [SECONDS|seeds] [TARGET...]
set -u
BUILD=${1:?build dir}
SECONDS_EACH=${2:-60}
shift 2 2>/dev/null || shift $#
HERE=$(cd "$(dirname "$0")" && pwd)
export LSAN_OPTIONS="suppressions=$HERE/lsan.supp:print_suppressions=0${LSAN_OPTIONS:+:$LSAN_OPTIONS}"
export UBSAN_OPTIONS="print_stacktrace=1${UBSAN_OPTIONS:+:$UBSAN_OPTIONS}"
mkdir -p "$BUILD/fuzz-corpus" "$BUILD/fuzz-artifacts" "$BUILD/fuzz-logs"

if [ $# -gt 0 ]; then
    TARGETS="$*"
else
    TARGETS=$(cd "$BUILD/tests/fuzz" && ls fuzz_* 2>/dev/null | sed 's/^fuzz_//')
fi
[ -n "$TARGETS" ] || { echo "no fuzz targets in $BUILD/tests/fuzz"; exit 1; }

dict_for() {
    case "$1" in
        settings | filter) echo "$HERE/dict/settings.dict" ;;
        preview_*) echo "$HERE/dict/${1#preview_}.dict" ;;
    esac
}

status=0
printf '%-18s %12s %9s %7s %7s  %s\n' target executions exec/s cov ft result > "$BUILD/fuzz-logs/summary.txt"
for t in $TARGETS; do
    bin="$BUILD/tests/fuzz/fuzz_$t"
    [ -x "$bin" ] || { echo "missing $bin"; status=1; continue; }
    work="$BUILD/fuzz-corpus/$t"
    mkdir -p "$work"
    dict=$(dict_for "$t")
    if [ "$SECONDS_EACH" = seeds ]; then
        set -- -runs=0 -print_final_stats=1 -timeout=25 -rss_limit_mb=2560 \
            -artifact_prefix="$BUILD/fuzz-artifacts/$t-"
        work=
    else
        set -- -max_total_time="$SECONDS_EACH" -print_final_stats=1 -timeout=25 -rss_limit_mb=2560 \
            -artifact_prefix="$BUILD/fuzz-artifacts/$t-"
    fi
    [ -n "$dict" ] && [ -f "$dict" ] && set -- "$@" -dict="$dict"
    # The filter prints status lines on standard error; and libcups's raster
    # reader callocs a line buffer of the header's cupsBytesPerLine (up to
    # 4 GiB) before anything can refuse the page. That block is mapped
    # lazily and never touched, so only the resident size is limited.
    [ "$t" = filter ] && set -- "$@" -close_fd_mask=2 -malloc_limit_mb=8192
    log="$BUILD/fuzz-logs/$t.log"
    echo "--- fuzz_$t for ${SECONDS_EACH}${work:+s}"
    "$bin" "$@" ${work:+"$work"} "$HERE/corpus/$t" > "$log" 2>&1
    rc=$?
    execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
    speed=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -n 1)
    last=$(grep -E '^#[0-9]+' "$log" | tail -n 1)
    cov=$(echo "$last" | sed -n 's/.* cov: \([0-9]*\).*/\1/p')
    ft=$(echo "$last" | sed -n 's/.* ft: \([0-9]*\).*/\1/p')
    if [ "$rc" = 0 ]; then
        result=ok
    else
        result="FAILED (exit $rc; see $log)"
        grep -E '^(==[0-9]+==ERROR|SUMMARY|.*property failed|artifact_prefix.*Test unit written)' "$log" | head -n 5
        status=1
    fi
    printf '%-18s %12s %9s %7s %7s  %s\n' "$t" "${execs:-?}" "${speed:-?}" "${cov:-?}" "${ft:-?}" "$result" \
        >> "$BUILD/fuzz-logs/summary.txt"
done
cat "$BUILD/fuzz-logs/summary.txt"
exit $status
