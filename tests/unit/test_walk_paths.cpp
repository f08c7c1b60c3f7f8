// Path surgery and attribute matching of the walk, called directly.
#include <gtest/gtest.h>

#include <string.h>

#include <map>
#include <unordered_map>
#include <string>

#include "run_state.h"

namespace {

class Paths : public ::testing::Test {
protected:
    void SetUp() override { reset_run_state(); }
    void TearDown() override { xml_fini(doc); }
    // The first element that xpath selects in a document read from text.
    xmlNodePtr node(const char *text, const char *xpath)
    {
        xml_fini(doc);
        doc = load_doc(text);
        xmlXPathObjectPtr res = xmlXPathEvalExpression(BAD_CAST xpath, get_pCtxt(doc));
        xmlNodePtr n = res ? xmlXPathNodeSetItem(res->nodesetval, 0) : nullptr;
        EXPECT_NE(n, nullptr) << xpath << " selects nothing";
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
    EXPECT_EQ(cut("/c[1]/a[@v=\"x/]'[y\"][1]"), "/c[1]");
    EXPECT_EQ(cut("/c[1]/a[@v=concat('/]\"',\"'\",'[/')][1]"), "/c[1]");
    EXPECT_EQ(cut("/c[1]/a[@v='x]/y'][1]"), "/c[1]");
    EXPECT_EQ(cut("/config"), "");
    EXPECT_EQ(cut("/config[1]"), "");
    EXPECT_EQ(cut("config"), "");
    EXPECT_EQ(cut(""), "");
}

std::string looked_up(const char *path)
{
    char buf[LOOKUP_BUF_SIZE];
    return lookup_path(path, buf);
}

// Each step below the root asks for exactly its attributes; the steps kept
// from the path before must not leak into the next one, whatever the order.
TEST_F(Paths, LookupAsksForExactlyTheStepsAttributes)
{
    const std::string bare = "[not(@*[name()!='PRI'])]";
    const std::string one = " and count(@*[name()!='PRI'])=1]";
    const struct {
        const char *path;
        std::string want;
    } rows[] = {
        {"/r[@v='1'][1]/c[2]", "/r[@v='1'][1]/c" + bare + "[2]"},
        {"/r[@v='1'][1]/c", "/r[@v='1'][1]/c" + bare},
        {"/r[@v='1'][1]/c[1]", "/r[@v='1'][1]/c" + bare + "[1]"},
        {"/r[@v='1'][1]/c[@f='x'][3]/a", "/r[@v='1'][1]/c[@f='x'" + one + "[3]/a" + bare},
        {"/r[@v='1'][1]/c[@f='x'][3]/a[1]", "/r[@v='1'][1]/c[@f='x'" + one + "[3]/a" + bare + "[1]"},
        {"/r[1]/d[@a='/]@' and @b=concat('it',\"'\",'s')][1]",
         "/r[1]/d[@a='/]@' and @b=concat('it',\"'\",'s') and count(@*[name()!='PRI'])=2][1]"},
        {"/r[1]/c[@f='x'][@g='y'][1]", "/r[1]/c[@f='x'][@g='y'][1]"},
        {"/r[1]/c[2][1]", "/r[1]/c[2][1]"},
        {"/r", "/r"},
        {"r/c[1]", "r/c[1]"},
    };
    for (int pass = 0; pass < 2; pass++) {
        for (const auto &r : rows) {
            EXPECT_EQ(looked_up(r.path), r.want) << r.path;
            EXPECT_EQ(looked_up(r.path), r.want) << r.path << " again";
        }
    }
}

TEST_F(Paths, IncrementRaisesOnlyATrailingNumericIndex)
{
    // {in, out}: a path left as it was must also fail.
    const char *const rows[][2] = {
        {"/config[1]/wifi[9]", "/config[1]/wifi[10]"}, {"/config[1]/apn[@id='2'][1]", "/config[1]/apn[@id='2'][2]"},
        {"/a[099]", "/a[100]"}, {"/config[1]/apn[@id='2']", nullptr}, {"/config[1]/wifi", nullptr}, {"", nullptr},
        {"[5]", nullptr}, {"5]", nullptr}, {"/a[1x]", nullptr}, {"/a[-1]", nullptr},
    };
    char buf[XPATH_BUF_SIZE];
    for (const auto &r : rows) {
        snprintf(buf, sizeof(buf), "%s", r[0]);
        EXPECT_EQ(increment_xpath_index(buf, 0), r[1] ? 0 : -1) << r[0];
        EXPECT_STREQ(buf, r[1] ? r[1] : r[0]);
    }
    EXPECT_TRUE(mapXpath.empty()) << "nothing recorded without the flag";

    // With the flag the count follows; a new key counts from 0.
    mapXpath["/config[1]/wifi"] = 9;
    snprintf(buf, sizeof(buf), "/config[1]/wifi[9]");
    EXPECT_EQ(increment_xpath_index(buf, 1), 0);
    snprintf(buf, sizeof(buf), "/config[1]/lan[1]");
    EXPECT_EQ(increment_xpath_index(buf, 1), 0);
    EXPECT_EQ(mapXpath, (std::unordered_map<std::string, int>{{"/config[1]/wifi", 10}, {"/config[1]/lan", 1}}));
}

TEST_F(Paths, IndexedPathsReachButNeverPass1023)
{
    char step[XPATH_BUF_SIZE];
    char Xpath[XPATH_BUF_SIZE];
    char nXpath[XPATH_BUF_SIZE] = {0};

    node("<r/>", "/r");
    // 1015 + "/abc" + "[1]" = 1022 fits; from 1017 the index does not, and
    // from 1019 not even the step: the path stays as it was.
    const struct {
        size_t len;
        int rc;
        const char *tail;
    } rows[] = {{1015, 0, "/abc[1]"}, {1015, 0, "/abc[2]"}, {1016, 0, "/abc[1]"}, {1017, -1, ""}, {1019, -1, ""}};
    for (const auto &r : rows) {
        const size_t len = r.len;
        memset(Xpath, 'p', len);
        Xpath[0] = '/';
        Xpath[len] = '\0';
        snprintf(step, sizeof(step), "abc");
        const std::string err =
            stderr_of([&] { EXPECT_EQ(find_and_add_xpath_to_map(step, Xpath, nXpath, doc, BAD_CAST "abc"), r.rc); });
        EXPECT_STREQ(Xpath + len, r.tail) << len;
        EXPECT_EQ(err.find("###Error the step of element abc does not fit") != std::string::npos, r.rc != 0) << err;
    }

    // A raised index that does not fit leaves the path alone.
    memset(Xpath, 'p', XPATH_BUF_SIZE - 1);
    memcpy(Xpath + XPATH_BUF_SIZE - 4, "[9]", 4);
    EXPECT_EQ(increment_xpath_index(Xpath, 1), -2);
    EXPECT_EQ(strlen(Xpath), 1023u);
    EXPECT_STREQ(Xpath + XPATH_BUF_SIZE - 4, "[9]");
}

TEST_F(Paths, MatchingRuleComparesNamesAndIgnoresPri)
{
    struct Row {
        const char *element;
        std::map<std::string, std::string> walked;
        int rc;
    };
    const Row rows[] = {
        {"<a/>", {}, 0},
        {"<a PRI='1'/>", {}, 0},
        {"<a PRI='1' id='1'/>", {}, -1},
        {"<a id='9' PRI='0'/>", {{"id", "1"}}, 0},            // names are compared, not values
        {"<a id='1' mode='x' type='x'/>", {{"id", "1"}, {"type", "x"}}, -1},
        {"<a id='1'/>", {{"id", "1"}, {"type", "x"}}, 0},     // only the node's names are looked up
    };
    for (const Row &r : rows) {
        mapAttr = r.walked;
        xmlNodePtr a = node(("<r>" + std::string(r.element) + "</r>").c_str(), "/r/a");
        ASSERT_NE(a, nullptr);
        stderr_of([&] { EXPECT_EQ(match_node_attributes(a->properties), r.rc) << r.element; });
    }
    mapAttr = {{"id", "1"}};
    EXPECT_EQ(stderr_of([] { EXPECT_EQ(match_node_attributes(nullptr), -1); }),
              "match_node_attributes: Attributes mismatch pAttr:(nil), mapAttr.size:1\n");
}

TEST_F(Paths, CompareStartsAtThePriorCount)
{
    node("<r><a/><a PRI='1'/><a x='1'/></r>", "/r");
    stderr_of([&] {
        EXPECT_EQ(xpath_compare_attr(doc, "/r/a", 0), 0);
        EXPECT_EQ(xpath_compare_attr(doc, "/r/a", 1), 0) << "a PRI-only node matches a plain element";
        EXPECT_EQ(xpath_compare_attr(doc, "/r/a", 2), -1) << "the third carries an extra attribute";
    });

    // At or past the end of the node set the rule is never applied.
    mapAttr["x"] = "1";
    EXPECT_EQ(stderr_of([&] {
                  EXPECT_EQ(xpath_compare_attr(doc, "/r/a", 3), -1);
                  EXPECT_EQ(xpath_compare_attr(doc, "/r/b", 0), -1);
              }),
              "");
}

}  // namespace
