#!/usr/bin/env bash
# Stages one fault during a merge's save and checks what it leaves:
#   save_fault.sh XMLCFG FAULT
#
#   unwritable  D's folder lets no file be made (as nobody where this runs
#               as root): status 1, D untouched
#   full        the file size limit (a plain ulimit -f) is reached while the
#               result is written for a D that is a link: status 1, D's
#               target untouched, no temporary file left
#   chown       as root, D's owner cannot be given to the result (an owner
#               unknown in a user namespace): status 1, D untouched
#   kill        SIGKILL at 20 moments of a large merge, drawn from a fixed
#               seed, every other one as soon as the temporary file
#               appears: D is always the old or the whole new file, and the
#               next run leaves no temporary file
#
# Exits 77, which the test counts as skipped, with the reason where the
# fault cannot be staged here.
set -u
bin=$1
fault=$2
work=$(mktemp -d)
trap 'chmod -R u+w "$work"; rm -rf "$work"' EXIT
fail=0

say() { printf '%s: %s\n' "$fault" "$*" >&2; fail=1; }
skip() { printf '%s: skipped: %s\n' "$fault" "$*"; exit 77; }
xmlcfg() { ${XMLCFG_EMULATOR:-} "$bin" -v 0 -s o.xml -n n.xml -d d.xml; }
# Files in the folder other than the three inputs (and D's target).
leftovers() {
    local n=0 f
    for f in .[!.]* *; do
        case $f in o.xml | n.xml | d.xml | real.xml) ;; *) [ -e "$f" ] || [ -L "$f" ] && n=$((n + 1)) ;; esac
    done
    echo $n
}

# O, N and D with COUNT settings, ten to a section; N adds one setting to
# each section, D changes every third value.
make_files() {
    awk -v n="$1" 'BEGIN {
        split("o.xml n.xml d.xml", file, " ")
        for (f = 1; f <= 3; f++) {
            printf "<?xml version=\"1.0\"?>\n<config>\n" > file[f]
            for (i = 0; i < n; i++) {
                if (i % 10 == 0)
                    printf "  <s%d>\n", i / 10 > file[f]
                printf "    <k%d>%s%d</k%d>\n", i % 10, (f == 3 && i % 3 == 0) ? "user" : "v", i, i % 10 > file[f]
                if (i % 10 == 9 || i == n - 1)
                    printf "%s  </s%d>\n", f == 2 ? "    <added>1</added>\n" : "", i / 10 > file[f]
            }
            printf "</config>\n" > file[f]
        }
    }'
    cp d.xml "$work/d.orig"
}

# Status 1, D as it was, the reason on standard error, no temporary file.
expect_refused() {
    [ "$1" = 1 ] || say "exit status $1, expected 1"
    cmp -s d.xml "$work/d.orig" || say "D was changed"
    grep -qF "Cannot save d.xml: $2" "$work/err" || say "no line saying '$2':$(cat "$work/err")"
    [ "$(leftovers)" = 0 ] || say "a temporary file was left"
}

mkdir "$work/f" && cd "$work/f" || exit 1
case $fault in
unwritable)
    make_files 50
    chmod 0666 d.xml && chmod 0555 . && chmod 0755 "$work"
    run=()
    if [ "$(id -u)" = 0 ]; then
        command -v setpriv >/dev/null || skip "setpriv is missing, and root may write any folder"
        run=(setpriv --reuid=nobody --regid=nogroup --clear-groups)
        "${run[@]}" ${XMLCFG_EMULATOR:-} "$bin" -o o.xml 2> /dev/null || skip "nobody cannot run $bin here"
    fi
    "${run[@]}" ${XMLCFG_EMULATOR:-} "$bin" -v 0 -s o.xml -n n.xml -d d.xml 2> "$work/err"
    expect_refused $? "Permission denied"
    ;;
full)
    make_files 1000
    mv d.xml real.xml && ln -s real.xml d.xml
    # Standard error goes through a pipe, which the limit does not cut.
    (ulimit -f 8 && xmlcfg) 2>&1 | cat > "$work/err"
    expect_refused "${PIPESTATUS[0]}" "File too large"
    [ -L d.xml ] || say "D is no longer a link"
    ;;
chown)
    make_files 50
    [ "$(id -u)" = 0 ] || skip "only root gives the result D's owner"
    chown 1234:1234 d.xml
    unshare -r true 2> /dev/null || skip "no user namespace can be made here"
    # Inside, root maps to root only: uid 1234 is unknown there.
    unshare -r ${XMLCFG_EMULATOR:-} "$bin" -v 0 -s o.xml -n n.xml -d d.xml 2> "$work/err"
    expect_refused $? "Invalid argument"
    [ "$(stat -c %u d.xml)" = 1234 ] || say "D changed its owner"
    ;;
kill)
    make_files 2000
    mkdir "$work/r" && cp o.xml n.xml d.xml "$work/r/"
    start=$(date +%s%N)
    (cd "$work/r" && xmlcfg) 2> /dev/null || say "the merge without a kill failed"
    ms=$((($(date +%s%N) - start) / 1000000 + 1))
    RANDOM=1206
    kept=0
    left=0
    for i in $(seq 20); do
        cp "$work/d.orig" d.xml
        ${XMLCFG_EMULATOR:-} "$bin" -v 0 -s o.xml -n n.xml -d d.xml 2> /dev/null &
        pid=$!
        delay=$((RANDOM % (ms + ms / 5)))
        if [ $((i % 2)) = 0 ]; then
            delay=saving
            before=$(leftovers)
            while kill -0 $pid 2> /dev/null && [ "$(leftovers)" = "$before" ]; do :; done
        else
            sleep "$((delay / 1000)).$(printf '%03d' $((delay % 1000)))"
        fi
        kill -KILL $pid 2> /dev/null
        wait $pid 2> /dev/null
        [ "$(leftovers)" = 0 ] || left=$((left + 1))
        if cmp -s d.xml "$work/d.orig"; then
            kept=$((kept + 1))
        elif ! cmp -s d.xml "$work/r/d.xml"; then
            say "killed after $delay of $ms ms: D is neither the old nor the whole new file"
        fi
    done
    echo "D kept its old content in $kept of 20 runs; temporary files were there after $left kills"
    cp "$work/d.orig" d.xml
    xmlcfg 2> /dev/null || say "the run after the kills failed"
    cmp -s d.xml "$work/r/d.xml" || say "the run after the kills saved another result"
    [ "$(leftovers)" = 0 ] || say "the run after the kills left files: $(ls -A)"
    ;;
*)
    say "no such fault"
    ;;
esac
exit $fail
