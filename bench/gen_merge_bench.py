#!/usr/bin/env python3
"""Generates a three-way-merge benchmark: OUT/old.xml, OUT/new.xml, OUT/device.xml.

Shapes:
  sections  (default) ~10,000 leaves in sections and keyed lists of at most a
            few dozen siblings per parent, as configs mostly are.
  wide-keyed   one keyed list of COUNT siblings (attribute id) under one parent.
  wide-plain   one list of COUNT siblings without attributes under one parent.

The new release changes ~5% of the defaults, drops ~1% of the elements, adds
new elements and marks some values PRI="1"; the device changes ~5% of the
values and adds entries of its own (local tags).  The output is fixed by the
seed, so runs are comparable.

usage: gen_merge_bench.py OUT [sections|wide-keyed|wide-plain] [COUNT]
"""
import os
import random
import sys


class Leaf:
    def __init__(self, name, value, attrs=None):
        self.name, self.value, self.attrs, self.children = name, value, attrs or [], None


class Elem:
    def __init__(self, name, attrs=None, children=None):
        self.name, self.attrs, self.children, self.value = name, attrs or [], children or [], None


def sections_tree(rng):
    root = Elem("config")
    for s in range(50):
        sec = Elem("section%02d" % s)
        for i in range(10):
            sec.children.append(Leaf("param%02d" % i, "v%d" % rng.randrange(1000)))
        grp = Elem("advanced")
        for i in range(10):
            grp.children.append(Leaf("opt%02d" % i, "o%d" % rng.randrange(1000)))
        sec.children.append(grp)
        lst = Elem("rules")
        for e in range(20):
            attrs = [("id", str(e + 1))]
            if e % 2:
                attrs.append(("type", "static"))
            ent = Elem("rule", attrs)
            for f in range(9):
                ent.children.append(Leaf("field%d" % f, "f%d" % rng.randrange(1000)))
            lst.children.append(ent)
        sec.children.append(lst)
        root.children.append(sec)
    return root


def wide_tree(rng, count, keyed):
    root = Elem("config")
    sysg = Elem("system")
    for i in range(20):
        sysg.children.append(Leaf("param%02d" % i, "v%d" % rng.randrange(1000)))
    root.children.append(sysg)
    lst = Elem("hosts")
    for e in range(count):
        ent = Elem("host", [("id", str(e + 1))] if keyed else [])
        ent.children.append(Leaf("mac", "02:00:00:%02x:%02x:%02x" % (e >> 16 & 255, e >> 8 & 255, e & 255)))
        ent.children.append(Leaf("ip", "10.%d.%d.%d" % (e >> 16 & 255, e >> 8 & 255, e & 255)))
        ent.children.append(Leaf("name", "host%d" % e))
        lst.children.append(ent)
    root.children.append(lst)
    return root


def clone(n):
    if isinstance(n, Leaf):
        return Leaf(n.name, n.value, list(n.attrs))
    return Elem(n.name, list(n.attrs), [clone(c) for c in n.children])


def leaves(n):
    if isinstance(n, Leaf):
        yield n
    else:
        for c in n.children:
            yield from leaves(c)


def parents(n):
    if isinstance(n, Elem):
        yield n
        for c in n.children:
            yield from parents(c)


def new_release(o, rng):
    n = clone(o)
    for lf in leaves(n):
        r = rng.random()
        if r < 0.05:
            lf.value += "-new"
        elif r < 0.07:
            lf.attrs.insert(0, ("PRI", "1"))
    for p in list(parents(n)):
        kept = [c for c in p.children if not (isinstance(c, Leaf) and rng.random() < 0.01)]
        p.children = kept
        if rng.random() < 0.05:
            p.children.append(Leaf("added%d" % rng.randrange(100000), "n"))
    return n


def device(o, rng):
    d = clone(o)
    for lf in leaves(d):
        if rng.random() < 0.05:
            lf.value = "user%d" % rng.randrange(1000)
    for p in list(parents(d)):
        if rng.random() < 0.03:
            p.children.append(Elem("local", [("id", str(rng.randrange(1000)))],
                                   [Leaf("a", "x"), Leaf("b", "y")]))
    return d


def write(n, out, depth):
    pad = "  " * depth
    attrs = "".join(' %s="%s"' % a for a in n.attrs)
    if isinstance(n, Leaf):
        out.append("%s<%s%s>%s</%s>\n" % (pad, n.name, attrs, n.value, n.name))
    else:
        out.append("%s<%s%s>\n" % (pad, n.name, attrs))
        for c in n.children:
            write(c, out, depth + 1)
        out.append("%s</%s>\n" % (pad, n.name))


def save(tree, path):
    out = ['<?xml version="1.0"?>\n']
    write(tree, out, 0)
    with open(path, "w") as f:
        f.write("".join(out))


def main():
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    outdir = sys.argv[1]
    shape = sys.argv[2] if len(sys.argv) > 2 else "sections"
    count = int(sys.argv[3]) if len(sys.argv) > 3 else 3000
    rng = random.Random(42)
    if shape == "sections":
        o = sections_tree(rng)
    elif shape in ("wide-keyed", "wide-plain"):
        o = wide_tree(rng, count, shape == "wide-keyed")
    else:
        sys.exit("unknown shape " + shape)
    n = new_release(o, rng)
    d = device(o, rng)
    os.makedirs(outdir, exist_ok=True)
    save(o, os.path.join(outdir, "old.xml"))
    save(n, os.path.join(outdir, "new.xml"))
    save(d, os.path.join(outdir, "device.xml"))
    for name, t in (("old", o), ("new", n), ("device", d)):
        print("%s.xml: %d leaves" % (name, sum(1 for _ in leaves(t))), file=sys.stderr)


if __name__ == "__main__":
    main()
