/*
 * Debug library for comparing runs of the tool: every call appends one line
 * to the file named by XMLCFG_RECORDS (nothing when it is unset), so that a
 * test can compare the store's diagnostic records of two runs.
 */
#include "tolu_debug.h"

#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>

static void append(const char *kind, const char *module, int number, const char *format, va_list ap)
    TOLU_DBG_PRINTF(4, 0);

static void append(const char *kind, const char *module, int number, const char *format, va_list ap)
{
    const char *path = getenv("XMLCFG_RECORDS");
    FILE *f;

    if (!path || !(f = fopen(path, "a")))
        return;
    fprintf(f, "%s %s %d: ", kind, module, number);
    vfprintf(f, format, ap);
    fputc('\n', f);
    fclose(f);
}

const char *tolu_dbg_get_level_name(int level)
{
    return level == 3 ? "ERR" : "OTHER";
}

void tolu_dbg_syslog(int priority, const char *format, ...)
{
    va_list ap;

    va_start(ap, format);
    append("syslog", "-", priority, format, ap);
    va_end(ap);
}

void tolu_dbg_log(const char *module, int level, const char *format, ...)
{
    va_list ap;

    va_start(ap, format);
    append("log", module ? module : "-", level, format, ap);
    va_end(ap);
}
