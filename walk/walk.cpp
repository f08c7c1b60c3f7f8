/*
 * The element walk: the reader's node stream becomes element steps and
 * running paths, and every leaf goes to the running mode's callback.
 */
#include "walk.h"
#include "keys.h"

#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include "../cli/console.h"

#include "../common/banned.h"

/* libxml2 text-reader node types the walk acts on. */
#define READER_ELEMENT 1
#define READER_TEXT 3
#define READER_CDATA 4
#define READER_END_ELEMENT 15

xmlChar *current_tag = NULL;

/* The running mode's callbacks, for the walk streamFile runs. */
static const WalkCallbacks *callbacks = NULL;

/* The depth of the element with mixed content whose inside the walk is
 * passing over, or -1. */
static int mixed_depth = -1;
/* What the leaf callback running now reads as the value: */
enum { LEAF_READER, LEAF_MARKUP, LEAF_TEXT };
static int mixed_leaf = LEAF_READER;

/* LEAF_MARKUP for an element with mixed content, LEAF_TEXT for one whose
 * text comes in several pieces (text and CDATA, or text around a comment),
 * which is one value: its whole text.  LEAF_READER otherwise. */
static int leaf_form(xmlNodePtr node)
{
    int pieces = 0;
    xmlNodePtr c;

    if (xml_node_is_mixed(node))
        return LEAF_MARKUP;
    for (c = node ? node->children : NULL; c; c = c->next) {
        if (c->type == XML_ELEMENT_NODE)
            return LEAF_READER;
        if (c->type == XML_TEXT_NODE || c->type == XML_CDATA_SECTION_NODE)
            pieces++;
    }
    return pieces > 1 ? LEAF_TEXT : LEAF_READER;
}

static const char *str(const xmlChar *s)
{
    return show_str(reinterpret_cast<const char *>(s));
}

/* Appends to the element step, cut at the buffer's end.  A cut step fills
 * the buffer, so it can never fit a path and fails the walk there. */
static void step_append(char *step, const char *fmt, ...) __attribute__((format(printf, 2, 3)));
static void step_append(char *step, const char *fmt, ...)
{
    size_t len = strlen(step);
    va_list ap;

    if (len >= XPATH_BUF_SIZE - 1)
        return;
    va_start(ap, fmt);
    vsnprintf(step + len, XPATH_BUF_SIZE - len, fmt, ap);
    va_end(ap);
}

/* The same for len bytes of text, cut the same way. */
static void step_put(char *step, const char *text, size_t len)
{
    size_t used = strlen(step);

    if (used >= XPATH_BUF_SIZE - 1)
        return;
    if (len > XPATH_BUF_SIZE - 1 - used)
        len = XPATH_BUF_SIZE - 1 - used;
    memcpy(step + used, text, len);
    step[used + len] = '\0';
}

static void step_puts(char *step, const char *text)
{
    step_put(step, text, strlen(text));
}

/*
 * Appends value as an XPath literal that reads back as exactly that value:
 * 'v' when it holds no apostrophe, "v" when it holds no double quote, and
 * otherwise concat() of apostrophe-quoted runs and double-quoted runs of
 * apostrophes, for example concat('a',"'",'b').
 */
static void step_append_literal(char *step, const char *value)
{
    const char *p = value;

    if (!strchr(value, '\'') || !strchr(value, '"')) {
        const char *quote = strchr(value, '\'') ? "\"" : "'";

        step_puts(step, quote);
        step_puts(step, value);
        step_puts(step, quote);
    } else {
        step_append(step, "concat(");
        while (*p) {
            size_t run = strcspn(p, "'");
            const char *quote = "'";

            if (run == 0) {
                run = strspn(p, "'");
                quote = "\"";
            }
            step_append(step, "%s%s%.*s%s", p == value ? "" : ",", quote, (int)run, p, quote);
            p += run;
        }
        step_append(step, ")");
    }
}

/*
 * Binds prefix (NULL for the default) to uri (NULL for none) in the path
 * namespaces of both documents the walk looks paths up in, the first
 * binding winning: 1 when the prefix was bound to another namespace
 * before, 0 otherwise.
 */
/* The binding register_binding made last for the documents of the walk
 * running now; a binding, once made, stays, so the same one again changes
 * nothing.  Forgotten whenever a walk starts. */
static struct {
    int valid;
    XmlState *docs[2];
    char prefix[64];
    char uri[512];
} last_binding;

