/*
 * XPath value operations of the cross merge.  Every failure is one console
 * line of the operation that failed; every evaluation result is released
 * before the operation returns.
 */
#include "xpath_ops.h"

#include <stdlib.h>
#include <string.h>

#include <libxml/entities.h>
#include <libxml/parserInternals.h>
#include <libxml/tree.h>
#include <libxml/xpath.h>

#include "../cli/console.h"

#include "../common/banned.h"

/* Evaluates xpath in the handle's context; NULL when it cannot be.  A null
 * expression is never handed to the library. */
static xmlXPathObjectPtr evaluate(XmlState *state, const char *xpath)
{
    if (!xpath)
        return NULL;
    return xml_eval_xpath(state, xpath);
}

/*
 * Whether an element called name can be saved and read back.  Blanks after
 * the name are tolerated: the serialiser writes them inside the tag, where
 * they are allowed.  Anything else that is not an XML name (an empty name
 * from a path ending in "/", blanks inside or in front, a leading digit)
 * would make the saved document unreadable.
 */
static int is_savable_name(const char *name)
{
    if (!name || name[0] == '\0' || IS_BLANK_CH(name[0]))
        return 0;
    return xmlValidateName(BAD_CAST name, 1) == 0;
}

/* The first node of an evaluation result, or NULL when it selects none. */
static xmlNodePtr first_node(xmlXPathObjectPtr res)
{
    if (!res || res->type != XPATH_NODESET || xmlXPathNodeSetIsEmpty(res->nodesetval))
        return NULL;
    return xmlXPathNodeSetItem(res->nodesetval, 0);
}

int xpath_do_operation(int opr, XmlState *state, const char *xpath, char *value, int len)
{
    xmlXPathObjectPtr res = NULL;
    xmlNodePtr node;
    xmlChar *content = NULL;
    xmlChar *encoded = NULL;
    size_t content_len;
    int rc = -1;

    if (!state || !xpath || !value) {
        console_log(0, "%s: ###Error opr=[%d] Null parameters\n", __func__, opr);
        return -1;
    }
    if (!xml_is_loaded(state) || xpath[0] == '\0' || len == 0) {
        console_log(0, "%s: ###Error opr=[%d] Invalid input values\n", __func__, opr);
        return -1;
    }

    res = evaluate(state, xpath);
    if (!res) {
        console_log(0, "%s: ###Error opr=[%d] xmlXPathEvalExpression() failed, XPath=[%s]\n", __func__, opr, xpath);
        return -1;
    }
    node = first_node(res);
    if (!node) {
        console_log(0, "%s: ###Error opr=[%d] xmlXPathNodeSetIsEmpty() is true , XPath=[%s]\n", __func__, opr, xpath);
        goto out;
    }

    if (opr == RD) {
        content = xmlNodeGetContent(node);
        if (!content) {
            console_log(0, "%s: ###Error RD - xmlNodeGetContent() failed, XPath=[%s]\n", __func__, xpath);
            goto out;
        }
        content_len = strlen(reinterpret_cast<const char *>(content));
        /* Refused rather than cut: a value that does not fit with its
         * terminator is not read at all. */
        if ((long)content_len >= (long)len) {
            console_log(0, "%s: ###Error RD - XPath=[%s] value len=[%ld] > buf size=[%d]\n", __func__, xpath,
                        (long)content_len, len);
            goto out;
        }
        memcpy(value, content, content_len + 1);
        xmlFree(content);
        content = NULL;
        console_log(1, "%s: RD - XPath=[%s], value=[%s]\n", __func__, xpath, value);
        rc = 0;
    } else {
        /* Markup characters become references, which the library parses
         * back when it sets the content: the node's text equals value. */
        encoded = xml_encode_text(state, value);
        if (!encoded) {
            console_log(0, "%s: ###Error WR - xmlEncodeEntitiesReentrant() failed, XPath=[%s]\n", __func__, xpath);
            goto out;
        }
        xml_set_content_of(state, node, encoded, xmlStrlen(encoded));
        console_log(1, "%s: WR - XPath=[%s], encoded=[%s], org_value=[%s]\n", __func__, xpath,
                    reinterpret_cast<const char *>(encoded), value);
        rc = 0;
    }

out:
    xmlFree(content);
    xmlFree(encoded);
    xmlXPathFreeObject(res);
    return rc;
}

