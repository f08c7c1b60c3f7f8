#include "console.h"

#include <stdarg.h>
#include <stdio.h>

#include <libxml/parser.h>
#include <libxml/xmlerror.h>

#include "../common/banned.h"

int verbose_level = 1;
int delta_mode = 0;
int xml_lib_error = 0;

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
    (void)ctx;
    xml_lib_error = 1;
    /* The template is shown as received: its arguments are not applied. */
    console_log(0, "%s: ###Error from XML lib:(%s)\n", __func__, show_str(msg));
}

void xml_lib_setup(void)
{
    xmlGenericErrorFunc handler = on_error;

    xmlInitParser();
    /* The library copies the pointer, so a local variable serves. */
    initGenericErrorDefaultFunc(&handler);
}
