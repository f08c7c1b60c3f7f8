/*
 * Document store: editing by XPath.  Set a node's text, delete a node,
 * append a child element, and create a missing element path step by step,
 * optionally giving each created element the attributes named in its step.
 *
 * New elements are built detached, copied into the document and appended
 * as the last child of their parent; they carry no text and no whitespace
 * around them.  Their names, and the names of their attributes, are read
 * in the handle's path namespaces (xml_set_path_namespace): an element in
 * a namespace takes a binding that is in scope at its parent, or declares
 * its own; without path namespaces a name is taken as it is written.
 */
#include "xmldata.h"
#include "xmldata_index.h"
#include "xmldata_log.h"
#include "xmldata_ns.h"
#include "xmldata_select.h"

#include <stdlib.h>
#include <string.h>

#include <libxml/entities.h>
#include <libxml/parser.h>
#include <libxml/xpathInternals.h>

#include "../common/banned.h"

/* Most step separators in a path to create: any path of up to 1,023 bytes
 * fits. */
#define XMLDATA_PATH_STEPS_MAX 1023

/*
 * 1 when xpath can be evaluated and selects at least one node.  Used by the
 * path creation to find the deepest ancestor that exists; an expression
 * that cannot be evaluated counts as selecting nothing and writes no record
 * (the library reports it through its error handler).
 */
static int selects_node(XmlState *state, const char *xpath)
{
    xmlXPathObjectPtr res = xml_eval_xpath(state, xpath);
    int found = 0;

    if (res && res->type == XPATH_NODESET && !xmlXPathNodeSetIsEmpty(res->nodesetval))
        found = 1;
    xmlXPathFreeObject(res);
    return found;
}

/* Releases an element that was built outside the document. */
static void free_detached(xmlNodePtr node)
{
    if (node) {
        xmlUnlinkNode(node);
        xmlFreeNode(node);
    }
}

extern "C" int xml_set_node_value(XmlState *state, const char *xpath, const char *value, int value_len)
{
    xmlNodePtr node;
    xmlXPathObjectPtr res = xmldata_select(state, xpath, 0, &node);
    xmlChar *encoded = NULL;
    int rc = -1;

    /* The value is read up to its terminator; value_len is informational. */
    (void)value_len;
    if (node) {
        /* The content setter reads '&' and '<' as markup: escape them
         * first so that the stored text is the value character for
         * character.  A null value empties the node. */
        if (value)
            encoded = xmlEncodeEntitiesReentrant(state->pDoc, BAD_CAST value);
        xmldata_index_content_changing(state->pDoc, node);
        if (encoded) {
            xmlNodeSetContent(node, encoded);
            xmlFree(encoded);
        } else {
            xmlNodeSetContent(node, BAD_CAST value);
        }
        rc = 0;
    }
    xmlXPathFreeObject(res);
    if (rc != 0)
        XMLDATA_RECORD("[%s]:[%s] - Unable to set node value for %s", xmldata_str(xpath));
    return rc;
}

extern "C" int xml_set_node_markup(XmlState *state, const char *xpath, const char *markup)
{
    xmlNodePtr node;
    xmlXPathObjectPtr res = xmldata_select(state, xpath, 0, &node);
    xmlNodePtr list = NULL;
    int rc = -1;

    /* Parsed before anything changes: markup that does not parse leaves
     * the node as it was. */
    if (node && node->type == XML_ELEMENT_NODE && markup &&
        (markup[0] == '\0' || xmlParseBalancedChunkMemory(state->pDoc, NULL, NULL, 0, BAD_CAST markup, &list) == 0)) {
        xmldata_index_content_changing(state->pDoc, node);
        xmlNodeSetContent(node, NULL);
        if (list)
            xmlAddChildList(node, list);
        list = NULL;
        rc = 0;
    }
    xmlFreeNodeList(list);
    xmlXPathFreeObject(res);
    if (rc != 0)
        XMLDATA_RECORD("[%s]:[%s] - Unable to set node markup for %s", xmldata_str(xpath));
    return rc;
}

