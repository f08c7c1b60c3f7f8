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
