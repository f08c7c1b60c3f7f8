/*
 * Lists matched by content.  Their entries have no field that tells them
 * apart (firewall rules, include folders), so an entry is known by its
 * whole canonical content and a list instance is merged as a sequence, the
 * way lines of text are merged:
 *
 *   anchors            entries that O, N and D all keep: N's stay
 *   changed by N only  N's entries of the stretch
 *   changed by D only  D's entries, copied whole: an entry the user edited
 *                      is written as D has it; the user's deletions stay
 *   changed alike      N's entries
 *   changed by both    N's entries, then the D entries of the stretch that
 *                      are no O entry of the stretch and nowhere in N's
 *                      list (--conflicts=release: N's only; =fail: the
 *                      merge fails)
 *
 * A stretch is what lies between two anchors.  Entries are never blended:
 * nothing inside an entry is merged leaf by leaf, and no list declared
 * inside one applies.  An N entry with PRI="1" stays as N has it where D's
 * side would drop or replace it.  With -p the D entries of a stretch that
 * D changed count as edits when they pair with an O entry of the stretch
 * (same name, at least half of the leaf values shared), and as additions,
 * which go, when not.
 */
#include "content_list.h"

#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <map>
#include <string>
#include <unordered_map>
#include <vector>

#include <libxml/tree.h>

#include "merge.h"
#include "tally.h"
#include "../cli/console.h"
#include "../walk/keys.h"
#include "../walk/walk.h"

#include "../common/banned.h"

/* ---- the diff ------------------------------------------------------------ */

namespace {

/* One Myers diff of a against b, halving the edit script at its middle
 * snake until what is left is a common head or tail. */
struct Differ {
    const int *a;
    const int *b;
    int *match;
    std::vector<int> forward;
    std::vector<int> backward;

    void run(int a0, int a1, int b0, int b1);
    int middle(int a0, int a1, int b0, int b1, int *x, int *y);
};

}  // namespace

/*
 * Where the shortest edit script of a[a0, a1) against b[b0, b1) crosses its
 * middle, as offsets (*x, *y) from (a0, b0): 1, or 0 when it has no split
 * that leaves both halves smaller.  Both ends are searched at once, each
 * diagonal k holding the furthest x reached on it.
 */
int Differ::middle(int a0, int a1, int b0, int b1, int *x, int *y)
{
    const int len_a = a1 - a0;
    const int len_b = b1 - b0;
    const int max_d = (len_a + len_b + 1) / 2;
    const int offset = max_d + 1;
    const int size = 2 * max_d + 3;
    const int delta = len_a - len_b;
    const int odd = delta % 2 != 0;
    int k1_start = 0, k1_end = 0, k2_start = 0, k2_end = 0;

    forward.assign((size_t)size, -1);
    backward.assign((size_t)size, -1);
    forward[(size_t)offset + 1] = 0;
    backward[(size_t)offset + 1] = 0;
    for (int d = 0; d < max_d; d++) {
        for (int k = -d + k1_start; k <= d - k1_end; k += 2) {
            int i = offset + k;
            int fx = (k == -d || (k != d && forward[(size_t)i - 1] < forward[(size_t)i + 1])) ? forward[(size_t)i + 1]
                                                                                           : forward[(size_t)i - 1] + 1;
            int fy = fx - k;

            while (fx < len_a && fy < len_b && a[a0 + fx] == b[b0 + fy])
                fx++, fy++;
            forward[(size_t)i] = fx;
            if (fx > len_a) {
                k1_end += 2;
            } else if (fy > len_b) {
                k1_start += 2;
            } else if (odd) {
                int j = offset + delta - k;

                if (j >= 0 && j < size && backward[(size_t)j] != -1 && fx >= len_a - backward[(size_t)j]) {
                    *x = fx;
                    *y = fy;
                    return (fx > 0 || fy > 0) && (fx < len_a || fy < len_b);
                }
            }
        }
        for (int k = -d + k2_start; k <= d - k2_end; k += 2) {
            int i = offset + k;
            int bx = (k == -d || (k != d && backward[(size_t)i - 1] < backward[(size_t)i + 1]))
                         ? backward[(size_t)i + 1]
                         : backward[(size_t)i - 1] + 1;
            int by = bx - k;

            while (bx < len_a && by < len_b && a[a1 - 1 - bx] == b[b1 - 1 - by])
                bx++, by++;
            backward[(size_t)i] = bx;
            if (bx > len_a) {
                k2_end += 2;
            } else if (by > len_b) {
                k2_start += 2;
            } else if (!odd) {
                int j = offset + delta - k;

                if (j >= 0 && j < size && forward[(size_t)j] != -1) {
                    int fx = forward[(size_t)j];
                    int fy = fx - (j - offset);

                    if (fx >= len_a - bx) {
                        *x = fx;
                        *y = fy;
                        return (fx > 0 || fy > 0) && (fx < len_a || fy < len_b);
                    }
                }
            }
        }
    }
    return 0;
}

