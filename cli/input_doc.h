/* Loading the whole documents that a mode driver holds for its run. */
#ifndef XMLCFG_INPUT_DOC_H
#define XMLCFG_INPUT_DOC_H

#include "../xmldata/xmldata.h"

/*
 * Creates a handle and loads file into it.  On failure prints, in the
 * caller's name, "failed to create xml state" or "failed to load ROLE xml
 * file:FILE" (for a file that cannot be opened followed by the reason),
 * releases what it made and returns NULL.
 */
XmlState *load_input_document(const char *caller, const char *file, const char *role);

/*
 * A document that a walk compares with: references to entities that stand
 * for elements are replaced by those elements, so that the walk's paths
 * find them (text references stay; values read through them).
 * expand_for_walk does that to a loaded handle: 0, or an XMLDATA_INPUT_
 * fault; load_walk_document is load_input_document followed by it.
 */
int expand_for_walk(XmlState *state);
XmlState *load_walk_document(const char *caller, const char *file, const char *role);

/*
 * For an input that cannot be opened, is refused as not a regular file, or
 * whose entity references expand too far (XMLDATA_INPUT_ faults), prints
 * why in the caller's name.  Other faults print nothing: the caller's own
 * line says enough.
 */
void report_input_fault(const char *caller, const char *file, int fault);

/* "###Error FILE: REASON" for an input that cannot be opened: err is the
 * errno of the failed open, or 0 to ask the system again. */
void report_unopened(const char *caller, const char *file, int err);

#endif
