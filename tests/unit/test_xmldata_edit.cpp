// The document store's editing operations: the document they leave and
// the diagnostic records they write, in order.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <libxml/parser.h>

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
const std::string kBody = std::string(kConfig).substr(22);

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
        ASSERT_EQ(xml_read_memory(state, text), 0);
        debug_reset();
    }
    std::string body() { return doc_body(state); }

    XmlState *state = nullptr;
};

TEST_F(Edit, SetValueStoresMarkupLiterallyInTheFirstMatch)
{
    EXPECT_EQ(xml_set_node_value(state, "/config/wifi/ssid", "a&b<c>\"d'", 9), 0);
    EXPECT_EQ(xml_set_node_value(state, "/config/item/@kind", "&amp;", 5), 0);
    EXPECT_EQ(xml_set_node_value(state, "/config/item", nullptr, 0), 0);
    EXPECT_EQ(body(), "<config>\n  <wifi><ssid>a&amp;b&lt;c&gt;\"d'</ssid><ssid>Guest</ssid></wifi>\n"
                      "  <item kind=\"&amp;amp;\"/>\n</config>\n");
    EXPECT_EQ(xml_set_node_value(state, "/config/wifi", "flat", 4), 0);
    EXPECT_NE(body().find("<wifi>flat</wifi>"), std::string::npos) << "children are replaced";
    EXPECT_TRUE(store_records().empty());

    load(kConfig);
    EXPECT_EQ(xml_set_node_value(state, "/config/lan", "x", 1), -1);
    EXPECT_EQ(xml_set_node_value(state, "/config[", "x", 1), -1);
    EXPECT_EQ(store_records(), (Texts{rec("Unable to set node value for /config/lan"),
                                      rec("Error: unable to evaluate xpath expression \"/config[\""),
                                      rec("Unable to set node value for /config[")}));
    EXPECT_EQ(body(), kBody);
}

TEST_F(Edit, DeleteTakesTheFirstMatchInsertAppendsWithoutWhitespace)
{
    EXPECT_EQ(xml_delete_node(state, "/config/wifi/ssid"), 0);
    EXPECT_EQ(xml_delete_node(state, "/config/item/@kind"), 0);
    EXPECT_EQ(xml_insert_node(state, "/config", "lan"), 0);
    EXPECT_EQ(body(), "<config>\n  <wifi><ssid>Guest</ssid></wifi>\n  <item>base</item>\n<lan/></config>\n");
    EXPECT_TRUE(store_records().empty());

    // The document node stays with its handle.
    EXPECT_EQ(xml_delete_node(state, "/config/wifi/x"), -1);
    EXPECT_EQ(xml_delete_node(state, "/"), -1);
    EXPECT_EQ(xml_insert_node(state, "/config/lan/x", "y"), -1);
    EXPECT_EQ(store_records(), (Texts{rec("Unable to delete node at /config/wifi/x"), rec("Unable to delete node at /"),
                                      rec("Unable to insert node for y at /config/lan/x")}));
    EXPECT_NE(body().find("<item>base</item>"), std::string::npos);
}

TEST_F(Edit, InsertWithAttrReadsTheStepForms)
{
    load("<config/>");
    for (const char *step : {"plain", "apn[@id='1' and @type='default']", "apn[@id='1'][@type='default']", "pos[3]",
                             "apn[@id='2'][4]", "e[@v='']",
                             // Text between '=' and the apostrophe is skipped; the value is raw.
                             "s[@a= 'x&y<z' trailing]",
                             // The literals the walk writes for values with quotes.
                             "q[@v=\"it's\"]", "q[@v=concat('say \"it',\"'\",'s\"') and @w='1'][2]",
                             "q[@v=concat( \"'\" , 'x' )]"})
        EXPECT_EQ(xml_insert_node_with_attr(state, "/config", step), 0) << step;
    EXPECT_TRUE(store_records().empty());
    EXPECT_EQ(body(),
              "<config><plain/><apn id=\"1\" type=\"default\"/><apn id=\"1\" type=\"default\"/><pos/>"
              "<apn id=\"2\"/><e v=\"\"/><s a=\"x&amp;y&lt;z\"/><q v=\"it's\"/><q v=\"say &quot;it's&quot;\" w=\"1\"/>"
              "<q v=\"'x\"/></config>\n");
}

