/* Placeholder until the XPath delta is built. */
#include "delta.h"

#include "../cli/console.h"

#include "../common/banned.h"

int xml_create_xpath_delta(const char *src_file, const char *new_file, const char *delta_file)
{
    (void)src_file;
    (void)new_file;
    (void)delta_file;
    console_log(0, "%s: ###Error the Create-Xpath-Delta mode is not built yet\n", __func__);
    return 1;
}

int check_delta(XmlState *nDoc, char *Xpath, char *nXpath, xmlTextReaderPtr reader)
{
    (void)nDoc;
    (void)Xpath;
    (void)nXpath;
    (void)reader;
    console_log(0, "%s: ###Error the Create-Xpath-Delta mode is not built yet\n", __func__);
    return 1;
}
