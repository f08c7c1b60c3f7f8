/*
 * Process-wide settings, the console log and the capture of libxml2 errors.
 *
 * The console log is the tool's only channel to a person: standard error,
 * unbuffered, filtered by verbose_level.  Levels: 0 errors and lines always
 * shown, 1 banners and progress, 2 the detailed trace, 3 adds the line of
 * the file around a parse error, with a caret under the fault.  Under -q
 * only error lines ("###Error" in the format), the run's summary and its
 * last line are printed.  Messages begin with the printing
 * function's name: console_log(0, "%s: ...", __func__, ...).  Nothing is
 * written to standard output but the text of --help and --version.
 */
#ifndef XMLCFG_CONSOLE_H
#define XMLCFG_CONSOLE_H

extern int verbose_level;   /* threshold set by -v; default 1 */
extern int delta_mode;      /* set by -m: the run is the delta */
extern int xml_lib_error;   /* set by on_error; never cleared */
extern int quiet_mode;      /* set by -q */

/*
 * What the delta and the cross merge did, for the summary line of -q: taken
 * from the console lines that report each delta line written, each value
 * carried over and the cross merge's save, whatever the level.
 */
struct QuietCounts {
    int mod;       /* MOD= lines */
    int del;       /* DEL= lines */
    int add;       /* ADD= lines */
    int carried;   /* values the cross merge carried over */
    int saved;     /* the cross merge saved its output */
};
extern struct QuietCounts quiet_counts;

/* Called first thing: opens /dev/null on any of descriptors 0-2 that is
 * closed, ignores SIGPIPE and makes standard error unbuffered.  0, or -1
 * when a descriptor could not be filled. */
int process_setup(void);

/* Prints fmt to standard error when level <= verbose_level; under -q only
 * when fmt is an error line. */
void console_log(int level, const char *fmt, ...) __attribute__((format(printf, 2, 3)));
/* As console_log, and printed under -q too: the run's last line. */
void console_keep(int level, const char *fmt, ...) __attribute__((format(printf, 2, 3)));
/* The run's first error line ("###Error" in the format) as console_log
 * or console_keep formatted it, shown or not, without its line feed; ""
 * when there was none.  A line longer than 1023 bytes is cut. */
const char *console_first_error(void);
/* Printed only under -q: the run's summary line. */
void console_quiet(const char *fmt, ...) __attribute__((format(printf, 1, 2)));

/*
 * libxml2 generic error handler, and the printer of every library error:
 * marks the run as failed and prints the message with its arguments applied
 * as one line, "on_error: ###Error from XML lib:(TEXT)".  Pieces are joined
 * up to the line feed that ends the message, which is cut; line feeds inside
 * it become spaces.  The library's structured errors come here as
 * "FILE:LINE: DOMAIN LEVEL : MESSAGE".
 */
void on_error(void *ctx, const char *msg, ...) __attribute__((format(printf, 2, 3)));
/* Prints what on_error holds of a message whose line feed never came. */
void flush_library_messages(void);

/* Initialises libxml2 and installs the error handlers; every mode driver
 * calls this before it opens an XML file. */
void xml_lib_setup(void);

/* A string argument that may be absent, shown as the C library shows it. */
static inline const char *show_str(const char *s)
{
    return s ? s : "(null)";
}

#endif