int xpath_read_value(XmlState *state, const char *xpath, char *buf, int buf_size)
{
    return xpath_do_operation(RD, state, xpath, buf, buf_size);
}

int xpath_write_value(XmlState *state, const char *xpath, const char *value, int len)
{
    /* WR only reads the value. */
    return xpath_do_operation(WR, state, xpath, const_cast<char *>(value), len);
}

int xpath_write_value_ex(XmlState *state, const char *xpath, const char *value, int len)
{
    int rc;

    if (xpath_write_value(state, xpath, value, len) == 0)
        return 0;
    rc = xpath_create_node_path(state, xpath);
    if (rc != 0)
        return rc;
    return xpath_write_value(state, xpath, value, len);
}

int xpath_create_node_path(XmlState *state, const char *xpath)
{
    xmlXPathObjectPtr res = NULL;
    char *parent = NULL;
    char *slash = NULL;
    int rc = -1;

    /* Attributes, predicates and indexes are never created. */
    if (!xpath || strchr(xpath, '@') || strchr(xpath, '['))
        goto out;
    parent = strdup(xpath);
    if (parent)
        slash = strrchr(parent, '/');
    if (!slash)
        goto out;
    *slash = '\0';

    /* A missing parent is created first, so ancestors come into being from
     * the outermost down.  Neither result is looked at here: the caller's
     * next operation tells whether the element is there. */
    res = evaluate(state, parent);
    if (!first_node(res))
        xpath_create_node_path(state, parent);
    xpath_insert_node(state, parent, slash + 1);
    rc = 0;

out:
    xmlXPathFreeObject(res);
    free(parent);
    if (rc != 0)
        console_log(0, "%s: ###Error  Unable to create node path=[%s]", __func__, show_str(xpath));
    return rc;
}

int xpath_insert_node(XmlState *state, const char *xparent, const char *name)
{
    xmlXPathObjectPtr res = NULL;
    xmlNodePtr parent;
    int rc = -1;

    res = evaluate(state, xparent);
    if (!res) {
        console_log(0, "%s: ###Error xmlXPathEvalExpression() failed, xparent=[%s]\n", __func__, show_str(xparent));
        return -1;
    }
    parent = first_node(res);
    /* Only an element takes child elements (hanging one below a text or
     * attribute node would corrupt the tree), and only a name that can be
     * saved is used. */
    if (parent && parent->type == XML_ELEMENT_NODE && is_savable_name(name) &&
        xml_append_element(state, parent, name))
        rc = 0;
    xmlXPathFreeObject(res);
    if (rc != 0)
        console_log(0, "%s: ###Error Unable to insert node=[%s] at [%s]\n", __func__, show_str(name), xparent);
    return rc;
}

int xpath_get_node_count(XmlState *state, const char *xpath, int *count)
{
    xmlXPathObjectPtr res;
    int rc = -1;

    if (!xml_is_loaded(state) || !count) {
        console_log(0, "%s: ###Error Null parameters\n", __func__);
        return -1;
    }
    *count = 0;
    res = evaluate(state, xpath);
    if (!res) {
        console_log(0, "%s: ###Error xmlXPathEvalExpression() failed, XPath=[%s]\n", __func__, show_str(xpath));
        return -1;
    }
    if (res->type == XPATH_NODESET) {
        *count = xmlXPathNodeSetGetLength(res->nodesetval);
        rc = 0;
    }
    xmlXPathFreeObject(res);
    if (rc != 0)
        console_log(0, "%s: ###Error unable to get node count, XPath=[%s]\n", __func__, xpath);
    return rc;
}
