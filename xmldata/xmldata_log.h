/*
 * Adapter between the document store and the device debug library.
 *
 * Each failure of the store becomes one diagnostic record, written twice:
 * to the system log (priority 138: facility local1, severity critical) and
 * to the store's module log at level 3.  The level name is fetched afresh
 * for each of the two.  A record's format always begins "[%s]:[%s] - " for
 * the module tag and the level name; the macros fill those two in.
 *
 * These are macros rather than functions because the debug library takes
 * variable arguments and offers no va_list variant to forward them to.
 * Formats must be literals: the library's printf attribute checks them.
 */
#ifndef XMLDATA_LOG_H
#define XMLDATA_LOG_H

#include "../platform/tolu_debug/tolu_debug.h"

#define XMLDATA_MODULE "XMLDATA"
#define XMLDATA_LEVEL 3
#define XMLDATA_SYSLOG_PRIORITY 138

/* Module log only. */
#define XMLDATA_MODLOG(fmt, ...) \
    tolu_dbg_log(XMLDATA_MODULE, XMLDATA_LEVEL, fmt, XMLDATA_MODULE, \
                 tolu_dbg_get_level_name(XMLDATA_LEVEL), __VA_ARGS__)

/* System log, then module log. */
#define XMLDATA_RECORD(fmt, ...) \
    do { \
        tolu_dbg_syslog(XMLDATA_SYSLOG_PRIORITY, fmt, XMLDATA_MODULE, \
                        tolu_dbg_get_level_name(XMLDATA_LEVEL), __VA_ARGS__); \
        XMLDATA_MODLOG(fmt, __VA_ARGS__); \
    } while (0)

/* A string argument that may be absent, shown as the C library shows it. */
static inline const char *xmldata_str(const char *s)
{
    return s ? s : "(null)";
}

#endif
