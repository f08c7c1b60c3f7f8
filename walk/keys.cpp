/*
 * Reading the keys file.  Everything in it is checked before any
 * configuration file is read: a keys file that names a list wrongly would
 * otherwise match entries by guesswork, which is how entries get lost.
 */
#include "keys.h"

#include <errno.h>
#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include <libxml/parser.h>
#include <libxml/tree.h>

#include "../cli/console.h"
#include "../xmldata/xmldata_input.h"

#include "../common/banned.h"

/* The first fault found: its line and why. */
typedef struct KeysFault {
    int line;
    char reason[512];
} KeysFault;

static int fault(KeysFault *f, xmlNodePtr node, const char *fmt, ...) __attribute__((format(printf, 3, 4)));
static int fault(KeysFault *f, xmlNodePtr node, const char *fmt, ...)
{
    va_list ap;

    f->line = node ? (int)xmlGetLineNo(node) : 0;
    va_start(ap, fmt);
    vsnprintf(f->reason, sizeof(f->reason), fmt, ap);
    va_end(ap);
    return 1;
}

static const char *text(const xmlChar *s)
{
    return reinterpret_cast<const char *>(s);
}

/* Keeps the parser's first error, whose line is where the file goes wrong
 * (the last one is often only "Premature end of data" at its end), in the
 * fault that the context's _private points to; swallows every message. */
static void first_error(void *arg, xmlErrorPtr error)
{
    xmlParserCtxtPtr ctxt = static_cast<xmlParserCtxtPtr>(arg);
    KeysFault *f = ctxt ? static_cast<KeysFault *>(ctxt->_private) : NULL;

    if (!f || !error || error->level < XML_ERR_ERROR || f->reason[0] != '\0')
        return;
    f->line = error->line;
    snprintf(f->reason, sizeof(f->reason), "%s", error->message ? error->message : "cannot be parsed");
}

/* Whether name is a name without a prefix. */
static int plain_name(const char *name, size_t len)
{
    char copy[KEYS_NAME_SIZE];

    if (len == 0 || len >= sizeof(copy))
        return 0;
    memcpy(copy, name, len);
    copy[len] = '\0';
    return xmlValidateNCName(BAD_CAST copy, 0) == 0;
}

/* Reads path into list: 0, or 1 with the fault. */
static int read_path(xmlNodePtr node, const char *path, KeyList *list, KeysFault *f)
{
    const char *p = path;

    if (strlen(path) >= sizeof(list->path))
        return fault(f, node, "path %.64s... is longer than %d bytes", path, KEYS_PATH_SIZE - 1);
    if (path[0] != '/')
        return fault(f, node, "path %s is not absolute", path);
    list->depth = 0;
    while (*p == '/') {
        size_t len = strcspn(p + 1, "/");

        if (len == 0)
            return fault(f, node, "path %s has an empty step", path);
        if (len >= KEYS_NAME_SIZE)
            return fault(f, node, "path %s: step %.32s... is longer than %d bytes", path, p + 1, KEYS_NAME_SIZE - 1);
        if (!plain_name(p + 1, len))
            return fault(f, node, "path %s: step %.*s is not an element's local name (no positions, predicates or prefixes)",
                         path, (int)len, p + 1);
        list->depth++;
        p += 1 + len;
    }
    if (list->depth < 2)
        return fault(f, node, "path %s names the root element, which is no list entry", path);
    snprintf(list->path, sizeof(list->path), "%s", path);
    return 0;
}

