#!/usr/bin/env bash
# Writes a generated configuration to standard output, for timing runs.
#
#   gen_config.sh sections OLD|NEW   100 sections x 20 keyed entries x 5
#                                    leaves: 10,000 leaves, at most a few
#                                    dozen siblings under any parent
#   gen_config.sh nested OLD|NEW [L] about L leaves (default 10000) in
#                                    sections of two settings and a keyed
#                                    list of 1 to 40 entries x 5 leaves; one
#                                    list in every 10,000 leaves has up to
#                                    400 entries.  The list sizes come from a
#                                    fixed-seed generator, so a given L always
#                                    gives the same file.
#   gen_config.sh flat OLD|NEW [N]   one keyed list of N entries (default
#                                    3000) x 3 leaves under a single parent
#   gen_config.sh same OLD|NEW [N]   the same, but every entry carries the
#                                    same attribute, <rule action="drop">,
#                                    so that entries are told apart by
#                                    position only
#
# NEW differs from OLD in about one leaf in a hundred, lacks a few entries
# and has a few of its own, so a delta run meets every kind of line.
set -eu
shape=${1:?shape: sections, nested or flat}
variant=${2:?variant: OLD or NEW}
case $shape in
    nested) count=${3:-10000} ;;
    *) count=${3:-3000} ;;
esac

awk -v shape="$shape" -v new="$([ "$variant" = NEW ] && echo 1 || echo 0)" -v count="$count" '
function leaf(name, value) { printf "      <%s>%s</%s>\n", name, value, name }
function entry(tag, id, k,   v) {
    if (new && k % 97 == 13) return            # dropped in the new file
    if (shape == "same") printf "    <%s action=\"drop\">\n", tag
    else printf "    <%s id=\"%d\">\n", tag, id
    v = "value-" id
    if (new && k % 101 == 7) v = v "-changed"
    leaf("name", "entry-" id)
    leaf("value", v)
    leaf("enabled", (k % 2) ? "1" : "0")
    if (shape != "flat" && shape != "same") {
        leaf("comment", "generated entry " id)
        printf "      <flags%s/>\n", (k % 3 == 0) ? " PRI=\"1\"" : ""
    }
    printf "    </%s>\n", tag
}
# Park-Miller generator: exact in the double arithmetic of every awk, so
# that every awk writes the same file.
function next_random(n) { seed = (seed * 16807) % 2147483647; return seed % n }
function nested(   s, e, m, leaves, big) {
    seed = 20261206; leaves = 0; big = 0
    for (s = 1; leaves + 7 <= count; s++) {
        if (leaves >= big) {                   # one long list per 10,000 leaves
            m = int((count - leaves) / 10); if (m > 400) m = 400
            big += 10000
        } else
            m = 1 + next_random(40)
        if (leaves + 2 + 5 * m > count) m = int((count - leaves - 2) / 5)
        printf "  <section%d>\n", s
        printf "    <enabled>%d</enabled>\n", (s % 5) ? 1 : 0
        printf "    <label>%s</label>\n", (new && s % 53 == 11) ? "renamed " s : "section " s
        for (e = 1; e <= m; e++) entry("item", e, ++k)
        if (new && s % 25 == 0) entry("item", m + 1, 0)   # only in the new file
        printf "  </section%d>\n", s
        leaves += 2 + 5 * m
    }
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
    } else if (shape == "nested") {
        nested()
    } else if (shape == "same") {
        print "  <rules>"
        for (e = 1; e <= count; e++) entry("rule", e, ++k)
        if (new) entry("rule", count + 1, 0)
        print "  </rules>"
    } else {
        print "  <hosts>"
        for (e = 1; e <= count; e++) entry("host", e, ++k)
        if (new) entry("host", count + 1, 0)
        print "  </hosts>"
    }
    print "</config>"
}'
