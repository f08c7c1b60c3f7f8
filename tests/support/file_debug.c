/*
 * Debug library that formats every call, so that a record whose arguments
 * do not fit its format shows under the sanitizers, and appends it as one
 * line to the file named by XMLCFG_RECORDS (nothing when it is unset):
 * tests compare the store's records of two runs, the fuzz targets only
 * format them.
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
    char line[8192];
    FILE *f;

    vsnprintf(line, sizeof(line), format, ap);
    if (!path || !(f = fopen(path, "a")))
        return;
    fprintf(f, "%s %s %d: %s\n", kind, module, number, line);
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
