// The delta's comparison of one leaf, and records that cannot be made.
#include <gtest/gtest.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "../../cli/console.h"
#include "../../delta/delta.h"

namespace {

class Delta : public ::testing::Test {
protected:
    void SetUp() override
    {
        verbose_level = 1;
        delta_found = 0;
        delta_add_pass = 0;
        delta_fp = tmpfile();
        ASSERT_NE(delta_fp, nullptr);
        xml_lib_setup();
        doc = xml_init();
        ASSERT_EQ(xml_read_memory(doc, "<c><t>v</t><e/><w> </w><p PRI='1'>v</p><m>a<b>x</b></m></c>"), 0);
    }
    void TearDown() override
    {
        if (delta_fp)
            fclose(delta_fp);
        delta_fp = nullptr;
        xml_fini(doc);
    }
    std::string written()
    {
        std::string s;
        char buf[256];
        fflush(delta_fp);
        rewind(delta_fp);
        while (fgets(buf, sizeof(buf), delta_fp))
            s += buf;
        return s;
    }
    // Compares the first leaf of `walked` (a text, or an empty element)
    // with the node at xpath of the loaded document.
    int compare(const char *walked, const char *xpath)
    {
        xmlTextReaderPtr r = xmlReaderForMemory(walked, static_cast<int>(strlen(walked)), nullptr, nullptr, 0);
        // Move to the first text, or to the first childless element.
        while (xmlTextReaderRead(r) == 1) {
            int type = xmlTextReaderNodeType(r);
            if (type == 3 || (type == 1 && xmlTextReaderIsEmptyElement(r)))
                break;
        }
        char path[1024];
        snprintf(path, sizeof(path), "%s", xpath);
        int rc = check_delta(doc, path, path, r);
        EXPECT_EQ(delta_old_value, nullptr) << "released after each comparison";
        xmlFreeTextReader(r);
        return rc;
    }
    XmlState *doc = nullptr;
};

TEST_F(Delta, NoPathOrNoFile)
{
    testing::internal::CaptureStderr();
    EXPECT_EQ(save_xpath_to_file(nullptr, DELTA_KIND_CHANGED), 1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "save_xpath_to_file: No XPATH specified\n");
    EXPECT_EQ(delta_found, 0);

    fclose(delta_fp);
    delta_fp = nullptr;
    EXPECT_EQ(save_xpath_to_file("/c[1]/a[1]", DELTA_KIND_MISSING), 0);
    EXPECT_EQ(delta_found, 0) << "nothing is recorded without an open file";
}

TEST_F(Delta, EmptyAndTextCompare)
{
    testing::internal::CaptureStderr();
    EXPECT_EQ(compare("<t>v</t>", "/c[1]/t[1]"), 0);     // same text
    EXPECT_EQ(compare("<e/>", "/c[1]/e[1]"), 0);          // empty against empty
    EXPECT_EQ(compare("<e></e>", "/c[1]/w[1]"), 0) << "empty against whitespace: a text, so changed";
    EXPECT_EQ(compare("<t>v</t>", "/c[1]/e[1]"), 0);     // text against empty
    EXPECT_EQ(compare("<e/>", "/c[1]/t[1]"), 0);          // empty against text
    EXPECT_EQ(compare("<t>v2</t>", "/c[1]/t[1]"), 0);    // other text
    EXPECT_EQ(compare("<m>a</m>", "/c[1]/m[1]"), 0) << "the loaded side is the element's whole text";
    EXPECT_EQ(compare("<p>v</p>", "/c[1]/p[1]"), 0);     // forced by PRI
    EXPECT_EQ(compare("<z>v</z>", "/c[1]/z[1]"), 0);     // missing
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(written(),
              "MOD=/c[1]/w[1]\n"
              "MOD=/c[1]/e[1]\n"
              "MOD=/c[1]/t[1]\n"
              "MOD=/c[1]/t[1]\n"
              "MOD=/c[1]/m[1]\n"
              "MOD=/c[1]/p[1]\n"
              "DEL=/c[1]/z[1]\n");
}

TEST_F(Delta, FailedRecordFailsTheLeaf)
{
    xmlTextReaderPtr r = xmlReaderForMemory("<a/>", 4, nullptr, nullptr, 0);
    ASSERT_EQ(xmlTextReaderRead(r), 1);
    testing::internal::CaptureStderr();
    EXPECT_EQ(check_delta(doc, nullptr, nullptr, r), 1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "save_xpath_to_file: No XPATH specified\n"
              "check_delta: ###Error save_xpath_to_file() failed\n");
    xmlFreeTextReader(r);
}

}  // namespace