static int same_binding(XmlState **docs, const char *prefix, const char *uri)
{
    return last_binding.valid && last_binding.docs[0] == docs[0] && last_binding.docs[1] == docs[1] &&
           strcmp(last_binding.prefix, prefix) == 0 && strcmp(last_binding.uri, uri) == 0;
}

static int register_binding(XmlState **docs, const xmlChar *prefix, const xmlChar *uri)
{
    const char *p = prefix ? reinterpret_cast<const char *>(prefix) : "";
    const char *u = uri ? reinterpret_cast<const char *>(uri) : "";
    int other = 0;

    if (same_binding(docs, p, u))
        return 0;
    for (int i = 0; i < 2; i++) {
        if (xml_is_loaded(docs[i]) &&
            xml_set_path_namespace(docs[i], reinterpret_cast<const char *>(prefix),
                                   reinterpret_cast<const char *>(uri)) == 1)
            other = 1;
    }
    last_binding.valid = !other && strlen(p) < sizeof(last_binding.prefix) && strlen(u) < sizeof(last_binding.uri);
    if (last_binding.valid) {
        last_binding.docs[0] = docs[0];
        last_binding.docs[1] = docs[1];
        memcpy(last_binding.prefix, p, strlen(p) + 1);
        memcpy(last_binding.uri, u, strlen(u) + 1);
    }
    return other;
}

/* The declared lists of the run, or NULL when no keys file was given. */
static const KeyLists *declared_lists = NULL;

/* The file the walk reads, for the error lines about its entries. */
static const char *walk_file = "";

/*
 * The local names of the elements from the root to the one the walk is
 * in, "/configuration/property", kept only when lists are declared:
 * names_end[d] is where the names of the element at depth d end, or
 * NAMES_UNKNOWN below a depth or length the buffer cannot hold (no list
 * is that deep).
 */
#define NAMES_MAX_DEPTH 512
#define NAMES_UNKNOWN ((size_t)-1)
static char names[KEYS_PATH_SIZE];
static size_t names_end[NAMES_MAX_DEPTH];

void walk_set_lists(const KeyLists *lists)
{
    declared_lists = lists && lists->count > 0 ? lists : NULL;
}

const KeyLists *walk_lists(void)
{
    return declared_lists;
}

void walk_set_file(const char *file)
{
    walk_file = file ? file : "";
}

/* Puts the element at depth with local name local into the names path:
 * the list it is an entry of, or NULL. */
static const KeyList *enter_names(int depth, const xmlChar *local)
{
    size_t base = 0;
    size_t len;

    if (depth < 0 || depth >= NAMES_MAX_DEPTH)
        return NULL;
    if (depth > 0)
        base = names_end[depth - 1];
    len = local ? strlen(reinterpret_cast<const char *>(local)) : 0;
    if (base == NAMES_UNKNOWN || base + 1 + len >= sizeof(names)) {
        names_end[depth] = NAMES_UNKNOWN;
        return NULL;
    }
    names[base] = '/';
    memcpy(names + base + 1, local, len);
    names[base + 1 + len] = '\0';
    names_end[depth] = base + 1 + len;
    return depth > 0 ? keys_find(declared_lists, names) : NULL;
}

/* Whether list's entries are children of the element whose names path is
 * names[0, len). */
static int list_of_parent(const KeyList *list, size_t len)
{
    return strncmp(list->path, names, len) == 0 && list->path[len] == '/' && !strchr(list->path + len + 1, '/');
}

/* Tells the mode that the element at depth, Xpath its path, ends, for
 * each declared list of its children: 0, or 1 to fail the walk. */
static int end_of_lists(int depth, const char *Xpath, XmlState *nDoc, XmlState *oDoc)
{
    size_t len;

    if (!declared_lists || !callbacks->list_end || depth < 0 || depth >= NAMES_MAX_DEPTH)
        return 0;
    len = names_end[depth];
    if (len == NAMES_UNKNOWN)
        return 0;
    for (int i = 0; i < declared_lists->count; i++) {
        if (list_of_parent(&declared_lists->lists[i], len) &&
            callbacks->list_end(nDoc, oDoc, Xpath, &declared_lists->lists[i]) != 0)
            return 1;
    }
    return 0;
}

/* Whether the element at depth, node in the tree, is the parent of a
 * declared list with no entry left: no element inside and no text but
 * whitespace.  It is not an empty value but a list the user emptied, so
 * the walk goes through it and its end tells the lists that they ended. */
