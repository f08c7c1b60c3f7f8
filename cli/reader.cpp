#include "reader.h"

#include <errno.h>

#include <libxml/parser.h>
#include <libxml/xmlreader.h>

#include "console.h"
#include "input_doc.h"
#include "../xmldata/xmldata_input.h"
#include "../walk/walk.h"
#include "../merge/tally.h"

#include "../common/banned.h"

int streamFile(const char *file, int parse_only, char *Xpath, char *nXpath, XmlState *nDoc, XmlState *oDoc)
{
    XmldataExpansion expansion = {0, 0};
    int fd = xmldata_open_input(file);
    int open_errno = errno;
    xmlTextReaderPtr reader = NULL;
    int result = 1;
    int ret;

    if (fd == XMLDATA_INPUT_NOT_REGULAR) {
        report_input_fault(__func__, file, fd);
        return 1;
    }
    /* The name goes in as the URL, for the library's messages. */
    if (fd >= 0)
        reader = xmlReaderForFd(fd, file, NULL, 0);
    if (!reader) {
        console_log(0, "%s: ###Error Unable to open XML:%s\n", __func__, show_str(file));
        if (fd == XMLDATA_INPUT_UNOPENED && file)
            report_unopened(__func__, file, open_errno);
        goto out;
    }
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
        if (!parse_only && !delta_mode)
            merge_tally_element(reader);
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
    if (streamFile(file, 1, NULL, NULL, NULL, NULL) != 0) {
        /* The process ends right after; the library is not cleaned up. */
        console_log(0, "%s: ###Error in validation streamFile() failed\n", __func__);
        return 1;
    }
    xmlCleanupParser();
    return 0;
}
