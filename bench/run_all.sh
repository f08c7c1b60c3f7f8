#!/usr/bin/env bash
# Builds a Release xmlcfg, generates the benchmark configurations and times
# every mode on them against the parse floor, xmllint --noout over the same
# input files.  Prints a Markdown table and keeps it in build-bench/results.md.
#
#   bench/run_all.sh [--runs N] [--armhf]
#
#   --runs N   runs per measurement (default 5); the figures are medians.  A
#              measurement whose first run takes more than 10 s is run once.
#   --armhf    also times the armhf build under qemu-arm on the 10,000-leaf
#              sets (needs scripts/armhf-setup.sh to have run; skipped with
#              the reason otherwise).  The floor there is bench/hold_docs.c,
#              built for armhf, parsing the same files under the same emulator.
#
# Configurations (bench/gen_merge_bench.sh, fixed seeds):
#   nested  sections of two settings and a keyed list of 1 to 40 entries,
#           one list of up to 400 entries per 10,000 leaves
#   wide    one list keyed by @id, 3 leaves an entry
#   wide+local  the 10,000-leaf wide list, where the device file adds 1,000
#           entries of its own (merge only)
#   same    one list of 16,000 entries that all carry the same attribute,
#           <rule action="drop">, 3 leaves an entry (merge, delta, validation)
# Floors: merge parses O, N and D; delta O and N; cross merge O, N and the
# tag list; validation D.
set -euo pipefail
cd "$(dirname "$0")/.."

runs=5
armhf=0
while [ $# -gt 0 ]; do
    case $1 in
        --runs) runs=${2:?--runs needs a number}; shift 2 ;;
        --armhf) armhf=1; shift ;;
        *) echo "usage: bench/run_all.sh [--runs N] [--armhf]" >&2; exit 2 ;;
    esac
done

# The parse floor is xmllint's; the timing is bench/run_timed.c's own (no
# /usr/bin/time needed).
command -v xmllint > /dev/null ||
    { echo "bench/run_all.sh: xmllint is missing (Debian: apt-get install libxml2-utils)" >&2; exit 1; }

build=build-bench
data=$build/data
work=$build/work
results=$build/results.md
mkdir -p "$build" "$data" "$work"

echo "building the Release binary in $build/ ..." >&2
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DXMLCFG_BUILD_TESTS=OFF \
    -DXMLCFG_WERROR=ON > "$build/configure.log"
cmake --build "$build" -j2 --target xmlcfg > "$build/build.log"
cc -O2 -o "$build/run_timed" bench/run_timed.c
tool=$PWD/$build/xmlcfg
timed=$PWD/$build/run_timed

# name shape size local-entries
sets=(
    "nested-1000 nested 1000 0"
    "nested-10000 nested 10000 0"
    "nested-100000 nested 100000 0"
    "wide-1000 flat 334 0"
    "wide-3000 flat 1000 0"
    "wide-10000 flat 3334 0"
    "wide+local-10000 flat 3334 1000"
    "same-48000 same 16000 0"
)
echo "generating configurations in $data/ ..." >&2
for s in "${sets[@]}"; do
    set -- $s
    # Kept between runs; made again when a generator changed.
    [ "$data/$1/list.xml" -nt bench/gen_config.sh ] && [ "$data/$1/list.xml" -nt bench/gen_merge_bench.sh ] ||
        bench/gen_merge_bench.sh "$data/$1" "$2" "$3" "$4"
done

# median, and measure PREP COMMAND... (up to $runs timed runs in $work with
# $timed): bench/measure.sh.
. bench/measure.sh

line() { printf '%s\n' "$*" | tee -a "$results"; }

: > "$results"
line "Machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ //'), libxml2 $(xmllint --version 2>&1 | awk 'NR == 1 { print $NF }'), xmlcfg $(git describe --always --dirty 2>/dev/null || echo '?')"
line ""
line "| mode | config | leaves | xmlcfg CPU s | wall s | peak RSS MB | floor CPU s | wall s | peak RSS MB | CPU ratio | CPU growth | runs |"
line "|---|---|---|---|---|---|---|---|---|---|---|---|"
for mode in merge delta cross validate; do
    prev_shape="" prev_cpu=""
    for s in "${sets[@]}"; do
        set -- $s
        name=$1 d=$data/$1
        leaves=${name##*-}
        shape=${name%-*}
        [ "$shape" = wide+local ] && [ "$mode" != merge ] && continue
        [ "$shape" = same ] && [ "$mode" = cross ] && continue
        case $mode in
            merge)
                t=$(measure "cp $d/device.xml $work/device.xml" \
                    "$tool" -v 0 -s "$d/old.xml" -n "$d/new.xml" -d "$work/device.xml")
                f=$(measure : xmllint --noout "$d/old.xml" "$d/new.xml" "$d/device.xml") ;;
            delta)
                t=$(measure : "$tool" -v 0 -m -s "$d/old.xml" -n "$d/new.xml" -x "$work/delta.txt")
                f=$(measure : xmllint --noout "$d/old.xml" "$d/new.xml") ;;
            cross)
                t=$(measure "rm -f $work/out.xml" "$tool" -v 0 -c -s "$d/old.xml" -n "$d/new.xml" \
                    -t "$d/list.xml" -d "$work/out.xml")
                f=$(measure : xmllint --noout "$d/old.xml" "$d/new.xml" "$d/list.xml") ;;
            validate)
                t=$(measure : "$tool" -v 0 -o "$d/device.xml")
                f=$(measure : xmllint --noout "$d/device.xml") ;;
        esac
        read -r tcpu twall trss truns tstatus <<< "$t"
        read -r fcpu fwall frss _ _ <<< "$f"
        ratio=- growth=-
        [ "$leaves" -ge 10000 ] && ratio=$(awk -v a="$tcpu" -v b="$fcpu" 'BEGIN { printf "%.1fx", (b > 0 ? a / b : 0) }')
        [ "$shape" = "$prev_shape" ] &&
            growth=$(awk -v a="$tcpu" -v b="$prev_cpu" 'BEGIN { printf "%.1fx", (b > 0 ? a / b : 0) }')
        note=""
        [ "$tstatus" = 0 ] || note=" (exit $tstatus)"
        line "| $mode | $shape | $leaves | $tcpu | $twall | $(awk -v k="$trss" 'BEGIN { printf "%.1f", k / 1024 }') | $fcpu | $fwall | $(awk -v k="$frss" 'BEGIN { printf "%.1f", k / 1024 }') | $ratio | $growth | $truns$note |"
        prev_shape=$shape prev_cpu=$tcpu
    done