extern "C" int xml_delete_node(XmlState *state, const char *xpath)
{
    xmlNodePtr node;
    xmlXPathObjectPtr res = xmldata_select(state, xpath, 0, &node);
    int rc = -1;

    /* The result is released first: releasing it reads the nodes it holds. */
    xmlXPathFreeObject(res);
    /* The document node itself belongs to the handle and cannot go. */
    if (node && node->type != XML_DOCUMENT_NODE && node->type != XML_HTML_DOCUMENT_NODE) {
        xmldata_index_removing(state->pDoc, node);
        xmlUnlinkNode(node);
        xmlFreeNode(node);
        rc = 0;
    }
    if (rc != 0)
        XMLDATA_RECORD("[%s]:[%s] - Unable to delete node at %s", xmldata_str(xpath));
    return rc;
}

/* A binding in scope at node for uri; one with a prefix when prefixed is
 * set (an attribute's).  Declared on node when none is, with the prefix
 * the path wrote (the default for an element without one); NULL when it
 * cannot be. */
static xmlNsPtr binding_for(xmlDocPtr doc, xmlNodePtr node, const xmlChar *uri, const xmlChar *prefix, int prefixed)
{
    xmlNsPtr ns;

    if (xmlStrEqual(uri, XML_XML_NAMESPACE))
        return xmlSearchNs(doc, node, BAD_CAST "xml");
    ns = xmlSearchNsByHref(doc, node, uri);
    if (ns && (ns->prefix || !prefixed))
        return ns;
    return xmlNewNs(node, uri, prefix);
}

/* Gives the node (an element or attribute whose name may be "p:local")
 * the local name, keeping the prefix in *prefix (NULL without one, for
 * xmlFree). */
static int take_local_name(xmlNodePtr node, xmlChar **prefix)
{
    const xmlChar *colon = xmlStrchr(node->name, ':');
    xmlChar *local;

    *prefix = NULL;
    if (!colon)
        return 0;
    *prefix = xmlStrndup(node->name, (int)(colon - node->name));
    local = xmlStrdup(colon + 1);
    if (!*prefix || !local) {
        xmlFree(local);
        return -1;
    }
    xmlNodeSetName(node, local);
    xmlFree(local);
    return 0;
}

/*
 * Puts the element node (just appended, its name as the path wrote it) and
 * its prefixed attributes in their namespaces: explicit, from a
 * [namespace-uri()=...] predicate ("" for none), or the path namespaces'
 * binding of the name's prefix or of the default.  A prefix without a
 * binding leaves the name as it is.  An element in no namespace below a
 * default namespace undeclares it.  0, or -1 on no memory.
 */
static int place_in_namespaces(XmlState *state, xmlNodePtr node, const char *explicit_uri)
{
    const xmlChar *colon = xmlStrchr(node->name, ':');
    const xmlChar *uri = BAD_CAST explicit_uri;
    xmlChar *prefix = NULL;
    char written[128];
    int rc = 0;

    if (!uri) {
        size_t len = colon ? (size_t)(colon - node->name) : 0;

        if (len >= sizeof(written))
            return 0;
        memcpy(written, node->name, len);
        written[len] = '\0';
        uri = xmldata_path_namespace(state, written);
        if (colon && !uri)
            return 0;
    }
    if (take_local_name(node, &prefix) != 0)
        return -1;
    if (uri && uri[0]) {
        xmlNsPtr ns = binding_for(state->pDoc, node, uri, prefix, 0);

        if (ns)
            xmlSetNs(node, ns);
        else
            rc = -1;
    } else {
        xmlNsPtr def = xmlSearchNs(state->pDoc, node, NULL);

        if (def && def->href && def->href[0] && !xmlNewNs(node, BAD_CAST "", NULL))
            rc = -1;
    }
    xmlFree(prefix);
    for (xmlAttrPtr a = node->properties; a && rc == 0; a = a->next) {
        const xmlChar *a_colon = xmlStrchr(a->name, ':');
        size_t len = a_colon ? (size_t)(a_colon - a->name) : 0;
        xmlNsPtr ns;

        if (!a_colon || a->ns || len >= sizeof(written))
            continue;
        memcpy(written, a->name, len);
        written[len] = '\0';
        uri = xmldata_path_namespace(state, written);
        if (!uri)
            continue;
        if (take_local_name(reinterpret_cast<xmlNodePtr>(a), &prefix) != 0)
            return -1;
        ns = binding_for(state->pDoc, node, uri, prefix, 1);
        xmlFree(prefix);
        if (!ns)
            return -1;
        xmlSetNs(reinterpret_cast<xmlNodePtr>(a), ns);
    }
    return rc;
}