void Differ::run(int a0, int a1, int b0, int b1)
{
    for (;;) {
        int x;
        int y;

        while (a0 < a1 && b0 < b1 && a[a0] == b[b0])
            match[a0++] = b0++;
        while (a0 < a1 && b0 < b1 && a[a1 - 1] == b[b1 - 1])
            match[--a1] = --b1;
        if (a0 == a1 || b0 == b1 || !middle(a0, a1, b0, b1, &x, &y))
            return;
        /* Each half has at most half the differences: the recursion is
         * as deep as their logarithm. */
        run(a0, a0 + x, b0, b0 + y);
        a0 += x;
        b0 += y;
    }
}

void content_match(const int *a, int na, const int *b, int nb, int *match)
{
    Differ differ;
    std::unordered_map<int, char> seen;   /* by class: 1 in a, 2 in b, 3 both */
    std::vector<int> fa, fb, ia, ib, fmatch;

    /* An entry whose class the other side lacks can match nothing: the
     * diff runs without those, so a list where everything changed costs
     * no more than one where nothing did. */
    for (int i = 0; i < na; i++)
        seen[a[i]] |= 1;
    for (int j = 0; j < nb; j++)
        seen[b[j]] |= 2;
    for (int i = 0; i < na; i++) {
        match[i] = -1;
        if (seen[a[i]] == 3)
            fa.push_back(a[i]), ia.push_back(i);
    }
    for (int j = 0; j < nb; j++) {
        if (seen[b[j]] == 3)
            fb.push_back(b[j]), ib.push_back(j);
    }
    fmatch.assign(fa.size(), -1);
    differ.a = fa.data();
    differ.b = fb.data();
    differ.match = fmatch.data();
    differ.run(0, (int)fa.size(), 0, (int)fb.size());
    for (size_t i = 0; i < fa.size(); i++) {
        if (fmatch[i] >= 0)
            match[ia[i]] = ib[(size_t)fmatch[i]];
    }
}

static int same_run(const int *a, int ai, int alen, const int *b, int bi, int blen)
{
    if (alen != blen)
        return 0;
    for (int i = 0; i < alen; i++) {
        if (a[ai + i] != b[bi + i])
            return 0;
    }
    return 1;
}

void content_stretches(const int *o, int no, const int *n, int nn, const int *d, int nd, const int *on, const int *od,
                       std::vector<Stretch> *out)
{
    int io = 0, in = 0, id = 0;

    out->clear();
    for (int k = 0; k <= no; k++) {
        int anchor = k < no && on[k] >= 0 && od[k] >= 0;
        int kn = k < no ? on[k] : nn;
        int kd = k < no ? od[k] : nd;

        if (k < no && !anchor)
            continue;
        if (k > io || kn > in || kd > id) {
            Stretch s = {STRETCH_BOTH, io, k - io, in, kn - in, id, kd - id};
            int on_same = same_run(o, io, k - io, n, in, kn - in);
            int od_same = same_run(o, io, k - io, d, id, kd - id);

            if (on_same && od_same)
                s.kind = STRETCH_BOTH_SAME;   /* equal entries the diffs matched otherwise */
            else if (on_same)
                s.kind = STRETCH_DEVICE;
            else if (od_same)
                s.kind = STRETCH_RELEASE;
            else if (same_run(n, in, kn - in, d, id, kd - id))
                s.kind = STRETCH_BOTH_SAME;
            out->push_back(s);
        }
        if (k < no) {
            Stretch *last = out->empty() ? NULL : &out->back();

            if (last && last->kind == STRETCH_ANCHORS && last->o + last->o_len == k)
                last->o_len++, last->n_len++, last->d_len++;
            else
                out->push_back(Stretch{STRETCH_ANCHORS, k, 1, kn, 1, kd, 1});
        }
        io = k + 1;
        in = kn + 1;
        id = kd + 1;
    }
}

