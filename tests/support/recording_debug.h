/*
 * A debug library for tests: records every call instead of logging, so
 * that tests can assert the store's diagnostic records exactly.
 */
#ifndef XMLCFG_TEST_RECORDING_DEBUG_H
#define XMLCFG_TEST_RECORDING_DEBUG_H

#include <string>
#include <vector>

struct DebugCall {
    std::string function;   /* "get_level_name", "syslog" or "log" */
    int number;             /* level or priority */
    std::string module;     /* module tag of tolu_dbg_log, else empty */
    std::string text;       /* the expanded format */
};

/* Every call since the last reset, in order. */
std::vector<DebugCall> &debug_calls();
void debug_reset();
/*
 * The texts of the store's records since the last reset, in order, each
 * checked to be four calls: level name, system log, level name, module log
 * "XMLDATA" at level 3, both logs with the same text.
 */
std::vector<std::string> store_records();
/* A record's text as the store writes it. */
inline std::string rec(const std::string &text)
{
    return "[XMLDATA]:[CRIT] - " + text;
}

#endif
