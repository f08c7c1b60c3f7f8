/*
 * Document store: the namespaces of path steps.
 *
 * A program that walks one file and looks its elements up in another
 * registers, with xml_set_path_namespace, the walked file's bindings: a
 * prefix goes into the handle's XPath context as it is, the default
 * namespace under a reserved prefix (registered as "" for no namespace,
 * which also marks the handle as having path namespaces).  Once it is
 * registered, xml_eval_xpath reads each step of an absolute path in the
 * walked file's terms:
 *   name                       the reserved prefix's name, when the
 *                              default is a namespace
 *   p:name[namespace-uri()=U]  *[local-name()='name'][namespace-uri()=U]
 *   name[namespace-uri()=U]    (U alone decides, whatever the prefix)
 * Predicates are left as they are: their attribute names are in no
 * namespace unless prefixed, as in XPath.
 */
#include "xmldata.h"
#include "xmldata_ns.h"
#include "xmldata_index.h"

#include <string.h>

#include <libxml/xpathInternals.h>

#include "../common/banned.h"

/* Registered for the walked file's default namespace. */
#define DEFAULT_PREFIX "xmldata-default"

static const char ns_predicate[] = "[namespace-uri()=";

static xmlXPathContextPtr ctxt_of(XmlState *state)
{
    return state && state->pDoc && state->pCtxt ? state->pCtxt : NULL;
}

/* The URI registered for prefix ("" for none), or NULL when it has none. */
static const xmlChar *registered(xmlXPathContextPtr ctxt, const char *prefix)
{
    if (!ctxt->nsHash)
        return NULL;
    return static_cast<const xmlChar *>(xmlHashLookup(ctxt->nsHash, BAD_CAST prefix));
}

/* The default's namespace as registered in ctxt, looked up once for as long
 * as ctxt's table of namespaces keeps its size and no document was dropped
 * (after which a context may stand at the same address). */
static struct {
    xmlXPathContextPtr ctxt;
    xmlHashTablePtr table;
    int size;
    unsigned long epoch;
    const xmlChar *uri;
} default_seen;

static const xmlChar *registered_default(xmlXPathContextPtr ctxt)
{
    int size = ctxt->nsHash ? xmlHashSize(ctxt->nsHash) : -1;

    if (default_seen.ctxt != ctxt || default_seen.table != ctxt->nsHash || default_seen.size != size ||
        default_seen.epoch != xmldata_index_epoch()) {
        default_seen.ctxt = ctxt;
        default_seen.table = ctxt->nsHash;
        default_seen.size = size;
        default_seen.epoch = xmldata_index_epoch();
        default_seen.uri = registered(ctxt, DEFAULT_PREFIX);
    }
    return default_seen.uri;
}

extern "C" int xml_set_path_namespace(XmlState *state, const char *prefix, const char *uri)
{
    xmlXPathContextPtr ctxt = ctxt_of(state);
    const xmlChar *have;
    int is_default = !prefix || !prefix[0];
    const char *key = is_default ? DEFAULT_PREFIX : prefix;

    if (!uri)
        uri = "";
    /* A prefix is always bound to a namespace; the reserved one is the
     * default's. */
    if (!ctxt || strchr(key, ':') || (!is_default && (uri[0] == '\0' || strcmp(key, DEFAULT_PREFIX) == 0)))
        return -1;
    if (strcmp(key, "xml") == 0)
        return xmlStrEqual(BAD_CAST uri, XML_XML_NAMESPACE) ? 0 : 1;
    /* The first default marks the handle, also when it is no namespace. */
    if (!registered(ctxt, DEFAULT_PREFIX) && !is_default &&
        xmlXPathRegisterNs(ctxt, BAD_CAST DEFAULT_PREFIX, BAD_CAST "") != 0)
        return -1;
    have = registered(ctxt, key);
    if (have)
        return xmlStrEqual(have, BAD_CAST uri) ? 0 : 1;
    return xmlXPathRegisterNs(ctxt, BAD_CAST key, BAD_CAST uri) == 0 ? 0 : -1;
}

