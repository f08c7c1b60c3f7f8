#!/usr/bin/env bash
# Measures one three-way merge: wall time, CPU time and peak memory of the
# merge, the same merge writing its report (-r), and for comparison the peak
# memory of a program that only holds the three parsed documents.
#
# usage: bench/run_merge_bench.sh XMLCFG DIR [RUNS]
#   DIR holds old.xml, new.xml and device.xml (see gen_merge_bench.sh); the
#   merge runs on a copy of device.xml.
set -eu
bin=$1
dir=$2
runs=${3:-5}
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cc -O2 -o "$work/hold_docs" "$here/hold_docs.c" $(pkg-config --cflags --libs libxml-2.0)
cc -O2 -o "$work/run_timed" "$here/run_timed.c"

measure() {   # prints "cpu_s wall_s max_rss_kb" for one command
    local r
    r=$("$work/run_timed" -e "$work/stderr" "$@")
    [ "${r##* }" = 0 ] || { echo "command failed: $*" >&2; cat "$work/stderr" >&2; exit 1; }
    echo "${r% *}"
}

echo "files: $(wc -c < "$dir/old.xml") / $(wc -c < "$dir/new.xml") / $(wc -c < "$dir/device.xml") bytes (O/N/D)"
median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
: > "$work/cpu"
for i in $(seq "$runs"); do
    cp "$dir/device.xml" "$work/device.xml"
    r=$(measure "$bin" -v 0 -s "$dir/old.xml" -n "$dir/new.xml" -d "$work/device.xml")
    set -- $r
    echo "$1" >> "$work/cpu"
    echo "merge run $i: $2 s wall, $1 s CPU (user + system), peak RSS $3 kB"
done
echo "merge decisions logged: $(grep -c 'Rule\|Local tag' "$work/stderr" || true)"
: > "$work/cpu_r"
for i in $(seq "$runs"); do
    cp "$dir/device.xml" "$work/device.xml"
    r=$(measure "$bin" -v 0 -r "$work/report.jsonl" -s "$dir/old.xml" -n "$dir/new.xml" -d "$work/device.xml")
    set -- $r
    echo "$1" >> "$work/cpu_r"
    echo "merge with -r run $i: $2 s wall, $1 s CPU (user + system), peak RSS $3 kB"
done
echo "report: $(($(wc -l < "$work/report.jsonl") - 1)) decision lines, $(wc -c < "$work/report.jsonl") bytes"
without=$(median < "$work/cpu")
with=$(median < "$work/cpu_r")
echo "median CPU: $without s without -r, $with s with it: $(awk -v a="$with" -v b="$without" 'BEGIN { printf "%.2f", (b > 0 ? a / b : 0) }')x"
r=$(measure "$work/hold_docs" "$dir/old.xml" "$dir/new.xml" "$dir/device.xml")
echo "holding O, N and D parsed: peak RSS ${r##* } kB"
r=$(measure "$work/hold_docs" "$dir/old.xml" "$dir/new.xml")
echo "holding O and N parsed: peak RSS ${r##* } kB"
r=$(measure "$work/hold_docs")
echo "empty process with libxml2: peak RSS ${r##* } kB"
