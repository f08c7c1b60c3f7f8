// The keys file's rules: every faulty file is refused on its line with its reason.
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include "run_state.h"
#include "../../walk/keys.h"

namespace {

struct Bad { const char *text, *error; };   // error: what follows "###Error in keys file F "

const Bad bad[] = {
    {"<keys/>", "line 1: the root element is keys, not lists"},
    {"<x:lists xmlns:x=\"urn:k\"/>", "line 1: the root element lists is in namespace urn:k, not in none"},
    {"<lists xmlns:x=\"urn:k\"><x:list path=\"/a/b\" key=\"n\"/></lists>", "line 1: element list is in namespace urn:k, not in none"},
    {"<lists a=\"1\"/>", "line 1: attribute a of lists is not known"},
    {"<lists>\n<entry/></lists>", "line 2: element entry is not known inside lists"},
    {"<lists>x</lists>", "line 1: text is not allowed inside lists"},
    {"<lists><list path=\"/a/b\" key=\"n\">x</list></lists>", "line 1: text is not allowed inside list"},
    {"<lists><list path=\"/a/b\" key=\"n\"><k/></list></lists>", "line 1: element k is not known inside list"},
    {"<lists><list key=\"n\"/></lists>", "line 1: list has no path"},
    {"<lists><list path=\"/a/b\"/></lists>", "line 1: list /a/b has neither key nor match"},
    {"<lists><list path=\"/a/b\" match=\"key\"/></lists>", "line 1: match \"key\" of list /a/b is not known (only content is)"},
    {"<lists><list path=\"/a/b\" match=\"content\">x</list></lists>", "line 1: text is not allowed inside list"},
    {"<lists><list path=\"/a\" match=\"content\"/></lists>", "line 1: path /a names the root element"},
    {"<lists><list path=\"/a/b\" key=\" \"/></lists>", "line 1: list /a/b has an empty key"},
    {"<lists><list path=\"/a/b\" key=\"n @n n\"/></lists>", "line 1: key field n is given twice"},
    {"<lists><list path=\"/a/b\" key=\"@\"/></lists>", "line 1: key field @ is neither"},
    {"<lists><list path=\"a/b\" key=\"n\"/></lists>", "line 1: path a/b is not absolute"},
    {"<lists><list path=\"/a//b\" key=\"n\"/></lists>", "line 1: path /a//b has an empty step"},
    {"<lists><list path=\"/a/b/\" key=\"n\"/></lists>", "line 1: path /a/b/ has an empty step"},
    {"<lists><list path=\"/a/p:b\" key=\"n\"/></lists>", "line 1: path /a/p:b: step p:b is not an element's"},
    {"<lists><list path=\"/a/b[@n='x']\" key=\"n\"/></lists>", "line 1: path /a/b[@n='x']: step b[@n='x'] is not"},
    {"<lists><list path=\"/a\" key=\"n\"/></lists>", "line 1: path /a names the root element"},
    {"<lists><list path=\"/a/bbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbb\" "
     "key=\"n\"/></lists>",
     "line 1: path /a/bbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbb"
     "bbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbb: step bbbbbbbbbbbbbbbbbbbbbbbbbbbbbbbb... is longer than 127 bytes"},
    {"<lists>\n<list path=\"/a/b\" key=\"n\"/>\n<list path=\"/a/b\" key=\"m\"/>\n</lists>",
     "line 3: path /a/b is declared twice (first on line 2)"},
};

TEST(Keys, EveryBrokenRuleIsRefusedOnItsLine)
{
    const char *tmp = getenv("TMPDIR");
    std::string path = std::string(tmp && *tmp ? tmp : "/tmp") + "/keys-test-XXXXXX";
    int fd = mkstemp(&path[0]);
    ASSERT_GE(fd, 0);
    close(fd);
    const char *name = path.c_str();
    for (const Bad &b : bad) {
        FILE *f = fopen(name, "w");
        ASSERT_TRUE(f && fputs(b.text, f) >= 0 && fclose(f) == 0);
        KeyLists keys;
        int rc = 0;
        std::string err = stderr_of([&] { rc = keys_read(name, &keys); });
        EXPECT_EQ(rc, 1) << b.text;
        EXPECT_EQ(keys.count, 0) << b.text;
        std::string want = std::string("keys_read: ###Error in keys file ") + name + " " + b.error;
        EXPECT_EQ(err.compare(0, want.size(), want), 0) << b.text << "\n" << err;
    }
    unlink(name);
}

}  // namespace