static int emptied_list_parent(int depth, xmlNodePtr node)
{
    size_t len;
    int holds = 0;

    if (!declared_lists || depth < 0 || depth >= NAMES_MAX_DEPTH || names_end[depth] == NAMES_UNKNOWN || !node)
        return 0;
    len = names_end[depth];
    for (int i = 0; i < declared_lists->count && !holds; i++)
        holds = list_of_parent(&declared_lists->lists[i], len);
    if (!holds)
        return 0;
    for (xmlNodePtr c = node->children; c; c = c->next) {
        if (c->type == XML_ELEMENT_NODE || c->type == XML_ENTITY_REF_NODE || c->type == XML_CDATA_SECTION_NODE)
            return 0;
        if (c->type == XML_TEXT_NODE && !xmlIsBlankNode(c))
            return 0;
    }
    return 1;
}

int walk_step_is_keyed(const char *path, const char *step, const char *end)
{
    char walked[KEYS_PATH_SIZE];
    size_t used = 0;
    const char *p = path;

    if (!declared_lists || end <= step + 1 || end[-1] != ']' || !memchr(step, '[', (size_t)(end - step)))
        return 0;
    /* The local names of the steps up to this one. */
    while (p < end && *p == '/') {
        const char *stop = p + 1 + xml_path_step_len(p + 1);
        const char *name = p + 1;
        size_t len = strcspn(name, "[/");
        const char *colon = static_cast<const char *>(memchr(name, ':', len));

        if (colon) {
            len -= (size_t)(colon + 1 - name);
            name = colon + 1;
        }
        if (used + 1 + len >= sizeof(walked))
            return 0;
        walked[used++] = '/';
        memcpy(walked + used, name, len);
        used += len;
        p = stop;
    }
    walked[used] = '\0';
    return p == end && keys_find(declared_lists, walked) != NULL;
}

void walk_set_callbacks(const WalkCallbacks *table)
{
    callbacks = table;
    last_binding.valid = 0;
}

void reset_walk_state(void)
{
    mapXpath.clear();
    mapNXpath.clear();
    mapAttr.clear();
    mapAttrNs.clear();
    if (current_tag)
        xmlFree(current_tag);
    current_tag = NULL;
    mixed_depth = -1;
    mixed_leaf = LEAF_READER;
    last_binding.valid = 0;
}

xmlChar *walk_leaf_value(xmlTextReaderPtr reader)
{
    if (!reader)
        return NULL;
    if (mixed_leaf == LEAF_MARKUP)
        return xml_node_inner_markup(xmlTextReaderExpand(reader));
    if (mixed_leaf == LEAF_TEXT)
        return xmlNodeGetContent(xmlTextReaderExpand(reader));
    return xmlTextReaderValue(reader);
}

int walk_copy_value(XmlState *doc, const char *xpath, char **out)
{
    if (mixed_leaf == LEAF_MARKUP)
        return xml_copy_node_markup(doc, xpath, out);
    return xml_copy_node_value(doc, xpath, out);
}

int walk_set_value(XmlState *doc, const char *xpath, const char *value)
{
    if (mixed_leaf == LEAF_MARKUP)
        return xml_set_node_markup(doc, xpath, value);
    return xml_set_node_value(doc, xpath, value, (int)strlen(value));
}

int walk_inside_leaf(xmlTextReaderPtr reader)
{
    return mixed_depth >= 0 && xmlTextReaderDepth(reader) > mixed_depth;
}

void add_attr_to_map(const char *name, const char *value)
{
    mapAttr[show_str(name)] = show_str(value);
}

int walk_parent_len(const char *path)
{
    size_t i = path ? strlen(path) : 0;
    int depth = 0;

    /* A path that filled its buffer may have been cut inside a literal. */
    if (!path || i >= XPATH_BUF_SIZE - 2)
        return xml_path_parent_len(path);
    /* Back over the last step: its predicates, and the literals in them,
     * which never hold their own quote. */
    while (i > 0) {
        char c = path[i - 1];

        if (depth == 0 && c == '/')
            return (int)(i - 1);
        if (c == ']') {
            depth++;
        } else if (c == '[') {
            if (depth == 0)
                break;
            depth--;
        } else if (c == '\'' || c == '"') {
            size_t open = i - 1;

            if (depth == 0)
                break;
            while (open > 0 && path[open - 1] != c)
                open--;
            if (open == 0)
                break;
            i = open;
        }
        i--;
    }
    return xml_path_parent_len(path);
}

