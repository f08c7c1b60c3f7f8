/* Node selection shared by the store's queries and editing operations. */
#ifndef XMLDATA_SELECT_H
#define XMLDATA_SELECT_H

#include "xmldata.h"

/*
 * Evaluates xpath in the handle's context.  When no result comes back the
 * evaluation record is written (the variant ending in a line feed when
 * eval_record_nl is set) and NULL is returned.  Otherwise *first is the
 * first selected node, or NULL when the result selects none; the caller
 * releases the result with xmlXPathFreeObject (which accepts NULL).
 */
xmlXPathObjectPtr xmldata_select(XmlState *state, const char *xpath, int eval_record_nl, xmlNodePtr *first);

#endif
