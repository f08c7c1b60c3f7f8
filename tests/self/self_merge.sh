#!/usr/bin/env bash
# Every XML file of the command-line cases, merged with itself as O, N and
# D, must come out as the same document, and its delta against itself must
# be empty but for the leaves whose PRI forces a MOD= line:
#   self_merge.sh XMLCFG CASES_DIR
#
# The merged file is compared with the input in canonical form (xmllint
# --c14n), so the serialisation of the save does not count.  Files that do
# not parse are skipped, and so are the files listed below, each with the
# reason why the merge refuses it.  Exit 77 (skipped) without xmllint.
set -u
bin=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
cases=$(cd "$2" && pwd)
command -v xmllint > /dev/null || { echo "self_merge.sh: xmllint is missing" >&2; exit 77; }

# case/file: why the merge refuses it
skips=(
    "merge-library-warning/n.xml: the library warns (version 1.7), which fails every run"
    "validate-warning/warn.xml: the library warns (relative namespace URI), which fails every run"
    "merge-unreadable-encoding/n.xml: an encoding the library cannot read back is never saved"
)

run_tool() {
    if [ -n "${XMLCFG_EMULATOR:-}" ]; then
        $XMLCFG_EMULATOR -0 xmlcfg "$bin" "$@"
    else
        (exec -a xmlcfg "$bin" "$@")
    fi
}

# The leaves whose PRI forces a MOD= line even against the same file.
forced() { xmllint --xpath 'count(//*[starts-with(@PRI, "1") and not(*)])' "$1" 2> /dev/null; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
passed=0
failed=0
skipped=0

fail() { printf 'self_merge: %s: %s\n' "$name" "$*" >&2; failed=$((failed + 1)); }

for f in "$cases"/*/*.xml "$cases"/*/expected/*.xml; do
    [ -f "$f" ] || continue
    name=${f#"$cases"/}
    reason=
    for s in "${skips[@]}"; do
        [ "${s%%: *}" = "$name" ] && reason=${s#*: }
    done
    if [ -z "$reason" ] && ! xmllint --noout "$f" 2> /dev/null; then
        reason="does not parse"
    fi
    if [ -n "$reason" ]; then
        printf 'self_merge: %s skipped: %s\n' "$name" "$reason"
        skipped=$((skipped + 1))
        continue
    fi
    rm -rf "$work/run" && mkdir "$work/run"
    for role in o n d; do cp "$f" "$work/run/$role.xml"; done
    (cd "$work/run" && run_tool -v 0 -s o.xml -n n.xml -d d.xml) > /dev/null 2> "$work/merge.err"
    status=$?
    xmllint --c14n "$f" > "$work/want" 2> /dev/null
    if [ "$status" != 0 ]; then
        fail "merge status $status: $(head -c 300 "$work/merge.err")"
        continue
    elif ! xmllint --c14n "$work/run/d.xml" > "$work/got" 2> /dev/null || ! cmp -s "$work/want" "$work/got"; then
        fail "merged with itself it changes:"
        diff "$work/want" "$work/got" | head -20 >&2
        continue
    fi
    (cd "$work/run" && run_tool -v 0 -m -s o.xml -n n.xml -x delta.txt) > /dev/null 2> "$work/delta.err"
    status=$?
    if [ "$status" != 0 ]; then
        fail "delta status $status: $(head -c 300 "$work/delta.err")"
    elif [ -s "$work/run/delta.txt" ] &&
        { grep -qv '^MOD=' "$work/run/delta.txt" || [ "$(grep -c . "$work/run/delta.txt")" != "$(forced "$f")" ]; }; then
        fail "its delta against itself lists more than the leaves that PRI forces:"
        head -20 "$work/run/delta.txt" >&2
    else
        passed=$((passed + 1))
    fi
done
echo "$passed passed, $failed failed, $skipped skipped"
[ "$failed" = 0 ]
