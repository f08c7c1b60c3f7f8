/*
 * Stand-in for the device debug library.
 *
 * Both kinds of record go to syslog: a system-log record with the priority
 * its caller gives, a module-log record at debug priority of the local1
 * facility, prefixed with the module's name and level so that the device's
 * log filter can route it.  Nothing is ever written to standard output or
 * standard error, so the tool's console stays as its callers expect.
 *
 * Where no system logger listens (a development machine or a container
 * without /dev/log) the records are dropped at once: syslog() would
 * otherwise try, and fail, to connect for every single record.
 */
#include "tolu_debug.h"

#include <stdarg.h>
#include <stdio.h>
#include <sys/stat.h>
#include <syslog.h>

static const char *const level_names[] = {
    "EMERG", "ALERT", "CRIT", "ERR", "WARNING", "NOTICE", "INFO", "DEBUG",
};

static int logger_listens(void)
{
    static int known = -1;
    struct stat st;

    if (known < 0)
        known = (stat("/dev/log", &st) == 0 && S_ISSOCK(st.st_mode)) ? 1 : 0;
    return known;
}

const char *tolu_dbg_get_level_name(int level)
{
    if (level < 0 || level >= (int)(sizeof(level_names) / sizeof(level_names[0])))
        return "UNKNOWN";
    return level_names[level];
}

void tolu_dbg_syslog(int priority, const char *format, ...)
{
    va_list ap;

    if (!logger_listens())
        return;
    va_start(ap, format);
    vsyslog(priority, format, ap);
    va_end(ap);
}

void tolu_dbg_log(const char *module, int level, const char *format, ...)
{
    char line[1024];
    va_list ap;

    if (!logger_listens())
        return;
    va_start(ap, format);
    vsnprintf(line, sizeof(line), format, ap);
    va_end(ap);
    syslog(LOG_LOCAL1 | LOG_DEBUG, "%s[%d]: %s", module ? module : "-", level, line);
}
