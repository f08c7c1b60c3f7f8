#include "tally.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "merge.h"
#include "../cli/console.h"

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

void merge_tally(enum MergeDecision kind)
{
    if (kind >= 0 && kind < MERGE_DECISION_KINDS)
        counts[kind]++;
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
    char *have = NULL;
    int same;

    if (xml_copy_node_value(doc, Xpath, &have) != 0)
        have = NULL;
    same = same_value(have, value);
    free(have);
    return same;
}

/* Whether the reader's value (D's) equals doc's value at Xpath. */
static int reader_has_doc_value(xmlTextReaderPtr d_reader, XmlState *doc, const char *Xpath)
{
    xmlChar *d_text = d_reader ? xmlTextReaderValue(d_reader) : NULL;
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
