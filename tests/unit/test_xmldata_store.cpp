// The document store's handle, lifecycle and queries, with the diagnostic
// records they write.
#include <gtest/gtest.h>

#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>

#include "recording_debug.h"
#include "xmldata.h"

namespace {

const std::string kStore = std::string(TEST_DATA_DIR) + "/store.xml";

std::string read_file(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

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

// One record is four calls: level name, system log, level name, module log.
void expect_record(size_t first, const std::string &text)
{
    const auto &c = debug_calls();
    ASSERT_GE(c.size(), first + 4);
    EXPECT_EQ(c[first].function, "get_level_name");
    EXPECT_EQ(c[first].number, 3);
    EXPECT_EQ(c[first + 1].function, "syslog");
    EXPECT_EQ(c[first + 1].number, 138);
    EXPECT_EQ(c[first + 1].text, text);
    EXPECT_EQ(c[first + 2].function, "get_level_name");
    EXPECT_EQ(c[first + 2].number, 3);
    EXPECT_EQ(c[first + 3].function, "log");
    EXPECT_EQ(c[first + 3].module, "XMLDATA");
    EXPECT_EQ(c[first + 3].number, 3);
    EXPECT_EQ(c[first + 3].text, text);
}

TEST(StoreHandle, LifecycleAndLoadedState)
{
    EXPECT_EQ(xml_is_loaded(nullptr), 0);
    XmlState *s = xml_init();
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(xml_is_loaded(s), 0);
    EXPECT_EQ(get_pDoc(s), nullptr);
    EXPECT_EQ(get_pCtxt(s), nullptr);

    debug_reset();
    EXPECT_EQ(xml_load_document(s, "/nonexistent/missing.xml"), -1);
    ASSERT_EQ(debug_calls().size(), 4u);
    expect_record(0, "[XMLDATA]:[CRIT] - Unable to parse file /nonexistent/missing.xml");
    EXPECT_EQ(xml_is_loaded(s), 0);
    EXPECT_EQ(get_pDoc(s), nullptr);
    EXPECT_EQ(get_pCtxt(s), nullptr);

    // A failed load leaves the handle empty and usable.
    EXPECT_EQ(xml_load_document(s, kStore.c_str()), 0);
    EXPECT_EQ(xml_is_loaded(s), 1);
    EXPECT_NE(get_pCtxt(s), nullptr);
    EXPECT_EQ(xml_fini(s), 0);
    EXPECT_EQ(xml_fini(nullptr), 0);
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
    ASSERT_EQ(debug_calls().size(), 4u);
    expect_record(0, std::string("[XMLDATA]:[CRIT] - xml_read_memory: ") + strerror(ENOENT));

    EXPECT_EQ(xml_read_memory(s, "<a>x</a>"), 0);
    EXPECT_EQ(xml_is_loaded(s), 1);
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
    expect_record(0, "[XMLDATA]:[CRIT] - Unable to save to " + out);
    EXPECT_NE(access(out.c_str(), F_OK), 0) << "an empty handle must create no file";
    EXPECT_EQ(xml_save_document(nullptr, out.c_str()), -1);

    ASSERT_EQ(xml_load_document(s, kStore.c_str()), 0);
    {
        std::ofstream old(out);
        old << "previous content\n";
    }
    chmod(out.c_str(), 0640);
    EXPECT_EQ(xml_save_document(s, out.c_str()), 0);
    EXPECT_EQ(read_file(out), read_file(kStore)) << "whitespace text nodes are kept";
    struct stat st;
    ASSERT_EQ(stat(out.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u) << "the replaced file keeps its mode";

    debug_reset();
    const std::string bad = std::string(dir) + "/no/such/dir/out.xml";
    EXPECT_EQ(xml_save_document(s, bad.c_str()), -1);
    expect_record(0, "[XMLDATA]:[CRIT] - Unable to save to " + bad);
    xml_fini(s);

    // Nothing but the output is left in the folder.
    std::string cmd = std::string("test $(ls -A ") + dir + " | wc -l) -eq 1";
    EXPECT_EQ(system(cmd.c_str()), 0);
    unlink(out.c_str());
    rmdir(dir);
}

TEST_F(Store, ExistenceAndCount)
{
    EXPECT_EQ(xml_is_nodeset_exists(state, "/config/wifi/ssid"), 0);
    EXPECT_TRUE(debug_calls().empty());

    EXPECT_EQ(xml_is_nodeset_exists(state, "/config/lan"), -1);
    ASSERT_EQ(debug_calls().size(), 4u);
    expect_record(0, "[XMLDATA]:[CRIT] - Unable to check if node exists:/config/lan");

    int count = -7;
    EXPECT_EQ(xml_copy_node_count(state, "/config/wifi/ssid", &count), 0);
    EXPECT_EQ(count, 2);
    EXPECT_EQ(xml_copy_node_count(state, "/config/lan", &count), 0);
    EXPECT_EQ(count, 0);

    // A value that is not a node set: only the operation's own record.
    debug_reset();
    count = -7;
    EXPECT_EQ(xml_copy_node_count(state, "count(/config/wifi/ssid)", &count), -1);
    EXPECT_EQ(count, -7);
    ASSERT_EQ(debug_calls().size(), 4u);
    expect_record(0, "[XMLDATA]:[CRIT] - Unable to get node count for count(/config/wifi/ssid)");
}

TEST_F(Store, BadExpressionGivesEvaluationRecordFirst)
{
    char buf[16] = "untouched";
    int count = -7;

    EXPECT_EQ(xml_is_nodeset_exists(state, "/config["), -1);
    ASSERT_EQ(debug_calls().size(), 8u);
    expect_record(0, "[XMLDATA]:[CRIT] - Error: unable to evaluate xpath expression \"/config[\"");
    expect_record(4, "[XMLDATA]:[CRIT] - Unable to check if node exists:/config[");

    debug_reset();
    EXPECT_EQ(xml_get_prop(state, "/config[", "PRI", buf, sizeof(buf)), -1);
    ASSERT_EQ(debug_calls().size(), 8u);
    expect_record(0, "[XMLDATA]:[CRIT] - Error: unable to evaluate xpath expression \"/config[\"\n");
    expect_record(4, "[XMLDATA]:[CRIT] - Unable to get property PRI for node:/config[\n");
    EXPECT_STREQ(buf, "untouched");

    debug_reset();
    EXPECT_EQ(xml_copy_node_count(state, "/config[", &count), -1);
    ASSERT_EQ(debug_calls().size(), 8u);
    expect_record(4, "[XMLDATA]:[CRIT] - Unable to get node count for /config[");
    EXPECT_EQ(count, -7);
}

TEST_F(Store, GetPropUsesFirstMatchAndLeavesBufferOnFailure)
{
    char buf[1024] = "untouched";

    EXPECT_EQ(xml_get_prop(state, "/config/*", "PRI", buf, sizeof(buf)), 0);
    EXPECT_STREQ(buf, "1");
    EXPECT_EQ(xml_get_prop(state, "/config/wifi", "band", buf, sizeof(buf)), 0);
    EXPECT_STREQ(buf, "dual");

    snprintf(buf, sizeof(buf), "untouched");
    debug_reset();
    EXPECT_EQ(xml_get_prop(state, "/config/admin", "PRI", buf, sizeof(buf)), -1);
    EXPECT_STREQ(buf, "untouched");
    ASSERT_EQ(debug_calls().size(), 4u);
    expect_record(0, "[XMLDATA]:[CRIT] - Unable to get property PRI for node:/config/admin\n");
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

    // One byte more: the whole text, and zero bytes after it as strncpy pads.
    EXPECT_EQ(xml_get_node_value(state, "/config/admin/name", buf, 11), 0);
    EXPECT_STREQ(buf, "0123456789");

    EXPECT_EQ(xml_get_node_value(state, "/config/admin/banner", buf, 11), 0);
    EXPECT_STREQ(buf, "a&b<c");
    EXPECT_EQ(xml_get_node_value(state, "/config/wifi/empty", buf, 11), 0);
    EXPECT_STREQ(buf, "");
    EXPECT_EQ(xml_get_node_value(state, "/config/wifi/@band", buf, 11), 0);
    EXPECT_STREQ(buf, "dual");

    debug_reset();
    EXPECT_EQ(xml_get_node_value(state, "/config/lan", buf, 11), -1);
    ASSERT_EQ(debug_calls().size(), 4u);
    expect_record(0, "[XMLDATA]:[CRIT] - Unable to get node value for /config/lan");
}

TEST_F(Store, NodeNameOnlyForElementsAndOnlyToModuleLog)
{
    char buf[8];

    EXPECT_EQ(xml_get_node_name(state, "/config/*[1]", buf, sizeof(buf)), 0);
    EXPECT_STREQ(buf, "wifi");
    EXPECT_EQ(xml_get_node_name(state, "/config/admin/banner", buf, 4), 0);
    EXPECT_STREQ(buf, "ban");

    debug_reset();
    EXPECT_EQ(xml_get_node_name(state, "/config/wifi/@band", buf, sizeof(buf)), -1);
    EXPECT_EQ(xml_get_node_name(state, "/config/wifi/ssid/text()", buf, sizeof(buf)), -1);
    const auto &c = debug_calls();
    ASSERT_EQ(c.size(), 4u);
    EXPECT_EQ(c[0].function, "get_level_name");
    EXPECT_EQ(c[1].function, "log");
    EXPECT_EQ(c[1].text, "[XMLDATA]:[CRIT] - Unable to get node name for /config/wifi/@band");
    EXPECT_EQ(c[3].text, "[XMLDATA]:[CRIT] - Unable to get node name for /config/wifi/ssid/text()");
}

TEST_F(Store, CopyNodeValueHandsOutWholeText)
{
    char *out = nullptr;

    EXPECT_EQ(xml_copy_node_value(state, "/config/wifi/ssid", &out), 0);
    ASSERT_NE(out, nullptr);
    EXPECT_STREQ(out, "Home");
    free(out);

    out = nullptr;
    EXPECT_EQ(xml_copy_node_value(state, "/config/wifi/empty", &out), 0);
    ASSERT_NE(out, nullptr);
    EXPECT_STREQ(out, "");
    free(out);

    char *keep = reinterpret_cast<char *>(0x1);
    debug_reset();
    EXPECT_EQ(xml_copy_node_value(state, "/config/lan", &keep), -1);
    EXPECT_EQ(keep, reinterpret_cast<char *>(0x1));
    ASSERT_EQ(debug_calls().size(), 4u);
    expect_record(0, "[XMLDATA]:[CRIT] - Unable to copy node value for /config/lan");

    // A number is not a node.
    debug_reset();
    EXPECT_EQ(xml_copy_node_value(state, "1+1", &keep), -1);
    ASSERT_EQ(debug_calls().size(), 4u);
}

}  // namespace
