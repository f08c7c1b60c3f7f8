/*
 * Process-wide settings, the console log and the capture of libxml2 errors.
 *
 * The console log is the tool's only channel to a person: standard error,
 * unbuffered, filtered by verbose_level.  Levels: 0 errors and lines always
 * shown, 1 banners and progress, 2 the detailed trace, 3 the XML library's
 * messages with their arguments.  Messages begin with the printing
 * function's name: console_log(0, "%s: ...", __func__, ...).  Nothing is
 * written to standard output but the text of --help and --version.
 */
#ifndef XMLCFG_CONSOLE_H
#define XMLCFG_CONSOLE_H

extern int verbose_level;   /* threshold set by -v; default 1 */
extern int delta_mode;      /* set by -m: the walk calls the delta callback */
extern int xml_lib_error;   /* set by on_error; never cleared */

/* Called first thing: opens /dev/null on any of descriptors 0-2 that is
 * closed, ignores SIGPIPE and makes standard error unbuffered.  0, or -1
 * when a descriptor could not be filled. */
int process_setup(void);

/* Prints fmt to standard error when level <= verbose_level. */
void console_log(int level, const char *fmt, ...) __attribute__((format(printf, 2, 3)));

/*
 * libxml2 generic error handler: marks the run as failed and prints the
 * library's message template as received, without expanding it.  The
 * library may call it several times for one error.  At verbose level 3 or
 * more each such line is followed by the piece with its arguments applied.
 */
void on_error(void *ctx, const char *msg, ...) __attribute__((format(printf, 2, 3)));

/* Initialises libxml2 and installs on_error; every mode driver calls this
 * before it opens an XML file. */
void xml_lib_setup(void);

/* A string argument that may be absent, shown as the C library shows it. */
static inline const char *show_str(const char *s)
{
    return s ? s : "(null)";
}

#endif