void remove_last_step(char *path)
{
    int cut;

    if (!path)
        return;
    /* The last "/" outside predicates and quoted literals ends the parent's
     * part, so a value may hold "/", brackets or quotes of the other kind. */
    cut = walk_parent_len(path);
    path[cut > 0 ? cut : 0] = '\0';
}

int process_tag_early(xmlTextReaderPtr reader, char *Xpath, char *nXpath, XmlState *nDoc, XmlState *oDoc)
{
    if (callbacks->leaf(nDoc, oDoc, Xpath, nXpath, reader) != 0) {
        console_log(0, "%s: ###Error %s failed \n", __func__, callbacks->leaf_name);
        return 1;
    }
    return 0;
}

/*
 * Builds the element step "name[@a='x' and @b='y']" from the attributes the
 * reader presents (PRI left out) and fills mapAttr.  The root element's step
 * is its name alone: its attributes are settings, decided by the mode when
 * the walk starts it, and a changed one must not make every element below
 * it a stranger.  Returns 0, or 1 when the reader could not be moved across
 * the attributes.
 */
static int build_element_step(xmlTextReaderPtr reader, char *step, int is_root, XmlState **docs)
{
    int count = xmlTextReaderAttributeCount(reader);
    int predicate_open = 0;
    int failed = 0;
    int i;

    if (count <= 0)
        return 0;
    for (i = 0; i < count; i++) {
        xmlChar *name = NULL;
        xmlChar *value = NULL;

        if (xmlTextReaderMoveToAttributeNo(reader, i) != 1) {
            console_log(0, "%s: ###Error: xmlTextReaderMoveToAttributeNo Failed\n", "processNode");
            failed = 1;
            continue;
        }
        name = xmlTextReaderName(reader);
        if (!name)
            continue;
        value = xmlTextReaderValue(reader);
        if (xmlTextReaderIsNamespaceDecl(reader) == 1) {
            /* A declaration binds names; it is no attribute of the
             * element's, in the step or in the matching. */
        } else if (xmlStrcmp(name, BAD_CAST "PRI") == 0) {
            console_log(2, "%s: Skip PRI Attr no:%d, Name:%s, Value:%s\n", "processNode", i, str(name), str(value));
        } else {
            const xmlChar *uri = xmlTextReaderConstNamespaceUri(reader);

            /* A prefixed attribute's prefix is looked up as the walked
             * file binds it. */
            if (uri)
                register_binding(docs, xmlTextReaderConstPrefix(reader), uri);
            if (!is_root) {
                add_attr_to_map(reinterpret_cast<const char *>(name), reinterpret_cast<const char *>(value));
                if (uri)
                    mapAttrNs[str(name)] = str(uri);
                step_puts(step, predicate_open ? " and @" : "[@");
                step_puts(step, str(name));
                step_puts(step, "=");
                step_append_literal(step, str(value));
                predicate_open = 1;
            }
            console_log(2, "%s: Attribute no:%d, Name:%s, Value:%s\n", "processNode", i, str(name), str(value));
        }
        if (i == count - 1 && predicate_open)
            step_puts(step, "]");
        xmlFree(name);
        xmlFree(value);
    }
    if (xmlTextReaderMoveToElement(reader) != 1) {
        console_log(0, "%s: ###Error: xmlTextReaderMoveToElement Failed\n", "processNode");
        failed = 1;
    }
    return failed;
}

/* The field of list at index i as the keys file writes it. */
static void field_text(const KeyList *list, int i, char *buf, size_t size)
{
    snprintf(buf, size, "%s%s", list->fields[i].attribute ? "@" : "", list->fields[i].name);
}

/*
 * Makes step the keyed step of the entry the reader is at, an entry of
 * list whose parent's path is parent: 0, or 1 after the error line of an
 * entry that cannot be matched.
 */
