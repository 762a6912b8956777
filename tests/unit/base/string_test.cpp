#include <gtest/gtest.h>

#include <cstring>

#include "base/text_string.h"

TEST(String, AbsentTextGivesEmpty)
{
    string a(static_cast<const char*>(nullptr));
    EXPECT_EQ(a.length(), 0u);
    EXPECT_STREQ(a.c_str(), "");
    string b("x");
    b = static_cast<const char*>(nullptr);
    EXPECT_STREQ(b.c_str(), "");
    EXPECT_FALSE(b == static_cast<const char*>(nullptr));
    EXPECT_TRUE(b != static_cast<const char*>(nullptr));
}

TEST(String, BytesKeepEmbeddedZeroButTextOperationsStopThere)
{
    string s("a\0b", 3);
    EXPECT_EQ(s.length(), 3u);
    EXPECT_EQ(s.char_at(2), 'b');
    EXPECT_TRUE(s == "a");
}

TEST(String, Substr)
{
    string s("hello");
    struct Case { size_t pos, count; const char* want; } cases[] = {
        {0, 5, "hello"}, {1, 3, "ell"}, {3, 100, "lo"}, {5, 1, ""}, {9, 2, ""}, {0, 0, ""},
    };
    for (const auto& c : cases) EXPECT_STREQ(s.substr(c.pos, c.count).c_str(), c.want) << c.pos << "," << c.count;
}

TEST(String, SharedHandlesNeverSeeEachOthersChanges)
{
    string a("abc");
    string b = a;
    b += "def";
    EXPECT_STREQ(a.c_str(), "abc");
    EXPECT_STREQ(b.c_str(), "abcdef");
    string c = a;
    c.to_lower();
    string d = string("ABC");
    string e = d;
    e.to_lower();
    EXPECT_STREQ(d.c_str(), "ABC");
    EXPECT_STREQ(e.c_str(), "abc");
    a = a;  // self-assignment keeps the value
    EXPECT_STREQ(a.c_str(), "abc");
}

TEST(String, ConcatenationAndPadding)
{
    string s("ab");
    EXPECT_STREQ((s + 'c').c_str(), "abc");
    EXPECT_STREQ((s + "cd").c_str(), "abcd");
    EXPECT_STREQ((s + s).c_str(), "abab");
    EXPECT_STREQ(("x" + s).c_str(), "xab");
    EXPECT_STREQ(s.c_str(), "ab");
    s.pad_to(5, '.');
    EXPECT_STREQ(s.c_str(), "ab...");
    s.pad_to(2, '-');
    EXPECT_STREQ(s.c_str(), "ab...");
}

TEST(String, RtrimChar)
{
    struct Case { const char* in; char c; const char* want; } cases[] = {
        {"abc  ", ' ', "abc"}, {"    ", ' ', ""}, {"abc", ' ', "abc"}, {"", ' ', ""}, {"a,,", ',', "a"},
    };
    for (const auto& c : cases) {
        string s(c.in);
        s.rtrim_char(c.c);
        EXPECT_STREQ(s.c_str(), c.want) << c.in;
    }
}

TEST(String, ReplaceCharAndReplaceAll)
{
    string s("a/b/c");
    EXPECT_STREQ(s.replace_char('/', '\\').c_str(), "a\\b\\c");
    EXPECT_STREQ(s.c_str(), "a/b/c");
    struct Case { const char* in; const char* find; const char* with; const char* want; } cases[] = {
        {"aaa", "aa", "b", "ba"},
        {"aaa", "", "b", "aaa"},
        {"aaa", nullptr, "b", "aaa"},
        {"aaa", "a", nullptr, "aaa"},
        {"a-b-c", "-", "", "abc"},
        {"x&amp;y&amp;", "&amp;", "&", "x&y&"},
        {"abc", "abcd", "z", "abc"},
    };
    for (const auto& c : cases)
        EXPECT_STREQ(string(c.in).replace_all(c.find, c.with).c_str(), c.want) << c.in;
}

TEST(String, Comparisons)
{
    string a("abc"), b("abd"), upper("ABC");
    EXPECT_TRUE(a == "abc");
    EXPECT_TRUE(a != b);
    EXPECT_TRUE(a < b);
    EXPECT_FALSE(b < a);
    EXPECT_TRUE(string("a") < string("\xe9"));  // bytes compare unsigned
    EXPECT_TRUE(upper.equals_nocase("abc"));
    EXPECT_FALSE(upper.equals_nocase(nullptr));
    EXPECT_TRUE(upper.prefix_equals_nocase("abX", 2));
    EXPECT_FALSE(upper.prefix_equals_nocase(nullptr, 2));
}

TEST(String, RfindChar)
{
    string s("a.b.c");
    EXPECT_EQ(s.rfind_char('.', 5), 3);   // position equal to the length starts at the last byte
    EXPECT_EQ(s.rfind_char('.', 2), 1);
    EXPECT_EQ(s.rfind_char('.', 0), -1);
    EXPECT_EQ(s.rfind_char('.', 6), -1);  // past the length
    EXPECT_EQ(s.rfind_char('a', 4), 0);
    EXPECT_EQ(string().rfind_char('x', 0), -1);
}

TEST(String, FormatIsBoundedAt1023Bytes)
{
    string s;
    EXPECT_EQ(s.format("%s-%d", "x", 12), 4);
    EXPECT_STREQ(s.c_str(), "x-12");
    std::string longer(5000, 'q');
    EXPECT_EQ(s.format("%s", longer.c_str()), 1023);
    EXPECT_EQ(s.length(), 1023u);
}

TEST(String, CharAtAndClear)
{
    string s("ab");
    EXPECT_EQ(s.char_at(1), 'b');
    EXPECT_EQ(s.char_at(2), 0);
    EXPECT_EQ(s.char_at(100), 0);
    EXPECT_STREQ(s.c_str(1), "b");
    s.clear();
    EXPECT_EQ(s.length(), 0u);
    s.clear();
    EXPECT_STREQ(s.c_str(), "");
}

TEST(FindNocase, Cases)
{
    const char* hay = "* OK [CAPABILITY IMAP4rev1]";
    EXPECT_EQ(find_nocase(hay, "capability"), hay + 6);
    EXPECT_EQ(find_nocase(hay, ""), hay);
    EXPECT_EQ(find_nocase("", "x"), nullptr);
    EXPECT_EQ(find_nocase("", ""), nullptr);
    EXPECT_EQ(find_nocase(hay, "NOPE"), nullptr);
}
