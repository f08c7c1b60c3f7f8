/*
 * Store-internal: how input files are opened, and the bound on the text
 * that entity references may expand to.  Shared by the store's loader and
 * the tool's reader loop; not installed with the public header.
 */
#ifndef XMLDATA_INPUT_H
#define XMLDATA_INPUT_H

#include <stddef.h>

#include <libxml/tree.h>

#include "xmldata.h"

#ifdef __cplusplus
extern "C" {
#endif

/*
 * Most text, in bytes, that the entity references of one document may
 * expand to in all, nested references included.  The same number bounds
 * the nodes visited while expanding, so that references to empty entities
 * cannot make the count itself run away.
 */
#define XMLDATA_EXPANSION_LIMIT (1024 * 1024)

/* Why an input could not be opened or loaded. */
#define XMLDATA_INPUT_UNOPENED (-1)      /* open failed; errno tells why */
#define XMLDATA_INPUT_NOT_REGULAR (-2)   /* a FIFO, device, directory or socket */
#define XMLDATA_INPUT_UNPARSED (-3)      /* not well formed, or no context */
#define XMLDATA_INPUT_EXPANDS (-4)       /* entity references expand too far */
#define XMLDATA_INPUT_LOADED (-5)        /* the handle holds a document already */

/*
 * Opens an input for reading without blocking: a regular file, or standard
 * input for the name "-".  Returns the descriptor, XMLDATA_INPUT_UNOPENED
 * or XMLDATA_INPUT_NOT_REGULAR.  The descriptor is closed again with
 * xmldata_close_input, which leaves standard input open.
 */
int xmldata_open_input(const char *filename);
void xmldata_close_input(int fd);

/* What entity references expanded to so far, counted across calls. */
typedef struct XmldataExpansion {
    size_t text;    /* bytes of text */
    size_t nodes;   /* nodes visited inside entities */
} XmldataExpansion;

/*
 * Adds what node expands to: an entity reference, or the references in an
 * element's attribute values (not below it).  Other nodes add nothing.
 * 0, or -1 once either count passes XMLDATA_EXPANSION_LIMIT.
 */
int xmldata_count_expansion(xmlNodePtr node, XmldataExpansion *ex);
/* The same over a whole document, from zero: 0 or -1. */
int xmldata_document_expansion(xmlDocPtr doc);

/*
 * Replaces every reference in doc to an internal entity whose content
 * holds more than text (elements, comments) by a copy of that content, so
 * that paths and lookups find those elements; references that stand for
 * text stay, since reading a value expands them.  Call it on a document
 * whose expansion was counted.  0, or -1 when memory ran out (the document
 * may then hold some copies).
 */
int xmldata_expand_markup_references(xmlDocPtr doc);

/*
 * xml_load_document with the reason of a failure: 0, or one of the
 * XMLDATA_INPUT_ values above.  Writes the same records.
 */
int xmldata_load_input(XmlState *state, const char *filename);

#ifdef __cplusplus
}
#endif

#endif
