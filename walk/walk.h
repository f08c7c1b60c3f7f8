/*
 * The element walk: turns the reader's node stream into exact XPaths and
 * hands every leaf to the running mode.
 *
 * Every element of the walked file gets a step "name[@a='x' and @b='y']"
 * (PRI left out) with a positional index counted per parent instance in
 * mapXpath, for example /config[1]/apn[@id='2'][1]; the root element's step
 * is its name alone, its attributes being settings.  nXpath follows the
 * same element in the compared document and is only logged.
 */
#ifndef XMLCFG_WALK_H
#define XMLCFG_WALK_H

#include <map>
#include <unordered_map>
#include <string>

#include <libxml/xmlreader.h>

#include "../xmldata/xmldata.h"

/* Size of the walk paths and of an element step, terminator included. */
#define XPATH_BUF_SIZE 1024

/* The most recently started element's name, as the reader gave it. */
extern xmlChar *current_tag;

/* Occurrence counts keyed by a path whose last step has no index yet. */
extern std::unordered_map<std::string, int> mapXpath;
extern std::unordered_map<std::string, int> mapNXpath;
/* Attributes (except PRI) of the most recently started element. */
extern std::map<std::string, std::string> mapAttr;
/* The namespaces of its prefixed attributes, by the names in mapAttr. */
extern std::map<std::string, std::string> mapAttrNs;

/*
 * What the running mode does with what the walk finds; the merge and the
 * delta each hand theirs to streamFile, and the walk calls nothing else.
 *   leaf          a leaf's value (text, CDATA, an empty or mixed element):
 *                 0 settled, non-zero fails the walk
 *   root          the walked file's root element, Xpath its path, once
 *                 its step is on: 0, or non-zero to fail the walk
 *   element_seen  every node outside a mixed leaf, before the walk takes
 *                 it (NULL: nothing to tell)
 *   leaf_name     what the error line of a failed empty or mixed leaf
 *                 calls the leaf callback, "name()"
 */
struct KeyList;
typedef struct WalkCallbacks {
    int (*leaf)(XmlState *nDoc, XmlState *oDoc, char *Xpath, char *nXpath, xmlTextReaderPtr reader);
    int (*root)(XmlState *nDoc, XmlState *oDoc, const char *Xpath, xmlTextReaderPtr reader);
    void (*element_seen)(xmlTextReaderPtr reader);
    const char *leaf_name;
    /* An entry of a declared list, Xpath its keyed path, once its step is
     * on: WALK_ENTER to walk its inside, WALK_SKIP to pass over it, or
     * WALK_FAIL.  NULL: every entry is entered. */
    int (*entry)(XmlState *nDoc, XmlState *oDoc, char *Xpath, xmlTextReaderPtr reader, const struct KeyList *list);
    /* The end of an element whose children are entries of list, Xpath
     * that element's path: 0, or non-zero to fail the walk.  NULL: nothing
     * to do. */
    int (*list_end)(XmlState *nDoc, XmlState *oDoc, const char *Xpath, const struct KeyList *list);
} WalkCallbacks;
enum { WALK_ENTER = 0, WALK_FAIL = 1, WALK_SKIP = 2 };

/* The table processNode calls through; streamFile sets it for its walk. */
void walk_set_callbacks(const WalkCallbacks *callbacks);

/* Hands the walk the lists of the keys file (NULL: none); they stay the
 * caller's and must outlive the run. */
struct KeyLists;
void walk_set_lists(const struct KeyLists *lists);
/* The declared lists, or NULL when the run has none. */
const struct KeyLists *walk_lists(void);
/* The file the walk reads, for its error lines. */
void walk_set_file(const char *file);
/*
 * Checks, before a run, that every entry of a declared list in doc (read
 * from file) has its key fields, usable and unique within its list: 0, or
 * 1 after the error line of the first entry that cannot be matched.
 * Leaves the walk's state empty.
 */
int walk_check_lists(XmlState *doc, const char *file);
/* Whether the step [step, end) of path, a step of the walk, is the keyed
 * step of an entry of a declared list. */
int walk_step_is_keyed(const char *path, const char *step, const char *end);

/* Empties the maps and releases current_tag: each driver starts a run
 * from this state, also when one process runs several. */
void reset_walk_state(void);