/* Reads key into list: 0, or 1 with the fault. */
static int read_key(xmlNodePtr node, const char *key, KeyList *list, KeysFault *f)
{
    const char *p = key;

    list->nfields = 0;
    for (;;) {
        size_t len;
        KeyField *field;

        p += strspn(p, " \t\r\n");
        if (*p == '\0')
            break;
        len = strcspn(p, " \t\r\n");
        if (list->nfields == KEYS_MAX_FIELDS)
            return fault(f, node, "key %s has more than %d fields", key, KEYS_MAX_FIELDS);
        field = &list->fields[list->nfields];
        field->attribute = p[0] == '@';
        if (len - (size_t)field->attribute >= KEYS_NAME_SIZE)
            return fault(f, node, "key field %.32s... is longer than %d bytes", p, KEYS_NAME_SIZE - 1);
        if (!plain_name(p + field->attribute, len - (size_t)field->attribute))
            return fault(f, node, "key field %.*s is neither a child's nor an attribute's name without a prefix",
                         (int)len, p);
        snprintf(field->name, sizeof(field->name), "%.*s", (int)(len - (size_t)field->attribute),
                 p + field->attribute);
        for (int i = 0; i < list->nfields; i++) {
            if (list->fields[i].attribute == field->attribute && strcmp(list->fields[i].name, field->name) == 0)
                return fault(f, node, "key field %.*s is given twice", (int)len, p);
        }
        list->nfields++;
        p += len;
    }
    if (list->nfields == 0)
        return fault(f, node, "list %s has an empty key", list->path);
    return 0;
}

/* Whether node holds anything but whitespace, comments and processing
 * instructions: 1 with the fault. */
static int other_content(xmlNodePtr node, int elements_allowed, KeysFault *f)
{
    for (xmlNodePtr c = node->children; c; c = c->next) {
        if (c->type == XML_ELEMENT_NODE && elements_allowed)
            continue;
        if (c->type == XML_ELEMENT_NODE)
            return fault(f, c, "element %s is not known inside %s", text(c->name), text(node->name));
        if ((c->type == XML_TEXT_NODE || c->type == XML_CDATA_SECTION_NODE) && !xmlIsBlankNode(c))
            return fault(f, c, "text is not allowed inside %s", text(node->name));
        if (c->type == XML_ENTITY_REF_NODE)
            return fault(f, c, "entity references are not allowed inside %s", text(node->name));
    }
    return 0;
}

/* Reads one list element into list: 0, or 1 with the fault. */
static int read_list(xmlNodePtr node, KeyList *list, KeysFault *f)
{
    xmlChar *path = NULL;
    xmlChar *key = NULL;
    xmlChar *match = NULL;
    int rc = 0;

    list->line = (int)xmlGetLineNo(node);
    list->content = 0;
    list->nfields = 0;
    for (xmlAttrPtr a = node->properties; a && rc == 0; a = a->next) {
        if (a->ns || (!xmlStrEqual(a->name, BAD_CAST "path") && !xmlStrEqual(a->name, BAD_CAST "key") &&
                      !xmlStrEqual(a->name, BAD_CAST "match")))
            rc = fault(f, node, "attribute %s of list is not known", text(a->name));
    }
    if (rc == 0) {
        path = xmlGetNoNsProp(node, BAD_CAST "path");
        key = xmlGetNoNsProp(node, BAD_CAST "key");
        match = xmlGetNoNsProp(node, BAD_CAST "match");
        if (!path)
            rc = fault(f, node, "list has no path");
        else if (!key && !match)
            rc = fault(f, node, "list %s has neither key nor match", text(path));
        else if (key && match)
            rc = fault(f, node, "list %s has both key and match", text(path));
        else if (match && !xmlStrEqual(match, BAD_CAST "content"))
            rc = fault(f, node, "match \"%s\" of list %s is not known (only content is)", text(match), text(path));
        else if (read_path(node, text(path), list, f) != 0 || (key && read_key(node, text(key), list, f) != 0) ||
                 other_content(node, 0, f) != 0)
            rc = 1;
        list->content = match != NULL;
    }
    xmlFree(path);
    xmlFree(key);
    xmlFree(match);
    return rc;
}