const xmlChar *xmldata_path_namespace(XmlState *state, const char *prefix)
{
    xmlXPathContextPtr ctxt = ctxt_of(state);
    const xmlChar *uri;

    if (!ctxt)
        return NULL;
    if (prefix && strcmp(prefix, "xml") == 0)
        return XML_XML_NAMESPACE;
    uri = registered(ctxt, prefix && prefix[0] ? prefix : DEFAULT_PREFIX);
    return uri && uri[0] ? uri : NULL;
}

size_t xmldata_ns_predicate_len(const char *p)
{
    const char *close;

    if (strncmp(p, ns_predicate, sizeof(ns_predicate) - 1) != 0)
        return 0;
    close = p + sizeof(ns_predicate) - 1;
    if (*close != '\'' && *close != '"')
        return 0;
    close = strchr(close + 1, *close);
    if (!close || close[1] != ']')
        return 0;
    return (size_t)(close + 2 - p);
}

int xmldata_put(char *buf, size_t size, size_t *used, const char *text, size_t len)
{
    if (*used + len >= size)
        return -1;
    memcpy(buf + *used, text, len);
    *used += len;
    buf[*used] = '\0';
    return 0;
}

/* The length of the element name at the start of step: letters, digits,
 * '_', '-', '.', ':' and any byte from 0x80 on; 0 when step starts with
 * something else (an axis, '@', '*', '.', a function). */
static size_t name_len(const char *step)
{
    size_t n = 0;

    for (;; n++) {
        unsigned char c = (unsigned char)step[n];

        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || c >= 0x80 ||
              (n > 0 && ((c >= '0' && c <= '9') || c == '-' || c == '.' || c == ':'))))
            break;
    }
    if (step[n] == '(' || (step[n] == ':' && step[n + 1] == ':'))
        return 0;
    return n;
}

/* Appends the store's reading of one step [p, end) to buf. */
static int rewrite_step(const char *p, const char *end, int with_default, char *buf, size_t size, size_t *used)
{
    size_t n = name_len(p);
    size_t pred = n ? xmldata_ns_predicate_len(p + n) : 0;
    const char *colon;
    const char *local = p;

    if (pred) {
        colon = static_cast<const char *>(memchr(p, ':', n));
        if (colon)
            local = colon + 1;
        if (xmldata_put(buf, size, used, "*[local-name()='", 16) != 0 || xmldata_put(buf, size, used, local, (size_t)(p + n - local)) != 0 ||
            xmldata_put(buf, size, used, "']", 2) != 0)
            return -1;
        return xmldata_put(buf, size, used, p + n, (size_t)(end - p - n));
    }
    if (n && with_default && !memchr(p, ':', n) &&
        (xmldata_put(buf, size, used, DEFAULT_PREFIX, sizeof(DEFAULT_PREFIX) - 1) != 0 || xmldata_put(buf, size, used, ":", 1) != 0))
        return -1;
    return xmldata_put(buf, size, used, p, (size_t)(end - p));
}

const char *xmldata_ns_path(XmlState *state, const char *xpath, char *buf, size_t size)
{
    xmlXPathContextPtr ctxt = ctxt_of(state);
    const xmlChar *def = ctxt ? registered_default(ctxt) : NULL;
    const char *p = xpath;
    size_t used = 0;
    int with_default;

    /* Handles without path namespaces, and paths that are no absolute
     * location path, are evaluated as they are. */
    if (!def || !xpath || xpath[0] != '/')
        return xpath;
    with_default = def[0] != '\0';
    if (!with_default && !strstr(xpath, ns_predicate))
        return xpath;
    buf[0] = '\0';
    while (*p == '/') {
        const char *end = p + 1 + xml_path_step_len(p + 1);

        if (xmldata_put(buf, size, &used, "/", 1) != 0 || rewrite_step(p + 1, end, with_default, buf, size, &used) != 0)
            return xpath;
        p = end;
    }
    if (*p != '\0')
        return xpath;
    return buf;
}
