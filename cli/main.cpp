/*
 * xmlcfg: keeps a device's XML configuration right across firmware updates.
 *
 * One run does one job, chosen by the options: validation (-o), cross merge
 * (-c), XPath delta (-m) or, by default, the three-way merge.  The result is
 * the exit status, 0 or 1; messages go to standard error only.
 */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
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

/* The options as getopt reads them: a letter followed by ':' takes an
 * operand. */
static const char option_letters[] = "cpmv:s:d:o:n:x:t:";

/*
 * Looks for --help or --version where getopt would meet them as options:
 * before a "--" that ends the options, not as the operand of -s, -v and the
 * like, and not after an option letter that getopt would refuse (its error
 * comes first, as before).  Every other argument, other long forms such as
 * --foo included, is left to getopt.  Returns the argument found, or NULL.
 */
static const char *long_option_asked(int argc, char **argv)
{
    int i;
    size_t j;

    for (i = 1; i < argc; i++) {
        const char *arg = argv[i];

        if (strcmp(arg, "--help") == 0 || strcmp(arg, "--version") == 0)
            return arg;
        if (strcmp(arg, "--") == 0)
            return NULL;
        if (arg[0] != '-' || arg[1] == '\0') {
            /* An operand: getopt moves it aside and reads on, unless asked
             * to stop at the first one. */
            if (getenv("POSIXLY_CORRECT") != NULL)
                return NULL;
            continue;
        }
        for (j = 1; arg[j] != '\0'; j++) {
            const char *letter = arg[j] == ':' ? NULL : strchr(option_letters, arg[j]);

            if (letter == NULL)
                return NULL;
            if (letter[1] == ':') {
                if (arg[j + 1] == '\0')
                    i++;   /* the operand is the next argument */
                break;
            }
        }
    }
    return NULL;
}

static const char help_text[] =
    "Usage: xmlcfg [-v LEVEL] [-p] -s OLD -n NEW -d DEVICE\n"
    "       xmlcfg [-v LEVEL] -m -s OLD -n NEW -x DELTA\n"
    "       xmlcfg [-v LEVEL] -c -s OLD -n NEW -t TAGLIST -d OUT\n"
    "       xmlcfg [-v LEVEL] -o FILE\n"
    "       xmlcfg --help | --version\n"
    "\n"
    "Keeps a device's XML configuration files right across firmware updates.\n"
    "One run does one job:\n"
    "\n"
    "  three-way merge (the default, without -m, -c or -o)\n"
    "      carries the user's changes from DEVICE (the device's current file)\n"
    "      into NEW (the new release's default file), judging them against OLD\n"
    "      (the old release's default file), and saves the result over DEVICE.\n"
    "      A value that NEW marks with PRI=\"1\" stays as NEW has it.\n"
    "  -m  XPath delta: writes to DELTA the XPath of every leaf modified (MOD=),\n"
    "      deleted (DEL=) or added (ADD=) between OLD and NEW.\n"
    "  -c  cross merge: copies values from old XPaths in OLD to new XPaths in\n"
    "      NEW, as the pairs in TAGLIST say, and saves the result as OUT.\n"
    "  -o  validation: checks that FILE is well-formed XML.\n"
    "\n"
    "Options:\n"
    "  -s OLD      old (source) XML file\n"
    "  -n NEW      new XML file\n"
    "  -d DEVICE   device config file (merge) or output file (cross merge)\n"
    "  -x DELTA    XPath delta output file\n"
    "  -t TAGLIST  XML file listing old and new tags for the cross merge\n"
    "  -p          discard local tags (settings only DEVICE has) in the merge\n"
    "  -v LEVEL    how much to print on standard error, a number: 0 errors and\n"
    "              decisions, 1 (the default) adds banners and progress, 2 a\n"
    "              trace of every element, 3 the XML library's messages with\n"
    "              file, line and reason; a negative level prints nothing\n"
    "  --help      print this help and exit\n"
    "  --version   print the version and exit\n"
    "\n"
    "Exit status: 0 done, 1 failed.  Messages, setting values included, go to\n"
    "standard error; only --help and --version write to standard output.\n"
    "See xmlcfg(1).\n";

/* Prints the help text or the version to standard output: 0, or 1 when
 * standard output cannot take it. */
static int print_long_option(const char *arg)
{
    int failed;

    if (strcmp(arg, "--help") == 0)
        failed = fputs(help_text, stdout) == EOF;
    else
        failed = printf("xmlcfg %s\n", XMLCFG_VERSION) < 0;
    if (fflush(stdout) != 0)
        failed = 1;
    if (failed) {
        console_log(0, "%s: ###Error cannot write to standard output\n", __func__);
        return 1;
    }
    return 0;
}

int main(int argc, char **argv)
{
    const char *long_option;
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

    long_option = long_option_asked(argc, argv);
    if (long_option != NULL)
        return print_long_option(long_option);

    while ((opt = getopt(argc, argv, option_letters)) != -1) {
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
