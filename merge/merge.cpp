/* Placeholder until the three-way merge is built. */
#include "merge.h"

#include "../cli/console.h"

#include "../common/banned.h"

int xml_merge_and_update(const char *src_file, const char *new_file, const char *dest_file, int discard_local_tags)
{
    (void)src_file;
    (void)new_file;
    (void)dest_file;
    (void)discard_local_tags;
    console_log(0, "%s: ###Error the 3-Way-Merge mode is not built yet\n", __func__);
    return 1;
}

int merge_and_update(XmlState *nDoc, XmlState *oDoc, char *Xpath, char *nXpath, xmlTextReaderPtr reader)
{
    (void)nDoc;
    (void)oDoc;
    (void)Xpath;
    (void)nXpath;
    (void)reader;
    console_log(0, "%s: ###Error the 3-Way-Merge mode is not built yet\n", __func__);
    return 1;
}
