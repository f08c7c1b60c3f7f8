/*
 * The cross merge (-c): where a setting's XPath changed between two
 * releases, its value is read at the old XPath of the source file and
 * written at the new XPath into the new file's document, which is then
 * saved as the output file.  A tag-list file pairs the XPaths:
 *
 *   <cross_merge>
 *     <list><old_tag>/config/wifi/ssid</old_tag><new_tag>/config/wlan/ap_name</new_tag></list>
 *   </cross_merge>
 *
 * The source and new files are only read.
 */
#include "crossmerge.h"

#include <errno.h>
#include <stdio.h>
#include <string.h>

#include <libxml/parser.h>

#include "xpath_ops.h"
#include "../cli/console.h"
#include "../cli/input_doc.h"
#include "../xmldata/xmldata.h"
#include "../xmldata/xmldata_target.h"

#include "../common/banned.h"

/* Size of every working buffer: tags and values up to 254 bytes. */
#define CROSS_BUF_SIZE 255

#define CROSS_LIST_XPATH "/cross_merge/list"

void strip_quotes(char *text, size_t size)
{
    char rest[CROSS_BUF_SIZE];
    size_t len;

    if (!text || size == 0)
        return;
    len = strnlen(text, size);
    if (len == 0 || len == size)
        return;
    if (text[len - 1] == '"')
        text[len - 1] = '\0';
    if (text[0] == '"') {
        memset(rest, 0, sizeof(rest));
        snprintf(rest, sizeof(rest), "%s", text + 1);
        memset(text, 0, size);
        snprintf(text, size, "%s", rest);
    }
}

/* Reads the text of old_tag or new_tag of list entry i into buf; the
 * entry path used is left in path for the caller's message. */
static int read_tag(XmlState *list, int i, const char *tag, char *path, char *buf)
{
    memset(path, 0, CROSS_BUF_SIZE);
    snprintf(path, CROSS_BUF_SIZE, "%s[%d]/%s", CROSS_LIST_XPATH, i, tag);
    memset(buf, 0, CROSS_BUF_SIZE);
    if (xpath_read_value(list, path, buf, CROSS_BUF_SIZE) != 0 || buf[0] == '\0')
        return -1;
    return 0;
}

int xml_cross_merge(const char *src_file, const char *new_file, const char *cross_merge_file, const char *dest_file)
{
    XmlState *new_doc = NULL;
    XmlState *src_doc = NULL;
    XmlState *list_doc = NULL;
    XmldataTarget target;
    int replaced = 0;
    char entry_path[CROSS_BUF_SIZE];
    char old_xpath[CROSS_BUF_SIZE];
    char new_xpath[CROSS_BUF_SIZE];
    char value[CROSS_BUF_SIZE];
    int count = 0;
    int result = 1;   /* until the entries can be read */
    int merged = 0;
    int i;

    console_log(0, "%s: Started\n", __func__);
    xml_lib_setup();
    /* The output's folder is held for the run; a folder that cannot be
     * held fails the save, if it comes to one. */
    xmldata_target_hold(&target, dest_file);

    /* Loaded in this order: new file, source file, tag list. */
    new_doc = load_input_document(__func__, new_file, "NEW");
    if (!new_doc)
        goto out;
    src_doc = load_input_document(__func__, src_file, "SRC");
    if (!src_doc)
        goto out;
    list_doc = load_input_document(__func__, cross_merge_file, "Croos-Merge");
    if (!list_doc)
        goto out;
    /* The count operation prints its own line when it fails. */
    if (xpath_get_node_count(list_doc, CROSS_LIST_XPATH, &count) != 0)
        goto out;
    result = 0;

    for (i = 1; i <= count; i++) {
        if (read_tag(list_doc, i, "old_tag", entry_path, old_xpath) != 0) {
            console_log(0, "%s: ###Error Couldn't read old tag from xpath=[%s]\n", __func__, entry_path);
            result = 1;
            continue;
        }
        if (read_tag(list_doc, i, "new_tag", entry_path, new_xpath) != 0) {
            console_log(0, "%s: ###Error Couldn't read new tag from xpath=[%s]\n", __func__, entry_path);
            result = 1;
            continue;
        }
        strip_quotes(old_xpath, sizeof(old_xpath));
        strip_quotes(new_xpath, sizeof(new_xpath));

        /* An empty value is never carried over. */
        memset(value, 0, sizeof(value));
        if (xpath_read_value(src_doc, old_xpath, value, sizeof(value)) != 0 || value[0] == '\0') {
            console_log(0, "%s: ###Error Couldn't read value from old xpath=[%s]\n", __func__, old_xpath);
            result = 1;
            continue;
        }
        /* A value that cannot be placed is reported but does not fail the
         * run: the new release may have dropped the setting on purpose. */
        if (xpath_write_value_ex(new_doc, new_xpath, value, (int)strlen(value)) != 0) {
            console_log(0, "%s: ###Error xpath_write_value_ex() failed, new xpath=[%s], value=[%s]\n", __func__,
                        new_xpath, value);
            continue;
        }
        merged = 1;
        console_log(1, "%s: Merged - Old xpath=[%s] to New xpath=[%s], value=[%s]\n", __func__, old_xpath,
                    new_xpath, value);
    }

    /* Nothing carried over: no output file at all. */
    if (merged) {
        if (xmldata_save_held(new_doc, &target, dest_file, &replaced) == -1) {
            int err = errno;

            if (replaced) {
                console_log(0, "%s: ###Error %s holds the result, but its folder could not be flushed: %s\n",
                            __func__, dest_file, xml_save_error_text(err));
            } else {
                console_log(0, "%s: ###Error Failed to save OUT xml file=[%s]\n", __func__, show_str(dest_file));
                /* Without a file name the line above says all there is. */
                if (dest_file)
                    console_log(0, "%s: ###Error Cannot save %s: %s\n", __func__, dest_file,
                                xml_save_error_text(err));
            }
            result = 1;
        } else {
            console_log(1, "%s: Successfully saved file=[%s]\n", __func__, dest_file);
        }
    }

out:
    xmldata_target_release(&target);
    /* Every handle created so far, the last created first. */
    if (list_doc)
        xml_fini(list_doc);
    if (src_doc)
        xml_fini(src_doc);
    if (new_doc)
        xml_fini(new_doc);
    xmlCleanupParser();
    return result;
}
