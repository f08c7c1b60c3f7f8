#include "recording_debug.h"

#include <stdarg.h>
#include <stdio.h>

#include "../../platform/tolu_debug/tolu_debug.h"

__attribute__((format(printf, 1, 0)))
static std::string expand(const char *format, va_list ap)
{
    char buf[8192];

    vsnprintf(buf, sizeof(buf), format, ap);
    return buf;
}

std::vector<DebugCall> &debug_calls()
{
    static std::vector<DebugCall> calls;
    return calls;
}

void debug_reset()
{
    debug_calls().clear();
}

std::vector<std::string> debug_log_texts()
{
    std::vector<std::string> texts;

    for (const DebugCall &c : debug_calls())
        if (c.function == "log")
            texts.push_back(c.text);
    return texts;
}

extern "C" const char *tolu_dbg_get_level_name(int level)
{
    debug_calls().push_back({"get_level_name", level, "", ""});
    return "CRIT";
}

extern "C" void tolu_dbg_syslog(int priority, const char *format, ...)
{
    va_list ap;

    va_start(ap, format);
    debug_calls().push_back({"syslog", priority, "", expand(format, ap)});
    va_end(ap);
}

extern "C" void tolu_dbg_log(const char *module, int level, const char *format, ...)
{
    va_list ap;

    va_start(ap, format);
    debug_calls().push_back({"log", level, module ? module : "", expand(format, ap)});
    va_end(ap);
}
