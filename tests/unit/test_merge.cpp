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

// A bare step names the k-th sibling without attributes: the walk's own
// count, not the k-th of all.  Found where it is, made beside the others
// where it is missing, and the walk's path and count stay as they are.
TEST_F(Merge, PlacementFindsOrMakesTheBareSiblingTheWalkCounted)
{
    load("<config><item kind='x'>base</item><item>old</item></config>", "/config[1]/item[1]");
    mapXpath["/config[1]/item"] = 1;
    stderr_of([&] { EXPECT_EQ(add_node_or_set_content(n, path, nullptr, "new"), 0); });
    EXPECT_STREQ(path, "/config[1]/item[1]");
    EXPECT_EQ(mapXpath["/config[1]/item"], 1);
    EXPECT_EQ(doc_body(n), "<config><item kind=\"x\">base</item><item>new</item></config>\n");

    snprintf(path, sizeof(path), "/config[1]/item[2]");
    stderr_of([&] { EXPECT_EQ(add_node_or_set_content(n, path, nullptr, "a&b"), 0); });
    EXPECT_STREQ(path, "/config[1]/item[2]");
    EXPECT_EQ(doc_body(n), "<config><item kind=\"x\">base</item><item>new</item><item>a&amp;b</item></config>\n");

    // An attributed step needs exactly its attributes (PRI aside).
    mapAttr["kind"] = "x";
    snprintf(path, sizeof(path), "/config[1]/item[@kind='x'][1]");
    stderr_of([&] { EXPECT_EQ(check_node_in_doc(n, path, "N-file", 0), 0); });
    xml_fini(n);
    load("<config><item kind='x' mode='y'>a</item><item PRI='1' kind='x'>b</item></config>",
         "/config[1]/item[@kind='x'][1]");
    stderr_of([&] { EXPECT_EQ(add_node_or_set_content(n, path, nullptr, "c"), 0); });
    EXPECT_EQ(doc_body(n), "<config><item kind=\"x\" mode=\"y\">a</item><item PRI=\"1\" kind=\"x\">c</item></config>\n");
}

// An element whose attributes do not match the walked element's sends the
// placement on to the next position, counted in mapXpath.
TEST_F(Merge, PlacementMovesPastAMismatchAndKeepsTheCount)
{
    load("<config><item kind='x'>base</item></config>", "/config[1]/item[@kind='x']");
    stderr_of([&] { EXPECT_EQ(add_node_or_set_content(n, path, nullptr, "a"), 0); });
    EXPECT_STREQ(path, "/config[1]/item[@kind='x'][2]");
    EXPECT_EQ(mapXpath["/config[1]/item[@kind='x']"], 1);
    EXPECT_EQ(doc_body(n), "<config><item kind=\"x\">base</item><item kind=\"x\">a</item></config>\n");
}

TEST_F(Merge, SearchesEndWhenAFullPathCannotMoveOn)
{
    // A path that has no room for another position ("[2]" after the last
    // step, or its raised index): the searches must give up rather than try
    // the same element forever.  The element there has an attribute that
    // the walked one (mapAttr is empty) lacks.
    const std::string pred = "[@kind='x']";
    for (size_t len : {XPATH_BUF_SIZE - 1, XPATH_BUF_SIZE - 3}) {
        const std::string name(len - strlen("/config[1]/") - pred.size(), 'a');
        xml_fini(n);
        load(("<config><" + name + " kind='x'/></config>").c_str(), "/config[1]/" + name + pred);
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
