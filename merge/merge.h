/* The three-way merge of the old release's, the new release's and the
 * device's configuration files. */
#ifndef XMLCFG_MERGE_H
#define XMLCFG_MERGE_H

#include <libxml/xmlreader.h>

#include "../xmldata/xmldata.h"

/* Default mode: 0 merged and saved over dest_file, 1 failure (dest_file unchanged). */
int xml_merge_and_update(const char *src_file, const char *new_file, const char *dest_file, int discard_local_tags);

/* Leaf callback of the walk in merge mode: 0 settled, 1 failure. */
int merge_and_update(XmlState *nDoc, XmlState *oDoc, char *Xpath, char *nXpath, xmlTextReaderPtr reader);

#endif