/*
 * Appends a copy of a new, empty element called name to parent.  The copy,
 * or NULL when none could be made or appended; the element built for the
 * copy is always released.
 */
static xmlNodePtr append_new_element(XmlState *state, xmlNodePtr parent, const char *name)
{
    xmlNodePtr tmp = NULL;
    xmlNodePtr copy = NULL;

    if (name)
        tmp = xmlNewNode(NULL, BAD_CAST name);
    if (tmp)
        copy = xmlDocCopyNode(tmp, state->pDoc, 1);
    if (copy && !xmlAddChild(parent, copy)) {
        xmlFreeNode(copy);
        copy = NULL;
    }
    if (copy && place_in_namespaces(state, copy, NULL) != 0) {
        xmlUnlinkNode(copy);
        xmlFreeNode(copy);
        copy = NULL;
    }
    if (copy)
        xmldata_index_appended(state->pDoc, parent, copy);
    free_detached(tmp);
    return copy;
}

extern "C" int xml_insert_node(XmlState *state, const char *xparent, const char *name)
{
    xmlNodePtr parent;
    xmlXPathObjectPtr res = xmldata_select(state, xparent, 0, &parent);

    if (!parent) {
        xmlXPathFreeObject(res);
        XMLDATA_RECORD("[%s]:[%s] - Unable to insert node for %s at %s", xmldata_str(name), xmldata_str(xparent));
        return -1;
    }
    /* Once the parent is found the insertion counts as done; a copy that
     * could not be appended is only released. */
    append_new_element(state, parent, name);
    xmlXPathFreeObject(res);
    return 0;
}

/*
 * Reads the XPath string literal at p, in apostrophes or in double quotes,
 * and cuts it in place: *text is its content.  Returns the position after
 * the closing quote, or NULL when it is not closed.
 */
static char *read_quoted(char *p, char **text)
{
    char *close = strchr(p + 1, *p);

    if (!close)
        return NULL;
    *close = '\0';
    *text = p + 1;
    return close + 1;
}

/*
 * Reads the value of an attribute test, from the first literal after the
 * '=' on: 'v', "v", or concat() of such literals, the form the walk uses
 * for a value that holds both kinds of quote.  The value is decoded in
 * place and *value points at it.  Returns the position after the literal,
 * or NULL when there is none or it is not closed.
 */
static char *read_value(char *scan, char **value)
{
    char *quote = strpbrk(scan, "'\"");
    char *concat = strstr(scan, "concat(");
    char *out;
    char *piece;
    size_t len;

    if (!concat || (quote && quote < concat))
        return quote ? read_quoted(quote, value) : NULL;
    /* The pieces are joined where "concat(" stood; the joined text is never
     * longer than the expression it is read from. */
    out = concat;
    *value = concat;
    scan = concat + strlen("concat(");
    for (;;) {
        scan += strspn(scan, " ");
        if (*scan != '\'' && *scan != '"')
            return NULL;
        scan = read_quoted(scan, &piece);
        if (!scan)
            return NULL;
        len = strlen(piece);
        memmove(out, piece, len);
        out += len;
        scan += strspn(scan, " ");
        if (*scan == ')')
            break;
        if (*scan != ',')
            return NULL;
        scan++;
    }
    *out = '\0';
    return scan + 1;
}

/* The position after the predicate that opens at p ('['), nested
 * predicates and quoted literals in it passed over; the end of the string
 * when it does not close. */
static char *skip_predicate(char *p)
{
    int depth = 0;
    char quote = 0;

    for (; *p; p++) {
        if (quote) {
            if (*p == quote)
                quote = 0;
        } else if (*p == '\'' || *p == '"') {
            quote = *p;
        } else if (*p == '[') {
            depth++;
        } else if (*p == ']' && --depth == 0) {
            return p + 1;
        }
    }
    return p;
}

