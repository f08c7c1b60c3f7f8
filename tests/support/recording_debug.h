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
/* The expanded texts of the module-log records only. */
std::vector<std::string> debug_log_texts();

#endif
