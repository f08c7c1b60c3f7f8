#!/usr/bin/env bash
# Writes old.xml, new.xml and device.xml into DIR, for timing three-way
# merges with run_merge_bench.sh.
#
#   gen_merge_bench.sh DIR [sections|flat] [N]
#
# The old and new release's files come from gen_config.sh (sections: 10,000
# leaves with at most a few dozen siblings under any parent; flat: one keyed
# list of N entries under a single parent).  The device file is the old
# release's file where the user changed one value in nineteen and added an
# entry of his own to the first list and every seventh after it.
set -eu
dir=${1:?output folder}
shape=${2:-sections}
count=${3:-3000}
here=$(cd "$(dirname "$0")" && pwd)

mkdir -p "$dir"
"$here/gen_config.sh" "$shape" OLD "$count" > "$dir/old.xml"
"$here/gen_config.sh" "$shape" NEW "$count" > "$dir/new.xml"
awk '
/<value>/ { if (++v % 19 == 0) sub(/<value>[^<]*/, "<value>user-" v) }
/^  <\/(section[0-9]+|hosts)>/ {
    if (++s % 7 == 1) {
        print "    <local id=\"" s "\">"
        print "      <name>mine</name>"
        print "    </local>"
    }
}
{ print }' "$dir/old.xml" > "$dir/device.xml"