/*
 * Reads the attribute tests @name=literal of a step, from scan on, onto
 * node.  Everything between the tests (" and ", brackets, positions) is
 * passed over, and so is a test of any attribute (@* with its predicate).
 * The step buffer is cut in place.  0, or -1 when a test has no '=' or no
 * closed literal, or an attribute cannot be added.
 */
static int add_step_attributes(xmlNodePtr node, char *scan)
{
    char *at;

    while ((at = strchr(scan, '@')) != NULL) {
        char *eq;
        char *end;
        char *value = NULL;

        if (at[1] == '*') {
            /* Any attribute, as in count(@*[...])=1: names none. */
            scan = at + 2;
            if (*scan == '[')
                scan = skip_predicate(scan);
            continue;
        }
        eq = strchr(at + 1, '=');
        end = eq;
        if (!eq)
            return -1;
        /* Blanks before the '=' belong to the test, not to the name. */
        while (end > at + 1 && end[-1] == ' ')
            end--;
        *end = '\0';
        scan = read_value(eq + 1, &value);
        if (!scan)
            return -1;
        /* A name that is none, or one given twice, would make a document
         * that no parser reads back. */
        if (!node || xmlValidateName(BAD_CAST(at + 1), 0) != 0 || xmlHasProp(node, BAD_CAST(at + 1)) ||
            !xmlNewProp(node, BAD_CAST(at + 1), BAD_CAST value))
            return -1;
    }
    return 0;
}

extern "C" int xml_insert_node_with_attr(XmlState *state, const char *xparent, const char *nodename)
{
    xmlXPathObjectPtr res = NULL;
    xmlNodePtr parent = NULL;
    xmlNodePtr tmp = NULL;
    xmlNodePtr copy = NULL;
    char *step = NULL;
    char *bracket;
    char *attributes = NULL;
    const char *uri = NULL;
    int malformed = 0;
    int rc = -1;

    if (xparent)
        res = xml_eval_xpath(state, xparent);
    if (!res) {
        XMLDATA_RECORD("[%s]:[%s] - +Error: unable to evaluate xpath expression \"%s\"", xmldata_str(xparent));
        goto out;
    }
    if (res->type == XPATH_NODESET && !xmlXPathNodeSetIsEmpty(res->nodesetval))
        parent = xmlXPathNodeSetItem(res->nodesetval, 0);
    if (!parent) {
        XMLDATA_RECORD("[%s]:[%s] - %s: +Error - pNodeSet and nodeTab doesn't exists,xparent:%s", __func__,
                       xmldata_str(xparent));
        goto out;
    }
    if (nodename)
        step = strdup(nodename);
    if (!step)
        goto out;

    /* name, or name[...]: the text before the first '[' names the element. */
    bracket = strchr(step, '[');
    if (bracket) {
        /* name[namespace-uri()='U']...: the element is in U. */
        size_t ns_len = xmldata_ns_predicate_len(bracket);

        attributes = bracket + 1;
        if (ns_len) {
            bracket[ns_len - 2] = '\0';
            uri = bracket + strlen("[namespace-uri()='");
            attributes = bracket + ns_len;
        }
        *bracket = '\0';
    }
    if (xmlValidateName(BAD_CAST step, 0) != 0) {
        XMLDATA_RECORD("[%s]:[%s] - %s: +Error Invalid element name: xparent=%s, nodename=%s", __func__,
                       xmldata_str(xparent), xmldata_str(nodename));
        malformed = 1;
        goto out;
    }
    tmp = xmlNewNode(NULL, BAD_CAST step);
    if (attributes && add_step_attributes(tmp, attributes) != 0) {
        /* A malformed step changes nothing and has only this record. */
        XMLDATA_RECORD("[%s]:[%s] - %s: +Error Inavlid attribute syntax: xparent=%s, nodename=%s", __func__,
                       xmldata_str(xparent), xmldata_str(nodename));
        malformed = 1;
        goto out;
    }

    copy = tmp ? xmlDocCopyNode(tmp, state->pDoc, 1) : NULL;
    if (!copy) {
        XMLDATA_RECORD("[%s]:[%s] - %s: +Error: xmlDocCopyNode failed, xparent=%s, nodename=%s", __func__,
                       xmldata_str(xparent), xmldata_str(nodename));
        goto out;
    }
    if (!xmlAddChild(parent, copy)) {
        XMLDATA_RECORD("[%s]:[%s] - %s: +Error: xmlAddChild failed, xparent=%s, nodename=%s", __func__,
                       xmldata_str(xparent), xmldata_str(nodename));
        xmlFreeNode(copy);
        goto out;
    }
    if (place_in_namespaces(state, copy, uri) != 0) {
        XMLDATA_RECORD("[%s]:[%s] - %s: +Error: no namespace binding, xparent=%s, nodename=%s", __func__,
                       xmldata_str(xparent), xmldata_str(nodename));
        xmlUnlinkNode(copy);
        xmlFreeNode(copy);
        goto out;
    }
    xmldata_index_appended(state->pDoc, parent, copy);
    rc = 0;
out:
    free_detached(tmp);
    free(step);
    xmlXPathFreeObject(res);
    /* A malformed step has its own record only. */
    if (rc != 0 && !malformed)
        XMLDATA_RECORD("[%s]:[%s] - Unable to insert node with attribute %s for %s", xmldata_str(nodename),
                       xmldata_str(xparent));
    return rc;
}

