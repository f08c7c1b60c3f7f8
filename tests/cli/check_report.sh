#!/usr/bin/env bash
# Checks a merge report: check_report.sh REPORT CHECKS
# The report must be JSON Lines of objects with mode 0600, its last line
# the one summary, whose counts list every kind of decision in order and
# equal the decision lines of each kind; every decision line starts with
# its fields in order.  Then every line of CHECKS after the first (which
# names the report) is a jq expression over the array of the report's
# lines that must give true.
set -u
report=$1
fail=0
say() { printf 'report %s: %s\n' "$report" "$*" >&2; fail=1; }

[ -f "$report" ] || { say "was not written"; exit 1; }
[ "$(stat -c %a "$report")" = 600 ] || say "has mode $(stat -c %a "$report"), not 600"
[ "$(jq -s 'length' "$report" 2>/dev/null)" = "$(wc -l < "$report")" ] || { say "is not one JSON value a line"; exit 1; }
jq -e -s '
  . as $r
  | all(type == "object")
  and ([.[] | select(.summary)] | length) == 1 and .[-1].summary == true
  and (.[-1].counts | keys_unsorted) == ["forced", "user_kept", "release_taken", "both_changed", "local_kept",
       "local_dropped", "release_removed", "lost_with_element", "entry_local_kept", "entry_local_dropped",
       "entry_user_deleted", "entry_restored", "entry_release_removed", "stretch_both_changed"]
  and (.[-1].counts | to_entries | all(. as $e | $e.value == ([$r[] | select(.decision == $e.key)] | length)))
  and all(.[:-1][]; (keys_unsorted[:6]) == ["decision", "xpath", "o", "n", "d", "result"])
' "$report" > /dev/null || say "summary or lines malformed: $(cat "$report")"
while IFS= read -r check; do
    [ -n "$check" ] || continue
    jq -e -s "$check" "$report" > /dev/null || say "not true: $check"
done < <(tail -n +2 "$2")
exit $fail