static int keyed_entry_step(xmlTextReaderPtr reader, const KeyList *list, char *step, const char *parent)
{
    char field[KEYS_NAME_SIZE + 1];
    xmlNodePtr node = xmlTextReaderExpand(reader);
    int index = 0;
    int rc = node ? keys_entry_step(node, list, step, XPATH_BUF_SIZE, &index) : -1;

    if (rc == 0)
        return 0;
    field_text(list, index, field, sizeof(field));
    if (rc == KEYS_ENTRY_MISSING)
        console_log(0, "%s: ###Error %s: entry of list %s/%s has no key %s\n", __func__, walk_file, parent,
                    str(current_tag), field);
    else if (rc == KEYS_ENTRY_UNUSABLE)
        console_log(0, "%s: ###Error %s: entry of list %s/%s has an unusable key %s\n", __func__, walk_file, parent,
                    str(current_tag), field);
    else
        console_log(0, "%s: ###Error %s: the key of an entry of list %s/%s does not fit in a path\n", __func__,
                    walk_file, parent, str(current_tag));
    return 1;
}

/* Extends Xpath and nXpath by the keyed step: 0, or 1 when it does not fit
 * or an earlier entry of the same list instance has the same key. */
static int add_keyed_step(const char *step, char *Xpath, char *nXpath)
{
    size_t parent_len = strlen(Xpath);
    const char *values = strchr(step, '[');

    if (append_xpath_step(step, Xpath) != 0) {
        console_log(0, "%s: ###Error the step of element %s does not fit after a path of %d bytes\n", __func__,
                    str(current_tag), (int)parent_len);
        return 1;
    }
    int &seen = mapXpath[Xpath];
    if (seen) {
        /* The key's values, without the predicate's brackets. */
        console_log(0, "%s: ###Error %s: list %.*s/%s has two entries with key %.*s\n", __func__, walk_file,
                    (int)parent_len, Xpath, str(current_tag), values ? (int)strlen(values) - 2 : 0,
                    values ? values + 1 : "");
        Xpath[parent_len] = '\0';
        return 1;
    }
    seen = 1;
    append_xpath_step(step, nXpath);
    return 0;
}

/* Extends Xpath and nXpath by the step of an entry of a list matched by
 * content, its name as the file writes it and its position among the
 * entries of the same name in its list instance, "rule[2]": 0, or 1 when
 * it does not fit. */
static int add_content_step(char *Xpath, char *nXpath)
{
    char step[XPATH_BUF_SIZE];
    size_t parent_len = strlen(Xpath);
    int len = snprintf(step, sizeof(step), "%s", str(current_tag));
    int position = 0;

    if (len > 0 && (size_t)len < sizeof(step) && append_xpath_step(step, Xpath) == 0) {
        position = ++mapXpath[Xpath];
        Xpath[parent_len] = '\0';
        len = snprintf(step, sizeof(step), "%s[%d]", str(current_tag), position);
    }
    if (position == 0 || len < 0 || (size_t)len >= sizeof(step) || append_xpath_step(step, Xpath) != 0) {
        console_log(0, "%s: ###Error the step of element %s does not fit after a path of %d bytes\n", __func__,
                    str(current_tag), (int)parent_len);
        Xpath[parent_len] = '\0';
        return 1;
    }
    append_xpath_step(step, nXpath);
    return 0;
}

