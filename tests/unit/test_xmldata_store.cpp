// The document store's handle, lifecycle and queries, with the diagnostic
// records they write.
#include <gtest/gtest.h>

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include <libxml/tree.h>
#include <libxml/xpath.h>

#include "doc_text.h"
#include "recording_debug.h"
#include "xmldata.h"
#include "xmldata_input.h"
#include "xmldata_save_hook.h"

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

    // A loaded handle refuses another document and keeps its own.
    xmlDocPtr first = get_pDoc(s);
    debug_reset();
    EXPECT_EQ(xml_load_document(s, "/nonexistent/missing.xml"), -1);
    EXPECT_EQ(xml_read_memory(s, "<other/>"), -1);
    EXPECT_EQ(store_records(), (Texts{rec("Refusing to load /nonexistent/missing.xml: the handle holds a document already"),
                                      rec("Refusing to load a text: the handle holds a document already")}));
    EXPECT_EQ(xml_is_loaded(s), 1);
    EXPECT_EQ(get_pDoc(s), first);
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
    std::string dir = temp_template("xmldata-load");
    ASSERT_NE(mkdtemp(&dir[0]), nullptr);
    // From here on every failure goes on to the folder's removal below.
    EXPECT_EQ(mkfifo((dir + "/fifo").c_str(), 0600), 0);
    const struct {
        std::string name;
        std::string text;   // written unless empty
        int fault;
    } rows[] = {
        {"fits.xml", expanding(repeat("&e;", 1024)), 0},
        {"nested-fits.xml", expanding("&n;&n;"), 0},
        {"plain-text-over.xml", "<c>" + std::string(1100000, 'x') + "</c>\n", 0},  // counts only in entities
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

    // The bound on what entity references expand to, as for files.
    debug_reset();
    EXPECT_EQ(xml_read_memory(s, expanding(repeat("&e;", 1025)).c_str()), -1);
    EXPECT_EQ(store_records(), Texts{rec("xml_read_memory: entity references expand to more than 1048576 bytes")});
    EXPECT_EQ(xml_is_loaded(s), 0);
    EXPECT_EQ(xml_read_memory(s, expanding(repeat("&e;", 1024)).c_str()), 0);
    xml_fini(s);
}

// A fresh folder under TMPDIR for the save, removed afterwards, and the
// store's document loaded.
class Save : public Store {
protected:
    void SetUp() override
    {
        dir = temp_template("xmldata-save");
        ASSERT_NE(mkdtemp(&dir[0]), nullptr);
        Store::SetUp();
    }
    void TearDown() override
    {
        xmldata_save_hook = nullptr;
        Store::TearDown();
        EXPECT_EQ(system(("rm -rf '" + dir + "'").c_str()), 0);
    }
    std::string at(const std::string &name) const { return dir + "/" + name; }
    // Runs a shell command in the folder; 0 when it succeeds.
    int sh(const std::string &cmd) const { return system(("cd '" + dir + "' && " + cmd).c_str()); }
    std::string dir;
};

