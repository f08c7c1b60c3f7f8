/*
 * Document store: the path resolver.
 *
 * The walk addresses every element by an absolute path of child steps such
 * as /config[1]/firewall[1]/rule[@id='17'][1]/name[1].  The library answers
 * a step by testing every sibling, which makes long keyed lists quadratic.
 * Paths of exactly that form are answered here instead: each step is a
 * plain element name, an optional attribute test [@a='v' and @b='w' ...]
 * and an optional positive position [k].  A term of the test may be a
 * child's text instead, [name='v']: a child element of that local name in
 * the element's namespace whose text, trimmed of whitespace, is v; such
 * keys are indexed like attributes.  The attribute test may end in
 * " and count(@*[name()!='PRI'])=n", and a step without one may have
 * [not(@*[name()!='PRI'])] instead: the forms in which xmlcfg's walk asks
 * for an element with exactly those attributes, PRI aside.  Everything
 * else goes to the library unchanged, errors included.  A step's name may
 * have a prefix that the handle's XPath context binds (the path namespaces
 * of xml_set_path_namespace): it then selects the elements of that local
 * name in that namespace, and an unprefixed name those in no namespace.
 *
 * The answer is the object the library would give: the same nodes in
 * document order, and the same shape of an empty result.  An empty step in
 * the middle leaves no node set at all.  An empty last step leaves an
 * allocated set whose node table exists only when the step had an
 * attribute test and some child of the right name was tested.  A path with
 * no '[' and no '@' is evaluated by the library's streaming matcher, which
 * always allocates the set and never its table when nothing matches.
 *
 * Parents with few element children are scanned.  A larger parent gets an
 * entry, made on its first lookup: its element children grouped by name in
 * document order, and per group, for each list of attribute names that a
 * test used, a table from their values to the positions of the elements
 * that hold them, in document order.  So the k-th of many entries that
 * share the same attributes is found as fast as one with a unique key.
 * The entries hang off the document's _private slot and are kept right by
 * the store's edits.
 *
 * XMLCFG_NO_INDEX set and non-empty sends every path to the library.  Built
 * with XMLDATA_CHECK_INDEX, every indexed answer is compared with the
 * library's and the process aborts on a difference.
 */
#include "xmldata.h"
#include "xmldata_index.h"
#include "xmldata_ns.h"

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <libxml/hash.h>
#include <libxml/xpathInternals.h>

#include "../common/banned.h"

/* Parents with fewer element children than this are scanned. */
#define INDEX_MIN_CHILDREN 16
/* Longest expression and most steps and attribute tests answered here. */
#define INDEX_MAX_EXPR 8192
#define INDEX_MAX_STEPS 128
#define INDEX_MAX_TERMS 16
/* Joins the names, and the values, of one key.  A test's values never
 * hold it (control characters go to the library); an element's value that
 * does makes the key unusable. */
#define KEY_SEPARATOR '\x01'

/* Positions in a group, ascending, of the elements that hold one value. */
typedef struct Positions {
    int *pos;
    int count;
    int room;
} Positions;

/* The attribute names of a test (joined by KEY_SEPARATOR), indexed over a
 * group. */
typedef struct AttrKey {
    xmlChar *name;
    int exact;                  /* counted attributes an element must have, or -1 */
    int unusable;               /* some value is not one plain text */
    xmlHashTablePtr values;     /* joined values -> Positions */
    struct AttrKey *next;
} AttrKey;

/* A parent's element children of one name, in document order. */
typedef struct NameGroup {
    xmlNodePtr *nodes;
    int count;
    int room;
    int fewest_counted;         /* counted attributes, fewest and most, */
    int most_counted;           /* of the members */
    int child_keyed;            /* some key tests a child's text */
    AttrKey *keys;
} NameGroup;

/* Entries looked up last, by a hash of the parent's address. */
#define INDEX_RECENT 64

typedef struct Recent {
    xmlNodePtr parent;
    xmlHashTablePtr entry;
} Recent;

/* Per document, in its _private slot. */
typedef struct IndexDoc {
    xmlHashTablePtr parents;    /* parent's address in hex -> name -> NameGroup */
    int child_keyed;            /* some group was keyed by a child's text */
    Recent recent[INDEX_RECENT];
} IndexDoc;

/*
 * The walk asks for the leaves of one element one after another, each by
 * its whole path.  The one element that the steps before the last selected
 * in the last answer is kept, with those steps' text, so that the next path
 * with the same steps before its last starts there.  It holds only while
 * nothing changed: every edit, and every document dropped, counts in
 * index_epoch.
 */
static unsigned long index_epoch;

static struct {
    xmlDocPtr doc;
    unsigned long epoch;
    xmlNodePtr node;
    size_t len;
    char path[INDEX_MAX_EXPR];
} last_parent;

static void index_changed(void)
{
    index_epoch++;
}

unsigned long xmldata_index_epoch(void)
{
    return index_epoch;
}

typedef struct Term {
    const char *attr;           /* an attribute's name, or a child element's */
    const char *value;
    int child;                  /* a child element's text, trimmed, is tested */
} Term;

typedef struct Step {
    const char *name;           /* the local name */
    const char *prefix;         /* NULL: no namespace */
    const xmlChar *uri;         /* the prefix's namespace */
    const char *group;          /* the key of its group: name, or {uri}name */
    size_t at;                  /* where its '/' stands in the expression */
    int position;               /* 0: none */
    int exact;                  /* counted attributes required, or -1: any */
    int nterms;
    Term terms[INDEX_MAX_TERMS];
} Step;

/* Nodes of one step; the first few live in the list itself. */
typedef struct NodeList {
    xmlNodePtr *nodes;
    int count;
    int room;
    xmlNodePtr local[8];
} NodeList;

enum { SHAPE_NODES, SHAPE_NO_SET, SHAPE_NO_TABLE, SHAPE_EMPTY_TABLE };

/* Outcome of a lookup that cannot be answered here. */
#define INDEX_GIVE_UP (-2)

static int index_switched_off(void)
{
    static int off = -1;

    if (off < 0) {
        const char *env = getenv("XMLCFG_NO_INDEX");

        off = (env && env[0] != '\0') ? 1 : 0;
    }
    return off;
}

static void list_init(NodeList *list)
{
    list->nodes = list->local;
    list->count = 0;
    list->room = (int)(sizeof(list->local) / sizeof(list->local[0]));
}

static void list_free(NodeList *list)
{
    if (list->nodes != list->local)
        free(list->nodes);
}

static int list_add(NodeList *list, xmlNodePtr node)
{
    if (list->count == list->room) {
        int room = list->room * 2;
        xmlNodePtr *grown;

        if (list->nodes == list->local) {
            grown = static_cast<xmlNodePtr *>(malloc((size_t)room * sizeof(xmlNodePtr)));
            if (grown)
                memcpy(grown, list->local, sizeof(list->local));
        } else {
            grown = static_cast<xmlNodePtr *>(realloc(list->nodes, (size_t)room * sizeof(xmlNodePtr)));
        }
        if (!grown)
            return -1;
        list->nodes = grown;
        list->room = room;
    }
    list->nodes[list->count++] = node;
    return 0;
}

