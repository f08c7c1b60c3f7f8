#include "console.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdarg.h>
#include <stdio.h>
#include <unistd.h>

#include <libxml/parser.h>
#include <libxml/xmlerror.h>

#include "../common/banned.h"

int verbose_level = 1;
int delta_mode = 0;
int xml_lib_error = 0;

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

void console_log(int level, const char *fmt, ...)
{
    va_list ap;

    if (level > verbose_level)
        return;
    va_start(ap, fmt);
    vfprintf(stderr, fmt, ap);
    va_end(ap);
}

void on_error(void *ctx, const char *msg, ...)
{
    char text[1024];
    va_list ap;
    int len;

    (void)ctx;
    xml_lib_error = 1;
    /* The template is shown as received: its arguments are not applied. */
    console_log(0, "%s: ###Error from XML lib:(%s)\n", __func__, show_str(msg));
    if (verbose_level < 3 || msg == NULL)
        return;
    /* Asked for: the same piece with its arguments (file, line, reason).
     * The template is the library's own; a longer piece is cut short. */
    va_start(ap, msg);
    len = vsnprintf(text, sizeof text, msg, ap);
    va_end(ap);
    if (len < 0)
        return;
    console_log(3, "%s: ###Error from XML lib, expanded:(%s%s)\n", __func__, text,
                (size_t)len >= sizeof text ? "..." : "");
}

void xml_lib_setup(void)
{
    xmlGenericErrorFunc handler = on_error;

    xmlInitParser();
    /* The library copies the pointer, so a local variable serves. */
    initGenericErrorDefaultFunc(&handler);
}
