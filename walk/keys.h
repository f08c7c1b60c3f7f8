/*
 * The keys file (-k): which lists of a configuration file have entries
 * identified by key fields, so that the merge and the delta match an entry
 * by its key wherever it stands, and not by its position.
 *
 *   <lists>
 *     <list path="/configuration/property" key="name"/>
 *     <list path="/Server/Service/Connector" key="@protocol"/>
 *   </lists>
 *
 *     <list path="/config/firewall/rule" match="content"/>
 *   </lists>
 *
 * path names a list's entries by the local names of the elements from the
 * root; key is a space-separated list of fields, each a child element's
 * name (its text, without leading and trailing whitespace) or "@" and an
 * attribute's name.  match="content" instead of a key declares a list
 * whose entries have no identifying field: an entry is known by its whole
 * content, and the list is merged as a sequence.  It is read once, before
 * any configuration file, and handed to the walk as data.
 */
#ifndef XMLCFG_KEYS_H
#define XMLCFG_KEYS_H

#include <stddef.h>

#include <libxml/tree.h>

#define KEYS_MAX_LISTS 128
#define KEYS_MAX_FIELDS 8
#define KEYS_NAME_SIZE 128
#define KEYS_PATH_SIZE 512

typedef struct KeyField {
    char name[KEYS_NAME_SIZE];   /* without the "@" */
    int attribute;               /* 1: an attribute, 0: a child element */
} KeyField;

typedef struct KeyList {
    char path[KEYS_PATH_SIZE];   /* "/configuration/property" */
    int depth;                   /* its steps: 2 for that one */
    int line;                    /* where the keys file declares it */
    int content;                 /* 1: match="content", no fields */
    int nfields;
    KeyField fields[KEYS_MAX_FIELDS];
} KeyList;

typedef struct KeyLists {
    int count;
    KeyList lists[KEYS_MAX_LISTS];
} KeyLists;

/* Reads file into keys: 0, or 1 after "###Error in keys file FILE line L:
 * REASON" (keys then declares nothing). */
int keys_read(const char *file, KeyLists *keys);

/* The list whose entries the path of local names path (as KeyList.path)
 * names, or NULL. */
const KeyList *keys_find(const KeyLists *keys, const char *path);

/*
 * The keyed step of entry, an element of list: its name and its key
 * predicate, fields in the keys file's order, values as XPath literals:
 * "property[name='b']", "Connector[@protocol='HTTP/1.1']".  Written into
 * step (size bytes).  0; KEYS_ENTRY_MISSING when a field is absent,
 * KEYS_ENTRY_UNUSABLE when a key child is repeated or holds elements (the
 * field's index in *field), -1 when the step does not fit.
 */
#define KEYS_ENTRY_MISSING 1
#define KEYS_ENTRY_UNUSABLE 2
int keys_entry_step(xmlNodePtr entry, const KeyList *list, char *step, size_t size, int *field);
/* The same, with entry's name under prefix (NULL or "": none) instead of
 * its own: the step of another file's entry as this file writes it. */
int keys_entry_step_as(xmlNodePtr entry, const xmlChar *prefix, const KeyList *list, char *step, size_t size,
                       int *field);

/* Whether name is one of list's key attributes (1) or not (0; list NULL:
 * none): those identify an entry and are no settings of it. */
int keys_is_key_attribute(const KeyList *list, const char *name);

#endif
