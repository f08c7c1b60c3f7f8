// JSON escaping of the merge report: what each hostile value becomes, and
// that a long value goes through a small buffer in whole characters.
#include <gtest/gtest.h>

#include <string>

#include "../../merge/report.h"

namespace {

std::string escaped(const std::string &in, size_t room)
{
    std::string out;
    size_t at = 0;

    while (at < in.size()) {
        char buf[64];
        size_t used = 0;
        size_t n = json_escape(in.data() + at, in.size() - at, &used, buf, room);

        EXPECT_GT(used, 0u) << "no progress with room " << room;
        if (used == 0)
            break;
        out.append(buf, n);
        at += used;
    }
    return out;
}

TEST(JsonEscape, HostileValues)
{
    const struct {
        std::string in;
        std::string out;
    } table[] = {
        {"plain", "plain"},
        {"q\"b\\s/", "q\\\"b\\\\s/"},
        {"\t\n\r\b\f", "\\t\\n\\r\\b\\f"},
        {std::string("\x01\x1f", 2), "\\u0001\\u001f"},
        {"\x7f", "\\u007f"},
        {"\xc2\x80\xc2\x9f\xc2\xa0", "\\u0080\\u009f\xc2\xa0"},
        {"\xe2\x80\xa8", "\\u2028"},
        {"\xf0\x9f\x98\x80", "\xf0\x9f\x98\x80"},
        {"\xff" "a\xc3", "\\ufffda\\ufffd"},
        {"\xed\xa0\x80", "\\ufffd\\ufffd\\ufffd"},
    };

    for (const auto &row : table) {
        EXPECT_EQ(escaped(row.in, 64), row.out);
        EXPECT_EQ(escaped(row.in, 6), row.out) << "in a buffer of 6";
    }
}

TEST(JsonEscape, LongValueInWholeCharacters)
{
    std::string in;

    for (int i = 0; i < 20000; i++)
        in += "a\xf0\x9f\x98\x80\n\"";
    std::string want;
    for (int i = 0; i < 20000; i++)
        want += "a\xf0\x9f\x98\x80\\n\\\"";
    EXPECT_EQ(escaped(in, 7), want);
    EXPECT_EQ(escaped(in, 64), want);
}

}  // namespace
