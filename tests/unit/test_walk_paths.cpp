// Path surgery and attribute matching of the walk, called directly.
#include <gtest/gtest.h>

#include <string.h>

#include <string>

#include "../../cli/console.h"
#include "../../walk/walk.h"

namespace {

class Paths : public ::testing::Test {
protected:
    void SetUp() override
    {
        verbose_level = 1;
        mapXpath.clear();
        mapNXpath.clear();
        mapAttr.clear();
    }
    void TearDown() override
    {
        if (doc)
            xml_fini(doc);
    }
    // The first element that xpath selects in a document read from text.
    xmlNodePtr node(const char *text, const char *xpath)
    {
        if (!doc) {
            xml_lib_setup();
            doc = xml_init();
        } else {
            xml_fini(doc);
            doc = xml_init();
        }
        EXPECT_EQ(xml_read_memory(doc, text), 0);
        xmlXPathObjectPtr res = xmlXPathEvalExpression(BAD_CAST xpath, get_pCtxt(doc));
        xmlNodePtr n = res->nodesetval->nodeTab[0];
        xmlXPathFreeObject(res);
        return n;
    }
    XmlState *doc = nullptr;
};

std::string cut(const char *in)
{
    char buf[XPATH_BUF_SIZE];
    snprintf(buf, sizeof(buf), "%s", in);
    remove_last_step(buf);
    return buf;
}

TEST_F(Paths, RemoveLastStepSkipsSlashesInsidePredicates)
{
    EXPECT_EQ(cut("/config[1]/wifi[1]/ssid[1]"), "/config[1]/wifi[1]");
    EXPECT_EQ(cut("/config[1]/apn[@url='http://a/b' and @id='1'][2]"), "/config[1]");
    EXPECT_EQ(cut("/config[1]/wifi[@node_deleted='1']"), "/config[1]");
    EXPECT_EQ(cut("/config"), "");
    EXPECT_EQ(cut("/config[1]"), "");
    EXPECT_EQ(cut("config"), "");
    EXPECT_EQ(cut(""), "");
}

std::string incremented(const char *in, int expect_rc, int record = 0)
{
    char buf[XPATH_BUF_SIZE];
    snprintf(buf, sizeof(buf), "%s", in);
    EXPECT_EQ(increment_xpath_index(buf, record), expect_rc) << in;
    return buf;
}

TEST_F(Paths, IncrementRaisesOnlyATrailingNumericIndex)
{
    EXPECT_EQ(incremented("/config[1]/wifi[9]", 0), "/config[1]/wifi[10]");
    EXPECT_EQ(incremented("/config[1]/apn[@id='2'][1]", 0), "/config[1]/apn[@id='2'][2]");
    EXPECT_EQ(incremented("/a[099]", 0), "/a[100]");
    EXPECT_TRUE(mapXpath.empty()) << "nothing recorded without the flag";

    for (const char *same : {"/config[1]/apn[@id='2']", "/config[1]/wifi", "", "[5]", "5]", "/a[1x]", "/a[-1]"})
        EXPECT_EQ(incremented(same, -1), same);

    mapXpath["/config[1]/wifi"] = 9;
    EXPECT_EQ(incremented("/config[1]/wifi[9]", 0, 1), "/config[1]/wifi[10]");
    EXPECT_EQ(mapXpath["/config[1]/wifi"], 10);
    EXPECT_EQ(incremented("/config[1]/lan[1]", 0, 1), "/config[1]/lan[2]");
    EXPECT_EQ(mapXpath["/config[1]/lan"], 1) << "a new key counts from 0";
}

TEST_F(Paths, IndexedPathsReachButNeverPass1023)
{
    char step[XPATH_BUF_SIZE];
    char Xpath[XPATH_BUF_SIZE];
    char nXpath[XPATH_BUF_SIZE] = {0};

    XmlState *d = xml_init();
    xml_lib_setup();
    ASSERT_EQ(xml_read_memory(d, "<r/>"), 0);
    memset(Xpath, 'p', 1015);
    Xpath[0] = '/';
    Xpath[1015] = '\0';
    for (int i = 1; i <= 2; i++) {
        Xpath[1015] = '\0';
        snprintf(step, sizeof(step), "abc");
        testing::internal::CaptureStderr();
        find_and_add_xpath_to_map(step, Xpath, nXpath, d, BAD_CAST "abc");
        testing::internal::GetCapturedStderr();
        EXPECT_EQ(strlen(Xpath), 1022u) << "1015 + \"/abc\" + \"[" << i << "]\" = 1022";
        EXPECT_EQ(std::string(Xpath + 1015), "/abc[" + std::to_string(i) + "]");
    }
    // One character more and the index is cut at the buffer's end.
    memset(Xpath, 'p', 1017);
    Xpath[0] = '/';
    Xpath[1017] = '\0';
    snprintf(step, sizeof(step), "abc");
    testing::internal::CaptureStderr();
    find_and_add_xpath_to_map(step, Xpath, nXpath, d, BAD_CAST "abc");
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(strlen(Xpath), 1023u);
    EXPECT_EQ(std::string(Xpath + 1017), "/abc[1");
    xml_fini(d);
}

TEST_F(Paths, MatchingRuleComparesNamesAndIgnoresPri)
{
    // No attributes on either side, or only PRI on the node.
    EXPECT_EQ(match_node_attributes(node("<r><a/></r>", "/r/a")->properties), 0);
    EXPECT_EQ(match_node_attributes(node("<r><a PRI='1'/></r>", "/r/a")->properties), 0);

    // One side empty.
    testing::internal::CaptureStderr();
    EXPECT_EQ(match_node_attributes(node("<r><a PRI='1' id='1'/></r>", "/r/a")->properties), -1);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(err.rfind("match_node_attributes: Attributes mismatch pAttr:0x", 0), 0u) << err;
    EXPECT_NE(err.find(", mapAttr.size:0\n"), std::string::npos);

    mapAttr["id"] = "1";
    testing::internal::CaptureStderr();
    EXPECT_EQ(match_node_attributes(nullptr), -1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "match_node_attributes: Attributes mismatch pAttr:(nil), mapAttr.size:1\n");

    // Names are compared, values are not; PRI is passed over.
    testing::internal::CaptureStderr();
    EXPECT_EQ(match_node_attributes(node("<r><a id='9' PRI='0'/></r>", "/r/a")->properties), 0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "match_node_attributes: Found attribute:id\n"
              "match_node_attributes: Found PRI attribute skip\n"
              "match_node_attributes: Attributes matched: attr_match_count:1, attr_count:1)\n");

    // A node with a name the walked element lacks.
    mapAttr["type"] = "x";
    testing::internal::CaptureStderr();
    EXPECT_EQ(match_node_attributes(node("<r><a id='1' mode='x' type='x'/></r>", "/r/a")->properties), -1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "match_node_attributes: Found attribute:id\n"
              "match_node_attributes: Attribute mis-match:mode\n");
}

TEST_F(Paths, CompareStartsAtThePriorCount)
{
    node("<r><a/><a PRI='1'/><a x='1'/></r>", "/r");
    testing::internal::CaptureStderr();
    EXPECT_EQ(xpath_compare_attr(doc, "/r/a", 0), 0);
    EXPECT_EQ(xpath_compare_attr(doc, "/r/a", 1), 0) << "a PRI-only node matches a plain element";
    EXPECT_EQ(xpath_compare_attr(doc, "/r/a", 2), -1) << "the third carries an extra attribute";
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("Attributes mismatch"), std::string::npos);

    // At or past the end of the node set the rule is never applied.
    mapAttr["x"] = "1";
    testing::internal::CaptureStderr();
    EXPECT_EQ(xpath_compare_attr(doc, "/r/a", 3), -1);
    EXPECT_EQ(xpath_compare_attr(doc, "/r/b", 0), -1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");

    testing::internal::CaptureStderr();
    EXPECT_EQ(xpath_compare_attr(doc, "/r/a[", 0), -1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "on_error: ###Error from XML lib:(%s)\n"
              "xpath_compare_attr: ###Error: unable to evaluate xpath expression \"/r/a[\"\n");
}

}  // namespace
