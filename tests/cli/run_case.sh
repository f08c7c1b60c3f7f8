#!/usr/bin/env bash
# Runs one command-line case: run_case.sh XMLCFG CASE_DIR
#
# A case is a folder:
#   args      the arguments, one per line (may be empty)
#   status    the expected exit status
#   stderr    the expected standard error, byte for byte
#   stdout    the expected standard output, byte for byte (without it,
#             standard output must stay empty)
#   expected/ files that must exist after the run, byte for byte
#   absent    names of files that must not exist after the run, one a line
#             (an input named here is one that the run must remove)
#   setup     optional shell script, run in the work folder before the tool
#   report    a merge report the run must write: its name on the first line,
#             then jq expressions over its lines that must all be true
#             (see check_report.sh); the report itself is an output
#   README    what the case is about (not used)
# Every other file is an input, copied into a fresh work folder where the
# tool runs.  Inputs not listed in expected/ must be unchanged afterwards,
# and no other file may appear.
#
# With XMLCFG_VALGRIND set (a valgrind command line) the tool runs under it,
# and anything valgrind reports fails the case.
set -u
bin=$1
case_dir=$(cd "$2" && pwd)
name=$(basename "$case_dir")
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail=0

say() { printf '%s: %s\n' "$name" "$*" >&2; fail=1; }

is_control() {
    case "$1" in args|status|stderr|stdout|expected|absent|setup|report|README) return 0 ;; esac
    return 1
}

mkdir "$work/run" "$work/orig"
for f in "$case_dir"/* "$case_dir"/.[!.]*; do
    [ -e "$f" ] || continue
    b=$(basename "$f")
    is_control "$b" && continue
    cp -a "$f" "$work/run/" && cp -a "$f" "$work/orig/"
done

args=()
if [ -f "$case_dir/args" ]; then
    while IFS= read -r line || [ -n "$line" ]; do args+=("$line"); done < "$case_dir/args"
fi

if [ -f "$case_dir/setup" ]; then
    (cd "$work/run" && bash "$case_dir/setup") || say "setup failed"
    # What the setup made is input too.
    rm -rf "$work/orig" && cp -a "$work/run" "$work/orig"
fi

(
    cd "$work/run" || exit 99
    if [ -n "${XMLCFG_EMULATOR:-}" ]; then
        exec $XMLCFG_EMULATOR -0 xmlcfg "$bin" "${args[@]}"
    elif [ -n "${XMLCFG_VALGRIND:-}" ]; then
        # valgrind hands the name it found in PATH on as argv[0].
        mkdir "$work/bin" && ln -s "$bin" "$work/bin/xmlcfg" || exit 99
        PATH="$work/bin:$PATH" exec $XMLCFG_VALGRIND --log-file="$work/valgrind.log" xmlcfg "${args[@]}"
    else
        exec -a xmlcfg "$bin" "${args[@]}"
    fi
) > "$work/stdout" 2> "$work/stderr" < /dev/null
status=$?

want_status=$(cat "$case_dir/status" 2>/dev/null || echo 0)
[ "$status" = "$want_status" ] || say "exit status $status, expected $want_status"
if [ -s "$work/valgrind.log" ]; then
    say "valgrind reported:"
    cat "$work/valgrind.log" >&2
fi
if [ -f "$case_dir/stdout" ]; then
    cmp -s "$case_dir/stdout" "$work/stdout" ||
        { say "standard output differs (expected, then got):"; diff "$case_dir/stdout" "$work/stdout" >&2; }
elif [ -s "$work/stdout" ]; then
    say "standard output is not empty: $(head -c 200 "$work/stdout")"
fi
# The attribute matching prints a node's address, which differs from run to
# run: compare it as a placeholder on both sides.
mask_addresses() { sed -E 's/pAttr:0x[0-9a-fA-F]+/pAttr:0x(address)/g' "$1"; }
if [ -f "$case_dir/stderr" ]; then
    if ! cmp -s <(mask_addresses "$case_dir/stderr") <(mask_addresses "$work/stderr"); then
        say "standard error differs (expected, then got):"
        diff "$case_dir/stderr" "$work/stderr" >&2
    fi
fi

# Outputs.
if [ -d "$case_dir/expected" ]; then
    for f in "$case_dir/expected"/*; do
        [ -e "$f" ] || continue
        b=$(basename "$f")
        if [ ! -e "$work/run/$b" ]; then
            say "output $b was not written"
        elif ! cmp -s "$f" "$work/run/$b"; then
            say "output $b differs (expected, then got):"
            diff "$f" "$work/run/$b" >&2
        fi
    done
fi
if [ -f "$case_dir/absent" ]; then
    while IFS= read -r b || [ -n "$b" ]; do
        [ -n "$b" ] && [ -e "$work/run/$b" ] && say "$b exists but should not"
    done < "$case_dir/absent"
fi

report=
if [ -f "$case_dir/report" ]; then
    report=$(head -n 1 "$case_dir/report")
    (cd "$work/run" && bash "$here/check_report.sh" "$report" "$case_dir/report") || fail=1
fi

# Inputs unchanged, nothing else left behind.
for f in "$work/orig"/* "$work/orig"/.[!.]*; do
    [ -e "$f" ] || continue
    b=$(basename "$f")
    [ -e "$case_dir/expected/$b" ] || [ "$b" = "$report" ] && continue
    [ -f "$case_dir/absent" ] && grep -qxF -- "$b" "$case_dir/absent" && continue
    if [ ! -e "$work/run/$b" ]; then
        say "input $b was removed"
    elif [ -d "$f" ]; then
        diff -r "$f" "$work/run/$b" >/dev/null || say "input folder $b was changed"
    elif [ -p "$f" ]; then
        [ -p "$work/run/$b" ] || say "input FIFO $b was replaced"
    elif ! cmp -s "$f" "$work/run/$b"; then
        say "input $b was changed"
    fi
done
for f in "$work/run"/* "$work/run"/.[!.]*; do
    [ -e "$f" ] || continue
    b=$(basename "$f")
    [ -e "$work/orig/$b" ] || [ -e "$case_dir/expected/$b" ] || [ "$b" = "$report" ] ||
        say "unexpected file left behind: $b"
done

exit $fail
