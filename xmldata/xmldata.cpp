/*
 * Document store: handle lifecycle and XPath queries.
 */
#include "xmldata.h"
#include "xmldata_index.h"
#include "xmldata_input.h"
#include "xmldata_log.h"
#include "xmldata_select.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <libxml/parser.h>
#include <libxml/xpathInternals.h>

#include "../common/banned.h"

extern "C" XmlState *xml_init(void)
{
    return static_cast<XmlState *>(calloc(1, sizeof(XmlState)));
}

extern "C" int xml_is_loaded(XmlState *state)
{
    return (state && state->pDoc) ? 1 : 0;
}

/* Binds a fresh XPath context to the just-parsed document. */
static int bind_context(XmlState *state, const char *what)
{
    state->pCtxt = xmlXPathNewContext(state->pDoc);
    if (!state->pCtxt) {
        XMLDATA_RECORD("[%s]:[%s] - Unable to create new XPath context for %s", xmldata_str(what));
        xmlFreeDoc(state->pDoc);
        state->pDoc = NULL;
        return -1;
    }
    /* The library's object cache stays off: with it, whether an empty
     * answer of a path without '[' and '@' comes with a node table depends
     * on what was evaluated before, and the walk's trace shows that
     * difference.  Most paths are answered by the index anyway. */
    return 0;
}

/*
 * Reports an input that could not be opened the way libxml2's own loader
 * reports it (three calls of the generic error handler), so that callers
 * see the same messages as when the library opened files itself.
 */
static void report_unopened(const char *filename)
{
    char msg[4200];

    snprintf(msg, sizeof(msg), "failed to load external entity \"%s\"\n", filename);
    xmlGenericError(xmlGenericErrorContext, "I/O ");
    xmlGenericError(xmlGenericErrorContext, "warning : ");
    xmlGenericError(xmlGenericErrorContext, "%s", msg);
}

/* A handle is loaded once: a second load would lose the first document,
 * or, failing, leave it answering queries for a handle said to be empty. */
static int holds_document(const XmlState *state, const char *what)
{
    if (!state->pDoc)
        return 0;
    XMLDATA_RECORD("[%s]:[%s] - Refusing to load %s: the handle holds a document already", xmldata_str(what));
    return 1;
}

extern "C" int xmldata_load_input(XmlState *state, const char *filename)
{
    int fd;

    if (holds_document(state, filename))
        return XMLDATA_INPUT_LOADED;
    fd = xmldata_open_input(filename);
    /* No parser options: whitespace text nodes are kept, so a document
     * saved later keeps the layout it was read with.  The name goes in as
     * the document's URL, for the library's messages. */
    xmldata_index_drop(state->pDoc);
    if (fd >= 0) {
        state->pDoc = xmlReadFd(fd, filename, NULL, 0);
        xmldata_close_input(fd);
    } else if (fd == XMLDATA_INPUT_NOT_REGULAR) {
        XMLDATA_RECORD("[%s]:[%s] - Refusing %s: not a regular file", filename);
        return XMLDATA_INPUT_NOT_REGULAR;
    } else if (filename) {
        report_unopened(filename);
    }
    if (!state->pDoc) {
        XMLDATA_RECORD("[%s]:[%s] - Unable to parse file %s", xmldata_str(filename));
        return fd >= 0 ? XMLDATA_INPUT_UNPARSED : XMLDATA_INPUT_UNOPENED;
    }
    /* References are kept as references in the tree, but reading a value
     * expands them: a small file could otherwise fill the memory. */
    if (xmldata_document_expansion(state->pDoc) != 0) {
        XMLDATA_RECORD("[%s]:[%s] - Refusing %s: entity references expand to more than %d bytes", filename,
                       XMLDATA_EXPANSION_LIMIT);
        xmlFreeDoc(state->pDoc);
        state->pDoc = NULL;
        return XMLDATA_INPUT_EXPANDS;
    }
    return bind_context(state, filename) == 0 ? 0 : XMLDATA_INPUT_UNPARSED;
}

extern "C" int xml_load_document(XmlState *state, const char *filename)
{
    return xmldata_load_input(state, filename) == 0 ? 0 : -1;
}

extern "C" int xml_read_memory(XmlState *state, const char *text)
{
    if (holds_document(state, "a text"))
        return -1;
    state->pDoc = xmlReadMemory(text, (int)strlen(text), NULL, NULL, 0);
    if (!state->pDoc) {
        /* Only an errno left by the parse says more than the library
         * already reported through its error handler. */
        if (errno != 0)
            XMLDATA_RECORD("[%s]:[%s] - xml_read_memory: %s", strerror(errno));
        return -1;
    }
    /* The same bound as for a file: a small text could fill the memory. */
    if (xmldata_document_expansion(state->pDoc) != 0) {
        XMLDATA_RECORD("[%s]:[%s] - xml_read_memory: entity references expand to more than %d bytes",
                       XMLDATA_EXPANSION_LIMIT);
        xmlFreeDoc(state->pDoc);
        state->pDoc = NULL;
        return -1;
    }
    return bind_context(state, text);
}

