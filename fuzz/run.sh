#!/usr/bin/env bash
# Runs every fuzz target, one after another or JOBS at a time:
#
#   fuzz/run.sh SECONDS [JOBS]   each target for SECONDS; a row per target
#                                goes to fuzz/FINDINGS.md
#   fuzz/run.sh --runs N [JOBS]  N inputs per target from seed 1 and an
#                                empty corpus (CI); FINDINGS.md is left alone
#
# Builds the targets with clang in build-fuzz/ (XMLCFG_FUZZ_BUILD to
# change), makes the seed corpora from the command-line cases, and prints
# for each target its CPU time, executions and coverage.  Inputs that
# crash, leak or time out are kept in build-fuzz/artifacts/TARGET/.
# Exit status 1 when any target found a fault.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
top=$(dirname "$here")
targets=(validate delta merge keyed cross paths)

usage() { echo "usage: $0 SECONDS [JOBS] | $0 --runs N [JOBS]" >&2; exit 2; }
mode=time
if [ "${1:-}" = --runs ]; then mode=runs; shift; fi
amount=${1:-}
jobs=${2:-1}
[[ $amount =~ ^[0-9]+$ && $jobs =~ ^[1-9][0-9]*$ ]] || usage

build=${XMLCFG_FUZZ_BUILD:-$top/build-fuzz}
commit=$(git -C "$top" rev-parse --short HEAD 2>/dev/null || echo unknown)
CC=clang CXX=clang++ cmake -S "$top" -B "$build" -DXMLCFG_FUZZ=ON -DXMLCFG_BUILD_TESTS=OFF \
    -DXMLCFG_WERROR=ON >/dev/null || exit 1
cmake --build "$build" -j "$jobs" >/dev/null || { cmake --build "$build" -j 1; exit 1; }

rm -rf "$build/seeds" && "$here/make_seeds.sh" "$build/seeds" || exit 1
if [ $mode = runs ]; then
    corpus=$(mktemp -d) && trap 'rm -rf "$corpus"' EXIT
    limit=(-runs="$amount" -seed=1)
else
    corpus=$build/corpus
    limit=(-max_total_time="$amount")
fi
mkdir -p "$build/logs"

# One target; its log ends with the CPU seconds (user, system) of the run.
run_target() {
    local t=$1
    mkdir -p "$corpus/$t" "$build/artifacts/$t"
    (
        TIMEFORMAT='cpu: %U %S'
        time ASAN_OPTIONS=abort_on_error=0 "$build/fuzz/fuzz_$t" "${limit[@]}" -timeout=10 -rss_limit_mb=2048 \
            -max_len=4096 -dict="$here/xml.dict" -print_final_stats=1 \
            -artifact_prefix="$build/artifacts/$t/" "$corpus/$t" "$build/seeds/$t"
        echo "status: $?"
    ) > "$build/logs/$t.log" 2>&1
}

for t in "${targets[@]}"; do
    while [ "$(jobs -rp | wc -l)" -ge "$jobs" ]; do wait -n; done
    run_target "$t" &
done
wait

failed=0
note=""
printf '%-9s %9s %12s %8s %8s  %s\n' target cpu_s executions cov ft result
for t in "${targets[@]}"; do
    log=$build/logs/$t.log
    cpu=$(sed -n 's/^cpu: \([0-9.]*\) \([0-9.]*\)$/\1 \2/p' "$log" | awk '{printf "%.1f", $1 + $2}')
    execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
    cov=$(grep -o 'cov: [0-9]*' "$log" | tail -n 1 | cut -d' ' -f2)
    ft=$(grep -o 'ft: [0-9]*' "$log" | tail -n 1 | cut -d' ' -f2)
    status=$(sed -n 's/^status: //p' "$log")
    result=ok
    if [ "$status" != 0 ]; then
        failed=1
        result="FAULT: $(grep -m1 -o 'Test unit written to .*' "$log" | sed 's/Test unit written to //') (log $log)"
    fi
    printf '%-9s %9s %12s %8s %8s  %s\n' "$t" "$cpu" "${execs:-?}" "${cov:-?}" "${ft:-?}" "$result"
    if [ $mode = time ]; then
        printf '| %s | %s | %s | %s | %s | %s | %s | %s | %s |\n' "$(date -u +%Y-%m-%d)" "$commit" "$t" \
            "$cpu" "${execs:-?}" "${cov:-?}" "${ft:-?}" "${result%% (log*}" "$note" >> "$here/FINDINGS.md"
    fi
done
exit $failed
