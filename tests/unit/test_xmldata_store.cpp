// The document store's handle, lifecycle and queries, with the diagnostic
// records they write.
#include <gtest/gtest.h>

#include <errno.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "doc_text.h"
#include "recording_debug.h"
#include "xmldata.h"
#include "xmldata_input.h"

namespace {

using Texts = std::vector<std::string>;

const std::string kStore = std::string(TEST_DATA_DIR) + "/store.xml";

class Store : public ::testing::Test {
protected:
    void SetUp() override
    {
        state = xml_init();
        ASSERT_NE(state, nullptr);
        ASSERT_EQ(xml_load_document(state, kStore.c_str()), 0);
        debug_reset();
    }
    void TearDown() override { xml_fini(state); }
    XmlState *state = nullptr;
};

TEST(StoreHandle, FailedLoadLeavesTheHandleEmptyAndUsable)
{
    EXPECT_EQ(xml_is_loaded(nullptr), 0);
    XmlState *s = xml_init();
    ASSERT_NE(s, nullptr);
    debug_reset();
    EXPECT_EQ(xml_load_document(s, "/nonexistent/missing.xml"), -1);
    EXPECT_EQ(store_records(), Texts{rec("Unable to parse file /nonexistent/missing.xml")});
    EXPECT_EQ(xml_is_loaded(s), 0);
    EXPECT_EQ(get_pDoc(s), nullptr);
    EXPECT_EQ(get_pCtxt(s), nullptr);

    EXPECT_EQ(xml_load_document(s, kStore.c_str()), 0);
    EXPECT_EQ(xml_is_loaded(s), 1);
    EXPECT_NE(get_pCtxt(s), nullptr);
    EXPECT_EQ(xml_fini(s), 0);
}

// A document whose root holds the given references to a 1 KiB entity e and
// a 512 KiB entity n (made of references to e), in its text and attributes.
std::string expanding(const std::string &text, const std::string &attr = "")
{
    std::string n;
    for (int i = 0; i < 512; i++)
        n += "&e;";
    return "<!DOCTYPE c [<!ENTITY e \"" + std::string(1024, 'x') + "\"><!ENTITY n \"" + n + "\">]>\n<c a=\"" + attr +
           "\">" + text + "</c>\n";
}

std::string repeat(const std::string &s, int times)
{
    std::string out;
    while (times-- > 0)
        out += s;
    return out;
}

// Inputs refused before or after parsing, each with its one record; up to
// 1 MiB of expanded text in all is allowed.
TEST(StoreHandle, LoadRefusesSpecialFilesAndFarExpandingEntities)
{
    const char *tmp = getenv("TMPDIR");
    std::string dir = std::string(tmp && *tmp ? tmp : "/tmp") + "/xmldata-load-XXXXXX";
    ASSERT_NE(mkdtemp(&dir[0]), nullptr);
    ASSERT_EQ(mkfifo((dir + "/fifo").c_str(), 0600), 0);
    const struct {
        std::string name;
        std::string text;   // written unless empty
        int fault;
    } rows[] = {
        {"fits.xml", expanding(repeat("&e;", 1024)), 0},
        {"nested-fits.xml", expanding("&n;&n;"), 0},
        {"over.xml", expanding(repeat("&e;", 1025)), XMLDATA_INPUT_EXPANDS},
        {"nested-over.xml", expanding("&n;&n;&e;"), XMLDATA_INPUT_EXPANDS},
        {"attr-over.xml", expanding("&n;", repeat("&e;", 600)), XMLDATA_INPUT_EXPANDS},
        {"fifo", "", XMLDATA_INPUT_NOT_REGULAR},
        {"", "", XMLDATA_INPUT_NOT_REGULAR},   // the folder itself
    };
    for (const auto &row : rows) {
        const std::string path = row.name.empty() ? dir : dir + "/" + row.name;
        if (!row.text.empty())
            write_file(path, row.text);
        XmlState *s = xml_init();
        debug_reset();
        EXPECT_EQ(xmldata_load_input(s, path.c_str()), row.fault) << path;
        EXPECT_EQ(xml_is_loaded(s), row.fault == 0 ? 1 : 0) << path;
        if (row.fault == XMLDATA_INPUT_EXPANDS)
            EXPECT_EQ(store_records(),
                      Texts{rec("Refusing " + path + ": entity references expand to more than 1048576 bytes")});
        else if (row.fault == XMLDATA_INPUT_NOT_REGULAR)
            EXPECT_EQ(store_records(), Texts{rec("Refusing " + path + ": not a regular file")});
        else
            EXPECT_TRUE(store_records().empty()) << path;
        xml_fini(s);
    }
    EXPECT_EQ(system(("rm -r '" + dir + "'").c_str()), 0);
}

TEST(StoreHandle, ReadMemoryRecordsOnlyWithErrno)
{
    XmlState *s = xml_init();
    debug_reset();
    errno = 0;
    EXPECT_EQ(xml_read_memory(s, "<a><b></a>"), -1);
    EXPECT_TRUE(debug_calls().empty());
    EXPECT_EQ(xml_is_loaded(s), 0);

    errno = ENOENT;
    EXPECT_EQ(xml_read_memory(s, "<a>"), -1);
    EXPECT_EQ(store_records(), Texts{rec(std::string("xml_read_memory: ") + strerror(ENOENT))});
    xml_fini(s);
}

TEST(StoreHandle, SaveKeepsLayoutAndReplacesTheFileWhole)
{
    char dir[] = "/tmp/xmldata-save-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    const std::string out = std::string(dir) + "/out.xml";

    XmlState *s = xml_init();
    debug_reset();
    EXPECT_EQ(xml_save_document(s, out.c_str()), -1);
    EXPECT_EQ(store_records(), Texts{rec("Unable to save to " + out)});
    EXPECT_NE(access(out.c_str(), F_OK), 0) << "an empty handle must create no file";

    ASSERT_EQ(xml_load_document(s, kStore.c_str()), 0);
    write_file(out, "previous content\n");
    chmod(out.c_str(), 0640);
    EXPECT_EQ(xml_save_document(s, out.c_str()), 0);
    EXPECT_EQ(read_file(out), read_file(kStore)) << "whitespace text nodes are kept";
    struct stat st;
    ASSERT_EQ(stat(out.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u) << "the replaced file keeps its mode";

    debug_reset();
    const std::string bad = std::string(dir) + "/no/such/dir/out.xml";
    EXPECT_EQ(xml_save_document(s, bad.c_str()), -1);
    EXPECT_EQ(store_records(), Texts{rec("Unable to save to " + bad)});
    xml_fini(s);

    // Nothing but the output is left in the folder.
    std::string cmd = std::string("test $(ls -A ") + dir + " | wc -l) -eq 1 && rm -r " + dir;
    EXPECT_EQ(system(cmd.c_str()), 0);
}

TEST_F(Store, ExistenceAndCount)
{
    int count = -7;

    EXPECT_EQ(xml_is_nodeset_exists(state, "/config/wifi/ssid"), 0);
    EXPECT_EQ(xml_copy_node_count(state, "/config/wifi/ssid", &count), 0);
    EXPECT_EQ(count, 2);
    EXPECT_EQ(xml_copy_node_count(state, "/config/lan", &count), 0);
    EXPECT_EQ(count, 0);
    EXPECT_TRUE(debug_calls().empty());

    EXPECT_EQ(xml_is_nodeset_exists(state, "/config/lan"), -1);
    // A value that is not a node set: only the operation's own record.
    count = -7;
    EXPECT_EQ(xml_copy_node_count(state, "count(/config/wifi/ssid)", &count), -1);
    EXPECT_EQ(count, -7);
    EXPECT_EQ(store_records(), (Texts{rec("Unable to check if node exists:/config/lan"),
                                      rec("Unable to get node count for count(/config/wifi/ssid)")}));
}

TEST_F(Store, BadExpressionGivesEvaluationRecordFirst)
{
    char buf[16] = "untouched";
    int count = -7;

    EXPECT_EQ(xml_is_nodeset_exists(state, "/config["), -1);
    EXPECT_EQ(store_records(), (Texts{rec("Error: unable to evaluate xpath expression \"/config[\""),
                                      rec("Unable to check if node exists:/config[")}));
    debug_reset();
    EXPECT_EQ(xml_copy_node_count(state, "/config[", &count), -1);
    EXPECT_EQ(store_records().at(1), rec("Unable to get node count for /config["));
    EXPECT_EQ(count, -7);

    // get_prop's records end in a line break; its buffer stays as it was.
    debug_reset();
    EXPECT_EQ(xml_get_prop(state, "/config[", "PRI", buf, sizeof(buf)), -1);
    EXPECT_EQ(xml_get_prop(state, "/config/admin", "PRI", buf, sizeof(buf)), -1);
    EXPECT_EQ(store_records(), (Texts{rec("Error: unable to evaluate xpath expression \"/config[\"\n"),
                                      rec("Unable to get property PRI for node:/config[\n"),
                                      rec("Unable to get property PRI for node:/config/admin\n")}));
    EXPECT_STREQ(buf, "untouched");
    EXPECT_EQ(xml_get_prop(state, "/config/*", "PRI", buf, sizeof(buf)), 0) << "the first match counts";
    EXPECT_STREQ(buf, "1");
}

TEST_F(Store, BufferRuleCutsAtBufSizeMinusOne)
{
    char buf[11];

    memset(buf, 'x', sizeof(buf));
    EXPECT_EQ(xml_get_node_value(state, "/config/admin/name", buf, 1), 0);
    EXPECT_EQ(buf[0], '\0');
    EXPECT_EQ(buf[1], 'x') << "nothing is written past buf_size";

    // Exactly buf_size bytes of text: the last one is lost.
    memset(buf, 'x', sizeof(buf));
    EXPECT_EQ(xml_get_node_value(state, "/config/admin/name", buf, 10), 0);
    EXPECT_STREQ(buf, "012345678");
    EXPECT_EQ(buf[10], 'x');

    EXPECT_EQ(xml_get_node_value(state, "/config/admin/name", buf, 11), 0);
    EXPECT_STREQ(buf, "0123456789");
    EXPECT_EQ(xml_get_node_value(state, "/config/admin/banner", buf, 11), 0);
    EXPECT_STREQ(buf, "a&b<c");
    EXPECT_EQ(xml_get_node_value(state, "/config/wifi/@band", buf, 11), 0);
    EXPECT_STREQ(buf, "dual");

    EXPECT_EQ(xml_get_node_value(state, "/config/lan", buf, 11), -1);
    EXPECT_EQ(store_records(), Texts{rec("Unable to get node value for /config/lan")});
}

TEST_F(Store, NodeNameOnlyForElementsAndOnlyToModuleLog)
{
    char buf[8];

    EXPECT_EQ(xml_get_node_name(state, "/config/admin/banner", buf, 4), 0);
    EXPECT_STREQ(buf, "ban");

    EXPECT_EQ(xml_get_node_name(state, "/config/wifi/@band", buf, sizeof(buf)), -1);
    EXPECT_EQ(xml_get_node_name(state, "/config/wifi/ssid/text()", buf, sizeof(buf)), -1);
    const auto &c = debug_calls();
    ASSERT_EQ(c.size(), 4u);
    EXPECT_EQ(c[0].function, "get_level_name");
    EXPECT_EQ(c[1].function, "log");
    EXPECT_EQ(c[1].text, rec("Unable to get node name for /config/wifi/@band"));
    EXPECT_EQ(c[3].text, rec("Unable to get node name for /config/wifi/ssid/text()"));
}

TEST_F(Store, CopyNodeValueHandsOutWholeText)
{
    char *out = nullptr;

    EXPECT_EQ(xml_copy_node_value(state, "/config/wifi/empty", &out), 0);
    ASSERT_NE(out, nullptr);
    EXPECT_STREQ(out, "");
    free(out);

    char *keep = reinterpret_cast<char *>(0x1);
    EXPECT_EQ(xml_copy_node_value(state, "/config/lan", &keep), -1);
    EXPECT_EQ(xml_copy_node_value(state, "1+1", &keep), -1) << "a number is not a node";
    EXPECT_EQ(keep, reinterpret_cast<char *>(0x1));
    EXPECT_EQ(store_records(), (Texts{rec("Unable to copy node value for /config/lan"),
                                      rec("Unable to copy node value for 1+1")}));
}

}  // namespace