extern "C" int xml_fini(XmlState *state)
{
    if (state) {
        if (state->pCtxt) {
            xmlXPathFreeContext(state->pCtxt);
            state->pCtxt = NULL;
        }
        if (state->pDoc) {
            xmldata_index_drop(state->pDoc);
            xmlFreeDoc(state->pDoc);
            state->pDoc = NULL;
        }
        free(state);
    }
    xmlCleanupParser();
    return 0;
}

/* Whoever takes the raw document or context may change the tree behind the
 * store's back: what was indexed of the document is dropped, and built
 * again from the tree as it then is when next needed. */
extern "C" xmlDocPtr get_pDoc(XmlState *state)
{
    xmldata_index_drop(state->pDoc);
    return state->pDoc;
}

extern "C" xmlXPathContextPtr get_pCtxt(XmlState *state)
{
    xmldata_index_drop(state->pDoc);
    return state->pCtxt;
}

xmlXPathObjectPtr xmldata_select(XmlState *state, const char *xpath, int eval_record_nl, xmlNodePtr *first)
{
    xmlXPathObjectPtr res = NULL;

    *first = NULL;
    if (xpath)
        res = xml_eval_xpath(state, xpath);
    if (!res) {
        if (eval_record_nl)
            XMLDATA_RECORD("[%s]:[%s] - Error: unable to evaluate xpath expression \"%s\"\n", xmldata_str(xpath));
        else
            XMLDATA_RECORD("[%s]:[%s] - Error: unable to evaluate xpath expression \"%s\"", xmldata_str(xpath));
        return NULL;
    }
    if (res->type == XPATH_NODESET && !xmlXPathNodeSetIsEmpty(res->nodesetval))
        *first = xmlXPathNodeSetItem(res->nodesetval, 0);
    return res;
}

/* Copies text into buf as strncpy does and always terminates it. */
static void copy_bounded(char *buf, size_t buf_size, const xmlChar *text)
{
    strncpy(buf, reinterpret_cast<const char *>(text), buf_size);
    buf[buf_size - 1] = '\0';
}

extern "C" int xml_is_nodeset_exists(XmlState *state, const char *xpath)
{
    xmlNodePtr node;
    xmlXPathObjectPtr res = xmldata_select(state, xpath, 0, &node);

    xmlXPathFreeObject(res);
    if (!node) {
        XMLDATA_RECORD("[%s]:[%s] - Unable to check if node exists:%s", xmldata_str(xpath));
        return -1;
    }
    return 0;
}

extern "C" int xml_get_prop(XmlState *state, const char *xpath, const char *attr_name, char *buf, size_t buf_size)
{
    xmlNodePtr node;
    xmlXPathObjectPtr res = xmldata_select(state, xpath, 1, &node);
    xmlChar *prop = NULL;
    int rc = -1;

    if (node && attr_name && buf && buf_size > 0)
        prop = xmlGetProp(node, BAD_CAST attr_name);
    if (prop) {
        copy_bounded(buf, buf_size, prop);
        rc = 0;
    }
    xmlFree(prop);
    xmlXPathFreeObject(res);
    if (rc != 0)
        XMLDATA_RECORD("[%s]:[%s] - Unable to get property %s for node:%s\n", xmldata_str(attr_name), xmldata_str(xpath));
    return rc;
}

extern "C" int xml_get_node_name(XmlState *state, const char *xpath, char *buf, size_t buf_size)
{
    xmlNodePtr node;
    xmlXPathObjectPtr res = xmldata_select(state, xpath, 0, &node);
    int rc = -1;

    if (node && node->type == XML_ELEMENT_NODE && node->name && buf && buf_size > 0) {
        copy_bounded(buf, buf_size, node->name);
        rc = 0;
    }
    xmlXPathFreeObject(res);
    if (rc != 0)
        XMLDATA_MODLOG("[%s]:[%s] - Unable to get node name for %s", xmldata_str(xpath));
    return rc;
}

extern "C" int xml_get_node_value(XmlState *state, const char *xpath, char *buf, size_t buf_size)
{
    xmlNodePtr node;
    xmlXPathObjectPtr res = xmldata_select(state, xpath, 0, &node);
    xmlChar *content = NULL;
    int rc = -1;

    if (node && buf && buf_size > 0)
        content = xmlNodeGetContent(node);
    if (content) {
        copy_bounded(buf, buf_size, content);
        rc = 0;
    }
    xmlFree(content);
    xmlXPathFreeObject(res);
    if (rc != 0)
        XMLDATA_RECORD("[%s]:[%s] - Unable to get node value for %s", xmldata_str(xpath));
    return rc;
}

/* A copy of text in a new block to free(), stored in *out: 0, or -1 when
 * no memory is left (*out untouched). */
static int copy_to_block(const xmlChar *text, char **out)
{
    size_t len = strlen(reinterpret_cast<const char *>(text));
    char *copy = static_cast<char *>(calloc(1, len + 1));

    if (!copy)
        return -1;
    memcpy(copy, text, len);
    *out = copy;
    return 0;
}

