/*
 * The store's path index: answers the walk's location paths from a lookup
 * per parent element, built lazily and kept per document.  Every edit the
 * store makes tells the index first, so that it never hands out a node
 * that was freed or misses one that was added.
 */
#ifndef XMLDATA_INDEX_H
#define XMLDATA_INDEX_H

#include "xmldata.h"

/* Drops everything indexed for doc (before it is freed or replaced, or
 * when its raw tree is handed out). */
void xmldata_index_drop(xmlDocPtr doc);

/* child was just appended as the last child of parent. */
void xmldata_index_appended(xmlDocPtr doc, xmlNodePtr parent, xmlNodePtr child);

/* node's content is about to be replaced (an element loses its children,
 * an attribute its value). */
void xmldata_index_content_changing(xmlDocPtr doc, xmlNodePtr node);

/* child was just put into parent at some position other than the end
 * (NULL: one or several children were). */
void xmldata_index_inserted(xmlDocPtr doc, xmlNodePtr parent, xmlNodePtr child);

/* element's attribute local (in namespace ns, or none) is about to be
 * set, added or removed; stays is 0 when it is removed. */
void xmldata_index_attribute_changing(xmlDocPtr doc, xmlNodePtr element, xmlNsPtr ns, const char *local, int stays);

/* node is about to be unlinked and freed with everything below it. */
void xmldata_index_removing(xmlDocPtr doc, xmlNodePtr node);

/* A count that changes with every edit the index is told of and every
 * document dropped: what was looked up at one count holds while it stays. */
unsigned long xmldata_index_epoch(void);

#endif
