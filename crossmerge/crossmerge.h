/* The cross merge: values carried from old XPaths to new ones. */
#ifndef XMLCFG_CROSSMERGE_H
#define XMLCFG_CROSSMERGE_H

#include <stddef.h>

/* -c: 0 or 1; the output is written only when a value was carried over. */
int xml_cross_merge(const char *src_file, const char *new_file, const char *cross_merge_file, const char *dest_file);

/*
 * Removes one double quote at the end and one at the start of text, each
 * independently; a lone quote leaves the text empty.  size is the size of
 * the buffer that holds text.
 */
void strip_quotes(char *text, size_t size);

#endif