static int handle_element_start(xmlTextReaderPtr reader, char *Xpath, char *nXpath, XmlState *nDoc, XmlState *oDoc)
{
    char step[XPATH_BUF_SIZE];
    int is_root = Xpath[0] == '\0';
    XmlState *docs[2] = {nDoc, oDoc};
    const KeyList *list = NULL;
    int depth = xmlTextReaderDepth(reader);
    int entered = WALK_ENTER;
    int failed;

    console_log(2, "\n%s: XML_ELEMENT_NODE\n", "processNode");
    if (current_tag)
        xmlFree(current_tag);
    current_tag = xmlTextReaderName(reader);
    if (!current_tag)
        return 0;

    mapAttr.clear();
    mapAttrNs.clear();
    memset(step, 0, sizeof(step));
    /* Cut at the buffer's end, like every step that cannot fit. */
    memcpy(step, str(current_tag), strnlen(str(current_tag), sizeof(step) - 1));
    /* The element's step names its namespace itself where its prefix (or
     * the default) was bound to another one before in this file. */
    if (register_binding(docs, xmlTextReaderConstPrefix(reader), xmlTextReaderConstNamespaceUri(reader)) == 1) {
        const xmlChar *uri = xmlTextReaderConstNamespaceUri(reader);

        step_append(step, "[namespace-uri()=");
        step_append_literal(step, uri ? str(uri) : "");
        step_append(step, "]");
    }
    failed = build_element_step(reader, step, is_root, docs);
    if (declared_lists)
        list = enter_names(depth, xmlTextReaderConstLocalName(reader));

    if (list) {
        /* An entry of a declared list is known by its key alone, wherever
         * it stands among its siblings; one of a list matched by content
         * by its position among its namesakes, and it is decided whole:
         * without a mode to decide it (the check of the keys) its inside
         * is passed over, lists declared in it included. */
        if (list->content ? add_content_step(Xpath, nXpath) != 0
                          : keyed_entry_step(reader, list, step, Xpath) != 0 || add_keyed_step(step, Xpath, nXpath) != 0)
            failed = 1;
        else if (callbacks->entry)
            entered = callbacks->entry(nDoc, oDoc, Xpath, reader, list);
        else if (list->content)
            entered = WALK_SKIP;
        if (failed || entered == WALK_FAIL) {
            failed = 1;
        } else if (entered == WALK_SKIP && xmlTextReaderIsEmptyElement(reader) == 1) {
            remove_last_step(Xpath);
            remove_last_step(nXpath);
        } else if (entered == WALK_SKIP) {
            /* Passed over like the inside of a leaf, up to its end. */
            mixed_depth = depth;
        }
    } else if (find_and_add_xpath_to_map(step, Xpath, nXpath, nDoc, current_tag) != 0) {
        /* The element has no path of its own: its data must not land on
         * the parent's. */
        failed = 1;
    } else if (is_root && callbacks->root(nDoc, oDoc, Xpath, reader) != 0) {
        failed = 1;
    }
    if (failed || entered == WALK_SKIP) {
        /* Decided, or failed, above. */
    } else if (xmlTextReaderIsEmptyElement(reader) == 1) {
        console_log(2, "%s: Detected Self closing tag: %s\n", "processNode", Xpath);
        if ((!emptied_list_parent(depth, xmlTextReaderExpand(reader)) &&
             process_tag_early(reader, Xpath, nXpath, nDoc, oDoc) != 0) ||
            end_of_lists(depth, Xpath, nDoc, oDoc) != 0)
            failed = 1;
        /* No end node follows a self-closing element. */
        remove_last_step(Xpath);
        remove_last_step(nXpath);
    } else {
        /* A leaf only when nothing at all lies between its tags. */
        xmlNodePtr node = xmlTextReaderExpand(reader);

        if (emptied_list_parent(depth, node)) {
            /* Walked through; its end node ends its lists. */
        } else if (node && !node->children) {
            console_log(2, "%s: Detected Empty tag: %s\n", "processNode", Xpath);
            if (process_tag_early(reader, Xpath, nXpath, nDoc, oDoc) != 0)
                failed = 1;
            /* Its end node tells the lists below it that they ended. */
        } else if (leaf_form(node) != LEAF_READER) {
            /* Text with inline elements, or text in pieces, is one value:
             * the pieces and the elements inside are not settings of their
             * own. */
            console_log(2, "%s: Detected mixed content: %s\n", "processNode", Xpath);
            mixed_leaf = leaf_form(node);
            if (process_tag_early(reader, Xpath, nXpath, nDoc, oDoc) != 0)
                failed = 1;
            mixed_leaf = LEAF_READER;
            mixed_depth = xmlTextReaderDepth(reader);
        }
    }

    if (failed) {
        xmlFree(current_tag);
        current_tag = NULL;
        return 1;
    }
    return 0;
}

int processNode(xmlTextReaderPtr reader, char *Xpath, char *nXpath, XmlState *nDoc, XmlState *oDoc)
{
    xmlChar *name = NULL;

    int passed_over = 0;

    if (walk_inside_leaf(reader))
        return 0;
    if (mixed_depth >= 0 && xmlTextReaderNodeType(reader) == READER_END_ELEMENT) {
        mixed_depth = -1;
        passed_over = 1;
    }
    switch (xmlTextReaderNodeType(reader)) {
    case READER_ELEMENT:
        return handle_element_start(reader, Xpath, nXpath, nDoc, oDoc);
    case READER_TEXT:
    case READER_CDATA:
        /* A CDATA section is a value like any other text. */
        console_log(2, "%s: XML_TEXT_NODE\n", __func__);
        return callbacks->leaf(nDoc, oDoc, Xpath, nXpath, reader);
    case READER_END_ELEMENT:
        /* The lists inside an element passed over were never walked. */
        if (!passed_over && end_of_lists(xmlTextReaderDepth(reader), Xpath, nDoc, oDoc) != 0)
            return 1;
        remove_last_step(Xpath);
        remove_last_step(nXpath);
        if (verbose_level == 2) {
            name = xmlTextReaderName(reader);
            console_log(2, "%s: XML_ELEMENT_DECL:%s, xpath:%s\n\n", __func__, str(name), Xpath);
            xmlFree(name);
        }
        return 0;
    default:
        /* Whitespace, comments, processing instructions and the rest. */
        return 0;
    }
}