TEST_F(Edit, InsertWithAttrRefusesMalformedStepsWithOneRecord)
{
    const std::string syntax = "Inavlid attribute syntax", name = "Invalid element name";
    const struct {
        const char *step;
        const std::string &record;
    } bad[] = {
        {"apn[@id]", syntax},                   // no '='
        {"apn[@id=1]", syntax},                 // no apostrophes
        {"apn[@id='1]", syntax},                // no closing apostrophe
        {"apn[@id='1' and @type]", syntax},     // a later test breaks
        {"apn[@id='1' and @type='x]", syntax},  // a later test without its closing apostrophe
        {"apn[@id='1']@", syntax},              // a stray '@' after the last test
        {"apn[@id=\"1]", syntax},               // no closing double quote
        {"apn[@id=concat('1']", syntax},        // concat() not closed
        {"apn[@id=concat('1' x)]", syntax},     // no ',' between its pieces
        {"apn[@id=concat()]", syntax},          // no piece at all
        // What would be saved as a file that no parser reads back.
        {"apn[@id='1' and @id='2']", syntax},   // an attribute twice
        {"apn[@a b='1']", syntax},              // no XML names
        {"apn[@1='1']", syntax},
        {"a b><evil/", name},
        {"1apn[@id='1']", name},
        {"", name},
    };
    for (const auto &b : bad) {
        debug_reset();
        EXPECT_EQ(xml_insert_node_with_attr(state, "/config/wifi", b.step), -1) << b.step;
        EXPECT_EQ(store_records(),
                  Texts{rec("xml_insert_node_with_attr: +Error " + b.record + ": xparent=/config/wifi, nodename=" + b.step)});
    }
    EXPECT_EQ(body(), kBody);
}

TEST_F(Edit, InsertWithAttrParentFailures)
{
    EXPECT_EQ(xml_insert_node_with_attr(state, "/config/lan", "x[@a='1']"), -1);
    EXPECT_EQ(xml_insert_node_with_attr(state, "/config[", "x"), -1);
    EXPECT_EQ(store_records(),
              (Texts{rec("xml_insert_node_with_attr: +Error - pNodeSet and nodeTab doesn't exists,xparent:/config/lan"),
                     rec("Unable to insert node with attribute x[@a='1'] for /config/lan"),
                     rec("+Error: unable to evaluate xpath expression \"/config[\""),
                     rec("Unable to insert node with attribute x for /config[")}));
    EXPECT_EQ(body(), kBody);
}

TEST_F(Edit, CreatePathPlain)
{
    EXPECT_EQ(xml_create_node_path_if_possible(state, "/config/lan/dhcp/start"), 0);
    // An existing path gets one more element of the last step's name.
    EXPECT_EQ(xml_create_node_path_if_possible(state, "/config/item"), 0);
    EXPECT_TRUE(store_records().empty());
    EXPECT_EQ(body(), kBody.substr(0, kBody.size() - 10) + "<lan><dhcp><start/></dhcp></lan><item/></config>\n");

    for (const char *path : {"/config/item[2]/x", "/config/@a", "config", static_cast<const char *>(nullptr)}) {
        debug_reset();
        EXPECT_EQ(xml_create_node_path_if_possible(state, path), -1);
        EXPECT_EQ(store_records(), Texts{rec(std::string("Unable to create node path for ") +
                                             (path ? path : "(null)"))});
    }
}

TEST_F(Edit, CreatePathWithAttrBuildsMissingAncestorsTopDown)
{
    load("<?xml version=\"1.0\"?>\n<config/>\n");
    EXPECT_EQ(xml_create_node_path_if_possible_with_attr(state, "/config[1]/apn[@id='2' and @t='v'][1]/host[1]"), 0);
    // One past the existing count as the next-to-last step: the nested
    // creation appends the element that the position then selects.
    EXPECT_EQ(xml_create_node_path_if_possible_with_attr(state, "/config[1]/apn[@id='2' and @t='v'][2]/port[1]"), 0);
    // Steps are cut only outside predicates and literals: values may hold
    // '/', brackets, the other quote and " and ", in a missing ancestor too.
    EXPECT_EQ(xml_create_node_path_if_possible_with_attr(
                  state, "/config[1]/c[@p='HTTP/1.1 and /x]'][1]/b[@q=\"a['/']\" and @r='b\"/[c'][1]"), 0);
    EXPECT_TRUE(store_records().empty());
    EXPECT_EQ(body(), "<config><apn id=\"2\" t=\"v\"><host/></apn><apn id=\"2\" t=\"v\"><port/></apn>"
                      "<c p=\"HTTP/1.1 and /x]\"><b q=\"a['/']\" r=\"b&quot;/[c\"/></c></config>\n");
    EXPECT_EQ(xml_path_parent_len("/a[1]/b[@y='HTTP/1.1'][1]"), 5);
    EXPECT_EQ(xml_path_step_len("b[@y='/'][1]/c"), 12u);
    EXPECT_EQ(xml_path_parent_len("config"), -1);
}