/* Exact bytes; most names differ in their first one. */
static inline int same_name(const xmlChar *a, const char *b)
{
    return a && (char)a[0] == b[0] && strcmp(reinterpret_cast<const char *>(a), b) == 0;
}

/* ---- the expression ---------------------------------------------------- */

static int is_name_start(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_';
}

static int is_name_char(char c)
{
    return is_name_start(c) || (c >= '0' && c <= '9') || c == '-' || c == '.';
}

/* The attributes that count for the walk's steps, as XPath names them. */
#define COUNTED_ATTRS "@*[name()!='PRI']"
static const char no_counted_attrs[] = "[not(" COUNTED_ATTRS ")]";
static const char counted_attrs_are[] = " and count(" COUNTED_ATTRS ")=";

/* Whether p starts a test of a child's text: a plain name, then "='". */
static int child_term_at(const char *p)
{
    if (!is_name_start(*p))
        return 0;
    while (is_name_char(*p))
        p++;
    return p[0] == '=' && p[1] == '\'';
}

/* Reads a count of up to 9 digits at *p, left after it: 0, or -1. */
static int scan_count(char **p, int *n)
{
    int digits = 0;

    *n = 0;
    for (; **p >= '0' && **p <= '9'; ++*p) {
        if (++digits > 9)
            return -1;
        *n = *n * 10 + (**p - '0');
    }
    return digits ? 0 : -1;
}

/* Reads a plain name at *p; the name's end is left at *p. */
static int scan_name(char **p)
{
    char *s = *p;

    if (!is_name_start(*s))
        return -1;
    while (is_name_char(*s))
        s++;
    *p = s;
    return 0;
}

/*
 * Splits the copy of an expression into steps, cutting names and values in
 * place.  -1 for anything but the indexed form.
 */
static int parse_steps(char *p, Step *steps, int *nsteps)
{
    const char *start = p;
    char *name_end[INDEX_MAX_STEPS];
    char *prefix_end[INDEX_MAX_STEPS];
    int n = 0;
    int i;

    if (*p != '/')
        return -1;
    while (*p == '/') {
        Step *st;

        if (n == INDEX_MAX_STEPS)
            return -1;
        st = &steps[n];
        st->at = (size_t)(p - start);
        p++;
        st->name = p;
        st->prefix = NULL;
        st->position = 0;
        st->exact = -1;
        st->nterms = 0;
        if (scan_name(&p) != 0)
            return -1;
        if (p[0] == ':') {
            /* prefix:local; the prefix's end is cut with the names. */
            prefix_end[n] = p;
            st->prefix = st->name;
            st->name = ++p;
            if (scan_name(&p) != 0)
                return -1;
        } else {
            prefix_end[n] = NULL;
        }
        name_end[n++] = p;
        if (strncmp(p, no_counted_attrs, sizeof(no_counted_attrs) - 1) == 0) {
            p += sizeof(no_counted_attrs) - 1;
            st->exact = 0;
        } else if (p[0] == '[' && (p[1] == '@' || child_term_at(p + 1))) {
            p++;
            for (;;) {
                Term *t;
                char *close;

                if (st->nterms == INDEX_MAX_TERMS)
                    return -1;
                t = &st->terms[st->nterms++];
                t->child = *p != '@';
                t->attr = t->child ? p : ++p;
                if (scan_name(&p) != 0 || p[0] != '=' || p[1] != '\'')
                    return -1;
                *p = '\0';
                p += 2;
                t->value = p;
                close = strchr(p, '\'');
                if (!close)
                    return -1;
                for (; p < close; p++) {
                    unsigned char c = (unsigned char)*p;

                    if (c < 0x20 || c == 0x7f || c == '"')
                        return -1;
                }
                *p++ = '\0';
                if (*p == ']')
                    break;
                if (strncmp(p, counted_attrs_are, sizeof(counted_attrs_are) - 1) == 0) {
                    p += sizeof(counted_attrs_are) - 1;
                    if (scan_count(&p, &st->exact) != 0 || *p != ']')
                        return -1;
                    break;
                }
                if (strncmp(p, " and ", 5) != 0)
                    return -1;
                p += 5;
            }
            p++;
        }
        if (p[0] == '[' && p[1] >= '1' && p[1] <= '9') {
            int k = 0;
            int digits = 0;

            for (p++; *p >= '0' && *p <= '9'; p++) {
                if (++digits > 9)
                    return -1;
                k = k * 10 + (*p - '0');
            }
            if (*p != ']')
                return -1;
            p++;
            st->position = k;
        }
    }
    if (*p != '\0')
        return -1;
    /* The separators are no longer needed: cut the names. */
    for (i = 0; i < n; i++) {
        *name_end[i] = '\0';
        if (prefix_end[i])
            *prefix_end[i] = '\0';
    }
    *nsteps = n;
    return 0;
}

/* ---- the per-parent entries ---------------------------------------------- */

static IndexDoc *index_of(xmlDocPtr doc)
{
    return doc ? static_cast<IndexDoc *>(doc->_private) : NULL;
}

/* The key of a parent in the document's table: its address in hex. */
static void parent_key(xmlNodePtr parent, char *key, size_t size)
{
    static const char digits[] = "0123456789abcdef";
    uintptr_t v = (uintptr_t)parent;
    size_t n = 0;

    do {
        if (n + 1 < size)
            key[n++] = digits[v & 0xf];
        v >>= 4;
    } while (v);
    key[n] = '\0';
}

static void free_positions(void *payload, const xmlChar *name)
{
    Positions *p = static_cast<Positions *>(payload);

    (void)name;
    free(p->pos);
    free(p);
}

static void free_group(void *payload, const xmlChar *name)
{
    NameGroup *group = static_cast<NameGroup *>(payload);

    (void)name;
    while (group->keys) {
        AttrKey *key = group->keys;

        group->keys = key->next;
        xmlHashFree(key->values, free_positions);
        xmlFree(key->name);
        free(key);
    }
    free(group->nodes);
    free(group);
}

static void free_entry(void *payload, const xmlChar *name)
{
    (void)name;
    xmlHashFree(static_cast<xmlHashTablePtr>(payload), free_group);
}

static Recent *recent_slot(IndexDoc *ix, xmlNodePtr parent)
{
    uintptr_t v = (uintptr_t)parent;

    return &ix->recent[((v >> 4) ^ (v >> 10)) % INDEX_RECENT];
}

static void forget_parent(IndexDoc *ix, xmlNodePtr parent)
{
    Recent *slot;
    char key[32];

    if (!ix || !ix->parents || !parent || xmlHashSize(ix->parents) == 0)
        return;
    slot = recent_slot(ix, parent);
    if (slot->parent == parent) {
        slot->parent = NULL;
        slot->entry = NULL;
    }
    parent_key(parent, key, sizeof(key));
    xmlHashRemoveEntry(ix->parents, BAD_CAST key, free_entry);
}

