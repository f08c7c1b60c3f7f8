#include "tally.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "merge.h"
#include "report.h"
#include "../cli/console.h"
#include "../walk/walk.h"

#include "../common/banned.h"

int merge_tally_enabled = 0;

static int counts[MERGE_DECISION_KINDS];
static long long settings;

static const char *const names[MERGE_DECISION_KINDS] = {
    "forced",           "user_kept",         "release_taken",         "both_changed",
    "local_kept",       "local_dropped",     "release_removed",       "lost_with_element",
    "entry_local_kept", "entry_local_dropped", "entry_user_deleted",  "entry_restored",
    "entry_release_removed", "stretch_both_changed",
};

/* The setting that the next decision is about, for the report. */
static struct {
    int from_leaf;           /* read from the documents and the reader */
    int given;               /* given as they are */
    XmlState *nDoc;
    XmlState *oDoc;
    const char *xpath;
    const char *nPath;
    xmlTextReaderPtr reader;
    const char *o;
    const char *n;
    const char *d;
} setting;

void merge_tally_leaf(XmlState *nDoc, XmlState *oDoc, const char *Xpath, const char *nPath, xmlTextReaderPtr reader)
{
    setting.from_leaf = 1;
    setting.given = 0;
    setting.nDoc = nDoc;
    setting.oDoc = oDoc;
    setting.xpath = Xpath;
    setting.nPath = nPath;
    setting.reader = reader;
}

void merge_tally_values(const char *xpath, const char *o, const char *n, const char *d)
{
    setting.from_leaf = 0;
    setting.given = 1;
    setting.xpath = xpath;
    setting.o = o;
    setting.n = n;
    setting.d = d;
}

/* Whether N holds the setting: the decisions on a setting that N lacks
 * show no value of N's. */
static int n_has_setting(enum MergeDecision kind)
{
    return kind == MERGE_FORCED || kind == MERGE_USER_KEPT || kind == MERGE_RELEASE_TAKEN ||
           kind == MERGE_BOTH_CHANGED;
}

/* Writes the report's line of a decision, with the setting's values. */
static void report_decision(enum MergeDecision kind)
{
    struct MergeSetting s;
    char look[LOOKUP_BUF_SIZE];
    char *o_copy = NULL;
    char *n_copy = NULL;
    xmlChar *d_text = NULL;

    memset(&s, 0, sizeof s);
    if (setting.given) {
        s.xpath = setting.xpath;
        s.o = setting.o;
        s.n = setting.n;
        s.d = setting.d;
    } else if (setting.from_leaf) {
        s.xpath = setting.xpath;
        if (walk_copy_value(setting.oDoc, lookup_path(setting.xpath, look), &o_copy) != 0)
            o_copy = NULL;
        if (n_has_setting(kind) && walk_copy_value(setting.nDoc, lookup_path(setting.nPath, look), &n_copy) != 0)
            n_copy = NULL;
        if (setting.reader)
            d_text = walk_leaf_value(setting.reader);
        s.o = o_copy;
        s.n = n_copy;
        /* D has the leaf: an empty element is an empty value. */
        s.d = d_text ? reinterpret_cast<const char *>(d_text) : "";
    }
    switch (kind) {
    case MERGE_USER_KEPT:
    case MERGE_LOCAL_KEPT:
        s.result = s.d;
        break;
    case MERGE_FORCED:
    case MERGE_RELEASE_TAKEN:
        s.result = s.n;
        break;
    case MERGE_BOTH_CHANGED:
        s.winner = merge_conflicts == MERGE_CONFLICTS_RELEASE ? "release"
                   : merge_conflicts == MERGE_CONFLICTS_FAIL  ? "none"
                                                              : "device";
        s.result = merge_conflicts == MERGE_CONFLICTS_RELEASE ? s.n
                   : merge_conflicts == MERGE_CONFLICTS_FAIL  ? NULL
                                                              : s.d;
        break;
    default:
        /* Dropped, removed or lost: the result has none. */
        break;
    }
    merge_report_decision(kind, &s);
    xmlFree(d_text);
    free(n_copy);
    free(o_copy);
}

void merge_tally(enum MergeDecision kind)
{
    if (kind >= 0 && kind < MERGE_DECISION_KINDS) {
        counts[kind]++;
        if (merge_report_is_open())
            report_decision(kind);
    }
    setting.from_leaf = 0;
    setting.given = 0;
}

void merge_tally_settings(int count)
{
    settings += count;
}

void merge_tally_element(xmlTextReaderPtr reader)
{
    xmlNodePtr node;
    xmlAttrPtr attr;

    if (!merge_tally_enabled || xmlTextReaderNodeType(reader) != XML_READER_TYPE_ELEMENT)
        return;
    node = xmlTextReaderCurrentNode(reader);
    for (attr = node ? node->properties : NULL; attr; attr = attr->next)
        settings++;
}