/* ---- the entries ---------------------------------------------------------- */

/* D's entries of each list instance (its parent's path in D, "/" and the
 * entries' local name), copied as the walk meets them into a document of
 * their own: the reader lets go of what it has passed. */
struct Instance {
    std::vector<xmlNodePtr> d;
    std::string name;   /* the entries' name as D writes it */
};
static std::map<std::string, Instance> instances;
static xmlDocPtr copies;

static void free_instance(Instance *in)
{
    for (xmlNodePtr e : in->d)
        xmlFreeNode(e);
    in->d.clear();
}

void reset_content_lists(void)
{
    for (auto &in : instances)
        free_instance(&in.second);
    instances.clear();
    if (copies)
        xmlFreeDoc(copies);
    copies = NULL;
}

static const char *text(const xmlChar *s)
{
    return show_str(reinterpret_cast<const char *>(s));
}

int merge_content_entry(const char *Xpath, xmlTextReaderPtr reader)
{
    xmlNodePtr d = xmlTextReaderExpand(reader);
    int cut = xml_path_parent_len(Xpath);
    xmlNodePtr copy;

    if (!copies)
        copies = xmlNewDoc(BAD_CAST "1.0");
    copy = d && copies && cut > 0 ? xmlDocCopyNode(d, copies, 1) : NULL;
    if (!copy) {
        console_log(0, "%s: ###Error cannot keep the entry of D (Xpath=%s)\n", __func__, Xpath);
        return WALK_FAIL;
    }
    Instance &in = instances[std::string(Xpath, (size_t)cut) + "/" + text(d->name)];
    if (in.d.empty())
        in.name = text(xmlTextReaderConstName(reader));
    in.d.push_back(copy);
    /* The entry is one setting, whose value is all of it. */
    merge_tally_settings(1);
    return WALK_SKIP;
}

void content_entries_of(xmlNodePtr parent, const char *name, std::vector<xmlNodePtr> *out)
{
    for (xmlNodePtr c = parent ? parent->children : NULL; c; c = c->next) {
        if (c->type == XML_ELEMENT_NODE && xmlStrEqual(c->name, BAD_CAST name))
            out->push_back(c);
    }
}

/* Equal entries share a class: hashes first, then the content itself, so
 * that two different entries with one hash stay apart. */
namespace {
struct Classes {
    std::unordered_map<uint64_t, std::vector<int>> by_hash;
    std::vector<xmlNodePtr> first;

    int of(xmlNodePtr e)
    {
        std::vector<int> &same_hash = by_hash[merge_entry_hash(e)];

        for (int c : same_hash) {
            if (merge_entries_equal(first[(size_t)c], e))
                return c;
        }
        first.push_back(e);
        same_hash.push_back((int)first.size() - 1);
        return (int)first.size() - 1;
    }
};

/* What the merged list holds, in order: an entry of N that stays where it
 * is (keep), or a copy of an entry of D or N. */
struct Item {
    xmlNodePtr node;
    int keep;
    int n_index;
};

/* The three sequences of one list instance and what is known of them. */
struct Lists {
    std::vector<xmlNodePtr> o, n, d;
    std::vector<int> oc, nc, dc;            /* their classes */
    std::vector<char> in_o, in_n, in_d;     /* by class: whether that list has it */
    std::vector<int> od;                    /* O's matches in D */
    /* By class: entries that N forces with PRI where D moved them, whose
     * copies from D are left out (N's stays where N has it). */
    mutable std::map<int, int> forced_moved;
    /* By class: D entries that match no O entry but equal one (moved),
     * each standing for one O entry that is not deleted. */
    mutable std::map<int, int> moved;
    std::string d_parent, n_parent, name;   /* for the paths of the lines */
};
}  // namespace

