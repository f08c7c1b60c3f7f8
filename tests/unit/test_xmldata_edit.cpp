// The document store's editing operations: the document they leave and
// the diagnostic records they write, in order.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <string>
#include <vector>

#include <libxml/parser.h>
#include <libxml/tree.h>

#include "doc_text.h"
#include "recording_debug.h"
#include "xmldata.h"

namespace {

using Texts = std::vector<std::string>;

const char *const kConfig =
    "<?xml version=\"1.0\"?>\n"
    "<config>\n"
    "  <wifi><ssid>Home</ssid><ssid>Guest</ssid></wifi>\n"
    "  <item kind=\"x\">base</item>\n"
    "</config>\n";

void silent(void *, const char *, ...) {}

class Edit : public ::testing::Test {
protected:
    void SetUp() override
    {
        xmlGenericErrorFunc handler = silent;
        initGenericErrorDefaultFunc(&handler);
        load(kConfig);
    }
    void TearDown() override { xml_fini(state); }

    void load(const char *text)
    {
        if (state)
            xml_fini(state);
        state = xml_init();
        ASSERT_NE(state, nullptr);
        ASSERT_EQ(xml_read_memory(state, text), 0);
        debug_reset();
    }

    // The document as xml_save_document would write it.
    std::string dump() { return doc_text(state); }

    // Only the root element's serialisation, which keeps expectations short.
    std::string body()
    {
        std::string s = dump();
        return s.substr(s.find('\n') + 1);
    }

    std::string value(const char *xpath)
    {
        char *out = nullptr;
        if (xml_copy_node_value(state, xpath, &out) != 0)
            return "<none>";
        std::string s(out);
        free(out);
        return s;
    }

