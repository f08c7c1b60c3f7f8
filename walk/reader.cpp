#include "reader.h"

#include <errno.h>
#include <unistd.h>

#include <libxml/hash.h>
#include <libxml/parser.h>
#include <libxml/xmlreader.h>

#include "../cli/console.h"
#include "../cli/input_doc.h"
#include "../xmldata/xmldata_input.h"
#include "walk.h"

#include "../common/banned.h"

/* Swallows what the library says during the counting pass: the walk's own
 * pass reads the file again and reports it there. */
static void quiet(void *arg, const char *msg, xmlParserSeverities severity, xmlTextReaderLocatorPtr locator)
{
    (void)arg;
    (void)msg;
    (void)severity;
    (void)locator;
}

static void quiet_structured(void *arg, xmlErrorPtr error)
{
    (void)arg;
    (void)error;
}

/* 1 when doc's internal subset declares an entity of its own. */
static int declares_entities(xmlDocPtr doc)
{
    return doc && doc->intSubset && doc->intSubset->entities &&
           xmlHashSize(static_cast<xmlHashTablePtr>(doc->intSubset->entities)) > 0;
}

/*
 * Reads file once without handing anything on, counting what its entity
 * references expand to.  1 when it declares entities and all of it reads,
 * within the limit: the walk may then read it with its references
 * expanded.  0 when it declares none, or cannot be read (the walk reads it
 * as it is, and says why); XMLDATA_INPUT_EXPANDS past the limit.
 */
static int count_entities_first(const char *file)
{
    XmldataExpansion expansion = {0, 0};
    int fd = xmldata_open_input(file);
    xmlTextReaderPtr reader = NULL;
    int declared = 0;
    int result = 0;
    int ret;

    if (fd < 0 || fd == STDIN_FILENO)
        goto out;
    reader = xmlReaderForFd(fd, file, NULL, 0);
    if (!reader)
        goto out;
    xmlTextReaderSetErrorHandler(reader, quiet, NULL);
    xmlTextReaderSetStructuredErrorHandler(reader, quiet_structured, NULL);
    while ((ret = xmlTextReaderRead(reader)) == 1) {
        /* The internal subset lies before the root element. */
        if (!declared) {
            if (xmlTextReaderNodeType(reader) != XML_READER_TYPE_ELEMENT)
                continue;
            /* Not xmlTextReaderCurrentDoc: that keeps the reader from
             * freeing the document. */
            if (!declares_entities(xmlTextReaderCurrentNode(reader)->doc))
                goto out;
            declared = 1;
        }
        if (xmldata_count_expansion(xmlTextReaderCurrentNode(reader), &expansion) != 0) {
            result = XMLDATA_INPUT_EXPANDS;
            goto out;
        }
    }
    result = ret == 0 && declared;
out:
    if (reader)
        xmlFreeTextReader(reader);
    if (fd >= 0)
        xmldata_close_input(fd);
    return result;
}

int streamFile(const char *file, int parse_only, char *Xpath, char *nXpath, XmlState *nDoc, XmlState *oDoc,
               const WalkCallbacks *callbacks)
{
    XmldataExpansion expansion = {0, 0};
    int expand = 0;
    int fd;
    int open_errno;
    xmlTextReaderPtr reader = NULL;
    int result = 1;
    int ret;

    /* The walk sees what entity references stand for, text and elements,
     * as the device's software reading the file does; validation reads the
     * file as it is. */
    if (!parse_only) {
        expand = count_entities_first(file);
        if (expand == XMLDATA_INPUT_EXPANDS) {
            report_input_fault(__func__, file, expand);
            return 1;
        }
    }
    fd = xmldata_open_input(file);
    open_errno = errno;
    if (fd == XMLDATA_INPUT_NOT_REGULAR) {
        report_input_fault(__func__, file, fd);
        return 1;
    }
    /* The name goes in as the URL, for the library's messages. */
    if (fd >= 0)
        reader = xmlReaderForFd(fd, file, NULL, expand == 1 ? XML_PARSE_NOENT : 0);
    if (!reader) {
        console_log(0, "%s: ###Error Unable to open XML:%s\n", __func__, show_str(file));
        if (fd == XMLDATA_INPUT_UNOPENED && file)
            report_unopened(__func__, file, open_errno);
        goto out;
    }
    walk_set_callbacks(callbacks);
    walk_set_file(file);
    ret = xmlTextReaderRead(reader);
    while (ret == 1) {
        /* The walk reads values, which expand the references in them (in
         * text, or in an element's attributes); plain validation expands
         * nothing. */
        if (!parse_only && xmldata_count_expansion(xmlTextReaderCurrentNode(reader), &expansion) != 0) {
            report_input_fault(__func__, file, XMLDATA_INPUT_EXPANDS);
            goto out;
        }
        /* A merge counts D's attributes among its settings. */
        if (!parse_only && callbacks->element_seen && !walk_inside_leaf(reader))
            callbacks->element_seen(reader);
        if (!parse_only && processNode(reader, Xpath, nXpath, nDoc, oDoc) != 0) {
            console_log(0, "%s: ###Error processNode() failed for XML:%s\n", __func__, file);
            goto out;
        }
        ret = xmlTextReaderRead(reader);
    }
    if (ret != 0) {
        console_log(0, "%s: ###Error failed to parse XML:%s\n", __func__, file);
        goto out;
    }
    result = 0;
out:
    if (reader)
        xmlFreeTextReader(reader);
    if (fd >= 0)
        xmldata_close_input(fd);
    return result;
}

int xml_verify_xml_syntax(const char *file)
{
    console_log(0, "%s: Started\n", __func__);
    xml_lib_setup();
    if (streamFile(file, 1, NULL, NULL, NULL, NULL, NULL) != 0) {
        /* The process ends right after; the library is not cleaned up. */
        console_log(0, "%s: ###Error in validation streamFile() failed\n", __func__);
        return 1;
    }
    xmlCleanupParser();
    return 0;
}
