#!/usr/bin/env bash
# Writes a generated configuration to standard output, for timing -m runs.
#
#   gen_config.sh sections OLD|NEW   100 sections x 20 keyed entries x 5
#                                    leaves: 10,000 leaves, at most a few
#                                    dozen siblings under any parent
#   gen_config.sh flat OLD|NEW [N]   one keyed list of N entries (default
#                                    3000) x 3 leaves under a single parent
#
# NEW differs from OLD in about one leaf in a hundred, lacks a few entries
# and has a few of its own, so a delta run meets every kind of line.
set -eu
shape=${1:?shape: sections or flat}
variant=${2:?variant: OLD or NEW}
count=${3:-3000}

awk -v shape="$shape" -v new="$([ "$variant" = NEW ] && echo 1 || echo 0)" -v count="$count" '
function leaf(name, value) { printf "      <%s>%s</%s>\n", name, value, name }
function entry(tag, id, k,   v) {
    if (new && k % 97 == 13) return            # dropped in the new file
    printf "    <%s id=\"%d\">\n", tag, id
    v = "value-" id
    if (new && k % 101 == 7) v = v "-changed"
    leaf("name", "entry-" id)
    leaf("value", v)
    leaf("enabled", (k % 2) ? "1" : "0")
    if (shape == "sections") {
        leaf("comment", "generated entry " id)
        printf "      <flags%s/>\n", (k % 3 == 0) ? " PRI=\"1\"" : ""
    }
    printf "    </%s>\n", tag
}
BEGIN {
    print "<?xml version=\"1.0\"?>"
    print "<config>"
    k = 0
    if (shape == "sections") {
        for (s = 1; s <= 100; s++) {
            printf "  <section%d>\n", s
            for (e = 1; e <= 20; e++) entry("item", e, ++k)
            if (new && s % 25 == 0) entry("item", 99, 0)   # only in the new file
            printf "  </section%d>\n", s
        }
    } else {
        print "  <hosts>"
        for (e = 1; e <= count; e++) entry("host", e, ++k)
        if (new) entry("host", count + 1, 0)
        print "  </hosts>"
    }
    print "</config>"
}'
