#!/usr/bin/env bash
# Renders the manual pages as man shows them and fails on any warning.  The
# tool's page must describe every option of the usage text; the library's
# page every function that its header declares, beyond the synopsis.
# Usage: check_manpage.sh TOOL_PAGE LIBRARY_PAGE HEADER
# Exit status 77 (skipped) where man is not installed.
set -u
tool_page=$1
lib_page=$2
header=$3
command -v man >/dev/null 2>&1 || { echo "man not installed" >&2; exit 77; }
missing=0
for page in "$tool_page" "$lib_page"; do
    warnings=$(LC_ALL=C.UTF-8 MANROFFSEQ='' MANWIDTH=80 man --warnings -E UTF-8 -l "$page" 2>&1 >/dev/null)
    [ -z "$warnings" ] || { printf '%s: %s\n' "$page" "$warnings" >&2; missing=1; }
done
text=$(LC_ALL=C.UTF-8 MANWIDTH=200 man -E UTF-8 -l "$tool_page" 2>/dev/null)
for opt in -o -c -m -p -q -v -s -n -d -x -t -k -r -w --report-values --dry-run --conflicts; do
    grep -q -- "^ *$opt\b" <<< "$text" || { echo "option $opt not described" >&2; missing=1; }
done
# Every prototype line of the header names one function: in the synopsis
# and at least once more.
for fn in $(sed -n 's/^[A-Za-z].*[ *]\([A-Za-z_][A-Za-z0-9_]*\)(.*$/\1/p' "$header"); do
    [ "$(grep -cw -- "$fn" "$lib_page")" -ge 2 ] || { echo "function $fn not described" >&2; missing=1; }
done
exit $missing
