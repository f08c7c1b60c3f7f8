#!/usr/bin/env bash
# Writes old.xml, new.xml, device.xml and keys.xml into DIR: a keyed list of
# N entries (default 10000) under a single parent, for timing the merge and
# the delta with -k KEYS (run_keyed_bench.sh).
#
#   gen_keyed_bench.sh DIR property|connector [N]
#
# property   /configuration/property keyed by its <name> child, each entry a
#            <name> and a <value>.  The new release inserts 20 properties
#            spread over the list (so that every entry after the first one
#            stands one place further down), removes 10 and changes the
#            value of one in 200.  The user changed 20 values and one more
#            on a property that the release removes, added 10 properties of
#            his own spread over the list and deleted 5 (three of which the
#            release changed, so that they come back).
# connector  /Server/Service/Connector keyed by @protocol, each entry an
#            empty element with three attributes, protocol (unique), port
#            and timeout; the last two are settings.  The new release adds
#            a maxThreads attribute to one entry in 50 and inserts 10
#            connectors spread over the list; the user changed the port of
#            one entry in 50 (a different one from the release's) and the
#            timeout of one in 500.
#
# The files depend on the shape and N only; protocol values hold a "/" as
# real ones do.
set -eu
dir=${1:?output folder}
shape=${2:?shape: property or connector}
count=${3:-10000}
mkdir -p "$dir"

case $shape in
    property)
        printf '<?xml version="1.0"?>\n<lists>\n  <list path="/configuration/property" key="name"/>\n</lists>\n' \
            > "$dir/keys.xml" ;;
    connector)
        printf '<?xml version="1.0"?>\n<lists>\n  <list path="/Server/Service/Connector" key="@protocol"/>\n</lists>\n' \
            > "$dir/keys.xml" ;;
    *) echo "gen_keyed_bench.sh: shape is property or connector, not $shape" >&2; exit 2 ;;
esac

# gen FILE VARIANT: VARIANT is old, new or device.
gen() {
    awk -v shape="$shape" -v variant="$2" -v count="$count" '
    function property(name, value) {
        printf "  <property>\n    <name>%s</name>\n    <value>%s</value>\n  </property>\n", name, value
    }
    function connector(i, extra,   port, timeout) {
        port = 10000 + i; timeout = 20000
        if (variant == "device" && i % 50 == 17) port = port + 50000
        if (variant == "device" && i % 500 == 3) timeout = 60000
        printf "    <Connector protocol=\"proto/%05d\" port=\"%d\" timeout=\"%d\"%s/>\n", i, port, timeout, extra
    }
    BEGIN {
        step = int(count / 20); if (step < 1) step = 1
        print "<?xml version=\"1.0\"?>"
        if (shape == "property") {
            print "<configuration>"
            for (i = 1; i <= count; i++) {
                # Release: 20 properties inserted spread over the list (the
                # first before entry 1), 10 removed, one value in 200 changed.
                if (variant == "new" && (i - 1) % step == 0 && (i - 1) / step < 20)
                    property(sprintf("release.new.%02d", (i - 1) / step), "release")
                if (variant == "new" && i % (2 * step) == int(step / 2)) continue
                if (variant == "device" && i % (4 * step) == int(step / 3)) continue
                value = "value-" i
                if (variant == "new" && (i % 200 == 7 || i % (8 * step) == int(step / 3))) value = value "-changed"
                if (variant == "device" && (i % step == int(step / 4) || i == int(step / 2))) value = "user-" i
                property(sprintf("prop.%05d", i), value)
                if (variant == "device" && i % (2 * step) == step) property(sprintf("user.own.%02d", i / (2 * step)), "mine")
            }
            print "</configuration>"
        } else {
            print "<Server port=\"8005\">"
            print "  <Service name=\"main\">"
            for (i = 1; i <= count; i++) {
                if (variant == "new" && i % (2 * step) == 1) connector(count + i, " maxThreads=\"400\"")
                connector(i, (variant == "new" && i % 50 == 5) ? " maxThreads=\"200\"" : "")
            }
            print "  </Service>"
            print "</Server>"
        }
    }' > "$1"
}
gen "$dir/old.xml" old
gen "$dir/new.xml" new
gen "$dir/device.xml" device