void content_kept(const std::vector<xmlNodePtr> &o, const std::vector<xmlNodePtr> &n, std::vector<char> *o_kept,
                  std::vector<char> *n_kept)
{
    Classes classes;
    std::vector<int> oc, nc, match(o.size(), -1);

    for (xmlNodePtr e : o)
        oc.push_back(classes.of(e));
    for (xmlNodePtr e : n)
        nc.push_back(classes.of(e));
    content_match(oc.data(), (int)oc.size(), nc.data(), (int)nc.size(), match.data());
    o_kept->assign(o.size(), 0);
    n_kept->assign(n.size(), 0);
    for (size_t i = 0; i < o.size(); i++) {
        if (match[i] >= 0) {
            (*o_kept)[i] = 1;
            (*n_kept)[(size_t)match[i]] = 1;
        }
    }
}

static std::string entry_path(const std::string &parent, const std::string &name, int index)
{
    return parent + "/" + name + "[" + std::to_string(index + 1) + "]";
}

/* Tells the tally, the report and the console what became of a whole
 * entry (or stretch) at path; counts a setting where D has no entry. */
static void tell(const char *caller, enum MergeDecision kind, const char *what, const std::string &path,
                 int new_setting)
{
    if (new_setting)
        merge_tally_settings(1);
    merge_tally_values(path.c_str(), NULL, NULL, NULL);
    merge_tally(kind);
    console_log(0, "%s:++++%s (Xpath=%s)\n", caller, what, path.c_str());
}


/* The leaf values of an entry, "path=value" below it: its attributes (PRI
 * aside) and the text of its elements without element children. */
static void leaves_of(xmlNodePtr e, const std::string &at, std::vector<std::string> *out)
{
    int elements = 0;

    for (xmlAttrPtr a = e->properties; a; a = a->next) {
        xmlChar *value;

        if (!a->ns && xmlStrEqual(a->name, BAD_CAST "PRI"))
            continue;
        value = xmlNodeGetContent(reinterpret_cast<xmlNodePtr>(a));
        out->push_back(at + "@" + text(a->name) + "=" + text(value));
        xmlFree(value);
    }
    for (xmlNodePtr c = e->children; c; c = c->next) {
        if (c->type == XML_ELEMENT_NODE) {
            leaves_of(c, at + "/" + text(c->name), out);
            elements = 1;
        }
    }
    if (!elements) {
        xmlChar *value = xmlNodeGetContent(e);

        out->push_back(at + "=" + text(value));
        xmlFree(value);
    }
}

/* How many leaf values two sorted lists share. */
static size_t shared(const std::vector<std::string> &a, const std::vector<std::string> &b)
{
    size_t i = 0, j = 0, same = 0;

    while (i < a.size() && j < b.size()) {
        if (a[i] == b[j])
            same++, i++, j++;
        else if (a[i] < b[j])
            i++;
        else
            j++;
    }
    return same;
}

/* How far past the last pair the pairing looks for an entry's original:
 * a bound on the work in a stretch where everything changed. */
#define PAIR_WINDOW 32

/*
 * Pairs the D entries ds (indices into d) with the O entries os, in
 * order: each with the O entry after the last pair, of the same name, that
 * shares the most leaf values with it, when that is at least half of the
 * larger entry's.  pair[j] is the O index for ds[j], or -1: an addition.
 */
