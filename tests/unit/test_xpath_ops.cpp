// The cross merge's XPath value layer and strip_quotes: buffer limits,
// refused inputs and failed counts, node names.  Escaping, ancestor creation,
// entry counts and the trace lines of whole runs are pinned by the cross-*
// command-line cases.
#include <gtest/gtest.h>

#include <string.h>

#include <string>

#include <libxml/parser.h>
#include <libxml/tree.h>

#include "doc_text.h"
#include "run_state.h"
#include "../../crossmerge/crossmerge.h"
#include "../../crossmerge/xpath_ops.h"
#include "xmldata.h"

namespace {

const char kDoc[] =
    "<?xml version=\"1.0\"?>\n"
    "<config>\n"
    "  <name>0123456789</name>\n"
    "  <empty/>\n"
    "  <ssid>first</ssid>\n"
    "  <ssid>second</ssid>\n"
    "  <wlan mode=\"open\"><ap>Default<sub>x</sub></ap></wlan>\n"
    "</config>\n";

class XpathOps : public ::testing::Test {
protected:
    void SetUp() override
    {
        reset_run_state();
        state = load_doc(kDoc);
    }
    void TearDown() override { xml_fini(state); }

    // The text an XPath reads back, or "<failed>".
    std::string read(const char *xpath)
    {
        char buf[256];
        int rc = -1;
        stderr_of([&] { rc = xpath_read_value(state, xpath, buf, sizeof(buf)); });
        return rc == 0 ? std::string(buf) : "<failed>";
    }

    XmlState *state = nullptr;
};

// The refusal's message is pinned by the command-line case cross-limits.
TEST_F(XpathOps, ReadFitsOnlyWithRoomForTheTerminator)
{
    char buf[16];

    memset(buf, '#', sizeof(buf));
    stderr_of([&] {
        EXPECT_EQ(xpath_read_value(state, "/config/name", buf, 10), -1);
        for (char c : buf)
            EXPECT_EQ(c, '#') << "a refused read leaves the buffer untouched";
        EXPECT_EQ(xpath_read_value(state, "/config/name", buf, 11), 0);
    });
    EXPECT_STREQ(buf, "0123456789");

    const char *const rows[][2] = {{"/config/ssid", "first"},      {"/config/empty", ""},
                                   {"/config/wlan/@mode", "open"}, {"/config/wlan/ap", "Defaultx"},
                                   {"/config/none", "<failed>"}};
    for (const auto &r : rows)
        EXPECT_EQ(read(r[0]), r[1]) << r[0];
    EXPECT_EQ(xml_lib_error, 0);
}

TEST_F(XpathOps, RefusedInputs)
{
    char buf[8] = "";
    int count = -7;
    const std::string err = stderr_of([&] {
        EXPECT_EQ(xpath_do_operation(5, state, "/config/name", nullptr, 4), -1);
        EXPECT_EQ(xpath_do_operation(RD, nullptr, "/config/name", buf, 8), -1);
        EXPECT_EQ(xpath_do_operation(RD, state, "", buf, 8), -1);
        EXPECT_EQ(xpath_write_value(state, "/config/name", "new", 0), -1);
        // A value that is no node set selects nothing; a failed count is 0.
        EXPECT_EQ(xpath_read_value(state, "count(/config)", buf, 8), -1);
        EXPECT_EQ(xpath_get_node_count(state, "count(/config)", &count), -1);
        // Creation under a predicate or an attribute is refused by the case
        // cross-all-writes-fail; these paths no command line passes.
        EXPECT_EQ(xpath_create_node_path(state, "config"), -1);
        EXPECT_EQ(xpath_create_node_path(state, nullptr), -1);
    });
    EXPECT_EQ(count, 0);
    EXPECT_NE(err.find("xpath_do_operation: ###Error opr=[5] Null parameters\n"), std::string::npos) << err;
    EXPECT_EQ(doc_text(state), kDoc);

    // An empty handle holds no document.
    XmlState *empty = xml_init();
    count = -7;
    stderr_of([&] {
        EXPECT_EQ(xpath_read_value(empty, "/config/name", buf, 8), -1);
        EXPECT_EQ(xpath_get_node_count(empty, "/config", &count), -1);
    });
    EXPECT_EQ(count, -7);
    xml_fini(empty);
}

// Names that would make the saved document unreadable are refused; blanks
// after a name end up inside the tag, where they are allowed.
TEST_F(XpathOps, InsertNodeOnlyBelowAnElementAndOnlySavableNames)
{
    stderr_of([&] {
        EXPECT_EQ(xpath_insert_node(state, "/config/none", "x"), -1);
        EXPECT_EQ(xpath_insert_node(state, "/config/name/text()", "x"), -1);
        for (const char *name : {"", "a b", "1x", " x", "a<b"})
            EXPECT_EQ(xpath_insert_node(state, "/config/empty", name), -1) << name;
        EXPECT_EQ(xpath_insert_node(state, "/config/empty", "x"), 0);
        EXPECT_EQ(xpath_insert_node(state, "/config/empty", "x\n  "), 0);
    });

    const std::string text = doc_text(state);
    EXPECT_NE(text.find("<empty><x/><x"), std::string::npos) << text;
    xmlDocPtr again = xmlReadMemory(text.c_str(), (int)text.size(), nullptr, nullptr, 0);
    ASSERT_NE(again, nullptr);
    xmlFreeDoc(again);
    EXPECT_EQ(xml_lib_error, 0);
}

std::string stripped(const char *text, size_t size = 255)
{
    char buf[255];

    memset(buf, 0, sizeof(buf));
    snprintf(buf, sizeof(buf), "%s", text);
    strip_quotes(buf, size);
    return buf;
}

TEST(StripQuotes, OneQuoteAtEachEndIndependently)
{
    const char *const rows[][2] = {
        {"\"/a/b\"", "/a/b"}, {"/a/b\"", "/a/b"}, {"\"", ""}, {"\"\"", ""}, {"\"\"/a\"\"", "\"/a\""},
        {"/a[@n='x\"y']", "/a[@n='x\"y']"}, {" \"/a\" ", " \"/a\" "},
    };
    for (const auto &r : rows)
        EXPECT_EQ(stripped(r[0]), r[1]) << r[0];
    // A text that fills its buffer loses its leading quote whole.
    EXPECT_EQ(stripped(("\"" + std::string(253, 'a')).c_str()), std::string(253, 'a'));
    EXPECT_EQ(stripped("\"/ab", 5), "/ab");
    EXPECT_EQ(stripped("\"/abc\"", 3), "\"/abc\"") << "a text without its end in size is left alone";
}

}  // namespace