/* Reader-node handler: 0 to go on, non-zero stops the walk. */
int processNode(xmlTextReaderPtr reader, char *Xpath, char *nXpath, XmlState *nDoc, XmlState *oDoc);
/* Leaf callback for an empty or self-closing element: 0, or 1 on failure. */
int process_tag_early(xmlTextReaderPtr reader, char *Xpath, char *nXpath, XmlState *nDoc, XmlState *oDoc);
/* While a leaf callback runs on an element with mixed content, the
 * leaf's value is that element's whole inner markup; otherwise it is the
 * reader's value.  walk_leaf_value hands out D's value (xmlFree it, NULL
 * for an element without text); walk_copy_value copies doc's value at
 * xpath in the same form (free it): 0, or -1 when there is none. */
xmlChar *walk_leaf_value(xmlTextReaderPtr reader);
int walk_copy_value(XmlState *doc, const char *xpath, char **out);
/* Sets doc's value at xpath in that form: 0, or -1. */
int walk_set_value(XmlState *doc, const char *xpath, const char *value);
/* 1 while the walk reads the inside of a leaf with mixed content, where
 * nothing is a setting of its own. */
int walk_inside_leaf(xmlTextReaderPtr reader);
/* Cuts the last step (with its predicates) off path, in place. */
void remove_last_step(char *path);

/* Where the parent's part of path, a path the walk built, ends (as
 * xml_path_parent_len says), found from the end when the last step is a
 * name with positions only. */
int walk_parent_len(const char *path);
void add_attr_to_map(const char *name, const char *value);

/* Extends Xpath and nXpath by one indexed step; step is used as scratch.
 * 0, or -1 (with an error line, Xpath as it was) when the indexed step does
 * not fit in Xpath. */
int find_and_add_xpath_to_map(char *step, char *Xpath, char *nXpath, XmlState *nDoc, const xmlChar *tag);
/* Appends "/step" to path, leaving room for an index: 0, or -1 when it does
 * not fit whole (path unchanged). */
int append_xpath_step(const char *step, char *path);
/*
 * A step of the walk's path counts only same-named siblings with exactly
 * its attributes (PRI aside): c[2] is the second c without attributes,
 * c[@f='x'][1] the first c whose only attribute is f='x'.  XPath reads
 * c[2] as the second c of all, so every path of the walk is looked up in
 * a document through lookup_path, which writes each step below the root
 * so that XPath itself says what the walk means:
 *   c[k]          c[not(@*[name()!='PRI'])][k]
 *   c[@f='x'][k]  c[@f='x' and count(@*[name()!='PRI'])=1][k]
 * (a last step without a position likewise).  The root is the only
 * element of its level and stays as it is, and so does a step that is not
 * of the walk's form.  Returns buf (LOOKUP_BUF_SIZE bytes, room for any
 * path of up to XPATH_BUF_SIZE bytes), or path itself when it is no
 * absolute path or has nothing to rewrite.
 */
#define LOOKUP_BUF_SIZE 8192
const char *lookup_path(const char *path, char *buf);

/* Adds one occurrence of path in mapXpath. */
void add_to_map(const char *path);
/* Raises the trailing [k] of path to [k+1]: 0, -1 when there is none, -2
 * when the raised index does not fit (path unchanged either way). */
int increment_xpath_index(char *path, int record);
/* 0 when a node of xpath, a path of the walk (looked up through
 * lookup_path), at or after position start matches mapAttr; the root
 * element (a path of one step) by its name alone. */
int xpath_compare_attr(XmlState *state, const char *xpath, int start);
/* 0 when the node's attribute names (PRI aside) are all keys of mapAttr. */
int match_node_attributes(xmlAttrPtr pAttr);

/*
 * The attributes of an element that are settings (PRI aside; those in a
 * namespace only with with_ns), in the order of their names as the file
 * writes them ("prefix:local" in a namespace).  attribute_name_after puts
 * into best (size bytes) the first such name of node after `after` ("" for
 * the first of all), when it comes before best's ("" for none): called for
 * several elements, best is the next name of any of them.
 */
void attribute_name_after(xmlNodePtr node, int with_ns, const char *after, char *best, size_t size);
/* The value of node's attribute written name, for xmlFree; NULL without one. */
xmlChar *attribute_value(xmlNodePtr node, const char *name);
/* The first node xpath selects in doc, or NULL. */
xmlNodePtr first_selected(XmlState *doc, const char *xpath);

#endif
