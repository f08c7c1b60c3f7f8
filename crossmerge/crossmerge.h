/* The cross merge: values carried from old XPaths to new ones. */
#ifndef XMLCFG_CROSSMERGE_H
#define XMLCFG_CROSSMERGE_H

/* -c: 0 or 1; the output is written only when a value was carried over. */
int xml_cross_merge(const char *src_file, const char *new_file, const char *cross_merge_file, const char *dest_file);

#endif
