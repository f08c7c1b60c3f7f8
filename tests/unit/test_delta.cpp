// Records that cannot be made, which no command line can provoke.
#include <gtest/gtest.h>

#include <stdio.h>

#include "run_state.h"
#include "../../delta/delta.h"

TEST(Delta, NoPathOrNoFile)
{
    reset_run_state();
    delta_found = 0;
    delta_add_pass = 0;
    delta_fp = fopen("/dev/null", "w");
    ASSERT_NE(delta_fp, nullptr);
    XmlState *doc = load_doc("<c/>");
    xmlTextReaderPtr r = xmlReaderForMemory("<a/>", 4, nullptr, nullptr, 0);
    ASSERT_EQ(xmlTextReaderRead(r), 1);

    // A failed record fails the leaf.
    testing::internal::CaptureStderr();
    EXPECT_EQ(check_delta(doc, nullptr, nullptr, r), 1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "save_xpath_to_file: No XPATH specified\n"
              "check_delta: ###Error save_xpath_to_file() failed\n");
    EXPECT_EQ(delta_found, 0);

    fclose(delta_fp);
    delta_fp = nullptr;
    EXPECT_EQ(save_xpath_to_file("/c[1]/a[1]", DELTA_KIND_MISSING), 0);
    EXPECT_EQ(delta_found, 0) << "nothing is recorded without an open file";
    xmlFreeTextReader(r);
    xml_fini(doc);
}
