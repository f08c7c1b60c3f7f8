#!/usr/bin/env bash
# Writes old.xml, new.xml, device.xml and list.xml into DIR, for timing
# three-way merges (run_merge_bench.sh, run_all.sh) and the other modes.
#
#   gen_merge_bench.sh DIR [sections|nested|flat|same] [N] [LOCAL]
#
# The old and new release's files come from gen_config.sh (sections: 10,000
# leaves with at most a few dozen siblings under any parent; nested: about
# N leaves in sections and lists of up to a few hundred entries; flat: one
# keyed list of N entries under a single parent; same: the same list with
# one attribute value shared by every entry).  The device file is the old
# release's file where the user changed one value in nineteen and added an
# entry of his own to the first list and every seventh after it; with LOCAL
# the user also added LOCAL entries of his own, keyed by ids that neither
# release has, to the end of the last list.  list.xml is a cross-merge tag
# list of 200 entries spread over the file: each copies an entry's old value
# to its name, and one in ten to a new element of the entry's parent, which
# the cross merge creates.
set -eu
dir=${1:?output folder}
shape=${2:-sections}
count=${3:-3000}
local_entries=${4:-0}
here=$(cd "$(dirname "$0")" && pwd)

mkdir -p "$dir"
"$here/gen_config.sh" "$shape" OLD "$count" > "$dir/old.xml"
"$here/gen_config.sh" "$shape" NEW "$count" > "$dir/new.xml"
awk -v extra="$local_entries" '
/<value>/ { if (++v % 19 == 0) sub(/<value>[^<]*/, "<value>user-" v) }
/^  <\/(section[0-9]+|hosts|rules)>/ {
    if (++s % 7 == 1) {
        print "    <local id=\"" s "\">"
        print "      <name>mine</name>"
        print "    </local>"
    }
}
/^<\/config>/ && extra > 0 {
    # Appended to the last list: its closing tag was held back below.
    for (i = 1; i <= extra; i++) {
        printf "    <%s id=\"local-%d\">\n", tag, i
        printf "      <name>local %d</name>\n      <value>mine</value>\n      <enabled>1</enabled>\n", i
        printf "    </%s>\n", tag
    }
    print held
}
/^    <[a-z]+ id=/ { tag = $1; sub(/^</, "", tag) }
/^  <\/(section[0-9]+|hosts|rules)>/ && extra > 0 { if (held != "") print held; held = $0; next }
{ if (held != "" && !/^<\/config>/) { print held; held = "" } print }' "$dir/old.xml" > "$dir/device.xml"

# The tag list: 200 entries taken evenly from the old file's entries.
awk '
/^  <[a-z]+[0-9]*>/ { parent = $1; gsub(/[<>]/, "", parent) }
/^    <[a-z]+ id="[0-9]+">/ { tag = $1; sub(/^</, "", tag); id = $2; gsub(/[^0-9]/, "", id); n++; p[n] = parent; t[n] = tag; k[n] = id }
END {
    print "<?xml version=\"1.0\"?>"
    print "<cross_merge>"
    for (i = 1; i <= 200 && n > 0; i++) {
        j = 1 + int((i - 1) * n / 200)
        path = "/config/" p[j] "/" t[j] "[@id='\''" k[j] "'\'']"
        printf "  <list>\n    <old_tag>%s/value</old_tag>\n", path
        printf "    <new_tag>%s</new_tag>\n  </list>\n", (i % 10 == 0) ? "/config/" p[j] "/moved" i : path "/name"
    }
    print "</cross_merge>"
}' "$dir/old.xml" > "$dir/list.xml"
