// The store's script-backed maintenance operations.  This test's build of
// them runs support/record_script.sh, which logs "COUNT:ARGS" for every call
// and then exits with XMLCFG_SCRIPT_STATUS, or, when that is unset, hands
// the call on to the shipped platform/qarn_xml.sh.
#include <gtest/gtest.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "../support/doc_text.h"
#include "../support/recording_debug.h"
#include "xmldata.h"

namespace {

class Script : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir = temp_template("xmlcfg-script");
        ASSERT_NE(mkdtemp(&dir[0]), nullptr) << dir;
        log = dir + "/calls.log";
        setenv("XMLCFG_SCRIPT_LOG", log.c_str(), 1);
        unsetenv("XMLCFG_SCRIPT_STATUS");
        // Where xmllint is missing the shipped script validates with xmlcfg.
        const char *path = getenv("PATH");
        std::string p = std::string(XMLCFG_BIN_DIR) + ":" + (path ? path : "/usr/bin:/bin");
        setenv("PATH", p.c_str(), 1);
    }
    void TearDown() override
    {
        std::string cmd = "rm -rf '" + dir + "'";
        ASSERT_EQ(system(cmd.c_str()), 0);
    }
    std::string dir;
    std::string log;
};

// The arguments go in unquoted, so only plain names run.  A NULL argument
// runs nothing and has no record; a refused name runs nothing and has one.
TEST_F(Script, CommandLinesAndStatus)
{
    setenv("XMLCFG_SCRIPT_STATUS", "0", 1);
    debug_reset();
    EXPECT_EQ(xml_validate_file(nullptr, "b"), -1);
    EXPECT_EQ(xml_validate_file("a", nullptr), -1);
    EXPECT_EQ(xml_backup_file(nullptr, "b"), -1);
    EXPECT_EQ(xml_backup_file("a", nullptr), -1);
    EXPECT_EQ(xml_calculate_checksum_file(nullptr, nullptr), -1);
    EXPECT_TRUE(debug_calls().empty());
    EXPECT_EQ(xml_validate_file("a.xml", "b.xml"), 0);
    EXPECT_EQ(xml_backup_file("/var/cfg/A-1_b+c,d:e@f=g.xml", "/var/backup"), 0);
    const char *const refused[] = {"two words", "a;touch x", "$(id)", "`id`", "'q'", "\"q\"", "*.xml", "a\nb", ""};
    for (const char *arg : refused) {
        debug_reset();
        EXPECT_EQ(xml_calculate_checksum_file(arg, "c"), -1) << arg;
        EXPECT_EQ(xml_backup_file("c", arg), -1) << arg;
        const std::string args = std::string("\"") + arg + "\" \"c\"";
        EXPECT_EQ(store_records(),
                  (std::vector<std::string>{
                      rec("Refusing to run calculate_checksum: arguments must be plain names, not " + args),
                      rec(std::string("Refusing to run backup_xml: arguments must be plain names, not \"c\" \"") + arg + "\"")}));
    }
    setenv("XMLCFG_SCRIPT_STATUS", "1", 1);
    EXPECT_EQ(xml_validate_file("x", "y"), 256);
    setenv("XMLCFG_SCRIPT_STATUS", "3", 1);
    EXPECT_EQ(xml_backup_file("x", "y"), 3 * 256);
    EXPECT_EQ(read_file(log),
              "3:validate_xml a.xml b.xml\n"
              "3:backup_xml /var/cfg/A-1_b+c,d:e@f=g.xml /var/backup\n"
              "3:validate_xml x y\n"
              "3:backup_xml x y\n");
}

// A line over 255 characters, or an argument the script would take for an
// option, runs nothing and has a record naming the argument.
TEST_F(Script, LongLineOrOptionIsRefused)
{
    const std::string script = RECORD_SCRIPT;
    ASSERT_LT(script.size(), 200u) << "the cut must fall after the script's path";
    setenv("XMLCFG_SCRIPT_STATUS", "0", 1);
    const std::string fits(255 - (script.size() + strlen(" validate_xml a ")), 'y');
    const std::string over = fits + "y", first(300, 'x');
    const struct {
        const char *arg1, *arg2;
        std::string record;  // empty: runs
    } rows[] = {
        {"a", fits.c_str(), ""},
        {"a", over.c_str(), "command line too long, refused:" + over},
        {first.c_str(), "b", "command line too long, refused:" + first},
        {"-f", "b", "argument begins with '-', refused:-f"},
        {"a", "--force", "argument begins with '-', refused:--force"},
    };
    for (const auto &r : rows) {
        std::remove(log.c_str());
        debug_reset();
        EXPECT_EQ(xml_validate_file(r.arg1, r.arg2), r.record.empty() ? 0 : -1) << r.record;
        if (r.record.empty()) {
            EXPECT_EQ(read_file(log), std::string("3:validate_xml ") + r.arg1 + " " + r.arg2 + "\n");
        } else {
            EXPECT_EQ(store_records(), std::vector<std::string>{rec(r.record)});
            EXPECT_NE(access(log.c_str(), F_OK), 0) << "the script ran for " << r.record;
        }
    }
}

// The shipped script does the work when no status is forced.
TEST_F(Script, ShippedScriptValidatesBacksUpAndSums)
{
    const std::string good = std::string(TEST_DATA_DIR) + "/store.xml";
    const std::string bad = dir + "/bad.xml";
    const std::string nowhere = dir + "/no/such/folder/x";
    write_file(bad, "<?xml version=\"1.0\"?>\n<config><a></config>\n");
    EXPECT_EQ(xml_validate_file(good.c_str(), "/dev/null"), 0);
    EXPECT_EQ(xml_validate_file(bad.c_str(), (dir + "/report.txt").c_str()), 256);
    EXPECT_NE(read_file(dir + "/report.txt"), "");
    // A file that is not there is a usage error of the script (status 2).
    EXPECT_EQ(xml_validate_file((dir + "/none.xml").c_str(), "/dev/null"), 2 * 256);

    const std::string src = dir + "/config.xml";
    write_file(src, "abc");
    EXPECT_EQ(xml_backup_file(src.c_str(), (dir + "/config.bak").c_str()), 0);
    EXPECT_EQ(read_file(dir + "/config.bak"), "abc");
    // A folder receives the copy under the file's own name.
    ASSERT_EQ(mkdir((dir + "/saved").c_str(), 0755), 0);
    EXPECT_EQ(xml_backup_file(src.c_str(), (dir + "/saved").c_str()), 0);
    EXPECT_EQ(read_file(dir + "/saved/config.xml"), "abc");
    EXPECT_EQ(xml_backup_file(src.c_str(), nowhere.c_str()), 256);

    EXPECT_EQ(xml_calculate_checksum_file(src.c_str(), (dir + "/abc.sum").c_str()), 0);
    EXPECT_EQ(read_file(dir + "/abc.sum"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad\n");
    EXPECT_EQ(xml_calculate_checksum_file(src.c_str(), nowhere.c_str()), 256);
}

}  // namespace
