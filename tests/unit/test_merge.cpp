// Node placement and the merge's leaf rules, called directly: the console
// lines, the output document, the rewritten walk path and its count.
#include <gtest/gtest.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>

#include <libxml/parser.h>

#include "doc_text.h"
#include "../../cli/console.h"
#include "../../merge/merge.h"
#include "../../walk/walk.h"

namespace {

class Merge : public ::testing::Test {
protected:
    void SetUp() override
    {
        verbose_level = 0;
        xml_lib_error = 0;
        keep_local_tags = 1;
        mapXpath.clear();
        mapNXpath.clear();
        mapAttr.clear();
        memset(path, 0, sizeof(path));
    }
    void TearDown() override
    {
        xml_fini(n);
        xml_fini(o);
        verbose_level = 1;
    }

    static XmlState *load(const char *text)
    {
        XmlState *s = xml_init();
        EXPECT_EQ(xml_read_memory(s, text), 0);
        return s;
    }

    // The root element as the store would save it.
    std::string body(XmlState *s)
    {
        std::string text = doc_text(s);
        return text.substr(text.find('\n') + 1);
    }

    void set_path(const char *p) { snprintf(path, sizeof(path), "%s", p); }

    XmlState *n = nullptr;
    XmlState *o = nullptr;
    char path[XPATH_BUF_SIZE];
};

TEST_F(Merge, CheckNodeTriesLaterPositionsOnlyWhenAsked)
{
    n = load("<config><item kind='a'>1</item><item kind='b'>2</item><item>3</item></config>");

    testing::internal::CaptureStderr();
    EXPECT_EQ(check_node_in_doc(n, "/config[1]/item[1]", "N-file", 0), 1);
    EXPECT_EQ(check_node_in_doc(n, "/config[1]/item[1]", "N-file", 1), 0);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("check_node_in_doc:+++Index got adjusted (Xpath new=/config[1]/item[2], old=/config[1]/item[1])\n"
                       "match_node_attributes: Attributes mismatch"),
              std::string::npos)
        << err;
    EXPECT_NE(err.find("check_node_in_doc:+++Index got adjusted (Xpath new=/config[1]/item[3], old=/config[1]/item[2])\n"),
              std::string::npos);
    EXPECT_EQ(err.find("item[4]"), std::string::npos) << "the search stops at the first match";

    // Past the last sibling the answer is "not found"; nothing is recorded.
    mapAttr["kind"] = "z";
    testing::internal::CaptureStderr();
    EXPECT_EQ(check_node_in_doc(n, "/config[1]/item[3]", "O-file", 1), 1);
    err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("(Xpath new=/config[1]/item[4], old=/config[1]/item[3])"), std::string::npos) << err;
    EXPECT_TRUE(mapXpath.empty());

    // A last step without a position tries [2].
    testing::internal::CaptureStderr();
    EXPECT_EQ(check_node_in_doc(n, "/config[1]/item[@kind='b']", "N-file", 1), 0);
    err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(err.find("Index got adjusted"), std::string::npos) << "kind is a known attribute name: " << err;
    mapAttr.clear();
    testing::internal::CaptureStderr();
    EXPECT_EQ(check_node_in_doc(n, "/config[1]/item[@kind='b']", "N-file", 1), 1);
    err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("(Xpath new=/config[1]/item[@kind='b'][2], old=/config[1]/item[@kind='b'])"),
              std::string::npos)
        << err;
}

TEST_F(Merge, PlacementMovesPastOtherAttributesAndKeepsTheCount)
{
    n = load("<config><item kind='x'>base</item><item>old</item></config>");
    mapXpath["/config[1]/item"] = 1;
    set_path("/config[1]/item[1]");

    testing::internal::CaptureStderr();
    EXPECT_EQ(add_node_or_set_content(n, path, nullptr, "new"), 0);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_STREQ(path, "/config[1]/item[2]");
    EXPECT_EQ(mapXpath["/config[1]/item"], 2);
    EXPECT_EQ(body(n), "<config><item kind=\"x\">base</item><item>new</item></config>\n");
    EXPECT_NE(err.find("add_node_or_set_content:+++Attribute doesn't match, try by increasing index\n"
                       "add_node_or_set_content:+++Index got adjusted (Xpath new=/config[1]/item[2], "
                       "old=/config[1]/item[1])\n"
                       "add_node_or_set_content:+++Found node, checking attributes\n"),
              std::string::npos)
        << err;
    EXPECT_NE(err.find("add_node_or_set_content:+++Node Exists - gXpath=/config[1]/item[2] (len=18)\n"),
              std::string::npos);

    // The same value again changes nothing.
    verbose_level = 1;
    testing::internal::CaptureStderr();
    EXPECT_EQ(add_node_or_set_content(n, path, nullptr, "new"), 0);
    err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("add_node_or_set_content: ++Value exists - Value (len:3): new\n"), std::string::npos) << err;
    EXPECT_STREQ(path, "/config[1]/item[2]");
    EXPECT_EQ(mapXpath["/config[1]/item"], 2);
}

