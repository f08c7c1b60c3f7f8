#include "console.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdarg.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include <libxml/parser.h>
#include <libxml/xmlerror.h>
#include <libxml/xmlversion.h>

#include "../common/banned.h"

int verbose_level = 1;
int delta_mode = 0;
int xml_lib_error = 0;
int quiet_mode = 0;
struct QuietCounts quiet_counts = {0, 0, 0, 0, 0};

/*
 * Puts /dev/null on each of descriptors 0, 1 and 2 that the caller left
 * closed, so that no file this run opens (the delta file, the save's
 * temporary file) becomes standard error and receives the console lines.
 * 0, or -1 when /dev/null cannot take the free place.
 */
static int open_standard_descriptors(void)
{
    int null_fd;
    int fd;

    for (fd = 0; fd <= 2; fd++) {
        if (fcntl(fd, F_GETFD) != -1 || errno != EBADF)
            continue;
        null_fd = open("/dev/null", O_RDWR);
        if (null_fd != fd) {
            if (null_fd >= 0)
                close(null_fd);
            return -1;
        }
    }
    return 0;
}

int process_setup(void)
{
    if (open_standard_descriptors() != 0)
        return -1;
    /* A standard error whose reader went away must not end the run half-way:
     * its writes fail and the job goes on. */
    signal(SIGPIPE, SIG_IGN);
    /* Nor a file-size limit: a write past it fails with EFBIG, the save
     * reports it and removes its temporary file. */
    signal(SIGXFSZ, SIG_IGN);
    setvbuf(stderr, NULL, _IONBF, 0);
    return 0;
}

/* Counts for the summary of -q the lines that report what the delta and
 * the cross merge did; these formats are theirs. */
static void count_for_summary(const char *fmt)
{
    if (strcmp(fmt, "%s: MOD=%s\n") == 0)
        quiet_counts.mod++;
    else if (strcmp(fmt, "%s: DEL=%s\n") == 0)
        quiet_counts.del++;
    else if (strcmp(fmt, "%s: ADD=%s\n") == 0)
        quiet_counts.add++;
    else if (strcmp(fmt, "%s: Merged - Old xpath=[%s] to New xpath=[%s], value=[%s]\n") == 0)
        quiet_counts.carried++;
    else if (strcmp(fmt, "%s: Successfully saved file=[%s]\n") == 0)
        quiet_counts.saved = 1;
}

/* The run's first error line, formatted, without its line feed. */
static char first_error[1024];

/* Keeps the first error line, whether or not the level shows it. */
static void keep_first_error(const char *fmt, va_list ap) __attribute__((format(printf, 1, 0)));
static void keep_first_error(const char *fmt, va_list ap)
{
    size_t len;

    /* Every line goes through here: most formats have no '#' at all. */
    if (first_error[0] != '\0' || strchr(fmt, '#') == NULL || strstr(fmt, "###Error") == NULL)
        return;
    if (vsnprintf(first_error, sizeof first_error, fmt, ap) < 0) {
        first_error[0] = '\0';
        return;
    }
    len = strlen(first_error);
    while (len > 0 && first_error[len - 1] == '\n')
        first_error[--len] = '\0';
}

const char *console_first_error(void)
{
    return first_error;
}

void console_log(int level, const char *fmt, ...)
{
    va_list ap;

    va_start(ap, fmt);
    keep_first_error(fmt, ap);
    va_end(ap);
    if (quiet_mode) {
        /* Every error line is level 0; the counted lines are 0 or 1. */
        if (level > 1)
            return;
        count_for_summary(fmt);
        if (strstr(fmt, "###Error") == NULL)
            return;
    } else if (level > verbose_level) {
        return;
    }
    va_start(ap, fmt);
    vfprintf(stderr, fmt, ap);
    va_end(ap);
}

void console_keep(int level, const char *fmt, ...)
{
    va_list ap;

    va_start(ap, fmt);
    keep_first_error(fmt, ap);
    va_end(ap);
    if (!quiet_mode && level > verbose_level)
        return;
    va_start(ap, fmt);
    vfprintf(stderr, fmt, ap);
    va_end(ap);
}

void console_quiet(const char *fmt, ...)
{
    va_list ap;

    if (!quiet_mode)
        return;
    va_start(ap, fmt);
    vfprintf(stderr, fmt, ap);
    va_end(ap);
}

/* A library message that came in pieces, up to its line feed. */
static char pending[1024];
static size_t pending_len;
static int pending_cut;