static void pair_edits(const Lists &L, const std::vector<int> &os, const std::vector<int> &ds, std::vector<int> *pair)
{
    std::vector<std::vector<std::string>> o_leaves(os.size());
    std::vector<char> o_done(os.size(), 0);
    size_t from = 0;

    pair->assign(ds.size(), -1);
    for (size_t j = 0; j < ds.size() && from < os.size(); j++) {
        xmlNodePtr d = L.d[(size_t)ds[j]];
        std::vector<std::string> d_leaves;
        size_t best = os.size();
        size_t best_shared = 0;

        leaves_of(d, "", &d_leaves);
        std::sort(d_leaves.begin(), d_leaves.end());
        for (size_t i = from; i < os.size() && i < from + PAIR_WINDOW; i++) {
            xmlNodePtr o = L.o[(size_t)os[i]];
            size_t same;

            if (!xmlStrEqual(o->name, d->name))
                continue;
            if (!o_done[i]) {
                leaves_of(o, "", &o_leaves[i]);
                std::sort(o_leaves[i].begin(), o_leaves[i].end());
                o_done[i] = 1;
            }
            same = shared(o_leaves[i], d_leaves);
            if (same > best_shared && 2 * same >= std::max(o_leaves[i].size(), d_leaves.size()))
                best = i, best_shared = same;
        }
        if (best < os.size()) {
            (*pair)[j] = os[best];
            from = best + 1;
        }
    }
}

/* A stretch that only D changed: D's entries, as the header says. */
static void device_stretch(const char *caller, const Lists &L, const Stretch &s, std::vector<Item> *items)
{
    std::vector<int> d_pair((size_t)s.d_len, -1);
    std::vector<char> d_same((size_t)s.d_len, 0);
    std::vector<char> o_used((size_t)s.o_len, 0);
    std::vector<int> lost, edited, pair;
    int pending = s.o;

    /* The entries the diff kept, then the edits among the rest. */
    for (int i = s.o; i < s.o + s.o_len; i++) {
        if (L.od[(size_t)i] >= 0) {
            d_pair[(size_t)(L.od[(size_t)i] - s.d)] = i;
            d_same[(size_t)(L.od[(size_t)i] - s.d)] = 1;
            o_used[(size_t)(i - s.o)] = 1;
        } else if (!L.in_d[(size_t)L.oc[(size_t)i]]) {
            lost.push_back(i);
        }
    }
    for (int j = s.d; j < s.d + s.d_len; j++) {
        if (d_pair[(size_t)(j - s.d)] < 0 && !L.in_o[(size_t)L.dc[(size_t)j]])
            edited.push_back(j);
    }
    pair_edits(L, lost, edited, &pair);
    for (size_t t = 0; t < edited.size(); t++) {
        if (pair[t] >= 0) {
            d_pair[(size_t)(edited[t] - s.d)] = pair[t];
            o_used[(size_t)(pair[t] - s.o)] = 1;
        }
    }

    /* O's entries that D no longer has: deleted, unless N's has PRI; one
     * that D moved elsewhere is told where D has it. */
    auto deleted_up_to = [&](int limit) {
        for (; pending < limit; pending++) {
            int n_index = s.n + (pending - s.o);
            xmlNodePtr n = L.n[(size_t)n_index];

            if (o_used[(size_t)(pending - s.o)])
                continue;
            /* One that D has elsewhere was moved, as often as D has it
             * more than the diff matched; the others are deleted. */
            auto moved = L.moved.find(L.oc[(size_t)pending]);
            int was_moved = moved != L.moved.end() && moved->second > 0;

            if (was_moved)
                moved->second--;
            if (merge_holds_pri(n)) {
                items->push_back(Item{n, 1, n_index});
                tell(caller, MERGE_FORCED, "PRI set on the entry--Keep N", entry_path(L.n_parent, L.name, n_index), 1);
            } else if (!was_moved) {
                tell(caller, MERGE_ENTRY_USER_DELETED, "Entry deleted in D", entry_path(L.n_parent, L.name, n_index), 1);
            }
        }
    };
    for (int j = s.d; j < s.d + s.d_len; j++) {
        int i = d_pair[(size_t)(j - s.d)];
        std::string path = entry_path(L.d_parent, L.name, j);
        xmlNodePtr d = L.d[(size_t)j];

        if (i >= 0) {
            int n_index = s.n + (i - s.o);
            xmlNodePtr n = L.n[(size_t)n_index];

            deleted_up_to(i);
            pending = std::max(pending, i + 1);
            if (d_same[(size_t)(j - s.d)]) {
                items->push_back(Item{n, 1, n_index});
            } else if (merge_holds_pri(n)) {
                items->push_back(Item{n, 1, n_index});
                tell(caller, MERGE_FORCED, "PRI set on the entry--Keep N", path, 0);
            } else {
                items->push_back(Item{d, 0, -1});
                tell(caller, MERGE_USER_KEPT, "Entry changed in D", path, 0);
            }
        } else if (L.in_o[(size_t)L.dc[(size_t)j]] && L.in_n[(size_t)L.dc[(size_t)j]]) {
            auto forced = L.forced_moved.find(L.dc[(size_t)j]);

            /* N forces it where N has it: D's copy is not added again. */
            if (forced != L.forced_moved.end() && forced->second > 0) {
                forced->second--;
                continue;
            }
            items->push_back(Item{d, 0, -1});
            tell(caller, MERGE_USER_KEPT, "Entry moved in D", path, 0);
        } else if (L.in_o[(size_t)L.dc[(size_t)j]]) {
            tell(caller, MERGE_ENTRY_RELEASE_REMOVED, "Entry removed by the release", path, 0);
        } else if (keep_local_tags) {
            items->push_back(Item{d, 0, -1});
            tell(caller, MERGE_ENTRY_LOCAL_KEPT, "Local entry found in D", path, 0);
        } else {
            tell(caller, MERGE_ENTRY_LOCAL_DROPPED, "Discard local entry found in D", path, 0);
        }
    }
    deleted_up_to(s.o + s.o_len);
}

