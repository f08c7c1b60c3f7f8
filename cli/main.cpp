/*
 * xmlcfg: keeps a device's XML configuration right across firmware updates.
 *
 * One run does one job, chosen by the options: validation (-o), cross merge
 * (-c), XPath delta (-m) or, by default, the three-way merge.  The result is
 * the exit status, 0 or 1; messages go to standard error only.
 */
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include "console.h"
#include "reader.h"
#include "../crossmerge/crossmerge.h"
#include "../delta/delta.h"
#include "../merge/merge.h"

#include "../common/banned.h"

static void print_usage(void)
{
    console_log(0, "usage:\n");
    console_log(0, "-v -- Set the verbose level\n");
    console_log(0, "-m -- Find Xpath Delta between two XML files; -s, -n and -x options should be specified\n");
    console_log(0, "-p -- Discard Local tags if found during merge and Update\n");
    console_log(0, "-o -- Validate an XML file; an XML file should be specified as an argument\n");
    console_log(0, "-c -- Cross merge dissimilar XML tags, where the XPATH has been modified between 2 releases\n");
    console_log(0, "-s -- Source XML file\n");
    console_log(0, "-n -- New XML file\n");
    console_log(0, "-d -- Device config XML file or output file\n");
    console_log(0, "-x -- Xpath Delta output file\n");
    console_log(0, "-t -- XML file containing list of Old and New tags for cross-merging\n");
}

int main(int argc, char **argv)
{
    int validate = 0;
    int cross = 0;
    int discard_local_tags = 0;
    const char *src_file = NULL;
    const char *new_file = NULL;
    const char *dest_file = NULL;
    const char *delta_file = NULL;
    const char *cross_merge_file = NULL;
    int file_operands = 0;   /* every file option counts, repeats included */
    int required;
    int result;
    int opt;

    /* Before anything opens a file. */
    if (process_setup() != 0)
        return 1;

    while ((opt = getopt(argc, argv, "cpmv:s:d:o:n:x:t:")) != -1) {
        switch (opt) {
        case 'o':
            validate = 1;
            src_file = optarg;
            file_operands++;
            break;
        case 'c':
            cross = 1;
            break;
        case 'm':
            delta_mode = 1;
            break;
        case 'p':
            discard_local_tags = 1;
            break;
        case 'v':
            verbose_level = atoi(optarg);
            break;
        case 's':
            src_file = optarg;
            file_operands++;
            break;
        case 'n':
            new_file = optarg;
            file_operands++;
            break;
        case 'd':
            dest_file = optarg;
            file_operands++;
            break;
        case 'x':
            delta_file = optarg;
            file_operands++;
            break;
        case 't':
            cross_merge_file = optarg;
            file_operands++;
            break;
        default:
            /* getopt has printed its own diagnostic. */
            print_usage();
            return 1;
        }
    }

    if (validate) {
        console_log(1, "mode=[Validate-Xml], src_file=[%s]\n", show_str(src_file));
        required = 1;
    } else if (cross) {
        console_log(1, "mode=[Selective-Cross-Merge], src_file=[%s]new_file=[%s], cross_merge_file=[%s], out_file=[%s]\n",
                    show_str(src_file), show_str(new_file), show_str(cross_merge_file), show_str(dest_file));
        required = 4;
    } else if (delta_mode) {
        console_log(1, "mode=[Create-Xpath-Delta], src_file=[%s]new_file=[%s], delta_file=[%s]\n",
                    show_str(src_file), show_str(new_file), show_str(delta_file));
        required = 3;
    } else {
        console_log(1, "mode=[3-Way-Merge] discard_local_tags=[%d], src_file=[%s], new_file=[%s], dest_file=[%s]\n",
                    discard_local_tags, show_str(src_file), show_str(new_file), show_str(dest_file));
        required = 3;
    }

    if (file_operands != required) {
        console_log(0, "Missing arguments\n");
        print_usage();
        return 1;
    }

    if (validate)
        result = xml_verify_xml_syntax(src_file);
    else if (cross)
        result = xml_cross_merge(src_file, new_file, cross_merge_file, dest_file);
    else if (delta_mode)
        result = xml_create_xpath_delta(src_file, new_file, delta_file);
    else
        result = xml_merge_and_update(src_file, new_file, dest_file, discard_local_tags);

    if (xml_lib_error) {
        console_log(0, "%s: ###Error detected from XML library\n", __func__);
        return 1;
    }
    console_log(0, "%s: ###Return value:%d\n", __func__, result);
    return result;
}