    XmlState *state = nullptr;
};

// Every record went to the system log and then to the module log, with the
// same text; returns the texts in order.
Texts records()
{
    Texts texts;
    const auto &c = debug_calls();
    for (size_t i = 0; i < c.size(); i++) {
        if (c[i].function != "log")
            continue;
        EXPECT_GE(i, 3u);
        if (i >= 3) {
            EXPECT_EQ(c[i - 2].function, "syslog") << c[i].text;
            EXPECT_EQ(c[i - 2].number, 138);
            EXPECT_EQ(c[i - 2].text, c[i].text);
        }
        EXPECT_EQ(c[i].module, "XMLDATA");
        EXPECT_EQ(c[i].number, 3);
        texts.push_back(c[i].text);
    }
    EXPECT_EQ(c.size(), 4 * texts.size());
    return texts;
}

std::string rec(const std::string &text)
{
    return "[XMLDATA]:[CRIT] - " + text;
}

TEST_F(Edit, SetValueStoresMarkupCharactersLiterally)
{
    EXPECT_EQ(xml_set_node_value(state, "/config/wifi/ssid", "a&b<c>\"d'", 9), 0);
    EXPECT_EQ(value("/config/wifi/ssid[1]"), "a&b<c>\"d'");
    EXPECT_EQ(value("/config/wifi/ssid[2]"), "Guest") << "only the first match changes";
    EXPECT_NE(dump().find("<ssid>a&amp;b&lt;c&gt;\"d'</ssid>"), std::string::npos) << dump();

    // Something that looks like a reference is text too, also non-ASCII.
    EXPECT_EQ(xml_set_node_value(state, "/config/item", "&amp; caf\xc3\xa9", 0), 0);
    EXPECT_EQ(value("/config/item"), "&amp; caf\xc3\xa9");

    // An attribute node takes the value the same way.
    EXPECT_EQ(xml_set_node_value(state, "/config/item/@kind", "y&z", 3), 0);
    EXPECT_EQ(value("/config/item/@kind"), "y&z");
    EXPECT_TRUE(records().empty());
}

TEST_F(Edit, SetNullValueEmptiesAndReplacesChildren)
{
    EXPECT_EQ(xml_set_node_value(state, "/config/item", nullptr, 0), 0);
    EXPECT_EQ(xml_set_node_value(state, "/config/wifi", "flat", 4), 0);
    EXPECT_EQ(body(), "<config>\n  <wifi>flat</wifi>\n  <item kind=\"x\"/>\n</config>\n");
    EXPECT_TRUE(records().empty());
}

TEST_F(Edit, SetValueFailures)
{
    EXPECT_EQ(xml_set_node_value(state, "/config/lan", "x", 1), -1);
    EXPECT_EQ(records(), Texts{rec("Unable to set node value for /config/lan")});

    debug_reset();
    EXPECT_EQ(xml_set_node_value(state, "/config[", "x", 1), -1);
    EXPECT_EQ(records(), (Texts{rec("Error: unable to evaluate xpath expression \"/config[\""),
                                rec("Unable to set node value for /config[")}));
    EXPECT_EQ(body(), std::string(kConfig).substr(22));
}

TEST_F(Edit, DeleteRemovesOnlyTheFirstMatch)
{
    EXPECT_EQ(xml_delete_node(state, "/config/wifi/ssid"), 0);
    EXPECT_EQ(body(), "<config>\n  <wifi><ssid>Guest</ssid></wifi>\n  <item kind=\"x\">base</item>\n</config>\n");
    EXPECT_EQ(xml_delete_node(state, "/config/item/@kind"), 0);
    EXPECT_EQ(xml_delete_node(state, "/config/wifi"), 0);
    EXPECT_EQ(body(), "<config>\n  \n  <item>base</item>\n</config>\n");
    EXPECT_TRUE(records().empty());

    EXPECT_EQ(xml_delete_node(state, "/config/wifi"), -1);
    EXPECT_EQ(records(), Texts{rec("Unable to delete node at /config/wifi")});

    // The document node stays with its handle.
    debug_reset();
    EXPECT_EQ(xml_delete_node(state, "/"), -1);
    EXPECT_EQ(records(), Texts{rec("Unable to delete node at /")});
    EXPECT_EQ(value("/config/item"), "base");
}

TEST_F(Edit, InsertNodeAppendsWithoutWhitespace)
{
    EXPECT_EQ(xml_insert_node(state, "/config/wifi", "band"), 0);
    EXPECT_EQ(xml_insert_node(state, "/config", "lan"), 0);
    EXPECT_EQ(body(),
              "<config>\n  <wifi><ssid>Home</ssid><ssid>Guest</ssid><band/></wifi>\n"
              "  <item kind=\"x\">base</item>\n<lan/></config>\n");
    EXPECT_TRUE(records().empty());

    EXPECT_EQ(xml_insert_node(state, "/config/lan/x", "y"), -1);
    EXPECT_EQ(records(), Texts{rec("Unable to insert node for y at /config/lan/x")});
}

TEST_F(Edit, InsertWithAttrReadsTheStepForms)
{
    load("<config/>");
    EXPECT_EQ(xml_insert_node_with_attr(state, "/config", "plain"), 0);
    EXPECT_EQ(xml_insert_node_with_attr(state, "/config", "apn[@id='1' and @type='default']"), 0);
    EXPECT_EQ(xml_insert_node_with_attr(state, "/config", "apn[@id='1'][@type='default']"), 0);
    EXPECT_EQ(xml_insert_node_with_attr(state, "/config", "pos[3]"), 0);
    EXPECT_EQ(xml_insert_node_with_attr(state, "/config", "apn[@id='2'][4]"), 0);
    EXPECT_EQ(xml_insert_node_with_attr(state, "/config", "e[@v='']"), 0);
    // Text between '=' and the apostrophe is skipped; the value is raw.
    EXPECT_EQ(xml_insert_node_with_attr(state, "/config", "s[@a= 'x&y<z' trailing]"), 0);
    EXPECT_TRUE(records().empty());
    EXPECT_EQ(body(),
              "<config><plain/><apn id=\"1\" type=\"default\"/><apn id=\"1\" type=\"default\"/><pos/>"
              "<apn id=\"2\"/><e v=\"\"/><s a=\"x&amp;y&lt;z\"/></config>\n");
}

TEST_F(Edit, InsertWithAttrRefusesMalformedStepsWithOneRecord)
{
    const std::string before = dump();
    const char *const bad[] = {
        "apn[@id]",                      // no '='
        "apn[@id=1]",                    // no apostrophes
        "apn[@id='1]",                   // no closing apostrophe
        "apn[@id='1' and @type]",        // a later test breaks
        "apn[@id='1' and @type='x]",     // a later test without its closing apostrophe
        "apn[@id='1']@",                 // a stray '@' after the last test
    };
    for (const char *step : bad) {
        debug_reset();
        EXPECT_EQ(xml_insert_node_with_attr(state, "/config/wifi", step), -1) << step;
        EXPECT_EQ(records(), Texts{rec(std::string("xml_insert_node_with_attr: +Error Inavlid attribute syntax: "
                                                   "xparent=/config/wifi, nodename=") +
                                       step)});
    }
    EXPECT_EQ(dump(), before);
}

TEST_F(Edit, InsertWithAttrParentFailures)
{
    EXPECT_EQ(xml_insert_node_with_attr(state, "/config/lan", "x[@a='1']"), -1);
    EXPECT_EQ(records(),
              (Texts{rec("xml_insert_node_with_attr: +Error - pNodeSet and nodeTab doesn't exists,xparent:/config/lan"),
                     rec("Unable to insert node with attribute x[@a='1'] for /config/lan")}));

    debug_reset();
    EXPECT_EQ(xml_insert_node_with_attr(state, "/config[", "x"), -1);
    EXPECT_EQ(records(), (Texts{rec("+Error: unable to evaluate xpath expression \"/config[\""),
                                rec("Unable to insert node with attribute x for /config[")}));

    // A value that is not a node set selects nothing.
    debug_reset();
    EXPECT_EQ(xml_insert_node_with_attr(state, "count(/config)", "x"), -1);
    EXPECT_EQ(records().size(), 2u);
    EXPECT_EQ(body(), std::string(kConfig).substr(22));
}

TEST_F(Edit, CreatePathPlain)
{
    EXPECT_EQ(xml_create_node_path_if_possible(state, "/config/lan/dhcp/start"), 0);
    EXPECT_TRUE(records().empty());
    // An existing path gets one more element of the last step's name.
    EXPECT_EQ(xml_create_node_path_if_possible(state, "/config/item"), 0);
    EXPECT_EQ(body(),
              "<config>\n  <wifi><ssid>Home</ssid><ssid>Guest</ssid></wifi>\n"
              "  <item kind=\"x\">base</item>\n<lan><dhcp><start/></dhcp></lan><item/></config>\n");

    for (const char *path : {"/config/item[2]/x", "/config/@a", "config"}) {
        debug_reset();
        EXPECT_EQ(xml_create_node_path_if_possible(state, path), -1);
        EXPECT_EQ(records(), Texts{rec(std::string("Unable to create node path for ") + path)});
    }
    debug_reset();
    EXPECT_EQ(xml_create_node_path_if_possible(state, nullptr), -1);
    EXPECT_EQ(records(), Texts{rec("Unable to create node path for (null)")});
}

TEST_F(Edit, CreatePathPlainSucceedsEvenWhenNothingCouldBeAdded)
{
    // The first step is not the root: the chain ends at the empty path.
    const std::string before = dump();
    EXPECT_EQ(xml_create_node_path_if_possible(state, "/other/x"), 0);
    EXPECT_EQ(records(), (Texts{rec("Unable to create node path for "),
                                rec("Error: unable to evaluate xpath expression \"\""),
                                rec("Unable to insert node for other at "),
                                rec("Unable to insert node for x at /other")}));
    EXPECT_EQ(dump(), before);
}

TEST_F(Edit, CreatePathWithAttrBuildsMissingAncestorsTopDown)
{
    load("<?xml version=\"1.0\"?>\n<config/>\n");
    EXPECT_EQ(xml_create_node_path_if_possible_with_attr(state, "/config[1]/apn[@id='2' and @t='v'][1]/host[1]"), 0);
    EXPECT_TRUE(records().empty());
    EXPECT_EQ(body(), "<config><apn id=\"2\" t=\"v\"><host/></apn></config>\n");

    // One past the existing count as the next-to-last step: the nested
    // creation appends the element that the position then selects.
    EXPECT_EQ(xml_create_node_path_if_possible_with_attr(state, "/config[1]/apn[@id='2' and @t='v'][2]/port[1]"), 0);
    EXPECT_TRUE(records().empty());
    EXPECT_EQ(body(),
              "<config><apn id=\"2\" t=\"v\"><host/></apn><apn id=\"2\" t=\"v\"><port/></apn></config>\n");
}

TEST_F(Edit, CreatePathWithAttrTwoPastTheCountKeepsTheAncestor)
{
    EXPECT_EQ(xml_create_node_path_if_possible_with_attr(state, "/config[1]/wifi[1]/ssid[4]/x"), -1);
    EXPECT_EQ(records(),
              (Texts{rec("xml_insert_node_with_attr: +Error - pNodeSet and nodeTab doesn't exists,"
                         "xparent:/config[1]/wifi[1]/ssid[4]"),
                     rec("Unable to insert node with attribute x for /config[1]/wifi[1]/ssid[4]"),
                     rec("Unable to create node /config[1]/wifi[1]/ssid[4]/x")}));
    // The ancestor created on the way stays.
    EXPECT_NE(dump().find("<ssid>Guest</ssid><ssid/></wifi>"), std::string::npos) << dump();
}

TEST_F(Edit, CreatePathWithAttrFirstStepNotRoot)
{
    const std::string before = dump();
    EXPECT_EQ(xml_create_node_path_if_possible_with_attr(state, "/other[1]/a[@k='1'][1]/b[1]"), -1);
    EXPECT_EQ(records(),
              (Texts{rec("Unable to create node "),
                     rec("xml_create_node_path_if_possible_with_attr: ++Error xml_create_node_path_if_possible_with_attr "
                         "failed xpath=/other[1], base="),
                     rec("xml_create_node_path_if_possible_with_attr: ++Error xml_create_node_path_if_possible_with_attr "
                         "failed xpath=/other[1]/a[@k='1'][1], base=/other[1]"),
                     rec("xml_create_node_path_if_possible_with_attr: ++Error xml_create_node_path_if_possible_with_attr "
                         "failed xpath=/other[1]/a[@k='1'][1]/b[1], base=/other[1]/a[@k='1'][1]")}));
    EXPECT_EQ(dump(), before);

    debug_reset();
    EXPECT_EQ(xml_create_node_path_if_possible_with_attr(state, nullptr), -1);
    EXPECT_EQ(records(), Texts{rec("Unable to create node (null)")});
}

TEST_F(Edit, CreatePathWithAttrSlashInsideAValue)
{
    // The split falls inside the predicate, so such an element cannot be
    // created by path; the malformed remainder is refused on the way.
    const std::string before = dump();
    EXPECT_EQ(xml_create_node_path_if_possible_with_attr(state, "/config[1]/url[@href='a/b'][1]"), -1);
    EXPECT_EQ(records(),
              (Texts{rec("xml_insert_node_with_attr: +Error Inavlid attribute syntax: xparent=/config[1], "
                         "nodename=url[@href='a"),
                     rec("Unable to create node /config[1]/url[@href='a"),
                     rec("xml_create_node_path_if_possible_with_attr: ++Error "
                         "xml_create_node_path_if_possible_with_attr failed xpath=/config[1]/url[@href='a/b'][1], "
                         "base=/config[1]/url[@href='a")}));
    EXPECT_EQ(dump(), before);
}

}  // namespace