/* A stretch that both changed differently: 1 when --conflicts=fail
 * refuses it, 0 otherwise. */
static int both_stretch(const char *caller, const Lists &L, const Stretch &s, std::vector<Item> *items)
{
    std::string path = L.d_parent + "/" + L.name;
    std::vector<char> in_stretch(L.in_o.size(), 0);
    std::vector<int> os, ds, pair;
    int kept = 0;

    for (int i = s.o; i < s.o + s.o_len; i++) {
        in_stretch[(size_t)L.oc[(size_t)i]] = 1;
        os.push_back(i);
    }
    for (int j = s.d; j < s.d + s.d_len; j++) {
        if (!in_stretch[(size_t)L.dc[(size_t)j]] && !L.in_n[(size_t)L.dc[(size_t)j]])
            ds.push_back(j);
    }
    /* -p keeps only the user's edits of the stretch's entries. */
    if (!keep_local_tags)
        pair_edits(L, os, ds, &pair);
    if (s.d_len == 0)
        merge_tally_settings(1);
    merge_tally_values(path.c_str(), NULL, NULL, NULL);
    merge_tally(MERGE_STRETCH_BOTH_CHANGED);
    if (merge_conflicts == MERGE_CONFLICTS_FAIL) {
        console_log(0, "%s: ###Error both changed list %s\n", caller, path.c_str());
        merge_refuse_setting();
        return 1;
    }
    /* An O entry of the stretch that D no longer has, and that N still
     * has as O had it, was deleted by the user and left alone by the
     * release: it stays deleted, unless N forces it. */
    std::map<int, int> deleted;
    int kept_n = 0;

    if (merge_conflicts == MERGE_CONFLICTS_DEVICE) {
        for (int i = s.o; i < s.o + s.o_len; i++)
            deleted[L.oc[(size_t)i]]++;
        for (int j = s.d; j < s.d + s.d_len; j++) {
            auto c = deleted.find(L.dc[(size_t)j]);

            if (c != deleted.end() && c->second > 0)
                c->second--;
        }
    }
    for (int t = 0; t < s.n_len; t++) {
        xmlNodePtr n = L.n[(size_t)(s.n + t)];
        auto c = deleted.find(L.nc[(size_t)(s.n + t)]);

        if (c != deleted.end() && c->second > 0 && !merge_holds_pri(n)) {
            c->second--;
            tell(caller, MERGE_ENTRY_USER_DELETED, "Entry deleted in D", entry_path(L.n_parent, L.name, s.n + t), 1);
            continue;
        }
        items->push_back(Item{n, 1, s.n + t});
        kept_n++;
    }
    for (size_t t = 0; t < ds.size() && merge_conflicts == MERGE_CONFLICTS_DEVICE; t++) {
        if (keep_local_tags || pair[t] >= 0) {
            items->push_back(Item{L.d[(size_t)ds[t]], 0, -1});
            kept++;
        }
    }
    console_log(0, "%s:++++Both changed list %s: kept %d release entries, then %d device entries\n", caller,
                path.c_str(), kept_n, kept);
    return 0;
}

