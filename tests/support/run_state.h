// The process-wide state one run of the tool starts from, and the console,
// for tests that call the walk, merge, delta and cross-merge code directly.
#ifndef XMLCFG_TEST_RUN_STATE_H
#define XMLCFG_TEST_RUN_STATE_H

#include <gtest/gtest.h>

#include <string>

#include "../../cli/console.h"
#include "../../walk/walk.h"

// The maps and flags persist between tests in one executable.
inline void reset_run_state()
{
    verbose_level = 1;
    xml_lib_error = 0;
    mapXpath.clear();
    mapNXpath.clear();
    mapAttr.clear();
}

// A document read from text, libxml2's errors going to the console.
inline XmlState *load_doc(const std::string &text)
{
    xml_lib_setup();
    XmlState *s = xml_init();
    EXPECT_EQ(xml_read_memory(s, text.c_str()), 0);
    return s;
}

// What f prints on the console.
template <typename F> std::string stderr_of(F f)
{
    testing::internal::CaptureStderr();
    f();
    return testing::internal::GetCapturedStderr();
}

#endif
