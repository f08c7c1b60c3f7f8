/* The store's reading of path steps in the namespaces a walk registered
 * (xml_set_path_namespace). */
#ifndef XMLDATA_NS_H
#define XMLDATA_NS_H

#include "xmldata.h"

/* xpath as the store evaluates it: with the walked file's default
 * namespace and explicit [namespace-uri()=U] steps written out, in buf
 * (size bytes); xpath itself when there is nothing to rewrite or it does
 * not fit. */
const char *xmldata_ns_path(XmlState *state, const char *xpath, char *buf, size_t size);

/* The URI registered for prefix (NULL or "" for the default), the XML
 * namespace for "xml"; NULL for none. */
const xmlChar *xmldata_path_namespace(XmlState *state, const char *prefix);

/* The length of the "[namespace-uri()='U']" predicate that p starts with,
 * or 0. */
size_t xmldata_ns_predicate_len(const char *p);

/* Appends len bytes of text at *used in buf (size bytes), terminated: 0,
 * or -1 when they do not fit (buf unchanged). */
int xmldata_put(char *buf, size_t size, size_t *used, const char *text, size_t len);

#endif