static void forget_all(IndexDoc *ix)
{
    xmlHashFree(ix->parents, free_entry);
    ix->parents = NULL;
    memset(ix->recent, 0, sizeof(ix->recent));
}

/* Forgets the entries of node and of every element below it. */
static void forget_subtree(IndexDoc *ix, xmlNodePtr node)
{
    xmlNodePtr cur = node;

    if (!ix || !ix->parents || xmlHashSize(ix->parents) == 0)
        return;
    while (cur) {
        if (cur->type == XML_ELEMENT_NODE)
            forget_parent(ix, cur);
        if (cur->type == XML_ELEMENT_NODE && cur->children) {
            cur = cur->children;
            continue;
        }
        while (cur != node && !cur->next)
            cur = cur->parent;
        if (cur == node)
            break;
        cur = cur->next;
    }
}

void xmldata_index_drop(xmlDocPtr doc)
{
    IndexDoc *ix = index_of(doc);

    index_changed();
    if (ix) {
        xmlHashFree(ix->parents, free_entry);
        free(ix);
        doc->_private = NULL;
    }
}

/*
 * The value of an attribute as the library compares it, when that is the
 * text of its single text child (or empty); NULL when it is made of several
 * nodes, entity references for instance.
 */
static const xmlChar *plain_value(xmlAttrPtr attr)
{
    xmlNodePtr text = attr->children;

    if (!text)
        return BAD_CAST "";
    if (text->next || text->type != XML_TEXT_NODE)
        return NULL;
    return text->content ? text->content : BAD_CAST "";
}

/* 1 when element has attribute name (without namespace) of value value,
 * 0 when not, INDEX_GIVE_UP when a value cannot be compared here. */
static int attr_matches(xmlNodePtr element, const char *name, const char *value)
{
    int found = 0;

    for (xmlAttrPtr a = element->properties; a; a = a->next) {
        const xmlChar *v;

        if (a->ns || !same_name(a->name, name))
            continue;
        v = plain_value(a);
        if (!v)
            return INDEX_GIVE_UP;
        if (strcmp(reinterpret_cast<const char *>(v), value) == 0)
            found = 1;
    }
    return found;
}

/* Whether c is an element child of element named name in element's own
 * namespace: the child a test of a child's text looks at. */
static int is_key_child(xmlNodePtr c, xmlNodePtr element, const char *name)
{
    if (c->type != XML_ELEMENT_NODE || !same_name(c->name, name))
        return 0;
    if (!c->ns || !element->ns)
        return c->ns == element->ns;
    return xmlStrEqual(c->ns->href, element->ns->href);
}

