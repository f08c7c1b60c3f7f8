#!/usr/bin/env bash
# Times the merge and the delta on declared lists (-k KEYS) against the parse
# floor, xmllint --noout over the same input files, as bench/run_all.sh does
# for the other sets.  Prints a Markdown table and keeps it in
# build-bench/results-KIND.md.
#
#   bench/run_list_bench.sh keyed|content [--runs N]
#
#   --runs N   runs per measurement (default 5); the figures are medians.  A
#              measurement whose first run takes more than 10 s is run once.
#
# keyed: bench/gen_keyed_bench.sh, at 1,000, 3,000 and 10,000 entries:
#   property   /configuration/property keyed by its <name> child; the new
#              file inserts 20 properties and removes 10, the device file
#              changes 21 values, adds 10 properties and deletes 5
#   connector  /Server/Service/Connector keyed by @protocol, port and
#              timeout its settings; the new file adds an attribute to one
#              entry in 50 and inserts 10 connectors, the device file
#              changes the port of one entry in 50
# content: bench/gen_content_bench.sh, /config/firewall/rule matched by
# content, each rule four leaves, at 1,000, 3,000 and 10,000 rules:
#   rules      20 changes on each side: the new file inserts 7 rules,
#              removes 7 and changes 6, the device file edits 7, adds 7 and
#              deletes 6
#   all        every rule changed on both sides (one stretch both changed)
# The merge runs on a copy of the device file:
#   xmlcfg -v 0 -k KEYS -s O -n N -d D         floor: xmllint O N D KEYS
#   xmlcfg -v 0 -m -k KEYS -s O -n N -x DELTA  floor: xmllint O N KEYS
# "hold RSS" is the peak memory of bench/hold_docs.c holding the same files
# parsed, as the tool holds them; "RSS ratio" is the tool's over it.
set -euo pipefail
cd "$(dirname "$0")/.."

kind=${1:-}
case $kind in
    keyed) shapes=(property connector) ;;
    content) shapes=(rules all) ;;
    *) echo "usage: bench/run_list_bench.sh keyed|content [--runs N]" >&2; exit 2 ;;
esac
shift
gen=bench/gen_${kind}_bench.sh
runs=5
while [ $# -gt 0 ]; do
    case $1 in
        --runs) runs=${2:?--runs needs a number}; shift 2 ;;
        *) echo "usage: bench/run_list_bench.sh keyed|content [--runs N]" >&2; exit 2 ;;
    esac
done

command -v xmllint > /dev/null ||
    { echo "bench/run_list_bench.sh: xmllint is missing (Debian: apt-get install libxml2-utils)" >&2; exit 1; }

build=build-bench
data=$build/data
work=$build/work-$kind
results=$build/results-$kind.md
mkdir -p "$build" "$data" "$work"

echo "building the Release binary in $build/ ..." >&2
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DXMLCFG_BUILD_TESTS=OFF \
    -DXMLCFG_WERROR=ON > "$build/configure.log"
cmake --build "$build" -j2 --target xmlcfg > "$build/build.log"
cc -O2 -o "$build/run_timed" bench/run_timed.c
cc -O2 -o "$build/hold_docs" bench/hold_docs.c $(pkg-config --cflags --libs libxml-2.0)
tool=$PWD/$build/xmlcfg
timed=$PWD/$build/run_timed
hold=$PWD/$build/hold_docs

# name shape entries
sets=()
for shape in "${shapes[@]}"; do
    for n in 1000 3000 10000; do
        sets+=("$shape-$n $shape $n")
    done
done
echo "generating configurations in $data/ ..." >&2
for s in "${sets[@]}"; do
    set -- $s
    # Kept between runs; made again when the generator changed.
    [ "$data/$kind-$1/keys.xml" -nt "$gen" ] ||
        "$gen" "$data/$kind-$1" "$2" "$3"
done

# median, and measure PREP COMMAND... (up to $runs timed runs in $work with
# $timed): bench/measure.sh.
. bench/measure.sh

mb() { awk -v k="$1" 'BEGIN { printf "%.1f", k / 1024 }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.1fx", (b > 0 ? a / b : 0) }'; }
line() { printf '%s\n' "$*" | tee -a "$results"; }

: > "$results"
line "Machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ //'), libxml2 $(xmllint --version 2>&1 | awk 'NR == 1 { print $NF }'), xmlcfg $(git describe --always --dirty 2>/dev/null || echo '?'), load $(cut -d' ' -f1-3 /proc/loadavg)"
line ""
line "| mode | list | entries | xmlcfg CPU s | wall s | peak RSS MB | floor CPU s | wall s | peak RSS MB | hold RSS MB | CPU ratio | RSS ratio | CPU growth | runs |"
line "|---|---|---|---|---|---|---|---|---|---|---|---|---|---|"
for mode in merge delta; do
    prev_shape="" prev_cpu=""
    for s in "${sets[@]}"; do
        set -- $s
        d=$data/$kind-$1 shape=$2 entries=$3
        case $mode in
            merge)
                t=$(measure "cp $d/device.xml $work/device.xml" \
                    "$tool" -v 0 -k "$d/keys.xml" -s "$d/old.xml" -n "$d/new.xml" -d "$work/device.xml")
                f=$(measure : xmllint --noout "$d/old.xml" "$d/new.xml" "$d/device.xml" "$d/keys.xml")
                h=$(measure : "$hold" "$d/old.xml" "$d/new.xml" "$d/device.xml" "$d/keys.xml") ;;
            delta)
                t=$(measure : "$tool" -v 0 -m -k "$d/keys.xml" -s "$d/old.xml" -n "$d/new.xml" -x "$work/delta.txt")
                f=$(measure : xmllint --noout "$d/old.xml" "$d/new.xml" "$d/keys.xml")
                h=$(measure : "$hold" "$d/old.xml" "$d/new.xml" "$d/keys.xml") ;;
        esac
        read -r tcpu twall trss truns tstatus <<< "$t"
        read -r fcpu fwall frss _ _ <<< "$f"
        read -r _ _ hrss _ _ <<< "$h"
        cratio=- rratio=- growth=-
        [ "$entries" -ge 10000 ] && cratio=$(ratio "$tcpu" "$fcpu") && rratio=$(ratio "$trss" "$hrss")
        [ "$shape" = "$prev_shape" ] && growth=$(ratio "$tcpu" "$prev_cpu")
        note=""
        [ "$tstatus" = 0 ] || note=" (exit $tstatus)"
        line "| $mode | $shape | $entries | $tcpu | $twall | $(mb "$trss") | $fcpu | $fwall | $(mb "$frss") | $(mb "$hrss") | $cratio | $rratio | $growth | $truns$note |"
        prev_shape=$shape prev_cpu=$tcpu
    done
done