void on_error(void *ctx, const char *msg, ...)
{
    char piece[1024];
    va_list ap;
    size_t end;
    size_t i;
    int len;
    int cut;

    (void)ctx;
    xml_lib_error = 1;
    va_start(ap, msg);
    len = msg ? vsnprintf(piece, sizeof piece, msg, ap) : 0;
    va_end(ap);
    if (len < 0)
        len = snprintf(piece, sizeof piece, "%s", msg);
    if (len < 0)
        len = 0;
    /* A message cut short is printed at once: its line feed is lost. */
    cut = (size_t)len >= sizeof piece;
    if (cut) {
        len = (int)sizeof piece - 1;
        pending_cut = 1;
    }
    /* Pieces are joined up to a line feed: one line per message. */
    end = (size_t)len;
    while (end > 0 && piece[end - 1] == '\n')
        end--;
    for (i = 0; i < end; i++) {
        char c = piece[i] == '\n' || piece[i] == '\r' ? ' ' : piece[i];

        if (pending_len + 1 < sizeof pending)
            pending[pending_len++] = c;
        else
            pending_cut = 1;
    }
    pending[pending_len] = '\0';
    if (end == (size_t)len && !cut)
        return;
    console_log(0, "%s: ###Error from XML lib:(%s%s)\n", __func__, pending, pending_cut ? "..." : "");
    pending_len = 0;
    pending[0] = '\0';
    pending_cut = 0;
}

void flush_library_messages(void)
{
    if (pending_len > 0 || pending_cut)
        on_error(NULL, "%s", "\n");
}

/* What the library calls the part of itself that reports an error. */
static const char *error_domain(int domain)
{
    switch (domain) {
    case XML_FROM_PARSER:
    case XML_FROM_XPOINTER:
        return "parser ";
    case XML_FROM_NAMESPACE:
        return "namespace ";
    case XML_FROM_DTD:
    case XML_FROM_VALID:
        return "validity ";
    case XML_FROM_HTML:
        return "HTML parser ";
    case XML_FROM_MEMORY:
        return "memory ";
    case XML_FROM_OUTPUT:
        return "output ";
    case XML_FROM_IO:
        return "I/O ";
    case XML_FROM_XINCLUDE:
        return "XInclude ";
    case XML_FROM_XPATH:
        return "XPath ";
    case XML_FROM_REGEXP:
        return "regexp ";
    case XML_FROM_SCHEMASV:
        return "Schemas validity ";
    case XML_FROM_SCHEMASP:
        return "Schemas parser ";
    case XML_FROM_CATALOG:
        return "Catalog ";
    case XML_FROM_I18N:
        return "encoding ";
    case XML_FROM_URI:
        return "URI ";
    default:
        return "";
    }
}

#if LIBXML_VERSION >= 21200
typedef const xmlError *library_error;
#else
typedef xmlErrorPtr library_error;
#endif

/*
 * libxml2 structured error handler: one line per error through on_error.
 * At level 3 or more a parse error is followed by the line of the input
 * around the fault and a caret under it, which the library prints through
 * its generic channel, so through on_error too.
 */
static void on_structured_error(void *ctx, library_error err)
{
    const char *level;
    const char *domain;
    const char *message;

    (void)ctx;
    flush_library_messages();
    if (!err) {
        on_error(NULL, "%s\n", "unknown error");
        return;
    }
    level = err->level == XML_ERR_WARNING ? "warning" : err->level == XML_ERR_NONE ? "" : "error";
    domain = error_domain(err->domain);
    message = err->message ? err->message : "";
    if (err->file && err->line > 0)
        on_error(NULL, "%s:%d: %s%s : %s\n", err->file, err->line, domain, level, message);
    else if (err->file)
        on_error(NULL, "%s: %s%s : %s\n", err->file, domain, level, message);
    else
        on_error(NULL, "%s%s : %s\n", domain, level, message);
    if (verbose_level >= 3 && !quiet_mode && err->ctxt &&
        (err->domain == XML_FROM_PARSER || err->domain == XML_FROM_NAMESPACE)) {
        xmlParserCtxtPtr parser = static_cast<xmlParserCtxtPtr>(err->ctxt);

        if (parser->input)
            xmlParserPrintFileContext(parser->input);
    }
}

void xml_lib_setup(void)
{
    xmlGenericErrorFunc handler = on_error;

    xmlInitParser();
    /* The library copies the pointer, so a local variable serves. */
    initGenericErrorDefaultFunc(&handler);
    xmlSetStructuredErrorFunc(NULL, on_structured_error);
}
