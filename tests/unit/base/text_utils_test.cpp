#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <unistd.h>

#include "base/alias_table.h"
#include "base/form_fields.h"
#include "base/text_utils.h"

TEST(Unquote, Cases)
{
    struct Case { const char* in; char q; bool escape; const char* want; } cases[] = {
        {"\"  hello  \"", '"', false, "  hello"},
        {"plain   ", '"', false, "plain"},
        {"\"only leading", '"', false, "\"only leading"},
        {"only trailing\"", '"', false, "only trailing\""},
        {"", '"', false, ""},
        {"\"", '"', false, ""},
        {"\"a\"b\"", '"', false, "a\"b"},
        {"'x'", '\'', false, "x"},
        {"\"a\\tb\"", '"', true, "a\\tb"},
        {"\"c:\\dir\\\"", '"', true, "c:\\dir\\\""},
        {"\"x\\\\\"", '"', true, "x\\\\"},
    };
    for (const auto& c : cases) EXPECT_STREQ(unquote(c.in, c.q, c.escape).c_str(), c.want) << c.in;
}

TEST(Address, DisplayNameOnlyAndDomain)
{
    struct Case { const char* in; const char* name; const char* only; const char* domain; } cases[] = {
        {"Joe Bloggs <joe@example.com>", "Joe Bloggs", "joe@example.com", "example.com"},
        {"joe@example.com (Joe Bloggs)", "Joe Bloggs", "joe@example.com", "example.com"},
        {"joe@example.com", "", "joe@example.com", "example.com"},
        {"\"Bloggs, Joe\" <joe@example.com>", "Bloggs, Joe", "joe@example.com", "example.com"},
        {"'Joe' <joe@example.com>", "Joe", "joe@example.com", "example.com"},
        {"<joe@example.com>", "", "joe@example.com", "example.com"},
        {"no-at-sign", "", "no-at-sign", ""},
        {"@example.com", "", "@example.com", ""},
    };
    for (const auto& c : cases) {
        EXPECT_STREQ(address_display_name(c.in).c_str(), c.name) << c.in;
        EXPECT_STREQ(address_only(c.in).c_str(), c.only) << c.in;
        EXPECT_STREQ(address_domain(c.in).c_str(), c.domain) << c.in;
    }
}

TEST(Address, IsValidAddress)
{
    struct Case { const char* in; bool valid; } cases[] = {
        {"joe@example.com", true}, {"jo e@example.com", false}, {"joe@localhost", false},
        {"joe@exa mple.com", false}, {"jo,e@example.com", false}, {"joe@ex,ample.com", false},
        {"", false}, {"@example.com", false}, {"joe@", false},
    };
    for (const auto& c : cases) EXPECT_EQ(is_valid_address(c.in), c.valid) << c.in;
}

TEST(Address, TranslateThroughAliasTable)
{
    alias_add("staff@example.com", "a@example.com,b@example.com");
    alias_add("Boss <boss@example.com>", "ceo@example.com");
    alias_add("boss@example.com", "late@example.com");
    bool found = false;
    EXPECT_STREQ(translate_address("STAFF@example.com", found).c_str(), "a@example.com,b@example.com");
    EXPECT_TRUE(found);
    found = false;
    // The first pattern with both parts ends the search.
    EXPECT_STREQ(translate_address("Boss <boss@example.com>", found).c_str(), "ceo@example.com");
    found = false;
    // Without a display name the later address-only pattern wins.
    EXPECT_STREQ(translate_address("boss@example.com", found).c_str(), "late@example.com");
    found = false;
    EXPECT_STREQ(translate_address("\"other@example.com\"  ", found).c_str(), "other@example.com");
    EXPECT_FALSE(found);
    EXPECT_STREQ(translate_address_list("x@example.com; staff@example.com ,y@example.com", found).c_str(),
                 "x@example.com,a@example.com,b@example.com,y@example.com");
    EXPECT_TRUE(found);
    EXPECT_EQ(count_display_name_matches("Ann <a@x.org>, Bob <b@x.org>;Ann <c@x.org>", "Ann"), 2);
    EXPECT_EQ(count_display_name_matches("Ann <a@x.org>", "ann"), 0);
}

TEST(WebText, EscapingAndUrlCoding)
{
    EXPECT_STREQ(html_escape("<a href=\"x\">&</a>").c_str(), "&lt;a href=&quot;x&quot;&gt;&amp;&lt;/a&gt;");
    EXPECT_STREQ(quote_reply_html("one\ntwo").c_str(), "&gt; one\n&gt; two");
    EXPECT_STREQ(quote_reply_html("").c_str(), "");
    EXPECT_STREQ(url_encode("a b&c", false).c_str(), "a+b%26c");
    EXPECT_STREQ(url_encode("a b&c", true).c_str(), "%61+%62%26%63");
    EXPECT_STREQ(url_encode("\"%'+<>", false).c_str(), "%22%25%27%2B%3C%3E");
    EXPECT_STREQ(url_decode("a+b%26c").c_str(), "a b&c");
    EXPECT_STREQ(url_decode("100%").c_str(), "100%");
    EXPECT_STREQ(url_decode("%zz%4").c_str(), "%zz%4");
    EXPECT_STREQ(url_decode("%e9").c_str(), "\xe9");
}

