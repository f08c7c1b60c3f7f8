#!/usr/bin/env bash
# Renders a manual page as man shows it and fails on any warning.
# Exit status 77 (skipped) where man is not installed.
set -u
page=$1
command -v man >/dev/null 2>&1 || { echo "man not installed" >&2; exit 77; }
warnings=$(LC_ALL=C.UTF-8 MANROFFSEQ='' MANWIDTH=80 man --warnings -E UTF-8 -l "$page" 2>&1 >/dev/null)
if [ -n "$warnings" ]; then
    printf '%s\n' "$warnings" >&2
    exit 1
fi
# Every option of the usage text is described.
text=$(LC_ALL=C.UTF-8 MANWIDTH=200 man -E UTF-8 -l "$page" 2>/dev/null)
missing=0
for opt in -o -c -m -p -v -s -n -d -x -t; do
    grep -q -- "^ *$opt\b" <<< "$text" || { echo "option $opt not described" >&2; missing=1; }
done
exit $missing
