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

/*
 * Appends value as an XPath literal that reads back as exactly that value:
 * 'v' when it holds no apostrophe, "v" when it holds no double quote, and
 * otherwise concat() of apostrophe-quoted runs and double-quoted runs of
 * apostrophes, for example concat('a',"'",'b').
 */
static void step_append_literal(char *step, const char *value)
{
    const char *p = value;

    if (!strchr(value, '\''))
        step_append(step, "'%s'", value);
    else if (!strchr(value, '"'))
        step_append(step, "\"%s\"", value);
    else {
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
static int register_binding(XmlState **docs, const xmlChar *prefix, const xmlChar *uri)
{
    int other = 0;

    for (int i = 0; i < 2; i++) {
        if (xml_is_loaded(docs[i]) &&
            xml_set_path_namespace(docs[i], reinterpret_cast<const char *>(prefix),
                                   reinterpret_cast<const char *>(uri)) == 1)
            other = 1;
    }
    return other;
}

/* The declared lists of the run, or NULL when no keys file was given. */
static const KeyLists *declared_lists = NULL;

void walk_set_lists(const KeyLists *lists)
{
    declared_lists = lists && lists->count > 0 ? lists : NULL;
}

void walk_set_callbacks(const WalkCallbacks *table)
{
    callbacks = table;
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

void remove_last_step(char *path)
{
    int cut;

    if (!path)
        return;
    /* The last "/" outside predicates and quoted literals ends the parent's
     * part, so a value may hold "/", brackets or quotes of the other kind. */
    cut = xml_path_parent_len(path);
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
                step_append(step, predicate_open ? " and @%s=" : "[@%s=", str(name));
                step_append_literal(step, str(value));
                predicate_open = 1;
            }
            console_log(2, "%s: Attribute no:%d, Name:%s, Value:%s\n", "processNode", i, str(name), str(value));
        }
        if (i == count - 1 && predicate_open)
            step_append(step, "]");
        xmlFree(name);
        xmlFree(value);
    }
    if (xmlTextReaderMoveToElement(reader) != 1) {
        console_log(0, "%s: ###Error: xmlTextReaderMoveToElement Failed\n", "processNode");
        failed = 1;
    }
    return failed;
}

static int handle_element_start(xmlTextReaderPtr reader, char *Xpath, char *nXpath, XmlState *nDoc, XmlState *oDoc)
{
    char step[XPATH_BUF_SIZE];
    int is_root = Xpath[0] == '\0';
    XmlState *docs[2] = {nDoc, oDoc};
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
    snprintf(step, sizeof(step), "%s", str(current_tag));
    /* The element's step names its namespace itself where its prefix (or
     * the default) was bound to another one before in this file. */
    if (register_binding(docs, xmlTextReaderConstPrefix(reader), xmlTextReaderConstNamespaceUri(reader)) == 1) {
        const xmlChar *uri = xmlTextReaderConstNamespaceUri(reader);

        step_append(step, "[namespace-uri()=");
        step_append_literal(step, uri ? str(uri) : "");
        step_append(step, "]");
    }
    failed = build_element_step(reader, step, is_root, docs);

    if (find_and_add_xpath_to_map(step, Xpath, nXpath, nDoc, current_tag) != 0) {
        /* The element has no path of its own: its data must not land on
         * the parent's. */
        failed = 1;
    } else if (is_root && callbacks->root(nDoc, oDoc, Xpath, reader) != 0) {
        failed = 1;
    } else if (xmlTextReaderIsEmptyElement(reader) == 1) {
        console_log(2, "%s: Detected Self closing tag: %s\n", "processNode", Xpath);
        if (process_tag_early(reader, Xpath, nXpath, nDoc, oDoc) != 0)
            failed = 1;
        /* No end node follows a self-closing element. */
        remove_last_step(Xpath);
        remove_last_step(nXpath);
    } else {
        /* A leaf only when nothing at all lies between its tags. */
        xmlNodePtr node = xmlTextReaderExpand(reader);

        if (node && !node->children) {
            console_log(2, "%s: Detected Empty tag: %s\n", "processNode", Xpath);
            if (process_tag_early(reader, Xpath, nXpath, nDoc, oDoc) != 0)
                failed = 1;
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

    if (walk_inside_leaf(reader))
        return 0;
    if (mixed_depth >= 0 && xmlTextReaderNodeType(reader) == READER_END_ELEMENT)
        mixed_depth = -1;
    switch (xmlTextReaderNodeType(reader)) {
    case READER_ELEMENT:
        return handle_element_start(reader, Xpath, nXpath, nDoc, oDoc);
    case READER_TEXT:
    case READER_CDATA:
        /* A CDATA section is a value like any other text. */
        console_log(2, "%s: XML_TEXT_NODE\n", __func__);
        return callbacks->leaf(nDoc, oDoc, Xpath, nXpath, reader);
    case READER_END_ELEMENT:
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
