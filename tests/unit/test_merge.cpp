// Node placement of the merge, called directly: the rewritten walk path,
// its count and the output document.  The console lines of whole runs are
// pinned by the merge-* command-line cases.
#include <gtest/gtest.h>

#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <string>
#include <vector>

#include "doc_text.h"
#include "run_state.h"
#include "../../merge/content_list.h"
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

// The sequence merge of lists matched by content, on classes alone.
namespace content {

// The matches of a against b, checked to be a common subsequence.
int matched(const std::vector<int> &a, const std::vector<int> &b, std::vector<int> *m)
{
    m->assign(a.size(), -2);
    content_match(a.data(), (int)a.size(), b.data(), (int)b.size(), m->data());
    int count = 0, last = -1;
    for (size_t i = 0; i < a.size(); i++) {
        int j = (*m)[i];
        EXPECT_GE(j, -1);
        if (j < 0)
            continue;
        EXPECT_GT(j, last);
        EXPECT_EQ(a[i], b[(size_t)j]);
        last = j;
        count++;
    }
    return count;
}

int lcs(const std::vector<int> &a, const std::vector<int> &b)
{
    std::vector<std::vector<int>> t(a.size() + 1, std::vector<int>(b.size() + 1, 0));
    for (size_t i = 1; i <= a.size(); i++)
        for (size_t j = 1; j <= b.size(); j++)
            t[i][j] = a[i - 1] == b[j - 1] ? t[i - 1][j - 1] + 1 : std::max(t[i - 1][j], t[i][j - 1]);
    return t[a.size()][b.size()];
}

}  // namespace content

// Empty, equal, disjoint and repetitive sequences, and random ones, whose
// matches must be as long as a longest common subsequence.
TEST(ContentList, MatchesAreALongestCommonSubsequence)
{
    std::vector<int> m;
    const std::vector<std::vector<int>> seqs = {
        {}, {1}, {1, 2, 3}, {4, 5, 6}, {1, 1, 1, 1}, {1, 2, 1, 2, 1}, {2, 1, 2}, {3, 2, 1},
    };
    for (const auto &a : seqs)
        for (const auto &b : seqs)
            EXPECT_EQ(content::matched(a, b, &m), content::lcs(a, b));
    unsigned seed = 7;
    for (int round = 0; round < 300; round++) {
        std::vector<int> a, b;
        for (int i = 0, n = (int)(seed % 23); i < n; i++, seed = seed * 1103515245u + 12345u)
            a.push_back((int)(seed >> 16) % 4);
        for (int i = 0, n = (int)(seed % 19); i < n; i++, seed = seed * 1103515245u + 12345u)
            b.push_back((int)(seed >> 16) % 4);
        ASSERT_EQ(content::matched(a, b, &m), content::lcs(a, b)) << round;
    }
}

// Stretches cover the three sequences in order; an append by D next to a
// move by N is a both-sides stretch after the anchors.
TEST(ContentList, StretchesBetweenAnchors)
{
    auto kinds = [](const std::vector<int> &o, const std::vector<int> &n, const std::vector<int> &d) {
        std::vector<int> on(o.size()), od(o.size());
        std::vector<Stretch> s;
        std::string out;
        content_match(o.data(), (int)o.size(), n.data(), (int)n.size(), on.data());
        content_match(o.data(), (int)o.size(), d.data(), (int)d.size(), od.data());
        content_stretches(o.data(), (int)o.size(), n.data(), (int)n.size(), d.data(), (int)d.size(), on.data(),
                          od.data(), &s);
        int io = 0, in = 0, id = 0;
        for (const Stretch &t : s) {
            EXPECT_TRUE(t.o == io && t.n == in && t.d == id);
            io += t.o_len, in += t.n_len, id += t.d_len;
            out += "ARDSB"[t.kind];
        }
        EXPECT_TRUE(io == (int)o.size() && in == (int)n.size() && id == (int)d.size());
        return out;
    };
    EXPECT_EQ(kinds({}, {}, {}), "");
    EXPECT_EQ(kinds({1, 2}, {1, 2}, {1, 2}), "A");
    EXPECT_EQ(kinds({}, {1}, {2}), "B");
    EXPECT_EQ(kinds({}, {1}, {1}), "S");
    EXPECT_EQ(kinds({1, 2, 3}, {3, 1, 2}, {1, 2, 3, 9}), "RAB");
    EXPECT_EQ(kinds({1, 2}, {5, 1, 2}, {1, 7, 2}), "RADA");
    EXPECT_EQ(kinds({1, 2}, {3, 4}, {1, 2}), "R");
}
