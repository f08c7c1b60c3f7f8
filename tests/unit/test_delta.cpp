// What no command-line case can provoke or watch: failed writes, a name that
// changes during the run, drivers run twice, a closed or broken stderr.
#include <gtest/gtest.h>

#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "doc_text.h"
#include "run_state.h"
#include "../../walk/reader.h"
#include "../../delta/delta.h"
#include "../../merge/merge.h"

namespace {

// A fresh folder for the test's files, removed with them afterwards.
class DeltaFiles : public ::testing::Test {
protected:
    void SetUp() override
    {
        reset_run_state();
        const char *tmp = getenv("TMPDIR");
        dir = std::string(tmp && *tmp ? tmp : "/tmp") + "/delta-test-XXXXXX";
        ASSERT_NE(mkdtemp(&dir[0]), nullptr);
    }
    void TearDown() override { ASSERT_EQ(system(("rm -rf '" + dir + "'").c_str()), 0); }
    std::string at(const char *name) const { return dir + "/" + name; }
    std::string dir;
};

TEST_F(DeltaFiles, NoPathOrNoFile)
{
    delta_found = 0;
    delta_add_pass = 0;
    delta_fp = fopen("/dev/null", "w");
    ASSERT_NE(delta_fp, nullptr);
    XmlState *doc = load_doc("<c/>");
    xmlTextReaderPtr r = xmlReaderForMemory("<a/>", 4, nullptr, nullptr, 0);
    ASSERT_EQ(xmlTextReaderRead(r), 1);

    // A failed record fails the leaf.
    testing::internal::CaptureStderr();
    EXPECT_EQ(check_delta(doc, nullptr, nullptr, r), 1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "save_xpath_to_file: No XPATH specified\n"
              "check_delta: ###Error save_xpath_to_file() failed\n");
    EXPECT_EQ(delta_found, 0);

    fclose(delta_fp);
    delta_fp = nullptr;
    EXPECT_EQ(save_xpath_to_file("/c[1]/a[1]", DELTA_KIND_MISSING), 0);
    EXPECT_EQ(delta_found, 0) << "nothing is recorded without an open file";
    xmlFreeTextReader(r);
    xml_fini(doc);
}

// A line that cannot be written is an error, and the walk stops at the
// first leaf whose line fails (a full disk at the end: below).
TEST_F(DeltaFiles, WriteThatFailsIsAnErrorAndStopsTheWalk)
{
    delta_fp = fopen("/dev/full", "w");
    ASSERT_NE(delta_fp, nullptr);
    setvbuf(delta_fp, nullptr, _IONBF, 0);
    write_file(at("src.xml"), "<r><a/><b>t</b></r>");
    XmlState *doc = load_doc("<r/>");
    char Xpath[XPATH_BUF_SIZE] = {0};
    char nXpath[XPATH_BUF_SIZE] = {0};
    const std::string err = stderr_of(
        [&] { EXPECT_EQ(streamFile(at("src.xml").c_str(), 0, Xpath, nXpath, doc, nullptr, &delta_walk_callbacks), 1); });
    const size_t failed = err.find("save_xpath_to_file: ###Error writing the delta file failed: No space left");
    EXPECT_NE(failed, std::string::npos) << err;
    EXPECT_EQ(failed, err.rfind("save_xpath_to_file: ###Error writing")) << "the walk went on: " << err;
    EXPECT_NE(err.find("process_tag_early: ###Error handle_empty_tag_in_src_file() failed \n"), std::string::npos) << err;
    EXPECT_EQ(current_tag, nullptr);
    xml_fini(doc);
    EXPECT_NE(stderr_of([] { EXPECT_EQ(close_delta_file(0), -1); }).find("writing the delta file failed"), std::string::npos)
        << "a line that failed fails the close";
}

// The delta file is replaced whole or left as it was, and only the
// regular file found at the start is ever removed: not a symlink, a FIFO
// or a device, and not another file put in its place.
TEST_F(DeltaFiles, ReplacesOrRemovesOnlyTheFileItFound)
{
    const std::string name = at("delta.txt");
    write_file(at("target.txt"), "keep\n");
    ASSERT_EQ(symlink("target.txt", name.c_str()), 0);
    ASSERT_EQ(mkfifo(at("fifo").c_str(), 0600), 0);
    EXPECT_EQ(open_delta_file(name.c_str()), -2);
    EXPECT_EQ(open_delta_file(at("fifo").c_str()), -2);
    EXPECT_EQ(open_delta_file("/dev/null"), -2);
    EXPECT_EQ(open_delta_file(at("no/such").c_str()), -1);

    // An old file stays as it was until the new one replaces it, or until
    // it is removed; a file not kept leaves it as it was.
    ASSERT_EQ(unlink(name.c_str()), 0);
    write_file(name, "old\n");
    for (int keep : {1, 0}) {
        ASSERT_EQ(open_delta_file(name.c_str()), 0);
        fputs("ADD=/c[1]\n", delta_fp);
        EXPECT_EQ(read_file(name), keep ? "old\n" : "ADD=/c[1]\n");
        EXPECT_EQ(close_delta_file(keep), 0);
        EXPECT_EQ(read_file(name), "ADD=/c[1]\n");
    }
    EXPECT_EQ(remove_delta_file(name.c_str()), 0);
    EXPECT_NE(access(name.c_str(), F_OK), 0);
    EXPECT_EQ(system(("test \"$(ls -A '" + dir + "')\" = \"$(printf 'fifo\\ntarget.txt')\"").c_str()), 0)
        << "a temporary file is left";

    // Replaced during the run by a file or a symlink: both stay.
    write_file(name, "old\n");
    for (bool link : {false, true}) {
        ASSERT_EQ(open_delta_file(name.c_str()), 0);
        EXPECT_EQ(close_delta_file(0), 0);
        if (link)
            ASSERT_EQ(symlink("target.txt", at("new").c_str()), 0);
        else
            write_file(at("new"), "other\n");
        ASSERT_EQ(rename(at("new").c_str(), name.c_str()), 0);
        const std::string err = stderr_of([&] { EXPECT_EQ(remove_delta_file(name.c_str()), -1); });
        EXPECT_NE(err.find("###Error " + name + " is no longer the file this run wrote"), std::string::npos) << err;
        EXPECT_EQ(read_file(name), link ? "keep\n" : "other\n");
    }
    reset_delta_state();
}

// Every run of a driver starts from the same state, whatever the previous
// run of the same process left behind.
TEST_F(DeltaFiles, DriversRunTwiceGiveTheSameResult)
{
    write_file(at("src.xml"), "<c><a>1</a><a>2</a><b k='x'>3</b></c>");
    write_file(at("new.xml"), "<c><a>1</a><a>9</a><d/></c>");
    for (int run = 0; run < 2; run++) {
        stderr_of([&] {
            EXPECT_EQ(xml_create_xpath_delta(at("src.xml").c_str(), at("new.xml").c_str(), at("delta.txt").c_str()), 0);
        });
        EXPECT_EQ(read_file(at("delta.txt")), "MOD=/c[1]/a[2]\nDEL=/c[1]/b[@k='x'][1]\nADD=/c[1]/d[1]\n") << run;
    }

    // A merge with -p, then one without: the second keeps the local tag.
    write_file(at("o.xml"), "<c><a>1</a></c>");
    for (int discard : {1, 0}) {
        write_file(at("d.xml"), "<c><a>1</a><l>x</l></c>");
        stderr_of([&] {
            EXPECT_EQ(xml_merge_and_update(at("o.xml").c_str(), at("o.xml").c_str(), at("d.xml").c_str(), discard), 0);
        });
        EXPECT_EQ(read_file(at("d.xml")), discard ? "<?xml version=\"1.0\"?>\n<c><a>1</a></c>\n"
                                                  : "<?xml version=\"1.0\"?>\n<c><a>1</a><l>x</l></c>\n");
    }
}

void close_stderr() { close(2); }
void broken_stderr()
{
    int p[2];
    if (pipe(p) != 0 || dup2(p[1], 2) != 2)
        _exit(97);
    close(p[0]);
}
void full_disk()
{
    const struct rlimit limit = {4, 4};
    setrlimit(RLIMIT_FSIZE, &limit);
}

// Started with standard error closed, a run must not take descriptor 2 for
// the delta file; with a pipe nobody reads, it must not die of SIGPIPE; a
// full disk (files of 4 bytes at most) gives status 1 and leaves the
// earlier delta file as it was.
TEST_F(DeltaFiles, ClosedOrBrokenStandardErrorFullDisk)
{
    write_file(at("src.xml"), "<c><a>1</a></c>");
    write_file(at("new.xml"), "<c><a>2</a></c>");
    const struct {
        void (*how)(void);
        int status;
        const char *delta;
    } rows[] = {{close_stderr, 0, "MOD=/c[1]/a[1]\n"}, {broken_stderr, 0, "MOD=/c[1]/a[1]\n"}, {full_disk, 1, "MOD=/c[1]/a[1]\n"}};
    for (const auto &r : rows) {
        const pid_t pid = fork();
        if (pid == 0) {
            r.how();
            _exit(process_setup() != 0 ? 99
                                       : xml_create_xpath_delta(at("src.xml").c_str(), at("new.xml").c_str(),
                                                                at("delta.txt").c_str()));
        }
        int status = -1;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == r.status) << "wait status " << status;
        EXPECT_EQ(read_file(at("delta.txt")), r.delta);
    }
}

}  // namespace