/* Whether element node or an element below it declares a namespace. */
static int binds_namespaces(xmlNodePtr node)
{
    if (!node || node->nsDef)
        return 1;
    for (xmlNodePtr c = node->children; c; c = c->next) {
        if (c->type == XML_ELEMENT_NODE && binds_namespaces(c))
            return 1;
    }
    return 0;
}

/* Whether the check of the lists can pass over the element the reader is
 * on: no declared list's path goes through it, and it binds no namespace
 * that could change the steps after it. */
static int check_passes_over(xmlTextReaderPtr reader)
{
    int depth = xmlTextReaderDepth(reader);
    const char *local = reinterpret_cast<const char *>(xmlTextReaderConstLocalName(reader));
    size_t base;
    size_t len;

    if (xmlTextReaderNodeType(reader) != READER_ELEMENT || depth <= 0 || depth >= NAMES_MAX_DEPTH || !local)
        return 0;
    base = names_end[depth - 1];
    if (base == NAMES_UNKNOWN)
        return 0;
    len = strlen(local);
    for (int i = 0; i < declared_lists->count; i++) {
        const char *p = declared_lists->lists[i].path;

        if (strncmp(p, names, base) == 0 && p[base] == '/' && strncmp(p + base + 1, local, len) == 0 &&
            (p[base + 1 + len] == '\0' || p[base + 1 + len] == '/'))
            return 0;
    }
    return !binds_namespaces(xmlTextReaderExpand(reader));
}

/* The walk that checks the keys of a loaded file decides nothing. */
static int check_leaf(XmlState *nDoc, XmlState *oDoc, char *Xpath, char *nXpath, xmlTextReaderPtr reader)
{
    (void)nDoc, (void)oDoc, (void)Xpath, (void)nXpath, (void)reader;
    return 0;
}

static int check_root(XmlState *nDoc, XmlState *oDoc, const char *Xpath, xmlTextReaderPtr reader)
{
    (void)nDoc, (void)oDoc, (void)Xpath, (void)reader;
    return 0;
}

static const WalkCallbacks check_callbacks = {check_leaf, check_root, NULL, "walk_check_lists()", NULL, NULL};

int walk_check_lists(XmlState *doc, const char *file)
{
    char Xpath[XPATH_BUF_SIZE];
    char nXpath[XPATH_BUF_SIZE];
    const WalkCallbacks *running = callbacks;
    const char *running_file = walk_file;
    int level = verbose_level;
    xmlTextReaderPtr reader;
    int skip_depth = -1;
    int failed = 0;
    int ret;

    if (!declared_lists || !xml_is_loaded(doc))
        return 0;
    reader = xmlReaderWalker(get_pDoc(doc));
    if (!reader) {
        console_log(0, "%s: ###Error cannot walk %s\n", __func__, walk_file);
        return 1;
    }
    memset(Xpath, 0, sizeof(Xpath));
    memset(nXpath, 0, sizeof(nXpath));
    /* The same walk as the run's, with paths built the same way; its
     * trace would only repeat the file. */
    reset_walk_state();
    callbacks = &check_callbacks;
    walk_file = file;
    if (verbose_level > 1)
        verbose_level = 1;
    while (!failed && (ret = xmlTextReaderRead(reader)) == 1) {
        int depth = xmlTextReaderDepth(reader);

        /* Only the elements on the way to a list's entries, and the
         * entries, have keys to check: the others are passed over, up to
         * their end. */
        if (skip_depth >= 0) {
            if (depth == skip_depth && xmlTextReaderNodeType(reader) == READER_END_ELEMENT)
                skip_depth = -1;
        } else if (check_passes_over(reader)) {
            if (xmlTextReaderIsEmptyElement(reader) != 1)
                skip_depth = depth;
        } else {
            failed = processNode(reader, Xpath, nXpath, NULL, NULL) != 0;
        }
    }
    verbose_level = level;
    callbacks = running;
    walk_file = running_file;
    xmlFreeTextReader(reader);
    reset_walk_state();
    return failed;
}
