/*
 * xmldata: a handle-based store over one parsed XML document and its XPath
 * context.  Load a file or a string, query and edit it by XPath, save it.
 *
 * Results are 0 for success and -1 for failure unless stated otherwise.
 * Failures are reported as diagnostic records through the device debug
 * library (tolu_dbg_syslog / tolu_dbg_log) under the module tag "XMLDATA";
 * the store never writes to standard output or standard error.
 *
 * The store installs no libxml2 error handler of its own: a program that
 * wants the library's messages installs one before it creates a handle.
 * xml_fini() also cleans up libxml2's global state, so release handles only
 * when all work on all documents is done.
 */
#ifndef XMLDATA_H
#define XMLDATA_H

#include <stddef.h>

#include <libxml/tree.h>
#include <libxml/xpath.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct XmlState {
    xmlDocPtr pDoc;             /* the parsed document, or NULL */
    xmlXPathContextPtr pCtxt;   /* XPath context bound to pDoc, or NULL */
} XmlState;

/*
 * Handle and lifecycle.  A handle holds one document: loading into a
 * loaded handle is refused.  xml_save_document writes the document, in its
 * own encoding, to a new file beside the target and renames it over the
 * target (which keeps its owner and mode, not its extended attributes):
 * the target holds the old or the whole new document, never a part.  The
 * target's folder is resolved once and every step is done in it.  A
 * symbolic link is followed, and its target replaced, only when the link
 * is owned by root, by the caller or by the owner of its folder, and, as
 * root, only to a file of that folder's owner.  It refuses, with -1 and
 * the target untouched, an encoding the library cannot read back (errno
 * EILSEQ), another link (ELOOP; EXDEV for one root does not follow), a
 * target that is not a regular file (ENOTSUP, EISDIR) and a folder where
 * no temporary file can be made; otherwise errno tells which system call
 * failed (only a failed flush of the folder comes after the rename).
 * xml_save_error_text gives the reason for such an errno as a text.
 */
XmlState *xml_init(void);
int xml_is_loaded(XmlState *state);
/* filename must name a regular file, or be "-" for standard input; it is
 * not unpacked, and entity references that would expand to more than 1 MiB
 * of text in all make the load fail. */
int xml_load_document(XmlState *state, const char *filename);
int xml_read_memory(XmlState *state, const char *text);
int xml_save_document(XmlState *state, const char *filename);
const char *xml_save_error_text(int err);
int xml_fini(XmlState *state);
xmlDocPtr get_pDoc(XmlState *state);
xmlXPathContextPtr get_pCtxt(XmlState *state);

/*
 * Queries.  Only the first node that the expression selects is used.
 * Buffers receive at most buf_size - 1 bytes and are always terminated;
 * a longer text is cut and the query still succeeds.  Outputs are written
 * only on success.  xml_copy_node_value hands out a block to free().
 */
int xml_is_nodeset_exists(XmlState *state, const char *xpath);
int xml_get_prop(XmlState *state, const char *xpath, const char *attr_name, char *buf, size_t buf_size);
int xml_get_node_name(XmlState *state, const char *xpath, char *buf, size_t buf_size);
int xml_get_node_value(XmlState *state, const char *xpath, char *buf, size_t buf_size);
int xml_copy_node_value(XmlState *state, const char *xpath, char **out);
int xml_copy_node_count(XmlState *state, const char *xpath, int *out_count);

/*
 * Mixed content: an element whose children mix text that is not all
 * whitespace with elements.  xml_node_is_mixed says whether node is one
 * (1 or 0).  xml_node_inner_markup gives node's children as the library
 * serialises them, one string to release with xmlFree (NULL on no memory
 * or for a null node).  xml_copy_node_markup does the same for the first
 * node xpath selects, into a block to free(); xml_set_node_markup parses
 * markup as content and puts it in place of that node's children.
 */
int xml_node_is_mixed(xmlNodePtr node);
xmlChar *xml_node_inner_markup(xmlNodePtr node);
int xml_copy_node_markup(XmlState *state, const char *xpath, char **out);

/*
 * The store's XPath evaluation: the object xmlXPathEvalExpression(xpath,
 * pCtxt) gives (the same nodes in the same order, the same empty set or
 * none, NULL where it gives NULL; the caller releases it with
 * xmlXPathFreeObject).  Absolute paths of plain child steps, each with an
 * optional [@a='v' and ...] and an optional [k], are answered from an
 * index of the document kept by the store; the rest goes to the library.
 * A term of that test without '@', name='v', is a child element's text:
 * it holds for an element with a child of that local name, in its own
 * namespace, whose whole text without leading and trailing whitespace is
 * v (the library, where it answers, is asked the same in its own terms).
 * NULL, with nothing evaluated, for a null handle or expression.
 * XMLCFG_NO_INDEX set to a non-empty value turns the index off.
 *
 * The index stays right through the store's own edits, below.  Taking the
 * document or context with get_pDoc or get_pCtxt drops the document's
 * index; a program that edits the tree itself takes it again after its
 * edits and before the next evaluation.
 */