void merge_tally_reset(void)
{
    memset(counts, 0, sizeof counts);
    memset(&setting, 0, sizeof setting);
    settings = 0;
}

int merge_tally_count(enum MergeDecision kind)
{
    return kind >= 0 && kind < MERGE_DECISION_KINDS ? counts[kind] : 0;
}

const char *merge_decision_name(enum MergeDecision kind)
{
    return kind >= 0 && kind < MERGE_DECISION_KINDS ? names[kind] : "none";
}

/* Values as the merge compares them: no value and an empty one are equal. */
static int same_value(const char *a, const char *b)
{
    return strcmp(a ? a : "", b ? b : "") == 0;
}

/* Whether doc's value at Xpath equals value. */
static int doc_has_value(XmlState *doc, const char *Xpath, const char *value)
{
    char look[LOOKUP_BUF_SIZE];
    char *have = NULL;
    int same;

    if (walk_copy_value(doc, lookup_path(Xpath, look), &have) != 0)
        have = NULL;
    same = same_value(have, value);
    free(have);
    return same;
}

/* Whether the reader's value (D's) equals doc's value at Xpath. */
static int reader_has_doc_value(xmlTextReaderPtr d_reader, XmlState *doc, const char *Xpath)
{
    xmlChar *d_text = d_reader ? walk_leaf_value(d_reader) : NULL;
    int same = doc_has_value(doc, Xpath, reinterpret_cast<const char *>(d_text));

    xmlFree(d_text);
    return same;
}

enum MergeDecision merge_kind_forced(XmlState *nDoc, const char *Xpath, xmlTextReaderPtr d_reader)
{
    if (!merge_tally_enabled || reader_has_doc_value(d_reader, nDoc, Xpath))
        return MERGE_NO_DECISION;
    return MERGE_FORCED;
}

enum MergeDecision merge_kind_user_change(XmlState *nDoc, const char *Xpath, const char *o_value,
                                          const char *d_value)
{
    if (!merge_tally_enabled || doc_has_value(nDoc, Xpath, d_value))
        return MERGE_NO_DECISION;
    return doc_has_value(nDoc, Xpath, o_value) ? MERGE_USER_KEPT : MERGE_BOTH_CHANGED;
}

enum MergeDecision merge_kind_kept(XmlState *nDoc, const char *Xpath, const char *o_value)
{
    if (!merge_tally_enabled || doc_has_value(nDoc, Xpath, o_value))
        return MERGE_NO_DECISION;
    return MERGE_RELEASE_TAKEN;
}

enum MergeDecision merge_kind_removed(XmlState *oDoc, const char *Xpath, xmlTextReaderPtr d_reader)
{
    if (!merge_tally_enabled)
        return MERGE_NO_DECISION;
    return reader_has_doc_value(d_reader, oDoc, Xpath) ? MERGE_RELEASE_REMOVED : MERGE_LOST_WITH_ELEMENT;
}

enum MergeDecision merge_kind_discarded(XmlState *oDoc, const char *Xpath, xmlTextReaderPtr d_reader)
{
    if (!merge_tally_enabled)
        return MERGE_NO_DECISION;
    /* The same search as for a leaf that -p does not discard. */
    if (check_node_in_doc(oDoc, Xpath, "O-file", 1) == 0)
        return merge_kind_removed(oDoc, Xpath, d_reader);
    return MERGE_LOCAL_DROPPED;
}

void merge_tally_summary(const char *caller, const char *dest_file, enum MergeOutcome outcome)
{
    char line[1024];
    size_t used = 0;
    long long decided = 0;
    int i;

    for (i = 0; i < MERGE_DECISION_KINDS; i++)
        decided += counts[i];
    line[0] = '\0';
    for (i = 0; i < MERGE_DECISION_KINDS && used < sizeof line; i++) {
        int n = snprintf(line + used, sizeof line - used, "%s%d %s", i ? ", " : "", counts[i], names[i]);

        if (n < 0)
            break;
        used += (size_t)n;
    }
    if (outcome == MERGE_SAVED)
        console_quiet("%s: %lld settings, %lld unchanged: %s; saved %s\n", caller, settings, settings - decided, line,
                      show_str(dest_file));
    else if (outcome == MERGE_DRY_RUN)
        console_quiet("%s: %lld settings, %lld unchanged: %s; dry run, nothing saved\n", caller, settings,
                      settings - decided, line);
    else
        console_quiet("%s: %lld settings, %lld unchanged: %s; not saved\n", caller, settings, settings - decided,
                      line);
}