done

[ "$armhf" = 1 ] || exit 0

line ""
sysroot=${XMLCFG_ARMHF_SYSROOT:-$PWD/build-armhf-sysroot}
why=""
command -v arm-linux-gnueabihf-gcc > /dev/null || why="no arm-linux-gnueabihf-gcc"
[ -n "$why" ] || command -v qemu-arm > /dev/null || why="no qemu-arm"
[ -n "$why" ] || [ -f "$sysroot/usr/include/libxml2/libxml/xpath.h" ] || why="no armhf libxml2 in $sysroot"
if [ -n "$why" ]; then
    line "armhf under qemu-arm: skipped, $why (scripts/armhf-setup.sh installs the cross toolchain, qemu-user and the sysroot)"
    exit 0
fi
abuild=$build-armhf
echo "building the armhf Release binary in $abuild/ ..." >&2
mkdir -p "$abuild"
cmake -S . -B "$abuild" -DCMAKE_TOOLCHAIN_FILE=cmake/armhf.cmake -DCMAKE_BUILD_TYPE=Release \
    -DXMLCFG_BUILD_TESTS=OFF -DXMLCFG_WERROR=ON > "$abuild/configure.log"
cmake --build "$abuild" -j2 --target xmlcfg > "$abuild/build.log"
libdir=$sysroot/usr/lib/arm-linux-gnueabihf
arm-linux-gnueabihf-gcc -O2 -I"$sysroot/usr/include/libxml2" -o "$abuild/hold_docs" bench/hold_docs.c \
    -L"$libdir" -Wl,-rpath-link,"$sysroot/lib/arm-linux-gnueabihf:$libdir" -lxml2
emu=(qemu-arm -L "$sysroot")
atool=$PWD/$abuild/xmlcfg
hold=$PWD/$abuild/hold_docs
line "armhf under qemu-arm (floor: hold_docs parsing the same files under the same emulator; one run each)"
line ""
line "| mode | config | leaves | xmlcfg CPU s | wall s | floor CPU s | CPU ratio |"
line "|---|---|---|---|---|---|---|"
runs=1
for name in nested-10000 wide-10000; do
    d=$data/$name
    for mode in merge delta cross validate; do
        case $mode in
            merge) t=$(measure "cp $d/device.xml $work/device.xml" "${emu[@]}" "$atool" -v 0 \
                       -s "$d/old.xml" -n "$d/new.xml" -d "$work/device.xml")
                   f=$(measure : "${emu[@]}" "$hold" "$d/old.xml" "$d/new.xml" "$d/device.xml") ;;
            delta) t=$(measure : "${emu[@]}" "$atool" -v 0 -m -s "$d/old.xml" -n "$d/new.xml" -x "$work/delta.txt")
                   f=$(measure : "${emu[@]}" "$hold" "$d/old.xml" "$d/new.xml") ;;
            cross) t=$(measure "rm -f $work/out.xml" "${emu[@]}" "$atool" -v 0 -c -s "$d/old.xml" \
                       -n "$d/new.xml" -t "$d/list.xml" -d "$work/out.xml")
                   f=$(measure : "${emu[@]}" "$hold" "$d/old.xml" "$d/new.xml" "$d/list.xml") ;;
            validate) t=$(measure : "${emu[@]}" "$atool" -v 0 -o "$d/device.xml")
                   f=$(measure : "${emu[@]}" "$hold" "$d/device.xml") ;;
        esac
        read -r tcpu twall _ _ tstatus <<< "$t"
        read -r fcpu _ _ _ _ <<< "$f"
        note=""
        [ "$tstatus" = 0 ] || note=" (exit $tstatus)"
        line "| $mode | ${name%-*} | ${name##*-} | $tcpu$note | $twall | $fcpu | $(awk -v a="$tcpu" -v b="$fcpu" 'BEGIN { printf "%.1fx", (b > 0 ? a / b : 0) }') |"
    done
done
