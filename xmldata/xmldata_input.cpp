/*
 * Document store: opening input files, and counting what entity
 * references expand to.
 *
 * Inputs are opened here rather than by libxml2's file loader for two
 * reasons: the loader opens a FIFO or a device with a blocking open() and
 * then waits for it forever, and it unpacks compressed files transparently,
 * so that a small file can become gigabytes of XML.  A descriptor that is
 * checked to be a regular file and then handed to the parser has neither
 * problem.
 */
#include "xmldata_input.h"

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <libxml/entities.h>

#include "../common/banned.h"

/* Deeper element or entity nesting than any parse leaves is refused. */
#define EXPANSION_DEPTH_MAX 1024

extern "C" int xmldata_open_input(const char *filename)
{
    struct stat st;
    int fd;

    if (!filename) {
        errno = EINVAL;
        return XMLDATA_INPUT_UNOPENED;
    }
    /* libxml2's loader reads standard input for "-"; so do we, whatever
     * kind of file it is (usually a pipe). */
    if (strcmp(filename, "-") == 0)
        return STDIN_FILENO;
    /* O_NONBLOCK: opening a FIFO without a writer must not wait.  Links
     * are followed: a linked configuration file is an ordinary input. */
    fd = open(filename, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        /* A socket cannot be opened at all. */
        return errno == ENXIO ? XMLDATA_INPUT_NOT_REGULAR : XMLDATA_INPUT_UNOPENED;
    if (fstat(fd, &st) != 0) {
        int saved = errno;

        close(fd);
        errno = saved;
        return XMLDATA_INPUT_UNOPENED;
    }
    if (!S_ISREG(st.st_mode)) {
        close(fd);
        return XMLDATA_INPUT_NOT_REGULAR;
    }
    return fd;
}

extern "C" void xmldata_close_input(int fd)
{
    if (fd > STDIN_FILENO)
        close(fd);
}

static int count_list(xmlNodePtr list, int in_entity, int depth, XmldataExpansion *ex);

/* Counts the references in elem's attribute values: reading a value
 * expands them as well. */
static int count_attributes(xmlNodePtr elem, int in_entity, int depth, XmldataExpansion *ex)
{
    xmlAttrPtr attr;

    for (attr = elem->properties; attr; attr = attr->next)
        if (count_list(attr->children, in_entity, depth + 1, ex) != 0)
            return -1;
    return 0;
}

/* Counts the content of the entity that ref refers to. */
static int count_reference(xmlNodePtr ref, int depth, XmldataExpansion *ex)
{
    xmlEntityPtr ent = xmlGetDocEntity(ref->doc, ref->name);

    /* What the library expands is the entity's parsed content; an entity
     * never referenced before, or an external one, has none. */
    if (!ent || !ent->children)
        return 0;
    if (depth >= EXPANSION_DEPTH_MAX)
        return -1;
    return count_list(ent->children, 1, depth + 1, ex);
}

/*
 * Walks a list of sibling nodes and everything below them.  Text counts
 * only inside an entity's content: the document's own text is there once
 * whatever it holds.
 */
static int count_list(xmlNodePtr list, int in_entity, int depth, XmldataExpansion *ex)
{
    xmlNodePtr cur;

    for (cur = list; cur; cur = cur->next) {
        if (in_entity && ++ex->nodes > XMLDATA_EXPANSION_LIMIT)
            return -1;
        switch (cur->type) {
        case XML_TEXT_NODE:
        case XML_CDATA_SECTION_NODE:
            if (in_entity && cur->content)
                ex->text += strlen(reinterpret_cast<const char *>(cur->content));
            if (ex->text > XMLDATA_EXPANSION_LIMIT)
                return -1;
            break;
        case XML_ENTITY_REF_NODE:
            if (count_reference(cur, depth, ex) != 0)
                return -1;
            break;
        case XML_ELEMENT_NODE:
            if (depth >= EXPANSION_DEPTH_MAX || count_attributes(cur, in_entity, depth, ex) != 0 ||
                count_list(cur->children, in_entity, depth + 1, ex) != 0)
                return -1;
            break;
        default:
            /* The DTD with its declarations, comments, processing
             * instructions: nothing that expands into the content. */
            break;
        }
    }
    return 0;
}

extern "C" int xmldata_count_expansion(xmlNodePtr node, XmldataExpansion *ex)
{
    if (node && node->type == XML_ENTITY_REF_NODE)
        return count_reference(node, 0, ex);
    if (node && node->type == XML_ELEMENT_NODE)
        return count_attributes(node, 0, 0, ex);
    return 0;
}

extern "C" int xmldata_document_expansion(xmlDocPtr doc)
{
    XmldataExpansion ex = {0, 0};

    return count_list(doc->children, 0, 0, &ex);
}

/* 1 when list (the content of an entity) holds more than text, also
 * through the references in it. */
static int holds_markup(xmlDocPtr doc, xmlNodePtr list, int depth)
{
    for (xmlNodePtr cur = list; cur; cur = cur->next) {
        if (cur->type == XML_TEXT_NODE || cur->type == XML_CDATA_SECTION_NODE)
            continue;
        if (cur->type != XML_ENTITY_REF_NODE)
            return 1;
        xmlEntityPtr ent = xmlGetDocEntity(doc, cur->name);

        if (ent && ent->children && depth < EXPANSION_DEPTH_MAX && holds_markup(doc, ent->children, depth + 1))
            return 1;
    }
    return 0;
}

/* Puts list in ref's place and frees ref (its children are the entity's). */
static void replace_by_list(xmlNodePtr ref, xmlNodePtr list)
{
    xmlNodePtr parent = ref->parent;
    xmlNodePtr last = list;

    for (xmlNodePtr cur = list; cur; cur = cur->next) {
        cur->parent = parent;
        last = cur;
    }
    list->prev = ref->prev;
    if (ref->prev)
        ref->prev->next = list;
    else
        parent->children = list;
    last->next = ref->next;
    if (ref->next)
        ref->next->prev = last;
    else
        parent->last = last;
    ref->prev = NULL;
    ref->next = NULL;
    ref->parent = NULL;
    xmlFreeNode(ref);
}

extern "C" int xmldata_expand_markup_references(xmlDocPtr doc)
{
    xmlNodePtr root = doc ? xmlDocGetRootElement(doc) : NULL;
    xmlNodePtr cur = root;

    /* Document order; a copy put in a reference's place is walked in turn,
     * so that references inside it are expanded too. */
    while (cur) {
        if (cur->type == XML_ENTITY_REF_NODE) {
            xmlEntityPtr ent = xmlGetDocEntity(doc, cur->name);

            if (ent && ent->children && holds_markup(doc, ent->children, 0)) {
                xmlNodePtr copy = xmlDocCopyNodeList(doc, ent->children);

                if (!copy)
                    return -1;
                replace_by_list(cur, copy);
                cur = copy;
                continue;
            }
        } else if (cur->type == XML_ELEMENT_NODE && cur->children) {
            cur = cur->children;
            continue;
        }
        while (cur != root && !cur->next)
            cur = cur->parent;
        if (cur == root)
            break;
        cur = cur->next;
    }
    return 0;
}
