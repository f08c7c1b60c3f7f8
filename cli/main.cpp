/*
 * xmlcfg: keeps a device's XML configuration right across firmware updates.
 *
 * One run does one job, chosen by the options: validation (-o), cross merge
 * (-c), XPath delta (-m) or, by default, the three-way merge.  The result is
 * the exit status, 0 or 1; messages go to standard error only.
 */
#include <errno.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "console.h"
#include "../crossmerge/crossmerge.h"
#include "../delta/delta.h"
#include "../merge/merge.h"
#include "../merge/report.h"
#include "../merge/tally.h"
#include "../walk/keys.h"
#include "../walk/reader.h"
#include "../walk/walk.h"

#include "../common/banned.h"

/* The lists of the keys file, for the walk. */
static KeyLists key_lists;

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
static const char option_letters[] = "cpmqv:s:d:o:n:x:t:r:w:k:";

/* The file options, in the order their refusals are looked for. */
enum { OPT_O, OPT_S, OPT_N, OPT_D, OPT_X, OPT_T, FILE_OPTIONS };
static const char file_option_letters[FILE_OPTIONS + 1] = "osndxt";

enum { MODE_MERGE, MODE_DELTA, MODE_CROSS, MODE_VALIDATE };

/* What the command line asked for, as read. */
struct CommandLine {
    const char *file[FILE_OPTIONS];   /* the last operand of each file option */
    int given[FILE_OPTIONS];          /* occurrences of each */
    int twice;                        /* the first file option given twice, or -1 */
    char modes[2];                    /* the first two mode options, in order */
    const char *level_out_of_range;   /* the first -v level that fits no int */
    int verbose_given;
    int quiet;
    int discard_local_tags;
    const char *operand;              /* the first argument no option takes */
    const char *src_file;             /* -s or -o, the later: the banner's name */
    const char *report;               /* -r: the merge's report */
    const char *out;                  /* -w: the merge's result instead of D */
    const char *keys;                 /* -k: the keys file of the merge or the delta */
    int keys_given;
    int report_given;
    int out_given;
    int dry_run;                      /* --dry-run */
    const char *conflicts;            /* --conflicts=WHAT, the last */
    const char *report_values;        /* --report-values=WHAT, the last */
};

/* Takes arg when it is one of the merge's long options: 1, or 0. */
static int take_long_option(const char *arg, struct CommandLine *cl)
{
    if (strcmp(arg, "--dry-run") == 0)
        cl->dry_run = 1;
    else if (strncmp(arg, "--conflicts", 11) == 0 && (arg[11] == '=' || arg[11] == '\0'))
        cl->conflicts = arg[11] == '=' ? arg + 12 : "";
    else if (strncmp(arg, "--report-values", 15) == 0 && (arg[15] == '=' || arg[15] == '\0'))
        cl->report_values = arg[15] == '=' ? arg + 16 : "";
    else
        return 0;
    return 1;
}

/*
 * Looks for --help or --version where getopt would meet them as options:
 * before a "--" that ends the options, not as the operand of -s, -v and the
 * like, and not after an option letter that getopt would refuse (its error
 * comes first, as before).  The merge's long options met on the way are
 * read into cl and taken out of argv, so that getopt never sees them; at
 * any other long form, such as --foo, an error line says so and the scan
 * ends, leaving it to getopt's diagnostic.  Every other argument is left
 * to getopt.  Returns the argument found, or NULL.
 */