/* Reads the document's lists into keys: 0, or 1 with the fault. */
static int read_lists(xmlDocPtr doc, KeyLists *keys, KeysFault *f)
{
    xmlNodePtr root = xmlDocGetRootElement(doc);

    if (root && root->ns && xmlStrEqual(root->name, BAD_CAST "lists"))
        return fault(f, root, "the root element lists is in namespace %s, not in none",
                     text(root->ns->href ? root->ns->href : BAD_CAST ""));
    if (!root || !xmlStrEqual(root->name, BAD_CAST "lists"))
        return fault(f, root, "the root element is %s, not lists", root ? text(root->name) : "missing");
    if (root->properties)
        return fault(f, root, "attribute %s of lists is not known", text(root->properties->name));
    if (other_content(root, 1, f) != 0)
        return 1;
    for (xmlNodePtr c = root->children; c; c = c->next) {
        KeyList *list;

        if (c->type != XML_ELEMENT_NODE)
            continue;
        if (c->ns && xmlStrEqual(c->name, BAD_CAST "list"))
            return fault(f, c, "element list is in namespace %s, not in none",
                         text(c->ns->href ? c->ns->href : BAD_CAST ""));
        if (!xmlStrEqual(c->name, BAD_CAST "list"))
            return fault(f, c, "element %s is not known inside lists", text(c->name));
        if (keys->count == KEYS_MAX_LISTS)
            return fault(f, c, "more than %d lists", KEYS_MAX_LISTS);
        list = &keys->lists[keys->count];
        if (read_list(c, list, f) != 0)
            return 1;
        for (int i = 0; i < keys->count; i++) {
            if (strcmp(keys->lists[i].path, list->path) == 0)
                return fault(f, c, "path %s is declared twice (first on line %d)", list->path, keys->lists[i].line);
        }
        keys->count++;
    }
    return 0;
}

