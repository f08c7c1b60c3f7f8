/* The XPath delta between two configuration files. */
#ifndef XMLCFG_DELTA_H
#define XMLCFG_DELTA_H

#include <libxml/xmlreader.h>

#include "../xmldata/xmldata.h"

/* -m: 0 when both walks ran to the end, 1 on failure. */
int xml_create_xpath_delta(const char *src_file, const char *new_file, const char *delta_file);

/* Leaf callback of the walk in delta mode: 0, or 1 when recording failed. */
int check_delta(XmlState *nDoc, char *Xpath, char *nXpath, xmlTextReaderPtr reader);

#endif