/*
 * 1 when xpath has more step separators than XMLDATA_PATH_STEPS_MAX.  The
 * path creation recurses once per step, so a longer path could exhaust
 * the stack.
 */
static int too_many_steps(const char *xpath)
{
    int steps = 0;

    for (;;) {
        xpath += xml_path_step_len(xpath);
        if (*xpath == '\0')
            return 0;
        if (++steps > XMLDATA_PATH_STEPS_MAX)
            return 1;
        xpath++;
    }
}

/* A copy of xpath cut at its last step separator, and *last at the step
 * after it; NULL when xpath has none or no copy could be made. */
static char *split_last_step(const char *xpath, char **last)
{
    int cut = xml_path_parent_len(xpath);
    char *copy;

    if (cut < 0)
        return NULL;
    copy = strdup(xpath);
    if (copy) {
        copy[cut] = '\0';
        *last = copy + cut + 1;
    }
    return copy;
}

extern "C" int xml_create_node_path_if_possible(XmlState *state, const char *xpath)
{
    char *parent = NULL;
    char *name = NULL;

    if (xpath && !strchr(xpath, '@') && !strchr(xpath, '[') && !too_many_steps(xpath))
        parent = split_last_step(xpath, &name);
    if (!parent) {
        XMLDATA_RECORD("[%s]:[%s] - Unable to create node path for %s", xmldata_str(xpath));
        return -1;
    }
    /* Missing ancestors first, top-down through the recursion.  The nested
     * steps report their own failures; the path counts as created anyway. */
    if (!selects_node(state, parent))
        xml_create_node_path_if_possible(state, parent);
    xml_insert_node(state, parent, name);
    free(parent);
    return 0;
}

extern "C" int xml_create_node_path_if_possible_with_attr(XmlState *state, const char *xpath)
{
    char *base = NULL;
    char *last = NULL;
    int nested_failed = 0;
    int rc = -1;

    if (xpath && !too_many_steps(xpath))
        base = split_last_step(xpath, &last);
    if (!base)
        goto out;
    /* One trailing step less per level, down to the deepest ancestor that
     * exists; the missing ones are then created top-down on the way back. */
    if (!selects_node(state, base) && xml_create_node_path_if_possible_with_attr(state, base) != 0) {
        XMLDATA_RECORD("[%s]:[%s] - %s: ++Error xml_create_node_path_if_possible_with_attr failed xpath=%s, base=%s",
                       __func__, xpath, base);
        nested_failed = 1;
        goto out;
    }
    rc = xml_insert_node_with_attr(state, base, last);
out:
    free(base);
    /* A failed nested creation has its own record instead. */
    if (rc != 0 && !nested_failed)
        XMLDATA_RECORD("[%s]:[%s] - Unable to create node %s", xmldata_str(xpath));
    return rc;
}

