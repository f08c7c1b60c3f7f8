/*
 * The decisions of one merge, counted by kind: the merge calls merge_tally
 * at each point where it decides a setting, with the kind of decision, and
 * the counts make the summary line of -q.
 */
#ifndef XMLCFG_MERGE_TALLY_H
#define XMLCFG_MERGE_TALLY_H

#include <libxml/xmlreader.h>

#include "../xmldata/xmldata.h"

/* In the order the summary lists them. */
enum MergeDecision {
    MERGE_NO_DECISION = -1,       /* nothing to count: D equals N, or all agree */
    MERGE_FORCED = 0,             /* N's PRI kept N's value, D differed */
    MERGE_USER_KEPT,              /* D differs from O, N equals O: D's value */
    MERGE_RELEASE_TAKEN,          /* D equals O, N differs: N's value */
    MERGE_BOTH_CHANGED,           /* D, N and O all differ */
    MERGE_LOCAL_KEPT,             /* in D only, added */
    MERGE_LOCAL_DROPPED,          /* in D only, discarded (-p) */
    MERGE_RELEASE_REMOVED,        /* in O and D, not in N, D equal to O */
    MERGE_LOST_WITH_ELEMENT,      /* changed in D, and N has no such element */
    MERGE_ENTRY_LOCAL_KEPT,       /* the decisions on entries of declared lists */
    MERGE_ENTRY_LOCAL_DROPPED,
    MERGE_ENTRY_USER_DELETED,
    MERGE_ENTRY_RESTORED,
    MERGE_ENTRY_RELEASE_REMOVED,
    MERGE_STRETCH_BOTH_CHANGED,
    MERGE_DECISION_KINDS
};

/* Whether anyone reads the counts: set before the merge runs.  When 0 the
 * merge_kind_ functions look nothing up and answer MERGE_NO_DECISION. */
extern int merge_tally_enabled;

/* Counts one decision, and with a report open (-r) writes its line, with
 * the values of the setting named by merge_tally_leaf or
 * merge_tally_values before it; MERGE_NO_DECISION counts nothing. */
void merge_tally(enum MergeDecision kind);
/* The leaf of D's walk that the next merge_tally decides: D's value is the
 * reader's, O's is read at Xpath and N's at nPath (N's position of the
 * leaf), when a report needs them.  Call before N is changed. */
void merge_tally_leaf(XmlState *nDoc, XmlState *oDoc, const char *Xpath, const char *nPath, xmlTextReaderPtr reader);
/* A setting decided outside the leaves of D's walk (an attribute, an entry
 * the release restored), with its values as they are: NULL where that file
 * has none, xpath N's path where D has none.  Holds for the next
 * merge_tally. */
void merge_tally_values(const char *xpath, const char *o, const char *n, const char *d);
/* Counts settings of D: a leaf, or an element's attributes. */
void merge_tally_settings(int count);
/* The settings that the reader's current element carries, when it is an
 * element start: its attributes (namespace declarations are none). */
void merge_tally_element(xmlTextReaderPtr reader);
/* Zeroes every count. */
void merge_tally_reset(void);
int merge_tally_count(enum MergeDecision kind);
const char *merge_decision_name(enum MergeDecision kind);

/*
 * The kind of a decision the merge made, judged from the values involved.
 * d_reader is the walk's reader at D's leaf (its value is D's), o_value O's
 * value or NULL when O has none; an empty value and none are the same.
 * Each reads what else it needs from N or O at Xpath.
 */
/* N's PRI kept N's value. */
enum MergeDecision merge_kind_forced(XmlState *nDoc, const char *Xpath, xmlTextReaderPtr d_reader);
/* D's value differs from O's (d_value): user_kept, both_changed, or none
 * when N already holds D's value.  Call before N is changed. */
enum MergeDecision merge_kind_user_change(XmlState *nDoc, const char *Xpath, const char *o_value,
                                          const char *d_value);
/* D's value equals O's: release_taken when N differs. */
enum MergeDecision merge_kind_kept(XmlState *nDoc, const char *Xpath, const char *o_value);
/* The leaf is in O but not in N. */
enum MergeDecision merge_kind_removed(XmlState *oDoc, const char *Xpath, xmlTextReaderPtr d_reader);
/* The leaf is not in N and -p discards what only D has: looks it up in O. */
enum MergeDecision merge_kind_discarded(XmlState *oDoc, const char *Xpath, xmlTextReaderPtr d_reader);

/* What became of the merged document. */
enum MergeOutcome { MERGE_NOT_SAVED, MERGE_SAVED, MERGE_DRY_RUN };

/*
 * Prints, under -q, the merge's summary in the merge driver's name (caller):
 * "S settings, U unchanged: " then every decision with its count, then
 * "saved FILE", "not saved" or "dry run, nothing saved".
 */
void merge_tally_summary(const char *caller, const char *dest_file, enum MergeOutcome outcome);

#endif
