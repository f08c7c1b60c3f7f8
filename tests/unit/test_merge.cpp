// Node placement of the merge, called directly: the rewritten walk path,
// its count and the output document.  The console lines of whole runs are
// pinned by the merge-* command-line cases.
#include <gtest/gtest.h>

#include <stdio.h>
#include <string.h>

#include <string>

#include "doc_text.h"
#include "run_state.h"
#include "../../merge/merge.h"

namespace {

class Merge : public ::testing::Test {
protected:
    void SetUp() override
    {
        reset_run_state();
        verbose_level = 0;
        keep_local_tags = 1;
    }
    void TearDown() override { xml_fini(n); }

    void load(const char *text, const std::string &xpath)
    {
        n = load_doc(text);
        snprintf(path, sizeof(path), "%s", xpath.c_str());
    }

    XmlState *n = nullptr;
    char path[XPATH_BUF_SIZE] = {0};
};

TEST_F(Merge, PlacementMovesPastOtherAttributesAndKeepsTheCount)
{
    load("<config><item kind='x'>base</item><item>old</item></config>", "/config[1]/item[1]");
    mapXpath["/config[1]/item"] = 1;

    stderr_of([&] { EXPECT_EQ(add_node_or_set_content(n, path, nullptr, "new"), 0); });
    EXPECT_STREQ(path, "/config[1]/item[2]");
    EXPECT_EQ(mapXpath["/config[1]/item"], 2);
    EXPECT_EQ(doc_body(n), "<config><item kind=\"x\">base</item><item>new</item></config>\n");

    // The same value again changes nothing.
    verbose_level = 1;
    std::string err = stderr_of([&] { EXPECT_EQ(add_node_or_set_content(n, path, nullptr, "new"), 0); });
    EXPECT_NE(err.find("add_node_or_set_content: ++Value exists - Value (len:3): new\n"), std::string::npos) << err;
    EXPECT_STREQ(path, "/config[1]/item[2]");
    EXPECT_EQ(mapXpath["/config[1]/item"], 2);
}

TEST_F(Merge, PlacementWithoutPositionTriesSecondAndCountsThePath)
{
    load("<config><item kind='x'>base</item></config>", "/config[1]/item");
    stderr_of([&] { EXPECT_EQ(add_node_or_set_content(n, path, nullptr, "a&b"), 0); });
    EXPECT_STREQ(path, "/config[1]/item[2]");
    EXPECT_EQ(mapXpath["/config[1]/item"], 1);
    EXPECT_EQ(doc_body(n), "<config><item kind=\"x\">base</item><item>a&amp;b</item></config>\n");
}

TEST_F(Merge, SearchesEndWhenAFullPathCannotMoveOn)
{
    // A path that has no room for another position ("[2]" after the last
    // step, or its raised index): the searches must give up rather than try
    // the same element forever.
    for (size_t len : {XPATH_BUF_SIZE - 1, XPATH_BUF_SIZE - 3}) {
        const std::string name(len - strlen("/config[1]/"), 'a');
        xml_fini(n);
        load(("<config><" + name + " kind='x'/></config>").c_str(), "/config[1]/" + name);
        ASSERT_EQ(strlen(path), len);
        const std::string err = stderr_of([&] {
            EXPECT_EQ(check_node_in_doc(n, path, "O-file", 1), 1);
            EXPECT_EQ(add_node_or_set_content(n, path, nullptr, "v"), 1);
        });
        EXPECT_NE(err.find("add_node_or_set_content: ###Error no room to move on from Xpath:/config[1]/aaa"),
                  std::string::npos)
            << err;
        EXPECT_EQ(doc_body(n), "<config><" + name + " kind=\"x\"/></config>\n");
    }
}

// A path that selects something at every position (a union with the root)
// is searched no further than the parent's element children.
TEST_F(Merge, SearchesEndAtTheParentsChildCount)
{
    load("<config><item kind='a'/><item kind='b'/><item kind='c'/></config>", "/config[1] | /config[1]/item[1]");
    mapAttr["id"] = "z";

    const std::string err = stderr_of([&] {
        EXPECT_EQ(check_node_in_doc(n, path, "O-file", 1), 1);
        EXPECT_EQ(add_node_or_set_content(n, path, nullptr, "v"), 1);
    });
    // The root and its three items: four moves, then the end.
    EXPECT_NE(err.find("check_node_in_doc: ###Error Xpath:/config[1] | /config[1]/item[5] still selects past the 4 "
                       "element children of its parent\n"),
              std::string::npos)
        << err;
    EXPECT_NE(err.find("add_node_or_set_content: ###Error Xpath:/config[1] | /config[1]/item[5]"), err.npos) << err;
    EXPECT_EQ(doc_body(n), "<config><item kind=\"a\"/><item kind=\"b\"/><item kind=\"c\"/></config>\n");
}

}  // namespace