// Failed creations: the status, the number of records (the chain of
// calls that failed, each with its own), and the document left.
TEST_F(Edit, CreatePathFailures)
{
    const std::string failed = "xml_create_node_path_if_possible_with_attr: ++Error "
                               "xml_create_node_path_if_possible_with_attr failed xpath=";
    const struct {
        bool attr;
        const char *path;
        int rc;
        size_t records;
        std::string last;
    } rows[] = {
        // The first step is not the root: the plain chain ends at the empty path.
        {false, "/other/x", 0, 4, "Unable to insert node for x at /other"},
        {true, "/other[1]/a[@k='1'][1]/b[1]", -1, 4, failed + "/other[1]/a[@k='1'][1]/b[1], base=/other[1]/a[@k='1'][1]"},
        {true, nullptr, -1, 1, "Unable to create node (null)"},
    };
    for (const auto &r : rows) {
        SCOPED_TRACE(r.path ? r.path : "(null)");
        debug_reset();
        EXPECT_EQ(r.attr ? xml_create_node_path_if_possible_with_attr(state, r.path)
                         : xml_create_node_path_if_possible(state, r.path), r.rc);
        const auto records = store_records();
        EXPECT_EQ(records.size(), r.records);
        EXPECT_EQ(records.back(), rec(r.last));
        EXPECT_EQ(body(), kBody);
    }
    // Two past the count: the ancestor is made, the leaf is not.
    debug_reset();
    EXPECT_EQ(xml_create_node_path_if_possible_with_attr(state, "/config[1]/wifi[1]/ssid[4]/x"), -1);
    EXPECT_EQ(store_records().back(), rec("Unable to create node /config[1]/wifi[1]/ssid[4]/x"));
    EXPECT_NE(body().find("<ssid>Guest</ssid><ssid/></wifi>"), std::string::npos) << body();
}

// Both creations recurse once per step: a path of 20,000 missing steps is
// refused at once with the usual record (its text is cut by the log).
TEST_F(Edit, CreatePathRefusesMoreStepsThanAnyPathOfTheTool)
{
    std::string deep = "/config";
    for (int i = 0; i < 20000; i++)
        deep += "/a";
    EXPECT_EQ(xml_create_node_path_if_possible(state, deep.c_str()), -1);
    EXPECT_EQ(xml_create_node_path_if_possible_with_attr(state, deep.c_str()), -1);
    const Texts got = store_records();
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0].rfind(rec("Unable to create node path for /config/a/a/"), 0), 0u);
    EXPECT_EQ(got[1].rfind(rec("Unable to create node /config/a/a/"), 0), 0u);
    EXPECT_EQ(body(), kBody);
}

// Paths read in another file's bindings: the first binding of a prefix
// wins, and created elements and attributes take the binding in scope or
// declare their own.
TEST_F(Edit, PathNamespacesBindAndCreate)
{
    load("<c xmlns=\"urn:d\" xmlns:q=\"urn:q\"><a/></c>");
    EXPECT_EQ(xml_set_path_namespace(state, nullptr, "urn:d"), 0);
    EXPECT_EQ(xml_set_path_namespace(state, "", "urn:other"), 1);
    EXPECT_EQ(xml_set_path_namespace(state, "p", "urn:q"), 0);
    EXPECT_EQ(xml_set_path_namespace(state, "p", "urn:q"), 0);
    EXPECT_EQ(xml_set_path_namespace(state, "p", "urn:z"), 1);
    EXPECT_EQ(xml_set_path_namespace(state, "e", "urn:e"), 0);
    EXPECT_EQ(xml_set_path_namespace(state, "xml", "urn:not-xml"), 1);
    EXPECT_EQ(xml_set_path_namespace(state, "a:b", "urn:x"), -1);
    EXPECT_EQ(xml_set_path_namespace(state, "p", nullptr), -1);

    EXPECT_EQ(xml_is_nodeset_exists(state, "/c/a"), 0) << "unprefixed: the default namespace";
    EXPECT_EQ(xml_create_node_path_if_possible_with_attr(state, "/c/a/p:b[@p:k='1' and @xml:lang='en']"), 0);
    EXPECT_EQ(xml_create_node_path_if_possible_with_attr(state, "/c/e:f[@e:g='2']"), 0);
    EXPECT_EQ(xml_create_node_path_if_possible_with_attr(state, "/c/h[namespace-uri()='']/i[namespace-uri()='']"), 0);
    EXPECT_EQ(xml_create_node_path_if_possible_with_attr(state, "/c/h[namespace-uri()=''][1]/j"), 0);
    EXPECT_EQ(body(), "<c xmlns=\"urn:d\" xmlns:q=\"urn:q\"><a><q:b q:k=\"1\" xml:lang=\"en\"/></a>"
                      "<e:f xmlns:e=\"urn:e\" e:g=\"2\"/><h xmlns=\"\"><i/><j xmlns=\"urn:d\"/></h></c>\n");
}

}  // namespace
