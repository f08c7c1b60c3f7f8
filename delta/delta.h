/* The XPath delta between two configuration files. */
#ifndef XMLCFG_DELTA_H
#define XMLCFG_DELTA_H

#include <stdio.h>

#include <libxml/xmlreader.h>

#include "../xmldata/xmldata.h"
#include "../walk/walk.h"

/* Kinds of record handed to save_xpath_to_file. */
#define DELTA_KIND_CHANGED 0   /* value differs, or the loaded file forces it with PRI */
#define DELTA_KIND_MISSING 2   /* no node of the loaded document matches */

/* The delta file, open from before the first walk until after the second. */
extern FILE *delta_fp;
/* Set by every record made while delta_fp is open; decides if the file stays. */
extern int delta_found;
/* 0 in the walk of the source file, 1 in the walk of the new file. */
extern int delta_add_pass;
/* The walked leaf's text during one comparison, or NULL. */
extern xmlChar *delta_old_value;

/* -m: 0 when both walks ran to the end, 1 on failure. */
int xml_create_xpath_delta(const char *src_file, const char *new_file, const char *delta_file);

/* Walks one file against the other, loaded whole: 0 when the walk ran to the end. */
int xml_read_through_src_file(const char *walked_file, const char *loaded_file);

/* Leaf callback of the walk in delta mode: 0, or 1 when recording failed. */
int check_delta(XmlState *nDoc, char *Xpath, char *nXpath, xmlTextReaderPtr reader);
/* What the walk calls in delta mode: check_delta and delta_root_attributes. */
extern const WalkCallbacks delta_walk_callbacks;

/*
 * Element check of the walk in delta mode, at the walked file's root
 * (Xpath its path): a record for each of its attributes (PRI aside), in
 * the order of their names, that the loaded document's root of the same
 * name lacks or holds with another value, with the attribute's path, for
 * example /config[1]/@version.  0, or 1 when a record failed.
 */
int delta_root_attributes(XmlState *nDoc, const char *Xpath, xmlTextReaderPtr reader);

/* Writes the line for one record: 1 for a NULL xpath or a failed write
 * (with an error line), else 0. */
int save_xpath_to_file(const char *xpath, int kind);

/* Holds the delta file's folder and opens a new file in it as delta_fp: 0,
 * -1 when it cannot be made, -2 when the name is not a regular file (a
 * symlink, device, FIFO or folder), which is left as it is. */
int open_delta_file(const char *name);
/* Flushes delta_fp and, with keep, renames it over the delta file; else
 * removes it, leaving the delta file as it was.  0, or -1 with an error
 * line when a write failed (the delta file is then as it was). */
int close_delta_file(int keep);
/* Removes the delta file found by open_delta_file, only while the name
 * still is that file: 0, or -1 with an error line. */
int remove_delta_file(const char *name);

/* Empties mapXpath and mapNXpath so that a walk numbers from the start. */
void clear_xpath_maps(void);
/* Closes a delta file left open and clears the delta state, so that a
 * second run in one process starts as the first did. */
void reset_delta_state(void);

#endif
