/*
 * XPath value operations on a loaded document: read the text of the first
 * node an XPath selects, write such a text (creating a missing plain path
 * first), insert an empty child element, count the nodes an XPath selects.
 *
 * Unlike the document store, these report every failure as a console line
 * and answer 0 for success and -1 for failure.  A read never cuts a value:
 * a text that does not fit the caller's buffer is refused.
 */
#ifndef XMLCFG_XPATH_OPS_H
#define XMLCFG_XPATH_OPS_H

#include "../xmldata/xmldata.h"

/* Operation codes of xpath_do_operation; every non-zero code writes. */
enum {
    RD = 0,
    WR = 1
};

/*
 * RD: copies the first selected node's text, with its terminating zero,
 * into value, a buffer of len bytes; a text of len bytes or more is
 * refused and the buffer left as it was.
 * WR: makes value (len bytes, len non-zero) the first selected node's whole
 * content, replacing its text and child elements.
 */
int xpath_do_operation(int opr, XmlState *state, const char *xpath, char *value, int len);

int xpath_read_value(XmlState *state, const char *xpath, char *buf, int buf_size);
int xpath_write_value(XmlState *state, const char *xpath, const char *value, int len);

/* Writes; when that fails for any reason, creates the path and writes again. */
int xpath_write_value_ex(XmlState *state, const char *xpath, const char *value, int len);

/*
 * Creates the element that xpath names, and its missing ancestors from the
 * outermost down, each as the last child of the first node its parent path
 * selects.  Paths holding "@" or "[" are refused (-1).  0 means that the
 * insertion was attempted; the next operation shows whether it took.
 */
int xpath_create_node_path(XmlState *state, const char *xpath);

/* Appends an empty element called name as the last child of the first
 * element that xparent selects. */
int xpath_insert_node(XmlState *state, const char *xparent, const char *name);

/* Stores in *count the number of nodes xpath selects (0 included). */
int xpath_get_node_count(XmlState *state, const char *xpath, int *count);

#endif