TEST_F(Save, KeepsLayoutAndModeAndFailsWithoutFolder)
{
    XmlState *empty = xml_init();
    const std::string out = at("out.xml");
    EXPECT_EQ(xml_save_document(empty, out.c_str()), -1);
    EXPECT_EQ(store_records(), Texts{rec("Unable to save to " + out)});
    EXPECT_NE(access(out.c_str(), F_OK), 0) << "an empty handle must create no file";
    xml_fini(empty);

    write_file(out, "previous content\n");
    chmod(out.c_str(), 0640);
    EXPECT_EQ(xml_save_document(state, out.c_str()), 0);
    EXPECT_EQ(read_file(out), read_file(kStore)) << "whitespace text nodes are kept";
    struct stat st;
    ASSERT_EQ(stat(out.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u) << "the replaced file keeps its mode";
    const mode_t mask = umask(0);
    umask(mask);
    EXPECT_EQ(xml_save_document(state, at("new.xml").c_str()), 0);
    ASSERT_EQ(stat(at("new.xml").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0666u & ~mask) << "a new file gets the mode the umask leaves";
    ASSERT_EQ(unlink(at("new.xml").c_str()), 0);

    debug_reset();
    const std::string bad = at("no/such/dir/out.xml");
    EXPECT_EQ(xml_save_document(state, bad.c_str()), -1);
    EXPECT_EQ(store_records(), Texts{rec("Unable to save to " + bad)});
    EXPECT_EQ(sh("test \"$(ls -A)\" = out.xml"), 0) << "nothing but the output is left";
}

// UTF-16 little endian, with its byte order mark, of an ASCII text.
std::string utf16(const std::string &ascii)
{
    std::string out = "\xff\xfe";
    for (char c : ascii)
        out += std::string(1, c) + '\0';
    return out;
}

TEST_F(Save, WritesWhatTheLibraryWritesInTheDocumentsEncoding)
{
    const struct {
        std::string text;
        bool reads_back;
    } docs[] = {
        {"<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<a b=\"&quot;\">\xc3\xa9</a>\n", true},
        {"<a b='1'>x<!-- c --></a>", true},
        {"<?xml version=\"1.0\" standalone=\"yes\"?>\n<!DOCTYPE a>\n<?pi x?>\n<a/>\n", true},
        {"<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\n<a>\xe9&#x20AC;</a>\n", true},
        {"<?xml version=\"1.0\" encoding=\"US-ASCII\"?>\n<a>&#233;</a>\n", true},
        {utf16("<?xml version=\"1.0\" encoding=\"UTF-16\"?>\n<a>&#x10000;x</a>\n"), true},
        {"<?xml version=\"1.0\" encoding=\"UTF-7\"?>\n<a>x</a>\n", false},
    };
    const std::string in = at("in.xml"), ref = at("ref.xml"), out = at("out.xml");
    for (const auto &d : docs) {
        SCOPED_TRACE(d.text);
        write_file(in, d.text);
        write_file(out, "old\n");
        XmlState *s = xml_init();
        ASSERT_EQ(xml_load_document(s, in.c_str()), 0);
        ASSERT_NE(xmlSaveFile(ref.c_str(), get_pDoc(s)), -1);
        debug_reset();
        errno = 0;
        if (d.reads_back) {
            EXPECT_EQ(xml_save_document(s, out.c_str()), 0);
            EXPECT_EQ(read_file(out), read_file(ref));
        } else {
            EXPECT_EQ(xml_save_document(s, out.c_str()), -1);
            EXPECT_EQ(errno, EILSEQ);
            EXPECT_EQ(read_file(out), "old\n");
            EXPECT_EQ(store_records(), (Texts{rec("Refusing to save in encoding UTF-7: it cannot be read back"),
                                              rec("Unable to save to " + out)}));
        }
        xml_fini(s);
    }
}

// What is followed and what is replaced.  As root, links are given to
// uid 65534; "T" in a check stands for the saved document.
TEST_F(Save, FollowsTrustedLinksReplacesOnlyRegularFilesAndClearsLeftovers)
{
    const struct {
        const char *setup;
        bool as_root;
        int err;  // 0: saved
        const char *check;
    } cases[] = {
        {"echo old > real && ln -s real d.xml", false, 0, "test -L d.xml && cmp -s real T"},
        {"ln -s new d.xml", false, 0, "test -L d.xml && cmp -s new T"},
        {"echo old > real && ln -s real d.xml && chown -h 65534 d.xml", true, ELOOP,
         "test -L d.xml && test \"$(cat real)\" = old"},
        {"echo old > real && ln -s real d.xml && chown -h 65534 d.xml . real", true, 0,
         "test -L d.xml && cmp -s real T && test \"$(stat -c %u real)\" = 65534"},
        // As root, a link in a user's folder leads only to that user's files.
        {"echo old > real && ln -s real d.xml && chown -h 65534 d.xml .", true, EXDEV,
         "test -L d.xml && test \"$(cat real)\" = old"},
        {"mkdir r && ln -s r/new d.xml && chown -h 65534 d.xml .", true, EXDEV, "test -L d.xml && ! test -e r/new"},
        {"mkfifo fifo && ln -s fifo d.xml", false, ENOTSUP, "test -p fifo"},
        {"mkdir d.xml", false, EISDIR, "test -d d.xml"},
        {"echo old > d.xml && ln d.xml keep", false, 0, "cmp -s d.xml T && test \"$(cat keep)\" = old"},
        {"touch .d.xml.xmlcfg-AbC123 .d.xml.xmlcfg-AbC12 .d.xml.xmlcfg-AbC1234 .e.xml.xmlcfg-AbC123 "
         "&& ln -s x .d.xml.xmlcfg-XyZ789",
         false, 0,
         "! test -e .d.xml.xmlcfg-AbC123 && test -e .d.xml.xmlcfg-AbC12 && test -e .d.xml.xmlcfg-AbC1234 "
         "&& test -e .e.xml.xmlcfg-AbC123 && test -L .d.xml.xmlcfg-XyZ789"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.setup);
        if (c.as_root && geteuid() != 0) {
            std::printf("skipped, needs root: %s\n", c.setup);
            continue;
        }
        ASSERT_EQ(sh("rm -rf ./* ./.[!.]* && chown 0 . 2>/dev/null; " + std::string(c.setup)), 0);
        errno = 0;
        EXPECT_EQ(xml_save_document(state, at("d.xml").c_str()), c.err ? -1 : 0);
        if (c.err) {
            EXPECT_EQ(errno, c.err);
        }
        std::string check = c.check;
        if (check.find('T') != std::string::npos)
            check.replace(check.find('T'), 1, "'" + kStore + "'");
        EXPECT_EQ(sh(check), 0);
        EXPECT_EQ(sh("test -z \"$(find . -type f -name '.d.xml.xmlcfg-[^.][^.][^.][^.][^.][^.]')\""), 0) << "a temporary file is left";
    }
}

// Another process swapping the temporary file for a link to a victim file
// between two steps of the save, once or at every try.
struct Swap {
    int step;
    bool every_time;
    std::string victim;
    int swaps;
} swap;

void swap_for_link(int step, const char *tmp)
{
    if (step != swap.step || (swap.swaps > 0 && !swap.every_time))
        return;
    swap.swaps++;
    if (unlink(tmp) != 0 || symlink(swap.victim.c_str(), tmp) != 0)
        ADD_FAILURE() << "cannot swap " << tmp;
}

TEST_F(Save, TemporaryFileSwappedForALinkChangesNothingButD)
{
    const struct {
        int step;
        bool every_time;
    } cases[] = {
        {XMLDATA_SAVE_CREATED, false}, {XMLDATA_SAVE_WRITTEN, false}, {XMLDATA_SAVE_OWNED, false},
        {XMLDATA_SAVE_SYNCED, false},  {XMLDATA_SAVE_SYNCED, true},
    };
    const std::string d = at("d.xml"), victim = at("victim");
    xmldata_save_hook = swap_for_link;
    for (const auto &c : cases) {
        SCOPED_TRACE(c.step);
        write_file(victim, "secret\n");
        chmod(victim.c_str(), 0600);
        write_file(d, "old\n");
        chmod(d.c_str(), 0644);
        if (geteuid() == 0) {
            ASSERT_EQ(chown(d.c_str(), 65534, 65534), 0);
        }
        swap = {c.step, c.every_time, victim, 0};
        EXPECT_EQ(xml_save_document(state, d.c_str()), c.every_time ? -1 : 0);
        EXPECT_GT(swap.swaps, 0);
        struct stat v, st;
        ASSERT_EQ(stat(victim.c_str(), &v), 0);
        EXPECT_EQ(read_file(victim), "secret\n");
        EXPECT_EQ(v.st_mode & 07777, 0600u);
        EXPECT_EQ(v.st_uid, geteuid());
        ASSERT_EQ(lstat(d.c_str(), &st), 0);
        EXPECT_TRUE(S_ISREG(st.st_mode));
        EXPECT_EQ(read_file(d), c.every_time ? "old\n" : read_file(kStore));
        EXPECT_EQ(sh("test \"$(ls -A | tr '\\n' ' ')\" = 'd.xml victim '"), 0) << "only D and the victim are left";
    }
}

// The save's rename (renameat) and syncs, seen through the linker's wrapping of the
// calls (tests/CMakeLists.txt): which file was on disk at the rename, and a
// rename that fails on demand.
struct SaveCalls {
    std::vector<ino_t> synced;
    bool synced_at_rename, renamed, folder_synced_after;
    int rename_errno;
} calls;

extern "C" int __real_fsync(int fd);
extern "C" int __real_renameat(int from_dir, const char *from, int to_dir, const char *to);
extern "C" int __wrap_fsync(int fd)
{
    struct stat st;
    if (fstat(fd, &st) == 0 && S_ISDIR(st.st_mode))
        calls.folder_synced_after = calls.renamed;
    else if (fstat(fd, &st) == 0)
        calls.synced.push_back(st.st_ino);
    return __real_fsync(fd);
}
extern "C" int __wrap_renameat(int from_dir, const char *from, int to_dir, const char *to)
{
    struct stat st;
    calls.synced_at_rename = fstatat(from_dir, from, &st, 0) == 0 &&
                             std::find(calls.synced.begin(), calls.synced.end(), st.st_ino) != calls.synced.end();
    if (calls.rename_errno) {
        errno = calls.rename_errno;
        return -1;
    }
    calls.renamed = true;
    return __real_renameat(from_dir, from, to_dir, to);
}

TEST_F(Save, SyncsTheNewFileBeforeTheRenameTheFolderAfterAndFailsWithTheRename)
{
    const std::string d = at("d.xml");
    write_file(d, "old\n");
    calls = {};
    EXPECT_EQ(xml_save_document(state, d.c_str()), 0);
    EXPECT_TRUE(calls.synced_at_rename);
    EXPECT_TRUE(calls.folder_synced_after);

    write_file(d, "old\n");
    calls = {};
    calls.rename_errno = EIO;
    errno = 0;
    EXPECT_EQ(xml_save_document(state, d.c_str()), -1);
    EXPECT_EQ(errno, EIO);
    EXPECT_EQ(read_file(d), "old\n");
    EXPECT_EQ(sh("test \"$(ls -A)\" = d.xml"), 0) << "the new file is removed";
}

// The owner of D's folder swapping that folder, or D itself, for a link
// into a root-only folder once the save has resolved it: the save stays in
// the folder it resolved and replaces only the name D.  Done as an
// unprivileged user where this runs as root.
std::string swap_command;

void swap_folder(int step, const char *)
{
    if (step == swap.step && swap.swaps++ == 0 && system(swap_command.c_str()) != 0)
        ADD_FAILURE() << "cannot swap: " << swap_command;
}

TEST_F(Save, SwappedForALinkAfterTheFolderIsHeldChangesNothingElsewhere)
{
    std::string as_user;
    if (geteuid() == 0) {
        if (system("setpriv --reuid=65534 --regid=65534 --clear-groups true") != 0)
            GTEST_SKIP() << "setpriv cannot run as uid 65534 here";
        as_user = "setpriv --reuid=65534 --regid=65534 --clear-groups ";
    }
    const struct {
        int step;
        const char *swap;
        const char *saved;  // where the document is afterwards
    } cases[] = {
        {XMLDATA_SAVE_HELD, "mv sub old && ln -s ../v sub", "u/old/d.xml"},
        {XMLDATA_SAVE_CREATED, "mv sub old && ln -s ../v sub", "u/old/d.xml"},
        {XMLDATA_SAVE_HELD, "rm sub/d.xml && ln -s ../../v/d.xml sub/d.xml", "u/sub/d.xml"},
    };
    xmldata_save_hook = swap_folder;
    for (const auto &c : cases) {
        SCOPED_TRACE(c.swap);
        ASSERT_EQ(sh("rm -rf u v && chmod 0755 . && mkdir -p u/sub v && echo old > u/sub/d.xml && "
                     "echo secret > v/d.xml && chmod 0600 v/d.xml && chmod 0700 v && "
                     "{ test $(id -u) != 0 || chown -R 65534:65534 u; }"),
                  0);
        swap_command = as_user + "sh -c 'cd \"" + dir + "/u\" && " + c.swap + "'";
        swap = {c.step, false, "", 0};
        EXPECT_EQ(xml_save_document(state, at("u/sub/d.xml").c_str()), 0);
        EXPECT_EQ(swap.swaps, 1);
        EXPECT_EQ(read_file(at("v/d.xml")), "secret\n");
        EXPECT_EQ(sh("test \"$(ls -A v)\" = d.xml"), 0) << "a file was made in the other folder";
        EXPECT_EQ(sh(std::string("test -f ") + c.saved + " && ! test -L " + c.saved), 0);
        EXPECT_EQ(read_file(at(c.saved)), read_file(kStore));
    }
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
    EXPECT_EQ(xml_copy_node_count(state, "/config[", &count), -1);
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

// A wide list with the awkward cases: repeated keys, an empty key, two
// attributes, a namespaced element and attribute, an element in a default
// namespace, an attribute holding an entity reference, comments and
// whitespace between siblings.
std::string wide_doc()
{
    std::string d = "<?xml version=\"1.0\"?>\n<!DOCTYPE config [<!ENTITY e \"ent\">]>\n<config>\n <hosts>\n";
    for (int i = 1; i <= 40; i++) {
        d += "  <host id=\"" + std::to_string(i == 9 ? 7 : i) + "\"" + (i % 4 == 0 ? " zone=\"b\"" : "") + "><name>n" +
             std::to_string(i) + "</name><v/></host>\n";
        if (i % 10 == 0)
            d += "  <!-- c --><other id=\"1\"/>\n";
    }
    d += "  <host id=\"\"/><h:host xmlns:h=\"u:h\" id=\"3\"/><host xmlns=\"u:d\" id=\"5\"/>"
         "<host xmlns:h=\"u:h\" h:id=\"41\"/><host ref=\"&e;\" id=\"42\"/>\n </hosts>\n"
         " <small><a k=\"1\"/><a k=\"&e;\"/><a-b.c/><text/><and x=\"1\"/><div/></small>\n</config>\n";
    return d;
}

// The index answers as the library does: same nodes, same order, same
// shape of an empty answer; after every kind of edit as well.
TEST(StoreIndex, AnswersAsTheLibraryDoes)
{
    const char *exprs[] = {
        "/config", "/config[1]/hosts[1]/host[@id='17'][1]", "/config[1]/hosts[1]/host[@id='17'][1]/name[1]",
        "/config/hosts/host[@id='7']", "/config/hosts/host[@id='7'][2]", "/config/hosts/host[@id='17'][2]", "/config/hosts/host[@id='7'][3]",
        "/config/hosts/host[@id='99']", "/config/hosts/host[@id='99'][1]", "/config/hosts/host[@id='']",
        "/config/hosts/host[1]", "/config/hosts/host[41]", "/config/hosts/host[42]", "/config/hosts/host[900]",
        "/config/hosts/host", "/config/hosts/host[@zone='b' and @id='12']", "/config/hosts/host[@id='12' and @zone='b']",
        "/config/hosts/host[@id='13' and @zone='b']", "/config/hosts/host[@id='3']", "/config/hosts/host[@id='5']",
        "/config/hosts/host[@id='41']", "/config/hosts/host[@ref='ent']", "/config/hosts/host[@id='42']",
        "/config/hosts/other[@id='1'][3]", "/config/hosts/nomatch[@id='1']", "/config/hosts/nomatch[1]",
        "/config/nomatch/host[1]", "/config/hosts/host[@id='1']/nomatch", "/config/small/a[@k='ent']",
        "/config/small/a[@k='1'][1]", "/config/small/a-b.c", "/config/small/text", "/config[1]/small[1]/and[@x='1'][1]",
        "/config/small/div", "/nomatch", "/config/nomatch", "/zz/q",
        "/config/hosts/host[0]", "/config/hosts/host[@id=\"1\"]", "/config/hosts/host[ @id='1']",
        "//host[@id='2']", "/config/hosts/*[2]", "/config/hosts/host[1][@id='1']", "/config/hosts/host[@id='1' or @id='2']",
    };
    struct Edit {
        const char *what;
        std::function<int(XmlState *)> apply;
    };
    auto first = [](XmlState *s, const char *x) {
        xmlXPathObjectPtr r = xml_eval_xpath(s, x);
        xmlNodePtr n = r && r->nodesetval && r->nodesetval->nodeNr ? r->nodesetval->nodeTab[0] : nullptr;
        xmlXPathFreeObject(r);
        return n;
    };
    const Edit edits[] = {
        {"none", [](XmlState *) { return 0; }},
        {"append", [](XmlState *s) { return xml_insert_node_with_attr(s, "/config/hosts", "host[@id='7' and @zone='z']"); }},
        {"append plain", [&](XmlState *s) { return xml_append_element(s, first(s, "/config/hosts"), "host") ? 0 : -1; }},
        {"content over children", [](XmlState *s) { return xml_set_node_value(s, "/config/hosts/host[@id='17']", "t", 1); }},
        {"delete", [](XmlState *s) { return xml_delete_node(s, "/config/hosts/host[@id='12']"); }},
        {"attribute value", [](XmlState *s) { return xml_set_node_value(s, "/config/hosts/host[@id='20']/@id", "99", 2); }},
        {"list replaced", [&](XmlState *s) { return xml_set_content_of(s, first(s, "/config/hosts"), BAD_CAST "x", 1); }},
        {"list rebuilt", [](XmlState *s) {
             for (int i = 0; i < 40; i++)
                 xml_insert_node_with_attr(s, "/config/hosts", ("host[@id='" + std::to_string(i % 30) + "']").c_str());
             return xml_insert_node(s, "/config/hosts/host[@id='7'][2]", "name");
         }},
    };
    const std::string text = wide_doc();
    XmlState *indexed = xml_init();
    XmlState *plain = xml_init();
    ASSERT_EQ(xml_read_memory(indexed, text.c_str()), 0);
    ASSERT_EQ(xml_read_memory(plain, text.c_str()), 0);
    xmlXPathContextPtr lib = get_pCtxt(plain);  // evaluated below by the library itself

    for (const Edit &e : edits) {
        EXPECT_EQ(e.apply(indexed), e.apply(plain)) << e.what;
        for (const char *x : exprs) {
            xmlXPathObjectPtr a = xml_eval_xpath(indexed, x);
            xmlXPathObjectPtr b = xmlXPathEvalExpression(BAD_CAST x, lib);
            auto shape = [](xmlXPathObjectPtr r) {
                std::string out = !r ? "null" : !r->nodesetval ? "no set" : !r->nodesetval->nodeTab ? "no table" : "";
                for (int i = 0; r && r->nodesetval && i < r->nodesetval->nodeNr; i++) {
                    xmlChar *path = xmlGetNodePath(r->nodesetval->nodeTab[i]);
                    out += std::string(reinterpret_cast<char *>(path)) + " ";
                    xmlFree(path);
                }
                return out;
            };
            EXPECT_EQ(shape(a), shape(b)) << "after edit \"" << e.what << "\": " << x;
            xmlXPathFreeObject(a);
            xmlXPathFreeObject(b);
        }
    }
    EXPECT_EQ(doc_text(indexed), doc_text(plain));
    xml_fini(indexed);
    xml_fini(plain);
}

// A test of a child's text compares it without leading and trailing
// whitespace, in a scanned parent and an indexed one alike, and follows
// edits of that text.
TEST(StoreIndex, ChildTextStepsTrimAndFollowEdits)
{
    std::string text = "<c><small><p><name> a </name></p><p id='1'><name>b</name></p></small><big>";
    for (int i = 0; i < 20; i++)
        text += "<p><name>" + std::string(i == 3 ? "\n  p3\n" : "p" + std::to_string(i)) + "</name><v>" +
                std::to_string(i) + "</v></p>";
    text += "<p><name>d</name><name>x</name></p></big></c>";
    XmlState *s = xml_init();
    ASSERT_EQ(xml_read_memory(s, text.c_str()), 0);
    auto count = [&](const char *x) {
        xmlXPathObjectPtr r = xml_eval_xpath(s, x);
        int n = r && r->nodesetval ? r->nodesetval->nodeNr : -1;
        xmlXPathFreeObject(r);
        return n;
    };
    EXPECT_EQ(count("/c/small/p[name='a']"), 1);
    EXPECT_EQ(count("/c/small/p[name=' a ']"), 0);
    EXPECT_EQ(count("/c/small/p[@id='1' and name='b']"), 1);
    EXPECT_EQ(count("/c/small/p[name='b' and @id='2']"), 0);
    EXPECT_EQ(count("/c/big/p[name='p3']/v"), 1);
    EXPECT_EQ(count("/c/big/p[name='p7']"), 1);
    EXPECT_EQ(count("/c/big/p[name='x']"), 1);  // either of two key children
    EXPECT_EQ(count("/c/big/p[name='nope']"), 0);
    EXPECT_EQ(xml_set_node_value(s, "/c/big/p[name='p7']/name", "q", 1), 0);
    EXPECT_EQ(count("/c/big/p[name='p7']"), 0);
    EXPECT_EQ(count("/c/big/p[name='q']"), 1);
    xml_fini(s);
}

}  // namespace