extern "C" int xml_copy_node_value(XmlState *state, const char *xpath, char **out)
{
    xmlNodePtr node;
    xmlXPathObjectPtr res = xmldata_select(state, xpath, 0, &node);
    xmlChar *content = NULL;
    int rc = -1;

    if (node && out)
        content = xmlNodeGetContent(node);
    if (content)
        rc = copy_to_block(content, out);
    xmlFree(content);
    xmlXPathFreeObject(res);
    if (rc != 0)
        XMLDATA_RECORD("[%s]:[%s] - Unable to copy node value for %s", xmldata_str(xpath));
    return rc;
}

extern "C" int xml_node_is_mixed(xmlNodePtr node)
{
    int text = 0;
    int element = 0;
    xmlNodePtr c;

    if (!node || node->type != XML_ELEMENT_NODE)
        return 0;
    for (c = node->children; c; c = c->next) {
        if (c->type == XML_ELEMENT_NODE)
            element = 1;
        else if (c->type == XML_ENTITY_REF_NODE || c->type == XML_CDATA_SECTION_NODE)
            text = 1;
        else if (c->type == XML_TEXT_NODE && !xmlIsBlankNode(c))
            text = 1;
    }
    return text && element;
}

/* 1 when an entity reference lies in list or below it. */
static int holds_entity_ref(xmlNodePtr list)
{
    for (; list; list = list->next) {
        if (list->type == XML_ENTITY_REF_NODE)
            return 1;
        if (list->type == XML_ELEMENT_NODE && holds_entity_ref(list->children))
            return 1;
    }
    return 0;
}

/* Puts the text each entity reference of list (and below) stands for in
 * its place: the references left in a loaded document stand for text.
 * 0, or -1 when no memory is left. */
static int write_out_entity_refs(xmlNodePtr list)
{
    xmlNodePtr next;

    for (; list; list = next) {
        next = list->next;
        if (list->type == XML_ENTITY_REF_NODE) {
            xmlChar *text = xmlNodeGetContent(list);
            xmlNodePtr node = text ? xmlNewDocText(list->doc, text) : NULL;

            xmlFree(text);
            if (!node)
                return -1;
            xmlReplaceNode(list, node);
            xmlFreeNode(list);
        } else if (list->type == XML_ELEMENT_NODE && write_out_entity_refs(list->children) != 0) {
            return -1;
        }
    }
    return 0;
}

extern "C" xmlChar *xml_node_inner_markup(xmlNodePtr node)
{
    xmlBufferPtr buf;
    xmlChar *markup = NULL;
    xmlNodePtr copy = NULL;
    xmlNodePtr c;
    int failed = 0;

    if (!node)
        return NULL;
    /* A reference is written as what it stands for, so that a file read
     * with its references expanded gives the same value. */
    if (holds_entity_ref(node->children)) {
        copy = xmlDocCopyNode(node, node->doc, 1);
        if (!copy || write_out_entity_refs(copy->children) != 0) {
            xmlFreeNode(copy);
            return NULL;
        }
        node = copy;
    }
    buf = xmlBufferCreate();
    if (!buf) {
        xmlFreeNode(copy);
        return NULL;
    }
    for (c = node->children; c && !failed; c = c->next)
        failed = xmlNodeDump(buf, node->doc, c, 0, 0) < 0;
    xmlFreeNode(copy);
    if (!failed)
        markup = xmlStrndup(xmlBufferContent(buf), xmlBufferLength(buf));
    /* No children: an empty value, as for an empty element's text. */
    if (!failed && !markup)
        markup = xmlStrdup(BAD_CAST "");
    xmlBufferFree(buf);
    return markup;
}

extern "C" int xml_copy_node_markup(XmlState *state, const char *xpath, char **out)
{
    xmlNodePtr node;
    xmlXPathObjectPtr res = xmldata_select(state, xpath, 0, &node);
    xmlChar *markup = NULL;
    int rc = -1;

    if (node && node->type == XML_ELEMENT_NODE && out)
        markup = xml_node_inner_markup(node);
    if (markup)
        rc = copy_to_block(markup, out);
    xmlFree(markup);
    xmlXPathFreeObject(res);
    if (rc != 0)
        XMLDATA_RECORD("[%s]:[%s] - Unable to copy node markup for %s", xmldata_str(xpath));
    return rc;
}

extern "C" int xml_copy_node_count(XmlState *state, const char *xpath, int *out_count)
{
    xmlNodePtr node;
    xmlXPathObjectPtr res = xmldata_select(state, xpath, 0, &node);
    int rc = -1;

    if (res && res->type == XPATH_NODESET && out_count) {
        *out_count = xmlXPathNodeSetGetLength(res->nodesetval);
        rc = 0;
    }
    xmlXPathFreeObject(res);
    if (rc != 0)
        XMLDATA_RECORD("[%s]:[%s] - Unable to get node count for %s", xmldata_str(xpath));
    return rc;
}
