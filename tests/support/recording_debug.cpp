#include "recording_debug.h"

#include <stdarg.h>
#include <stdio.h>

#include <gtest/gtest.h>

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

std::vector<std::string> store_records()
{
    std::vector<std::string> texts;
    const std::vector<DebugCall> &c = debug_calls();

    EXPECT_EQ(c.size() % 4, 0u) << "a record is four calls";
    for (size_t i = 0; i + 3 < c.size(); i += 4) {
        EXPECT_EQ(c[i].function, "get_level_name");
        EXPECT_EQ(c[i].number, 3);
        EXPECT_EQ(c[i + 1].function, "syslog");
        EXPECT_EQ(c[i + 1].number, 138);
        EXPECT_EQ(c[i + 1].text, c[i + 3].text);
        EXPECT_EQ(c[i + 2].function, "get_level_name");
        EXPECT_EQ(c[i + 3].function, "log");
        EXPECT_EQ(c[i + 3].module, "XMLDATA");
        EXPECT_EQ(c[i + 3].number, 3);
        texts.push_back(c[i + 3].text);
    }
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
