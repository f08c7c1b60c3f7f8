/*
 * The merge of a list whose entries are known by their content alone
 * (match="content" in the keys file), as a three-way merge of sequences:
 * each entry is a class (equal entries share one), the O-to-N and the
 * O-to-D changes are Myers diffs of the class sequences, and the two are
 * combined into stretches between the entries that all three keep.
 */
#ifndef XMLCFG_CONTENT_LIST_H
#define XMLCFG_CONTENT_LIST_H

#include <vector>

#include <libxml/tree.h>

/*
 * Matches a[0, na) with b[0, nb) by a shortest edit script (Myers, linear
 * space, O((na + nb) * D) time for D differences): match[i] is the index
 * of b that a[i] is kept as, or -1 for an a[i] that the script deletes.
 * match holds na entries.
 */
void content_match(const int *a, int na, const int *b, int nb, int *match);

/* Who changed a stretch: nobody (its entries are anchors), only N, only D,
 * both the same way, or both differently. */
enum StretchKind { STRETCH_ANCHORS, STRETCH_RELEASE, STRETCH_DEVICE, STRETCH_BOTH_SAME, STRETCH_BOTH };

/* O's entries [o, o + o_len) became N's [n, n + n_len) and D's
 * [d, d + d_len). */
struct Stretch {
    enum StretchKind kind;
    int o, o_len;
    int n, n_len;
    int d, d_len;
};

/*
 * The stretches of O, N and D (class sequences), in order, covering each
 * whole: runs of anchors (entries that O, N and D all keep, by both
 * diffs) and, between them, the stretches that either side changed.
 * on[i] and od[i] are content_match's answers for O against N and D.
 */
void content_stretches(const int *o, int no, const int *n, int nn, const int *d, int nd, const int *on, const int *od,
                       std::vector<Stretch> *out);

/* The element children of parent (NULL: none) of local name name, in
 * order: the entries of its list instance. */
void content_entries_of(xmlNodePtr parent, const char *name, std::vector<xmlNodePtr> *out);

/*
 * Which entries of the list instances o and n the diff of o against n
 * keeps, matching them as the merge does (equal content, as a sequence):
 * (*o_kept)[i] is 1 for an o[i] that stays, 0 for one the diff deletes;
 * likewise (*n_kept)[j], 0 for an n[j] it inserts.
 */
void content_kept(const std::vector<xmlNodePtr> &o, const std::vector<xmlNodePtr> &n, std::vector<char> *o_kept,
                  std::vector<char> *n_kept);

#endif
