#!/usr/bin/env bash
# random_config.sh SEED DIR writes a random configuration DIR/old.xml, the
# next release DIR/new.xml (entries dropped and added, values and PRI
# changed), the device's DIR/dev.xml (old.xml changed by its user) and
# DIR/list.xml, a cross-merge tag list from old leaves to new ones.  Names
# and values include the awkward ones: quotes, brackets, blanks, entities,
# non-ASCII, namespaces, PRI, comments, CDATA, empty and self-closing leaves,
# keyed and unkeyed lists, and every fourth seed one wide list.  A seed gives
# the same files with every awk (the generator is exact in its doubles).
set -eu
awk -v seed="${1:?seed}" -v dir="${2:?folder}" '
function rnd(n) { seed = (seed * 16807) % 2147483647; return seed % n }
function chance(p) { return rnd(100) < p }
function pick(list,   a) { return a[1 + rnd(split(list, a, "~"))] }
function has(m, b) { return int(m / b) % 2 }
# Writes T to the old (1), new (2) and device (4) files that mask M names.
function out(m, t) {
    if (has(m, 1)) printf "%s", t > (dir "/old.xml")
    if (has(m, 2)) printf "%s", t > (dir "/new.xml")
    if (has(m, 4)) printf "%s", t > (dir "/dev.xml")
}
function oddv() {
    if (apos && chance(5)) return chance(50) ? "it'"'"'s" : "&#39;"
    if (ent && chance(6)) return "&co;"
    if (slash && chance(10)) return chance(50) ? "/etc/x" : "a/b"
    if (chance(40))
        return pick("~ ~a b~ two  blanks ~x&amp;y~&lt;b&gt;~a]b~[1]~]~[~w\303\244rme~\346\227\245~1~01~tab\tin~nl&#10;in~&#34;q&#34;~@id~a and b~*~..~a|b~()~-1~x=y")
    return pick("a~b~on~x1~eth0~Lan~2")
}
function text() {
    if (ent && chance(5)) return "&co;"
    if (odd && chance(6)) return chance(50) ? "<![CDATA[a<b]]>" : "before<b>x</b>after"
    return pick("1~0~on~value~a b~x&amp;y~&lt;tag&gt;~caf\303\251~/path/to~  padded  ~42~it is~192.168.0.1")
}
# Drops an element from the new file or the device now and then.
function kid(m) {
    if (has(m, 2) && chance(4)) m -= 2
    if (has(m, 4) && chance(3)) m -= 4
    return m
}
function sep(m, ind) {
    if (chance(5)) out(m, ind (chance(50) ? "<!-- note -->" : " \n\t "))
}
function leaf(m, name, path, ind,   a, pri, t, b, tb, ab) {
    a = ""
    if (ns && chance(5)) { name = "p:" name; a = " xmlns:p=\"urn:p\"" }
    if (chance(6)) a = a " type=\"" oddv() "\""
    pri = chance(10) ? " PRI=\"" pick("1~0~~10~01~1x") "\"" : ""
    t = chance(12) ? (odd && chance(20) ? pick("  ~<!-- none -->") : "") : text()
    if (has(m, 1)) oldp[++nold] = path "/" name
    if (has(m, 2)) newp[++nnew] = path "/" name
    for (b = 1; b <= 4; b *= 2) {
        if (!has(m, b)) continue
        tb = t; ab = a pri
        if (b == 2 && chance(8)) ab = a " PRI=\"" pick("1~0~~10~01~1x") "\""
        if (b > 1 && chance(b == 4 ? 15 : 10)) tb = text()
        if (b > 1 && chance(3)) tb = ""
        if (chance(2)) ab = ab " extra=\"" oddv() "\""
        out(b, ind "<" name ab (tb == "" && chance(50) ? "/>" : ">" tb "</" name ">"))
    }
}
# An element with children: the new file renames its first attribute now
# and then.
function open(m, ind, name, a,   b) {
    for (b = 1; b <= 4; b *= 2)
        if (has(m, b)) out(b, ind "<" name (b == 2 && a != "" && chance(3) ? " key" substr(a, index(a, "=")) : a) ">")
}
function entries(m, path, ind, item, keyed, n,   k, a, km, p, j) {
    for (k = 1; k <= n; k++) {
        a = ""
        if (keyed) a = " id=\"" (chance(85) ? k : oddv() k) "\""
        if (keyed == 2) a = a " kind=\"" (chance(50) ? "a" : oddv()) "\""
        p = path "/" item (keyed == 1 && chance(50) ? "[@id=\047" k "\047]" : "[" k "]")
        km = kid(m)
        sep(km, ind)
        open(km, ind, item, a)
        for (j = 1 + rnd(3); j > 0; j--)
            leaf(km, j == 1 ? "name" : pick(LEAVES), p, ind "  ")
        out(km, ind "</" item ">")
    }
}
function group(m, depth, path, ind,   name, a, i, w, p, km, j) {
    name = pick("wifi~lan~dns~firewall~system~vpn~radio")
    a = chance(10) ? " " pick("mode~x") "=\"" oddv() "\"" : ""
    if (ns && chance(10)) a = a " xmlns=\"urn:d\""
    p = path "/" name
    open(m, ind, name, a)
    for (i = 1 + rnd(6); i > 0; i--) {
        w = rnd(10); km = kid(m)
        sep(km, ind "  ")
        if (w < 5) leaf(km, pick(LEAVES), p, ind "  ")
        else if (w < 7) entries(km, p, ind "  ", pick("entry~rule~server~item~apn"), rnd(3), 1 + rnd(12))
        else if (w < 9 && depth < 3) group(km, depth + 1, p, ind "  ")
        else for (j = 1 + rnd(3); j > 0; j--) leaf(km, "server", p, ind "  ")
        if (chance(4))   # an element of the new release or of the user
            leaf(chance(50) ? 2 : 4, chance(15) ? "server" : "added", p, ind "  ")
    }
    out(m, ind "</" name ">")
}
BEGIN {
    LEAVES = "name~value~port~mode~enabled~host~x-y~a.b~_u~w\303\244rme~ip4"
    apos = chance(12); slash = chance(15); ns = chance(10); ent = chance(10); odd = chance(25)
    nl = chance(15) ? "" : "\n"
    out(7, chance(70) ? "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n" : "")
    if (ent) out(7, "<!DOCTYPE config [<!ENTITY co \"Acme\">]>\n")
    out(7, "<config>")
    if (seed % 4 == 3) {
        leaf(7, "version", "/config", nl "  ")
        out(7, nl "  <rules>")
        entries(7, "/config/rules", nl "    ", "rule", chance(90) ? 1 : 2, 50 + rnd(250))
        out(7, nl "  </rules>")
    } else {
        for (i = 2 + rnd(8); i > 0; i--) group(7, 1, "/config", nl "  ")
    }
    out(7, nl "</config>\n")
    list = dir "/list.xml"
    print "<?xml version=\"1.0\"?>\n<cross_merge>" > list
    for (i = 2 + rnd(12); i > 0 && nold && nnew; i--) {
        from = oldp[1 + rnd(nold)]; to = newp[1 + rnd(nnew)]
        if (chance(20)) {   # a plain path that the cross merge has to create
            sub(/\/[^\/]*$/, "", to); gsub(/\[[^]]*\]/, "", to); to = to "/moved" i
        }
        if (chance(10)) from = "\"" from "\""
        print "  <list><old_tag>" from "</old_tag><new_tag>" to "</new_tag></list>" > list
    }
    print "</cross_merge>" > list
}'