TEST_F(Merge, PlacementWithoutPositionTriesSecondAndCountsThePath)
{
    n = load("<config><item kind='x'>base</item></config>");
    set_path("/config[1]/item");
    testing::internal::CaptureStderr();
    EXPECT_EQ(add_node_or_set_content(n, path, nullptr, "a&b"), 0);
    testing::internal::GetCapturedStderr();
    EXPECT_STREQ(path, "/config[1]/item[2]");
    EXPECT_EQ(mapXpath["/config[1]/item"], 1);
    EXPECT_EQ(body(n), "<config><item kind=\"x\">base</item><item>a&amp;b</item></config>\n");
}

TEST_F(Merge, SearchesEndWhenAFullPathCannotMoveOn)
{
    // A path that fills its buffer has no room for another position: the
    // searches must give up rather than try the same element forever.
    const std::string name(XPATH_BUF_SIZE - 1 - strlen("/config[1]/"), 'a');
    const std::string text = "<config><" + name + " kind='x'/></config>";
    n = load(text.c_str());
    set_path(("/config[1]/" + name).c_str());
    ASSERT_EQ(strlen(path), size_t(XPATH_BUF_SIZE - 1));

    testing::internal::CaptureStderr();
    EXPECT_EQ(check_node_in_doc(n, path, "O-file", 1), 1);
    EXPECT_EQ(add_node_or_set_content(n, path, nullptr, "v"), 1);
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("add_node_or_set_content: ###Error no room to move on from Xpath:/config[1]/aaa"),
              std::string::npos)
        << err;
    EXPECT_EQ(body(n), "<config><" + name + " kind=\"x\"/></config>\n");
}

TEST_F(Merge, PlacementFailsWhenTheParentCannotBeReached)
{
    n = load("<config/>");
    set_path("/config[1]/grp[3]/x[1]");
    testing::internal::CaptureStderr();
    EXPECT_EQ(add_node_or_set_content(n, path, nullptr, "1"), 1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "add_node_or_set_content: ###Error xml_create_node_path_if_possible() failed\n");
    // The ancestor made on the way stays; the leaf is not there.
    EXPECT_EQ(body(n), "<config><grp/></config>\n");
}

std::string slurp(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

void spit(const std::string &path, const std::string &text)
{
    std::ofstream out(path, std::ios::binary);
    out << text;
}

TEST_F(Merge, DriverSavesOnlyAfterAWholeWalkAndKeepsDiscardSetting)
{
    char dir[] = "/tmp/merge-driver-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    const std::string d = std::string(dir) + "/d.xml";
    const std::string on = std::string(dir) + "/n.xml";
    const std::string oo = std::string(dir) + "/o.xml";
    spit(on, "<config><a>na</a></config>\n");
    spit(oo, "<config><a>oa</a></config>\n");

    const std::string broken = "<config><a>da</a><mine>1</mine><b>";
    spit(d, broken);
    testing::internal::CaptureStderr();
    EXPECT_EQ(xml_merge_and_update(oo.c_str(), on.c_str(), d.c_str(), 1), 1);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("xml_merge_and_update: ###Error during merge, Discard changes to output XML\n"),
              std::string::npos)
        << err;
    EXPECT_EQ(slurp(d), broken);
    EXPECT_EQ(keep_local_tags, 0) << "-p holds for the rest of the process";

    // A later run without the flag still discards; mapXpath is fresh here
    // as it would be in a new process.
    mapXpath.clear();
    mapNXpath.clear();
    spit(d, "<config><a>da</a><mine>1</mine></config>\n");
    testing::internal::CaptureStderr();
    EXPECT_EQ(xml_merge_and_update(oo.c_str(), on.c_str(), d.c_str(), 0), 0);
    err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(slurp(d), "<?xml version=\"1.0\"?>\n<config><a>da</a></config>\n") << err;

    std::string cmd = std::string("rm -rf ") + dir;
    EXPECT_EQ(system(cmd.c_str()), 0);
}

}  // namespace
