// The element walk driven through streamFile: leaf detection, element steps,
// sibling counts, failures of the leaf callback.
//
// This test defines its own check_delta, the walk's leaf callback in delta
// mode, to record every call.  The linker takes it before the library's, and
// it fails loudly (duplicate symbol) should the library's ever be pulled in.
#include <gtest/gtest.h>

#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <map>
#include <string>
#include <vector>

#include "doc_text.h"
#include "run_state.h"
#include "../../cli/reader.h"
#include "../../delta/delta.h"

namespace {

using Strings = std::vector<std::string>;

// Each leaf as "Xpath type value {attributes}" ("-" for no value), and
// the nXpath of each.
Strings leaves;
Strings nxpaths;
int leaf_result = 0;

}  // namespace

int check_delta(XmlState *nDoc, char *Xpath, char *nXpath, xmlTextReaderPtr reader)
{
    (void)nDoc;
    xmlChar *v = xmlTextReaderValue(reader);
    std::string leaf = std::string(Xpath) + " " + std::to_string(xmlTextReaderNodeType(reader)) + " " +
                       (v ? reinterpret_cast<const char *>(v) : "-") + " {";
    for (const auto &a : mapAttr)
        leaf += a.first + "=" + a.second + ";";
    leaves.push_back(leaf + "}");
    nxpaths.push_back(nXpath);
    xmlFree(v);
    return leaf_result;
}

namespace {

class Walk : public ::testing::Test {
protected:
    void SetUp() override
    {
        reset_run_state();
        delta_mode = 1;
        leaf_result = 0;
        leaves.clear();
        nxpaths.clear();
    }

