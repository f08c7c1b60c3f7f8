/*
 * Device debug library: system-log and module-log records.
 *
 * On the device this library is provided by the platform; this header and
 * tolu_debug.c are a small stand-in with the same interface so that the
 * tool builds and runs on a development machine.
 */
#ifndef TOLU_DEBUG_H
#define TOLU_DEBUG_H

#ifdef __cplusplus
extern "C" {
#endif

#if defined(__GNUC__) || defined(__clang__)
#define TOLU_DBG_PRINTF(fmt_idx, arg_idx) __attribute__((format(printf, fmt_idx, arg_idx)))
#else
#define TOLU_DBG_PRINTF(fmt_idx, arg_idx)
#endif

/* Name of a debug level; never null. */
const char *tolu_dbg_get_level_name(int level);

/* One record to the system log; priority is a syslog priority (facility | severity). */
void tolu_dbg_syslog(int priority, const char *format, ...) TOLU_DBG_PRINTF(2, 3);

/* One record to the module log of the named module. */
void tolu_dbg_log(const char *module, int level, const char *format, ...) TOLU_DBG_PRINTF(3, 4);

#ifdef __cplusplus
}
#endif

#endif
