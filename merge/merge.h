/* The three-way merge of the old release's, the new release's and the
 * device's configuration files. */
#ifndef XMLCFG_MERGE_H
#define XMLCFG_MERGE_H

#include <stdint.h>

#include <libxml/xmlreader.h>

#include "../xmldata/xmldata.h"

/* 1 (the default): elements found only on the device are added to the
 * output; 0 (-p): they are discarded.  Set at each merge's start. */
extern int keep_local_tags;

/* What a setting that both D and N changed from O gets (--conflicts): D's
 * value (the default), N's, or the merge fails after the walk has found
 * every such setting, and saves nothing. */
enum MergeConflicts { MERGE_CONFLICTS_DEVICE, MERGE_CONFLICTS_RELEASE, MERGE_CONFLICTS_FAIL };
extern enum MergeConflicts merge_conflicts;

/* Where the merged result is saved instead of D (-w), or NULL for D. */
extern const char *merge_out_file;

/* --dry-run: the merge decides everything and saves nothing. */
extern int merge_dry_run;

/* Default mode: 0 merged and saved over dest_file (or merge_out_file, or
 * nothing under merge_dry_run), 1 failure (dest_file unchanged).  With a
 * report open it is synced before the save. */
int xml_merge_and_update(const char *src_file, const char *new_file, const char *dest_file, int discard_local_tags);

/*
 * Element check of the walk in merge mode, at D's root (Xpath its path):
 * decides each attribute of the root (PRI and those in a namespace aside)
 * as a setting, with N's root of the same name as the base, printing the
 * rule line of each decision and telling the tally.  0, or 1 when N's root
 * could not be changed.
 */
int merge_root_attributes(XmlState *nDoc, XmlState *oDoc, const char *Xpath, xmlTextReaderPtr reader);

/* The same for any element of N (n_node) matched with D's d_node and O's
 * o_node (NULL when O has none), Xpath its path; the key attributes of
 * list (NULL: none) are left alone. */
struct KeyList;
int merge_element_attributes(XmlState *nDoc, const char *Xpath, xmlNodePtr n_node, xmlNodePtr o_node,
                             xmlNodePtr d_node, const struct KeyList *list);

/*
 * The walk's calls for the entries of declared lists.  merge_entry, at an
 * entry of D: one that N has is entered (its attributes other than the
 * key decided as settings); one that only O and D have was removed by the
 * release and is passed over; one that only D has is the user's, copied
 * whole into N beside the D entry before it (or left out with -p) and
 * passed over.  merge_list_end, at the end of a list's parent in D: N's
 * entries that D lacks and O has equal were deleted by the user, and go.
 */
int merge_entry(XmlState *nDoc, XmlState *oDoc, char *Xpath, xmlTextReaderPtr reader, const struct KeyList *list);
int merge_list_end(XmlState *nDoc, XmlState *oDoc, const char *Xpath, const struct KeyList *list);
/* Forgets the entries of the last merge. */
void reset_entries(void);

/*
 * The lists matched by content (match="content"), each list instance
 * merged whole as a sequence of entries.  merge_content_entry, at an entry
 * of D, keeps a copy of it for its list instance and passes over it;
 * merge_content_list, at the end of the list's parent in D (Xpath its
 * path), merges O's, N's and D's entries of the instance into N.  0, or
 * non-zero to fail the walk.  reset_content_lists forgets what was kept.
 */
int merge_content_entry(const char *Xpath, xmlTextReaderPtr reader);
int merge_content_list(XmlState *nDoc, XmlState *oDoc, const char *Xpath, const struct KeyList *list);
void reset_content_lists(void);

/* Whether node, an entry of N, or an element inside it has a PRI beginning
 * with 1: the release forces the entry. */
int merge_holds_pri(xmlNodePtr node);

/* Whether two elements have the same content: names and namespaces,
 * attributes as a set (PRI aside), text (CDATA as text) and children in
 * order; comments and whitespace between elements do not count. */
int merge_entries_equal(xmlNodePtr a, xmlNodePtr b);
/* A hash of that content: equal entries have equal hashes. */
uint64_t merge_entry_hash(xmlNodePtr node);

/* Counts a setting that --conflicts=fail refused: the merge then saves
 * nothing. */
void merge_refuse_setting(void);

/* Leaf callback of the walk in merge mode: 0 settled, 1 failure. */
int merge_and_update(XmlState *nDoc, XmlState *oDoc, char *Xpath, char *nXpath, xmlTextReaderPtr reader);

/*
 * 0 when doc holds an element at path whose attributes match the walked
 * element's (mapAttr), 1 when not.  With proceed_on_mismatch set, an
 * element with other attributes sends the search on to the next positional
 * index of the last step.  label names the document in the trace.
 */
int check_node_in_doc(XmlState *doc, const char *path, const char *label, int proceed_on_mismatch);

/*
 * Makes sure the walked element exists in the output document doc, with
 * any missing ancestors, and gives it value (or, when value is NULL, the
 * reader's text; no text empties it).  When doc holds an element of the
 * same name but other attributes at the walked position, the element goes
 * to the next index: Xpath (XPATH_BUF_SIZE bytes) is rewritten in place
 * and the extra occurrence recorded in mapXpath, so that later siblings of
 * the walk stay in step with doc.  0, or 1 when creating or setting failed.
 */
int add_node_or_set_content(XmlState *doc, char *Xpath, xmlTextReaderPtr reader, const char *value);

/*
 * Where the walk's Xpath lies in the output document: Xpath itself, or buf
 * (XPATH_BUF_SIZE bytes) holding it with the steps that
 * add_node_or_set_content created at a lower position than the walk's
 * (the release dropped siblings that D still has).  reset_placement
 * forgets those moves; each merge starts with it.
 */
char *placement_path(char *Xpath, char *buf);
void reset_placement(void);

#endif