TEST(WebText, FormValueAndOldBrowser)
{
    char to[] = "To=joe@example.com";
    char empty[] = "Subject=";
    form_fields().add(to);
    form_fields().add(empty);
    EXPECT_STREQ(form_value("to"), "joe@example.com");
    EXPECT_STREQ(form_value("SUBJECT"), "");
    EXPECT_EQ(form_value("T"), nullptr);
    EXPECT_EQ(form_value("missing"), nullptr);
    form_fields().clear();

    unsetenv("HTTP_USER_AGENT");
    EXPECT_FALSE(is_old_browser());
    setenv("HTTP_USER_AGENT", "Mozilla/2.0 (compatible; msie 3.02; Windows 95)", 1);
    EXPECT_TRUE(is_old_browser());
    setenv("HTTP_USER_AGENT", "Mozilla/5.0 (X11; Linux x86_64)", 1);
    EXPECT_FALSE(is_old_browser());
    unsetenv("HTTP_USER_AGENT");
}

TEST(FileNames, UniqueFileName)
{
    char dir_template[] = "/tmp/tavrin-unique-XXXXXX";
    ASSERT_NE(mkdtemp(dir_template), nullptr);
    string dir(dir_template);
    string name("mail.txt");
    EXPECT_STREQ(unique_file_name(dir, name, true).c_str(), (std::string(dir_template) + "/mail.txt").c_str());
    std::ofstream(std::string(dir_template) + "/mail.txt") << "x";
    EXPECT_STREQ(unique_file_name(dir, name, false).c_str(), (std::string(dir_template) + "/mail.txt").c_str());
    EXPECT_STREQ(unique_file_name(dir, name, true).c_str(), (std::string(dir_template) + "/Copy1_mail.txt").c_str());
    EXPECT_STREQ(name.c_str(), "Copy1_mail.txt");
    std::ofstream(std::string(dir_template) + "/Copy1_mail.txt") << "x";
    name = "mail.txt";
    unique_file_name(dir, name, true);
    EXPECT_STREQ(name.c_str(), "Copy2_mail.txt");
    // Names longer than any fixed area still work.
    string long_name(std::string(250, 'n').c_str());
    std::ofstream(std::string(dir_template) + "/" + long_name.c_str()) << "x";
    unique_file_name(dir, long_name, true);
    EXPECT_EQ(long_name.length(), 256u);
    std::system((std::string("rm -rf ") + dir_template).c_str());
}

TEST(FileNames, PartsAndPaddedNumbers)
{
    struct Case { const char* in; const char* dir; const char* file; } cases[] = {
        {"a/b/c.txt", "a/b", "c.txt"}, {"c:\\temp\\x.doc", "c:\\temp", "x.doc"}, {"plain", "", "plain"},
        {"/root", "", "root"}, {"dir/", "dir", ""},
    };
    for (const auto& c : cases) {
        EXPECT_STREQ(dir_part(c.in).c_str(), c.dir) << c.in;
        EXPECT_STREQ(file_part(c.in).c_str(), c.file) << c.in;
    }
    EXPECT_STREQ(zero_padded_number(10).c_str(), "0000000010");
    EXPECT_STREQ(zero_padded_number(0x12345).c_str(), "0000009029");
}

TEST(MatchPattern, Table)
{
    struct Case { const char* text; const char* pattern; bool icase; bool literal; bool want; } cases[] = {
        {"report.TXT", "*.txt", true, false, true},
        {"report.TXT", "*.txt", false, false, false},
        {"a1b", "a#b", false, false, true},
        {"ab", "a#b", false, false, false},
        {"abc", "a*", false, false, true},
        {"a", "a*x", false, false, true},
        {"", "", false, false, true},
        {"x", "", false, false, false},
        {"", "*", false, false, true},
        {"abc", "a?c", false, false, true},
        {"a?c", "a?c", false, true, true},
        {"abc", "a?c", false, true, false},
        {"a#b", "a#b", false, true, true},
        {"x12y", "x@y", false, false, true},
        {"xy", "x@y", false, false, true},
        {"xAbC1", "x$#", false, false, true},
        {"xAbCy", "x$y", false, false, false},  // a run takes every letter
        {"a*b", "a\\*b", false, false, true},
        {"axb", "a\\*b", false, false, false},
        {"Ab", "!b", false, false, true},
        {"1b", "!b", false, false, false},
        {"a.txt.txt", "*.txt", false, false, true},
        {"mail-2024.log", "mail-*.log", false, false, true},
        {"mail-2024.log", "mail-*.txt", false, false, false},
        {"abc", "**", false, false, true},
        {"data7", "*#", false, false, true},
        {"abcabd", "*abd", false, false, true},
        {"abc", "abc*", false, false, true},
        {"abc", "abcd", false, false, false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(match_pattern(c.text, c.pattern, c.icase, c.literal), c.want) << c.text << " vs " << c.pattern;
    EXPECT_FALSE(match_pattern(nullptr, "*", false, false));
    EXPECT_FALSE(match_pattern("x", nullptr, false, false));
}