extern "C" xmlChar *xml_encode_text(XmlState *state, const char *text)
{
    if (!state || !state->pDoc || !text)
        return NULL;
    return xmlEncodeEntitiesReentrant(state->pDoc, BAD_CAST text);
}

extern "C" int xml_set_content_of(XmlState *state, xmlNodePtr node, const xmlChar *content, int len)
{
    if (!state || !state->pDoc || !node)
        return -1;
    xmldata_index_content_changing(state->pDoc, node);
    xmlNodeSetContentLen(node, content, len);
    return 0;
}

extern "C" xmlNodePtr xml_append_element(XmlState *state, xmlNodePtr parent, const char *name)
{
    if (!state || !state->pDoc || !parent)
        return NULL;
    return append_new_element(state, parent, name);
}

/* Whether node is a text node of whitespace only. */
static int is_blank_text(xmlNodePtr node)
{
    return node && node->type == XML_TEXT_NODE && xmlIsBlankNode(node);
}

/* The whitespace text right before node, or NULL. */
static xmlNodePtr blank_before(xmlNodePtr node)
{
    return node && is_blank_text(node->prev) ? node->prev : NULL;
}

extern "C" xmlNodePtr xml_insert_copy(XmlState *state, xmlNodePtr parent, xmlNodePtr after, xmlNodePtr before,
                                      xmlNodePtr src)
{
    xmlNodePtr copy = NULL;
    xmlNodePtr indent = NULL;
    xmlNodePtr model;
    xmlNodePtr last_element = NULL;

    if (!state || !state->pDoc || !parent || !src || src->type != XML_ELEMENT_NODE)
        return NULL;
    /* Namespaces are taken from parent's scope where it binds them, and
     * declared on the copy where it does not. */
    if (xmlDOMWrapCloneNode(NULL, src->doc, src, &copy, state->pDoc, parent, 1, 0) != 0 || !copy)
        return NULL;
    if (!after && !before) {
        for (xmlNodePtr c = parent->last; c && !last_element; c = c->prev) {
            if (c->type == XML_ELEMENT_NODE)
                last_element = c;
        }
        /* After the last element, before the whitespace that closes the
         * parent. */
        after = last_element;
    }
    model = blank_before(after ? after : before);
    if (model)
        indent = xmlNewDocText(state->pDoc, model->content);
    if (after) {
        if (indent)
            indent = xmlAddNextSibling(after, indent);
        copy = xmlAddNextSibling(indent ? indent : after, copy);
    } else if (before) {
        copy = xmlAddPrevSibling(before, copy);
        if (copy && indent)
            indent = xmlAddPrevSibling(before, indent);
    } else {
        copy = xmlAddChild(parent, copy);
    }
    if (!copy) {
        if (indent && !indent->parent)
            xmlFreeNode(indent);
        return NULL;
    }
    /* Every namespace the copy uses is one of this document's, declared
     * in its scope here, never one of the source's. */
    xmlReconciliateNs(state->pDoc, copy);
    xmldata_index_inserted(state->pDoc, parent, copy);
    return copy;
}

extern "C" int xml_remove_node(XmlState *state, xmlNodePtr node)
{
    xmlNodePtr blank;

    if (!state || !state->pDoc || !node || node->doc != state->pDoc || !node->parent)
        return -1;
    blank = blank_before(node);
    xmldata_index_removing(state->pDoc, node);
    if (blank) {
        xmldata_index_removing(state->pDoc, blank);
        xmlUnlinkNode(blank);
        xmlFreeNode(blank);
    }
    xmlUnlinkNode(node);
    xmlFreeNode(node);
    return 0;
}

extern "C" int xml_set_attribute_of(XmlState *state, xmlNodePtr node, xmlNsPtr ns, const char *local,
                                    const xmlChar *value)
{
    if (!state || !state->pDoc || !node || node->type != XML_ELEMENT_NODE || !local)
        return -1;
    xmldata_index_attribute_changing(state->pDoc, node, ns, local, value != NULL);
    if (value)
        return xmlSetNsProp(node, ns, BAD_CAST local, value) ? 0 : -1;
    return xmlUnsetNsProp(node, ns, BAD_CAST local) == 0 ? 0 : -1;
}
