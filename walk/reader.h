/* The reader loop over one XML file, and the validation mode. */
#ifndef XMLCFG_READER_H
#define XMLCFG_READER_H

#include "../xmldata/xmldata.h"
#include "walk.h"

/*
 * Streams file node by node.  Unless parse_only is set, each node goes to
 * processNode() with the two walk paths and handles, which pass through
 * untouched, and the walk calls the mode's callbacks (NULL when parse_only
 * is set).  Result 0 when the whole file was read and every node handled,
 * 1 otherwise.
 */
int streamFile(const char *file, int parse_only, char *Xpath, char *nXpath, XmlState *nDoc, XmlState *oDoc,
               const WalkCallbacks *callbacks);

/* -o: 0 when file is well formed from its first to its last byte, else 1. */
int xml_verify_xml_syntax(const char *file);

#endif