    // Walks `walked` against `loaded` as the delta mode does; the paths
    // must come back empty whenever the walk completes.
    int walk(const std::string &walked, const std::string &loaded)
    {
        std::string path = temp_template("walk-test");
        int fd = mkstemp(&path[0]);
        EXPECT_GE(fd, 0) << "cannot make " << path;
        if (fd < 0)
            return -1;
        EXPECT_EQ(write(fd, walked.data(), walked.size()), ssize_t(walked.size()));
        close(fd);
        XmlState *doc = load_doc(loaded);
        char Xpath[XPATH_BUF_SIZE] = {0};
        char nXpath[XPATH_BUF_SIZE] = {0};
        int rc = streamFile(path.c_str(), 0, Xpath, nXpath, doc, nullptr);
        if (rc == 0) {
            EXPECT_STREQ(Xpath, "");
            EXPECT_STREQ(nXpath, "");
        }
        xml_fini(doc);
        unlink(path.c_str());
        return rc;
    }
};

TEST_F(Walk, LeafIsTextCdataOrElementWithNothingBetweenItsTags)
{
    const std::string doc = "<r><a></a><b> </b><c/><d><!--x--></d><e><![CDATA[y]]></e>"
                            "<f>t</f><g><?pi x?></g></r>";
    ASSERT_EQ(walk(doc, doc), 0);
    // The reader stays on an empty element (type 1).
    EXPECT_EQ(leaves, (Strings{"/r[1]/a[1] 1 - {}", "/r[1]/c[1] 1 - {}", "/r[1]/e[1] 4 y {}",
                               "/r[1]/f[1] 3 t {}"}));
}

// The second text sees the attributes of the child started last.
TEST_F(Walk, MixedContentCallsBackTwiceWithTheParentsPath)
{
    const std::string doc = "<r><p k='1'>x<c m='2'/>y</p></r>";
    ASSERT_EQ(walk(doc, doc), 0);
    EXPECT_EQ(leaves, (Strings{"/r[1]/p[@k='1'][1] 3 x {k=1;}", "/r[1]/p[@k='1'][1]/c[@m='2'][1] 1 - {m=2;}",
                               "/r[1]/p[@k='1'][1] 3 y {m=2;}"}));
}

// PRI never enters the step nor mapAttr, wherever it stands; a value is a
// literal that the compared document reads back as exactly that value.
TEST_F(Walk, ElementStepLeavesOutPriAndQuotesValuesExactly)
{
    const std::string doc = "<r><ssid/><apn id='1'/><apn id='1' type='default'/><ssid PRI='1'/>"
                            "<apn PRI='1' id='1'/><apn id='1' PRI='1'/><apn id='1' PRI='1' type='default'/>"
                            "<q v=\"it's\"/><q v='&apos;a\"b&apos;&apos;'/><q v=\"x' or '1'='1\"/></r>";
    ASSERT_EQ(walk(doc, doc), 0);
    EXPECT_EQ(leaves, (Strings{
                          "/r[1]/ssid[1] 1 - {}",
                          "/r[1]/apn[@id='1'][1] 1 - {id=1;}",
                          "/r[1]/apn[@id='1' and @type='default'][1] 1 - {id=1;type=default;}",
                          "/r[1]/ssid[2] 1 - {}",
                          "/r[1]/apn[@id='1'][2] 1 - {id=1;}",
                          "/r[1]/apn[@id='1'][3] 1 - {id=1;}",
                          "/r[1]/apn[@id='1' and @type='default'][2] 1 - {id=1;type=default;}",
                          "/r[1]/q[@v=\"it's\"][1] 1 - {v=it's;}",
                          "/r[1]/q[@v=concat(\"'\",'a\"b',\"''\")][1] 1 - {v='a\"b'';}",
                          "/r[1]/q[@v=\"x' or '1'='1\"][1] 1 - {v=x' or '1'='1;}",
                      }));
    for (const std::string &n : nxpaths)
        EXPECT_EQ(n.find("node_deleted"), std::string::npos) << n;
}

// The walked config has two wifi sections, the compared one only one.
TEST_F(Walk, CountsPerParentInstanceAndPerPredicate)
{
    const std::string walked = "<config><wifi><ssid>a</ssid></wifi><wifi><ssid>b</ssid></wifi>"
                               "<apn id='1' type='default'/><apn id='2'/><apn id='1' type='default'/></config>";
    const std::string loaded = "<config><wifi><ssid>a</ssid></wifi>"
                               "<apn id='1' type='default'/><apn id='2'/><apn id='1' type='default'/></config>";
    stderr_of([&] { ASSERT_EQ(walk(walked, loaded), 0); });
    EXPECT_EQ(leaves, (Strings{
                          "/config[1]/wifi[1]/ssid[1] 3 a {}",
                          "/config[1]/wifi[2]/ssid[1] 3 b {}",
                          "/config[1]/apn[@id='1' and @type='default'][1] 1 - {id=1;type=default;}",
                          "/config[1]/apn[@id='2'][1] 1 - {id=2;}",
                          "/config[1]/apn[@id='1' and @type='default'][2] 1 - {id=1;type=default;}",
                      }));
    EXPECT_EQ(nxpaths, (Strings{
                           "/config/wifi/ssid",
                           "/config/wifi[@node_deleted='1']/ssid[@node_deleted='1']",
                           "/config/apn[@id='1' and @type='default']",
                           "/config/apn[@id='2']",
                           "/config/apn[@id='1' and @type='default'][2]",
                       }));
    EXPECT_EQ(mapXpath, (std::map<std::string, int>{
                            {"/config", 1},
                            {"/config[1]/wifi", 2},
                            {"/config[1]/wifi[1]/ssid", 1},
                            {"/config[1]/wifi[2]/ssid", 1},
                            {"/config[1]/apn[@id='1' and @type='default']", 2},
                            {"/config[1]/apn[@id='2']", 1},
                        }));
}

TEST_F(Walk, FailedCallbackStopsTheWalk)
{
    leaf_result = 1;
    std::string err = stderr_of([&] { EXPECT_EQ(walk("<r><a/><b/></r>", "<r/>"), 1); });
    EXPECT_NE(err.find("process_tag_early: ###Error handle_empty_tag_in_src_file() failed \n"), std::string::npos);
    EXPECT_EQ(leaves.size(), 1u);
    EXPECT_EQ(current_tag, nullptr);

    // A text leaf's failure comes back as the callback's own value.
    leaf_result = 7;
    err = stderr_of([&] { EXPECT_EQ(walk("<r><a>t</a></r>", "<r/>"), 1); });
    EXPECT_EQ(err.find("process_tag_early"), std::string::npos);
    EXPECT_EQ(leaves.size(), 2u);
}

TEST_F(Walk, EndTagTraceNotAboveLevelTwo)
{
    verbose_level = 3;
    const std::string err = stderr_of([&] { ASSERT_EQ(walk("<r><a>t</a></r>", "<r/>"), 0); });
    EXPECT_NE(err.find("processNode: XML_TEXT_NODE\n"), std::string::npos);
    EXPECT_EQ(err.find("XML_ELEMENT_DECL"), std::string::npos);
}

// A step that does not fit fails the walk; the leaf never reaches the
// callback under its parent's path.
TEST_F(Walk, StepThatDoesNotFitFailsTheWalk)
{
    const std::string value(1500, 'v');
    const std::string doc = "<r><a k='" + value + "'>t</a></r>";
    const std::string err = stderr_of([&] { EXPECT_EQ(walk(doc, doc), 1); });
    EXPECT_TRUE(leaves.empty());
    EXPECT_NE(err.find("find_and_add_xpath_to_map: ###Error the step of element a does not fit after a path of 5 "
                       "bytes\n"),
              std::string::npos)
        << err;
}

}  // namespace