static const char *scan_long_options(int *argc, char **argv, struct CommandLine *cl)
{
    int i;
    size_t j;

    for (i = 1; i < *argc; i++) {
        const char *arg = argv[i];

        if (strcmp(arg, "--help") == 0 || strcmp(arg, "--version") == 0)
            return arg;
        if (strcmp(arg, "--") == 0)
            return NULL;
        if (arg[0] == '-' && arg[1] == '-') {
            if (!take_long_option(arg, cl)) {
                console_log(0, "%s: ###Error unknown option: %s\n", __func__, arg);
                return NULL;
            }
            /* argv keeps its NULL at argv[argc]. */
            memmove(&argv[i], &argv[i + 1], (size_t)(*argc - i) * sizeof argv[0]);
            (*argc)--;
            i--;
            continue;
        }
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
    "Usage: xmlcfg [-v LEVEL | -q] [-p] [-r REPORT [--report-values=none]]\n"
    "              [-w OUT | --dry-run] [--conflicts=device|release|fail]\n"
    "              [-k KEYS] -s OLD -n NEW -d DEVICE\n"
    "       xmlcfg [-v LEVEL | -q] -m [-k KEYS] -s OLD -n NEW -x DELTA\n"
    "       xmlcfg [-v LEVEL | -q] -c -s OLD -n NEW -t TAGLIST -d OUT\n"
    "       xmlcfg [-v LEVEL | -q] -o FILE\n"
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
    "  -k KEYS     merge and -m: the keys file, naming the lists whose entries\n"
    "              are matched by key fields wherever they stand\n"
    "  -p          discard local tags (settings only DEVICE has) in the merge\n"
    "  -r REPORT   merge: write every decision and a summary to REPORT, one JSON\n"
    "              object a line (mode 0600)\n"
    "  --report-values=none\n"
    "              with -r: null for every value, and its length in bytes\n"
    "  -w OUT      merge: save the result as OUT (not the old, new or device\n"
    "              file) and only read DEVICE\n"
    "  --dry-run   merge: decide everything, save nothing\n"
    "  --conflicts=device|release|fail\n"
    "              merge: where the user and the release both changed a value,\n"
    "              keep DEVICE's (the default), take NEW's, or fail after listing\n"
    "              every such setting\n"
    "  -v LEVEL    how much to print on standard error, a number: 0 errors and\n"
    "              decisions, 1 (the default) adds banners and progress, 2 a\n"
    "              trace of every element, 3 also the line of the file and a\n"
    "              caret under each parse error; a negative level prints nothing\n"
    "  -q          print only errors, one summary line and the last line\n"
    "  --help      print this help and exit\n"
    "  --version   print the version and exit\n"
    "\n"
    "Refused with status 1 before any file is read or written: a word that no\n"
    "option takes, two of -m, -c and -o, a file option given twice or missing,\n"
    "one the job does not take, - for -d or -x, a -v level that does not fit an\n"
    "int, -q with -v, a merge option in another job, --report-values without\n"
    "-r, -w with --dry-run, -k with -c or -o, a keys file that cannot be read\n"
    "or breaks its rules.  One ###Error line says which.\n"
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

/* -v's level as atoi reads it, refused when it does not fit an int. */
static int read_level(const char *text, int *level)
{
    long long value;

    errno = 0;
    value = strtoll(text, NULL, 10);
    if (errno == ERANGE || value > INT_MAX || value < INT_MIN)
        return -1;
    *level = (int)value;
    return 0;
}

/* Reads the options into cl: 0, or 1 after getopt's own diagnostic and the
 * usage text for an unknown option or a missing operand. */
static int read_command_line(int argc, char **argv, struct CommandLine *cl)
{
    int opt;
    int i;

    while ((opt = getopt(argc, argv, option_letters)) != -1) {
        switch (opt) {
        case 'c':
        case 'm':
        case 'o':
            if (cl->modes[0] == '\0')
                cl->modes[0] = (char)opt;
            else if (cl->modes[1] == '\0' && cl->modes[0] != opt)
                cl->modes[1] = (char)opt;
            if (opt == 'm')
                delta_mode = 1;
            if (opt != 'o')
                break;
            [[fallthrough]];   /* -o also names its file */
        case 's':
        case 'n':
        case 'd':
        case 'x':
        case 't':
            i = (int)(strchr(file_option_letters, opt) - file_option_letters);
            cl->file[i] = optarg;
            if (opt == 'o' || opt == 's')
                cl->src_file = optarg;
            if (++cl->given[i] == 2 && cl->twice < 0)
                cl->twice = i;
            break;
        case 'p':
            cl->discard_local_tags = 1;
            break;
        case 'r':
            cl->report = optarg;
            cl->report_given++;
            break;
        case 'w':
            cl->out = optarg;
            cl->out_given++;
            break;
        case 'k':
            cl->keys = optarg;
            cl->keys_given++;
            break;
        case 'q':
            cl->quiet = 1;
            quiet_mode = 1;
            break;
        case 'v':
            cl->verbose_given = 1;
            /* A level that does not fit leaves the level as it was. */
            if (read_level(optarg, &verbose_level) != 0 && !cl->level_out_of_range)
                cl->level_out_of_range = optarg;
            break;
        default:
            /* getopt has printed its own diagnostic. */
            print_usage();
            return 1;
        }
    }
    if (optind < argc)
        cl->operand = argv[optind];
    return 0;
}

static int mode_of(const struct CommandLine *cl)
{
    if (cl->given[OPT_O])
        return MODE_VALIDATE;
    if (cl->modes[0] == 'c' || cl->modes[1] == 'c')
        return MODE_CROSS;
    if (delta_mode)
        return MODE_DELTA;
    return MODE_MERGE;
}

/* The file options each mode takes, in the order a missing one is named. */
static const char *const mode_files[] = {"snd", "snx", "sntd", "o"};
static const char *const mode_names[] = {"the three-way merge", "-m", "-c", "-o"};

static const char *what_file(int mode, char letter)
{
    switch (letter) {
    case 's':
        return "the old file";
    case 'n':
        return "the new file";
    case 'd':
        return mode == MODE_CROSS ? "the output file" : "the device file";
    case 'x':
        return "the delta file";
    case 't':
        return "the tag list";
    default:
        return "the file";
    }
}

static int file_index(char letter)
{
    return (int)(strchr(file_option_letters, letter) - file_option_letters);
}

/* Whether two names given on the command line are one file: the same
 * name, or the same file reached by both. */
static int same_file(const char *a, const char *b)
{
    struct stat sa;
    struct stat sb;

    if (!a || !b)
        return 0;
    if (strcmp(a, b) == 0)
        return 1;
    return stat(a, &sa) == 0 && stat(b, &sb) == 0 && sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

/* The checks of check_options for the merge's own options. */
static int check_merge_options(const struct CommandLine *cl, int mode)
{
    const char *const *file = cl->file;
    const char *extra = cl->report ? "-r" : cl->out ? "-w" : cl->dry_run ? "--dry-run" :
                        cl->conflicts ? "--conflicts" : cl->report_values ? "--report-values" : NULL;

    if (mode != MODE_MERGE && extra) {
        console_log(0, "%s: ###Error option %s does not apply to %s\n", __func__, extra, mode_names[mode]);
        return 1;
    }
    if (cl->keys && mode != MODE_MERGE && mode != MODE_DELTA) {
        console_log(0, "%s: ###Error option -k does not apply to %s\n", __func__, mode_names[mode]);
        return 1;
    }
    if (cl->report_given > 1 || cl->out_given > 1 || cl->keys_given > 1) {
        console_log(0, "%s: ###Error option -%c given twice\n", __func__,
                    cl->report_given > 1 ? 'r' : cl->out_given > 1 ? 'w' : 'k');
        return 1;
    }
    if (cl->keys && strcmp(cl->keys, "-") == 0) {
        console_log(0, "%s: ###Error -k needs a file name, not -\n", __func__);
        return 1;
    }
    if ((cl->report && strcmp(cl->report, "-") == 0) || (cl->out && strcmp(cl->out, "-") == 0)) {
        console_log(0, "%s: ###Error -%c needs a file name, not -\n", __func__,
                    cl->report && strcmp(cl->report, "-") == 0 ? 'r' : 'w');
        return 1;
    }
    if (cl->conflicts && strcmp(cl->conflicts, "device") != 0 && strcmp(cl->conflicts, "release") != 0 &&
        strcmp(cl->conflicts, "fail") != 0) {
        console_log(0, "%s: ###Error --conflicts takes device, release or fail\n", __func__);
        return 1;
    }
    if (cl->report_values && !cl->report) {
        console_log(0, "%s: ###Error --report-values needs -r\n", __func__);
        return 1;
    }
    if (cl->report_values && strcmp(cl->report_values, "none") != 0) {
        console_log(0, "%s: ###Error --report-values takes none\n", __func__);
        return 1;
    }
    if (cl->out && cl->dry_run) {
        console_log(0, "%s: ###Error -w and --dry-run exclude each other\n", __func__);
        return 1;
    }
    if (same_file(cl->out, file[OPT_S]) || same_file(cl->out, file[OPT_N]) || same_file(cl->out, file[OPT_D])) {
        console_log(0, "%s: ###Error -w must not name the old, new or device file\n", __func__);
        return 1;
    }
    if (same_file(cl->report, file[OPT_S]) || same_file(cl->report, file[OPT_N]) ||
        same_file(cl->report, file[OPT_D]) || same_file(cl->report, cl->out)) {
        console_log(0, "%s: ###Error -r must not name the old, new, device or output file\n", __func__);
        return 1;
    }
    return 0;
}

/*
 * Prints the one line that says what is wrong with the command line, first
 * problem first, and answers 1; 0 when there is none.
 */
static int check_options(const struct CommandLine *cl, int mode)
{
    static const char needs_name[] = "dx";   /* options naming a file that is written */
    const char *letters = mode_files[mode];
    int i;

    if (cl->level_out_of_range) {
        console_log(0, "%s: ###Error -v level out of range: %s\n", __func__, cl->level_out_of_range);
        return 1;
    }
    if (cl->quiet && cl->verbose_given) {
        console_log(0, "%s: ###Error -q and -v exclude each other\n", __func__);
        return 1;
    }
    if (cl->modes[1] != '\0') {
        console_log(0, "%s: ###Error options -%c and -%c select two jobs; give one\n", __func__, cl->modes[0],
                    cl->modes[1]);
        return 1;
    }
    if (cl->operand) {
        console_log(0, "%s: ###Error unexpected argument: %s\n", __func__, cl->operand);
        return 1;
    }
    if (cl->twice >= 0) {
        console_log(0, "%s: ###Error option -%c given twice\n", __func__, file_option_letters[cl->twice]);
        return 1;
    }
    for (i = 0; needs_name[i] != '\0'; i++) {
        const char *name = cl->file[file_index(needs_name[i])];

        if (name && strcmp(name, "-") == 0) {
            console_log(0, "%s: ###Error -%c needs a file name, not -\n", __func__, needs_name[i]);
            return 1;
        }
    }
    for (i = 0; letters[i] != '\0'; i++) {
        if (!cl->given[file_index(letters[i])]) {
            console_log(0, "%s: ###Error option -%c (%s) is missing\n", __func__, letters[i],
                        what_file(mode, letters[i]));
            return 1;
        }
    }
    for (i = 0; i < FILE_OPTIONS; i++) {
        if (cl->given[i] && !strchr(letters, file_option_letters[i])) {
            console_log(0, "%s: ###Error option -%c does not apply to %s\n", __func__, file_option_letters[i],
                        mode_names[mode]);
            return 1;
        }
    }
    return check_merge_options(cl, mode);
}

/* The summary line of -q for the delta and the cross merge, in the name of
 * the mode's driver, as the merge's. */
static void print_summary(int mode, const struct CommandLine *cl)
{
    const char *delta = cl->file[OPT_X];
    const char *out = cl->file[OPT_D];

    if (mode == MODE_DELTA)
        console_quiet("%s: %d MOD=, %d DEL=, %d ADD= lines; %s %s\n", "xml_create_xpath_delta", quiet_counts.mod,
                      quiet_counts.del, quiet_counts.add, access(delta, F_OK) == 0 ? "delta file" : "no delta file",
                      delta);
    else if (mode == MODE_CROSS && quiet_counts.saved)
        console_quiet("%s: %d values carried; saved %s\n", "xml_cross_merge", quiet_counts.carried, out);
    else if (mode == MODE_CROSS)
        console_quiet("%s: %d values carried; %s not saved\n", "xml_cross_merge", quiet_counts.carried, out);
}

int main(int argc, char **argv)
{
    struct CommandLine cl;
    const char *long_option;
    const char **file = cl.file;
    int required;
    int mode;
    int result;
    int i;

    /* Before anything opens a file. */
    if (process_setup() != 0)
        return 1;

    memset(&cl, 0, sizeof cl);
    cl.twice = -1;
    long_option = scan_long_options(&argc, argv, &cl);
    if (long_option != NULL)
        return print_long_option(long_option);

    if (read_command_line(argc, argv, &cl) != 0)
        return 1;
    mode = mode_of(&cl);

    if (mode == MODE_VALIDATE) {
        console_log(1, "mode=[Validate-Xml], src_file=[%s]\n", show_str(cl.src_file));
        required = 1;
    } else if (mode == MODE_CROSS) {
        console_log(1, "mode=[Selective-Cross-Merge], src_file=[%s]new_file=[%s], cross_merge_file=[%s], out_file=[%s]\n",
                    show_str(file[OPT_S]), show_str(file[OPT_N]), show_str(file[OPT_T]), show_str(file[OPT_D]));
        required = 4;
    } else if (mode == MODE_DELTA) {
        console_log(1, "mode=[Create-Xpath-Delta], src_file=[%s]new_file=[%s], delta_file=[%s]\n",
                    show_str(file[OPT_S]), show_str(file[OPT_N]), show_str(file[OPT_X]));
        required = 3;
    } else {
        console_log(1, "mode=[3-Way-Merge] discard_local_tags=[%d], src_file=[%s], new_file=[%s], dest_file=[%s]\n",
                    cl.discard_local_tags, show_str(file[OPT_S]), show_str(file[OPT_N]), show_str(file[OPT_D]));
        required = 3;
    }

    /* Every file option counts, repeats included. */
    for (i = 0; i < FILE_OPTIONS; i++)
        required -= cl.given[i];
    if (required != 0)
        console_log(0, "Missing arguments\n");
    if (check_options(&cl, mode) != 0) {
        print_usage();
        return 1;
    }

    merge_tally_reset();
    merge_out_file = cl.out;
    merge_dry_run = cl.dry_run;
    if (cl.conflicts && strcmp(cl.conflicts, "release") == 0)
        merge_conflicts = MERGE_CONFLICTS_RELEASE;
    else if (cl.conflicts && strcmp(cl.conflicts, "fail") == 0)
        merge_conflicts = MERGE_CONFLICTS_FAIL;
    /* The kinds of decision are judged only where something reads them. */
    merge_tally_enabled = quiet_mode || cl.report != NULL || merge_conflicts != MERGE_CONFLICTS_DEVICE;
    result = 0;
    /* The keys file is checked whole before any other file is read. */
    if (cl.keys && keys_read(cl.keys, &key_lists) != 0)
        result = 1;
    else if (cl.keys)
        walk_set_lists(&key_lists);
    if (result != 0)
        ;   /* its error line says why */
    else if (mode == MODE_MERGE && cl.report &&
        merge_report_open(cl.report, cl.report_values == NULL, file[OPT_S], file[OPT_N], file[OPT_D]) != 0)
        result = 1;   /* nothing is merged without the account asked for */
    else if (mode == MODE_VALIDATE)
        result = xml_verify_xml_syntax(file[OPT_O]);
    else if (mode == MODE_CROSS)
        result = xml_cross_merge(file[OPT_S], file[OPT_N], file[OPT_T], file[OPT_D]);
    else if (mode == MODE_DELTA)
        result = xml_create_xpath_delta(file[OPT_S], file[OPT_N], file[OPT_X]);
    else
        result = xml_merge_and_update(file[OPT_S], file[OPT_N], file[OPT_D], cl.discard_local_tags);
    if (mode == MODE_MERGE)
        merge_tally_summary("xml_merge_and_update", cl.out ? cl.out : file[OPT_D],
                            result != 0 ? MERGE_NOT_SAVED : cl.dry_run ? MERGE_DRY_RUN : MERGE_SAVED);
    else
        print_summary(mode, &cl);
    flush_library_messages();
    /* The report goes into place last, with the run's final status. */
    if (merge_report_close(xml_lib_error ? 1 : result) != 0)
        result = 1;

    if (xml_lib_error) {
        console_log(0, "%s: ###Error detected from XML library\n", __func__);
        return 1;
    }
    console_keep(0, "%s: ###Return value:%d\n", __func__, result);
    return result;
}