/* Rewrites N's list instance under n_parent as items says: 0, or -1. */
static int rewrite(XmlState *nDoc, xmlNodePtr n_parent, const Lists &L, std::vector<Item> *items)
{
    std::vector<char> stays(L.n.size(), 0);
    xmlNodePtr before = L.n.empty() ? NULL : L.n[0];
    xmlNodePtr prev = NULL;
    int last = -1;

    /* N's entries that stay keep their order; one that would come out of
     * it is copied to its place instead. */
    for (Item &it : *items) {
        if (it.keep && it.n_index <= last)
            it.keep = 0;
        else if (it.keep)
            last = it.n_index, stays[(size_t)it.n_index] = 1;
    }
    for (const Item &it : *items) {
        if (it.keep) {
            prev = it.node;
            continue;
        }
        prev = xml_insert_copy(nDoc, n_parent, prev, prev ? NULL : before, it.node);
        if (!prev)
            return -1;
    }
    for (size_t t = 0; t < L.n.size(); t++) {
        if (!stays[t] && xml_remove_node(nDoc, L.n[t]) != 0)
            return -1;
    }
    return 0;
}

/* Finds N's parent of the list instance, making it for a list that only
 * D has: the parent, or NULL when there is none (*release_removed: O has
 * it, the release removed the list). */
static xmlNodePtr n_parent_of(XmlState *nDoc, XmlState *oDoc, const char *Xpath, const char *nParent,
                              int *release_removed)
{
    char look[LOOKUP_BUF_SIZE];
    xmlNodePtr parent = first_selected(nDoc, lookup_path(nParent, look));

    *release_removed = 0;
    if (parent)
        return parent;
    if (first_selected(oDoc, lookup_path(Xpath, look))) {
        *release_removed = 1;
        return NULL;
    }
    if (!keep_local_tags || xml_create_node_path_if_possible_with_attr(nDoc, nParent) != 0)
        return NULL;
    return first_selected(nDoc, lookup_path(nParent, look));
}

