/*
 * Attributes taken one by one as settings: in the order of their names,
 * looked up by the name a file writes, read as plain text.
 */
#include "walk.h"

#include <stdio.h>
#include <string.h>

#include "../common/banned.h"

/* Writes the name a's file writes ("prefix:local" in a namespace) into
 * name: 0, or -1 when it does not fit. */
static int written_name(xmlAttrPtr a, char *name, size_t size)
{
    const char *prefix = a->ns && a->ns->prefix ? reinterpret_cast<const char *>(a->ns->prefix) : NULL;
    const char *local = a->name ? reinterpret_cast<const char *>(a->name) : "(null)";
    size_t plen = prefix ? strlen(prefix) + 1 : 0;
    size_t llen = strlen(local);

    if (plen + llen >= size)
        return -1;
    if (prefix) {
        memcpy(name, prefix, plen - 1);
        name[plen - 1] = ':';
    }
    memcpy(name + plen, local, llen + 1);
    return 0;
}

/* Copies text into buf (size bytes), cut at its end. */
static void copy_cut(char *buf, size_t size, const char *text)
{
    size_t len = strnlen(text, size - 1);

    memcpy(buf, text, len);
    buf[len] = '\0';
}

/* Whether a is a setting of its element: PRI is none, and an attribute in
 * a namespace only when with_ns is set. */
static int is_setting(xmlAttrPtr a, int with_ns)
{
    if (a->ns)
        return with_ns;
    return xmlStrcmp(a->name, BAD_CAST "PRI") != 0;
}

void attribute_name_after(xmlNodePtr node, int with_ns, const char *after, char *best, size_t size)
{
    char name[XPATH_BUF_SIZE];
    xmlAttrPtr a;

    for (a = node ? node->properties : NULL; a; a = a->next) {
        if (!is_setting(a, with_ns) || written_name(a, name, sizeof(name)) != 0)
            continue;
        if (strcmp(name, after) <= 0 || (best[0] && strcmp(name, best) >= 0))
            continue;
        copy_cut(best, size, name);
    }
}

xmlChar *attribute_value(xmlNodePtr node, const char *name)
{
    char written[XPATH_BUF_SIZE];
    xmlAttrPtr a;

    for (a = node ? node->properties : NULL; a; a = a->next) {
        if (written_name(a, written, sizeof(written)) == 0 && strcmp(written, name) == 0) {
            xmlChar *value = xmlNodeListGetString(node->doc, a->children, 1);

            /* An attribute written as name="" has a value all the same. */
            return value ? value : xmlStrdup(BAD_CAST "");
        }
    }
    return NULL;
}

xmlNodePtr first_selected(XmlState *doc, const char *xpath)
{
    xmlXPathObjectPtr res = xml_is_loaded(doc) ? xml_eval_xpath(doc, xpath) : NULL;
    xmlNodePtr node = NULL;

    if (res && res->type == XPATH_NODESET && res->nodesetval && res->nodesetval->nodeNr > 0)
        node = res->nodesetval->nodeTab[0];
    xmlXPathFreeObject(res);
    return node;
}
