#!/usr/bin/env bash
# Writes old.xml, new.xml, device.xml and keys.xml into DIR: a list of N
# firewall rules (default 10000) matched by content (match="content"), for
# timing the merge and the delta with -k KEYS (run_content_bench.sh).
#
#   gen_content_bench.sh DIR rules|all [N]
#
# Each rule is a <rule> of four leaves, type, interface, port and descr,
# descr naming the rule so that no two rules are equal.
# rules  20 changes on each side, spread over the list.  The new release
#        inserts 7 rules, removes 7 and changes the port of 6; the user
#        edited the type of 7 rules, added 7 of his own and deleted 6, none
#        of them a rule the release touched.
# all    every rule changed on both sides: the release renamed each rule's
#        descr, the user changed each rule's port.  No rule is left as O
#        has it, so the whole list is one stretch that both changed.
set -eu
dir=${1:?output folder}
shape=${2:?shape: rules or all}
count=${3:-10000}
mkdir -p "$dir"

case $shape in
    rules|all) ;;
    *) echo "gen_content_bench.sh: shape is rules or all, not $shape" >&2; exit 2 ;;
esac
printf '<?xml version="1.0"?>\n<lists>\n  <list path="/config/firewall/rule" match="content"/>\n</lists>\n' \
    > "$dir/keys.xml"

# gen FILE VARIANT: VARIANT is old, new or device.
gen() {
    awk -v shape="$shape" -v variant="$2" -v count="$count" '
    function rule(type, iface, port, descr) {
        printf "    <rule>\n      <type>%s</type>\n      <interface>%s</interface>\n", type, iface
        printf "      <port>%d</port>\n      <descr>%s</descr>\n    </rule>\n", port, descr
    }
    BEGIN {
        step = int(count / 20); if (step < 1) step = 1
        print "<?xml version=\"1.0\"?>"
        print "<config>"
        print "  <system><hostname>gw</hostname></system>"
        print "  <firewall>"
        for (i = 1; i <= count; i++) {
            # Which of the 20 slots of the list rule i falls in, and where
            # in its slot: the release acts at offsets 1 to 3, the user at
            # offsets 5 to 7.
            slot = int((i - 1) / step); at = (i - 1) % step
            type = "pass"; iface = (i % 2) ? "lan" : "wan"; port = 1000 + i; descr = "Rule " i
            if (shape == "all") {
                if (variant == "new") descr = descr " (release)"
                if (variant == "device") port = port + 50000
                rule(type, iface, port, descr)
                continue
            }
            if (slot < 20) {
                if (variant == "new" && at == 1 && slot < 7) rule("pass", "lan", 443, "Release rule " slot)
                if (variant == "new" && at == 2 && slot >= 7 && slot < 14) continue
                if (variant == "new" && at == 3 && slot >= 14) port = port + 20000
                if (variant == "device" && at == 5 && slot < 7) type = "block"
                if (variant == "device" && at == 6 && slot >= 7 && slot < 13) continue
            }
            rule(type, iface, port, descr)
            if (slot < 20 && variant == "device" && at == 7 && slot >= 13) rule("block", "wan", 0, "My rule " slot)
        }
        print "  </firewall>"
        print "</config>"
    }' > "$1"
}
gen "$dir/old.xml" old
gen "$dir/new.xml" new
gen "$dir/device.xml" device
