# The timing functions of the benchmark scripts, sourced from the top of
# the tree.  They read $runs (runs per measurement), $work (a scratch
# folder) and $timed (bench/run_timed, built).

median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

# measure PREP COMMAND...: runs PREP (untimed) and the command up to $runs
# times; prints "cpu wall rss_kb runs status" with medians.
measure() {
    local prep=$1 i cpu wall rss rc n=0 status=0
    shift
    : > "$work/m"
    for i in $(seq "$runs"); do
        eval "$prep"
        read -r cpu wall rss rc < <("$timed" -e "$work/stderr" "$@")
        echo "$cpu $wall $rss" >> "$work/m"
        n=$i
        [ "$rc" = 0 ] || status=$rc
        awk -v w="$wall" 'BEGIN { exit !(w > 10) }' && break
    done
    echo "$(cut -d' ' -f1 "$work/m" | median) $(cut -d' ' -f2 "$work/m" | median)" \
         "$(cut -d' ' -f3 "$work/m" | median) $n $status"
}
