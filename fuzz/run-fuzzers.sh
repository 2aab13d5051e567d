#!/usr/bin/env bash
# Runs every fuzz program of a fuzz build for a set time each and fails on the first finding (a crash, a
# leak, a sanitizer report, a failed check, a time-out or running out of memory).
#
#   fuzz/run-fuzzers.sh <fuzz build dir> <seconds per target> [target ...]
#
# The committed seeds of fuzz/corpus/<target>/ are read only; what the fuzzer learns is kept in
# <build>/corpus/<target>/ so that later runs start from it. A finding leaves its input in
# <build>/artifacts/ and the whole log in <build>/logs/<target>.log.
set -uo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
build="$1"
seconds="$2"
shift 2
targets=("$@")
# Every fuzz program of the sources: one the build did not make fails rather than being passed over.
if [ ${#targets[@]} -eq 0 ]; then
    for source in "$here"/fuzz_*.cpp; do
        targets+=("$(basename "$source" .cpp | sed 's/^fuzz_//')")
    done
fi
if [ ${#targets[@]} -eq 0 ]; then
    echo "no fuzz programs in $build/fuzz" >&2
    exit 1
fi
mkdir -p "$build/artifacts" "$build/logs"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1${UBSAN_OPTIONS:+:$UBSAN_OPTIONS}"

# One program's run; its table line goes to <build>/logs/<target>.result.
run_one() {
    local name=$1 program="$build/fuzz/fuzz_$1" seeds="$here/corpus/$1" learned="$build/corpus/$1"
    local log="$build/logs/$1.log" result status runs rate
    mkdir -p "$learned"
    if [ ! -x "$program" ]; then
        printf '%-22s %8s %14s %10s %s\n' "$name" - - - "NOT BUILT ($program)" >"$build/logs/$name.result"
        return
    fi
    local corpora=("$learned")
    [ -d "$seeds" ] && corpora+=("$seeds")
    "$program" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2560 -print_final_stats=1 \
        -artifact_prefix="$build/artifacts/$name-" "${corpora[@]}" >"$log" 2>&1
    status=$?
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
    rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -n 1)
    if [ $status -eq 0 ] && ! grep -q 'ERROR: \(AddressSanitizer\|LeakSanitizer\|libFuzzer\)\|runtime error:' "$log"
    then
        result=ok
    else
        result="FINDING (exit $status, log $log)"
    fi
    printf '%-22s %8s %14s %10s %s\n' "$name" "$seconds" "${runs:-?}" "${rate:-?}" "$result" \
        >"$build/logs/$name.result"
}

# As many programs at a time as there are processors (each fuzzes on one).
parallel=${FUZZ_JOBS:-$(nproc)}
for name in "${targets[@]}"; do
    while [ "$(jobs -rp | wc -l)" -ge "$parallel" ]; do wait -n; done
    rm -f "$build/logs/$name.result"
    run_one "$name" &
done
wait

failed=()
printf '%-22s %8s %14s %10s %s\n' target seconds executions exec/s result
for name in "${targets[@]}"; do
    line=$(cat "$build/logs/$name.result" 2>/dev/null || printf '%-22s %s' "$name" "NO RESULT")
    echo "$line"
    case $line in
    *" ok") ;;
    *)
        failed+=("$name")
        [ -f "$build/logs/$name.log" ] &&
            grep -B2 -A30 -m1 'ERROR:\|runtime error:\|check failed' "$build/logs/$name.log" | head -n 60 >&2
        ;;
    esac
done
echo "$(( ${#targets[@]} - ${#failed[@]} )) passed, ${#failed[@]} failed, 0 skipped"
if [ ${#failed[@]} -gt 0 ]; then
    echo "fuzz findings in: ${failed[*]}" >&2
    exit 1
fi
