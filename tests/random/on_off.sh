#!/usr/bin/env bash
# on_off.sh XMLCFG COUNT [FIRST] runs the merge (-p on every third seed), the
# delta and the cross merge on the random configurations of COUNT seeds from
# FIRST (1) (support/random_config.sh), each twice: with the path index and
# without it (XMLCFG_NO_INDEX=1); the merge and the delta a third time, with
# the index and a keys file (-k) that declares a list the configurations do
# not have, which must change nothing.  It fails on any difference in exit
# status, standard output, standard error at -v 2 (node addresses masked),
# the store's records (XMLCFG is a build whose debug library appends them to
# XMLCFG_RECORDS) or the files left, and on a status other than 0 or 1.
# Every run of the tool ends after XMLCFG_RUN_LIMIT seconds (30).
# XMLCFG_EMULATOR, when set, is the command line that runs the tool.  The
# folder of a failing seed is kept.
set -u
here=$(cd "$(dirname "$0")/.." && pwd)
tool=$(realpath "$1")
count=$2
first=${3:-1}
root=$(mktemp -d)
failed=0
printf '<lists>\n  <list path="/nowhere/entry" key="name @id"/>\n</lists>\n' > "$root/keys.xml"
masked() { sed -E 's/pAttr:0x[0-9a-fA-F]+/pAttr:0x/g' "$1"; }
for ((seed = first; seed < first + count; seed++)); do
    d=$root/$seed
    mkdir "$d" && bash "$here/support/random_config.sh" "$seed" "$d" || exit 2
    p=$( ((seed % 3 == 2)) && echo -p)
    src=$( ((seed % 2)) && echo old.xml || echo dev.xml)
    bad=0
    for mode in "merge $p -s old.xml -n new.xml -d dev.xml" "delta -m -s $src -n new.xml -x delta.txt" \
        "cross -c -s old.xml -n new.xml -t list.xml -d out.xml"; do
        set -- $mode
        m=$d/$1
        shift
        runs="on off"
        [ "$(basename "$m")" = cross ] || runs="on off keys"
        for run in $runs; do
            mkdir -p "$m/$run" && cp "$d"/*.xml "$m/$run/"
            keys=$([ $run = keys ] && echo "-k $root/keys.xml")
            (cd "$m/$run" && XMLCFG_RECORDS=$m/$run.records XMLCFG_NO_INDEX=$([ $run = off ] && echo 1) \
                exec timeout "${XMLCFG_RUN_LIMIT:-30}" ${XMLCFG_EMULATOR:-} "$tool" -v 2 $keys "$@") \
                > "$m/$run.stdout" 2> "$m/$run.stderr"
            echo $? > "$m/$run.status"
            touch "$m/$run.records"
        done
        why=
        grep -qx '[01]' "$m/on.status" && grep -qx '[01]' "$m/off.status" ||
            why="status $(cat "$m/on.status") and $(cat "$m/off.status") (124: over the time limit)"
        for part in status stdout records; do
            cmp -s "$m/on.$part" "$m/off.$part" || why="${why:-$part differs}"
        done
        cmp -s <(masked "$m/on.stderr") <(masked "$m/off.stderr") || why="${why:-stderr differs}"
        diff -r "$m/on" "$m/off" > /dev/null || why="${why:-the files left differ}"
        if [ -d "$m/keys" ]; then
            for part in status stdout records; do
                cmp -s "$m/on.$part" "$m/keys.$part" || why="${why:-$part differs with -k}"
            done
            cmp -s <(masked "$m/on.stderr") <(masked "$m/keys.stderr") || why="${why:-stderr differs with -k}"
            diff -r "$m/on" "$m/keys" > /dev/null || why="${why:-the files left differ with -k}"
        fi
        [ -z "$why" ] || { echo "seed $seed, $(basename "$m"): $why; kept in $m" >&2; bad=1; }
    done
    if ((bad)); then failed=$((failed + 1)); else rm -rf "$d"; fi
done
echo "$count seeds from $first: $failed failed"
((failed == 0)) && rm -rf "$root"
((failed == 0))
