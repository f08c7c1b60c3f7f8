/*
 * The program's own debug library, for a build without the stand-in: each
 * record becomes one line on standard output, so that the test sees that
 * these functions, and no others, got the store's records.
 */
#include <stdio.h>

const char *tolu_dbg_get_level_name(int level);
void tolu_dbg_syslog(int priority, const char *format, ...);
void tolu_dbg_log(const char *module, int level, const char *format, ...);

const char *tolu_dbg_get_level_name(int level)
{
    (void)level;
    return "own";
}

void tolu_dbg_syslog(int priority, const char *format, ...)
{
    (void)priority;
    (void)format;
    puts("own debug library: syslog record");
}

void tolu_dbg_log(const char *module, int level, const char *format, ...)
{
    (void)module;
    (void)level;
    (void)format;
    puts("own debug library: module record");
}
