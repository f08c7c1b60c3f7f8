#include "reader.h"

#include <libxml/parser.h>
#include <libxml/xmlreader.h>

#include "console.h"
#include "../walk/walk.h"

#include "../common/banned.h"

int streamFile(const char *file, int parse_only, char *Xpath, char *nXpath, XmlState *nDoc, XmlState *oDoc)
{
    xmlTextReaderPtr reader = file ? xmlNewTextReaderFilename(file) : NULL;
    int ret;

    if (!reader) {
        console_log(0, "%s: ###Error Unable to open XML:%s\n", __func__, show_str(file));
        return 1;
    }
    ret = xmlTextReaderRead(reader);
    while (ret == 1) {
        if (!parse_only && processNode(reader, Xpath, nXpath, nDoc, oDoc) != 0) {
            console_log(0, "%s: ###Error processNode() failed for XML:%s\n", __func__, file);
            xmlFreeTextReader(reader);
            return 1;
        }
        ret = xmlTextReaderRead(reader);
    }
    xmlFreeTextReader(reader);
    if (ret != 0) {
        console_log(0, "%s: ###Error failed to parse XML:%s\n", __func__, file);
        return 1;
    }
    return 0;
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