static int is_xml_space(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

/* The text of c (all of it) without leading and trailing whitespace:
 * its start, with its length in *len; *owned is what to xmlFree. */
static const char *trimmed_text(xmlNodePtr c, size_t *len, xmlChar **owned)
{
    const char *t;

    *owned = NULL;
    if (!c->children)
        t = "";
    else if (!c->children->next && c->children->type == XML_TEXT_NODE && c->children->content)
        t = reinterpret_cast<const char *>(c->children->content);
    else {
        *owned = xmlNodeGetContent(c);
        t = *owned ? reinterpret_cast<const char *>(*owned) : "";
    }
    while (is_xml_space(*t))
        t++;
    *len = strlen(t);
    while (*len > 0 && is_xml_space(t[*len - 1]))
        --*len;
    return t;
}

/* 1 when some key child name of element has the text value, else 0. */
static int child_matches(xmlNodePtr element, const char *name, const char *value)
{
    size_t vlen = strlen(value);

    for (xmlNodePtr c = element->children; c; c = c->next) {
        xmlChar *owned;
        size_t len;
        const char *t;
        int same;

        if (!is_key_child(c, element, name))
            continue;
        t = trimmed_text(c, &len, &owned);
        same = len == vlen && memcmp(t, value, len) == 0;
        xmlFree(owned);
        if (same)
            return 1;
    }
    return 0;
}

/* The attributes of element that count(@*[name()!='PRI']) counts. */
static int counted_attributes(xmlNodePtr element)
{
    int n = 0;

    for (xmlAttrPtr a = element->properties; a; a = a->next) {
        if (a->ns || !same_name(a->name, "PRI"))
            n++;
    }
    return n;
}

static int terms_match(xmlNodePtr element, const Step *st, int from)
{
    for (int i = from; i < st->nterms; i++) {
        int m = st->terms[i].child ? child_matches(element, st->terms[i].attr, st->terms[i].value)
                                   : attr_matches(element, st->terms[i].attr, st->terms[i].value);

        if (m != 1)
            return m;
    }
    return st->exact < 0 || counted_attributes(element) == st->exact;
}

/* Appends to buf (of size) at *len the text and then, unless last, the
 * separator: 0, or -1 when it does not fit or holds the separator. */
static int join_part(char *buf, size_t size, size_t *len, const char *text, int last)
{
    size_t n = strlen(text);

    if (memchr(text, KEY_SEPARATOR, n) || *len + n + 2 > size)
        return -1;
    memcpy(buf + *len, text, n);
    *len += n;
    if (!last)
        buf[(*len)++] = KEY_SEPARATOR;
    buf[*len] = '\0';
    return 0;
}

/*
 * The value of element's attribute name (without namespace): 1 with *value
 * set, 0 when it has none, INDEX_GIVE_UP when it cannot be compared here
 * (not one plain text, or the name twice).
 */
static int single_value(xmlNodePtr element, const char *name, const xmlChar **value)
{
    int found = 0;

    for (xmlAttrPtr a = element->properties; a; a = a->next) {
        if (a->ns || !same_name(a->name, name))
            continue;
        *value = plain_value(a);
        if (found++ || !*value)
            return INDEX_GIVE_UP;
    }
    return found;
}

/*
 * The trimmed text of element's one key child name, copied into buf (of
 * size): 1, 0 when it has none, INDEX_GIVE_UP when it has several or the
 * text does not fit.
 */
static int single_child_text(xmlNodePtr element, const char *name, char *buf, size_t size)
{
    int found = 0;

    for (xmlNodePtr c = element->children; c; c = c->next) {
        xmlChar *owned;
        const char *t;
        size_t len;

        if (!is_key_child(c, element, name))
            continue;
        if (found++)
            return INDEX_GIVE_UP;
        t = trimmed_text(c, &len, &owned);
        if (len < size) {
            memcpy(buf, t, len);
            buf[len] = '\0';
        }
        xmlFree(owned);
        if (len >= size)
            return INDEX_GIVE_UP;
    }
    return found;
}

/* Enters element, at pos of the group, under its values of key's names;
 * an element lacking one of them, or with another number of counted
 * attributes than an exact key asks for, is not entered. */
static int key_add_at(AttrKey *key, xmlNodePtr element, int pos, Positions **added);

static int key_add(AttrKey *key, xmlNodePtr element, int pos)
{
    return key_add_at(key, element, pos, NULL);
}

/* The same, telling in *added (when not NULL) the positions that element
 * went into, or NULL when it went into none. */
static int key_add_at(AttrKey *key, xmlNodePtr element, int pos, Positions **added)
{
    char names[INDEX_MAX_EXPR];
    char joined[INDEX_MAX_EXPR];
    char text[INDEX_MAX_EXPR];
    size_t len = 0;
    size_t names_len = strlen(reinterpret_cast<const char *>(key->name));
    char *name;
    Positions *p;

    if (added)
        *added = NULL;
    /* A key's names were joined into a buffer of this size. */
    if (names_len >= sizeof(names))
        return -1;
    memcpy(names, key->name, names_len + 1);
    joined[0] = '\0';
    if (key->exact >= 0 && counted_attributes(element) != key->exact)
        return 0;
    /* No names: every element of the right count, under the empty value. */
    for (name = names[0] != '\0' ? names : NULL; name;) {
        char *sep = strchr(name, KEY_SEPARATOR);
        const xmlChar *v = NULL;
        int m;

        if (sep)
            *sep = '\0';
        /* A child's name is marked by a leading '/'. */
        if (name[0] == '/') {
            m = single_child_text(element, name + 1, text, sizeof(text));
            v = BAD_CAST text;
        } else {
            m = single_value(element, name, &v);
        }
        if (m == 0)
            return 0;
        if (m != 1 || join_part(joined, sizeof(joined), &len, reinterpret_cast<const char *>(v), !sep) != 0) {
            key->unusable = 1;
            return 0;
        }
        name = sep ? sep + 1 : NULL;
    }
    p = static_cast<Positions *>(xmlHashLookup(key->values, BAD_CAST joined));
    if (!p) {
        p = static_cast<Positions *>(calloc(1, sizeof(Positions)));
        if (!p || xmlHashAddEntry(key->values, BAD_CAST joined, p) != 0) {
            free(p);
            return -1;
        }
    }
    if (p->count == p->room) {
        int room = p->room ? p->room * 2 : 1;
        int *grown = static_cast<int *>(realloc(p->pos, (size_t)room * sizeof(int)));

        if (!grown)
            return -1;
        p->pos = grown;
        p->room = room;
    }
    p->pos[p->count++] = pos;
    if (added)
        *added = p;
    return 0;
}

/* The names of st's attribute test joined, or the values when values is
 * set: 0, or -1 when they do not fit. */
static int join_terms(const Step *st, int values, char *buf, size_t size)
{
    size_t len = 0;

    buf[0] = '\0';
    for (int i = 0; i < st->nterms; i++) {
        char marked[INDEX_MAX_EXPR];
        const char *part = values ? st->terms[i].value : st->terms[i].attr;

        if (!values && st->terms[i].child) {
            size_t n = strlen(part);

            if (n + 2 > sizeof(marked))
                return -1;
            marked[0] = '/';
            memcpy(marked + 1, part, n + 1);
            part = marked;
        }
        if (join_part(buf, size, &len, part, i == st->nterms - 1) != 0)
            return -1;
    }
    return 0;
}

/* The key of st's attribute test over group (of doc), exact the count of counted
 * attributes it needs (or -1), made and filled when missing. */
static AttrKey *group_key(xmlDocPtr doc, NameGroup *group, const Step *st, int exact)
{
    char name[INDEX_MAX_EXPR];
    AttrKey *key;

    if (join_terms(st, 0, name, sizeof(name)) != 0)
        return NULL;
    for (key = group->keys; key; key = key->next) {
        if (key->exact == exact && xmlStrEqual(key->name, BAD_CAST name))
            return key;
    }
    key = static_cast<AttrKey *>(calloc(1, sizeof(AttrKey)));
    if (!key)
        return NULL;
    key->exact = exact;
    key->name = xmlStrdup(BAD_CAST name);
    key->values = xmlHashCreate(group->count > 8 ? group->count : 8);
    if (!key->name || !key->values) {
        xmlFree(key->name);
        xmlHashFree(key->values, free_positions);
        free(key);
        return NULL;
    }
    for (int i = 0; i < st->nterms; i++)
        group->child_keyed |= st->terms[i].child;
    if (group->child_keyed && index_of(doc))
        index_of(doc)->child_keyed = 1;
    for (int i = 0; i < group->count && !key->unusable; i++) {
        if (key_add(key, group->nodes[i], i) != 0)
            key->unusable = 1;
    }
    key->next = group->keys;
    group->keys = key;
    return key;
}

/* The key of the group of elements named name in namespace uri (NULL for
 * none) into buf: name, or "{uri}name", which no name can be.  NULL when
 * it does not fit. */
static const xmlChar *group_key_of(const xmlChar *name, const xmlChar *uri, char *buf, size_t size)
{
    int n;

    if (!uri)
        return name;
    n = snprintf(buf, size, "{%s}%s", reinterpret_cast<const char *>(uri), reinterpret_cast<const char *>(name));
    return n < 0 || (size_t)n >= size ? NULL : BAD_CAST buf;
}

/* Room in group for one more member: 0, or -1 on no memory. */
static int group_make_room(NameGroup *group)
{
    int room;
    xmlNodePtr *grown;

    if (group->count < group->room)
        return 0;
    room = group->room ? group->room * 2 : 4;
    grown = static_cast<xmlNodePtr *>(realloc(group->nodes, (size_t)room * sizeof(xmlNodePtr)));
    if (!grown)
        return -1;
    group->nodes = grown;
    group->room = room;
    return 0;
}

static int group_append(xmlHashTablePtr entry, xmlNodePtr child)
{
    char buf[INDEX_MAX_EXPR];
    const xmlChar *name =
        group_key_of(child->name, child->ns ? (child->ns->href ? child->ns->href : BAD_CAST "") : NULL, buf, sizeof(buf));
    NameGroup *group = name ? static_cast<NameGroup *>(xmlHashLookup(entry, name)) : NULL;

    if (!group) {
        group = static_cast<NameGroup *>(calloc(1, sizeof(NameGroup)));
        if (!group)
            return -1;
        if (!name || xmlHashAddEntry(entry, name, group) != 0) {
            free(group);
            return -1;
        }
    }
    if (group_make_room(group) != 0)
        return -1;
    group->nodes[group->count] = child;
    int counted = counted_attributes(child);

    if (group->count == 0 || counted < group->fewest_counted)
        group->fewest_counted = counted;
    if (group->count == 0 || counted > group->most_counted)
        group->most_counted = counted;
    for (AttrKey *key = group->keys; key; key = key->next) {
        if (!key->unusable && key_add(key, child, group->count) != 0)
            key->unusable = 1;
    }
    group->count++;
    return 0;
}

static int counts_as_child(xmlNodePtr node)
{
    return node->type == XML_ELEMENT_NODE;
}

/* Whether element c has the step's name and namespace. */
static int is_named_by(xmlNodePtr c, const Step *st)
{
    if (!same_name(c->name, st->name))
        return 0;
    if (!st->uri)
        return c->ns == NULL;
    return c->ns && xmlStrEqual(c->ns->href ? c->ns->href : BAD_CAST "", st->uri);
}

/*
 * The entry of parent, its groups by name, made when missing.  NULL when it
 * could not be made.  The caller has counted at least INDEX_MIN_CHILDREN
 * element children.
 */
static xmlHashTablePtr parent_entry(xmlDocPtr doc, xmlNodePtr parent)
{
    IndexDoc *ix = index_of(doc);
    xmlHashTablePtr entry;
    char key[32];

    parent_key(parent, key, sizeof(key));
    if (ix && ix->parents) {
        entry = static_cast<xmlHashTablePtr>(xmlHashLookup(ix->parents, BAD_CAST key));
        if (entry)
            goto out;
    }
    if (!ix) {
        ix = static_cast<IndexDoc *>(calloc(1, sizeof(IndexDoc)));
        if (!ix)
            return NULL;
        doc->_private = ix;
    }
    if (!ix->parents) {
        ix->parents = xmlHashCreate(64);
        if (!ix->parents)
            return NULL;
    }
    entry = xmlHashCreateDict(8, doc->dict);
    if (!entry)
        return NULL;
    for (xmlNodePtr c = parent->children; c; c = c->next) {
        if (counts_as_child(c) && group_append(entry, c) != 0) {
            xmlHashFree(entry, free_group);
            return NULL;
        }
    }
    if (xmlHashAddEntry(ix->parents, BAD_CAST key, entry) != 0) {
        xmlHashFree(entry, free_group);
        return NULL;
    }
out:
    Recent *slot = recent_slot(ix, parent);

    slot->parent = parent;
    slot->entry = entry;
    return entry;
}

/* The group of member in the entry of list, its parent, when list has an
 * entry; *unknown set when member's group cannot be named. */
static NameGroup *entry_group(IndexDoc *ix, xmlNodePtr list, xmlNodePtr member, int *unknown)
{
    char key[32];
    char buf[INDEX_MAX_EXPR];
    xmlHashTablePtr entry;
    const xmlChar *name;

    *unknown = 0;
    if (!ix->parents || !list)
        return NULL;
    parent_key(list, key, sizeof(key));
    entry = static_cast<xmlHashTablePtr>(xmlHashLookup(ix->parents, BAD_CAST key));
    if (!entry)
        return NULL;
    name = group_key_of(member->name, member->ns ? (member->ns->href ? member->ns->href : BAD_CAST "") : NULL, buf,
                        sizeof(buf));
    if (!name) {
        *unknown = 1;
        return NULL;
    }
    return static_cast<NameGroup *>(xmlHashLookup(entry, name));
}

/* Whether one of group's keys tests a field named name: a child's text
 * when child is set, an attribute otherwise. */
static int key_names_field(const NameGroup *group, const xmlChar *name, int child)
{
    static const char separator[] = {KEY_SEPARATOR, '\0'};
    size_t want = strlen(reinterpret_cast<const char *>(name));

    for (const AttrKey *key = group->keys; key; key = key->next) {
        const char *part = reinterpret_cast<const char *>(key->name);

        for (;;) {
            size_t len = strcspn(part, separator);
            int is_child = part[0] == '/';

            if (is_child == (child != 0) && len - (size_t)is_child == want &&
                strncmp(part + is_child, reinterpret_cast<const char *>(name), want) == 0)
                return 1;
            if (part[len] == '\0')
                break;
            part += len + 1;
        }
    }
    return 0;
}

/*
 * An edit inside an element can change the key of an entry above it, when
 * a key tests a child's text.  From node up, the entry of a list is
 * forgotten when the edit is inside a member's key child, or when node is
 * itself a member whose content changes (content set).  Edits elsewhere in an entry
 * leave the list's lookup as it is.
 */
static void forget_keyed_ancestors(IndexDoc *ix, xmlNodePtr node, int content)
{
    NameGroup *group;
    int unknown;

    if (!ix->child_keyed)
        return;
    if (content && node->type == XML_ELEMENT_NODE && node->parent) {
        group = entry_group(ix, node->parent, node, &unknown);
        if (unknown || (group && group->child_keyed))
            forget_parent(ix, node->parent);
    }
    for (xmlNodePtr y = node; y && y->parent && y->parent->parent; y = y->parent) {
        xmlNodePtr member = y->parent;

        if (!ix->parents || member->type != XML_ELEMENT_NODE)
            return;
        if (y->type != XML_ELEMENT_NODE)
            continue;
        group = entry_group(ix, member->parent, member, &unknown);
        if (unknown || (group && group->child_keyed && key_names_field(group, y->name, 1)))
            forget_parent(ix, member->parent);
    }
}

void xmldata_index_appended(xmlDocPtr doc, xmlNodePtr parent, xmlNodePtr child)
{
    IndexDoc *ix = index_of(doc);
    xmlHashTablePtr entry;
    char key[32];

    index_changed();
    if (!ix || !ix->parents || xmlHashSize(ix->parents) == 0 || !parent || !child)
        return;
    if (parent->type != XML_ELEMENT_NODE && parent->type != XML_DOCUMENT_NODE) {
        /* An attribute's value or some other node's children changed. */
        forget_all(ix);
        return;
    }
    forget_keyed_ancestors(ix, child, 0);
    if (!ix->parents)
        return;
    parent_key(parent, key, sizeof(key));
    entry = static_cast<xmlHashTablePtr>(xmlHashLookup(ix->parents, BAD_CAST key));
    if (entry && counts_as_child(child) && group_append(entry, child) != 0)
        forget_parent(ix, parent);
}

/* The element whose parent's entry holds the values of attr's element. */
static void forget_attribute(IndexDoc *ix, xmlNodePtr attr)
{
    if (attr->parent)
        forget_parent(ix, attr->parent->parent);
}

void xmldata_index_content_changing(xmlDocPtr doc, xmlNodePtr node)
{
    IndexDoc *ix = index_of(doc);

    index_changed();
    if (!ix || !ix->parents || !node)
        return;
    forget_keyed_ancestors(ix, node, 1);
    if (!ix->parents)
        return;
    switch (node->type) {
    case XML_ELEMENT_NODE:
        forget_subtree(ix, node);
        break;
    case XML_ATTRIBUTE_NODE:
        forget_attribute(ix, node);
        break;
    case XML_TEXT_NODE:
    case XML_CDATA_SECTION_NODE:
    case XML_COMMENT_NODE:
    case XML_PI_NODE:
        if (node->parent && node->parent->type == XML_ATTRIBUTE_NODE)
            forget_attribute(ix, node->parent);
        break;
    default:
        forget_all(ix);
        break;
    }
}

/* Moves every position of a value at or after from by delta; with gone
 * set, the position gone is dropped first. */
typedef struct Shift {
    int from;
    int delta;
    int gone;
} Shift;

static void shift_positions(void *payload, void *data, const xmlChar *name)
{
    Positions *p = static_cast<Positions *>(payload);
    const Shift *sh = static_cast<const Shift *>(data);
    int kept = 0;

    (void)name;
    for (int i = 0; i < p->count; i++) {
        int v = p->pos[i];

        if (sh->gone >= 0 && v == sh->gone)
            continue;
        p->pos[kept++] = v >= sh->from ? v + sh->delta : v;
    }
    p->count = kept;
}

/* The group of parent's entry that element belongs to, NULL when parent
 * has no entry (*ok set: nothing to keep right) or it has no such group. */
static NameGroup *group_of(IndexDoc *ix, xmlNodePtr parent, xmlNodePtr element, int *ok)
{
    char key[32];
    char buf[INDEX_MAX_EXPR];
    xmlHashTablePtr entry;
    const xmlChar *name;

    *ok = 0;
    parent_key(parent, key, sizeof(key));
    entry = static_cast<xmlHashTablePtr>(xmlHashLookup(ix->parents, BAD_CAST key));
    if (!entry) {
        *ok = 1;
        return NULL;
    }
    name = group_key_of(element->name, element->ns ? (element->ns->href ? element->ns->href : BAD_CAST "") : NULL,
                        buf, sizeof(buf));
    return name ? static_cast<NameGroup *>(xmlHashLookup(entry, name)) : NULL;
}

/* Whether a and b are elements of the same group. */
static int same_group(xmlNodePtr a, xmlNodePtr b)
{
    if (a->type != XML_ELEMENT_NODE || !xmlStrEqual(a->name, b->name))
        return 0;
    if (!a->ns || !b->ns)
        return !a->ns && !b->ns;
    return xmlStrEqual(a->ns->href ? a->ns->href : BAD_CAST "", b->ns->href ? b->ns->href : BAD_CAST "");
}

/* Enters child, just put into parent, into parent's entry where it stands:
 * 0, or -1 when the entry has to be made again. */
static int enter_inserted(IndexDoc *ix, xmlNodePtr parent, xmlNodePtr child)
{
    int ok;
    NameGroup *group = group_of(ix, parent, child, &ok);
    xmlNodePtr prev = child->prev;
    int at = 0;
    int counted;

    if (!group)
        return ok ? 0 : -1;
    while (prev && !same_group(prev, child))
        prev = prev->prev;
    if (prev) {
        for (at = group->count - 1; at >= 0 && group->nodes[at] != prev; at--)
            ;
        if (at < 0)
            return -1;
        at++;
    }
    if (group_make_room(group) != 0)
        return -1;
    memmove(group->nodes + at + 1, group->nodes + at, (size_t)(group->count - at) * sizeof(xmlNodePtr));
    group->nodes[at] = child;
    group->count++;
    counted = counted_attributes(child);
    if (counted < group->fewest_counted)
        group->fewest_counted = counted;
    if (counted > group->most_counted)
        group->most_counted = counted;
    for (AttrKey *key = group->keys; key; key = key->next) {
        Shift sh = {at, 1, -1};
        Positions *p;

        if (key->unusable)
            continue;
        xmlHashScan(key->values, shift_positions, &sh);
        if (key_add_at(key, child, at, &p) != 0) {
            key->unusable = 1;
            continue;
        }
        /* In ascending order, where the value's other positions are. */
        for (int i = p ? p->count - 1 : 0; i > 0 && p->pos[i - 1] > p->pos[i]; i--) {
            int t = p->pos[i];

            p->pos[i] = p->pos[i - 1];
            p->pos[i - 1] = t;
        }
    }
    return 0;
}

/* Takes element, about to be removed from parent, out of parent's entry:
 * 0, or -1 when the entry has to be made again. */
static int leave_removed(IndexDoc *ix, xmlNodePtr parent, xmlNodePtr element)
{
    int ok;
    NameGroup *group = group_of(ix, parent, element, &ok);
    int at;

    if (!group)
        return ok ? 0 : -1;
    for (at = group->count - 1; at >= 0 && group->nodes[at] != element; at--)
        ;
    if (at < 0)
        return -1;
    memmove(group->nodes + at, group->nodes + at + 1, (size_t)(group->count - at - 1) * sizeof(xmlNodePtr));
    group->count--;
    /* The counts of attributes stay as wide as they were: a range wider
     * than the members' only passes up a shortcut. */
    for (AttrKey *key = group->keys; key; key = key->next) {
        Shift sh = {at + 1, -1, at};

        xmlHashScan(key->values, shift_positions, &sh);
    }
    return 0;
}

void xmldata_index_inserted(xmlDocPtr doc, xmlNodePtr parent, xmlNodePtr child)
{
    IndexDoc *ix = index_of(doc);

    index_changed();
    if (!ix || !ix->parents || !parent)
        return;
    forget_keyed_ancestors(ix, parent, 1);
    if (ix->parents && (!child || child->parent != parent || child->type != XML_ELEMENT_NODE ||
                        enter_inserted(ix, parent, child) != 0))
        forget_parent(ix, parent);
}

void xmldata_index_attribute_changing(xmlDocPtr doc, xmlNodePtr element, xmlNsPtr ns, const char *local, int stays)
{
    IndexDoc *ix = index_of(doc);
    NameGroup *group;
    int unknown;
    int had = 0;

    index_changed();
    if (!ix || !ix->parents || !element || !local)
        return;
    /* The element's parent keeps the values of its attributes, and the
     * number of them, for the keys that test them.  A new value of an
     * attribute that no key tests changes neither. */
    group = element->parent ? entry_group(ix, element->parent, element, &unknown) : NULL;
    if (!group && !unknown)
        return;
    for (xmlAttrPtr a = element->properties; a && !had; a = a->next)
        had = !a->ns && same_name(a->name, local);
    if (unknown || ns || had != (stays != 0) ||
        key_names_field(group, BAD_CAST local, 0))
        forget_parent(ix, element->parent);
}

void xmldata_index_removing(xmlDocPtr doc, xmlNodePtr node)
{
    IndexDoc *ix = index_of(doc);

    index_changed();
    if (!ix || !ix->parents || !node)
        return;
    forget_keyed_ancestors(ix, node, 0);
    if (!ix->parents)
        return;
    if (node->type == XML_ELEMENT_NODE) {
        forget_subtree(ix, node);
        if (!ix->parents || !node->parent || leave_removed(ix, node->parent, node) != 0)
            forget_parent(ix, node->parent);
        if (node->parent && node->parent->type == XML_ATTRIBUTE_NODE)
            forget_attribute(ix, node->parent);
    } else {
        xmldata_index_content_changing(doc, node);
    }
}

/* ---- evaluation ---------------------------------------------------------- */

/*
 * Tests one candidate child c against the step's attribute test and counts
 * it towards the step's position: 0 to go on, 1 when the step is answered
 * (its position was reached), -1 on no memory, INDEX_GIVE_UP when the
 * library has to answer.
 */
static int take_if_match(xmlNodePtr c, const Step *st, int *seen, NodeList *out)
{
    int m = terms_match(c, st, 0);

    if (m == INDEX_GIVE_UP)
        return m;
    if (m != 1 || ++*seen < st->position)
        return 0;
    if (list_add(out, c) != 0)
        return -1;
    return st->position ? 1 : 0;
}

/*
 * Appends to out what step st selects below parent.  *tested is set when a
 * child of the step's name was tested against an attribute test.  0, -1 on
 * no memory, INDEX_GIVE_UP when the library has to answer.
 */
static int select_children(xmlDocPtr doc, xmlNodePtr parent, const Step *st, NodeList *out, int *tested)
{
    IndexDoc *ix = index_of(doc);
    xmlHashTablePtr entry = NULL;
    int elements = 0;
    int seen = 0;

    if (ix) {
        Recent *slot = recent_slot(ix, parent);

        if (slot->parent == parent) {
            entry = slot->entry;
            elements = INDEX_MIN_CHILDREN;
        }
    }
    for (xmlNodePtr c = parent->children; c && elements < INDEX_MIN_CHILDREN; c = c->next) {
        if (counts_as_child(c))
            elements++;
    }
    if (elements < INDEX_MIN_CHILDREN) {
        /* A small parent is scanned. */
        for (xmlNodePtr c = parent->children; c; c = c->next) {
            int m;

            if (!counts_as_child(c) || !is_named_by(c, st))
                continue;
            if (st->nterms > 0 || st->exact >= 0)
                *tested = 1;
            m = take_if_match(c, st, &seen, out);
            if (m != 0)
                return m > 0 ? 0 : m;
        }
        return 0;
    }
    if (!entry)
        entry = parent_entry(doc, parent);
    if (!entry)
        return INDEX_GIVE_UP;

    NameGroup *group = static_cast<NameGroup *>(xmlHashLookup(entry, BAD_CAST st->group));

    if (!group || group->count == 0)
        return 0;
    if (st->nterms > 0 || st->exact >= 0)
        *tested = 1;
    /* A count that every member has asks for nothing more. */
    int exact = st->exact;

    if (exact >= 0 && group->fewest_counted == exact && group->most_counted == exact)
        exact = -1;
    if (st->nterms == 0 && exact < 0) {
        if (st->position)
            return st->position <= group->count ? list_add(out, group->nodes[st->position - 1]) : 0;
        for (int i = 0; i < group->count; i++) {
            if (list_add(out, group->nodes[i]) != 0)
                return -1;
        }
        return 0;
    }

    AttrKey *key = group_key(doc, group, st, exact);
    char values[INDEX_MAX_EXPR];
    Positions *hit;

    if (!key || key->unusable || join_terms(st, 1, values, sizeof(values)) != 0)
        return INDEX_GIVE_UP;
    hit = static_cast<Positions *>(xmlHashLookup(key->values, BAD_CAST values));
    if (!hit)
        return 0;
    if (st->position)
        return st->position <= hit->count ? list_add(out, group->nodes[hit->pos[st->position - 1]]) : 0;
    for (int i = 0; i < hit->count; i++) {
        if (list_add(out, group->nodes[hit->pos[i]]) != 0)
            return -1;
    }
    return 0;
}

/* The result object for found nodes or an empty answer of shape. */
static xmlXPathObjectPtr wrap_answer(xmlDocPtr doc, const NodeList *found, int shape)
{
    xmlNodeSetPtr set = NULL;

    if (shape == SHAPE_NO_SET)
        return xmlXPathWrapNodeSet(NULL);
    if (shape == SHAPE_EMPTY_TABLE) {
        set = xmlXPathNodeSetCreate(reinterpret_cast<xmlNodePtr>(doc));
        if (set) {
            set->nodeTab[0] = NULL;
            set->nodeNr = 0;
        }
    } else {
        set = xmlXPathNodeSetCreate(NULL);
        for (int i = 0; set && i < found->count; i++) {
            if (xmlXPathNodeSetAddUnique(set, found->nodes[i]) != 0) {
                xmlXPathFreeNodeSet(set);
                set = NULL;
            }
        }
    }
    if (!set)
        return NULL;
    return xmlXPathWrapNodeSet(set);
}

/*
 * Answers the parsed path: the result object, or NULL when the library has
 * to answer.  streamed: the library would match the path by streaming.
 */
static xmlXPathObjectPtr resolve(xmlDocPtr doc, const Step *steps, int nsteps, int streamed, const char *expr)
{
    NodeList lists[2];
    NodeList *cur = &lists[0];
    NodeList *next = &lists[1];
    xmlXPathObjectPtr res = NULL;
    int shape = SHAPE_NODES;
    int first = 0;
    size_t before_last = nsteps > 1 ? steps[nsteps - 1].at : 0;

    list_init(&lists[0]);
    list_init(&lists[1]);
    if (nsteps > 1 && last_parent.node && last_parent.doc == doc && last_parent.epoch == index_epoch &&
        last_parent.len == before_last && memcmp(last_parent.path, expr, before_last) == 0) {
        list_add(cur, last_parent.node);
        first = nsteps - 1;
    } else {
        list_add(cur, reinterpret_cast<xmlNodePtr>(doc));
    }
    for (int s = first; s < nsteps; s++) {
        int tested = 0;

        next->count = 0;
        for (int i = 0; i < cur->count; i++) {
            if (select_children(doc, cur->nodes[i], &steps[s], next, &tested) != 0)
                goto out;
        }
        NodeList *swap = cur;

        cur = next;
        next = swap;
        if (s == nsteps - 2 && s >= first && cur->count == 1 && before_last < sizeof(last_parent.path)) {
            last_parent.doc = doc;
            last_parent.epoch = index_epoch;
            last_parent.node = cur->nodes[0];
            last_parent.len = before_last;
            memcpy(last_parent.path, expr, before_last);
        }
        if (cur->count == 0) {
            if (streamed)
                shape = SHAPE_NO_TABLE;
            else if (s < nsteps - 1)
                shape = SHAPE_NO_SET;
            else
                shape = tested ? SHAPE_EMPTY_TABLE : SHAPE_NO_TABLE;
            break;
        }
    }
    res = wrap_answer(doc, cur, shape);
out:
    list_free(&lists[0]);
    list_free(&lists[1]);
    return res;
}

/*
 * The namespace of each prefixed step, as ctxt binds its prefix, and each
 * step's group key, written into keys (size bytes).  *prefixed is set when
 * a step has a prefix.  0, or -1 when a prefix is not bound (the library
 * reports that) or the keys do not fit.
 */
static int step_namespaces(xmlXPathContextPtr ctxt, Step *steps, int nsteps, char *keys, size_t size, int *prefixed)
{
    size_t used = 0;

    for (int i = 0; i < nsteps; i++) {
        Step *st = &steps[i];
        const xmlChar *key;

        st->uri = NULL;
        st->group = st->name;
        if (!st->prefix)
            continue;
        *prefixed = 1;
        st->uri = xmlXPathNsLookup(ctxt, BAD_CAST st->prefix);
        if (!st->uri)
            return -1;
        key = group_key_of(BAD_CAST st->name, st->uri, keys + used, size - used);
        if (!key)
            return -1;
        st->group = reinterpret_cast<const char *>(key);
        used += strlen(st->group) + 1;
    }
    return 0;
}

/*
 * The library compares a child's text whole, while a test of a child's
 * text here, [name='v'], leaves out its leading and trailing whitespace and
 * looks at children in the element's own namespace.  Where the library
 * answers such a path, it is asked the same in its own terms:
 *   [*[local-name()='name' and namespace-uri()=namespace-uri(..)]
 *     [contains(.,'v') and normalize-space(substring-before(.,'v'))=''
 *      and normalize-space(.)=normalize-space('v')]]
 * (what comes before the first v is whitespace, and with whitespace
 * collapsed the text is v, so what follows it is whitespace too); a v
 * with whitespace at either end is false().  Returns
 * buf, or xpath itself when it tests no child's text or the form does not
 * fit.
 */
static const char *library_form(const char *xpath, char *buf, size_t size)
{
    static const char any[] = "*[local-name()='";
    static const char same_ns[] = "' and namespace-uri()=namespace-uri(..)][contains(.,";
    static const char before[] = ") and normalize-space(substring-before(.,";
    static const char collapsed[] = "))='' and normalize-space(.)=normalize-space(";
    size_t used = 0;
    int fits = 1;
    int depth = 0;
    int tests = 0;
    const char *p = xpath;

    buf[0] = '\0';
    while (*p) {
        const char *name = p;
        const char *close;
        size_t name_len;

        if (*p == '\'' || *p == '"') {
            close = strchr(p + 1, *p);
            if (!close)
                return xpath;
            fits &= xmldata_put(buf, size, &used, p, (size_t)(close + 1 - p)) == 0;
            p = close + 1;
            continue;
        }
        if (*p == '[' || *p == ']') {
            depth += *p == '[' ? 1 : -1;
            fits &= xmldata_put(buf, size, &used, p++, 1) == 0;
            continue;
        }
        /* A term of a step's own predicate: after its '[' or an " and ". */
        if (depth == 1 && is_name_start(*p) &&
            (p[-1] == '[' || (p - xpath >= 5 && strncmp(p - 5, " and ", 5) == 0)) && child_term_at(p)) {
            while (is_name_char(*p))
                p++;
            name_len = (size_t)(p - name);
            close = strchr(p + 2, '\'');
            if (!close)
                return xpath;
            p++;   /* at the literal */
            if (close > p + 1 && (is_xml_space(p[1]) || is_xml_space(close[-1]))) {
                /* Trimmed text never has whitespace at either end. */
                fits &= xmldata_put(buf, size, &used, "false()", 7) == 0;
                p = close + 1;
                tests++;
                continue;
            }
            fits &= xmldata_put(buf, size, &used, any, sizeof(any) - 1) == 0;
            fits &= xmldata_put(buf, size, &used, name, name_len) == 0;
            fits &= xmldata_put(buf, size, &used, same_ns, sizeof(same_ns) - 1) == 0;
            fits &= xmldata_put(buf, size, &used, p, (size_t)(close + 1 - p)) == 0;
            fits &= xmldata_put(buf, size, &used, before, sizeof(before) - 1) == 0;
            fits &= xmldata_put(buf, size, &used, p, (size_t)(close + 1 - p)) == 0;
            fits &= xmldata_put(buf, size, &used, collapsed, sizeof(collapsed) - 1) == 0;
            fits &= xmldata_put(buf, size, &used, p, (size_t)(close + 1 - p)) == 0;
            fits &= xmldata_put(buf, size, &used, ")]", 2) == 0;
            p = close + 1;
            tests++;
            continue;
        }
        fits &= xmldata_put(buf, size, &used, p++, 1) == 0;
    }
    return tests > 0 && fits ? buf : xpath;
}

#ifdef XMLDATA_CHECK_INDEX
static int same_answer(xmlXPathObjectPtr a, xmlXPathObjectPtr b)
{
    xmlNodeSetPtr x;
    xmlNodeSetPtr y;

    if (!a || !b || a->type != XPATH_NODESET || b->type != XPATH_NODESET)
        return 0;
    x = a->nodesetval;
    y = b->nodesetval;
    if (!x || !y)
        return x == y;
    if ((x->nodeTab == NULL) != (y->nodeTab == NULL) || x->nodeNr != y->nodeNr)
        return 0;
    for (int i = 0; i < x->nodeNr; i++) {
        if (x->nodeTab[i] != y->nodeTab[i])
            return 0;
    }
    return 1;
}

/* Aborts unless the library gives the same answer for xpath. */
static void check_answer(XmlState *state, const char *xpath, xmlXPathObjectPtr mine)
{
    char form[3 * INDEX_MAX_EXPR];
    xmlXPathObjectPtr lib = xmlXPathEvalExpression(BAD_CAST library_form(xpath, form, sizeof(form)), state->pCtxt);

    if (!same_answer(mine, lib)) {
        fprintf(stderr, "xml_eval_xpath: the index and the library differ on %s\n", xpath);
        abort();
    }
    xmlXPathFreeObject(lib);
}
#endif

extern "C" xmlXPathObjectPtr xml_eval_xpath(XmlState *state, const char *xpath)
{
    char copy[INDEX_MAX_EXPR];
    char in_ns[2 * INDEX_MAX_EXPR];
    char keys[2 * INDEX_MAX_EXPR];
    int prefixed = 0;
    Step steps[INDEX_MAX_STEPS];
    xmlXPathObjectPtr res = NULL;
    int nsteps = 0;
    size_t len;

    if (!state || !xpath)
        return NULL;
    /* The steps in the namespaces of the file being walked, if any. */
    xpath = xmldata_ns_path(state, xpath, in_ns, sizeof(in_ns));
    if (!state->pDoc || !state->pCtxt || state->pCtxt->doc != state->pDoc || index_switched_off())
        goto library;
    len = strlen(xpath);
    if (len >= sizeof(copy))
        goto library;
    memcpy(copy, xpath, len + 1);
    if (parse_steps(copy, steps, &nsteps) != 0 || step_namespaces(state->pCtxt, steps, nsteps, keys, sizeof(keys), &prefixed) != 0)
        goto library;
    /* The library matches paths without '[', '@' and prefixes by
     * streaming. */
    res = resolve(state->pDoc, steps, nsteps, !strchr(xpath, '[') && !strchr(xpath, '@') && !prefixed, xpath);
    if (!res)
        goto library;
#ifdef XMLDATA_CHECK_INDEX
    check_answer(state, xpath, res);
#endif
    return res;

library:
    return xmlXPathEvalExpression(BAD_CAST library_form(xpath, keys, sizeof(keys)), state->pCtxt);
}