int merge_content_list(XmlState *nDoc, XmlState *oDoc, const char *Xpath, const KeyList *list)
{
    char parent_copy[XPATH_BUF_SIZE];
    char placed[XPATH_BUF_SIZE];
    char look[LOOKUP_BUF_SIZE];
    const char *local = strrchr(list->path, '/') + 1;
    std::string key = std::string(Xpath) + "/" + local;
    Instance in;
    Lists L;
    Classes classes;
    std::vector<int> on;
    std::vector<Stretch> stretches;
    std::vector<Item> items;
    xmlNodePtr n_parent;
    int release_removed;
    int refused = 0;
    int rc = 0;

    auto found = instances.find(key);
    if (found != instances.end()) {
        in = found->second;
        instances.erase(found);
    }
    snprintf(parent_copy, sizeof(parent_copy), "%s", Xpath);
    L.d_parent = Xpath;
    L.n_parent = placement_path(parent_copy, placed);
    L.name = in.d.empty() ? local : in.name;
    L.d = in.d;
    n_parent = n_parent_of(nDoc, oDoc, Xpath, L.n_parent.c_str(), &release_removed);
    if (!n_parent && release_removed && merge_conflicts == MERGE_CONFLICTS_FAIL) {
        std::vector<xmlNodePtr> o_entries;
        int changed;

        content_entries_of(first_selected(oDoc, lookup_path(Xpath, look)), local, &o_entries);
        changed = o_entries.size() != L.d.size();
        for (size_t j = 0; !changed && j < L.d.size(); j++)
            changed = !merge_entries_equal(o_entries[j], L.d[j]);
        if (changed) {
            console_log(0, "%s: ###Error both changed list %s/%s: the release removed the list that D changed\n",
                        __func__, Xpath, L.name.c_str());
            merge_refuse_setting();
        }
    }
    if (!n_parent) {
        for (size_t j = 0; j < L.d.size(); j++) {
            std::string path = entry_path(L.d_parent, L.name, (int)j);

            if (release_removed)
                tell(__func__, MERGE_ENTRY_RELEASE_REMOVED, "Entry removed by the release with its list", path, 0);
            else if (!keep_local_tags)
                tell(__func__, MERGE_ENTRY_LOCAL_DROPPED, "Discard local entry found in D", path, 0);
            else
                rc = 1;
        }
        if (rc)
            console_log(0, "%s: ###Error cannot add the list of D (Xpath=%s/%s)\n", __func__, Xpath, L.name.c_str());
        free_instance(&in);
        return rc;
    }
    content_entries_of(n_parent, local, &L.n);
    content_entries_of(first_selected(oDoc, lookup_path(Xpath, look)), local, &L.o);
    for (xmlNodePtr e : L.o)
        L.oc.push_back(classes.of(e));
    for (xmlNodePtr e : L.n)
        L.nc.push_back(classes.of(e));
    for (xmlNodePtr e : L.d)
        L.dc.push_back(classes.of(e));
    L.in_o.assign(classes.first.size(), 0);
    L.in_n.assign(classes.first.size(), 0);
    L.in_d.assign(classes.first.size(), 0);
    for (int c : L.oc)
        L.in_o[(size_t)c] = 1;
    for (int c : L.nc)
        L.in_n[(size_t)c] = 1;
    for (int c : L.dc)
        L.in_d[(size_t)c] = 1;
    on.assign(L.o.size(), -1);
    L.od.assign(L.o.size(), -1);
    content_match(L.oc.data(), (int)L.oc.size(), L.nc.data(), (int)L.nc.size(), on.data());
    content_match(L.oc.data(), (int)L.oc.size(), L.dc.data(), (int)L.dc.size(), L.od.data());
    content_stretches(L.oc.data(), (int)L.oc.size(), L.nc.data(), (int)L.nc.size(), L.dc.data(), (int)L.dc.size(),
                      on.data(), L.od.data(), &stretches);
    for (size_t i = 0; i < L.o.size(); i++) {
        if (L.od[i] < 0 && on[i] >= 0 && merge_holds_pri(L.n[(size_t)on[i]]) && L.in_d[(size_t)L.oc[i]])
            L.forced_moved[L.oc[i]]++;
    }
    std::vector<char> d_matched(L.d.size(), 0);

    for (int j : L.od) {
        if (j >= 0)
            d_matched[(size_t)j] = 1;
    }
    for (size_t j = 0; j < L.d.size(); j++) {
        if (!d_matched[j] && L.in_o[(size_t)L.dc[j]])
            L.moved[L.dc[j]]++;
    }

    for (const Stretch &s : stretches) {
        switch (s.kind) {
        case STRETCH_DEVICE:
            device_stretch(__func__, L, s, &items);
            break;
        case STRETCH_BOTH:
            refused |= both_stretch(__func__, L, s, &items);
            break;
        case STRETCH_RELEASE:
            /* What the release removed of what D kept as O had it. */
            for (int i = s.o; i < s.o + s.o_len; i++) {
                if (!L.in_n[(size_t)L.oc[(size_t)i]])
                    tell(__func__, MERGE_ENTRY_RELEASE_REMOVED, "Entry removed by the release",
                         entry_path(L.d_parent, L.name, s.d + (i - s.o)), 0);
            }
            /* and N's entries, as for these: */
            [[fallthrough]];
        case STRETCH_ANCHORS:
        case STRETCH_BOTH_SAME:
            for (int t = 0; t < s.n_len; t++)
                items.push_back(Item{L.n[(size_t)(s.n + t)], 1, s.n + t});
            break;
        }
    }
    /* A refused merge saves nothing: N is left alone. */
    if (!refused && rewrite(nDoc, n_parent, L, &items) != 0) {
        console_log(0, "%s: ###Error cannot rewrite the list %s/%s\n", __func__, L.n_parent.c_str(), L.name.c_str());
        rc = 1;
    }
    free_instance(&in);
    return rc;
}
