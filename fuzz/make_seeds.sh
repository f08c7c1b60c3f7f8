#!/usr/bin/env bash
# Builds the seed corpus of every fuzz target from the command-line test
# cases: make_seeds.sh OUTDIR makes OUTDIR/TARGET/ for validate, delta,
# merge, keyed, cross and paths.  The files of a case's run are joined with NUL
# bytes in the order the target reads them (see fuzz/targets.cpp).
set -euo pipefail
shopt -s nullglob
here=$(cd "$(dirname "$0")" && pwd)
top=$(dirname "$here")
out=$1
mkdir -p "$out"/{validate,delta,merge,keyed,cross,paths}

# The case's file named $2, or the example it copies in its setup.
file_of() {
    if [ -f "$1/$2" ]; then echo "$1/$2"; elif [ -f "$top/examples/$2" ]; then echo "$top/examples/$2"; fi
    return 0
}

# Joins files with NUL bytes into the seed $1 (a missing file is empty).
join_seed() {
    local seed=$1 first=1 f
    shift
    : > "$seed"
    for f in "$@"; do
        if [ $first = 0 ]; then printf '\0' >> "$seed"; fi
        first=0
        if [ -n "$f" ]; then cat "$f" >> "$seed"; fi
    done
}

for case in "$top"/tests/cli/cases/*/; do
    name=$(basename "$case")
    declare -A opt=()
    flags=""
    prev=""
    while IFS= read -r arg || [ -n "$arg" ]; do
        case "$prev" in
        -s|-n|-d|-x|-t|-o) opt[$prev]=$(file_of "$case" "$arg"); prev=""; continue ;;
        esac
        case "$arg" in -s|-n|-d|-x|-t|-o) prev=$arg ;; -c|-m|-p) flags+=$arg ;; esac
    done < <(cat "$case/args" 2>/dev/null)
    s=${opt[-s]:-} n=${opt[-n]:-} d=${opt[-d]:-} t=${opt[-t]:-} o=${opt[-o]:-}
    # A case with a keys file seeds the keyed target with its files; its D
    # stands in for the delta's missing one.
    if [ -f "$case/keys.xml" ] && [ -n "$s$n" ]; then
        join_seed "$out/keyed/$name" "$case/keys.xml" "$s" "$n" "${d:-$n}"
    fi
    case "$flags" in
    *-c*) join_seed "$out/cross/$name" "$s" "$n" "$t" ;;
    *-m*) join_seed "$out/delta/$name" "$s" "$n" ;;
    *) if [ -n "$o" ]; then
           cp "$o" "$out/validate/$name"
       elif [ -n "$s$n$d" ]; then
           if [[ $flags == *-p* ]]; then
               join_seed "$out/merge/$name" "$s" "$n" "$d" ""
           else
               join_seed "$out/merge/$name" "$s" "$n" "$d"
           fi
       fi ;;
    esac
    unset opt
    # Every XML file is also a file to validate; the delta lines and the
    # tag lists give paths to edit in the case's first document.
    xml=("$case"*.xml)
    for f in "${xml[@]}"; do cp "$f" "$out/validate/$name-$(basename "$f")"; done
    [ ${#xml[@]} -gt 0 ] || continue
    doc=${xml[0]}
    paths=$( { cat "$case"expected/*.txt /dev/null | sed -n 's/^[A-Z]*=//p'
               cat "${xml[@]}" | sed -n 's/.*<\(old\|new\)_tag>\([^<]*\)<.*/\2/p'; } | head -n 3 || true)
    if [ -n "$paths" ]; then
        mapfile -t p <<< "$paths"
        tmp=()
        for i in "${!p[@]}"; do tmp+=("$out/paths/.p$i"); printf '%s' "${p[$i]}" > "$out/paths/.p$i"; done
        join_seed "$out/paths/$name" "$doc" "${tmp[@]}"
        rm -f "$out"/paths/.p*
    fi
done

# And the random configurations of the on/off test, a few seeds.
for seed in 1 2 3 4 5 6 7 8; do
    g=$(mktemp -d)
    bash "$top/tests/support/random_config.sh" "$seed" "$g"
    join_seed "$out/merge/random-$seed" "$g/old.xml" "$g/new.xml" "$g/dev.xml"
    join_seed "$out/delta/random-$seed" "$g/old.xml" "$g/new.xml"
    join_seed "$out/cross/random-$seed" "$g/old.xml" "$g/new.xml" "$g/list.xml"
    cp "$g/dev.xml" "$out/validate/random-$seed"
    rm -rf "$g"
done