xmlXPathObjectPtr xml_eval_xpath(XmlState *state, const char *xpath);

/*
 * Path namespaces: the bindings of a file whose paths are looked up in
 * this handle's document.  xml_set_path_namespace binds prefix (NULL or ""
 * for the default namespace) to uri (NULL or "" for no namespace, allowed
 * for the default only), the first binding of a prefix winning: 0 when
 * prefix is now bound to uri, 1 when it was bound to another URI before
 * (left so), -1 on failure.  Once one is set, every absolute path the
 * store evaluates or creates reads its steps in those bindings: an
 * unprefixed name step is in the default namespace, and a step
 * name[namespace-uri()='U'] (or p:name[...]) is the element of local name
 * name in namespace U, whatever its prefix, as
 * *[local-name()='name'][namespace-uri()='U'].  Created elements and
 * prefixed attributes take their namespace: a binding in scope at the
 * parent for it, or a declaration of their own.
 */
int xml_set_path_namespace(XmlState *state, const char *prefix, const char *uri);

/*
 * Steps of a location path.  A '/' separates two steps only outside
 * predicates ("[...]") and quoted literals, so an attribute value in a
 * step may hold '/', brackets, quotes of the other kind and " and ".
 * xml_path_step_len: the length of the step that path starts with (path
 * points at a step, just after a separator): the bytes up to the next
 * separator or the end; 0 for NULL.  xml_path_parent_len: the position of
 * path's last separator, which is the length of path without its last
 * step; -1 for NULL or a path without a separator.  The path creation
 * below, and xmlcfg's walk, cut paths this way.
 */
size_t xml_path_step_len(const char *path);
int xml_path_parent_len(const char *path);

/* Editing */
int xml_set_node_value(XmlState *state, const char *xpath, const char *value, int value_len);
int xml_set_node_markup(XmlState *state, const char *xpath, const char *markup);
int xml_delete_node(XmlState *state, const char *xpath);
int xml_insert_node(XmlState *state, const char *xparent, const char *name);
int xml_insert_node_with_attr(XmlState *state, const char *xparent, const char *nodename);
int xml_create_node_path_if_possible(XmlState *state, const char *xpath);
int xml_create_node_path_if_possible_with_attr(XmlState *state, const char *xpath);

/*
 * Edits of a node that xml_eval_xpath selected on the same handle.
 * xml_encode_text escapes text for this document's content setter
 * (xmlEncodeEntitiesReentrant); release the result with xmlFree.
 * xml_set_content_of replaces the node's content with len bytes of content
 * (xmlNodeSetContentLen): 0, or -1 for a null handle or node.
 * xml_append_element appends a new empty element called name (no
 * namespace) as parent's last child; the new element, or NULL.
 */
xmlChar *xml_encode_text(XmlState *state, const char *text);
int xml_set_content_of(XmlState *state, xmlNodePtr node, const xmlChar *content, int len);
xmlNodePtr xml_append_element(XmlState *state, xmlNodePtr parent, const char *name);

/*
 * Whole elements moved between documents, and attributes set by hand, on
 * nodes of this handle's document.  xml_insert_copy copies src (an
 * element of any document) with everything below it into parent: right
 * after `after` when it is given, else right before `before`, else as the
 * last element; the copy gets the whitespace that stands before the
 * sibling it goes beside, so that it is indented as they are.  The copy,
 * or NULL.  xml_remove_node unlinks and frees node with everything below
 * it, and the whitespace before it: 0, or -1.  xml_set_attribute_of sets
 * node's attribute local in ns (NULL for none) to value, or removes it
 * when value is NULL: 0, or -1.
 */
xmlNodePtr xml_insert_copy(XmlState *state, xmlNodePtr parent, xmlNodePtr after, xmlNodePtr before, xmlNodePtr src);
int xml_remove_node(XmlState *state, xmlNodePtr node);
int xml_set_attribute_of(XmlState *state, xmlNodePtr node, xmlNsPtr ns, const char *local, const xmlChar *value);

/*
 * File maintenance through the device's XML maintenance script.
 * Result: -1 when an argument is NULL, not a plain name (letters, digits
 * and "/._-+,:@="), begins with '-', or makes the command line longer than
 * 255 characters (nothing runs), otherwise what system() returned.
 */
int xml_validate_file(const char *arg1, const char *arg2);
int xml_backup_file(const char *arg1, const char *arg2);
int xml_calculate_checksum_file(const char *arg1, const char *arg2);

#ifdef __cplusplus
}
#endif

#endif