int keys_read(const char *file, KeyLists *keys)
{
    KeysFault f = {0, {0}};
    xmlParserCtxtPtr ctxt = NULL;
    xmlDocPtr doc = NULL;
    int fd = xmldata_open_input(file);
    int open_errno = errno;
    int rc = 1;

    keys->count = 0;
    if (fd == XMLDATA_INPUT_NOT_REGULAR) {
        console_log(0, "%s: ###Error cannot read keys file %s: not a regular file\n", __func__, file);
        return 1;
    }
    if (fd < 0) {
        console_log(0, "%s: ###Error cannot read keys file %s: %s\n", __func__, file, strerror(open_errno));
        return 1;
    }
    ctxt = xmlNewParserCtxt();
    if (!ctxt) {
        console_log(0, "%s: ###Error cannot read keys file %s: out of memory\n", __func__, file);
        goto out;
    }
    ctxt->sax->serror = first_error;
    ctxt->_private = &f;
    doc = xmlCtxtReadFd(ctxt, fd, file, NULL, XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
    if (!doc || !ctxt->wellFormed) {
        char message[256];
        size_t len;

        snprintf(message, sizeof(message), "%.255s", f.reason[0] ? f.reason : "cannot be parsed");
        /* libxml2's messages may hold line feeds ("...encoding !\nBytes: ..."):
         * the error stays one line. */
        for (char *c = message; *c; c++) {
            if (*c == '\n')
                *c = ' ';
        }
        len = strlen(message);
        while (len > 0 && message[len - 1] == ' ')
            message[--len] = '\0';
        snprintf(f.reason, sizeof(f.reason), "not well formed: %s", message);
    } else if (read_lists(doc, keys, &f) == 0) {
        rc = 0;
    }
    if (rc != 0) {
        keys->count = 0;
        console_log(0, "%s: ###Error in keys file %s line %d: %s\n", __func__, file, f.line, f.reason);
    }
out:
    xmlFreeDoc(doc);
    if (ctxt)
        xmlFreeParserCtxt(ctxt);
    xmldata_close_input(fd);
    return rc;
}

const KeyList *keys_find(const KeyLists *keys, const char *path)
{
    if (!keys)
        return NULL;
    for (int i = 0; i < keys->count; i++) {
        if (strcmp(keys->lists[i].path, path) == 0)
            return &keys->lists[i];
    }
    return NULL;
}

/* Appends text to step at *used, bounded by size: 0, or -1. */
static int step_put(char *step, size_t size, size_t *used, const char *text, size_t len)
{
    if (*used + len >= size)
        return -1;
    memcpy(step + *used, text, len);
    *used += len;
    step[*used] = '\0';
    return 0;
}

/* Appends value as an XPath literal: 'v', "v", or concat() of both kinds. */
static int step_literal(char *step, size_t size, size_t *used, const char *value, size_t len)
{
    const char *quote = memchr(value, '\'', len) ? "\"" : "'";
    size_t i = 0;

    if (!memchr(value, '\'', len) || !memchr(value, '"', len))
        return step_put(step, size, used, quote, 1) || step_put(step, size, used, value, len) ||
               step_put(step, size, used, quote, 1);
    if (step_put(step, size, used, "concat(", 7) != 0)
        return -1;
    while (i < len) {
        size_t run = 0;
        int apostrophes = value[i] == '\'';

        while (i + run < len && (value[i + run] == '\'') == apostrophes)
            run++;
        quote = apostrophes ? "\"" : "'";
        if ((i > 0 && step_put(step, size, used, ",", 1) != 0) || step_put(step, size, used, quote, 1) != 0 ||
            step_put(step, size, used, value + i, run) != 0 || step_put(step, size, used, quote, 1) != 0)
            return -1;
        i += run;
    }
    return step_put(step, size, used, ")", 1);
}

static int is_space(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

int keys_entry_step(xmlNodePtr entry, const KeyList *list, char *step, size_t size, int *field)
{
    /* The name as the file writes it, as in every other step of the walk. */
    return keys_entry_step_as(entry, entry->ns ? entry->ns->prefix : NULL, list, step, size, field);
}

int keys_entry_step_as(xmlNodePtr entry, const xmlChar *prefix, const KeyList *list, char *step, size_t size,
                       int *field)
{
    size_t used = 0;
    int rc = 0;

    step[0] = '\0';
    if (prefix && prefix[0] &&
        (step_put(step, size, &used, text(prefix), strlen(text(prefix))) != 0 || step_put(step, size, &used, ":", 1) != 0))
        return -1;
    if (step_put(step, size, &used, text(entry->name), strlen(text(entry->name))) != 0)
        return -1;
    for (int i = 0; i < list->nfields && rc == 0; i++) {
        const KeyField *f = &list->fields[i];
        xmlChar *value = NULL;
        const char *v;
        size_t len;
        int found = 0;

        *field = i;
        if (f->attribute) {
            value = xmlGetNoNsProp(entry, BAD_CAST f->name);
            found = value != NULL;
        } else {
            for (xmlNodePtr c = entry->children; c; c = c->next) {
                if (c->type != XML_ELEMENT_NODE || !xmlStrEqual(c->name, BAD_CAST f->name) ||
                    (c->ns ? !entry->ns || !xmlStrEqual(c->ns->href, entry->ns->href) : entry->ns != NULL))
                    continue;
                for (xmlNodePtr g = c->children; g; g = g->next) {
                    if (g->type == XML_ELEMENT_NODE)
                        found = 2;
                }
                if (found++ == 0)
                    value = xmlNodeGetContent(c);
            }
        }
        if (!found) {
            rc = KEYS_ENTRY_MISSING;
        } else if (found > 1) {
            rc = KEYS_ENTRY_UNUSABLE;
        } else {
            v = value ? text(value) : "";
            len = strlen(v);
            if (!f->attribute) {
                while (is_space(*v))
                    v++, len--;
                while (len > 0 && is_space(v[len - 1]))
                    len--;
            }
            if (step_put(step, size, &used, i == 0 ? "[" : " and ", i == 0 ? 1 : 5) != 0 ||
                (f->attribute && step_put(step, size, &used, "@", 1) != 0) ||
                step_put(step, size, &used, f->name, strlen(f->name)) != 0 || step_put(step, size, &used, "=", 1) != 0 ||
                step_literal(step, size, &used, v, len) != 0)
                rc = -1;
        }
        xmlFree(value);
    }
    if (rc == 0 && step_put(step, size, &used, "]", 1) != 0)
        rc = -1;
    return rc;
}

int keys_is_key_attribute(const KeyList *list, const char *name)
{
    for (int i = 0; list && i < list->nfields; i++) {
        if (list->fields[i].attribute && strcmp(list->fields[i].name, name) == 0)
            return 1;
    }
    return 0;
}
